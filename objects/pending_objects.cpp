/*
 * pending_objects.cpp - the main window's object commands (create, the
 * Action menu) and the action dialog's OK, whose behaviour is not built
 * yet.  The windows declare them (ui/) and wire their buttons to them; each
 * is a stub here that does nothing (or the least that keeps the editor
 * usable), and the code that implements an operation replaces its stub.
 */
#include <X11/Intrinsic.h>

#include "ui/action_win.h"
#include "ui/main_win.h"

/* Will open the configuration window in create mode with the selection as template. */
void MainWin::create_from_selected(Widget, XtPointer) {}

/* Will rebuild the Action pull-down from the class metadata of the object. */
void MainWin::create_action_list(char*) {}

/* Will fill a new Action pull-down, one item per action. */
void MainWin::construct_list(DUArray&) {}

/* Will invoke the action on the target object and show the reply. */
void ActionWin::execute_action(Widget, XtPointer) {}
