/*
 * XiOutline.cpp - the outline: lays the shown nodes of an XiHierarchy out as
 * indented rows and places them through a work procedure, visible rows
 * first when an exposure asks for them.
 */
#include "XiOutlineP.h"

#include <Xm/XmP.h>
#include <Xm/ScrollBar.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

#include <algorithm>
#include <cstring>

#include "XiLayout.h"

/* ------------------------------------------------------------------ */
/* Prototypes                                                          */
/* ------------------------------------------------------------------ */

static void ClassPartInitialize(WidgetClass wc);
static void Initialize(Widget request, Widget new_w, ArgList args, Cardinal* num_args);
static void Destroy(Widget w);
static void Resize(Widget w);
static void Redisplay(Widget w, XEvent* event, Region region);
static Boolean SetValues(Widget current, Widget request, Widget new_w, ArgList args,
                         Cardinal* num_args);
static XtGeometryResult QueryGeometry(Widget w, XtWidgetGeometry* intended,
                                      XtWidgetGeometry* desired);
static XtGeometryResult GeometryManager(Widget child, XtWidgetGeometry* request,
                                        XtWidgetGeometry* reply);
static void ChangeManaged(Widget w);
static void InsertChild(Widget child);
static void ConstraintInitialize(Widget request, Widget new_w, ArgList args, Cardinal* num_args);
static void ConstraintDestroy(Widget w);
static Boolean ConstraintSetValues(Widget current, Widget request, Widget new_w, ArgList args,
                                   Cardinal* num_args);

static void UnmapAllExtraNodes(Widget w, HierarchyConstraints node);
static void ToggleNodeState(Widget button, XtPointer client_data, XtPointer call_data);
static void CalcMaxWidth(Widget w);
static void CalcLocations(Widget w, Boolean allow_resize);

static void default_focus_color(Widget w, int offset, XrmValue* value);
static void focus_handler(Widget child, XtPointer client_data, XEvent* event, Boolean* go_on);
static void update_focus_mark(Widget w);

/* ------------------------------------------------------------------ */
/* Resources                                                           */
/* ------------------------------------------------------------------ */

static XtResource resources[] = {
    {(String)XiNindentSpace, (String)XiCIndentSpace, (String)XmRHorizontalDimension,
     sizeof(Dimension), XtOffsetOf(XiOutlineRec, outline.indent_space), (String)XmRImmediate,
     (XtPointer)30},
    {(String)XmNverticalScrollBar, (String)XmCVerticalScrollBar, (String)XmRWidget, sizeof(Widget),
     XtOffsetOf(XiOutlineRec, outline.v_scroll), (String)XmRImmediate, NULL},
    {(String)XmNhorizontalScrollBar, (String)XmCHorizontalScrollBar, (String)XmRWidget,
     sizeof(Widget), XtOffsetOf(XiOutlineRec, outline.h_scroll), (String)XmRImmediate, NULL},
    {(String)XiNfocusColor, (String)XmCHighlightColor, (String)XmRPixel, sizeof(Pixel),
     XtOffsetOf(XiOutlineRec, outline.focus_color), (String)XmRCallProc,
     (XtPointer)default_focus_color},
};

static XmSyntheticResource syn_resources[] = {
    {(String)XiNindentSpace, sizeof(Dimension), XtOffsetOf(XiOutlineRec, outline.indent_space),
     XmeFromHorizontalPixels, XmeToHorizontalPixels},
};

/* ------------------------------------------------------------------ */
/* Class record                                                        */
/* ------------------------------------------------------------------ */

XiOutlineClassRec xiOutlineClassRec = {
    {
        /* core_class fields */
        (WidgetClass)&xiHierarchyClassRec, /* superclass */
        (String) "XiOutline",              /* class_name */
        sizeof(XiOutlineRec),              /* widget_size */
        NULL,                              /* class_initialize */
        ClassPartInitialize,               /* class_part_initialize */
        False,                             /* class_inited */
        Initialize,                        /* initialize */
        NULL,                              /* initialize_hook */
        XtInheritRealize,                  /* realize */
        NULL,                              /* actions */
        0,                                 /* num_actions */
        resources,                         /* resources */
        XtNumber(resources),               /* num_resources */
        NULLQUARK,                         /* xrm_class */
        True,                              /* compress_motion */
        XtExposeCompressMultiple,          /* compress_exposure: one rectangle */
        True,                              /* compress_enterleave */
        False,                             /* visible_interest */
        Destroy,                           /* destroy */
        Resize,                            /* resize */
        Redisplay,                         /* expose */
        SetValues,                         /* set_values */
        NULL,                              /* set_values_hook */
        XtInheritSetValuesAlmost,          /* set_values_almost */
        NULL,                              /* get_values_hook */
        NULL,                              /* accept_focus */
        XtVersion,                         /* version */
        NULL,                              /* callback_private */
        XtInheritTranslations,             /* tm_table */
        QueryGeometry,                     /* query_geometry */
        NULL,                              /* display_accelerator */
        NULL,                              /* extension */
    },
    {
        /* composite_class fields */
        GeometryManager,      /* geometry_manager */
        ChangeManaged,        /* change_managed */
        InsertChild,          /* insert_child (the hierarchy's, which
                                 refuses gadgets) */
        XtInheritDeleteChild, /* delete_child */
        NULL,                 /* extension */
    },
    {
        /* constraint_class fields */
        NULL,                           /* resources (the hierarchy's) */
        0,                              /* num_resources */
        sizeof(XiOutlineConstraintRec), /* constraint_size */
        ConstraintInitialize,           /* initialize */
        ConstraintDestroy,              /* destroy */
        ConstraintSetValues,            /* set_values */
        NULL,                           /* extension */
    },
    {
        /* manager_class fields */
        XtInheritTranslations,   /* translations */
        syn_resources,           /* syn_resources */
        XtNumber(syn_resources), /* num_syn_resources */
        NULL,                    /* syn_constraint_resources */
        0,                       /* num_syn_constraint_resources */
        XmInheritParentProcess,  /* parent_process */
        NULL,                    /* extension */
    },
    {
        /* hierarchy_class fields */
        XiInheritChangeNodeState,      /* change_node_state */
        XiInheritMapNode,              /* map_node */
        XiInheritUnmapNode,            /* unmap_node */
        UnmapAllExtraNodes,            /* unmap_all_extra_nodes: queued */
        XiInheritBuildNodeTable,       /* build_node_table */
        XiInheritResetOpenCloseButton, /* reset_open_close_button */
        ToggleNodeState,               /* toggle_node_state: relayouts */
        NULL,                          /* extension */
    },
    {
        /* outline_class fields */
        CalcMaxWidth,  /* calc_max_width */
        CalcLocations, /* calc_locations */
        NULL,          /* extension */
    },
};

WidgetClass xiOutlineWidgetClass = (WidgetClass)&xiOutlineClassRec;

/* ------------------------------------------------------------------ */
/* Helpers                                                             */
/* ------------------------------------------------------------------ */

static XiOutlineWidget OW(Widget w)
{
    return (XiOutlineWidget)w;
}
static OutlineConstraints ON(HierarchyConstraints n)
{
    return (OutlineConstraints)n;
}

static XiOutlineClassPart* outline_class(Widget w)
{
    return &((XiOutlineWidgetClass)XtClass(w))->outline_class;
}

