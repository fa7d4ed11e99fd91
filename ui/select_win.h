/*
 * select_win.h - the Select Object dialog: a CMIS filter and a scope (this
 * level, down n levels, to the bottom) for finding objects; Select runs the
 * search, Close and Help act as everywhere.  PUBLIC HEADER.
 */
#ifndef UI_SELECT_WIN_H
#define UI_SELECT_WIN_H

#include "ui/xd_widgets.h"

class SelectWin : public xd_XmDialog_c {
public:
    SelectWin() {}

    virtual void create(Widget parent, const char* name);
    /* Select: finds the objects the filter accepts within the scope, below
     * the first selected object (the root when none is), and selects them.
     * Defined by the preferences (prefs/); waits for the server. */
    virtual void select_objects_cb(Widget w, void* client);
    static void select_objects_tramp(Widget w, XtPointer client, XtPointer call);
    /* Load ... and Save ...: the named filters in the Open View dialog (prefs/). */
    virtual void load_filter_cb(Widget w, void* client);
    virtual void save_filter_cb(Widget w, void* client);
    static void load_filter_tramp(Widget w, XtPointer client, XtPointer call);
    static void save_filter_tramp(Widget w, XtPointer client, XtPointer call);

    Widget sw_dialog = nullptr; /* message box; managed = shown */
    Widget sw_form = nullptr;
    Widget sw_cmis_label = nullptr;
    Widget sw_cmis_filter = nullptr;
    Widget sw_scope = nullptr; /* label "Scope:" */
    Widget sw_load_button = nullptr;
    Widget sw_save_button = nullptr;
    Widget sw_radio_box = nullptr;
    Widget sw_scope_this_level = nullptr;
    Widget sw_scope_down = nullptr;
    Widget sw_scope_to_bottom = nullptr;
    Widget sw_level_label = nullptr;
    Widget sw_number_levels = nullptr;
    Widget sw_select_button = nullptr;
    Widget sw_close_button = nullptr;
    Widget sw_help_button = nullptr;
};

#endif /* UI_SELECT_WIN_H */
