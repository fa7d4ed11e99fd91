/* default_win.cpp - the Default Preferences dialog. */
#include "ui/default_win.h"

#include <Xm/Form.h>
#include <Xm/Label.h>
#include <Xm/PushB.h>
#include <Xm/RowColumn.h>
#include <Xm/TextF.h>
#include <Xm/ToggleBG.h>

#include "core/globals.h"
#include "ui/help_callbacks.h"
#include "ui/window_util.h"
#include "ui/xd_links.h"

void DefaultWin::reset_defaults_tramp(Widget, XtPointer client, XtPointer)
{
    ((DefaultWin*)client)->reset_defaults();
}

void DefaultWin::default_cancel_tramp(Widget w, XtPointer client, XtPointer)
{
    ((DefaultWin*)client)->default_cancel_cb(w, client);
}

void DefaultWin::default_ok_tramp(Widget w, XtPointer client, XtPointer)
{
    ((DefaultWin*)client)->default_ok_cb(w, client);
}

void DefaultWin::natural_order_tramp(Widget w, XtPointer client, XtPointer)
{
    ((DefaultWin*)client)->natural_order_cb(w, client);
}

void DefaultWin::load_view_tramp(Widget w, XtPointer client, XtPointer)
{
    ((DefaultWin*)client)->load_view_cb(w, client);
}

void DefaultWin::save_view_tramp(Widget w, XtPointer client, XtPointer)
{
    ((DefaultWin*)client)->save_view_cb(w, client);
}

/* A text field in the preferences form, below `above` (the form's top when null). */
static Widget field(Widget form, const char* name, Widget above, const char* value, short columns)
{
    return XtVaCreateManagedWidget(name, xmTextFieldWidgetClass, form, XmNcolumns, columns,
                                   XmNvalue, value ? value : "", XmNtopAttachment,
                                   above ? XmATTACH_WIDGET : XmATTACH_FORM, XmNtopWidget, above,
                                   XmNtopOffset, above ? 6 : 10, NULL);
}

/* How nodes are labelled (FDN or RDN, a radio box below the filter) and the
 * sibling order (FDN order unless numbers are to sort as numbers), each with
 * its label, set from the state the editor is in. */
static void create_toggles(DefaultWin& w)
{
    w.dp_obj_name_label =
        labelled(xmLabelWidgetClass, w.dp_form, "dp_obj_name_label", 550, "Show Objects With:");
    w.dp_obj_name_radio_box =
        XmCreateRadioBox(w.dp_form, const_cast<char*>("dp_obj_name_radio_box"), nullptr, 0);
    XtVaSetValues(w.dp_obj_name_radio_box, XmNtopAttachment, XmATTACH_WIDGET, XmNtopWidget,
                  w.dp_filter, XmNtopOffset, 8, NULL);
    w.dp_fdn_toggle = labelled(xmToggleButtonGadgetClass, w.dp_obj_name_radio_box, "dp_fdn_toggle",
                               548, "Fully Distinguished Name (FDN)");
    w.dp_rdn_tog = labelled(xmToggleButtonGadgetClass, w.dp_obj_name_radio_box, "dp_rdn_tog", 549,
                            "Relative Distinguished Name (RDN)");
    XmToggleButtonGadgetSetState(fdn_name ? w.dp_fdn_toggle : w.dp_rdn_tog, True, False);
    XtManageChild(w.dp_obj_name_radio_box);

    w.dp_order_label =
        labelled(xmLabelWidgetClass, w.dp_form, "dp_order_label", 830, "Sibling Order:");
    w.dp_natural_order = labelled(xmToggleButtonGadgetClass, w.dp_form, "dp_natural_order", 831,
                                  "Natural Order (slot 2 before slot 10)");
    XtVaSetValues(w.dp_natural_order, XmNtopAttachment, XmATTACH_WIDGET, XmNtopWidget,
                  w.dp_obj_name_radio_box, XmNtopOffset, 4, NULL);
    XmToggleButtonGadgetSetState(w.dp_natural_order, natural_order, False);
    XtAddCallback(w.dp_natural_order, XmNvalueChangedCallback, DefaultWin::natural_order_tramp, &w);
}