static XiHierarchyClassPart* hierarchy_class(Widget w)
{
    return &((XiHierarchyWidgetClass)XtClass(w))->hierarchy_class;
}

static int full_width(Widget c)
{
    return c->core.width + 2 * c->core.border_width;
}
static int full_height(Widget c)
{
    return c->core.height + 2 * c->core.border_width;
}

/* --- the placement queue --- */

static bool queued(OutlineConstraints n)
{
    return n->outline.map || n->outline.unmap || n->outline.move;
}

static void queue_push(XiPlacementQueue* q, OutlineConstraints n)
{
    if (q->count == q->alloc) {
        q->alloc = q->alloc ? 2 * q->alloc : 64;
        q->nodes =
            (OutlineConstraints*)XtRealloc((char*)q->nodes, q->alloc * sizeof(OutlineConstraints));
    }
    q->nodes[q->count++] = n;
}

/* Close the gaps left by dropped entries. */
static void queue_compact(XiPlacementQueue* q)
{
    Cardinal to = 0;
    for (Cardinal i = q->head; i < q->count; i++)
        if (q->nodes[i] != NULL) q->nodes[to++] = q->nodes[i];
    q->head = 0;
    q->count = to;
}

static Boolean work_proc(XtPointer client_data);

static void queue_node(Widget w, OutlineConstraints n, bool move, bool map, bool unmap)
{
    if (!queued(n)) queue_push(&OW(w)->outline.pending, n);
    n->outline.move = move;
    n->outline.map = map;
    n->outline.unmap = unmap;
}

static void start_work(Widget w)
{
    XiOutlinePart* op = &OW(w)->outline;
    if (op->work_id == 0 && op->pending.count > op->pending.head)
        op->work_id = XtAppAddWorkProc(XtWidgetToApplicationContext(w), work_proc, w);
}

/* Where rows wait while they are not shown: outside the window.  Xt clears
 * the area of every child it unmanages, with exposures; a row destroyed
 * where it was once shown would cost an exposure of the outline, and
 * dropping a tree of thousands of rows would queue thousands of them. */
static const Position PARKED = -30000;

static bool self_scrolling(Widget w);
static bool has_source(Widget w);
static void place_source_rows(Widget w);
static void follow_focus_row(Widget w);

/* Carry out the pending placement of one node. */
static void do_placement(Widget w, OutlineConstraints n)
{
    XiOutlineConstraintPart* o = &n->outline;
    Widget button = n->hierarchy.open_close_button;
    if (o->move) {
        XtMoveWidget(n->hierarchy.widget, o->new_widget_x, o->new_widget_y);
        if (button != NULL) XtMoveWidget(button, o->new_button_x, o->new_button_y);
    }
    if (o->map) {
        /* A row placed by an outline that scrolls itself goes on top of
         * the thousands that wait unmapped: when the focus moves, Motif
         * asks the server about every window stacked above the widget it
         * picks.  (Raising costs the server time in the number of rows, so
         * an outline that shows every row does not.)  Raised before it is
         * mapped, as mapping it may give it the focus. */
        if (self_scrolling(w) && XtIsRealized(n->hierarchy.widget)) {
            XRaiseWindow(XtDisplay(w), XtWindow(n->hierarchy.widget));
            if (button != NULL && XtIsRealized(button))
                XRaiseWindow(XtDisplay(w), XtWindow(button));
        }
        hierarchy_class(w)->map_node((HierarchyConstraints)n);
    } else if (o->unmap) {
        hierarchy_class(w)->unmap_node((HierarchyConstraints)n);
        XtMoveWidget(n->hierarchy.widget, PARKED, PARKED);
        if (button != NULL) XtMoveWidget(button, PARKED, PARKED);
    }
    o->map = o->unmap = o->move = False;
    if (n->hierarchy.widget == OW(w)->outline.focus_node) update_focus_mark(w);
}

/* One node per call, so that the program stays responsive. */
static Boolean work_proc(XtPointer client_data)
{
    Widget w = (Widget)client_data;
    XiPlacementQueue* q = &OW(w)->outline.pending;
    while (q->head < q->count) {
        OutlineConstraints n = q->nodes[q->head++];
        if (n != NULL) {
            do_placement(w, n);
            break;
        }
    }
    if (q->head >= q->count) {
        q->head = q->count = 0;
        OW(w)->outline.work_id = 0;
        return True;
    }
    return False;
}

static void mark_stale(HierarchyConstraints node)
{
    for (Cardinal i = 0; i < node->hierarchy.num_children; i++) {
        node->hierarchy.children[i]->hierarchy.status |= XiNodeStale;
        mark_stale(node->hierarchy.children[i]);
    }
}

struct LayoutSums {
    int extent;
    int height;
};

static void layout_walk(Widget w, HierarchyConstraints node, int level, LayoutSums* sums)
{
    XiHierarchyPart* hp = &OW(w)->hierarchy;
    int indent = OW(w)->outline.indent_space;
    for (Cardinal i = 0; i < node->hierarchy.num_children; i++) {
        HierarchyConstraints child = node->hierarchy.children[i];
        if (!XtIsManaged(child->hierarchy.widget)) continue;
        int next_level = level;
        if (child->hierarchy.state != XiHidden) {
            Widget button = child->hierarchy.open_close_button;
            int bw = button ? full_width(button) : 0;
            int bh = button ? full_height(button) : 0;
            XiOutlineRow r = xi_outline_row(level, indent, hp->h_margin, bw, bh,
                                            full_width(child->hierarchy.widget),
                                            full_height(child->hierarchy.widget));
            XiOutlineConstraintPart* o = &ON(child)->outline;
            o->button_x = (Position)r.button_x;
            o->widget_x = (Position)r.widget_x;
            o->row_height = (Dimension)r.row_height;
            sums->extent = std::max(sums->extent, r.extent);
            sums->height += r.row_height + hp->v_margin;
            next_level = level + 1;
        }
        if (child->hierarchy.state != XiClosed) layout_walk(w, child, next_level, sums);
    }
}

static Dimension clamp_dim(int v)
{
    return (Dimension)std::min(std::max(v, 1), 32767);
}

/* --- scrolling by the outline itself --- */

static bool self_scrolling(Widget w)
{
    return OW(w)->outline.v_scroll != NULL;
}

/* Make first_node a shown node again after the table changed, and keep the
 * last page full: returns its index in the node table. */
static Cardinal fix_top_row(Widget w)
{
    XiHierarchyPart* hp = &OW(w)->hierarchy;
    XiOutlinePart* op = &OW(w)->outline;
    Cardinal n = hp->num_nodes;
    if (n == 0) {
        op->top_index = 0;
        op->first_node = NULL;
        return 0;
    }
    Cardinal top = op->top_index;
    if (top >= n || hp->node_table[top] != op->first_node) {
        Cardinal i = 0;
        if (op->first_node != NULL)
            while (i < n && hp->node_table[i] != op->first_node) i++;
        top = (op->first_node != NULL && i < n) ? i : std::min(top, n - 1);
    }
    /* The lowest top row from which every following row is wholly in view. */
    Cardinal max_top = n;
    int y = hp->v_margin;
    while (max_top > 0) {
        int rh = ON(hp->node_table[max_top - 1])->outline.row_height;
        if (y + rh > (int)w->core.height && max_top < n) break;
        y += rh + hp->v_margin;
        max_top--;
    }
    top = std::min(top, max_top);
    op->top_index = top;
    op->first_node = hp->node_table[top];
    return top;
}

