/* open_win.cpp - the Open View dialog: a selection box of views. */
#include "ui/open_win.h"

#include <Xm/Form.h>
#include <Xm/Protocols.h>
#include <Xm/SelectioB.h>

#include "core/catalog.h"
#include "ui/window_util.h"
#include "ui/xd_links.h"

static void hide_cb(Widget, XtPointer box, XtPointer)
{
    XtUnmanageChild((Widget)box);
}

void OpenWin::choose_tramp(Widget w, XtPointer client, XtPointer)
{
    ((OpenWin*)client)->choose_cb(w, client);
}

void OpenWin::create(Widget parent, const char* name)
{
    Widget shell;
    ov_dialog = make_dialog(parent, name, "ov_dialog", 558, "Tarnwick: Open View", &shell);
    _xd_rootwidget = shell;

    ov_form = XtVaCreateManagedWidget("widget58", xmFormWidgetClass, ov_dialog, NULL);
    XmString label = XmStringCreateLocalized(const_cast<char*>(qx_msg(559, "Views")));
    Arg args[10];
    Cardinal n = 0;
    XtSetArg(args[n], XmNdialogType, XmDIALOG_WORK_AREA);
    n++;
    XtSetArg(args[n], XmNlistLabelString, label);
    n++;
    XtSetArg(args[n], XmNtopAttachment, XmATTACH_FORM);
    n++;
    XtSetArg(args[n], XmNleftAttachment, XmATTACH_FORM);
    n++;
    XtSetArg(args[n], XmNrightAttachment, XmATTACH_FORM);
    n++;
    XtSetArg(args[n], XmNbottomAttachment, XmATTACH_FORM);
    n++;
    ov_selection_box = XmCreateSelectionBox(ov_form, const_cast<char*>("widget59"), args, n);
    XmStringFree(label);
    /* Of the selection box's buttons only Apply and Cancel stay. */
    XtManageChild(XmSelectionBoxGetChild(ov_selection_box, XmDIALOG_APPLY_BUTTON));
    XtUnmanageChild(XmSelectionBoxGetChild(ov_selection_box, XmDIALOG_OK_BUTTON));
    XtUnmanageChild(XmSelectionBoxGetChild(ov_selection_box, XmDIALOG_HELP_BUTTON));
    Widget cancel = XmSelectionBoxGetChild(ov_selection_box, XmDIALOG_CANCEL_BUTTON);
    XtAddCallback(cancel, XmNactivateCallback, XDunmanage_link, xd_link(XD_LINK_OPEN_VIEW));
    XtAddCallback(cancel, XmNactivateCallback, hide_cb, (XtPointer)ov_dialog);
    XtAddCallback(ov_selection_box, XmNapplyCallback, choose_tramp, this);
    XtManageChild(ov_selection_box);

    /* Its Cancel names a record that is never set; the window manager's
     * close still hides the dialog. */
    Atom wm_delete = XmInternAtom(XtDisplay(shell), const_cast<char*>("WM_DELETE_WINDOW"), False);
    XmAddWMProtocolCallback(shell, wm_delete, hide_cb, (XtPointer)ov_dialog);
}
