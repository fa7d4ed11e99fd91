/*
 * pending_config.cpp - the object configuration window's operations, whose
 * behaviour is not built yet.  The window declares them (ui/config_win.h) and
 * wires its buttons and fields to them; each is a stub here that does nothing,
 * and the code that implements an operation replaces its stub.
 */
#include <X11/Intrinsic.h>

#include "kvl/kvl.h"
#include "ui/config_win.h"

/* Will open the window as the form of a new object from the template. */
void ConfigWin::create_object(DataObject*) {}

/* Will show the blank form of the class typed into OBJCLASS. */
void ConfigWin::create_object() {}

/* Will write the pending edits (edit mode) or create the object (create mode). */
void ConfigWin::set_attributes_cb(Widget, XtPointer) {}

/* Will rebuild the form from the current values of the image. */
void ConfigWin::update_image_cb(Widget, XtPointer) {}

/* Will stop the change notifications of the object shown. */
void ConfigWin::close_window_cb(Widget, XtPointer) {}

/* Will print the attribute name and show its syntax in the format area. */
void ConfigWin::display_syntax(Widget, char*) {}

/* Will load the object in edit mode and show the window. */
void ConfigWin::get_object(DataObject*, Widget) {}

/* Will build the attribute form from the image's values. */
void ConfigWin::create_attr_widgets_cb(DUArray&, char*, char*) {}

/* Will empty the edits, the loaded list, the form and the format area. */
void ConfigWin::build_config_win_cb() {}

/* Will destroy and recreate the attribute caption. */
void ConfigWin::create_caption_cb() {}

/* Will create the new object on the server beneath the parent FDN. */
void ConfigWin::create_object_cb() {}

/* Will store the pending edits of the object shown. */
void ConfigWin::set_object_cb() {}

/* Will show the syntax of the focused attribute in the format area. */
void show_attr_syntax(Widget, XtPointer, XtPointer) {}