/* Keep the horizontal offset within what the widest row needs. */
static void fix_x_offset(Widget w)
{
    XiOutlinePart* op = &OW(w)->outline;
    int spare = (int)op->max_width - (int)w->core.width;
    op->x_offset = std::max(0, std::min(op->x_offset, spare));
}

static void set_scroll_bar(Widget sb, int maximum, int slider, int value, int page)
{
    int old_max = 0, old_slider = 0, old_value = 0, old_page = 0;
    XtVaGetValues(sb, XmNmaximum, &old_max, XmNsliderSize, &old_slider, XmNvalue, &old_value,
                  XmNpageIncrement, &old_page, NULL);
    if (old_max == maximum && old_slider == slider && old_value == value && old_page == page)
        return;
    XtVaSetValues(sb, XmNminimum, 0, XmNmaximum, maximum, XmNsliderSize, slider, XmNvalue, value,
                  XmNincrement, 1, XmNpageIncrement, page, NULL);
}

/* The vertical bar counts rows, the horizontal one pixels. */
static void update_scroll_bars(Widget w)
{
    XiOutlinePart* op = &OW(w)->outline;
    int rows = std::max(1, has_source(w) ? (int)op->row_count : (int)OW(w)->hierarchy.num_nodes);
    int slider = std::max(1, std::min((int)op->rows_in_view, rows));
    int value = std::min((int)op->top_index, rows - slider);
    set_scroll_bar(op->v_scroll, rows, slider, value, std::max(1, slider - 1));
    if (op->h_scroll != NULL) {
        int width = std::max(1, (int)w->core.width);
        int maximum = std::max((int)op->max_width, width);
        set_scroll_bar(op->h_scroll, maximum, width, op->x_offset,
                       std::max(1, width - OW(w)->outline.indent_space));
    }
}

/* Queue moves and maps for the rows that fit in the widget, unmaps for the
 * rest; pending work of nodes no longer shown (their unmaps) is kept. */
static void place_rows(Widget w)
{
    XiHierarchyPart* hp = &OW(w)->hierarchy;
    XiOutlinePart* op = &OW(w)->outline;
    if (!hp->refigure_mode) return;

    if (has_source(w)) {
        place_source_rows(w);
        return;
    }
    XiPlacementQueue* q = &op->pending;
    for (Cardinal i = q->head; i < q->count; i++) {
        OutlineConstraints n = q->nodes[i];
        if (n != NULL && !(n->hierarchy.status & XiNodeStale)) {
            n->outline.map = n->outline.unmap = n->outline.move = False;
            q->nodes[i] = NULL;
        }
    }
    queue_compact(q);

    Cardinal first = 0;
    int dx = 0;
    if (self_scrolling(w)) {
        first = fix_top_row(w);
        fix_x_offset(w);
        dx = op->x_offset;
    } else {
        while (first < hp->num_nodes && hp->node_table[first] != op->first_node) first++;
        if (first == hp->num_nodes) first = 0;
    }
    for (Cardinal i = 0; i < first; i++)
        if (hp->node_table[i]->hierarchy.status & XiNodeMapped)
            queue_node(w, ON(hp->node_table[i]), false, false, true);

    int y = hp->v_margin;
    int height = w->core.height;
    op->rows_in_view = 0;
    for (Cardinal i = first; i < hp->num_nodes; i++) {
        OutlineConstraints n = ON(hp->node_table[i]);
        if (y < height && y <= 32767) {
            XiOutlineConstraintPart* o = &n->outline;
            if (y + o->row_height <= height) op->rows_in_view++;
            o->new_widget_x = (Position)(o->widget_x - dx);
            o->new_widget_y = (Position)y;
            Widget button = n->hierarchy.open_close_button;
            if (button != NULL) {
                o->new_button_x = (Position)(o->button_x - dx);
                o->new_button_y = (Position)(y + ((int)o->row_height - full_height(button)) / 2);
            }
            queue_node(w, n, true, true, false);
            y += o->row_height + hp->v_margin;
        } else if (n->hierarchy.status & XiNodeMapped) {
            queue_node(w, n, false, false, true);
        }
    }
    if (self_scrolling(w)) update_scroll_bars(w);
    start_work(w);
}

/* Carry out every pending placement now. */
static void work_off(Widget w)
{
    XiOutlinePart* op = &OW(w)->outline;
    XiPlacementQueue* q = &op->pending;
    for (Cardinal i = q->head; i < q->count; i++)
        if (q->nodes[i] != NULL) do_placement(w, q->nodes[i]);
    q->head = q->count = 0;
    if (op->work_id != 0) {
        XtRemoveWorkProc(op->work_id);
        op->work_id = 0;
    }
}

/* Scroll so that row `index` of the node table is the top row (or as near
 * as the last page allows), placing the rows now in view at once. */
static void scroll_to_row(Widget w, long index)
{
    XiHierarchyPart* hp = &OW(w)->hierarchy;
    XiOutlinePart* op = &OW(w)->outline;
    if (has_source(w)) {
        if (!hp->refigure_mode) return;
        op->top_index = (Cardinal)std::max(0L, std::min(index, (long)op->row_count - 1));
        place_source_rows(w);
        return;
    }
    if (hp->num_nodes == 0 || !hp->refigure_mode) return;
    index = std::max(0L, std::min(index, (long)hp->num_nodes - 1));
    op->top_index = (Cardinal)index;
    op->first_node = hp->node_table[index];
    place_rows(w);
    work_off(w);
}

static void v_scroll_cb(Widget, XtPointer client_data, XtPointer call_data)
{
    scroll_to_row((Widget)client_data, ((XmScrollBarCallbackStruct*)call_data)->value);
}

static void h_scroll_cb(Widget, XtPointer client_data, XtPointer call_data)
{
    Widget w = (Widget)client_data;
    if (!OW(w)->hierarchy.refigure_mode) return;
    OW(w)->outline.x_offset = ((XmScrollBarCallbackStruct*)call_data)->value;
    place_rows(w);
    work_off(w);
}

static void scroll_bar_gone_cb(Widget sb, XtPointer client_data, XtPointer)
{
    XiOutlinePart* op = &OW((Widget)client_data)->outline;
    if (op->v_scroll == sb) op->v_scroll = NULL;
    if (op->h_scroll == sb) op->h_scroll = NULL;
}

static void attach_scroll_bar(Widget w, Widget sb, XtCallbackProc proc)
{
    if (sb == NULL) return;
    XtAddCallback(sb, XmNvalueChangedCallback, proc, w);
    XtAddCallback(sb, XmNdragCallback, proc, w);
    XtAddCallback(sb, XmNdestroyCallback, scroll_bar_gone_cb, w);
}

static void detach_scroll_bar(Widget w, Widget sb, XtCallbackProc proc)
{
    if (sb == NULL) return;
    XtRemoveCallback(sb, XmNvalueChangedCallback, proc, w);
    XtRemoveCallback(sb, XmNdragCallback, proc, w);
    XtRemoveCallback(sb, XmNdestroyCallback, scroll_bar_gone_cb, w);
}

