/* output_win.cpp - the output window: the reply of the last action. */
#include "ui/output_win.h"

#include <Xm/Form.h>
#include <Xm/PushB.h>
#include <Xm/Text.h>

#include "ui/help_callbacks.h"
#include "ui/window_util.h"
#include "ui/xd_links.h"

void OutputWin::create(Widget parent, const char* name)
{
    out_dialog =
        make_dialog(parent, name, "out_dialog", 528, "Tarnwick: Output Window", &_xd_rootwidget);

    out_form = XtVaCreateManagedWidget("out_form", xmFormWidgetClass, out_dialog, XmNwidth, 500,
                                       XmNheight, 400, NULL);
    Arg args[6];
    Cardinal n = 0;
    XtSetArg(args[n], XmNrows, 20);
    n++;
    XtSetArg(args[n], XmNcolumns, 60);
    n++;
    XtSetArg(args[n], XmNeditMode, XmMULTI_LINE_EDIT);
    n++;
    XtSetArg(args[n], XmNeditable, False);
    n++;
    XtSetArg(args[n], XmNcursorPositionVisible, False);
    n++;
    out_text = XmCreateScrolledText(out_form, const_cast<char*>("out_text"), args, n);
    out_text_window = XtParent(out_text);
    XtVaSetValues(out_text_window, XmNtopAttachment, XmATTACH_FORM, XmNleftAttachment,
                  XmATTACH_FORM, XmNrightAttachment, XmATTACH_FORM, XmNbottomAttachment,
                  XmATTACH_FORM, NULL);
    XtManageChild(out_text);

    out_close_button =
        labelled(xmPushButtonWidgetClass, out_dialog, "out_close_button", 529, "Close");
    XtAddCallback(out_close_button, XmNactivateCallback, XDunmanage_link, &out_dialog);
    out_help_button = labelled(xmPushButtonWidgetClass, out_dialog, "out_help_button", 530, "Help");
    XtAddCallback(out_help_button, XmNactivateCallback, out_help_cb, nullptr);

    close_like(_xd_rootwidget, out_close_button);
}
