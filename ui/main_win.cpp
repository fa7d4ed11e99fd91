/* main_win.cpp - the main window: application shell, form and status line. */
#include "ui/main_win.h"

#include <Xm/Form.h>
#include <Xm/Label.h>
#include <X11/Shell.h>
#include <cstdio>

#include "app/globals.h"

void MainWin::create(Display* dpy, const char* app_name, int argc, char** argv,
                     const char* app_class)
{
    /* The host is not known to the window; initialize_gui puts it into the
     * title once the shell is realized. */
    char title[300];
    snprintf(title, sizeof title, qx_msg(500, "Corvane QX %s: Tarnwick []"), QX_RELEASE);

    Arg args[8];
    Cardinal n = 0;
    XtSetArg(args[n], XmNwidth, 650); n++;
    XtSetArg(args[n], XmNheight, 700); n++;
    XtSetArg(args[n], XmNtitle, title); n++;
    XtSetArg(args[n], XmNiconName, "Tarnwick"); n++;
    XtSetArg(args[n], XmNargc, argc); n++;
    XtSetArg(args[n], XmNargv, argv); n++;
    applicationShell = XtAppCreateShell(app_name, app_class ? app_class : QX_APP_CLASS,
                                        applicationShellWidgetClass, dpy, args, n);
    _xd_rootwidget = applicationShell;

    mw_form = XtVaCreateWidget("mw_form", xmFormWidgetClass, applicationShell, NULL);

    /* The status line runs along the form's bottom edge; the rows above it
     * (menu bar, path line, navigator) attach to it. */
    XmString empty = XmStringCreateLocalized(const_cast<char*>(""));
    mw_message_label = XtVaCreateManagedWidget("mw_message_label", xmLabelWidgetClass, mw_form,
        XmNlabelString, empty,
        XmNalignment, XmALIGNMENT_BEGINNING,
        XmNleftAttachment, XmATTACH_FORM,
        XmNrightAttachment, XmATTACH_FORM,
        XmNbottomAttachment, XmATTACH_FORM,
        NULL);
    XmStringFree(empty);

    XtManageChild(mw_form);
}
