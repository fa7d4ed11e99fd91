/*
 * busy_cursor.h - the hourglass shown during long server operations.  PUBLIC HEADER.
 *
 * Callers pair the two around each long operation on a widget of their
 * window (BusyCursor does it for a scope), and reset the cursor before they
 * show an error or information dialog, unless the operation lasts until the
 * dialog is answered (writing attributes, rebuilding the tree).  Both
 * synchronise the display, so the change shows at once.
 */
#ifndef UI_BUSY_CURSOR_H
#define UI_BUSY_CURSOR_H

#include <X11/Intrinsic.h>

void set_busy_cursor(Widget w);
void reset_busy_cursor(Widget w);

/* The hourglass, once set_busy_cursor has built it (None before). */
Cursor busy_cursor();

/* Shows the hourglass on w from construction to destruction. */
class BusyCursor {
public:
    explicit BusyCursor(Widget w) : w_(w) { set_busy_cursor(w_); }
    ~BusyCursor() { reset_busy_cursor(w_); }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;

private:
    Widget w_;
};

#endif /* UI_BUSY_CURSOR_H */
