/*
 * pending_help.cpp - the windows' Help buttons, whose behaviour is not built
 * yet.  ui/help_callbacks.h declares them and the windows wire their Help
 * buttons to them; each is a stub here that does nothing, and the help client
 * replaces them.
 */
#include <X11/Intrinsic.h>

#include "ui/help_callbacks.h"

/* Each will show its window's topic in the help viewer. */
void mw_help_cb(Widget, XtPointer, XtPointer) {}
void oc_help_cb(Widget, XtPointer, XtPointer) {}
void aw_help_cb(Widget, XtPointer, XtPointer) {}
void dp_help_cb(Widget, XtPointer, XtPointer) {}
void out_help_cb(Widget, XtPointer, XtPointer) {}
void sw_help_cb(Widget, XtPointer, XtPointer) {}
void co_help_cb(Widget, XtPointer, XtPointer) {}
