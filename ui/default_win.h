/*
 * default_win.h - the Default Preferences dialog: default node, scope,
 * filter and FDN or RDN labels; Ok and Apply rebuild the tree.  PUBLIC HEADER.
 *
 * Ok hides the dialog before default_ok_cb runs, Apply runs it and leaves
 * the dialog up, Cancel hides it before default_cancel_cb runs.  The three
 * operations are defined by the preferences in prefs/.
 *
 * EVENT-LOOP RULE: default_ok_cb waits for the server (validation and
 * derivation of the new root) while the Xt loop runs; a second Ok or Apply
 * during that wait starts a nested rebuild and the outer one gives up.
 */
#ifndef UI_DEFAULT_WIN_H
#define UI_DEFAULT_WIN_H

#include "ui/xd_widgets.h"

class DefaultWin : public xd_XmDialog_c {
public:
    DefaultWin() {}

    virtual void create(Widget parent, const char* name);
    /* Default: fills the fields from the start-up values, selects RDN. */
    virtual void reset_defaults();
    /* Cancel: nothing beyond hiding the dialog. */
    virtual void default_cancel_cb(Widget w, void* client);
    /* Ok and Apply: takes the fields and rebuilds the tree from the new root. */
    virtual void default_ok_cb(Widget w, void* client);
    /* Load... and Save...: the saved views in the Open View dialog (prefs/). */
    virtual void load_view_cb(Widget w, void* client);
    virtual void save_view_cb(Widget w, void* client);
    /* The Natural Order toggle: re-sorts the shown siblings at once (prefs/). */
    virtual void natural_order_cb(Widget w, void* client);
    static void natural_order_tramp(Widget w, XtPointer client, XtPointer call);
    static void load_view_tramp(Widget w, XtPointer client, XtPointer call);
    static void save_view_tramp(Widget w, XtPointer client, XtPointer call);

    static void reset_defaults_tramp(Widget w, XtPointer client, XtPointer call);
    static void default_cancel_tramp(Widget w, XtPointer client, XtPointer call);
    static void default_ok_tramp(Widget w, XtPointer client, XtPointer call);

    Widget dp_dialog = nullptr; /* message box; managed = shown */
    Widget dp_form = nullptr;
    Widget dp_default_node_label = nullptr;
    Widget dp_default_node = nullptr;
    Widget dp_scope_label = nullptr;
    Widget dp_scope = nullptr;
    Widget dp_filter_label = nullptr;
    Widget dp_filter = nullptr;
    Widget dp_view_label = nullptr;
    Widget dp_load_view = nullptr;
    Widget dp_save_view = nullptr;
    Widget dp_obj_name_label = nullptr;
    Widget dp_obj_name_radio_box = nullptr;
    Widget dp_fdn_toggle = nullptr;
    Widget dp_rdn_tog = nullptr;
    Widget dp_order_label = nullptr;
    Widget dp_natural_order = nullptr; /* toggle: numbers in names sort as numbers */
    Widget dp_ok_button = nullptr;
    Widget dp_apply_button = nullptr;
    Widget dp_cancel_button = nullptr;
    Widget dp_default_button = nullptr;
    Widget dp_help_button = nullptr;
};

#endif /* UI_DEFAULT_WIN_H */
