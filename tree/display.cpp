/*
 * display.cpp - shows DataObjects as rows of the navigator, each under its
 * parent's row and among its siblings in FDN order, or in natural order
 * when the user asked for numbers in names to sort as numbers.
 *
 * The navigator keeps the tree of shown objects here (DataObject::shown,
 * shown_parent, shown_children) and lists it as rows; the outline asks for
 * the rows in view only and shows them with a few push buttons that it
 * binds to rows as the view scrolls.  So a container of 100,000 children
 * costs 100,000 small records and one screenful of widgets, not 200,000
 * widgets and windows.
 */
#include <Xm/PushB.h>
#include <X11/IntrinsicP.h>
#include <X11/keysym.h>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "XiOutline.h"
#include "core/catalog.h"
#include "core/globals.h"
#include "tree/data_object.h"
#include "tree/natural_order.h"
#include "tree/sorted_merge.h"
#include "tree/navigator.h"
#include "ui/main_win.h"

static Widget navigator()
{
    return main_window ? main_window->mw_navigator : nullptr;
}

/* ------------------------------------------------------------------ rows */

/* Top-level shown objects, in sibling order. */
static std::vector<DataObject*> top_rows;
/* The rows, listed again from the shown tree when they changed. */
static std::vector<DataObject*> row_objects;
static std::vector<int> row_levels;
static bool rows_dirty = false;

/* The sibling order: FDN order, or natural order when it is switched on. */
static bool name_less(const DataObject* a, const DataObject* b)
{
    if (natural_order) return natural_compare(a->name, b->name) < 0;
    return strcmp(a->name ? a->name : "", b->name ? b->name : "") < 0;
}

/* Sibling lists that took rows out of order: opening a container adds its
 * children in the server's order, and inserting each in its place would
 * move half the list each time (minutes for 100,000 children).  They are
 * appended instead and put in order once, before the rows are next listed
 * or a sibling is looked for.  Each entry names the list (its parent, null
 * for the top level) and how many of its rows were in order before the
 * first one out of order came. */
struct UnsortedSiblings {
    DataObject* parent;
    size_t in_order;
};
static std::vector<UnsortedSiblings> unsorted;

/* Sibling lists with empty places.  A row taken out leaves a null in its
 * list rather than closing the place, which would move the rest of the list
 * (a millisecond a deletion beside a million siblings); the places are closed
 * together before the rows are next listed or the list is put in order, or
 * once a list has MAX_HOLES of them, which also bounds the steps a look-up
 * takes over a run of them.  Each entry names the list as UnsortedSiblings
 * does, and how many empty places it has. */
struct HoledSiblings {
    DataObject* parent;
    size_t holes;
};
static std::vector<HoledSiblings> holed;
static const size_t MAX_HOLES = 4096;

static std::vector<DataObject*>& siblings_of(DataObject* parent)
{
    return parent ? parent->shown_children : top_rows;
}

template <typename List> static auto entry_of(List& list, const DataObject* parent)
{
    return std::find_if(list.begin(), list.end(),
                        [parent](const auto& e) { return e.parent == parent; });
}

static void close_holes(DataObject* parent)
{
    auto h = entry_of(holed, parent);
    if (h == holed.end()) return;
    std::vector<DataObject*>& list = siblings_of(parent);
    /* The rows in order before the first out of order: fewer by the places closed among them. */
    auto u = entry_of(unsorted, parent);
    if (u != unsorted.end())
        u->in_order -= (size_t)std::count(list.begin(), list.begin() + (long)u->in_order, nullptr);
    list.erase(std::remove(list.begin(), list.end(), nullptr), list.end());
    holed.erase(h);
}

static void close_all_holes()
{
    while (!holed.empty()) close_holes(holed.back().parent);
}

static void sort_siblings()
{
    close_all_holes();
    for (const UnsortedSiblings& u : unsorted)
        merge_sorted_tail(siblings_of(u.parent), u.in_order, name_less);
    unsorted.clear();
}

/* One list in sibling order, for a look-up in it; its empty places stay
 * unless it had rows out of order. */
