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

#include <cstring>
#include <string>

#include "PsCaption.h"
#include "core/catalog.h"
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

/* Pane 1: the objects loaded, the parent and the class.  It keeps its height
 * when the window grows; the attribute pane takes the rest. */
static void create_loaded_pane(ConfigWin& w)
{
    w.oc_loaded_objects_form = XtVaCreateWidget("oc_loaded_objects_form", xmFormWidgetClass,
                                                w.oc_sash, XmNskipAdjust, True, NULL);
    w.oc_fdn_caption = XtVaCreateWidget(
        "oc_fdn_caption", psCaptionWidgetClass, w.oc_loaded_objects_form, XmNtopAttachment,
        XmATTACH_FORM, XmNtopOffset, 4, XmNleftAttachment, XmATTACH_FORM, XmNleftOffset, 4,
        XmNrightAttachment, XmATTACH_FORM, XmNrightOffset, 4, XmNbottomAttachment, XmATTACH_FORM,
        XmNbottomOffset, 4, NULL);
    w.oc_loaded_objects_label = labelled(xmLabelWidgetClass, w.oc_fdn_caption,
                                         "oc_loaded_objects_label", 561, "Objects Loaded (0):");
    Arg stretch;
    XtSetArg(stretch, PsNstretchHorizontal, True);
    w.oc_loaded_object_list = scrolled_list(w.oc_fdn_caption, "oc_loaded_object_list", 3,
                                            XmSINGLE_SELECT, false, &stretch, 1);
    XtVaSetValues(XtParent(w.oc_loaded_object_list), PsNstretchHorizontal, True, NULL);
    XtManageChild(w.oc_loaded_object_list);
    w.oc_parent_label = labelled(xmLabelWidgetClass, w.oc_fdn_caption, "decoy", 562, "Parent FDN");
    w.PARENTFDN = caption_field(w.oc_fdn_caption, "PARENTFDN");
    w.oc_class_label =
        XtVaCreateManagedWidget("decoy1", xmLabelWidgetClass, w.oc_fdn_caption, NULL);
    set_label_text(w.oc_class_label, "Object Class");
    w.OBJCLASS = caption_field(w.oc_fdn_caption, "OBJCLASS");
    XtAddCallback(w.OBJCLASS, XmNfocusCallback, show_attr_syntax, (XtPointer) "objectClass");
    XtAddCallback(w.OBJCLASS, XmNactivateCallback, ConfigWin::new_class_cb, &w);
    XtManageChild(w.oc_fdn_caption);
    XtManageChild(w.oc_loaded_objects_form);
}

/* The view of the attribute form changed size (the window was resized) or
 * was first shown, after the layout that came before the window existed:
 * the form follows its width.  The scroll bars stay shown, so that the
 * view's width does not change with the form's and the two settle. */
static void view_resized_cb(Widget, XtPointer client, XEvent* event, Boolean*)
{
    if (event->type == ConfigureNotify || event->type == MapNotify)
        ((ConfigWin*)client)->fit_form_to_view();
}

void ConfigWin::fit_form_to_view()
{
    if (!oc_attribute_caption || !oc_attribute_scrolled_window) return;
    Widget clip = nullptr;
    XtVaGetValues(oc_attribute_scrolled_window, XmNclipWindow, &clip, NULL);
    Dimension view = 0, form = 0;
    if (clip) XtVaGetValues(clip, XmNwidth, &view, NULL);
    XtVaGetValues(oc_attribute_caption, XmNwidth, &form, NULL);
    if (view > 1 && form != view) XtVaSetValues(oc_attribute_caption, XmNwidth, view, NULL);
}

/* Pane 2: the attribute form, rebuilt for each object shown.  The form is
 * kept as wide as the scrolled window's view and scrolls only up and down,
 * so the labels stay in view: a value wider than its field scrolls inside
 * its own field. */