/* The mouse wheel over the outline or any of its rows scrolls three rows,
 * a page with Shift held. */
static void wheel_handler(Widget, XtPointer client_data, XEvent* event, Boolean*)
{
    Widget w = (Widget)client_data;
    if (event->type != ButtonPress || !self_scrolling(w)) return;
    unsigned int button = event->xbutton.button;
    if (button != Button4 && button != Button5) return;
    XiOutlinePart* op = &OW(w)->outline;
    long step = (event->xbutton.state & ShiftMask) ? std::max(1, (int)op->rows_in_view - 1) : 3;
    scroll_to_row(w, (long)op->top_index + (button == Button5 ? step : -step));
}

/* --- rows kept by the program --- */

static bool has_source(Widget w)
{
    return OW(w)->outline.source.row_count != NULL;
}

/* The focus is on `row` (-1: on no row), remembered also by what the row
 * stands for when the source tells. */
static void set_focus_row(Widget w, long row)
{
    XiOutlinePart* op = &OW(w)->outline;
    op->focus_row = row < 0 ? -1 : row;
    op->focus_id = row >= 0 && op->source.row_id != NULL && op->source.find_row != NULL
                       ? op->source.row_id(op->source.closure, (Cardinal)row)
                       : NULL;
}

/* After the rows changed: the row that now stands for what the focused
 * row stood for, or -1 when none does. */
static void find_focus_row(Widget w)
{
    XiOutlinePart* op = &OW(w)->outline;
    XiOutlineRowSource* src = &op->source;
    if (op->focus_id == NULL) return;
    if (op->focus_row >= 0 && op->focus_row < (long)op->row_count &&
        src->row_id(src->closure, (Cardinal)op->focus_row) == op->focus_id)
        return;
    long row = src->find_row(src->closure, op->focus_id);
    if (row < 0 || row >= (long)op->row_count)
        set_focus_row(w, -1);
    else
        op->focus_row = row;
}

/* The row a key on a row showing `row` moves the focus to, the same row
 * for none; *scroll: by how many rows the view goes with it. */
static long key_target(Widget w, KeySym sym, long row, long* scroll)
{
    XiOutlinePart* op = &OW(w)->outline;
    long last = (long)op->row_count - 1;
    long page = std::max<long>(op->rows_in_view, 1);
    *scroll = 0;
    switch (sym) {
    case XK_Down: return std::min(row + 1, last);
    case XK_Up: return std::max(row - 1, 0L);
    case XK_Home: return 0;
    case XK_End: return last;
    case XK_Next: *scroll = page; return std::min(row + page, last);
    case XK_Prior: *scroll = -page; return std::max(row - page, 0L);
    default: return -1;
    }
}

/* Keys on a row.  Down and Up move the focus to the next and the previous
 * row, never to a folder button on the way (Motif's own traversal goes by
 * position and may pick one); Page Down and Page Up by the rows in view,
 * scrolling the view by as many; Home and End to the first and the last
 * row.  A key that moves the focus past the rows in view scrolls just far
 * enough: the row widget at that edge keeps the focus and now shows the
 * row the key moved to.  Right opens a closed row and Left closes an open
 * one, as its folder button does. */
static void row_key_handler(Widget node, XtPointer client_data, XEvent* event, Boolean* go_on)
{
    Widget w = (Widget)client_data;
    if (event->type != KeyPress || !has_source(w)) return;
    KeySym sym = XLookupKeysym(&event->xkey, 0);
    /* The view was scrolled away from the focused row, and the widget that
     * kept the focus shows another row now: a key brings the focused row
     * back into view and goes to it, so that Return, Delete or an arrow
     * never act on the row that happens to be bound to this widget. */
    XiOutlinePart* fp = &OW(w)->outline;
    long bound = ((OutlineConstraints)node->core.constraints)->outline.row;
    if (fp->focus_node == node && fp->focus_row >= 0 && bound != fp->focus_row &&
        !IsModifierKey(sym)) {
        *go_on = False;
        XiOutlineShowRow(w, (Cardinal)fp->focus_row);
        Widget shows = XiOutlineNodeOfRow(w, (Cardinal)fp->focus_row);
        if (shows == NULL || !XtIsRealized(shows)) return;
        if (XmGetFocusWidget(w) != shows) XmProcessTraversal(shows, XmTRAVERSE_CURRENT);
        XEvent again = *event;
        again.xkey.window = XtWindow(shows);
        XtDispatchEvent(&again);
        return;
    }
    if (sym == XK_Left || sym == XK_Right) {
        HierarchyConstraints n = XiHierarchyNode(node);
        Widget button = n->hierarchy.open_close_button;
        XiHierarchyNodeState from = sym == XK_Right ? XiClosed : XiOpen;
        if (button != NULL && n->hierarchy.state == from)
            XtCallCallbacks(button, XmNactivateCallback, NULL);
        *go_on = False;
        return;
    }
    XiOutlinePart* op = &OW(w)->outline;
    long row = ((OutlineConstraints)node->core.constraints)->outline.row;
    long scroll = 0;
    long target = row < 0 ? -1 : key_target(w, sym, row, &scroll);
    if (target < 0) return;
    *go_on = False;
    if (target == row) return;
    if (op->focus_node == node) set_focus_row(w, target);
    if (scroll != 0) scroll_to_row(w, std::max(0L, (long)op->top_index + scroll));
    long last = (long)op->top_index + (long)std::max<Cardinal>(op->rows_in_view, 1) - 1;
    if (target > last)
        scroll_to_row(w, (long)op->top_index + (target - last));
    else if (target < (long)op->top_index)
        scroll_to_row(w, target);
    Widget next = XiOutlineNodeOfRow(w, (Cardinal)target);
    if (next != NULL && next != node) XmProcessTraversal(next, XmTRAVERSE_CURRENT);
}

/* Row widgets of a source are unmapped when rows go (a node closed, rows
 * deleted), a screenful at once.  Motif's primitives answer each unmap by
 * checking that the keyboard focus is still viewable, which asks the
 * server about every sibling window stacked above the focus widget: a
 * round trip per sibling, some 2 ms per unmapped widget with a screenful
 * of rows, and 100 ms to close a node.  Row widgets and their folder
 * buttons therefore ignore their unmaps, and the outline moves the focus
 * itself, once, when it parks the widget that had it
 * (keep_focus_in_view). */
static void swallow_unmap(Widget, XtPointer, XEvent* event, Boolean* go_on)
{
    if (event->type == UnmapNotify) *go_on = False;
}

/* Ahead of the translations, which Motif installs again whenever the
 * widget's traversal is switched on. */
static void ignore_unmaps(Widget row)
{
    if (row != NULL)
        XtInsertEventHandler(row, StructureNotifyMask, False, swallow_unmap, NULL, XtListHead);
}

/* If the focus is on a row widget or folder button that was just parked,
 * it goes to the last row in view (the row nearest to where it was), or
 * on to the next tab group when no row is left. */
static void keep_focus_in_view(Widget w, Cardinal used)
{
    Widget focus = XmGetFocusWidget(w);
    if (focus == NULL || XtParent(focus) != w) return;
    XiOutlinePart* op = &OW(w)->outline;
    for (Cardinal i = used; i < op->pool_count; i++) {
        Widget node = op->pool[i];
        if (focus != node && focus != XiHierarchyNode(node)->hierarchy.open_close_button) continue;
        if (used == 0 || !XmProcessTraversal(op->pool[used - 1], XmTRAVERSE_CURRENT))
            XmProcessTraversal(focus, XmTRAVERSE_NEXT_TAB_GROUP);
        return;
    }
}

