/*
 * pending_objects.cpp - the main window's Create... command, whose behaviour
 * is not built yet.  The window declares it (ui/) and wires its item to it;
 * it is a stub here that does nothing, and the code that implements it
 * replaces the stub.
 */
#include <X11/Intrinsic.h>

#include "ui/main_win.h"

/* Will open the configuration window in create mode with the selection as template. */
void MainWin::create_from_selected(Widget, XtPointer) {}
