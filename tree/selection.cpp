/*
 * selection.cpp - selecting and deselecting objects, the path line and the
 * sensitivity of the main window's commands.
 */
#include <X11/IntrinsicP.h>
#include <Xm/Text.h>
#include <Xm/Xm.h>

#include "core/globals.h"
#include "tree/data_object.h"
#include "core/role.h"
#include "tree/selection.h"
#include "ui/busy_cursor.h"
#include "ui/main_win.h"

/* Only a change is set: every report from the server ends here, and most
 * leave the commands as they are. */
static void set_sensitive(Widget w, bool on)
{
    if (w && (bool)w->core.sensitive != on) XtVaSetValues(w, XmNsensitive, on ? True : False, NULL);
}

/* Exchanges a node's background and foreground: selected nodes are drawn in
 * inverse colours, and a second exchange restores them. */
static void swap_colours(Widget node)
{
    if (!node) return;
    XtVaGetValues(node, XmNbackground, &bg, XmNforeground, &fg, NULL);
    XtVaSetValues(node, XmNforeground, bg, XmNbackground, fg, NULL);
}

void add(DataObject* obj)
{
    swap_colours(obj->node);
    obj->selected = true;
    DataObject::selected_list.append(obj);
    check_selected((int)DataObject::selected_list.entries());
    if (DataObject::selected_list.entries() == 1) set_path_and_actions();
}

void deselect(DataObject* obj)
{
    swap_colours(obj->node);
    check_selected((int)DataObject::selected_list.entries() - 1);
    obj->selected = false;
    DataObject::selected_list.remove(obj);
    if (DataObject::selected_list.entries() == 1) set_path_and_actions();
}

void check_selected(int count)
{
    if (!main_window) return;
    MainWin* mw = main_window;
    if (count == 1) {
        set_sensitive(mw->mw_get_button, true);
        set_sensitive(mw->mw_create_from_button, true);
        set_sensitive(mw->mw_action, true);
        set_sensitive(mw->mw_path, true);
        set_sensitive(mw->mw_delete_button, true);
    } else {
        set_sensitive(mw->mw_get_button, false);
        set_sensitive(mw->mw_action, false);
        set_sensitive(mw->mw_create_from_button, false);
        set_sensitive(mw->mw_path, false);
        if (count <= 0) {
            set_sensitive(mw->mw_delete_button, false);
            set_sensitive(mw->mw_create_from_button, true);
        }
    }
    mw->update_edit_menu();
}

void MainWin::update_edit_menu()
{
    bool any = !DataObject::selected_list.is_empty();
    if (mw_deselect_button) XtSetSensitive(mw_deselect_button, any);
    if (mw_delete_button) XtSetSensitive(mw_delete_button, any && role_permits(ROLE_DELETE));
}

void set_path_and_actions()
{
    DataObject* first = DataObject::selected_list.first();
    if (!first || !main_window) return;
    /* The name as the server's users write it: a DN for a directory. */
    if (main_window->mw_path)
        XmTextSetString(main_window->mw_path,
                        const_cast<char*>(platform.user_name(DataUnit(first->name)).str()));
    main_window->create_action_list(first->name);
}

void MainWin::deselect_objects(Widget, void*)
{
    BusyCursor busy(mw_form);
    while (!DataObject::selected_list.is_empty()) deselect(DataObject::selected_list.take_first());
}

int get_num_children(DataObject* obj)
{
    if (obj->derive_state != 0) return obj->num_children;
    if (obj->derive(0, current_filter) == 2) return 0;
    return obj->num_children;
}