static void sort_list(DataObject* parent)
{
    auto u = entry_of(unsorted, parent);
    if (u == unsorted.end()) return;
    close_holes(parent);
    u = entry_of(unsorted, parent);
    merge_sorted_tail(siblings_of(parent), u->in_order, name_less);
    unsorted.erase(u);
}

/* Where obj is in a list put in order by sort_list (a search in sibling
 * order that steps over empty places), or the list's size. */
static size_t sibling_index(const std::vector<DataObject*>& list, const DataObject* obj)
{
    if (sort_on) {
        size_t lo = 0, hi = list.size();
        while (lo < hi) {
            size_t mid = lo + (hi - lo) / 2, at = mid;
            while (at < hi && !list[at]) at++;
            if (at < hi && name_less(list[at], obj))
                lo = at + 1;
            else
                hi = mid;
        }
        for (size_t i = lo; i < list.size() && (!list[i] || !name_less(obj, list[i])); i++)
            if (list[i] == obj) return i;
    }
    /* Not found in order (equal names, or no order kept): look at every row. */
    return (size_t)(std::find(list.begin(), list.end(), obj) - list.begin());
}

/* A list about to go as a whole (its parent's row is going): no entry may name it. */
static void forget_list(DataObject* parent)
{
    auto h = entry_of(holed, parent);
    if (h != holed.end()) holed.erase(h);
    auto u = entry_of(unsorted, parent);
    if (u != unsorted.end()) unsorted.erase(u);
}

static void list_rows(DataObject* obj, int level)
{
    row_objects.push_back(obj);
    row_levels.push_back(level);
    if (obj->node_state == XiClosed) return;
    for (DataObject* child : obj->shown_children) list_rows(child, level + 1);
}

static void ensure_rows()
{
    if (!rows_dirty) return;
    sort_siblings();
    row_objects.clear();
    row_levels.clear();
    for (DataObject* obj : top_rows) list_rows(obj, 0);
    rows_dirty = false;
}

size_t row_count()
{
    ensure_rows();
    return row_objects.size();
}

DataObject* row_object(size_t row)
{
    ensure_rows();
    return row < row_objects.size() ? row_objects[row] : nullptr;
}

long object_row(DataObject* obj)
{
    if (!obj || !obj->shown) return -1;
    ensure_rows();
    auto it = std::find(row_objects.begin(), row_objects.end(), obj);
    return it == row_objects.end() ? -1 : (long)(it - row_objects.begin());
}

/* ------------------------------------------------------------ row widgets */

/* What each row widget of the navigator shows: its object, and the label
 * and colours it was given, so that rebinding sets only what changed. */
struct RowWidget {
    Widget widget;
    DataObject* obj;
    std::string label;
    std::string tip; /* the tool tip set, "" for none */
    Pixel fg, bg;    /* the normal colours; a selected row has them exchanged */
};
static std::vector<RowWidget> row_widgets;

static RowWidget* row_widget(Widget w)
{
    for (RowWidget& r : row_widgets)
        if (r.widget == w) return &r;
    return nullptr;
}

DataObject* bound_object(Widget node)
{
    RowWidget* r = row_widget(node);
    return r ? r->obj : nullptr;
}

/* The tool tip of a row: the object's class and its full FDN, whatever the
 * label shows.  Without a known class, none: the pointer entering the row
 * fetches it then. */
static std::string tip_text(DataObject* obj, const char* cls)
{
    if (!obj || !obj->name || !cls) return std::string();
    /* A directory's entries are named by their DNs. */
    DataUnit shown = platform.user_name(DataUnit(obj->name));
    const char* name = shown ? shown.str() : obj->name;
    bool dn = strcmp(name, obj->name) != 0;
    /* Room for the names and the catalogue's words around them. */
    std::string text(strlen(cls) + strlen(name) + 1024, '\0');
    int n;
    if (*cls)
        n = dn ? snprintf(&text[0], text.size(), qx_msg(842, "Class: %s\nDN: %s"), cls, name)
               : snprintf(&text[0], text.size(), qx_msg(840, "Class: %s\nFDN: %s"), cls, name);
    else
        n = dn ? snprintf(&text[0], text.size(), qx_msg(843, "DN: %s"), name)
               : snprintf(&text[0], text.size(), qx_msg(841, "FDN: %s"), name);
    if (n <= 0) return std::string();
    text.resize(std::min(static_cast<size_t>(n), text.size() - 1));
    return text;
}

