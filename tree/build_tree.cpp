/*
 * build_tree.cpp - the first tree: the root from default_root, checked on the
 * server, derived to default_scope levels and shown; and the tree built
 * again from another root.
 */
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/catalog.h"
#include "core/globals.h"
#include "tree/build_tree.h"
#include "tree/data_object.h"
#include "tree/navigator.h"
#include "ui/busy_cursor.h"
#include "ui/main_win.h"

bool is_valid_object(DataObject* obj, const char* objclass)
{
    Image image(DataUnit(obj->name), DataUnit(objclass ? objclass : ""), Platform::def_platform);
    if (image.get_error_type() != 0) return false;
    if (!image.boot(DeriveTimeout)) return false;
    if (!image.exists()) return false;
    /* Booted anyway: the row's tool tip needs no second request. */
    obj->object_class = intern_class(image.get_objclass().str());
    DataUnit server_name = image.get_objname();
    /* A name typed in another form than the server's takes the server's. */
    if (!obj->name || !strstr(obj->name, server_name.str())) {
        free(obj->name);
        obj->name = strdup(server_name.str());
    }
    return true;
}

/* Registers obj, derives it to scope levels with current_filter and shows
 * them; false when the tree was rebuilt during the derivation.  Waits. */
static bool show_tree(DataObject* obj, int scope)
{
    DataObject::object_list.insert(obj);
    if (obj->derive(scope, current_filter) == 2) return false; /* waits */
    node_batch_begin();
    obj->display(scope);
    node_batch_end();
    return true;
}

/* build_tree under the busy cursor: false when no tree of its own was shown. */
static bool show_first_tree()
{
    DataObject* obj = new DataObject(nullptr);
    root = obj;
    obj->name = strdup(default_root ? default_root : "/");
    /* The check waits, and a rebuild of the tree by the preferences may run
     * meanwhile: it makes its own root, and this one, not registered yet,
     * is ours to drop. */
    ObjectRef ref(obj);
    bool valid = is_valid_object(obj, "");
    if (!ref.get()) {
        if (root == obj) root = nullptr;
        delete obj;
        return false;
    }
    if (!valid) {
        printf("%s%s%s\n", qx_msg(12, "Invalid Object: "), default_root ? default_root : "",
               qx_msg(13, "; using '/' for root."));
        fflush(stdout);
        free(obj->name);
        obj->name = strdup("/");
    }
    obj->parent_name = intern_name("");
    if (!show_tree(obj, default_scope)) return false; /* waits */
    if (main_window) main_window->update_edit_menu();
    return true;
}

void build_tree()
{
    status_line(qx_msg(11, "Deriving objects from MIS..."));
    bool shown;
    {
        BusyCursor busy(main_window ? main_window->shell() : nullptr);
        shown = show_first_tree(); /* waits */
    }
    if (shown)
        status_line(qx_msg(14, "Tarnwick 1.2 - managed object editor of the Corvane QX suite"));
}

bool rebuild_tree(std::unique_ptr<DataObject> new_root, int scope, bool natural)
{
    if (root && root->shown) root->destroy_node();
    DataObject::selected_list.clear();
    DataObject::object_list.clear_and_destroy();
    root = nullptr;
    CurrentCookie++;
    natural_order = natural;
    DataObject* fresh = new_root.release();
    if (!show_tree(fresh, scope)) return false; /* waits */
    root = fresh;
    return true;
}
