/* create_win.cpp - the Create Object dialog: a class option menu. */
#include "ui/create_win.h"

#include <Xm/Form.h>
#include <Xm/PushB.h>
#include <Xm/RowColumn.h>

#include "core/catalog.h"
#include "ui/help_callbacks.h"
#include "ui/window_util.h"
#include "ui/xd_links.h"

void CreateWin::create(Widget parent, const char* name)
{
    co_dialog =
        make_dialog(parent, name, "co_dialog", 523, "Tarnwick: Create Object", &_xd_rootwidget);
    xd_link_records[XD_LINK_CREATE_OBJECT] = co_dialog;

    /* Wide enough for a class name and a spaced button row. */
    co_form = XtVaCreateManagedWidget("co_form", xmFormWidgetClass, co_dialog, XmNwidth, 320, NULL);
    co_class_parent =
        XmCreatePulldownMenu(co_form, const_cast<char*>("co_class_parent"), nullptr, 0);
    XmString label = XmStringCreateLocalized(const_cast<char*>(qx_msg(524, "Object Class:")));
    Arg args[8];
    Cardinal n = 0;
    XtSetArg(args[n], XmNsubMenuId, co_class_parent);
    n++;
    XtSetArg(args[n], XmNlabelString, label);
    n++;
    XtSetArg(args[n], XmNtopAttachment, XmATTACH_FORM);
    n++;
    XtSetArg(args[n], XmNtopOffset, 10);
    n++;
    XtSetArg(args[n], XmNleftAttachment, XmATTACH_FORM);
    n++;
    XtSetArg(args[n], XmNleftOffset, 10);
    n++;
    XtSetArg(args[n], XmNbottomAttachment, XmATTACH_FORM);
    n++;
    XtSetArg(args[n], XmNbottomOffset, 10);
    n++;
    co_class_option = XmCreateOptionMenu(co_form, const_cast<char*>("co_class_option"), args, n);
    XmStringFree(label);
    XtManageChild(co_class_option);

    co_ok_button = labelled(xmPushButtonWidgetClass, co_dialog, "co_ok_button", 525, "OK");
    XtAddCallback(co_ok_button, XmNactivateCallback, XDunmanage_link,
                  xd_link(XD_LINK_CREATE_OBJECT));
    co_cancel_button =
        labelled(xmPushButtonWidgetClass, co_dialog, "co_cancel_button", 526, "Cancel");
    XtAddCallback(co_cancel_button, XmNactivateCallback, XDunmanage_link,
                  xd_link(XD_LINK_CREATE_OBJECT));
    co_help_button = labelled(xmPushButtonWidgetClass, co_dialog, "co_help_button", 527, "Help");
    XtAddCallback(co_help_button, XmNactivateCallback, co_help_cb, nullptr);

    close_like(_xd_rootwidget, co_cancel_button);
}