static void set_tip(RowWidget& r, const std::string& tip)
{
    if (tip == r.tip) return;
    /* Generated, not just created: the newline starts a second line. */
    XmString text = tip.empty() ? nullptr
                                : XmStringGenerate(const_cast<char*>(tip.c_str()), nullptr,
                                                   XmCHARSET_TEXT, nullptr);
    XtVaSetValues(r.widget, XmNtoolTipString, text, NULL);
    if (text) XmStringFree(text);
    r.tip = tip;
}

/* Pointer crossings of the rows, counted: a wait for a class may outlast
 * the pointer's stay on the row. */
static unsigned long row_leaves = 0;

/* The pointer entered a row: its tool tip, when no album knew the class,
 * after asking the server (a wait).  Motif's tool tip starts after this
 * handler, with the text set here. */
static void row_crossing_handler(Widget w, XtPointer, XEvent* event, Boolean* go_on)
{
    if (event->type == LeaveNotify) {
        row_leaves++;
        return;
    }
    if (event->type != EnterNotify) return;
    RowWidget* r = row_widget(w);
    if (!r || !r->obj || !r->tip.empty()) return;
    DataObject* obj = r->obj;
    unsigned long leaves = row_leaves;
    const char* cls = fetch_class(obj); /* may wait */
    r = row_widget(w);                  /* rows may have been made meanwhile */
    if (!cls || !r || r->obj != obj || leaves != row_leaves) {
        *go_on = False; /* stale: no tip for a row the pointer has left */
        return;
    }
    set_tip(*r, tip_text(obj, cls));
}

/* The object no longer has a widget (its row left the view, or the object
 * the navigator). */
static void release_node(DataObject* obj)
{
    if (!obj->node) return;
    if (RowWidget* r = row_widget(obj->node))
        if (r->obj == obj) r->obj = nullptr;
    obj->node = nullptr;
}

void DataObject::node_destroyed_cb(Widget w, XtPointer, XtPointer)
{
    for (size_t i = 0; i < row_widgets.size(); i++) {
        if (row_widgets[i].widget != w) continue;
        if (DataObject* obj = row_widgets[i].obj) obj->node = nullptr;
        row_widgets.erase(row_widgets.begin() + (long)i);
        return;
    }
}

static Cardinal source_row_count(XtPointer)
{
    return (Cardinal)row_count();
}

static void source_describe(XtPointer, Cardinal row, int* depth, XiHierarchyNodeState* state)
{
    ensure_rows();
    if (row >= row_objects.size()) return;
    *depth = row_levels[row];
    *state = row_objects[row]->node_state == XiOpen ? XiOpen : XiClosed;
}

/* Label by the label rule, inverse colours for a selected object. */
static void source_bind(XtPointer, Widget node, long row)
{
    RowWidget* r = row_widget(node);
    if (!r) return;
    DataObject* obj = row < 0 ? nullptr : row_object((size_t)row);
    if (r->obj && r->obj != obj && r->obj->node == node) r->obj->node = nullptr;
    r->obj = obj;
    if (!obj) return;
    if (obj->node && obj->node != node) release_node(obj);
    obj->node = node;
    /* Colours first: a label change may lay the outline out again.  The
     * selection exchanges the colours of the row in view itself (add,
     * deselect), so the widget's own colours are compared. */
    Pixel want_fg = obj->selected ? r->bg : r->fg;
    Pixel want_bg = obj->selected ? r->fg : r->bg;
    Pixel now_fg = 0, now_bg = 0;
    XtVaGetValues(node, XmNforeground, &now_fg, XmNbackground, &now_bg, NULL);
    if (now_fg != want_fg || now_bg != want_bg)
        XtVaSetValues(node, XmNforeground, want_fg, XmNbackground, want_bg, NULL);
    std::string shown = bounded_label(node_label(obj->name, fdn_name));
    if (shown != r->label) {
        XmString text = XmStringCreateLocalized(const_cast<char*>(shown.c_str()));
        XtVaSetValues(node, XmNlabelString, text, NULL);
        XmStringFree(text);
        r->label = shown;
    }
    set_tip(*r, tip_text(obj, known_class(obj)));
}

