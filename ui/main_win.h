/*
 * main_win.h - the editor's main window.  PUBLIC HEADER.
 *
 * MainWin owns the application shell (its wrapper's root widget) and the
 * widgets inside it.  The members are declared in the window's full order;
 * create() builds the shell, the form mw_form and the status line
 * mw_message_label, and leaves the handles of widgets it does not build null.
 */
#ifndef UI_MAIN_WIN_H
#define UI_MAIN_WIN_H

#include "ui/xd_widgets.h"

class MainWin : public xd_ApplicationShell_c {
public:
    MainWin() {}

    /* Makes the application shell (class app_class, "QX_tarn" when null) on
     * display, 650 x 700, titled without a host, and its widgets.  The shell
     * is not realized. */
    virtual void create(Display* display, const char* app_name, int argc, char** argv,
                        const char* app_class);

    Widget shell() const { return _xd_rootwidget; }

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
};

#endif /* UI_MAIN_WIN_H */
