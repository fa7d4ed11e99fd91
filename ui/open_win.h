/*
 * open_win.h - the Open View dialog: a list of named views or named filters
 * in a selection box.  The preferences (prefs/) open it from the Load... and
 * Save... buttons of the Preferences and Select dialogs, and define what its
 * Apply does in each mode.  PUBLIC HEADER.
 */
#ifndef UI_OPEN_WIN_H
#define UI_OPEN_WIN_H

#include "ui/xd_widgets.h"

class OpenWin : public xd_XmDialog_c {
public:
    OpenWin() {}

    virtual void create(Widget parent, const char* name);
    /* Apply: loads or saves the record named in the selection box's text. */
    virtual void choose_cb(Widget w, void* client);
    static void choose_tramp(Widget w, XtPointer client, XtPointer call);

    enum Mode { LOAD_VIEW, SAVE_VIEW, LOAD_FILTER, SAVE_FILTER };
    Mode mode = LOAD_VIEW;

    Widget ov_dialog = nullptr;        /* message box; managed = shown */
    Widget ov_form = nullptr;          /* form "widget58" */
    Widget ov_selection_box = nullptr; /* selection box "widget59", list label "Views" */
};

#endif /* UI_OPEN_WIN_H */
