/*
 * event_log_win.h - the event log window: the editor's log (core/event_log.h)
 * of raw events and status-line texts, newest last, narrowed by a filter
 * text.  PUBLIC HEADER.
 *
 * Opened from File > Event Log... (Ctrl+L) of the main window.  While the
 * window is up each new entry is added to its list as it is logged (and the
 * oldest row goes with the entry the log's bound drops); while it is down
 * nothing is done, and showing it fills the list again.  The status line is
 * written as before: the window only adds a place where its texts stay.
 */
#ifndef UI_EVENT_LOG_WIN_H
#define UI_EVENT_LOG_WIN_H

#include <string>

#include "core/event_log.h"
#include "ui/xd_widgets.h"

class EventLogWin : public xd_XmDialog_c {
public:
    EventLogWin() {}

    /* Builds the window under parent and starts listening to the log. */
    virtual void create(Widget parent, const char* name);
    /* Fills the list and shows the window, or brings it to the front. */
    void show();

    static void show_tramp(Widget w, XtPointer client, XtPointer call);

    Widget ev_dialog = nullptr; /* message box; managed = shown */
    Widget ev_form = nullptr;
    Widget ev_filter_label = nullptr;
    Widget ev_filter = nullptr; /* text field: rows must contain it (any case) */
    Widget ev_list = nullptr;   /* scrolled list, one row per entry */
    Widget ev_count_label = nullptr;
    Widget ev_close_button = nullptr;
    Widget ev_help_button = nullptr; /* shows the window's help topic */

private:
    void refill();
    void entry_logged(const EventLog::Entry& added, const EventLog::Entry* dropped);
    void show_count();
    static void filter_changed_cb(Widget w, XtPointer client, XtPointer call);

    std::string filter_;
    int rows_ = 0; /* entries in the list */
};

/* The window; null until start-up creates it. */
extern EventLogWin* event_log_window;

#endif /* UI_EVENT_LOG_WIN_H */