/* The i-th row widget, made by the source when there are not that many. */
static Widget pool_widget(Widget w, Cardinal i)
{
    XiOutlinePart* op = &OW(w)->outline;
    if (i < op->pool_count) return op->pool[i];
    Widget node = op->source.create_row(op->source.closure, w);
    if (node == NULL || XtParent(node) != w) return NULL;
    if (op->pool_count == op->pool_alloc) {
        op->pool_alloc = op->pool_alloc ? 2 * op->pool_alloc : 32;
        op->pool = (WidgetList)XtRealloc((char*)op->pool, op->pool_alloc * sizeof(Widget));
    }
    op->pool[op->pool_count++] = node;
    XtInsertEventHandler(node, KeyPressMask, False, row_key_handler, w, XtListHead);
    ignore_unmaps(node);
    ignore_unmaps(XiHierarchyNode(node)->hierarchy.open_close_button);
    XtManageChild(node);
    return node;
}

static void unbind(Widget w, Widget node)
{
    XiOutlineConstraintPart* o = &((OutlineConstraints)node->core.constraints)->outline;
    HierarchyConstraints n = XiHierarchyNode(node);
    if (o->row >= 0) OW(w)->outline.source.bind_row(OW(w)->outline.source.closure, node, -1);
    o->row = -1;
    if (n->hierarchy.status & XiNodeMapped) hierarchy_class(w)->unmap_node(n);
    XtMoveWidget(node, PARKED, PARKED);
    if (n->hierarchy.open_close_button != NULL)
        XtMoveWidget(n->hierarchy.open_close_button, PARKED, PARKED);
}

/* Binds the row widgets to the rows from top_index down as far as the
 * widget is high, places and maps them, and parks the widgets left over.
 * Rows have one height (of the last row placed) as far as the last page is
 * concerned; each row is placed with its own. */
static void place_source_rows(Widget w)
{
    XiHierarchyPart* hp = &OW(w)->hierarchy;
    XiOutlinePart* op = &OW(w)->outline;
    if (!hp->refigure_mode || op->placing) return;
    op->placing = True;
    XiOutlineRowSource* src = &op->source;
    Cardinal count = src->row_count(src->closure);
    op->row_count = count;
    find_focus_row(w);
    int height = w->core.height;
    int step = (op->row_height > 0 ? op->row_height : 20) + hp->v_margin;
    Cardinal fit = (Cardinal)std::max(1, (height - (int)hp->v_margin) / step);
    Cardinal max_top = count > fit ? count - fit : 0;
    op->top_index = std::min(op->top_index, max_top);
    fix_x_offset(w);
    int dx = op->x_offset;

    int y = hp->v_margin;
    int extent = 0;
    Cardinal used = 0;
    op->rows_in_view = 0;
    for (Cardinal row = op->top_index; row < count && y < height && y <= 32767; row++) {
        Widget node = pool_widget(w, used);
        if (node == NULL) break;
        used++;
        int level = 0;
        XiHierarchyNodeState state = XiAlwaysOpen;
        src->describe_row(src->closure, row, &level, &state);
        HierarchyConstraints n = XiHierarchyNode(node);
        XiOutlineConstraintPart* o = &ON(n)->outline;
        o->row = (long)row;
        src->bind_row(src->closure, node, (long)row);
        if (n->hierarchy.state != state) {
            Widget old_button = n->hierarchy.open_close_button;
            n->hierarchy.state = state;
            hierarchy_class(w)->reset_open_close_button(w, n);
            if (n->hierarchy.open_close_button != old_button)
                ignore_unmaps(n->hierarchy.open_close_button);
        }
        Widget button = n->hierarchy.open_close_button;
        int bw = button ? full_width(button) : 0;
        int bh = button ? full_height(button) : 0;
        XiOutlineRow r = xi_outline_row(level, op->indent_space, hp->h_margin, bw, bh,
                                        full_width(node), full_height(node));
        XtMoveWidget(node, (Position)(r.widget_x - dx), (Position)y);
        if (button != NULL)
            XtMoveWidget(button, (Position)(r.button_x - dx),
                         (Position)(y + (r.row_height - bh) / 2));
        if (!(n->hierarchy.status & XiNodeMapped)) hierarchy_class(w)->map_node(n);
        extent = std::max(extent, r.extent);
        if (y + r.row_height <= height) op->rows_in_view++;
        op->row_height = (Dimension)r.row_height;
        y += r.row_height + hp->v_margin;
    }
    keep_focus_in_view(w, used);
    for (Cardinal i = used; i < op->pool_count; i++) unbind(w, op->pool[i]);
    /* The focused row is gone: the focus stays with the row its widget
     * shows now. */
    if (op->focus_row < 0 && op->focus_node != NULL)
        set_focus_row(w, ((OutlineConstraints)op->focus_node->core.constraints)->outline.row);
    op->max_extent = (Dimension)std::min(extent, 65535);
    outline_class(w)->calc_max_width(w);
    update_scroll_bars(w);
    op->placing = False;
    follow_focus_row(w);
    update_focus_mark(w);
}

/* --- the frame around the row with the keyboard focus --- */

static void default_focus_color(Widget w, int, XrmValue* value)
{
    static Pixel pixel;
    pixel = ((XmManagerWidget)w)->manager.highlight_color;
    value->addr = (XPointer)&pixel;
    value->size = sizeof(pixel);
}

static void make_focus_gc(Widget w)
{
    XGCValues v;
    v.foreground = OW(w)->outline.focus_color;
    v.line_width = 0;
    OW(w)->outline.focus_gc = XtGetGC(w, GCForeground | GCLineWidth, &v);
}

/* The node that shows the focused row now: with a row source, the row
 * widget bound to the focused row; else the focused node itself.  NULL
 * when no row has the focus or its row is out of view. */
static Widget marked_node(Widget w)
{
    XiOutlinePart* op = &OW(w)->outline;
    if (op->focus_node == NULL) return NULL;
    Widget node = op->focus_node;
    if (has_source(w)) {
        if (op->focus_row < 0) return NULL;
        node = XiOutlineNodeOfRow(w, (Cardinal)op->focus_row);
    }
    if (node == NULL || !XtIsManaged(node) ||
        !(XiHierarchyNode(node)->hierarchy.status & XiNodeMapped))
        return NULL;
    return node;
}

static void draw_focus_mark(Widget w)
{
    XRectangle* r = &OW(w)->outline.focus_mark;
    if (r->width == 0 || !XtIsRealized(w)) return;
    XDrawRectangle(XtDisplay(w), XtWindow(w), OW(w)->outline.focus_gc, r->x, r->y, r->width,
                   r->height);
}

/* Takes the frame away from where it was and draws it around the node
 * that shows the focused row now.  The frame lies one pixel outside the
 * node, in the margins, which hold nothing else: clearing it clears no
 * other drawing, and the node's own window is not touched. */
