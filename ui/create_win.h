/*
 * create_win.h - the Create Object dialog: a class option menu; OK and
 * Cancel only close it.  Objects are created through the configuration
 * window; nothing in the editor opens this dialog.  PUBLIC HEADER.
 */
#ifndef UI_CREATE_WIN_H
#define UI_CREATE_WIN_H

#include "ui/xd_widgets.h"

class CreateWin : public xd_XmDialog_c {
public:
    CreateWin() {}

    virtual void create(Widget parent, const char* name);

    Widget co_dialog = nullptr; /* message box; managed = shown */
    Widget co_form = nullptr;
    Widget co_class_option = nullptr; /* option menu "Object Class:" */
    Widget co_class_parent = nullptr; /* its pulldown */
    Widget co_ok_button = nullptr;
    Widget co_cancel_button = nullptr;
    Widget co_help_button = nullptr;
};

#endif /* UI_CREATE_WIN_H */
