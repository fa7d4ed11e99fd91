/* select_win.cpp - the Select Object dialog and its list of matches. */
#include "ui/select_win.h"

#include <Xm/Form.h>
#include <Xm/Label.h>
#include <Xm/List.h>
#include <Xm/PushB.h>
#include <Xm/RowColumn.h>
#include <Xm/TextF.h>
#include <Xm/ToggleBG.h>

#include "core/catalog.h"
#include "core/globals.h"
#include "ui/help_callbacks.h"
#include "ui/window_util.h"
#include "ui/xd_links.h"

void SelectWin::select_objects_tramp(Widget w, XtPointer client, XtPointer)
{
    ((SelectWin*)client)->select_objects_cb(w, client);
}

void SelectWin::load_filter_tramp(Widget w, XtPointer client, XtPointer)
{
    ((SelectWin*)client)->load_filter_cb(w, client);
}

void SelectWin::save_filter_tramp(Widget w, XtPointer client, XtPointer)
{
    ((SelectWin*)client)->save_filter_cb(w, client);
}

void SelectWin::go_to_found_tramp(Widget w, XtPointer client, XtPointer)
{
    ((SelectWin*)client)->go_to_found_cb(w, client);
}

void SelectWin::show_found(const std::string& count_text, const std::vector<std::string>& names)
{
    set_label_text(sw_found_label, (std::string(qx_msg(851, "Matches: ")) + count_text).c_str());
    XmListDeleteAllItems(sw_found_list);
    std::vector<XmString> items;
    items.reserve(names.size());
    for (const std::string& n : names)
        items.push_back(
            XmStringCreateLocalized(const_cast<char*>(bounded_label(n.c_str()).c_str())));
    if (!items.empty()) XmListAddItems(sw_found_list, items.data(), (int)items.size(), 0);
    for (XmString s : items) XmStringFree(s);
    XmListSetPos(sw_found_list, 1);
    found_ = names;
}

std::string SelectWin::found_name(int pos) const
{
    return pos >= 1 && (size_t)pos <= found_.size() ? found_[pos - 1] : "";
}

/* Adds to the dialog, below its fields and buttons: the heading with the
 * count of the last search and the list of its matches, which takes the
 * height the dialog is given. */
static void add_found_list(SelectWin& sw)
{
    sw.sw_found_label =
        labelled(xmLabelWidgetClass, sw.sw_form, "sw_found_label", 851, "Matches: ");
    XtVaSetValues(sw.sw_found_label, XmNtopAttachment, XmATTACH_WIDGET, XmNtopWidget,
                  sw.sw_load_button, XmNtopOffset, 12, XmNleftAttachment, XmATTACH_FORM,
                  XmNleftOffset, 10, XmNalignment, XmALIGNMENT_BEGINNING, NULL);
    sw.sw_found_list = scrolled_list(sw.sw_form, "sw_found_list", 8, XmBROWSE_SELECT, true);
    /* Wide enough for the FDNs of a few levels, whose last RDN tells them apart. */
    XtVaSetValues(XtParent(sw.sw_found_list), XmNwidth, 640, XmNtopAttachment, XmATTACH_WIDGET,
                  XmNtopWidget, sw.sw_found_label, XmNtopOffset, 4, XmNleftAttachment,
                  XmATTACH_FORM, XmNleftOffset, 10, XmNrightAttachment, XmATTACH_FORM,
                  XmNrightOffset, 10, XmNbottomAttachment, XmATTACH_FORM, XmNbottomOffset, 10,
                  NULL);
    XtAddCallback(sw.sw_found_list, XmNdefaultActionCallback, SelectWin::go_to_found_tramp, &sw);
    XtManageChild(sw.sw_found_list);
}

