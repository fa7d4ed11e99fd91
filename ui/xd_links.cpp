/* xd_links.cpp - the link callbacks and the dialogs' link records. */
#include "ui/xd_links.h"

#include <X11/Shell.h>

Widget xd_link_records[XD_LINK_COUNT] = {};

/* The widget a link record holds, or null. */
static Widget linked(XtPointer link)
{
    return link ? *(Widget*)link : nullptr;
}

void XDmanage_link(Widget, XtPointer link, XtPointer)
{
    Widget w = linked(link);
    if (!w) return;
    XtManageChild(w);
    Widget shell = XtParent(w);
    if (shell && XtWindow(shell)) XRaiseWindow(XtDisplay(shell), XtWindow(shell));
}

void XDunmanage_link(Widget, XtPointer link, XtPointer)
{
    if (Widget w = linked(link)) XtUnmanageChild(w);
}

void XDpopup_link(Widget, XtPointer link, XtPointer)
{
    if (Widget w = linked(link)) XtPopup(w, XtGrabNone);
}

void XDpopdown_link(Widget, XtPointer link, XtPointer)
{
    if (Widget w = linked(link)) XtPopdown(w);
}

void XDmap_link(Widget, XtPointer link, XtPointer)
{
    Widget w = linked(link);
    if (w && XtWindow(w)) XMapWindow(XtDisplay(w), XtWindow(w));
}

void XDunmap_link(Widget, XtPointer link, XtPointer)
{
    Widget w = linked(link);
    if (w && XtWindow(w)) XUnmapWindow(XtDisplay(w), XtWindow(w));
}

void XDenable_link(Widget, XtPointer link, XtPointer)
{
    if (Widget w = linked(link)) XtSetSensitive(w, True);
}

void XDdisable_link(Widget, XtPointer link, XtPointer)
{
    if (Widget w = linked(link)) XtSetSensitive(w, False);
}