static void update_focus_mark(Widget w)
{
    XiOutlinePart* op = &OW(w)->outline;
    XRectangle want = {0, 0, 0, 0};
    if (Widget node = marked_node(w)) {
        want.x = (short)(node->core.x - 1);
        want.y = (short)(node->core.y - 1);
        want.width = (unsigned short)(full_width(node) + 1);
        want.height = (unsigned short)(full_height(node) + 1);
    }
    XRectangle* had = &op->focus_mark;
    bool same = had->x == want.x && had->y == want.y && had->width == want.width &&
                had->height == want.height;
    if (!same && had->width != 0 && XtIsRealized(w))
        XClearArea(XtDisplay(w), XtWindow(w), had->x, had->y, had->width + 1u, had->height + 1u,
                   False);
    *had = want;
    draw_focus_mark(w);
}

/* With a row source the focus stays with its row: once the view has
 * scrolled, the row widget that shows the focused row takes the focus. */
static void follow_focus_row(Widget w)
{
    XiOutlinePart* op = &OW(w)->outline;
    if (op->focus_node == NULL || op->focus_row < 0) return;
    Widget node = XiOutlineNodeOfRow(w, (Cardinal)op->focus_row);
    if (node == NULL || node == op->focus_node) return;
    op->moving_focus = True;
    XmProcessTraversal(node, XmTRAVERSE_CURRENT);
    op->moving_focus = False;
}

static void follow_later(XtPointer client_data, XtIntervalId*)
{
    Widget w = (Widget)client_data;
    OW(w)->outline.follow_id = 0;
    follow_focus_row(w);
    update_focus_mark(w);
}

/* Focus in and out of every node.  Focus that the pointer brings into
 * the window (NotifyPointer) is no focus of a row.  When the focus leaves
 * the outline (for another window, say) the row it had is kept, by what
 * it stands for; when it comes back to the same row widget other than by
 * a click, it goes back to that row, wherever the rows moved meanwhile. */
static void focus_handler(Widget child, XtPointer client_data, XEvent* event, Boolean*)
{
    Widget w = (Widget)client_data;
    XiOutlinePart* op = &OW(w)->outline;
    if (event->xfocus.detail == NotifyPointer) return;
    if (event->type == FocusIn) {
        if (XiHierarchyNode(child)->hierarchy.state == XiNotInHierarchy) return;
        bool back = child == op->left_node && !op->pressed && op->focus_id != NULL;
        op->left_node = NULL;
        op->focus_node = child;
        long bound = ((OutlineConstraints)child->core.constraints)->outline.row;
        if (!back) {
            if (has_source(w)) set_focus_row(w, bound);
        } else if (op->focus_row != bound && op->follow_id == 0) {
            /* Not from inside the toolkit's own focus change. */
            op->follow_id = XtAppAddTimeOut(XtWidgetToApplicationContext(w), 0, follow_later, w);
        }
    } else if (event->type == FocusOut) {
        if (child != op->focus_node) return;
        op->focus_node = NULL;
        if (!op->moving_focus) {
            if (op->focus_id != NULL)
                op->left_node = child;
            else
                set_focus_row(w, -1);
        }
    } else {
        return;
    }
    update_focus_mark(w);
}

/* A click on a row gives the focus to the row it shows, whatever row the
 * focus was kept for; the focus that the click brings is that row's. */
static void press_handler(Widget child, XtPointer client_data, XEvent* event, Boolean*)
{
    Widget w = (Widget)client_data;
    XiOutlinePart* op = &OW(w)->outline;
    if (event->xbutton.button > Button3) return; /* the wheel */
    op->pressed = event->type == ButtonPress;
    if (!op->pressed || !has_source(w) || child != op->focus_node) return;
    long bound = ((OutlineConstraints)child->core.constraints)->outline.row;
    if (bound >= 0 && bound != op->focus_row) {
        set_focus_row(w, bound);
        update_focus_mark(w);
    }
}

static void clear_window(Widget w)
{
    if (XtIsRealized(w)) XClearArea(XtDisplay(w), XtWindow(w), 0, 0, 0, 0, True);
}

/* Layout with a resize request, placing, and a redraw.  With refigureMode
 * off nothing changed, so nothing is redrawn either. */
static void relayout(Widget w)
{
    if (!OW(w)->hierarchy.refigure_mode) return;
    if (has_source(w)) {
        place_source_rows(w);
        return;
    }
    outline_class(w)->calc_locations(w, True);
    place_rows(w);
    clear_window(w);
}

static bool overlaps(int x, int y, int width, int height, const XRectangle& r)
{
    return x < r.x + (int)r.width && r.x < x + width && y < r.y + (int)r.height && r.y < y + height;
}

/* ------------------------------------------------------------------ */
/* Class methods                                                       */
/* ------------------------------------------------------------------ */

static void ClassPartInitialize(WidgetClass wc)
{
    if (wc == xiOutlineWidgetClass) return;
    XiOutlineClassPart* p = &((XiOutlineWidgetClass)wc)->outline_class;
    XiOutlineClassPart* s = &((XiOutlineWidgetClass)wc->core_class.superclass)->outline_class;
    if (p->calc_max_width == XiInheritCalcMaxWidth) p->calc_max_width = s->calc_max_width;
    if (p->calc_locations == XiInheritCalcLocations) p->calc_locations = s->calc_locations;
}

static void Initialize(Widget request, Widget new_w, ArgList args, Cardinal* num_args)
{
    XiOutlinePart* op = &OW(new_w)->outline;
    XiHierarchyPart* hp = &OW(new_w)->hierarchy;
    op->first_node = NULL;
    op->max_extent = 0;
    op->max_width = clamp_dim(2 * hp->h_margin);
    op->pref_height = clamp_dim(hp->v_margin);
    op->pending.nodes = NULL;
    op->pending.head = op->pending.count = op->pending.alloc = 0;
    op->work_id = 0;
    op->top_index = op->rows_in_view = 0;
    op->x_offset = 0;
    memset(&op->source, 0, sizeof(op->source));
    op->pool = NULL;
    op->pool_count = op->pool_alloc = 0;
    op->row_count = 0;
    op->row_height = 0;
    op->placing = False;
    make_focus_gc(new_w);
    op->focus_node = NULL;
    op->focus_row = -1;
    op->focus_id = NULL;
    memset(&op->focus_mark, 0, sizeof(op->focus_mark));
    op->moving_focus = False;
    op->left_node = NULL;
    op->pressed = False;
    op->follow_id = 0;
    attach_scroll_bar(new_w, op->v_scroll, v_scroll_cb);
    attach_scroll_bar(new_w, op->h_scroll, h_scroll_cb);
    XtAddEventHandler(new_w, ButtonPressMask, False, wheel_handler, new_w);
}

static void Destroy(Widget w)
{
    XiOutlinePart* op = &OW(w)->outline;
    if (op->work_id) XtRemoveWorkProc(op->work_id);
    if (op->follow_id) XtRemoveTimeOut(op->follow_id);
    XtFree((char*)op->pending.nodes);
    XtFree((char*)op->pool);
    XtReleaseGC(w, op->focus_gc);
    detach_scroll_bar(w, op->v_scroll, v_scroll_cb);
    detach_scroll_bar(w, op->h_scroll, h_scroll_cb);
}

static void Resize(Widget w)
{
    place_rows(w);
    clear_window(w);
}