/* Return on a row with the keyboard focus does what a double click does. */
static void row_return_handler(Widget w, XtPointer, XEvent* event, Boolean* go_on)
{
    if (event->type != KeyPress) return;
    KeySym sym = XLookupKeysym(&event->xkey, 0);
    if (sym != XK_Return && sym != XK_KP_Enter) return;
    *go_on = False;
    XmPushButtonCallbackStruct cbs = {};
    cbs.reason = XmCR_ACTIVATE;
    cbs.event = event;
    cbs.click_count = 2;
    object_selected(w, nullptr, &cbs);
}

/* What a row stands for, so that the keyboard focus stays with its object
 * when rows come and go above it: the object's serial, which no later
 * object takes (a new object may take a deleted one's address). */
static XtPointer source_row_id(XtPointer, Cardinal row)
{
    DataObject* obj = row_object(row);
    return obj ? (XtPointer)(uintptr_t)obj->serial : nullptr;
}

static long source_find_row(XtPointer, XtPointer id)
{
    ensure_rows();
    for (size_t row = 0; row < row_objects.size(); row++)
        if ((XtPointer)(uintptr_t)row_objects[row]->serial == id) return (long)row;
    return -1;
}

static Widget source_create_row(XtPointer, Widget outline)
{
    Arg args[4];
    Cardinal n = 0;
    XtSetArg(args[n], XmNhighlightThickness, 0);
    n++;
    XtSetArg(args[n], XmNshadowThickness, 0);
    n++;
    XtSetArg(args[n], XiNnodeState, XiClosed);
    n++;
    Widget w = XtCreateWidget("node", xmPushButtonWidgetClass, outline, args, n);
    /* No client data: the click finds the object the row shows then. */
    XtAddCallback(w, XmNactivateCallback, object_selected, nullptr);
    XtAddCallback(w, XmNdestroyCallback, DataObject::node_destroyed_cb, nullptr);
    XtInsertEventHandler(w, KeyPressMask, False, row_return_handler, nullptr, XtListHead);
    /* Before Motif's own Enter, which starts the tool tip. */
    XtInsertEventHandler(w, EnterWindowMask | LeaveWindowMask, False, row_crossing_handler, nullptr,
                         XtListHead);
    RowWidget r{w, nullptr, std::string(), std::string(), 0, 0};
    XtVaGetValues(w, XmNforeground, &r.fg, XmNbackground, &r.bg, NULL);
    row_widgets.push_back(r);
    return w;
}

/* ------------------------------------------------------------ showing */

static int batch_depth = 0;
static bool rows_pending = false;

/* The rows in view shown again, the object at the top staying there. */
static void refresh_view()
{
    rows_pending = false;
    Widget outline = navigator();
    if (!outline) return;
    if (!XiOutlineHasRowSource(outline)) {
        XiOutlineRowSource source = {};
        source.row_count = source_row_count;
        source.describe_row = source_describe;
        source.bind_row = source_bind;
        source.create_row = source_create_row;
        source.row_id = source_row_id;
        source.find_row = source_find_row;
        XiOutlineSetRowSource(outline, &source);
        return;
    }
    long top = -1;
    Widget first = XiOutlineNodeOfRow(outline, XiOutlineTopRow(outline));
    DataObject* top_obj = first ? bound_object(first) : nullptr;
    if (top_obj) top = object_row(top_obj);
    XiOutlineRowsChanged(outline, top);
}

void rows_changed()
{
    rows_dirty = true;
    if (batch_depth > 0)
        rows_pending = true;
    else
        refresh_view();
}

void node_batch_begin()
{
    batch_depth++;
}

void node_batch_end()
{
    if (batch_depth == 0 || --batch_depth > 0) return;
    if (rows_pending) refresh_view();
}

