/*
 * widget_demo.cpp - shows the three widgets of the set together: an outline
 * with a small network tree, a caption form with a few attribute rows, and
 * a row of icon buttons.
 *
 *     qx_widget_demo [-quit SECONDS] [Xt options]
 *
 * With -quit N the program leaves after N seconds (for screenshots).
 */
#include <Xm/Form.h>
#include <Xm/Label.h>
#include <Xm/PushB.h>
#include <Xm/RowColumn.h>
#include <Xm/ScrolledW.h>
#include <Xm/Separator.h>
#include <Xm/TextF.h>
#include <Xm/Frame.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "PsCaption.h"
#include "XiIconButton.h"
#include "XiOutline.h"

static Widget status_label;

static void show_status(const char* text)
{
    XmString s = XmStringCreateLocalized((char*)text);
    XtVaSetValues(status_label, XmNlabelString, s, NULL);
    XmStringFree(s);
}

static void node_state_cb(Widget w, XtPointer client_data, XtPointer call_data)
{
    XiHierarchyNodeStateData* data = (XiHierarchyNodeStateData*)call_data;
    char text[200];
    snprintf(text, sizeof text, "%s is now %s", XtName(data->widget),
             data->state == XiOpen ? "open" : "closed");
    show_status(text);
}

static void button_cb(Widget w, XtPointer client_data, XtPointer call_data)
{
    char text[200];
    snprintf(text, sizeof text, "%s: %s", XtName(w), (const char*)client_data);
    show_status(text);
}

static Widget add_node(Widget outline, Widget parent, const char* label, XiHierarchyNodeState state)
{
    XmString s = XmStringCreateLocalized((char*)label);
    Widget node = XtVaCreateManagedWidget(label, xmPushButtonWidgetClass, outline, XmNlabelString,
                                          s, XmNshadowThickness, 0, XmNhighlightThickness, 0,
                                          XiNparentNode, parent, XiNnodeState, state, NULL);
    XmStringFree(s);
    return node;
}

/* A small network: a root, two managed elements with racks, shelves and
 * circuit packs; one branch closed, one hidden level. */
static void build_tree(Widget outline)
{
    Widget root = add_node(outline, NULL, "systemId=\"tarn\"", XiAlwaysOpen);
    const char* elements[] = {"managedElementId=\"north-1\"", "managedElementId=\"south-2\""};
    for (int e = 0; e < 2; e++) {
        Widget me = add_node(outline, root, elements[e], XiOpen);
        for (int r = 1; r <= 2; r++) {
            char name[64];
            snprintf(name, sizeof name, "rackId=%d", r);
            Widget rack = add_node(outline, me, name, r == 2 && e == 1 ? XiClosed : XiOpen);
            for (int s = 1; s <= 2; s++) {
                snprintf(name, sizeof name, "shelfId=%d", s);
                Widget shelf = add_node(outline, rack, name, s == 2 ? XiClosed : XiOpen);
                for (int c = 1; c <= 3; c++) {
                    snprintf(name, sizeof name, "circuitPackId=%d", c);
                    add_node(outline, shelf, name, XiClosed);
                }
            }
        }
    }
    Widget logs = add_node(outline, root, "logs (hidden)", XiHidden);
    add_node(outline, logs, "logId=\"alarms\"", XiClosed);
    add_node(outline, logs, "logId=\"events\"", XiClosed);
}

static void add_row(Widget caption, const char* name, const char* value, Boolean stretch)
{
    XmString s = XmStringCreateLocalized((char*)name);
    XtVaCreateManagedWidget("caption", xmLabelWidgetClass, caption, XmNlabelString, s,
                            PsNcaptionAlignment, PsCAPTION_CENTER, NULL);
    XmStringFree(s);
    XtVaCreateManagedWidget(name, xmTextFieldWidgetClass, caption, XmNvalue, value, XmNcolumns, 20,
                            PsNstretchHorizontal, stretch, NULL);
}

static Pixmap make_icon(Widget w, int kind)
{
    /* 16 x 16 bitmaps: a plus, a cross, a box. */
    char bits[32];
    memset(bits, 0, sizeof bits);
    for (int y = 0; y < 16; y++)
        for (int x = 0; x < 16; x++) {
            bool on = false;
            if (kind == 0)
                on = (x >= 7 && x <= 8 && y >= 2 && y <= 13) ||
                     (y >= 7 && y <= 8 && x >= 2 && x <= 13);
            else if (kind == 1)
                on = (x == y || x == 15 - y || x == y + 1 || x + 1 == 15 - y) && x > 1 && x < 14;
            else
                on = (x == 2 || x == 13 || y == 2 || y == 13) && x >= 2 && x <= 13 && y >= 2 &&
                     y <= 13;
            if (on) bits[y * 2 + x / 8] |= (char)(1 << (x % 8));
        }
    return XCreateBitmapFromData(XtDisplay(w), RootWindowOfScreen(XtScreen(w)), bits, 16, 16);
}

static double quit_after = 0;

