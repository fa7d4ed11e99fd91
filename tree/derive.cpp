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
#include <vector>

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

/* A derivation of one object: its album, made and set up, and what the
 * reports after the wait need when the object may be gone. */
struct Derivation {
    DataObject* obj = nullptr;
    std::string name;  /* obj's name */
    std::string shown; /* the derivation string, as the status line shows it */
    Album album;
    size_t at = 0; /* derive_together: obj's place in its list */
};

/* Sets up d's album for obj and marks obj's derivation as started.  1: the
 * album is unusable; 2: a wait for the object's class saw the tree rebuilt
 * or obj removed (obj is not touched again); 0: ready to derive. */
static int derive_prepare(DataObject* obj, const char* filter, Derivation& d)
{
    MallocText derivation(derivation_string(obj->name, filter));
    MallocText nickname(album_nickname(obj->name, CurrentCookie));
    d.obj = obj;
    d.name = obj->name ? obj->name : "";
    d.shown = std::string(derivation.get()).substr(0, 200);
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
            if (CurrentCookie != cookie || !still_registered(obj, d.name)) return 2;
            if (img.get_error_type() != 0)
                derive_error(std::string(qx_msg(211, "ObjectClass error in ")) + " " + d.name +
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
    local.reset_error(); /* from here on an error is the derivation's */
    d.album = local;
    obj->derive_state = 1;
    return 0;
}

/* Takes the derived album into d's object, which the caller found still
 * registered after the wait; a failure goes to the status line when
 * report is set. */
static void derive_finish(Derivation& d, bool report = true)
{
    if (report && d.album.get_error_type() != 0) {
        std::string text = std::string(d.album.get_error_string()) + " FDN:" + d.shown;
        status_line(text.c_str());
    }
    d.obj->derive_state = 2;
    d.obj->album = d.album;
    d.obj->num_children = d.obj->album.num_images();
}

/* The work of derive() once DERIVING is set.  Every wait is followed by a
 * check of CurrentCookie and of obj's registration; 2 when either failed,
 * and obj is not touched again then. */
static int derive_locked(DataObject* obj, int depth, const char* filter)
{
    Derivation d;
    int ready = derive_prepare(obj, filter, d);
    if (ready != 0) return ready;
    const std::string own_name = d.name;
    const unsigned int cookie = CurrentCookie;
    d.album.derive(DeriveTimeout); /* waits */
    if (CurrentCookie != cookie || !still_registered(obj, own_name)) return 2;
    derive_finish(d);
    Album local = d.album;
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

int derive_together(std::vector<DataObject*>& objs, const char* filter)
{
    const unsigned int cookie = CurrentCookie;
    std::vector<std::string> names;
    names.reserve(objs.size());
    for (DataObject* obj : objs) names.push_back(obj->name ? obj->name : "");
    std::vector<Derivation> started;
    for (size_t i = 0; i < objs.size(); i++) {
        DataObject* obj = objs[i];
        /* A wait for an earlier object's class may have seen this one go. */
        if (!still_registered(obj, names[i])) {
            objs[i] = nullptr;
            continue;
        }
        if (obj->flags & DataObject::DERIVING) continue; /* derived elsewhere now */
        obj->flags |= DataObject::DERIVING;
        Derivation d;
        int ready = derive_prepare(obj, filter, d);
        if (CurrentCookie != cookie) return 2;
        if (ready == 2) continue; /* obj removed while its class was asked for */
        if (ready == 1) {
            obj->flags &= ~DataObject::DERIVING;
            continue;
        }
        d.at = i;
        started.push_back(std::move(d));
    }
    std::vector<Album*> albums;
    albums.reserve(started.size());
    for (Derivation& d : started) albums.push_back(&d.album);
    Album::derive_all(albums.data(), albums.size(), DeriveTimeout); /* waits */
    if (CurrentCookie != cookie) return 2;
    /* Any of them, derived here or not, may have been removed meanwhile. */
    for (size_t i = 0; i < objs.size(); i++)
        if (objs[i] && !still_registered(objs[i], names[i])) objs[i] = nullptr;
    std::string failure;
    for (Derivation& d : started) {
        if (objs[d.at] == nullptr) continue;
        bool failed = d.album.get_error_type() != 0;
        if (failed && failure.empty())
            failure = std::string(d.album.get_error_string()) + " FDN:" + d.shown;
        derive_finish(d, false); /* one status line for the lot, below */
        d.obj->flags &= ~DataObject::DERIVING;
    }
    if (!failure.empty()) status_line(failure.c_str());
    fflush(stdout);
    return 0;
}
