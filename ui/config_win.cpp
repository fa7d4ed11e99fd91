/* config_win.cpp - the object configuration window's widgets. */
#include "ui/config_win.h"

#include <Xm/Form.h>
#include <Xm/Label.h>
#include <Xm/List.h>
#include <Xm/PanedW.h>
#include <Xm/PushB.h>
#include <Xm/ScrolledW.h>
#include <Xm/Text.h>
#include <Xm/TextF.h>

#include "PsCaption.h"
#include "core/globals.h"
#include "ui/help_callbacks.h"
#include "ui/window_util.h"
#include "ui/xd_links.h"

void ConfigWin::new_class_cb(Widget, XtPointer client, XtPointer)
{
    ((ConfigWin*)client)->create_object();
}

void ConfigWin::set_attributes_tramp(Widget w, XtPointer client, XtPointer)
{
    ((ConfigWin*)client)->set_attributes_cb(w, client);
}

void ConfigWin::update_image_tramp(Widget w, XtPointer client, XtPointer)
{
    ((ConfigWin*)client)->update_image_cb(w, client);
}

void ConfigWin::close_window_tramp(Widget w, XtPointer client, XtPointer)
{
    ((ConfigWin*)client)->close_window_cb(w, client);
}

/* A read-only text field that stretches across the caption's control column. */
static Widget caption_field(Widget caption, const char* name)
{
    return XtVaCreateManagedWidget(name, xmTextFieldWidgetClass, caption, XmNeditable, False,
                                   PsNstretchHorizontal, True, NULL);
}

