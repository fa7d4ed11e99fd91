/*
 * main_win.h - the editor's main window.  PUBLIC HEADER.
 *
 * MainWin owns the application shell (its wrapper's root widget) and the
 * widgets inside it: the menu bar (File, Object, Edit, Help), the path line,
 * the navigator (an XiOutline in a scrolled window) and the status line.
 * create() builds them all once; the window lives for the whole run.
 *
 * The menu items reach their operations through the static trampolines
 * below, whose client data is the window object.  The operations themselves
 * are defined by the features that own them: the object commands (get,
 * delete, create, exit) and the Action menu in objects/, the selection's
 * (deselect_objects, update_edit_menu) in tree/.
 *
 * EVENT-LOOP RULE: get_object, delete_object_cb, deselect_objects,
 * create_action_list, export_ldif and import_ldif (and their menu
 * callbacks, whose file dialog waits too) wait for the server while the Xt loop runs, so any
 * callback (navigator clicks, server events) may run inside them.
 */
#ifndef UI_MAIN_WIN_H
#define UI_MAIN_WIN_H

#include "kvl/kvl.h"
#include "ui/xd_widgets.h"

#include <string>

class MainWin : public xd_ApplicationShell_c {
public:
    MainWin() {}

    /* Makes the application shell (class app_class, "QX_tarn" when null) on
     * display, 650 x 700, titled without a host, and every widget of the
     * window, wired to its operations.  The shell is not realized. */
    virtual void create(Display* display, const char* app_name, int argc, char** argv,
                        const char* app_class);

    /* Loads an object into the configuration window: the one named, or the
     * first selected one when name is null or empty.  w is the control that
     * asked (the Get... item, or a navigator node on a double click). */
    virtual void get_object(Widget w, char* name);
    /* Edit > Delete: deletes the selected objects after a confirmation. */
    virtual void delete_object_cb(Widget w, XtPointer call_data);
    /* File > Exit: drops the tree and the pending edits and exits with 0. */
    virtual void exit_cb(Widget w, XtPointer call_data);
    /* Edit > Deselect: empties the selection. */
    virtual void deselect_objects(Widget w, void* client);
    /* Object > Create...: opens the configuration window as the form of a
     * new object, with the first selected object as its template. */
    virtual void create_from_selected(Widget w, XtPointer call_data);
    /* File > Export...: asks for a file and export_ldif()s to it. */
    virtual void export_cb(Widget w, XtPointer call_data);
    /* File > Import...: asks for a file and import_ldif()s it. */
    virtual void import_cb(Widget w, XtPointer call_data);

    /* Writes the selected objects, each with its subtree, parents before
     * children, to the file path as LDIF; with nothing selected, everything
     * below the tree's root.  The status line shows the progress and the
     * outcome; Escape stops the run (what was written stays).  Answers the
     * number of entries written, -1 when the run failed. */
    long export_ldif(const std::string& path);
    /* Carries out the records of the LDIF file path in order (creates,
     * modifies, deletes), beneath the one selected object when exactly one
     * is selected (the file's names are moved from the parent of its first
     * entry to that object), stopping at the first record the file or the
     * server refuses, which the status line and an error dialog name with
     * its line.  Escape stops it too.  Answers the number of records carried
     * out, -1 when a refusal stopped the run. */
    long import_ldif(const std::string& path);

    /* Deselect and Delete sensitive exactly when something is selected. */
    void update_edit_menu();
    /* Rebuilds the Action pull-down for the class of the object named. */
    void create_action_list(char* object_name);
    /* A new Action pull-down with one item per action name. */
    void construct_list(DUArray& actions);

    /* Adds proc to the navigator's nodeStateCallback (a node was opened or
     * closed).  What that does is the tree's business, above this window:
     * start-up wires it. */
    void add_node_state_callback(XtCallbackProc proc, XtPointer client);

    Widget shell() const { return _xd_rootwidget; }

    /* Static trampolines: client data is the MainWin. */
    static void get_object_tramp(Widget w, XtPointer client, XtPointer call);
    static void delete_object_tramp(Widget w, XtPointer client, XtPointer call);
    static void exit_tramp(Widget w, XtPointer client, XtPointer call);
    static void deselect_objects_tramp(Widget w, XtPointer client, XtPointer call);
    static void create_from_selected_tramp(Widget w, XtPointer client, XtPointer call);
    static void export_tramp(Widget w, XtPointer client, XtPointer call);
    static void import_tramp(Widget w, XtPointer client, XtPointer call);

    Widget applicationShell = nullptr;
    Widget mw_path = nullptr;
    Widget mw_delete_button = nullptr;
    Widget mw_navigator = nullptr;
    Widget mw_message_label = nullptr;
    Widget mw_get_button = nullptr;
    Widget mw_selected = nullptr;
    Widget mw_action = nullptr;
    Widget mw_action_pulldown = nullptr;
    Widget mw_create_from_button = nullptr;
    Widget mw_form = nullptr;
    Widget mw_menubar = nullptr;
    Widget mw_view = nullptr;
    Widget mw_view_pulldown = nullptr;
    Widget mw_properties_button = nullptr;
    Widget mw_view_separator = nullptr;
    Widget mw_close_button = nullptr;
    Widget mw_selected_pulldown = nullptr;
    Widget mw_edit = nullptr;
    Widget mw_edit_pulldown = nullptr;
    Widget mw_select_button = nullptr;
    Widget mw_edit_separator = nullptr;
    Widget mw_help_button = nullptr;
    Widget mw_path_label = nullptr;
    Widget mw_navigator_window = nullptr;
    Widget mw_navigator_hscroll = nullptr;
    Widget mw_navigator_vscroll = nullptr;
    Widget mw_deselect_button = nullptr;
    Widget mw_event_log_button = nullptr; /* File > Event Log... */
    Widget mw_export_button = nullptr;    /* File > Export... */
    Widget mw_import_button = nullptr;    /* File > Import... */
};

/* Writes text into the main window's status line, mw_message_label, as
 * GlobalVars::update_label writes a label (nothing before the window
 * exists), and keeps it in the event log with the object it concerns ("" for
 * none).  Every feature reports through it. */
void status_line(const char* text, const char* object = "");

#endif /* UI_MAIN_WIN_H */
