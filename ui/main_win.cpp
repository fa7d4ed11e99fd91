/* main_win.cpp - the main window: menu bar, path line, navigator, status line. */
#include "ui/main_win.h"

#include <Xm/CascadeB.h>
#include <Xm/Form.h>
#include <Xm/Label.h>
#include <Xm/PushB.h>
#include <Xm/RowColumn.h>
#include <Xm/ScrolledW.h>
#include <Xm/ScrollBar.h>
#include <Xm/Separator.h>
#include <Xm/TextF.h>
#include <X11/Shell.h>
#include <cstdio>

#include "XiOutline.h"
#include "core/globals.h"
#include "core/event_log.h"
#include "ui/event_log_win.h"
#include "ui/help_callbacks.h"
#include "ui/window_util.h"
#include "ui/xd_links.h"

void MainWin::get_object_tramp(Widget w, XtPointer client, XtPointer)
{
    /* The Get... item always names no object: the selection decides. */
    ((MainWin*)client)->get_object(w, nullptr);
}

void MainWin::delete_object_tramp(Widget w, XtPointer client, XtPointer call)
{
    ((MainWin*)client)->delete_object_cb(w, call);
}

void MainWin::exit_tramp(Widget w, XtPointer client, XtPointer call)
{
    ((MainWin*)client)->exit_cb(w, call);
}

void MainWin::deselect_objects_tramp(Widget w, XtPointer client, XtPointer)
{
    ((MainWin*)client)->deselect_objects(w, client);
}

void MainWin::create_from_selected_tramp(Widget w, XtPointer client, XtPointer call)
{
    ((MainWin*)client)->create_from_selected(w, call);
}

void MainWin::export_tramp(Widget w, XtPointer client, XtPointer call)
{
    ((MainWin*)client)->export_cb(w, call);
}

void MainWin::import_tramp(Widget w, XtPointer client, XtPointer call)
{
    ((MainWin*)client)->import_cb(w, call);
}

/* A pulldown menu under the menu bar and the cascade button that opens it. */
static Widget menu(Widget menubar, const char* cascade_name, const char* pulldown_name, int num,
                   const char* def, char mnemonic, Widget* pulldown)
{
    *pulldown = XmCreatePulldownMenu(menubar, const_cast<char*>(pulldown_name), nullptr, 0);
    Widget cascade =
        labelled(xmCascadeButtonWidgetClass, menubar, cascade_name, num, def, mnemonic);
    XtVaSetValues(cascade, XmNsubMenuId, *pulldown, NULL);
    return cascade;
}

static void show_event_log_cb(Widget, XtPointer, XtPointer)
{
    if (event_log_window) event_log_window->show();
}

/* File: Properties..., Event Log..., Export..., Import... and Exit. */
static void create_file_menu(MainWin& w)
{
    w.mw_view =
        menu(w.mw_menubar, "mw_view", "mw_view_pulldown", 501, "File", 'F', &w.mw_view_pulldown);
    w.mw_properties_button =
        push_button(w.mw_view_pulldown, "mw_properties_button", 502, "Properties...", XDmanage_link,
                    xd_link(XD_LINK_DEFAULT_PREFERENCES), 'P');
    /* Event Log... is this editor's addition to the File menu. */
    w.mw_event_log_button =
        menu_item(w.mw_view_pulldown, "mw_event_log_button", 870, "Event Log...", 'L',
                  "Ctrl<Key>l", 875, "Ctrl+L", show_event_log_cb, nullptr);
    /* Export... and Import... move subtrees in and out as LDIF files. */
    XtCreateManagedWidget("mw_ldif_separator", xmSeparatorWidgetClass, w.mw_view_pulldown,
                          nullptr, 0);
    w.mw_export_button = push_button(w.mw_view_pulldown, "mw_export_button", 920, "Export...",
                                     MainWin::export_tramp, &w, 'E');
    w.mw_import_button = push_button(w.mw_view_pulldown, "mw_import_button", 921, "Import...",
                                     MainWin::import_tramp, &w, 'I');
    w.mw_view_separator = XtCreateManagedWidget("mw_view_separator", xmSeparatorWidgetClass,
                                                w.mw_view_pulldown, nullptr, 0);
    w.mw_close_button = push_button(w.mw_view_pulldown, "mw_close_button", 503, "Exit",
                                    MainWin::exit_tramp, &w, 'x');
}

