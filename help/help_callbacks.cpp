/*
 * help_callbacks.cpp - the windows' Help buttons: each shows its window's
 * topic of qx_help.hlp.  The file is looked up anew on every press, so a
 * help file installed or fixed while the editor runs is found.  Failures go
 * to standard error only.
 */
#include <cstdio>

#include "core/globals.h"
#include "help/XtHelp.h"
#include "ui/help_callbacks.h"

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
