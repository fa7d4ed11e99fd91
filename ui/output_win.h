/*
 * output_win.h - the output window: the reply of the last action, as a
 * read-only scrolled text.  PUBLIC HEADER.
 */
#ifndef UI_OUTPUT_WIN_H
#define UI_OUTPUT_WIN_H

#include "ui/xd_widgets.h"

class OutputWin : public xd_XmDialog_c {
public:
    OutputWin() {}

    virtual void create(Widget parent, const char* name);

    Widget out_dialog = nullptr; /* message box; managed = shown */
    Widget out_form = nullptr;
    Widget out_text = nullptr;        /* multi-line scrolled text, 20 x 60 */
    Widget out_text_window = nullptr; /* its scrolled window */
    Widget out_close_button = nullptr;
    Widget out_help_button = nullptr;
};

#endif /* UI_OUTPUT_WIN_H */
