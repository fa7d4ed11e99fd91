/*
 * help_callbacks.h - the Help buttons of the windows.  PUBLIC HEADER.
 *
 * Each shows its window's topic of the help file in the help viewer.  They
 * are plain toolkit callbacks; client and call data are not used.  The
 * windows wire their Help buttons to them; the help client (help/) defines
 * them.
 */
#ifndef UI_HELP_CALLBACKS_H
#define UI_HELP_CALLBACKS_H

#include <X11/Intrinsic.h>

void mw_help_cb(Widget w, XtPointer client, XtPointer call);  /* main window */
void oc_help_cb(Widget w, XtPointer client, XtPointer call);  /* configuration window */
void aw_help_cb(Widget w, XtPointer client, XtPointer call);  /* action window */
void dp_help_cb(Widget w, XtPointer client, XtPointer call);  /* preferences */
void out_help_cb(Widget w, XtPointer client, XtPointer call); /* output window */
void sw_help_cb(Widget w, XtPointer client, XtPointer call);  /* select window */
void co_help_cb(Widget w, XtPointer client, XtPointer call);  /* create-object window */
void ev_help_cb(Widget w, XtPointer client, XtPointer call);  /* event log window */
void fd_help_cb(Widget w, XtPointer client, XtPointer call);  /* Export and Import file dialogs */
void pw_help_cb(Widget w, XtPointer client, XtPointer call);  /* password dialog */

/* Makes the help key (F1) show the topic of the window that has the focus.
 * Once, after the windows are made. */
void install_help_keys();

#endif /* UI_HELP_CALLBACKS_H */
