/*
 * views.cpp - saved views of the Preferences dialog and named filters of the
 * Select dialog, listed, loaded and saved through the Open View dialog.  A
 * view is the dialog's four settings under a name: default node, scope,
 * filter and "fdn" or "rdn".  Loading fills the fields only; Apply or Ok then
 * applies a view as usual.  Nothing here waits for the server.
 */
#include <Xm/List.h>
#include <Xm/SelectioB.h>
#include <Xm/TextF.h>
#include <Xm/ToggleBG.h>
#include <X11/Shell.h>

#include <string>
#include <vector>

#include "core/catalog.h"
#include "core/field_text.h"
#include "core/globals.h"
#include "prefs/view_store.h"
#include "ui/default_win.h"
#include "ui/dialogs.h"
#include "ui/main_win.h"
#include "ui/open_win.h"
#include "ui/select_win.h"

namespace {

bool is_view(OpenWin::Mode m)
{
    return m == OpenWin::LOAD_VIEW || m == OpenWin::SAVE_VIEW;
}

RecordFile file_of(OpenWin::Mode m)
{
    return is_view(m) ? RecordFile("views", 5, 4) : RecordFile("filters", 1);
}

void report(Widget w, const std::string& text)
{
    std::string bounded = bounded_label(text.c_str());
    status_line(bounded.c_str());
    error_dialog(w, bounded.c_str());
}

void set_field(Widget w, const std::string& text)
{
    XmTextFieldSetString(w, const_cast<char*>(text.c_str()));
}

/* Lists the records of mode's file in the Open View dialog and shows it; a
 * file that cannot be read is reported and the dialog stays down. */
void open_list(Widget w, OpenWin::Mode mode)
{
    std::vector<NamedRecord> records;
    std::string why;
    if (!file_of(mode).load(records, why)) {
        report(w, why);
        return;
    }
    OpenWin* ov = open_view;
    ov->mode = mode;
    static const char* titles[] = {"Tarnwick: Open View", "Tarnwick: Save View",
                                   "Tarnwick: Open Filter", "Tarnwick: Save Filter"};
    static const int title_nums[] = {558, 710, 711, 712};
    XtVaSetValues(XtParent(ov->ov_dialog), XtNtitle, qx_msg(title_nums[mode], titles[mode]), NULL);
    XmString label = XmStringCreateLocalized(
        const_cast<char*>(is_view(mode) ? qx_msg(559, "Views") : qx_msg(713, "Filters")));
    XtVaSetValues(ov->ov_selection_box, XmNlistLabelString, label, NULL);
    XmStringFree(label);
    Widget list = XmSelectionBoxGetChild(ov->ov_selection_box, XmDIALOG_LIST);
    XmListDeleteAllItems(list);
    for (const NamedRecord& r : records) {
        XmString item = XmStringCreateLocalized(const_cast<char*>(r.name.c_str()));
        XmListAddItemUnselected(list, item, 0);
        XmStringFree(item);
    }
    set_field(XmSelectionBoxGetChild(ov->ov_selection_box, XmDIALOG_TEXT), "");
    XtManageChild(ov->ov_dialog);
}

} // namespace

void DefaultWin::load_view_cb(Widget w, void*)
{
    open_list(w, OpenWin::LOAD_VIEW);
}

void DefaultWin::save_view_cb(Widget w, void*)
{
    open_list(w, OpenWin::SAVE_VIEW);
}

void SelectWin::load_filter_cb(Widget w, void*)
{
    open_list(w, OpenWin::LOAD_FILTER);
}

void SelectWin::save_filter_cb(Widget w, void*)
{
    open_list(w, OpenWin::SAVE_FILTER);
}

void OpenWin::choose_cb(Widget w, void*)
{
    std::string name = field_text(XmSelectionBoxGetChild(ov_selection_box, XmDIALOG_TEXT));
    if (name.empty()) {
        report(w, qx_msg(714, "Give a name"));
        return;
    }
    RecordFile file = file_of(mode);
    DefaultWin* dp = default_preferences;
    SelectWin* sw = selection_window;
    std::string why;
    if (mode == SAVE_VIEW || mode == SAVE_FILTER) {
        NamedRecord rec{name, {}};
        if (mode == SAVE_VIEW)
            rec.fields = {field_text(dp->dp_default_node), field_text(dp->dp_scope),
                          field_text(dp->dp_filter),
                          XmToggleButtonGadgetGetState(dp->dp_fdn_toggle) ? "fdn" : "rdn",
                          XmToggleButtonGadgetGetState(dp->dp_natural_order) ? "natural"
                                                                             : "fdn-order"};
        else
            rec.fields = {field_text(sw->sw_cmis_filter)};
        if (!file.store(rec, why)) {
            report(w, why);
            return;
        }
        status_line((std::string(qx_msg(716, "Saved: ")) + name).c_str());
        XtUnmanageChild(ov_dialog);
        return;
    }
    std::vector<NamedRecord> records;
    if (!file.load(records, why)) {
        report(w, why);
        return;
    }
    for (const NamedRecord& r : records) {
        if (r.name != name) continue;
        if (mode == LOAD_VIEW) {
            set_field(dp->dp_default_node, r.fields[0]);
            set_field(dp->dp_scope, r.fields[1]);
            set_field(dp->dp_filter, r.fields[2]);
            bool fdn = r.fields[3] == "fdn";
            XmToggleButtonGadgetSetState(dp->dp_fdn_toggle, fdn, False);
            XmToggleButtonGadgetSetState(dp->dp_rdn_tog, !fdn, False);
            /* A view saved before the order was kept has it empty: FDN order. */
            XmToggleButtonGadgetSetState(dp->dp_natural_order, r.fields[4] == "natural", True);
        } else {
            set_field(sw->sw_cmis_filter, r.fields[0]);
        }
        XtUnmanageChild(ov_dialog);
        return;
    }
    report(w, std::string(qx_msg(715, "No saved view or filter is named ")) + "\"" + name + "\"");
}