/* Object: Create..., Get... and the Action pull-down, which is rebuilt for
 * each selected object's class. */
static void create_object_menu(MainWin& w)
{
    w.mw_selected = menu(w.mw_menubar, "mw_selected", "mw_selected_pulldown", 504, "Object", 'O',
                         &w.mw_selected_pulldown);
    w.mw_create_from_button =
        push_button(w.mw_selected_pulldown, "mw_create_from_button", 505, "Create...",
                    MainWin::create_from_selected_tramp, &w, 'C');
    w.mw_get_button = push_button(w.mw_selected_pulldown, "mw_get_button", 506, "Get...",
                                  MainWin::get_object_tramp, &w, 'G');
    XtSetSensitive(w.mw_get_button, False);
    w.mw_action = menu(w.mw_selected_pulldown, "mw_action", "mw_action_pulldown", 507, "Action",
                       'A', &w.mw_action_pulldown);
    XtSetSensitive(w.mw_action, False);
}

/* Edit: Select, Deselect and Delete. */
static void create_edit_menu(MainWin& w)
{
    w.mw_edit =
        menu(w.mw_menubar, "mw_edit", "mw_edit_pulldown", 509, "Edit", 'E', &w.mw_edit_pulldown);
    w.mw_select_button = push_button(w.mw_edit_pulldown, "mw_select_button", 510, "Select",
                                     XDmanage_link, xd_link(XD_LINK_SELECTION_WINDOW), 'S');
    XtSetSensitive(w.mw_select_button, False);
    w.mw_deselect_button = push_button(w.mw_edit_pulldown, "mw_deselect_button", 511, "Deselect",
                                       MainWin::deselect_objects_tramp, &w, 'l');
    w.mw_edit_separator = XtCreateManagedWidget("mw_edit_separator", xmSeparatorWidgetClass,
                                                w.mw_edit_pulldown, nullptr, 0);
    w.mw_delete_button = push_button(w.mw_edit_pulldown, "mw_delete_button", 512, "Delete",
                                     MainWin::delete_object_tramp, &w, 'D');
    XtSetSensitive(w.mw_delete_button, False);
}

/* Help, at the right end of the menu bar. */
static void create_help_menu(MainWin& w)
{
    Widget help_menu;
    Widget help_cascade =
        menu(w.mw_menubar, "tarn_help_cascade_but", "tarn_help_menu", 514, "Help", 'H', &help_menu);
    XtVaSetValues(w.mw_menubar, XmNmenuHelpWidget, help_cascade, NULL);
    w.mw_help_button =
        push_button(help_menu, "mw_help_button", 515, "Help...", mw_help_cb, nullptr, 'H');
}

/* The path line under the menu bar. */
static void create_path_line(MainWin& w)
{
    w.mw_path_label = labelled(xmLabelWidgetClass, w.mw_form, "mw_path_label", 516, "Path:");
    XtVaSetValues(w.mw_path_label, XmNtopAttachment, XmATTACH_WIDGET, XmNtopWidget, w.mw_menubar,
                  XmNtopOffset, 10, XmNleftAttachment, XmATTACH_FORM, XmNleftOffset, 10, NULL);
    w.mw_path = XtVaCreateManagedWidget(
        "mw_path", xmTextFieldWidgetClass, w.mw_form, XmNtopAttachment, XmATTACH_OPPOSITE_WIDGET,
        XmNtopWidget, w.mw_path_label, XmNtopOffset, -5, XmNleftAttachment, XmATTACH_WIDGET,
        XmNleftWidget, w.mw_path_label, XmNleftOffset, 5, XmNrightAttachment, XmATTACH_FORM,
        XmNrightOffset, 25, NULL);
}

/* The status line along the form's bottom edge, and the navigator, which
 * takes all the height between the path line and the status line.  The
 * outline scrolls itself with the window's two scroll bars: it places only
 * the rows in view, so a node of any number of children opens fast and every
 * row can be reached, which a clipped work area of at most 32,767 pixels
 * could not give. */
