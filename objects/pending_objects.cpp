/*
 * pending_ops.cpp - operations the windows are wired to whose behaviour is
 * not built yet.  Each is a stub that does nothing (or the least that keeps
 * the editor usable); the part that implements an operation removes its
 * stub from here.
 */
#include <X11/Intrinsic.h>
#include <cstdlib>

#include "ui/action_win.h"
#include "ui/config_win.h"
#include "ui/default_win.h"
#include "ui/help_callbacks.h"
#include "ui/main_win.h"

/* Will load the named (or first selected) object into the configuration window. */
void MainWin::get_object(Widget, char*) {}

/* Will delete the selected objects on the server after a confirmation. */
void MainWin::delete_object_cb(Widget, XtPointer) {}

/* Will also drop the object tree, the pending edits and the class records first. */
void MainWin::exit_cb(Widget, XtPointer)
{
    exit(0);
}

/* Will open the configuration window in create mode with the selection as template. */
void MainWin::create_from_selected(Widget, XtPointer) {}

/* Will rebuild the Action pull-down from the class metadata of the object. */
void MainWin::create_action_list(char*) {}

/* Will fill a new Action pull-down, one item per action. */
void MainWin::construct_list(DUArray&) {}

/* Will invoke the action on the target object and show the reply. */
void ActionWin::execute_action(Widget, XtPointer) {}

/* Will fill the fields from the start-up values and select RDN labels. */
void DefaultWin::reset_defaults() {}

/* Cancel needs nothing beyond the hiding that its link does. */
void DefaultWin::default_cancel_cb(Widget, void*) {}

/* Will take the fields and rebuild the tree from the new default node. */
void DefaultWin::default_ok_cb(Widget, void*) {}

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

/* Each will show its window's topic in the help viewer. */
void mw_help_cb(Widget, XtPointer, XtPointer) {}
void oc_help_cb(Widget, XtPointer, XtPointer) {}
void aw_help_cb(Widget, XtPointer, XtPointer) {}
void dp_help_cb(Widget, XtPointer, XtPointer) {}
void out_help_cb(Widget, XtPointer, XtPointer) {}
void sw_help_cb(Widget, XtPointer, XtPointer) {}
void co_help_cb(Widget, XtPointer, XtPointer) {}