static void quit_cb(XtPointer, XtIntervalId*)
{
    exit(0);
}

int main(int argc, char** argv)
{
    XtAppContext app;
    for (int i = 1; i + 1 < argc; i++)
        if (strcmp(argv[i], "-quit") == 0) quit_after = atof(argv[i + 1]);
    Widget top = XtVaAppInitialize(&app, "QxWidgetDemo", NULL, 0, &argc, argv, NULL, NULL);
    Widget form = XtVaCreateManagedWidget("form", xmFormWidgetClass, top, XmNwidth, 720, XmNheight,
                                          520, NULL);

    /* Icon buttons along the top. */
    Widget bar = XtVaCreateManagedWidget("bar", xmRowColumnWidgetClass, form, XmNorientation,
                                         XmHORIZONTAL, XmNtopAttachment, XmATTACH_FORM,
                                         XmNleftAttachment, XmATTACH_FORM, NULL);
    const char* labels[] = {"Create", "Delete", "Select"};
    unsigned char placements[] = {XiIconTop, XiIconLeft, XiIconRight};
    for (int i = 0; i < 3; i++) {
        Widget b =
            XtVaCreateManagedWidget(labels[i], xiIconButtonWidgetClass, bar, XmNpixmap,
                                    make_icon(bar, i), XiNiconPlacement, placements[i], NULL);
        XtAddCallback(b, XmNactivateCallback, button_cb, (XtPointer) "activated");
        XtAddCallback(b, XiNdoubleClickCallback, button_cb, (XtPointer) "double click");
    }
    Widget only = XtVaCreateManagedWidget("iconOnly", xiIconButtonWidgetClass, bar, XmNpixmap,
                                          make_icon(bar, 0), XiNiconPlacement, XiIconOnly, NULL);
    XtAddCallback(only, XmNactivateCallback, button_cb, (XtPointer) "activated");
    XtVaCreateManagedWidget("Text only", xiIconButtonWidgetClass, bar, XiNiconPlacement, XiIconNone,
                            XmNset, True, NULL);

    status_label =
        XtVaCreateManagedWidget("status", xmLabelWidgetClass, form, XmNbottomAttachment,
                                XmATTACH_FORM, XmNleftAttachment, XmATTACH_FORM, XmNrightAttachment,
                                XmATTACH_FORM, XmNalignment, XmALIGNMENT_BEGINNING, NULL);

    /* The outline in a scrolled window on the left. */
    Widget sw = XtVaCreateManagedWidget(
        "sw", xmScrolledWindowWidgetClass, form, XmNscrollingPolicy, XmAUTOMATIC, XmNtopAttachment,
        XmATTACH_WIDGET, XmNtopWidget, bar, XmNbottomAttachment, XmATTACH_WIDGET, XmNbottomWidget,
        status_label, XmNleftAttachment, XmATTACH_FORM, XmNrightAttachment, XmATTACH_POSITION,
        XmNrightPosition, 50, NULL);
    Widget outline =
        XtVaCreateWidget("mw_navigator", xiOutlineWidgetClass, sw, XiNautoClose, False, NULL);
    XtAddCallback(outline, XiNnodeStateCallback, node_state_cb, NULL);
    XtVaSetValues(outline, XiNrefigureMode, False, NULL);
    build_tree(outline);
    XtVaSetValues(outline, XiNrefigureMode, True, NULL);
    XtManageChild(outline);

    /* Two caption forms on the right sharing one caption column. */
    Widget right = XtVaCreateManagedWidget("right", xmRowColumnWidgetClass, form, XmNtopAttachment,
                                           XmATTACH_WIDGET, XmNtopWidget, bar, XmNleftAttachment,
                                           XmATTACH_WIDGET, XmNleftWidget, sw, XmNrightAttachment,
                                           XmATTACH_FORM, NULL);
    Widget upper = XtVaCreateManagedWidget("oc_header_caption", psCaptionWidgetClass, right, NULL);
    add_row(upper, "FDN", "/systemId=\"tarn\"", True);
    add_row(upper, "Class", "managedElement", False);
    XtVaCreateManagedWidget("sep", xmSeparatorWidgetClass, right, NULL);
    Widget lower = XtVaCreateManagedWidget("oc_attribute_caption", psCaptionWidgetClass, right,
                                           PsNreferenceWidget, upper, NULL);
    XtVaSetValues(upper, PsNreferenceWidget, lower, NULL);
    add_row(lower, "operationalState", "enabled", False);
    add_row(lower, "administrativeState", "unlocked", False);
    add_row(lower, "userLabel", "north exchange", True);
    XtVaCreateManagedWidget("sep", xmSeparatorWidgetClass, lower, NULL);
    add_row(lower, "alarmStatus", "cleared", False);

    show_status("Press a folder to open or close a node.");
    XtRealizeWidget(top);
    if (quit_after > 0) XtAppAddTimeOut(app, (unsigned long)(quit_after * 1000), quit_cb, NULL);
    XtAppMainLoop(app);
    return 0;
}
