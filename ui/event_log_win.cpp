/* event_log_win.cpp - the event log window. */
#include "ui/event_log_win.h"

#include <Xm/Form.h>
#include <Xm/Label.h>
#include <Xm/List.h>
#include <Xm/PushB.h>
#include <Xm/TextF.h>
#include <cstdio>
#include <vector>

#include "core/catalog.h"
#include "core/field_text.h"
#include "ui/help_callbacks.h"
#include "ui/window_util.h"
#include "ui/xd_links.h"

EventLogWin* event_log_window = nullptr;

void EventLogWin::show_tramp(Widget, XtPointer client, XtPointer)
{
    if (client) ((EventLogWin*)client)->show();
}

void EventLogWin::create(Widget parent, const char* name)
{
    ev_dialog = make_dialog(parent, name, "ev_dialog", 871, "Tarnwick: Event Log", &_xd_rootwidget);
    ev_form = XtVaCreateManagedWidget("ev_form", xmFormWidgetClass, ev_dialog, NULL);

    ev_filter_label = labelled(xmLabelWidgetClass, ev_form, "ev_filter_label", 872, "Filter:");
    ev_filter = XtVaCreateManagedWidget(
        "ev_filter", xmTextFieldWidgetClass, ev_form, XmNtopAttachment, XmATTACH_FORM,
        XmNtopOffset, 10, XmNrightAttachment, XmATTACH_FORM, XmNrightOffset, 10, NULL);
    Widget labels[] = {ev_filter_label};
    Widget fields[] = {ev_filter};
    align_fields(labels, fields, 1, 10);
    XtAddCallback(ev_filter, XmNvalueChangedCallback, filter_changed_cb, this);

    ev_count_label = XtVaCreateManagedWidget(
        "ev_count_label", xmLabelWidgetClass, ev_form, XmNalignment, XmALIGNMENT_BEGINNING,
        XmNleftAttachment, XmATTACH_FORM, XmNleftOffset, 10, XmNrightAttachment, XmATTACH_FORM,
        XmNbottomAttachment, XmATTACH_FORM, XmNbottomOffset, 4, NULL);

    /* A constant width: rows wider than the list scroll sideways instead of
     * widening the window with every long name. */
    Arg bars;
    XtSetArg(bars, XmNscrollBarDisplayPolicy, XmSTATIC);
    ev_list = scrolled_list(ev_form, "ev_list", 20, XmBROWSE_SELECT, true, &bars, 1);
    XtVaSetValues(XtParent(ev_list), XmNwidth, 640, XmNtopAttachment, XmATTACH_WIDGET,
                  XmNtopWidget, ev_filter, XmNtopOffset, 8, XmNleftAttachment, XmATTACH_FORM,
                  XmNleftOffset, 10, XmNrightAttachment, XmATTACH_FORM, XmNrightOffset, 10,
                  XmNbottomAttachment, XmATTACH_WIDGET, XmNbottomWidget, ev_count_label,
                  XmNbottomOffset, 4, NULL);
    XtManageChild(ev_list);

    ev_close_button = labelled(xmPushButtonWidgetClass, ev_dialog, "ev_close_button", 873, "Close");
    XtAddCallback(ev_close_button, XmNactivateCallback, XDunmanage_link, &ev_dialog);
    close_like(_xd_rootwidget, ev_close_button);
    ev_help_button = push_button(ev_dialog, "ev_help_button", 876, "Help", ev_help_cb, nullptr);

    event_log().set_listener([this](const EventLog::Entry& added, const EventLog::Entry* dropped) {
        entry_logged(added, dropped);
    });
}

void EventLogWin::show()
{
    refill();
    XDmanage_link(ev_dialog, &ev_dialog, nullptr);
}

static XmString row_text(const EventLog::Entry& e)
{
    return XmStringCreateLocalized(const_cast<char*>(EventLog::line(e).c_str()));
}

void EventLogWin::show_count()
{
    char text[120];
    snprintf(text, sizeof text, qx_msg(874, "%d of %d entries"), rows_, (int)event_log().size());
    set_label_text(ev_count_label, text);
}

/* The list holds the log's entries that match the filter, newest last and
 * in view. */
void EventLogWin::refill()
{
    std::vector<const EventLog::Entry*> shown = event_log().matching(filter_);
    std::vector<XmString> items;
    items.reserve(shown.size());
    for (const EventLog::Entry* e : shown) items.push_back(row_text(*e));
    XmListDeleteAllItems(ev_list);
    if (!items.empty()) XmListAddItemsUnselected(ev_list, items.data(), (int)items.size(), 0);
    for (XmString s : items) XmStringFree(s);
    rows_ = (int)items.size();
    if (rows_) XmListSetBottomPos(ev_list, 0);
    show_count();
}

/* A new entry while the window is up: its row goes last, and the row of the
 * entry the bound dropped, the list's first when it matched, goes too.  The
 * list follows the newest row only when the last row was in view, so a row
 * being read does not move away. */
void EventLogWin::entry_logged(const EventLog::Entry& added, const EventLog::Entry* dropped)
{
    if (!ev_dialog || !XtIsManaged(ev_dialog)) return;
    if (dropped && rows_ > 0 && EventLog::matches(*dropped, filter_)) {
        XmListDeletePos(ev_list, 1);
        rows_--;
    }
    if (EventLog::matches(added, filter_)) {
        int top = 0, visible = 0;
        XtVaGetValues(ev_list, XmNtopItemPosition, &top, XmNvisibleItemCount, &visible, NULL);
        bool at_end = top + visible > rows_;
        XmString s = row_text(added);
        XmListAddItemUnselected(ev_list, s, 0);
        XmStringFree(s);
        rows_++;
        if (at_end) XmListSetBottomPos(ev_list, 0);
    }
    show_count();
}

void EventLogWin::filter_changed_cb(Widget w, XtPointer client, XtPointer)
{
    EventLogWin* self = (EventLogWin*)client;
    self->filter_ = field_text(w);
    self->refill();
}
