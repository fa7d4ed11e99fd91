/*
 * navigator.cpp - opening nodes, and the server's reports of objects created
 * and destroyed under a derived parent.
 */
#include <Xm/Xm.h>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "core/catalog.h"
#include "core/globals.h"
#include "tree/data_object.h"
#include "tree/navigator.h"
#include "tree/selection.h"
#include "ui/main_win.h"
#include "XiHierarchy.h"

/* The text of a node's label (by the default font-list tag). */
static XtText label_text(Widget node)
{
    XmString s = nullptr;
    XtVaGetValues(node, XmNlabelString, &s, NULL);
    XtText text;
    if (s) {
        text.reset((char*)XmStringUnparse(s, nullptr, XmCHARSET_TEXT, XmCHARSET_TEXT, nullptr, 0,
                                          XmOUTPUT_ALL));
        XmStringFree(s);
    }
    if (!text) text.reset(XtNewString(""));
    return text;
}

/* The FDN a node stands for: the name of the object it shows, else its
 * label. */
static XtText node_fdn(Widget node)
{
    /* A row widget of the navigator shows one object at a time and knows
     * which; a label may be cut short. */
    DataObject* obj = find_object(node);
    if (obj && obj->name) return XtText(XtNewString(obj->name));
    return label_text(node);
}

void node_state_cb(Widget, XtPointer, XtPointer call_data)
{
    auto* data = (XiHierarchyNodeStateData*)call_data;
    if (!data || !data->widget) return;
    if (data->state == XiClosed) {
        /* The navigator keeps the open and closed states of its rows. */
        DataObject* obj = find_object(data->widget);
        if (obj && obj->shown) {
            obj->node_state = XiClosed;
            rows_changed();
        }
        return;
    }
    if (data->state != XiOpen) return;
    XtText fdn = node_fdn(data->widget);

    DataObject* obj = find_album_object(fdn.get());
    if (!obj) {
        printf("%s%s\n", qx_msg(100, "ERROR opening object: "), fdn.get());
        fflush(stdout);
        return;
    }
    open_object(obj);
}

void open_object(DataObject* obj)
{
    unsigned int cookie = CurrentCookie;
    obj->node_state = XiOpen;
    if (obj->shown) rows_changed();
    if (obj->derive_state == 1) {
        printf("DEBUG : node_change() : BEING DERIVED%s\n", obj->name);
        fflush(stdout);
        return;
    }
    /* derive() answers 2 when the tree was rebuilt or obj removed while it
     * waited: obj may be gone then. */
    if (obj->derive_state != 2 && obj->derive(0, current_filter) == 2) return;
    /* Stopped: the rows that came are shown, and the status line says so. */
    if (obj->derive_state == 0) return;
    if (obj->num_children < 1) {
        status_line("This Object Does not have any Children", obj->name);
        return;
    }
    status_line(" ");
    /* Reopened with every child shown already: nothing to walk. */
    if ((long)obj->shown_count() >= obj->num_children) return;

    /* One placing of the rows in view for all the new rows. */
    std::string fdn = obj->name;
    node_batch_begin();
    /* The walk uses its own handle on the set: a rebuild during the walk
     * may delete obj and its album. */
    Album children = obj->album();
    /* The new children are registered together (the walk does not wait),
     * and shown in the album's order. */
    std::vector<DataObject*> fresh, to_show;
    for (AlbumImage ai = children.first_image(); ai; ai.next_image()) {
        DataUnit child_fdn = ai->get_objname();
        if (child_fdn.is_empty()) continue;
        DataObject* child = find_album_object(child_fdn.str());
        if (child && child->shown) continue;
        if (!child) {
            child = new DataObject(child_fdn.str());
            child->parent_name = intern_name(fdn.c_str());
            fresh.push_back(child);
        }
        to_show.push_back(child);
    }
    DataObject::object_list.insert_all(fresh);
    if (CurrentCookie == cookie)
        for (DataObject* child : to_show) child->display(0);
    node_batch_end();
}

/* The server's reports of objects created and destroyed under derived
 * parents, in the order they came.  Showing a created object waits for the
 * server, and during that wait the next reports are dispatched: handled
 * there, each would wait in its turn and a burst of thousands would nest
 * as deep and overflow the stack.  So the first handler of a report handles
 * every report that arrives while it works, in order, and the reports that
 * arrive meanwhile only join the queue; destructions queue as well, behind
 * the creations that came before them.  The creations waiting together are
 * derived together, with one wait for the lot. */
struct TreeReport {
    bool created;
    std::string fdn;
    unsigned int cookie; /* of the derivation whose album reported it */
};
static std::list<TreeReport> tree_reports;
static bool handling_reports = false;

static void add_objects(std::vector<std::string>& fdns);

