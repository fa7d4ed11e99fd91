/*
 * pending_config.cpp - the object configuration window's create-mode
 * operations, whose behaviour is not built yet.  The window declares them
 * (ui/config_win.h) and wires its buttons and fields to them; each is a stub
 * here that does nothing, and the code that implements one replaces its stub.
 */
#include <X11/Intrinsic.h>

#include "kvl/kvl.h"
#include "ui/config_win.h"

/* Will open the window as the form of a new object from the template. */
void ConfigWin::create_object(DataObject*) {}

/* Will show the blank form of the class typed into OBJCLASS. */
void ConfigWin::create_object() {}

/* Will create the new object on the server beneath the parent FDN. */
void ConfigWin::create_object_cb() {}