/* Carry out at once the pending placements that touch the exposed area. */
static void Redisplay(Widget w, XEvent* event, Region region)
{
    if (event == NULL || event->type != Expose) return;
    XRectangle r;
    r.x = (short)event->xexpose.x;
    r.y = (short)event->xexpose.y;
    r.width = (unsigned short)event->xexpose.width;
    r.height = (unsigned short)event->xexpose.height;

    XiPlacementQueue* q = &OW(w)->outline.pending;
    bool done_any = false;
    for (Cardinal i = q->head; i < q->count; i++) {
        OutlineConstraints n = q->nodes[i];
        if (n == NULL) continue;
        Widget node = n->hierarchy.widget;
        Widget button = n->hierarchy.open_close_button;
        XiOutlineConstraintPart* o = &n->outline;
        bool hit = overlaps(node->core.x, node->core.y, full_width(node), full_height(node), r);
        if (!hit && o->move)
            hit =
                overlaps(o->new_widget_x, o->new_widget_y, full_width(node), full_height(node), r);
        if (!hit && button != NULL) {
            hit = overlaps(button->core.x, button->core.y, full_width(button), full_height(button),
                           r);
            if (!hit && o->move)
                hit = overlaps(o->new_button_x, o->new_button_y, full_width(button),
                               full_height(button), r);
        }
        if (hit) {
            do_placement(w, n);
            q->nodes[i] = NULL;
            done_any = true;
        }
    }
    if (done_any) queue_compact(q);
    draw_focus_mark(w);
}

static Boolean SetValues(Widget current, Widget request, Widget new_w, ArgList args,
                         Cardinal* num_args)
{
    XiHierarchyPart* old = &OW(current)->hierarchy;
    XiHierarchyPart* hp = &OW(new_w)->hierarchy;
    XiOutlinePart* op = &OW(new_w)->outline;
    XiOutlinePart* old_op = &OW(current)->outline;
    bool scroll_bars = op->v_scroll != old_op->v_scroll || op->h_scroll != old_op->h_scroll;
    bool redraw = False;
    if (op->focus_color != old_op->focus_color) {
        XtReleaseGC(new_w, op->focus_gc);
        make_focus_gc(new_w);
        redraw = True;
    }
    if (scroll_bars) {
        detach_scroll_bar(new_w, old_op->v_scroll, v_scroll_cb);
        detach_scroll_bar(new_w, old_op->h_scroll, h_scroll_cb);
        attach_scroll_bar(new_w, op->v_scroll, v_scroll_cb);
        attach_scroll_bar(new_w, op->h_scroll, h_scroll_cb);
    }
    if (scroll_bars || hp->v_margin != old->v_margin || hp->h_margin != old->h_margin ||
        op->indent_space != old_op->indent_space || (hp->refigure_mode && !old->refigure_mode)) {
        if (!has_source(new_w)) outline_class(new_w)->calc_locations(new_w, False);
        /* Xt asks the parent for the new preferred size after we return;
         * a self-scrolling outline keeps the size it was given. */
        if (!self_scrolling(new_w)) {
            new_w->core.width = op->max_width;
            new_w->core.height = op->pref_height;
        }
        place_rows(new_w);
        return True;
    }
    return redraw;
}

static XtGeometryResult QueryGeometry(Widget w, XtWidgetGeometry* intended,
                                      XtWidgetGeometry* desired)
{
    if (self_scrolling(w)) {
        desired->width = w->core.width;
        desired->height = w->core.height;
    } else {
        desired->width = OW(w)->outline.max_width;
        desired->height = OW(w)->outline.pref_height;
    }
    return XmeReplyToQueryGeometry(w, intended, desired);
}

/* A row may ask for a new size, never for a place of its own: a request
 * that changes no size is refused, one that also asks for a position or
 * stacking gets the size alone offered, and a granted one relayouts. */
static XtGeometryResult GeometryManager(Widget child, XtWidgetGeometry* request,
                                        XtWidgetGeometry* reply)
{
    Widget w = XtParent(child);
    XtGeometryMask size_bits = CWWidth | CWHeight | CWBorderWidth;
    XtGeometryMask mode = request->request_mode;
    bool new_size = ((mode & CWWidth) && request->width != child->core.width) ||
                    ((mode & CWHeight) && request->height != child->core.height) ||
                    ((mode & CWBorderWidth) && request->border_width != child->core.border_width);
    if (!new_size) return XtGeometryNo;
    if (mode & (CWX | CWY | CWStackMode | CWSibling)) {
        reply->request_mode = mode & size_bits;
        reply->width = request->width;
        reply->height = request->height;
        reply->border_width = request->border_width;
        return XtGeometryAlmost;
    }
    if (mode & XtCWQueryOnly) return XtGeometryYes;
    if (mode & CWWidth) child->core.width = request->width;
    if (mode & CWHeight) child->core.height = request->height;
    if (mode & CWBorderWidth) child->core.border_width = request->border_width;
    relayout(w);
    return XtGeometryYes;
}

/* No XmeNavigChangeManaged here: with the keyboard focus in the window it
 * asks the server about every child on each call, so that adding n nodes
 * would cost n squared round trips (about 90 ms a node at 1,000 nodes).
 * The manager class still finds the nodes for keyboard traversal. */
static void ChangeManaged(Widget w)
{
    relayout(w);
}

static void InsertChild(Widget child)
{
    (*((CompositeWidgetClass)xiHierarchyWidgetClass)->composite_class.insert_child)(child);
}

static void ConstraintInitialize(Widget request, Widget new_w, ArgList args, Cardinal* num_args)
{
    new_w->core.x = new_w->core.y = PARKED;
    XiOutlineConstraintPart* o = &((OutlineConstraints)new_w->core.constraints)->outline;
    o->widget_x = o->button_x = 0;
    o->row_height = 0;
    o->new_widget_x = o->new_widget_y = o->new_button_x = o->new_button_y = 0;
    o->map = o->unmap = o->move = False;
    o->row = -1;
    XtAddEventHandler(new_w, ButtonPressMask, False, wheel_handler, XtParent(new_w));
    XtAddEventHandler(new_w, FocusChangeMask, False, focus_handler, XtParent(new_w));
    /* Ahead of the translations, whose press may move the focus. */
    XtInsertEventHandler(new_w, ButtonPressMask | ButtonReleaseMask, False, press_handler,
                         XtParent(new_w), XtListHead);
}

/* A node that goes takes its pending placement along. */
static void ConstraintDestroy(Widget child)
{
    Widget w = XtParent(child);
    OutlineConstraints n = (OutlineConstraints)child->core.constraints;
    if (n->hierarchy.state == XiNotInHierarchy || w->core.being_destroyed) return;
    XiOutlinePart* op = &OW(w)->outline;
    if (queued(n)) {
        XiPlacementQueue* q = &op->pending;
        for (Cardinal i = q->head; i < q->count; i++)
            if (q->nodes[i] == n) q->nodes[i] = NULL;
        n->outline.map = n->outline.unmap = n->outline.move = False;
    }
    if (op->first_node == (HierarchyConstraints)n) op->first_node = NULL;
    if (op->left_node == child) op->left_node = NULL;
    if (op->focus_node == child) {
        op->focus_node = NULL;
        set_focus_row(w, -1);
        update_focus_mark(w);
    }
    for (Cardinal i = 0; i < op->pool_count; i++) {
        if (op->pool[i] != child) continue;
        if (n->outline.row >= 0 && op->source.bind_row != NULL)
            op->source.bind_row(op->source.closure, child, -1);
        memmove(&op->pool[i], &op->pool[i + 1], (op->pool_count - i - 1) * sizeof(Widget));
        op->pool_count--;
        break;
    }
}

