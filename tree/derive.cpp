/*
 * derive.cpp - asks the server for an object's children (DataObject::derive)
 * and registers the album callbacks through which it later reports children
 * created and destroyed.
 */
#include <cstdio>
#include <cstdlib>
#include <cstdint>
#include <cstring>
#include <string>

#include "app/catalog.h"
#include "app/globals.h"
#include "tree/data_object.h"
#include "tree/navigator.h"
#include "ui/dialogs.h"
#include "ui/main_win.h"

void status_line(const char* text)
{
    if (main_window)
        global.update_label(main_window->mw_message_label, bounded_label(text).c_str());
}

/* The modal error dialog on the main window's form. */
static void derive_error(const std::string& text)
{
    if (main_window && main_window->mw_form)
        error_dialog(main_window->mw_form, bounded_label(text.c_str()).c_str());
    else
        printf("%s\n", text.c_str());
}

/* Sets ACTUAL_CLASS on album, reporting a refusal. */
static void set_actual_class(Album& album, const char* objclass)
{
    if (!album.set_prop(ACTUAL_CLASS, DataUnit(objclass)))
        derive_error(std::string(qx_msg(210, "ActualClass set_prop_failed ")) + " " +
                     album.get_error_string());
}

int DataObject::derive(int depth, const char* filter)
{
    if (flags & DERIVING)
        return 1;

    char* derivation = derivation_string(name, filter);
    char* nickname = album_nickname(name, CurrentCookie);
    /* For the report after a rebuild, when this object may be gone. */
    std::string own_name = name ? name : "";
    unsigned int cookie = CurrentCookie;
    int result = 0;

    flags |= DERIVING;
    {
        Album local(DataUnit(nickname), Platform::def_platform);
        if (local.get_error_type() != 0) {
            result = 1;
            goto done;
        }
        local.set_prop(TRACKMODE, TRACK);

        if (user_object_class && *user_object_class) {
            const char* uname = user_object_name ? user_object_name : "";
            if (name && strcmp(uname, name) == 0) {
                set_actual_class(local, user_object_class);
            } else if (name && strstr(name, uname)) {
                Image img(DataUnit(name), DataUnit(), Platform::def_platform);
                DataUnit objclass = img.get_objclass();
                if (img.get_error_type() != 0)
                    derive_error(std::string(qx_msg(211, "ObjectClass error in ")) + " " + name +
                                 " " + img.get_error_string());
                else
                    set_actual_class(local, objclass.str());
            }
        }

        void* client = (void*)(uintptr_t)cookie;
        local.when(OBJECT_DESTROYED, Callback(SchedContext::current(), object_excluded_cb, client));
        local.when(OBJECT_CREATED, Callback(SchedContext::current(), object_included_cb, client));

        if (!local.set_derivation(DataUnit(derivation))) {
            derive_error(std::string(qx_msg(201, "SET_DERIVATION FAILED ")) + " " +
                         local.get_error_string());
            result = 1;
            goto done;
        }

        derive_state = 1;
        bool ok = local.derive(DeriveTimeout);
        if (CurrentCookie != cookie) {
            result = 2;
            goto done;
        }
        if (!ok) {
            std::string text = std::string(local.get_error_string()) + " FDN:" +
                               std::string(derivation).substr(0, 200);
            status_line(text.c_str());
        }
        derive_state = 2;
        album = local;
        num_children = album.num_images();

        if (depth >= 1) {
            for (AlbumImage ai = album.first_image(); ai; ai.next_image()) {
                DataUnit fdn = ai->get_objname();
                if (CurrentCookie != cookie) {
                    printf("DEBUG : DataObject::derive()11 : Invalid stack\n");
                    result = 2;
                    goto done;
                }
                if (fdn.is_empty())
                    continue;
                DataObject* child = new DataObject(fdn.str());
                child->parent_name = strdup(name);
                object_list.insert(child);
                if (depth > 1) {
                    if (child->derive(depth - 1, filter) == 2) {
                        result = 2;
                        goto done;
                    }
                    if (CurrentCookie != cookie) {
                        printf("DEBUG : DataObject::derive() : Invalid stack %s\n", own_name.c_str());
                        result = 2;
                        goto done;
                    }
                }
            }
        }
    }
done:
    /* A rebuild may have deleted this object: only 0 and 1 touch it again. */
    if (result != 2)
        flags &= ~DERIVING;
    free(derivation);
    free(nickname);
    fflush(stdout);
    return result;
}
