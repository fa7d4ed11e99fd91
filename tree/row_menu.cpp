/*
 * row_menu.cpp - the navigator's popup menu on the third mouse button and
 * its Delete key.  Both reach the main window's own commands.
 */
#include <Xm/PushB.h>
#include <Xm/RowColumn.h>
#include <Xm/Separator.h>
#include <X11/keysym.h>
#include <cstring>
#include <string>
#include <vector>

#include "core/globals.h"
#include "tree/data_object.h"
#include "tree/navigator.h"
#include "tree/row_menu.h"
#include "tree/selection.h"
#include "ui/main_win.h"
#include "ui/window_util.h"

static Widget row_menu = nullptr;
static Widget row_get = nullptr;
static Widget row_create = nullptr;
static Widget row_delete = nullptr;
static std::vector<Widget> row_actions; /* the items after the separator */
/* The object the menu was filled for, by name: server events may remove it
 * while the menu is up. */
static std::string row_fdn;

static bool own_sensitive(Widget w)
{
    Boolean on = False;
    if (w) XtVaGetValues(w, XmNsensitive, &on, NULL);
    return on;
}

static void get_cb(Widget w, XtPointer, XtPointer)
{
    if (main_window) main_window->get_object(w, const_cast<char*>(row_fdn.c_str()));
}

static void create_cb(Widget w, XtPointer, XtPointer call)
{
    if (main_window) main_window->create_from_selected(w, call);
}

static void delete_cb(Widget w, XtPointer, XtPointer call)
{
    if (main_window) main_window->delete_object_cb(w, call);
}

/* An action item does what the Action menu's item of the same name does. */
static void action_cb(Widget w, XtPointer, XtPointer call)
{
    if (!main_window || !main_window->mw_action_pulldown) return;
    WidgetList items = nullptr;
    Cardinal count = 0;
    XtVaGetValues(main_window->mw_action_pulldown, XmNchildren, &items, XmNnumChildren, &count,
                  NULL);
    for (Cardinal i = 0; i < count; i++)
        if (strcmp(XtName(items[i]), XtName(w)) == 0) {
            XtCallCallbacks(items[i], XmNactivateCallback, call);
            return;
        }
}

DataObject* object_at_event(Widget outline, const XButtonEvent* event)
{
    /* The window under the pointer, as the server saw it: only a row that
     * is shown there has a mapped window at that place. */
    Widget row = nullptr;
    if (event->subwindow != None) row = XtWindowToWidget(event->display, event->subwindow);
    if (!row && event->window == XtWindow(outline))
        row = XmObjectAtPoint(outline, (Position)event->x, (Position)event->y);
    if (!row || XtParent(row) != outline) return nullptr;
    return find_object(row);
}

Widget row_menu_for(DataObject* obj)
{
    /* Like a click, dropped while a click is being handled. */
    if (!row_menu || !main_window || !obj || !obj->name || selection_busy) return nullptr;
    row_fdn = obj->name;
    status_line("  "); /* as a click on a row does */
    /* A row outside the selection becomes the selection, as in a file
     * manager; a row inside it leaves it as it is, so that Delete acts on
     * every selected object.  Clicks during the waits are dropped. */
    if (!obj->selected) {
        selection_busy = true;
        ObjectRef ref(obj);
        main_window->deselect_objects(main_window->mw_navigator, nullptr); /* waits */
        obj = ref.get();
        if (obj && !obj->selected) add(obj); /* waits */
        selection_busy = false;
        main_window->update_edit_menu();
        if (!ref.get()) return nullptr;
    }

    XtSetSensitive(row_get, own_sensitive(main_window->mw_get_button));
    XtSetSensitive(row_create, own_sensitive(main_window->mw_create_from_button));
    XtSetSensitive(row_delete, own_sensitive(main_window->mw_delete_button));
    for (Widget w : row_actions) XtDestroyWidget(w);
    row_actions.clear();
    if (own_sensitive(main_window->mw_action) && main_window->mw_action_pulldown) {
        WidgetList items = nullptr;
        Cardinal count = 0;
        XtVaGetValues(main_window->mw_action_pulldown, XmNchildren, &items, XmNnumChildren, &count,
                      NULL);
        if (count > 0)
            row_actions.push_back(XtCreateManagedWidget("mw_row_separator", xmSeparatorWidgetClass,
                                                        row_menu, nullptr, 0));
        for (Cardinal i = 0; i < count; i++) {
            XmString label = nullptr;
            XtVaGetValues(items[i], XmNlabelString, &label, NULL);
            Widget item = XtVaCreateManagedWidget(XtName(items[i]), xmPushButtonWidgetClass,
                                                  row_menu, XmNlabelString, label, NULL);
            if (label) XmStringFree(label);
            XtAddCallback(item, XmNactivateCallback, action_cb, nullptr);
            row_actions.push_back(item);
        }
    }
    return row_menu;
}

