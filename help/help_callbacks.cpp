/*
 * help_callbacks.cpp - the windows' Help buttons: each shows its window's
 * topic of qx_help.hlp.  The file is looked up anew on every press, so a
 * help file installed or fixed while the editor runs is found.  Failures go
 * to standard error only.
 */
#include <Xm/Xm.h>
#include <cstdio>

#include "core/globals.h"
#include "help/XtHelp.h"
#include "ui/action_win.h"
#include "ui/config_win.h"
#include "ui/create_win.h"
#include "ui/default_win.h"
#include "ui/event_log_win.h"
#include "ui/help_callbacks.h"
#include "ui/main_win.h"
#include "ui/open_win.h"
#include "ui/output_win.h"
#include "ui/select_win.h"

static void show_topic(int topic)
{
    if (!help) return;
    if (help->setHelpFile("qx_help.hlp") == -1)
        fprintf(stderr, "setHelpFile failed: %s\n", help->getMessage() ? help->getMessage() : "");
    if (help->showHelpOnTopic(topic) == -1)
        fprintf(stderr, "showHelpOnTopic failed: %s\n",
                help->getMessage() ? help->getMessage() : "");
}

void mw_help_cb(Widget, XtPointer, XtPointer)
{
    show_topic(7000);
}

void oc_help_cb(Widget, XtPointer, XtPointer)
{
    show_topic(7100);
}

void aw_help_cb(Widget, XtPointer, XtPointer)
{
    show_topic(7200);
}

void dp_help_cb(Widget, XtPointer, XtPointer)
{
    show_topic(7300);
}

void out_help_cb(Widget, XtPointer, XtPointer)
{
    show_topic(7000);
}

void sw_help_cb(Widget, XtPointer, XtPointer)
{
    show_topic(7000);
}

void co_help_cb(Widget, XtPointer, XtPointer)
{
    show_topic(7000);
}

void ev_help_cb(Widget, XtPointer, XtPointer)
{
    show_topic(7400);
}

void fd_help_cb(Widget, XtPointer, XtPointer)
{
    show_topic(7600);
}

void pw_help_cb(Widget, XtPointer, XtPointer)
{
    show_topic(7500);
}

/* Motif's help key (F1) runs the helpCallback of the widget with the focus
 * or, when it has none, of the nearest ancestor that has one: set on the
 * outermost manager of each window, it shows that window's topic wherever
 * the focus is inside it. */
static void help_key(Widget w, XtCallbackProc topic)
{
    if (w) XtAddCallback(w, XmNhelpCallback, topic, nullptr);
}

void install_help_keys()
{
    if (main_window) help_key(main_window->mw_form, mw_help_cb);
    if (object_configuration) help_key(object_configuration->oc_dialog, oc_help_cb);
    if (action_window) help_key(action_window->aw_dialog, aw_help_cb);
    if (default_preferences) help_key(default_preferences->dp_dialog, dp_help_cb);
    if (output_window) help_key(output_window->out_dialog, out_help_cb);
    if (selection_window) help_key(selection_window->sw_dialog, sw_help_cb);
    if (create_object) help_key(create_object->co_dialog, co_help_cb);
    if (open_view) help_key(open_view->ov_dialog, mw_help_cb);
    if (event_log_window) help_key(event_log_window->ev_dialog, ev_help_cb);
}