static Boolean ConstraintSetValues(Widget current, Widget request, Widget new_w, ArgList args,
                                   Cardinal* num_args)
{
    HierarchyConstraints old = XiHierarchyNode(current);
    HierarchyConstraints n = XiHierarchyNode(new_w);
    if (n->hierarchy.state == XiNotInHierarchy) return False;
    /* With a row source the program's tree decides, and it calls
     * XiOutlineRowsChanged when it has changed. */
    if (has_source(XtParent(new_w))) return False;
    if (n->hierarchy.state != old->hierarchy.state ||
        n->hierarchy.parent != old->hierarchy.parent ||
        _XiArgsName(args, *num_args, XiNinsertBefore))
        relayout(XtParent(new_w));
    return False;
}

/* ------------------------------------------------------------------ */
/* Outline operations                                                  */
/* ------------------------------------------------------------------ */

/* Queue an unmap for every node that is mapped but no longer shown. */
static void UnmapAllExtraNodes(Widget w, HierarchyConstraints node)
{
    for (Cardinal i = 0; i < node->hierarchy.num_children; i++) {
        HierarchyConstraints child = node->hierarchy.children[i];
        if ((child->hierarchy.status & XiNodeStale) && (child->hierarchy.status & XiNodeMapped))
            queue_node(w, ON(child), false, false, true);
        UnmapAllExtraNodes(w, child);
    }
}

static void ToggleNodeState(Widget button, XtPointer client_data, XtPointer call_data)
{
    Widget w = XtParent(button);
    (*xiHierarchyClassRec.hierarchy_class.toggle_node_state)(button, client_data, call_data);
    if (!w->core.being_destroyed) relayout(w);
}

static void CalcMaxWidth(Widget w)
{
    XiOutlinePart* op = &OW(w)->outline;
    op->max_width = clamp_dim(2 * OW(w)->hierarchy.h_margin + op->max_extent);
}

/* The row layout: positions of every shown row and the preferred size. */
static void CalcLocations(Widget w, Boolean allow_resize)
{
    XiHierarchyPart* hp = &OW(w)->hierarchy;
    XiOutlinePart* op = &OW(w)->outline;
    if (!hp->refigure_mode || has_source(w)) return;

    mark_stale(hp->top_node);
    LayoutSums sums = {0, hp->v_margin};
    layout_walk(w, hp->top_node, 0, &sums);
    op->max_extent = (Dimension)std::min(sums.extent, 65535);
    outline_class(w)->calc_max_width(w);
    op->pref_height = clamp_dim(sums.height);

    _XiHierarchyRebuildTable(w);
    /* A self-scrolling outline keeps its top row; the placing checks it. */
    if (!self_scrolling(w)) op->first_node = hp->num_nodes > 0 ? hp->node_table[0] : NULL;

    if (allow_resize && !self_scrolling(w)) {
        Dimension rw, rh;
        XtGeometryResult r = XtMakeResizeRequest(w, op->max_width, op->pref_height, &rw, &rh);
        if (r == XtGeometryAlmost) XtMakeResizeRequest(w, rw, rh, NULL, NULL);
    }
    hierarchy_class(w)->unmap_all_extra_nodes(w, hp->top_node);
}

/* ------------------------------------------------------------------ */
/* Public functions                                                    */
/* ------------------------------------------------------------------ */

Widget XiCreateOutline(Widget parent, String name, ArgList args, Cardinal num_args)
{
    return XtCreateWidget(name, xiOutlineWidgetClass, parent, args, num_args);
}

void XiOutlineShowNode(Widget node)
{
    if (node == NULL) return;
    Widget w = XtParent(node);
    if (!XiIsOutline(w) || !self_scrolling(w) || !OW(w)->hierarchy.refigure_mode) return;
    XiHierarchyPart* hp = &OW(w)->hierarchy;
    XiOutlinePart* op = &OW(w)->outline;
    if (has_source(w)) {
        long row = XiOutlineRowOfNode(node);
        if (row >= 0) XiOutlineShowRow(w, (Cardinal)row);
        return;
    }
    Cardinal i = 0;
    while (i < hp->num_nodes && hp->node_table[i]->hierarchy.widget != node) i++;
    if (i == hp->num_nodes) return;
    if (i < op->top_index)
        scroll_to_row(w, i);
    else if (i >= op->top_index + std::max<Cardinal>(op->rows_in_view, 1))
        scroll_to_row(w, (long)i - std::max<Cardinal>(op->rows_in_view, 1) + 1);
}

void XiOutlineSetRowSource(Widget outline, const XiOutlineRowSource* source)
{
    if (!XiIsOutline(outline) || !self_scrolling(outline)) return;
    XiOutlinePart* op = &OW(outline)->outline;
    for (Cardinal i = 0; i < op->pool_count; i++) unbind(outline, op->pool[i]);
    if (source != NULL && source->row_count != NULL)
        op->source = *source;
    else
        memset(&op->source, 0, sizeof(op->source));
    op->top_index = 0;
    op->first_node = NULL;
    set_focus_row(outline, -1);
    relayout(outline);
}

Boolean XiOutlineHasRowSource(Widget outline)
{
    return XiIsOutline(outline) && has_source(outline);
}

void XiOutlineRowsChanged(Widget outline, long top)
{
    if (!XiIsOutline(outline) || !has_source(outline)) return;
    if (top >= 0) OW(outline)->outline.top_index = (Cardinal)top;
    place_source_rows(outline);
}

long XiOutlineRowOfNode(Widget node)
{
    if (node == NULL || !XiIsOutline(XtParent(node)) ||
        XiHierarchyNode(node)->hierarchy.state == XiNotInHierarchy)
        return -1;
    return ((OutlineConstraints)node->core.constraints)->outline.row;
}

Widget XiOutlineNodeOfRow(Widget outline, Cardinal row)
{
    if (!XiIsOutline(outline) || !has_source(outline)) return NULL;
    XiOutlinePart* op = &OW(outline)->outline;
    if (row < op->top_index || row - op->top_index >= op->pool_count) return NULL;
    Widget node = op->pool[row - op->top_index];
    return ((OutlineConstraints)node->core.constraints)->outline.row == (long)row ? node : NULL;
}

Cardinal XiOutlineTopRow(Widget outline)
{
    return XiIsOutline(outline) ? OW(outline)->outline.top_index : 0;
}

void XiOutlineShowRow(Widget outline, Cardinal row)
{
    if (!XiIsOutline(outline) || !has_source(outline)) return;
    XiOutlinePart* op = &OW(outline)->outline;
    Cardinal in_view = std::max<Cardinal>(op->rows_in_view, 1);
    if (row < op->top_index)
        scroll_to_row(outline, row);
    else if (row >= op->top_index + in_view)
        scroll_to_row(outline, (long)row - in_view + 1);
}

long XiOutlineFocusRow(Widget outline)
{
    if (!XiIsOutline(outline) || !has_source(outline)) return -1;
    XiOutlinePart* op = &OW(outline)->outline;
    return op->focus_node != NULL ? op->focus_row : -1;
}