/* Button press on the navigator: the third button posts the menu for the
 * row under the pointer. */
static void button_press(Widget outline, XtPointer, XEvent* event, Boolean*)
{
    if (event->type != ButtonPress || event->xbutton.button != Button3) return;
    XButtonEvent where = event->xbutton; /* the event may be reused during the wait */
    Widget menu = row_menu_for(object_at_event(outline, &where));
    if (!menu) return;
    XmMenuPosition(menu, &where);
    XtManageChild(menu);
}

void delete_key_pressed()
{
    if (main_window && own_sensitive(main_window->mw_delete_button))
        main_window->delete_object_cb(main_window->mw_delete_button, nullptr);
}

static void key_press(Widget, XtPointer, XEvent* event, Boolean*)
{
    if (event->type != KeyPress) return;
    if (XLookupKeysym(&event->xkey, 0) == XK_Delete) delete_key_pressed();
}

void install_row_commands()
{
    if (row_menu || !main_window || !main_window->mw_navigator) return;
    Widget outline = main_window->mw_navigator;
    /* Posted here rather than by Motif's own popup handling, which would
     * not know which row the pointer is over. */
    Arg args[1];
    XtSetArg(args[0], XmNpopupEnabled, XmPOPUP_DISABLED);
    row_menu = XmCreatePopupMenu(outline, const_cast<char*>("mw_row_menu"), args, 1);
    row_get = labelled(xmPushButtonWidgetClass, row_menu, "mw_row_get_button", 506, "Get...", 'G');
    XtAddCallback(row_get, XmNactivateCallback, get_cb, nullptr);
    row_create =
        labelled(xmPushButtonWidgetClass, row_menu, "mw_row_create_button", 505, "Create...", 'C');
    XtAddCallback(row_create, XmNactivateCallback, create_cb, nullptr);
    row_delete =
        labelled(xmPushButtonWidgetClass, row_menu, "mw_row_delete_button", 512, "Delete", 'D');
    XtAddCallback(row_delete, XmNactivateCallback, delete_cb, nullptr);

    /* The rows are the outline's children and take the presses over them;
     * a grab on the outline brings the third button's press to the outline
     * first, wherever a row is. */
    XtGrabButton(outline, Button3, AnyModifier, True, ButtonPressMask | ButtonReleaseMask,
                 GrabModeAsync, GrabModeAsync, None, None);
    XtAddEventHandler(outline, ButtonPressMask, False, button_press, nullptr);

    /* Keys go to the widget with the focus; a key grabbed by one of its
     * ancestors goes to that ancestor instead.  Grabbed on the navigator's
     * window, Delete reaches this handler from every row but leaves the path
     * line's Delete to the path line. */
    Widget area = main_window->mw_navigator_window;
    KeyCode del = XKeysymToKeycode(XtDisplay(area), XK_Delete);
    if (del != 0) {
        XtGrabKey(area, del, AnyModifier, True, GrabModeAsync, GrabModeAsync);
        XtAddEventHandler(area, KeyPressMask, False, key_press, nullptr);
    }
}