/* Long enough for a burst of reports to arrive, short enough not to be
 * seen. */
static const unsigned long BRIEF_BATCH_MS = 50;
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
    brief_batch = XtAppAddTimeOut(app_context, BRIEF_BATCH_MS, brief_batch_over, nullptr);
}

void show_object_row(DataObject* obj)
{
    Widget outline = navigator();
    if (!outline || !obj || !obj->shown) return;
    if (rows_pending) refresh_view();
    long row = object_row(obj);
    if (row >= 0) XiOutlineShowRow(outline, (Cardinal)row);
}

void forget_all_rows()
{
    for (size_t i = 0; i < DataObject::object_list.entries(); i++) {
        DataObject* obj = DataObject::object_list.at(i);
        obj->shown = false;
        obj->shown_parent = nullptr;
        std::vector<DataObject*>().swap(obj->shown_children);
        obj->node = nullptr;
    }
    for (RowWidget& r : row_widgets) r.obj = nullptr;
    top_rows.clear();
    unsorted.clear();
    holed.clear();
    rows_changed();
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
        for (AlbumImage ai = album().first_image(); ai; ai.next_image()) {
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

/* The object's row goes under its parent's row when the parent is shown,
 * else at the top level; among its siblings after those whose FDN sorts
 * before or equal to its own (sort_on), or after all of them. */
void DataObject::outline_form(int depth)
{
    node_state = depth < 1 ? XiClosed : XiOpen;
    if (shown) {
        rows_changed();
        return;
    }
    DataObject* parent = find_album_object(parent_name);
    if (parent == this || (parent && !parent->shown)) parent = nullptr;
    std::vector<DataObject*>& siblings = siblings_of(parent);
    if (!siblings.empty() && !siblings.back()) close_holes(parent); /* the last row is compared */
    if (sort_on && !siblings.empty() && name_less(this, siblings.back()) &&
        entry_of(unsorted, parent) == unsorted.end())
        unsorted.push_back({parent, siblings.size()});
    siblings.push_back(this);
    shown_parent = parent;
    shown = true;
    rows_changed();
}

size_t DataObject::shown_count() const
{
    auto h = entry_of(holed, this);
    return shown_children.size() - (h == holed.end() ? 0 : h->holes);
}

void DataObject::vertical_form(int) {}

void DataObject::horizontal_form(int) {}

/* Every shown sibling list is put into the order now asked for.  Without
 * sort_on the rows keep the order the server gave them, and so does a
 * switch of the order. */
static void resort_below(DataObject* obj)
{
    std::stable_sort(obj->shown_children.begin(), obj->shown_children.end(), name_less);
    for (DataObject* child : obj->shown_children) resort_below(child);
}

void resort_siblings()
{
    if (!sort_on) return;
    close_all_holes();
    unsorted.clear();
    std::stable_sort(top_rows.begin(), top_rows.end(), name_less);
    for (DataObject* obj : top_rows) resort_below(obj);
    rows_changed();
}

/* Hides obj's shown descendants without taking them out of obj's list one
 * by one: the list goes as a whole. */
static void hide_below(DataObject* obj)
{
    forget_list(obj);
    for (DataObject* child : obj->shown_children) {
        if (!child) continue;
        hide_below(child);
        child->shown = false;
        child->shown_parent = nullptr;
        release_node(child);
    }
    std::vector<DataObject*>().swap(obj->shown_children);
}

void DataObject::destroy_node()
{
    release_node(this);
    if (!shown) return;
    hide_below(this);
    sort_list(shown_parent);
    std::vector<DataObject*>& siblings = siblings_of(shown_parent);
    size_t at = sibling_index(siblings, this);
    if (at < siblings.size()) {
        siblings[at] = nullptr;
        auto h = entry_of(holed, shown_parent);
        if (h == holed.end()) h = holed.insert(holed.end(), {shown_parent, 0});
        if (++h->holes >= MAX_HOLES || 2 * h->holes > siblings.size()) close_holes(shown_parent);
    }
    shown = false;
    shown_parent = nullptr;
    rows_changed();
}
