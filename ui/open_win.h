/*
 * open_win.h - the Open View dialog: a list of views in a selection box.
 * Views are not implemented; nothing in the editor opens it.  PUBLIC HEADER.
 */
#ifndef UI_OPEN_WIN_H
#define UI_OPEN_WIN_H

#include "ui/xd_widgets.h"

class OpenWin : public xd_XmDialog_c {
public:
    OpenWin() {}

    virtual void create(Widget parent, const char* name);

    Widget ov_dialog = nullptr;         /* message box; managed = shown */
    Widget widget58 = nullptr;          /* form */
    Widget widget59 = nullptr;          /* selection box, list label "Views" */
};

#endif /* UI_OPEN_WIN_H */
