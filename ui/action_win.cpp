/* action_win.cpp - the action dialog: action name and parameter. */
#include "ui/action_win.h"

#include <Xm/Form.h>
#include <Xm/Label.h>
#include <Xm/PushB.h>
#include <Xm/TextF.h>

#include "ui/help_callbacks.h"
#include "ui/window_util.h"
#include "ui/xd_links.h"

void ActionWin::execute_action_tramp(Widget w, XtPointer client, XtPointer)
{
    ((ActionWin*)client)->execute_action(w, client);
}

void ActionWin::create(Widget parent, const char* name)
{
    aw_dialog = make_dialog(parent, name, "aw_dialog", 517, "Tarnwick: Action ", &_xd_rootwidget);
    xd_link_records[XD_LINK_ACTION_WINDOW] = aw_dialog;

    aw_frame = XtVaCreateManagedWidget("aw_frame", xmFormWidgetClass, aw_dialog, NULL);
    aw_action_label = labelled(xmLabelWidgetClass, aw_frame, "aw_action_label", 518, "Action");
    aw_action =
        XtVaCreateManagedWidget("aw_action", xmTextFieldWidgetClass, aw_frame, XmNcolumns, 40,
                                XmNtopAttachment, XmATTACH_FORM, XmNtopOffset, 10,
                                XmNrightAttachment, XmATTACH_FORM, XmNrightOffset, 10, NULL);
    aw_parameter_label =
        labelled(xmLabelWidgetClass, aw_frame, "aw_parameter_label", 519, "Parameter");
    aw_parameter =
        XtVaCreateManagedWidget("aw_parameter", xmTextFieldWidgetClass, aw_frame, XmNcolumns, 40,
                                XmNtopAttachment, XmATTACH_WIDGET, XmNtopWidget, aw_action,
                                XmNtopOffset, 8, XmNrightAttachment, XmATTACH_FORM, XmNrightOffset,
                                10, XmNbottomAttachment, XmATTACH_FORM, XmNbottomOffset, 10, NULL);
    Widget labels[] = {aw_action_label, aw_parameter_label};
    Widget fields[] = {aw_action, aw_parameter};
    align_fields(labels, fields, 2, 10);

    aw_ok_button = labelled(xmPushButtonWidgetClass, aw_dialog, "aw_ok_button", 520, "OK");
    XtAddCallback(aw_ok_button, XmNactivateCallback, execute_action_tramp, this);
    aw_cancel_button =
        labelled(xmPushButtonWidgetClass, aw_dialog, "aw_cancel_button", 521, "Cancel");
    XtAddCallback(aw_cancel_button, XmNactivateCallback, XDunmanage_link,
                  xd_link(XD_LINK_ACTION_WINDOW));
    aw_help_button = labelled(xmPushButtonWidgetClass, aw_dialog, "aw_help_button", 522, "Help");
    XtAddCallback(aw_help_button, XmNactivateCallback, aw_help_cb, nullptr);

    XtVaSetValues(aw_dialog, XmNdefaultButton, aw_ok_button, NULL);
    close_like(_xd_rootwidget, aw_cancel_button);
}