static void create_attribute_pane(ConfigWin& w)
{
    w.oc_attributes_form =
        XtVaCreateWidget("oc_attributes_form", xmFormWidgetClass, w.oc_sash, NULL);
    w.oc_attribute_scrolled_window = XtVaCreateManagedWidget(
        "oc_attribute_scrolled_window", xmScrolledWindowWidgetClass, w.oc_attributes_form,
        XmNscrollingPolicy, XmAUTOMATIC, XmNscrollBarDisplayPolicy, XmSTATIC, XmNwidth, 575, XmNheight, 450, XmNtopAttachment,
        XmATTACH_FORM, XmNleftAttachment, XmATTACH_FORM, XmNrightAttachment, XmATTACH_FORM,
        XmNbottomAttachment, XmATTACH_FORM, NULL);
    w.oc_attribute_caption = XtVaCreateWidget("oc_attribute_caption", psCaptionWidgetClass,
                                              w.oc_attribute_scrolled_window, NULL);
    XtVaSetValues(w.oc_attribute_scrolled_window, XmNworkWindow, w.oc_attribute_caption, NULL);
    Widget clip = nullptr;
    XtVaGetValues(w.oc_attribute_scrolled_window, XmNclipWindow, &clip, NULL);
    if (clip) XtAddEventHandler(clip, StructureNotifyMask, False, view_resized_cb, &w);
    XtManageChild(w.oc_attributes_form);
}

/* The syntax of the attribute in focus: three wrapped lines, read only,
 * between the format label and the Update button. */
static void create_syntax_text(ConfigWin& w)
{
    Arg args[6];
    Cardinal n = 0;
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
    w.oc_attribute_format_list = XmCreateScrolledText(
        w.oc_format_form, const_cast<char*>("oc_attribute_format_list"), args, n);
    XtVaSetValues(XtParent(w.oc_attribute_format_list), XmNtopAttachment, XmATTACH_WIDGET,
                  XmNtopWidget, w.oc_format_label, XmNtopOffset, 2, XmNleftAttachment,
                  XmATTACH_FORM, XmNleftOffset, 4, XmNrightAttachment, XmATTACH_FORM,
                  XmNrightOffset, 4, XmNbottomAttachment, XmATTACH_WIDGET, XmNbottomWidget,
                  w.oc_update_button, XmNbottomOffset, 4, NULL);
    XtManageChild(w.oc_attribute_format_list);
}

/* Pane 3: the syntax of the attribute in focus, the message line, Update. */
static void create_format_pane(ConfigWin& w)
{
    w.oc_format_form =
        XtVaCreateWidget("oc_format_form", xmFormWidgetClass, w.oc_sash, XmNskipAdjust, True, NULL);
    w.oc_format_label =
        labelled(xmLabelWidgetClass, w.oc_format_form, "oc_format_label", 563, "Attribute Format:");
    XtVaSetValues(w.oc_format_label, XmNtopAttachment, XmATTACH_FORM, XmNtopOffset, 4,
                  XmNleftAttachment, XmATTACH_FORM, XmNleftOffset, 4, NULL);
    w.oc_update_button = push_button(w.oc_format_form, "oc_update_button", 565, "Update",
                                     ConfigWin::update_image_tramp, &w);
    XtVaSetValues(w.oc_update_button, XmNbottomAttachment, XmATTACH_FORM, XmNbottomOffset, 4,
                  XmNrightAttachment, XmATTACH_FORM, XmNrightOffset, 4, NULL);
    XtSetSensitive(w.oc_update_button, False);
    w.oc_message_label =
        labelled(xmLabelWidgetClass, w.oc_format_form, "oc_message_label", 564, "Message Area");
    XtVaSetValues(w.oc_message_label, XmNrecomputeSize, False, XmNalignment,
                  XmALIGNMENT_BEGINNING, XmNleftAttachment,
                  XmATTACH_FORM, XmNleftOffset, 4, XmNrightAttachment, XmATTACH_WIDGET,
                  XmNrightWidget, w.oc_update_button, XmNrightOffset, 8, XmNtopAttachment,
                  XmATTACH_OPPOSITE_WIDGET, XmNtopWidget, w.oc_update_button, XmNbottomAttachment,
                  XmATTACH_FORM, XmNbottomOffset, 4, NULL);
    create_syntax_text(w);
    XtManageChild(w.oc_format_form);
}

/* The window's size when X resources give it none.  The size stays as it
 * is from object to object: the form scrolls inside the window, long
 * messages are cut at its edge. */
static const Dimension DEFAULT_WIDTH = 620, DEFAULT_HEIGHT = 700;
/* Pixels between the main window and this one. */
static const int BESIDE_GAP = 10;

/* mapCallback: the first time the window is shown it stands beside the main
 * window, on the side with room, rather than over it; later it opens where
 * it was left. */