static void handle_reports()
{
    if (handling_reports) return; /* the handler further up the stack takes it */
    handling_reports = true;
    while (!tree_reports.empty()) {
        if (tree_reports.front().cookie != CurrentCookie) { /* the tree was rebuilt since */
            tree_reports.pop_front();
            continue;
        }
        if (!tree_reports.front().created) {
            TreeReport report = std::move(tree_reports.front());
            tree_reports.pop_front();
            remove_object(nullptr, strdup(report.fdn.c_str()));
            continue;
        }
        /* The creations queued so far, up to the next destruction, are
         * handled together: one wait for all their derivations. */
        std::vector<std::string> created;
        while (!tree_reports.empty() && tree_reports.front().created &&
               tree_reports.front().cookie == CurrentCookie) {
            created.push_back(std::move(tree_reports.front().fdn));
            tree_reports.pop_front();
        }
        add_objects(created);
    }
    handling_reports = false;
}

void object_included_cb(void* client, void* event)
{
    unsigned int cookie = (unsigned int)(uintptr_t)client;
    if (cookie != CurrentCookie) return;
    CurrentEvent ev(event);
    ev.do_something();
    DataUnit fdn = ev.get_objname();
    if (fdn.is_empty()) return;
    /* Another client may be creating many objects at once. */
    node_batch_briefly();
    tree_reports.push_back({true, fdn.str(), cookie});
    handle_reports();
}

void object_excluded_cb(void* client, void* event)
{
    unsigned int cookie = (unsigned int)(uintptr_t)client;
    if (cookie != CurrentCookie) return;
    CurrentEvent ev(event);
    DataUnit fdn = ev.get_objname();
    if (fdn.is_empty()) return;
    tree_reports.push_back({false, fdn.str(), cookie});
    handle_reports();
}

void add_object(void*, char* fdn_arg)
{
    MallocText fdn(fdn_arg);
    std::vector<std::string> one{fdn.get()};
    fdn.reset();
    add_objects(one);
}

/* add_object for each of fdns, in order, with their derivations sent
 * together and waited for once. */
static void add_objects(std::vector<std::string>& fdns)
{
    unsigned int cookie = CurrentCookie;
    std::vector<DataObject*> objs;
    std::vector<std::string> parent_names;
    std::set<DataObject*> taken;
    /* The objects made here, registered together after the walk. */
    std::vector<DataObject*> fresh;
    std::map<std::string, DataObject*> fresh_by_name;
    for (const std::string& fdn : fdns) {
        /* The album that holds the new object is its parent's, whose
         * nickname names the parent.  These look at what the library
         * holds and do not wait. */
        Image img(DataUnit(fdn.c_str()), DataUnit(), Platform::def_platform);
        Album holder = img.first_album();
        DataUnit nickname = holder.get_prop(NICKNAME);
        MallocText parent_fdn(nickname_parent(nickname.str()));
        DataObject* parent = find_album_object(parent_fdn.get());
        if (!parent) continue;
        parent->num_children++;

        DataUnit name = img.get_objname();
        if (name.is_empty()) continue;
        /* Opening the parent registers the children its album holds, and
         * the album took this one in before the report was handled. */
        DataObject* obj = find_album_object(name.str());
        if (!obj) {
            DataObject*& made = fresh_by_name[name.str()];
            if (!made) {
                made = new DataObject(name.str());
                made->parent_name = intern_name(parent->name);
                fresh.push_back(made);
            }
            obj = made;
        }
        if (!taken.insert(obj).second) continue; /* reported twice */
        objs.push_back(obj);
        parent_names.push_back(parent->name);
    }
    DataObject::object_list.insert_all(fresh);
    if (objs.empty()) return;

    /* The derivations wait.  Meanwhile the tree may be rebuilt, objects
     * removed (their entries come back null), parents removed, or a parent
     * opened, which shows its new children itself. */
    if (derive_together(objs, current_filter) == 2 || CurrentCookie != cookie) return;
    node_batch_begin(); /* the rows of a burst are laid out together */
    for (size_t i = 0; i < objs.size(); i++) {
        DataObject* obj = objs[i];
        if (!obj) continue;
        DataObject* parent = find_album_object(parent_names[i].c_str());
        if (parent && parent->shown && !obj->shown) obj->display(0);
    }
    node_batch_end();
}

void remove_object(void*, char* fdn_arg)
{
    MallocText fdn(fdn_arg);
    DataObject* obj = find_album_object(fdn.get());
    fdn.reset();
    if (!obj) return;
    /* Its shown descendants go with its row, and reports of a burst of
     * deletions follow at once: one placing for them all. */
    node_batch_briefly();
    obj->destroy_node();
    DataObject* parent = find_album_object(obj->parent_name);
    if (!parent) {
        printf("%s\n", qx_msg(102, "deleted parent "));
        fflush(stdout);
        return;
    }
    parent->num_children--;
    if (parent->num_children == 0) {
        if (parent->shown) {
            parent->node_state = XiClosed;
            rows_changed();
        } else {
            printf("DEBUG : Widget is NULL !!!\n");
            fflush(stdout);
        }
    }
    DataObject::object_list.remove(obj);
    bool was_selected = DataObject::selected_list.remove(obj);
    delete obj;
    /* The menus follow the selection: only a selected object's going changes them. */
    if (was_selected) check_selected((int)DataObject::selected_list.entries());
}