static void create_navigator(MainWin& w)
{
    XmString empty = XmStringCreateLocalized(const_cast<char*>(""));
    w.mw_message_label = XtVaCreateManagedWidget(
        "mw_message_label", xmLabelWidgetClass, w.mw_form, XmNlabelString, empty, XmNalignment,
        XmALIGNMENT_BEGINNING, XmNleftAttachment, XmATTACH_FORM, XmNrightAttachment, XmATTACH_FORM,
        XmNbottomAttachment, XmATTACH_FORM, NULL);
    XmStringFree(empty);

    w.mw_navigator_window = XtVaCreateManagedWidget(
        "mw_navigator_window", xmScrolledWindowWidgetClass, w.mw_form, XmNscrollingPolicy,
        XmAPPLICATION_DEFINED, XmNscrollBarDisplayPolicy, XmSTATIC, XmNtopAttachment,
        XmATTACH_WIDGET, XmNtopWidget, w.mw_path, XmNtopOffset, 10, XmNleftAttachment,
        XmATTACH_FORM, XmNrightAttachment, XmATTACH_FORM, XmNbottomAttachment, XmATTACH_WIDGET,
        XmNbottomWidget, w.mw_message_label, NULL);
    w.mw_navigator_hscroll =
        XtVaCreateManagedWidget("HorScrollBar", xmScrollBarWidgetClass, w.mw_navigator_window,
                                XmNorientation, XmHORIZONTAL, NULL);
    w.mw_navigator_vscroll =
        XtVaCreateManagedWidget("VertScrollBar", xmScrollBarWidgetClass, w.mw_navigator_window,
                                XmNorientation, XmVERTICAL, NULL);
    w.mw_navigator =
        XtVaCreateManagedWidget("mw_navigator", xiOutlineWidgetClass, w.mw_navigator_window,
                                XiNautoClose, False, XmNverticalScrollBar, w.mw_navigator_vscroll,
                                XmNhorizontalScrollBar, w.mw_navigator_hscroll, NULL);
    XmScrolledWindowSetAreas(w.mw_navigator_window, w.mw_navigator_hscroll, w.mw_navigator_vscroll,
                             w.mw_navigator);
}

void MainWin::create(Display* dpy, const char* app_name, int argc, char** argv,
                     const char* app_class)
{
    /* The host is not known to the window; initialize_gui puts it into the
     * title once the shell is realized. */
    char title[300];
    snprintf(title, sizeof title, qx_msg(500, "Corvane QX %s: Tarnwick []"), QX_RELEASE);

    Arg args[8];
    Cardinal n = 0;
    XtSetArg(args[n], XmNwidth, 650);
    n++;
    XtSetArg(args[n], XmNheight, 700);
    n++;
    XtSetArg(args[n], XmNtitle, title);
    n++;
    XtSetArg(args[n], XmNiconName, "Tarnwick");
    n++;
    XtSetArg(args[n], XmNargc, argc);
    n++;
    XtSetArg(args[n], XmNargv, argv);
    n++;
    applicationShell = XtAppCreateShell(app_name, app_class ? app_class : QX_APP_CLASS,
                                        applicationShellWidgetClass, dpy, args, n);
    _xd_rootwidget = applicationShell;

    mw_form = XtVaCreateWidget("mw_form", xmFormWidgetClass, applicationShell, NULL);

    /* Menu bar: File, Object, Edit, and Help at the right end. */
    mw_menubar = XmCreateMenuBar(mw_form, const_cast<char*>("mw_menubar"), nullptr, 0);
    XtVaSetValues(mw_menubar, XmNtopAttachment, XmATTACH_FORM, XmNleftAttachment, XmATTACH_FORM,
                  XmNrightAttachment, XmATTACH_FORM, NULL);
    create_file_menu(*this);
    create_object_menu(*this);
    create_edit_menu(*this);
    create_help_menu(*this);
    XtManageChild(mw_menubar);

    create_path_line(*this);
    create_navigator(*this);
    XtManageChild(mw_form);
}

void MainWin::add_node_state_callback(XtCallbackProc proc, XtPointer client)
{
    if (mw_navigator) XtAddCallback(mw_navigator, XiNnodeStateCallback, proc, client);
}

void status_line(const char* text, const char* object)
{
    log_text(text, object);
    if (main_window) global.update_label(main_window->mw_message_label, text);
}