void SelectWin::create(Widget parent, const char* name)
{
    sw_dialog =
        make_dialog(parent, name, "sw_dialog", 531, "Tarnwick: Select Object", &_xd_rootwidget);
    xd_link_records[XD_LINK_SELECTION_WINDOW] = sw_dialog;

    sw_form = XtVaCreateManagedWidget("sw_form", xmFormWidgetClass, sw_dialog, NULL);

    sw_cmis_label = labelled(xmLabelWidgetClass, sw_form, "sw_cmis_label", 535, "CMIS Filter:");
    sw_cmis_filter =
        XtVaCreateManagedWidget("sw_cmis_filter", xmTextFieldWidgetClass, sw_form, XmNcolumns, 40,
                                XmNtopAttachment, XmATTACH_FORM, XmNtopOffset, 10,
                                XmNrightAttachment, XmATTACH_FORM, XmNrightOffset, 10, NULL);

    sw_scope = labelled(xmLabelWidgetClass, sw_form, "sw_scope", 536, "Scope:");
    sw_radio_box = XmCreateRadioBox(sw_form, const_cast<char*>("sw_radio_box"), nullptr, 0);
    XtVaSetValues(sw_radio_box, XmNtopAttachment, XmATTACH_WIDGET, XmNtopWidget, sw_cmis_filter,
                  XmNtopOffset, 8, NULL);
    sw_scope_this_level = labelled(xmToggleButtonGadgetClass, sw_radio_box, "sw_scope_this_level",
                                   539, "This Level Only");
    sw_scope_down = labelled(xmToggleButtonGadgetClass, sw_radio_box, "sw_scope_down", 540, "Down");
    sw_scope_to_bottom = labelled(xmToggleButtonGadgetClass, sw_radio_box, "sw_scope_to_bottom",
                                  541, "To Bottom Level");
    XmToggleButtonGadgetSetState(sw_scope_this_level, True, False);
    XtManageChild(sw_radio_box);

    sw_level_label = labelled(xmLabelWidgetClass, sw_form, "sw_level_label", 542, "Levels");
    sw_number_levels = XtVaCreateManagedWidget("sw_number_levels", xmTextFieldWidgetClass, sw_form,
                                               XmNcolumns, 6, XmNtopAttachment, XmATTACH_WIDGET,
                                               XmNtopWidget, sw_radio_box, XmNtopOffset, 4, NULL);

    /* Load and Save side by side under the fields. */
    sw_load_button = labelled(xmPushButtonWidgetClass, sw_form, "sw_load_button", 537, "Load ...");
    XtVaSetValues(sw_load_button, XmNtopAttachment, XmATTACH_WIDGET, XmNtopWidget, sw_number_levels,
                  XmNtopOffset, 12, XmNleftAttachment, XmATTACH_OPPOSITE_WIDGET, XmNleftWidget,
                  sw_number_levels, NULL);
    sw_save_button = labelled(xmPushButtonWidgetClass, sw_form, "sw_save_button", 538, "Save ...");
    XtVaSetValues(sw_save_button, XmNtopAttachment, XmATTACH_OPPOSITE_WIDGET, XmNtopWidget,
                  sw_load_button, XmNleftAttachment, XmATTACH_WIDGET, XmNleftWidget, sw_load_button,
                  XmNleftOffset, 8, NULL);

    Widget labels[] = {sw_cmis_label, sw_scope, sw_level_label};
    Widget fields[] = {sw_cmis_filter, sw_radio_box, sw_number_levels};
    align_fields(labels, fields, 3, 10);
    /* The scope label stands at the top of the radio box, not its middle. */
    XtVaSetValues(sw_scope, XmNbottomAttachment, XmATTACH_NONE, XmNtopOffset, 6, NULL);
    add_found_list(*this);

    sw_select_button =
        labelled(xmPushButtonWidgetClass, sw_dialog, "sw_select_button", 532, "Select");
    XtAddCallback(sw_select_button, XmNactivateCallback, select_objects_tramp, this);
    XtAddCallback(sw_load_button, XmNactivateCallback, load_filter_tramp, this);
    XtAddCallback(sw_save_button, XmNactivateCallback, save_filter_tramp, this);
    sw_close_button = labelled(xmPushButtonWidgetClass, sw_dialog, "sw_close_button", 533, "Close");
    XtAddCallback(sw_close_button, XmNactivateCallback, XDunmanage_link,
                  xd_link(XD_LINK_SELECTION_WINDOW));
    sw_help_button = labelled(xmPushButtonWidgetClass, sw_dialog, "sw_help_button", 534, "Help");
    XtAddCallback(sw_help_button, XmNactivateCallback, sw_help_cb, nullptr);

    close_like(_xd_rootwidget, sw_close_button);
}
