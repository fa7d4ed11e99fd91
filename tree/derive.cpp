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

#include "core/catalog.h"
#include "core/globals.h"
#include "tree/data_object.h"
#include "tree/navigator.h"
#include "ui/dialogs.h"
#include "ui/main_win.h"

void status_line(const char* text)
{
    if (main_window) global.update_label(main_window->mw_message_label, text);
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

/* The work of derive() once DERIVING is set.  Every wait is followed by a
 * check of CurrentCookie and of obj's registration; 2 when either failed,
 * and obj is not touched again then. */
static int derive_locked(DataObject* obj, int depth, const char* filter)
{
    MallocText derivation(derivation_string(obj->name, filter));
    MallocText nickname(album_nickname(obj->name, CurrentCookie));
    /* For the reports after a wait, when obj may be gone. */
    const std::string own_name = obj->name ? obj->name : "";
    const unsigned int cookie = CurrentCookie;

    Album local(DataUnit(nickname.get()), Platform::def_platform);
    if (local.get_error_type() != 0) return 1;
    local.set_prop(TRACKMODE, TRACK);

    if (user_object_class && *user_object_class && obj->name) {
        const char* uname = user_object_name ? user_object_name : "";
        if (strcmp(uname, obj->name) == 0) {
            set_actual_class(local, user_object_class);
        } else if (strstr(obj->name, uname)) {
            Image img(DataUnit(obj->name), DataUnit(), Platform::def_platform);
            DataUnit objclass = img.get_objclass(); /* waits */
            if (CurrentCookie != cookie || !still_registered(obj, own_name)) return 2;
            if (img.get_error_type() != 0)
                derive_error(std::string(qx_msg(211, "ObjectClass error in ")) + " " + own_name +
                             " " + img.get_error_string());
            else
                set_actual_class(local, objclass.str());
        }
    }

    void* client = (void*)(uintptr_t)cookie;
    local.when(OBJECT_DESTROYED, Callback(SchedContext::current(), object_excluded_cb, client));
    local.when(OBJECT_CREATED, Callback(SchedContext::current(), object_included_cb, client));

    if (!local.set_derivation(DataUnit(derivation.get()))) {
        derive_error(std::string(qx_msg(201, "SET_DERIVATION FAILED ")) + " " +
                     local.get_error_string());
        return 1;
    }

    obj->derive_state = 1;
    bool ok = local.derive(DeriveTimeout); /* waits */
    if (CurrentCookie != cookie || !still_registered(obj, own_name)) return 2;
    if (!ok) {
        std::string text = std::string(local.get_error_string()) +
                           " FDN:" + std::string(derivation.get()).substr(0, 200);
        status_line(text.c_str());
    }
    obj->derive_state = 2;
    obj->album = local;
    obj->num_children = obj->album.num_images();
    if (depth < 1) return 0;

    /* The walk does not touch obj: a child's derivation waits, and obj may
     * be removed meanwhile. */
    for (AlbumImage ai = local.first_image(); ai; ai.next_image()) {
        DataUnit fdn = ai->get_objname();
        if (CurrentCookie != cookie) {
            printf("DEBUG : DataObject::derive()11 : Invalid stack\n");
            return 2;
        }
        if (fdn.is_empty()) continue;
        DataObject* child = new DataObject(fdn.str());
        child->parent_name = strdup(own_name.c_str());
        DataObject::object_list.insert(child);
        if (depth > 1) {
            int result = child->derive(depth - 1, filter);
            if (CurrentCookie != cookie) {
                if (result != 2)
                    printf("DEBUG : DataObject::derive() : Invalid stack %s\n", own_name.c_str());
                return 2;
            }
            /* 2 in the same generation: the child was removed while it
             * waited; its siblings go on. */
        }
    }
    /* The children's waits may have seen obj itself removed. */
    if (depth > 1 && !still_registered(obj, own_name)) return 2;
    return 0;
}

int DataObject::derive(int depth, const char* filter)
{
    if (flags & DERIVING) return 1;
    flags |= DERIVING;
    int result = derive_locked(this, depth, filter);
    /* With 2 this object may be gone: a rebuild or its removal. */
    if (result != 2) flags &= ~DERIVING;
    fflush(stdout);
    return result;
}
