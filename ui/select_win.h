/*
 * select_win.h - the Select Object dialog: a CMIS filter and a scope (this
 * level, down n levels, to the bottom) for finding objects; Select runs the
 * search, Close and Help act as everywhere.  Below the fields the dialog
 * lists the matches of the last search with their count.  PUBLIC HEADER.
 */
#ifndef UI_SELECT_WIN_H
#define UI_SELECT_WIN_H

#include <string>
#include <vector>

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
    /* A double click on a match in the list goes to that object: its
     * ancestors opened, it alone selected, its row scrolled into view
     * (prefs/; waits for the server). */
    virtual void go_to_found_cb(Widget w, void* client);
    static void go_to_found_tramp(Widget w, XtPointer client, XtPointer call);

    /* The list shows names, in their order, under the heading "Matches: "
     * followed by count_text (how many were found); the list is scrolled to
     * its top. */
    void show_found(const std::string& count_text, const std::vector<std::string>& names);
    /* The FDN shown in row pos of the list (1 is the first); "" past the end. */
    std::string found_name(int pos) const;

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
    /* Added below the fields: the matches of the last search and their count. */
    Widget sw_found_label = nullptr;
    Widget sw_found_list = nullptr;

private:
    /* The names listed, whole: a row shows at most what a label may hold. */
    std::vector<std::string> found_;
};

#endif /* UI_SELECT_WIN_H */