static void place_beside_main_cb(Widget box, XtPointer client, XtPointer)
{
    bool& placed = *(bool*)client;
    Widget shell = XtParent(box), main_shell = XtParent(shell);
    if (placed || !XtIsRealized(main_shell)) return;
    placed = true;
    Display* dpy = XtDisplay(box);
    int mx = 0, my = 0;
    Window child;
    XTranslateCoordinates(dpy, XtWindow(main_shell), RootWindowOfScreen(XtScreen(box)), 0, 0, &mx,
                          &my, &child);
    Dimension main_width = 0, width = 0;
    XtVaGetValues(main_shell, XmNwidth, &main_width, NULL);
    XtVaGetValues(box, XmNwidth, &width, NULL);
    const int screen = WidthOfScreen(XtScreen(box)), w = width;
    int x = mx + main_width + BESIDE_GAP;
    if (x + w > screen) x = mx - w - BESIDE_GAP >= 0 ? mx - w - BESIDE_GAP : screen - w;
    XtVaSetValues(shell, XmNx, (Position)(x < 0 ? 0 : x), XmNy, (Position)my, NULL);
}

/* A steady size and a place of its own, in addition to the layout: */
static void size_and_place(Widget box, bool* placed)
{
    Dimension width = 0, height = 0;
    XtVaGetValues(box, XmNwidth, &width, XmNheight, &height, NULL);
    XtVaSetValues(box, XmNresizePolicy, XmRESIZE_NONE, XmNdefaultPosition, False, XmNwidth,
                  width ? width : DEFAULT_WIDTH, XmNheight, height ? height : DEFAULT_HEIGHT,
                  NULL);
    XtAddCallback(box, XmNmapCallback, place_beside_main_cb, placed);
}

void ConfigWin::create(Widget parent, const char* name)
{
    oc_dialog = make_dialog(parent, name, "oc_dialog", 560, "Tarnwick: Object Configuration",
                            &_xd_rootwidget);
    xd_link_records[XD_LINK_OBJECT_CONFIGURATION] = oc_dialog;
    size_and_place(oc_dialog, &placed_beside_main);

    oc_sash_form = XtVaCreateManagedWidget("oc_sash_form", xmFormWidgetClass, oc_dialog, NULL);
    oc_sash = XtVaCreateWidget("oc_sash", xmPanedWindowWidgetClass, oc_sash_form, XmNtopAttachment,
                               XmATTACH_FORM, XmNleftAttachment, XmATTACH_FORM, XmNrightAttachment,
                               XmATTACH_FORM, XmNbottomAttachment, XmATTACH_FORM, NULL);
    create_loaded_pane(*this);
    create_attribute_pane(*this);
    create_format_pane(*this);
    XtManageChild(oc_sash);

    oc_set_button = push_button(oc_dialog, "oc_set_button", 566, "Set", set_attributes_tramp, this);
    XtSetSensitive(oc_set_button, False);
    /* Close hides the window before its operation runs. */
    oc_close_button = push_button(oc_dialog, "oc_close_button", 567, "Close", XDunmanage_link,
                                  xd_link(XD_LINK_OBJECT_CONFIGURATION));
    XtAddCallback(oc_close_button, XmNactivateCallback, close_window_tramp, this);
    oc_help_button = push_button(oc_dialog, "oc_help_button", 568, "Help", oc_help_cb, nullptr);

    close_like(_xd_rootwidget, oc_close_button);

    XtVaGetValues(PARENTFDN, XmNforeground, &text_foreground, XmNbackground, &text_background,
                  NULL);
}

void ConfigWin::image_replaced()
{
    shown_object_gone = false;
    if (oc_set_button) XtSetSensitive(oc_set_button, False);
    if (oc_update_button) XtSetSensitive(oc_update_button, False);
}

void ConfigWin::attribute_changed(const char* text)
{
    global.update_label(oc_message_label, text);
    if (oc_update_button) XtSetSensitive(oc_update_button, True);
}

void ConfigWin::object_destroyed(const char* fdn)
{
    if (create_mode == 1 || !fdn || !oc_set_button) return;
    DataUnit shown = global.get_objname();
    if (shown.is_empty() || strcmp(shown.str(), fdn) != 0) return;
    shown_object_gone = true;
    XtSetSensitive(oc_set_button, False);
    global.update_label(oc_message_label,
                        (std::string(qx_msg(615, "Deleted on the server: ")) + fdn).c_str());
}
