/*
 * actions.cpp - the Action menu of the main window and the action window's
 * OK: the actions of the selected object's class, one item each, and the run
 * of the chosen one, whose reply goes to the output window.
 */
#include <Xm/PushB.h>
#include <Xm/RowColumn.h>
#include <Xm/Text.h>
#include <cstring>
#include <string>

#include "core/globals.h"
#include "core/role.h"
#include "meta/meta_api.h"
#include "tree/tree_api.h"
#include "ui/action_win.h"
#include "ui/dialogs.h"
#include "ui/main_win.h"
#include "ui/output_win.h"
#include "ui/xd_links.h"

/* The object the next OK of the action window acts on, set when an action
 * item is chosen.  Server events may destroy it while the window is open, so
 * it is only ever compared, never read: action_target_name is what the run
 * looks up again in the registry. */
DataObject* action_target = nullptr;
static std::string action_target_name;

/* Counts the rebuilds of the Action menu: a rebuild waits, and when another
 * one started meanwhile (the selection changed), the older one drops its
 * result. */
static unsigned int action_list_generation = 0;

/* Activate callback of every action item (client data: the item): puts the
 * action's name into the action window and takes the first selected object
 * as the target.  The parameter field keeps its text. */
void show_action(Widget, XtPointer item, XtPointer)
{
    XmString label = nullptr;
    XtVaGetValues((Widget)item, XmNlabelString, &label, NULL);
    XtText text(label ? (char*)XmStringUnparse(label, nullptr, XmCHARSET_TEXT, XmCHARSET_TEXT,
                                               nullptr, 0, XmOUTPUT_ALL)
                      : nullptr);
    if (label) XmStringFree(label);
    if (action_window && action_window->aw_action)
        XmTextSetString(action_window->aw_action, text ? text.get() : (char*)"");
    action_target = DataObject::selected_list.first();
    action_target_name = action_target && action_target->name ? action_target->name : "";
}

/* Waits (the class of the object, then its description).  The name is copied
 * first: the object it belongs to may be removed during the wait. */
void MainWin::create_action_list(char* object_name)
{
    const std::string name = object_name ? object_name : "";
    const unsigned int generation = ++action_list_generation;
    ClassInfo info(name.c_str()); /* waits */
    if (generation != action_list_generation) return;
    if (info.get_actions().count() == 0) {
        XtSetSensitive(mw_action, False);
        return;
    }
    construct_list(info.get_actions());
}

void MainWin::construct_list(DUArray& actions)
{
    if (actions.count() == 0) {
        XtSetSensitive(mw_action, False);
        return;
    }
    if (mw_action_pulldown) XtDestroyWidget(mw_action_pulldown);
    mw_action_pulldown = XmCreatePulldownMenu(mw_action, (char*)"mw_action_pulldown", nullptr, 0);
    XtVaSetValues(mw_action, XmNsubMenuId, mw_action_pulldown, NULL);
    XtSetSensitive(mw_action, role_permits(ROLE_ACTION));
    for (int i = 0; i < actions.count(); i++) {
        Widget item = XtCreateManagedWidget(actions[i].str(), xmPushButtonWidgetClass,
                                            mw_action_pulldown, nullptr, 0);
        XtAddCallback(item, XmNactivateCallback, XDmanage_link,
                      action_window ? (XtPointer)&action_window->aw_dialog : nullptr);
        XtAddCallback(item, XmNactivateCallback, show_action, item);
    }
}

/* Waits (boot, then the action, which may run a program on the server).
 * The target is looked up again by name: when server events removed it since
 * the item was chosen, the run stops with a message and reads nothing of it.
 * An emptied action field is sent as it is, and the refusal shown like any. */
void ActionWin::execute_action(Widget, XtPointer)
{
    XtText action(XmTextGetString(aw_action));
    if (!action) return;
    /* A password (setPassword) lives here and in the request only. */
    std::string parameter = parameter_text();
    struct Wipe {
        std::string& s;
        ~Wipe()
        {
            if (!s.empty()) explicit_bzero(&s[0], s.size());
        }
    } wipe{parameter};
    DataObject* target = find_album_object(action_target_name.c_str());
    if (action_target_name.empty() || !target) {
        std::string text = action_target_name + " " +
                           qx_msg(308, "no longer exists: it was removed while the action "
                                       "window was open.");
        error_dialog(aw_dialog, bounded_label(text.c_str()).c_str());
        return;
    }
    action_target = target;

    Image image(DataUnit(action_target_name.c_str()), DataUnit(), Platform::def_platform);
    if (!image.boot(DeriveTimeout)) { /* waits */
        error_dialog(aw_dialog, bounded_label(image.get_error_string()).c_str());
        return;
    }
    if (image.get_objclass().is_empty()) {
        error_dialog(aw_dialog, bounded_label(image.get_error_string()).c_str());
        return;
    }
    DataUnit reply = image.call(DataUnit(action.get()), DataUnit(parameter.c_str()),
                                KVL_DEFAULT_TIMEOUT); /* waits */
    if (secret) forget_parameter();
    if (reply.is_empty()) {
        error_dialog(aw_dialog, bounded_label(image.get_error_string()).c_str());
        return;
    }
    if (output_window) {
        XtManageChild(output_window->out_dialog);
        XmTextSetString(output_window->out_text, (char*)reply.str());
    }
    XtUnmanageChild(aw_dialog);
}
