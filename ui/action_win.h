/*
 * action_win.h - the action dialog: the name of an action of the selected
 * object and its parameter; OK runs it.  PUBLIC HEADER.
 *
 * execute_action is defined with the other object commands in objects/.
 */
#ifndef UI_ACTION_WIN_H
#define UI_ACTION_WIN_H

#include "ui/xd_widgets.h"

#include <string>
#include <vector>

class ActionWin : public xd_XmDialog_c {
public:
    ActionWin() {}

    /* The dialog shell `name` under parent and everything inside, hidden. */
    virtual void create(Widget parent, const char* name);
    /* OK: invokes the action on the chosen object and shows the reply in
     * the output window.  Waits for the server. */
    virtual void execute_action(Widget w, XtPointer client);

    static void execute_action_tramp(Widget w, XtPointer client, XtPointer call);

    /* The parameter as typed.  For an action whose parameter is a password
     * (setPassword) the field shows one '*' per character and the text is
     * kept here only; forget_parameter wipes it and empties the field. */
    std::string parameter_text() const;
    void forget_parameter();
    /* The action field changed: the parameter turns secret or plain, and
     * is emptied when it does. */
    void action_changed();
    static void action_changed_cb(Widget w, XtPointer client, XtPointer call);
    static void mask_cb(Widget w, XtPointer client, XtPointer call);
    bool secret = false;                    /* the parameter is a password */
    std::vector<std::string> secret_chars; /* its characters, while secret */

    Widget aw_dialog = nullptr; /* message box; managed = shown */
    Widget aw_frame = nullptr;
    Widget aw_action_label = nullptr;
    Widget aw_action = nullptr;
    Widget aw_parameter_label = nullptr;
    Widget aw_parameter = nullptr;
    Widget aw_ok_button = nullptr;
    Widget aw_cancel_button = nullptr;
    Widget aw_help_button = nullptr;
};

#endif /* UI_ACTION_WIN_H */