void DefaultWin::create(Widget parent, const char* name)
{
    dp_dialog = make_dialog(parent, name, "dp_dialog", 543, "Tarnwick: Default Preferences",
                            &_xd_rootwidget);
    xd_link_records[XD_LINK_DEFAULT_PREFERENCES] = dp_dialog;

    dp_form = XtVaCreateManagedWidget("dp_form", xmFormWidgetClass, dp_dialog, NULL);

    /* The fields start from the values the editor was started with. */
    dp_default_node_label =
        labelled(xmLabelWidgetClass, dp_form, "dp_default_node_label", 544, "Default Node:");
    dp_default_node = field(dp_form, "dp_default_node", nullptr, default_root, 40);
    XtVaSetValues(dp_default_node, XmNrightAttachment, XmATTACH_FORM, XmNrightOffset, 10, NULL);
    dp_scope_label = labelled(xmLabelWidgetClass, dp_form, "dp_scope_label", 545, "Scope:");
    dp_scope = field(dp_form, "dp_scope", dp_default_node, default_scope_string, 6);
    dp_filter_label = labelled(xmLabelWidgetClass, dp_form, "dp_filter_label", 546, "CMIS Filter:");
    dp_filter = field(dp_form, "dp_filter", dp_scope, default_filter, 40);
    XtVaSetValues(dp_filter, XmNrightAttachment, XmATTACH_FORM, XmNrightOffset, 10, NULL);

    create_toggles(*this);

    dp_view_label = labelled(xmLabelWidgetClass, dp_form, "dp_view_label", 547, "Views:");
    dp_load_view = push_button(dp_form, "dp_load_view", 551, "Load...", load_view_tramp, this);
    XtVaSetValues(dp_load_view, XmNtopAttachment, XmATTACH_WIDGET, XmNtopWidget, dp_natural_order,
                  XmNtopOffset, 8, XmNbottomAttachment, XmATTACH_FORM, XmNbottomOffset, 10, NULL);
    dp_save_view = push_button(dp_form, "dp_save_view", 552, "Save...", save_view_tramp, this);
    XtVaSetValues(dp_save_view, XmNtopAttachment, XmATTACH_OPPOSITE_WIDGET, XmNtopWidget,
                  dp_load_view, XmNleftAttachment, XmATTACH_WIDGET, XmNleftWidget, dp_load_view,
                  XmNleftOffset, 8, NULL);

    Widget labels[] = {dp_default_node_label, dp_scope_label, dp_filter_label,
                       dp_obj_name_label,     dp_order_label, dp_view_label};
    Widget fields[] = {dp_default_node,       dp_scope,         dp_filter,
                       dp_obj_name_radio_box, dp_natural_order, dp_load_view};
    align_fields(labels, fields, 6, 10);
    /* "Show Objects With:" stands at the first toggle, not the box's middle. */
    XtVaSetValues(dp_obj_name_label, XmNbottomAttachment, XmATTACH_NONE, XmNtopOffset, 6, NULL);

    /* Ok and Cancel hide the dialog before their operation runs. */
    XtPointer dialog = xd_link(XD_LINK_DEFAULT_PREFERENCES);
    dp_ok_button = push_button(dp_dialog, "dp_ok_button", 553, "Ok", XDunmanage_link, dialog);
    XtAddCallback(dp_ok_button, XmNactivateCallback, default_ok_tramp, this);
    dp_apply_button =
        push_button(dp_dialog, "dp_apply_button", 554, "Apply", default_ok_tramp, this);
    dp_cancel_button =
        push_button(dp_dialog, "dp_cancel_button", 555, "Cancel", XDunmanage_link, dialog);
    XtAddCallback(dp_cancel_button, XmNactivateCallback, default_cancel_tramp, this);
    dp_default_button =
        push_button(dp_dialog, "dp_default_button", 556, "Default", reset_defaults_tramp, this);
    dp_help_button = push_button(dp_dialog, "dp_help_button", 557, "Help", dp_help_cb, nullptr);

    close_like(_xd_rootwidget, dp_cancel_button);
}