void ConfigWin::create(Widget parent, const char* name)
{
    oc_dialog = make_dialog(parent, name, "oc_dialog", 560, "Tarnwick: Object Configuration",
                            &_xd_rootwidget);
    xd_link_records[XD_LINK_OBJECT_CONFIGURATION] = oc_dialog;

    oc_sash_form = XtVaCreateManagedWidget("oc_sash_form", xmFormWidgetClass, oc_dialog, NULL);
    oc_sash = XtVaCreateWidget("oc_sash", xmPanedWindowWidgetClass, oc_sash_form, XmNtopAttachment,
                               XmATTACH_FORM, XmNleftAttachment, XmATTACH_FORM, XmNrightAttachment,
                               XmATTACH_FORM, XmNbottomAttachment, XmATTACH_FORM, NULL);

    /* Pane 1: the object loaded, its parent and its class.  It keeps its
     * height when the window grows; the attribute pane takes the rest. */
    oc_loaded_objects_form = XtVaCreateWidget("oc_loaded_objects_form", xmFormWidgetClass, oc_sash,
                                              XmNskipAdjust, True, NULL);
    oc_fdn_caption = XtVaCreateWidget(
        "oc_fdn_caption", psCaptionWidgetClass, oc_loaded_objects_form, XmNtopAttachment,
        XmATTACH_FORM, XmNtopOffset, 4, XmNleftAttachment, XmATTACH_FORM, XmNleftOffset, 4,
        XmNrightAttachment, XmATTACH_FORM, XmNrightOffset, 4, XmNbottomAttachment, XmATTACH_FORM,
        XmNbottomOffset, 4, NULL);
    oc_loaded_objects_label = labelled(xmLabelWidgetClass, oc_fdn_caption,
                                       "oc_loaded_objects_label", 561, "Objects Loaded (0):");
    Arg args[8];
    Cardinal n = 0;
    XtSetArg(args[n], XmNvisibleItemCount, 3);
    n++;
    XtSetArg(args[n], XmNselectionPolicy, XmSINGLE_SELECT);
    n++;
    XtSetArg(args[n], PsNstretchHorizontal, True);
    n++;
    oc_loaded_object_list =
        XmCreateScrolledList(oc_fdn_caption, const_cast<char*>("oc_loaded_object_list"), args, n);
    XtVaSetValues(XtParent(oc_loaded_object_list), PsNstretchHorizontal, True, NULL);
    XtManageChild(oc_loaded_object_list);
    decoy = labelled(xmLabelWidgetClass, oc_fdn_caption, "decoy", 562, "Parent FDN");
    PARENTFDN = caption_field(oc_fdn_caption, "PARENTFDN");
    decoy1 = XtVaCreateManagedWidget("decoy1", xmLabelWidgetClass, oc_fdn_caption, NULL);
    set_label_text(decoy1, "Object Class");
    OBJCLASS = caption_field(oc_fdn_caption, "OBJCLASS");
    XtAddCallback(OBJCLASS, XmNfocusCallback, show_attr_syntax, (XtPointer) "objectClass");
    XtAddCallback(OBJCLASS, XmNactivateCallback, new_class_cb, this);
    XtManageChild(oc_fdn_caption);
    XtManageChild(oc_loaded_objects_form);

    /* Pane 2: the attribute form, rebuilt for each object shown. */
    oc_attributes_form = XtVaCreateWidget("oc_attributes_form", xmFormWidgetClass, oc_sash, NULL);
    oc_attribute_scrolled_window = XtVaCreateManagedWidget(
        "oc_attribute_scrolled_window", xmScrolledWindowWidgetClass, oc_attributes_form,
        XmNscrollingPolicy, XmAUTOMATIC, XmNwidth, 575, XmNheight, 450, XmNtopAttachment,
        XmATTACH_FORM, XmNleftAttachment, XmATTACH_FORM, XmNrightAttachment, XmATTACH_FORM,
        XmNbottomAttachment, XmATTACH_FORM, NULL);
    oc_attribute_caption = XtVaCreateWidget("oc_attribute_caption", psCaptionWidgetClass,
                                            oc_attribute_scrolled_window, NULL);
    XtVaSetValues(oc_attribute_scrolled_window, XmNworkWindow, oc_attribute_caption, NULL);
    XtManageChild(oc_attributes_form);

    /* Pane 3: the syntax of the attribute in focus, the message line, Update. */
    oc_format_form =
        XtVaCreateWidget("oc_format_form", xmFormWidgetClass, oc_sash, XmNskipAdjust, True, NULL);
    oc_format_label =
        labelled(xmLabelWidgetClass, oc_format_form, "oc_format_label", 563, "Attribute Format:");
    XtVaSetValues(oc_format_label, XmNtopAttachment, XmATTACH_FORM, XmNtopOffset, 4,
                  XmNleftAttachment, XmATTACH_FORM, XmNleftOffset, 4, NULL);
    oc_update_button =
        labelled(xmPushButtonWidgetClass, oc_format_form, "oc_update_button", 565, "Update");
    XtVaSetValues(oc_update_button, XmNbottomAttachment, XmATTACH_FORM, XmNbottomOffset, 4,
                  XmNrightAttachment, XmATTACH_FORM, XmNrightOffset, 4, NULL);
    XtAddCallback(oc_update_button, XmNactivateCallback, update_image_tramp, this);
    XtSetSensitive(oc_update_button, False);
    oc_message_label =
        labelled(xmLabelWidgetClass, oc_format_form, "oc_message_label", 564, "Message Area");
    XtVaSetValues(oc_message_label, XmNalignment, XmALIGNMENT_BEGINNING, XmNleftAttachment,
                  XmATTACH_FORM, XmNleftOffset, 4, XmNrightAttachment, XmATTACH_WIDGET,
                  XmNrightWidget, oc_update_button, XmNrightOffset, 8, XmNtopAttachment,
                  XmATTACH_OPPOSITE_WIDGET, XmNtopWidget, oc_update_button, XmNbottomAttachment,
                  XmATTACH_FORM, XmNbottomOffset, 4, NULL);
    n = 0;
    XtSetArg(args[n], XmNrows, 3);
    n++;
    XtSetArg(args[n], XmNeditMode, XmMULTI_LINE_EDIT);
    n++;
    XtSetArg(args[n], XmNeditable, False);
    n++;
    XtSetArg(args[n], XmNcursorPositionVisible, False);
    n++;
    XtSetArg(args[n], XmNwordWrap, True);
    n++;
    XtSetArg(args[n], XmNscrollHorizontal, False);
    n++;
    oc_attribute_format_list = XmCreateScrolledText(
        oc_format_form, const_cast<char*>("oc_attribute_format_list"), args, n);
    XtVaSetValues(XtParent(oc_attribute_format_list), XmNtopAttachment, XmATTACH_WIDGET,
                  XmNtopWidget, oc_format_label, XmNtopOffset, 2, XmNleftAttachment, XmATTACH_FORM,
                  XmNleftOffset, 4, XmNrightAttachment, XmATTACH_FORM, XmNrightOffset, 4,
                  XmNbottomAttachment, XmATTACH_WIDGET, XmNbottomWidget, oc_update_button,
                  XmNbottomOffset, 4, NULL);
    XtManageChild(oc_attribute_format_list);
    XtManageChild(oc_format_form);
    XtManageChild(oc_sash);

    oc_set_button = labelled(xmPushButtonWidgetClass, oc_dialog, "oc_set_button", 566, "Set");
    XtAddCallback(oc_set_button, XmNactivateCallback, set_attributes_tramp, this);
    XtSetSensitive(oc_set_button, False);
    /* Close hides the window before its operation runs. */
    oc_close_button = labelled(xmPushButtonWidgetClass, oc_dialog, "oc_close_button", 567, "Close");
    XtAddCallback(oc_close_button, XmNactivateCallback, XDunmanage_link,
                  xd_link(XD_LINK_OBJECT_CONFIGURATION));
    XtAddCallback(oc_close_button, XmNactivateCallback, close_window_tramp, this);
    oc_help_button = labelled(xmPushButtonWidgetClass, oc_dialog, "oc_help_button", 568, "Help");
    XtAddCallback(oc_help_button, XmNactivateCallback, oc_help_cb, nullptr);

    close_like(_xd_rootwidget, oc_close_button);

    XtVaGetValues(PARENTFDN, XmNforeground, &text_foreground, XmNbackground, &text_background,
                  NULL);
}

void ConfigWin::image_replaced()
{
    if (oc_set_button) XtSetSensitive(oc_set_button, False);
    if (oc_update_button) XtSetSensitive(oc_update_button, False);
}

void ConfigWin::attribute_changed(const char* text)
{
    global.update_label(oc_message_label, text);
    if (oc_update_button) XtSetSensitive(oc_update_button, True);
}
