/*
 * display.cpp - shows DataObjects as push-button nodes of the navigator, each
 * under its parent's node and among its siblings in FDN order.
 */
#include <Xm/PushB.h>
#include <X11/IntrinsicP.h>
#include <cstdio>
#include <cstring>
#include <vector>

#include "core/catalog.h"
#include "core/globals.h"
#include "tree/data_object.h"
#include "tree/natural_order.h"
#include "tree/navigator.h"
#include "ui/main_win.h"

/* Nodes made while a batch is open are created unmanaged and managed all at
 * once when it closes, with the outline's layout switched off meanwhile:
 * managing one child costs the outline a layout and Motif's traversal code
 * a round trip to the X server, so node by node a big container takes
 * seconds. */
static int batch_depth = 0;
static std::vector<Widget> batch_nodes;
static Boolean batch_refigure = True;

/* A node of an open batch that is destroyed before the batch ends leaves
 * the list of nodes to manage. */
static void batch_node_gone_cb(Widget w, XtPointer, XtPointer)
{
    for (Widget& n : batch_nodes)
        if (n == w) n = nullptr;
}

void node_batch_begin()
{
    if (batch_depth++ > 0) return;
    batch_nodes.clear();
    Widget outline = main_window ? main_window->mw_navigator : nullptr;
    if (outline) {
        XtVaGetValues(outline, XiNrefigureMode, &batch_refigure, NULL);
        XtVaSetValues(outline, XiNrefigureMode, False, NULL);
    }
}

void node_batch_end()
{
    if (batch_depth == 0 || --batch_depth > 0) return;
    std::vector<Widget> nodes;
    nodes.swap(batch_nodes);
    /* A node destroyed in the meantime has left the outline already. */
    std::vector<Widget> alive;
    for (Widget w : nodes)
        if (w != nullptr) {
            XtRemoveCallback(w, XmNdestroyCallback, batch_node_gone_cb, nullptr);
            if (!w->core.being_destroyed) alive.push_back(w);
        }
    if (!alive.empty()) XtManageChildren(alive.data(), (Cardinal)alive.size());
    Widget outline = main_window ? main_window->mw_navigator : nullptr;
    if (outline && batch_refigure) XtVaSetValues(outline, XiNrefigureMode, True, NULL);
}

/* Long enough for a burst of reports to arrive, short enough not to be
 * seen. */
static const unsigned long kBriefBatchMs = 50;
static XtIntervalId brief_batch = 0;

static void brief_batch_over(XtPointer, XtIntervalId*)
{
    brief_batch = 0;
    node_batch_end();
}

void node_batch_briefly()
{
    if (brief_batch != 0 || app_context == nullptr) return;
    node_batch_begin();
    brief_batch = XtAppAddTimeOut(app_context, kBriefBatchMs, brief_batch_over, nullptr);
}

void DataObject::display(int depth)
{
    switch (display_format) {
    case 1: outline_form(depth); break;
    case 2: vertical_form(depth); break;
    case 3: horizontal_form(depth); break;
    default: printf("%s", qx_msg(203, "Error: bad display value\n")); break;
    }

    if (depth > 0 && num_children > 0) {
        for (AlbumImage ai = album.first_image(); ai; ai.next_image()) {
            DataUnit fdn = ai->get_objname();
            if (fdn.is_empty()) {
                printf("%s\n", qx_msg(204, "couldn't get objname()"));
                continue;
            }
            DataObject* child = find_album_object(fdn.str());
            if (!child) {
                printf("%s\n", qx_msg(205, "ERROR: "));
                continue;
            }
            child->display(depth - 1);
        }
    }
    fflush(stdout);
}

void DataObject::outline_form(int depth)
{
    Widget insert_before = nullptr;
    if (sort_on) {
        DataObject* next = find_next_displayed_sibling();
        if (next) insert_before = next->node;
    }
    DataObject* parent = find_album_object(parent_name);
    Widget parent_node = parent ? parent->node : nullptr;

    node_state = depth < 1 ? XiClosed : XiOpen;
    Widget outline = main_window ? main_window->mw_navigator : nullptr;
    if (!outline) return;
    node = CreateNode(outline, parent_node, insert_before, name, node_state);
}

void DataObject::vertical_form(int) {}

void DataObject::horizontal_form(int) {}

DataObject* DataObject::find_next_displayed_sibling()
{
    if (natural_order) return next_sibling_in_natural_order(this);
    long pos = object_list.find_first(name);
    if (pos < 0) {
        printf("DEBUG : find_next_displayed_sibling() POS ERROR \n");
        fflush(stdout);
        return nullptr;
    }
    const char* own_parent = parent_name ? parent_name : "";
    for (size_t i = (size_t)pos + 1; i < object_list.entries(); i++) {
        DataObject* other = object_list.at(i);
        if (other->node && other->parent_name && strcmp(other->parent_name, own_parent) == 0)
            return other;
    }
    return nullptr;
}

/* The outline destroys a node's whole subtree with it: the objects whose
 * nodes went that way are no longer shown. */
void DataObject::node_destroyed_cb(Widget, XtPointer client, XtPointer)
{
    static_cast<DataObject*>(client)->node = nullptr;
}

Widget DataObject::CreateNode(Widget outline, Widget parent_node, Widget insert_before, char* label,
                              XiHierarchyNodeState state)
{
    std::string shown = bounded_label(node_label(label, fdn_name));
    XmString text = XmStringCreateLocalized(const_cast<char*>(shown.c_str()));
    /* An argument list rather than varargs: Xt converts a varargs list to
     * a typed one on every call, a tenth of the push button's cost. */
    Arg args[6];
    Cardinal n = 0;
    XtSetArg(args[n], XmNlabelString, text);
    n++;
    XtSetArg(args[n], XiNnodeState, state);
    n++;
    XtSetArg(args[n], XmNhighlightThickness, 0);
    n++;
    XtSetArg(args[n], XmNshadowThickness, 0);
    n++;
    XtSetArg(args[n], XiNparentNode, parent_node);
    n++;
    XtSetArg(args[n], XiNinsertBefore, insert_before);
    n++;
    Widget w = XtCreateWidget(label, xmPushButtonWidgetClass, outline, args, n);
    XtAddCallback(w, XmNactivateCallback, object_selected, label);
    XtAddCallback(w, XmNdestroyCallback, node_destroyed_cb, this);
    if (batch_depth > 0) {
        batch_nodes.push_back(w);
        XtAddCallback(w, XmNdestroyCallback, batch_node_gone_cb, nullptr);
    } else
        XtManageChild(w);
    XmStringFree(text);
    return w;
}
