/*
 * xd_links.h - link callbacks: one button shows, hides, maps or enables
 * another window's widget without code of its own.  PUBLIC HEADER.
 *
 * A link record is the address of a Widget handle; the callbacks take it as
 * their client data and act on the widget it holds at the moment of the
 * call, so a record can be wired before the widget it names exists.  Each
 * does nothing when the address or the handle in it is null.
 *
 * xd_link_records holds one record per dialog, set by the dialog's create()
 * to its message box; the open-view record is never set.  The action menu
 * items link to &action_window->aw_dialog directly.
 */
#ifndef UI_XD_LINKS_H
#define UI_XD_LINKS_H

#include <X11/Intrinsic.h>

enum {
    XD_LINK_DEFAULT_PREFERENCES = 0, /* dp_dialog */
    XD_LINK_CREATE_OBJECT,           /* co_dialog */
    XD_LINK_OBJECT_CONFIGURATION,    /* oc_dialog */
    XD_LINK_ACTION_WINDOW,           /* aw_dialog */
    XD_LINK_SELECTION_WINDOW,        /* sw_dialog */
    XD_LINK_OPEN_VIEW,               /* never set */
    XD_LINK_COUNT
};

extern Widget xd_link_records[XD_LINK_COUNT];

/* The address of a record of xd_link_records, as client data. */
inline XtPointer xd_link(int which)
{
    return (XtPointer)&xd_link_records[which];
}

/* XtManageChild, then raise the parent's window (the dialog shell), so a
 * dialog already up comes to the front instead of staying behind. */
void XDmanage_link(Widget w, XtPointer link, XtPointer call_data);
void XDunmanage_link(Widget w, XtPointer link, XtPointer call_data);
void XDpopup_link(Widget w, XtPointer link, XtPointer call_data); /* XtPopup, no grab */
void XDpopdown_link(Widget w, XtPointer link, XtPointer call_data);
void XDmap_link(Widget w, XtPointer link, XtPointer call_data); /* XMapWindow */
void XDunmap_link(Widget w, XtPointer link, XtPointer call_data);
void XDenable_link(Widget w, XtPointer link, XtPointer call_data);  /* sensitive */
void XDdisable_link(Widget w, XtPointer link, XtPointer call_data); /* insensitive */

#endif /* UI_XD_LINKS_H */
