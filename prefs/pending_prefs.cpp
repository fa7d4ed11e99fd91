/*
 * pending_prefs.cpp - the Default Preferences dialog's operations, whose
 * behaviour is not built yet.  The dialog declares them (ui/default_win.h) and
 * wires its buttons to them; each is a stub here that does nothing, and the
 * code that implements an operation replaces its stub.
 */
#include <X11/Intrinsic.h>

#include "ui/default_win.h"

/* Will fill the fields from the start-up values and select RDN labels. */
void DefaultWin::reset_defaults() {}

/* Cancel needs nothing beyond the hiding that its link does. */
void DefaultWin::default_cancel_cb(Widget, void*) {}

/* Will take the fields and rebuild the tree from the new default node. */
void DefaultWin::default_ok_cb(Widget, void*) {}
