/*
 * XiHierarchy.cpp - tree bookkeeping for the outline: node records, node
 * states, ordering among siblings, opening and closing, folder buttons.
 * The hierarchy itself places nothing; XiOutline lays the shown nodes out.
 */
#include "XiHierarchyP.h"

#include <algorithm>

#include <Xm/GadgetP.h>
#include <Xm/PrimitiveP.h>
#include <Xm/XmP.h>

#include <string.h>

#include "XiConvert.h"
#include "XiIconButton.h"

/* ------------------------------------------------------------------ */
/* Prototypes                                                          */
/* ------------------------------------------------------------------ */

static void ClassInitialize(void);
static void ClassPartInitialize(WidgetClass wc);
static void Initialize(Widget request, Widget new_w, ArgList args, Cardinal* num_args);
static void Destroy(Widget w);
static Boolean SetValues(Widget current, Widget request, Widget new_w, ArgList args,
                         Cardinal* num_args);
static XtGeometryResult GeometryManager(Widget child, XtWidgetGeometry* request,
                                        XtWidgetGeometry* reply);
static void ChangeManaged(Widget w);
static void InsertChild(Widget child);
static void ConstraintInitialize(Widget request, Widget new_w, ArgList args, Cardinal* num_args);
static void ConstraintDestroy(Widget w);
static Boolean ConstraintSetValues(Widget current, Widget request, Widget new_w, ArgList args,
                                   Cardinal* num_args);

static void ChangeNodeState(HierarchyConstraints node);
static void MapNode(HierarchyConstraints node);
static void UnmapNode(HierarchyConstraints node);
static void UnmapAllExtraNodes(Widget w, HierarchyConstraints node);
static void BuildNodeTable(Widget w, HierarchyConstraints node, Cardinal* current_index);
static void ResetOpenCloseButton(Widget w, HierarchyConstraints node);
static void hold_traversal(Widget child);
static void show_widget(Widget child);
/* True while the widget itself changes a row's traversalOn. */
static Boolean adjusting_traversal = False;
static void ToggleNodeState(Widget button, XtPointer client_data, XtPointer call_data);

/* ------------------------------------------------------------------ */
/* Resources                                                           */
/* ------------------------------------------------------------------ */

#define offset(field) XtOffsetOf(XiHierarchyRec, hierarchy.field)

static XtResource resources[] = {
    {(String)XmNwidth, (String)XmCWidth, (String)XmRHorizontalDimension, sizeof(Dimension),
     XtOffsetOf(XiHierarchyRec, core.width), (String)XmRImmediate, (XtPointer)300},
    {(String)XmNheight, (String)XmCHeight, (String)XmRVerticalDimension, sizeof(Dimension),
     XtOffsetOf(XiHierarchyRec, core.height), (String)XmRImmediate, (XtPointer)300},
    {(String)XiNautoClose, (String)XiCAutoClose, (String)XmRBoolean, sizeof(Boolean),
     offset(auto_close), (String)XmRImmediate, (XtPointer)True},
    {(String)XiNrefigureMode, (String)XmCBoolean, (String)XmRBoolean, sizeof(Boolean),
     offset(refigure_mode), (String)XmRImmediate, (XtPointer)True},
    {(String)XiNnodeStateCallback, (String)XiCNodeStateCallback, (String)XmRCallback,
     sizeof(XtCallbackList), offset(node_state_callback), (String)XmRImmediate, NULL},
    {(String)XiNverticalMargin, (String)XmCDimension, (String)XmRVerticalDimension,
     sizeof(Dimension), offset(v_margin), (String)XmRImmediate, (XtPointer)2},
    {(String)XiNhorizontalMargin, (String)XmCDimension, (String)XmRHorizontalDimension,
     sizeof(Dimension), offset(h_margin), (String)XmRImmediate, (XtPointer)2},
    {(String)XiNopenFolderPixmap, (String)XmCPixmap, (String)XmRManForegroundPixmap, sizeof(Pixmap),
     offset(open_folder), (String)XmRImmediate, (XtPointer)XmUNSPECIFIED_PIXMAP},
    {(String)XiNcloseFolderPixmap, (String)XmCPixmap, (String)XmRManForegroundPixmap,
     sizeof(Pixmap), offset(close_folder), (String)XmRImmediate, (XtPointer)XmUNSPECIFIED_PIXMAP},
};

static XmSyntheticResource syn_resources[] = {
    {(String)XiNverticalMargin, sizeof(Dimension), offset(v_margin), XmeFromVerticalPixels,
     XmeToVerticalPixels},
    {(String)XiNhorizontalMargin, sizeof(Dimension), offset(h_margin), XmeFromHorizontalPixels,
     XmeToHorizontalPixels},
};

#undef offset
#define offset(field) XtOffsetOf(XiHierarchyConstraintRec, hierarchy.field)

static XtResource constraint_resources[] = {
    {(String)XiNnodeState, (String)XiCNodeState, (String)XiRXiHierarchyNodeState,
     sizeof(XiHierarchyNodeState), offset(state), (String)XmRImmediate, (XtPointer)XiOpen},
    {(String)XiNparentNode, (String)XiCParentNode, (String)XmRWidget, sizeof(Widget),
     offset(parent), (String)XmRImmediate, NULL},
    {(String)XiNinsertBefore, (String)XiCInsertBefore, (String)XmRWidget, sizeof(Widget),
     offset(insert_before), (String)XmRImmediate, NULL},
};

#undef offset

static const XiEnumName state_names[] = {
    {"alwaysopen", XiAlwaysOpen},
    {"open", XiOpen},
    {"closed", XiClosed},
    {"hidden", XiHidden},
    {"notinhierarchy", XiNotInHierarchy},
};
static const XiEnumTable state_table = {XiRXiHierarchyNodeState, state_names, XtNumber(state_names),
                                        sizeof(XiHierarchyNodeState)};

/* ------------------------------------------------------------------ */
/* Class record                                                        */
/* ------------------------------------------------------------------ */

XiHierarchyClassRec xiHierarchyClassRec = {
    {
        /* core_class fields */
        (WidgetClass)&xmManagerClassRec, /* superclass */
        (String) "XiHierarchy",          /* class_name */
        sizeof(XiHierarchyRec),          /* widget_size */
        ClassInitialize,                 /* class_initialize */
        ClassPartInitialize,             /* class_part_initialize */
        False,                           /* class_inited */
        Initialize,                      /* initialize */
        NULL,                            /* initialize_hook */
        XtInheritRealize,                /* realize */
        NULL,                            /* actions */
        0,                               /* num_actions */
        resources,                       /* resources */
        XtNumber(resources),             /* num_resources */
        NULLQUARK,                       /* xrm_class */
        True,                            /* compress_motion */
        XtExposeCompressMultiple,        /* compress_exposure */
        True,                            /* compress_enterleave */
        False,                           /* visible_interest */
        Destroy,                         /* destroy */
        NULL,                            /* resize */
        NULL,                            /* expose */
        SetValues,                       /* set_values */
        NULL,                            /* set_values_hook */
        XtInheritSetValuesAlmost,        /* set_values_almost */
        NULL,                            /* get_values_hook */
        NULL,                            /* accept_focus */
        XtVersion,                       /* version */
        NULL,                            /* callback_private */
        XtInheritTranslations,           /* tm_table */
        NULL,                            /* query_geometry */
        NULL,                            /* display_accelerator */
        NULL,                            /* extension */
    },
    {
        /* composite_class fields */
        GeometryManager,      /* geometry_manager */
        ChangeManaged,        /* change_managed */
        InsertChild,          /* insert_child */
        XtInheritDeleteChild, /* delete_child */
        NULL,                 /* extension */
    },
    {
        /* constraint_class fields */
        constraint_resources,             /* resources */
        XtNumber(constraint_resources),   /* num_resources */
        sizeof(XiHierarchyConstraintRec), /* constraint_size */
        ConstraintInitialize,             /* initialize */
        ConstraintDestroy,                /* destroy */
        ConstraintSetValues,              /* set_values */
        NULL,                             /* extension */
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
        ChangeNodeState,      /* change_node_state */
        MapNode,              /* map_node */
        UnmapNode,            /* unmap_node */
        UnmapAllExtraNodes,   /* unmap_all_extra_nodes */
        BuildNodeTable,       /* build_node_table */
        ResetOpenCloseButton, /* reset_open_close_button */
        ToggleNodeState,      /* toggle_node_state */
        NULL,                 /* extension */
    },
};

WidgetClass xiHierarchyWidgetClass = (WidgetClass)&xiHierarchyClassRec;

/* ------------------------------------------------------------------ */
/* Built-in folder pictures (12 x 8)                                   */
/* ------------------------------------------------------------------ */

static const char* const open_folder_rows[8] = {
    ".XXX........", "X...XXXXX...", "X.......X...", "X..XXXXXXXXX",
    "X.X.......X.", "XX.......X..", "XX......X...", "XXXXXXXX....",
};

static const char* const closed_folder_rows[8] = {
    ".XXXX.......", "X....X......", "XXXXXXXXXXXX", "X..........X",
    "X..........X", "X..........X", "X..........X", "XXXXXXXXXXXX",
};

/* Bitmap data is two bytes a row, least significant bit leftmost. */
static Pixmap make_folder(Widget w, const char* const rows[8])
{
    char bits[16];
    memset(bits, 0, sizeof(bits));
    for (int y = 0; y < 8; y++)
        for (int x = 0; x < 12; x++)
            if (rows[y][x] == 'X') bits[y * 2 + x / 8] |= (char)(1 << (x % 8));
    return XCreateBitmapFromData(XtDisplay(w), RootWindowOfScreen(XtScreen(w)), bits, 12, 8);
}

/* ------------------------------------------------------------------ */
/* Helpers                                                             */
/* ------------------------------------------------------------------ */

static XiHierarchyWidget HW(Widget w)
{
    return (XiHierarchyWidget)w;
}

static XiHierarchyClassPart* class_part(Widget w)
{
    return &((XiHierarchyWidgetClass)XtClass(w))->hierarchy_class;
}

static void warn(Widget w, const char* name, const char* text, String param)
{
    String params[1] = {param};
    Cardinal n = 1;
    XtAppWarningMsg(XtWidgetToApplicationContext(w), (String)name, (String)name,
                    (String) "LumoWidgetSetError", (String)text, params, &n);
}

static void warn_self_parent(Widget w)
{
    warn(w, "nodeParentIsSelf", "%s: The node parent cannot be self referential.",
         (String) "Hierarchy Widget");
}

/* The record a node named as parent stands for: its own, or the root
 * record for top-level nodes (and for parents that are no nodes here). */
static HierarchyConstraints record_of(Widget w, Widget parent)
{
    if (parent == NULL || XtParent(parent) != w ||
        XiHierarchyNode(parent)->hierarchy.state == XiNotInHierarchy)
        return HW(w)->hierarchy.top_node;
    return XiHierarchyNode(parent);
}

/* Whether `w` is a node somewhere below `node` (a parent there would make
 * a loop). */
static Boolean below(Widget hierarchy, Widget w, Widget node)
{
    while (w != NULL && XtParent(w) == hierarchy) {
        if (w == node) return True;
        w = XiHierarchyNode(w)->hierarchy.parent;
    }
    return False;
}

/* Put a node among its parent's children, in front of its insert-before
 * sibling when it names one, else at the end. */
static void insert_node(Widget w, HierarchyConstraints parent, HierarchyConstraints node)
{
    XiHierarchyConstraintPart* p = &parent->hierarchy;
    if (p->num_children == p->alloc) {
        /* Ten at a time for the usual few children; by half again for a
         * big container, so that adding n children copies O(n), not
         * O(n squared), pointers. */
        p->alloc += std::max<Cardinal>(10, p->alloc / 2);
        p->children = (HierarchyConstraints*)XtRealloc((char*)p->children,
                                                       p->alloc * sizeof(HierarchyConstraints));
    }
    Cardinal pos = p->num_children;
    Widget before = node->hierarchy.insert_before;
    if (before != NULL) {
        Boolean found = False;
        for (Cardinal i = p->num_children; i-- > 0;) {
            if (p->children[i]->hierarchy.widget == before) {
                pos = i;
                found = True;
                break;
            }
        }
        if (!found)
            warn(w, "insertBeforeNotSibling",
                 "XiHierarchy: InsertBefore Widget is not a sibling of '%s'.\n"
                 "Inserting child at end of list.",
                 XtName(node->hierarchy.widget));
    }
    memmove(&p->children[pos + 1], &p->children[pos],
            (p->num_children - pos) * sizeof(HierarchyConstraints));
    p->children[pos] = node;
    p->num_children++;
}

/* Take a node out of its parent's children, keeping the others' order. */
static void remove_node(HierarchyConstraints parent, HierarchyConstraints node)
{
    XiHierarchyConstraintPart* p = &parent->hierarchy;
    /* From the last: a burst of removals often takes the children last
     * first, and then each is found at once and nothing moves. */
    for (Cardinal i = p->num_children; i-- > 0;) {
        if (p->children[i] == node) {
            memmove(&p->children[i], &p->children[i + 1],
                    (p->num_children - i - 1) * sizeof(HierarchyConstraints));
            p->num_children--;
            return;
        }
    }
}

void _XiHierarchyRebuildTable(Widget w)
{
    XiHierarchyPart* hp = &HW(w)->hierarchy;
    Cardinal index = 0;
    class_part(w)->build_node_table(w, hp->top_node, &index);
    hp->num_nodes = index;
}

Boolean _XiArgsName(ArgList args, Cardinal num_args, const char* name)
{
    for (Cardinal i = 0; i < num_args; i++)
        if (strcmp(args[i].name, name) == 0) return True;
    return False;
}

/* Give the folder button of every open and closed node the current picture. */
static void update_folder_pictures(Widget w)
{
    XiHierarchyPart* hp = &HW(w)->hierarchy;
    CompositeWidget cw = (CompositeWidget)w;
    for (Cardinal i = 0; i < cw->composite.num_children; i++) {
        HierarchyConstraints node = XiHierarchyNode(cw->composite.children[i]);
        Widget button = node->hierarchy.open_close_button;
        if (button == NULL) continue;
        if (node->hierarchy.state == XiOpen)
            XtVaSetValues(button, XmNpixmap, hp->open_folder, NULL);
        else if (node->hierarchy.state == XiClosed)
            XtVaSetValues(button, XmNpixmap, hp->close_folder, NULL);
    }
}

/* ------------------------------------------------------------------ */
/* Class methods                                                       */
/* ------------------------------------------------------------------ */

static void ClassInitialize(void)
{
    xi_register_enum_converter(&state_table);
}

/* Slots left as inherit get the superclass's operation. */
static void ClassPartInitialize(WidgetClass wc)
{
    XiHierarchyWidgetClass hc = (XiHierarchyWidgetClass)wc;
    XiHierarchyWidgetClass super = (XiHierarchyWidgetClass)wc->core_class.superclass;
    if (wc == xiHierarchyWidgetClass) return;
    XiHierarchyClassPart* p = &hc->hierarchy_class;
    XiHierarchyClassPart* s = &super->hierarchy_class;
    if (p->change_node_state == XiInheritChangeNodeState)
        p->change_node_state = s->change_node_state;
    if (p->map_node == XiInheritMapNode) p->map_node = s->map_node;
    if (p->unmap_node == XiInheritUnmapNode) p->unmap_node = s->unmap_node;
    if (p->unmap_all_extra_nodes == XiInheritUnmapAllExtraNodes)
        p->unmap_all_extra_nodes = s->unmap_all_extra_nodes;
    if (p->build_node_table == XiInheritBuildNodeTable) p->build_node_table = s->build_node_table;
    if (p->reset_open_close_button == XiInheritResetOpenCloseButton)
        p->reset_open_close_button = s->reset_open_close_button;
    if (p->toggle_node_state == XiInheritToggleNodeState)
        p->toggle_node_state = s->toggle_node_state;
}

static void Initialize(Widget request, Widget new_w, ArgList args, Cardinal* num_args)
{
    XiHierarchyPart* hp = &HW(new_w)->hierarchy;
    hp->def_open_folder = make_folder(new_w, open_folder_rows);
    hp->def_close_folder = make_folder(new_w, closed_folder_rows);
    if (hp->open_folder == XmUNSPECIFIED_PIXMAP) hp->open_folder = hp->def_open_folder;
    if (hp->close_folder == XmUNSPECIFIED_PIXMAP) hp->close_folder = hp->def_close_folder;

    hp->node_table = NULL;
    hp->num_nodes = 0;
    hp->alloc_nodes = 0;

    /* The root record has the full constraint size of the actual class, so
     * subclasses find their own constraint fields in it too. */
    Cardinal size = ((ConstraintWidgetClass)XtClass(new_w))->constraint_class.constraint_size;
    hp->top_node = (HierarchyConstraints)XtCalloc(1, size);
    hp->top_node->hierarchy.state = XiHidden;
}

static void Destroy(Widget w)
{
    XiHierarchyPart* hp = &HW(w)->hierarchy;
    XtFree((char*)hp->node_table);
    XtFree((char*)hp->top_node->hierarchy.children);
    XtFree((char*)hp->top_node);
    XFreePixmap(XtDisplay(w), hp->def_open_folder);
    XFreePixmap(XtDisplay(w), hp->def_close_folder);
}

static Boolean SetValues(Widget current, Widget request, Widget new_w, ArgList args,
                         Cardinal* num_args)
{
    XiHierarchyPart* old = &HW(current)->hierarchy;
    XiHierarchyPart* hp = &HW(new_w)->hierarchy;
    if (hp->open_folder == XmUNSPECIFIED_PIXMAP) hp->open_folder = hp->def_open_folder;
    if (hp->close_folder == XmUNSPECIFIED_PIXMAP) hp->close_folder = hp->def_close_folder;
    if (hp->open_folder != old->open_folder || hp->close_folder != old->close_folder) {
        update_folder_pictures(new_w);
        return True;
    }
    return False;
}

/* The bare hierarchy places nothing, so any size a child asks for is fine. */
static XtGeometryResult GeometryManager(Widget child, XtWidgetGeometry* request,
                                        XtWidgetGeometry* reply)
{
    if (request->request_mode & XtCWQueryOnly) return XtGeometryYes;
    if (request->request_mode & CWWidth) child->core.width = request->width;
    if (request->request_mode & CWHeight) child->core.height = request->height;
    if (request->request_mode & CWBorderWidth) child->core.border_width = request->border_width;
    return XtGeometryYes;
}

/* Like the outline, leaves out XmeNavigChangeManaged: one server round
 * trip per child on every call is too dear for large trees. */
static void ChangeManaged(Widget w)
{
    _XiHierarchyRebuildTable(w);
}

static void InsertChild(Widget child)
{
    Widget w = XtParent(child);
    if (XmIsGadget(child)) {
        warn(w, "noGadgetSupport", "Widget %s does not support gadget children.", XtName(w));
        return;
    }
    CompositeWidgetClass super = (CompositeWidgetClass)xmManagerWidgetClass;
    (*super->composite_class.insert_child)(child);
}

static void ConstraintInitialize(Widget request, Widget new_w, ArgList args, Cardinal* num_args)
{
    Widget w = XtParent(new_w);
    HierarchyConstraints node = XiHierarchyNode(new_w);
    XiHierarchyConstraintPart* n = &node->hierarchy;

    n->widget = new_w;
    n->children = NULL;
    n->num_children = 0;
    n->alloc = 0;
    n->open_close_button = NULL;
    n->status = XiNodeStale;
    if (XmIsGadget(new_w)) {
        n->state = XiNotInHierarchy; /* refused by InsertChild */
        return;
    }
    if (n->parent == new_w) {
        warn_self_parent(w);
        n->parent = NULL;
    }
    /* Nodes become visible only when the layout maps them. */
    new_w->core.mapped_when_managed = False;
    if (n->state == XiNotInHierarchy) return;
    hold_traversal(new_w);
    class_part(w)->reset_open_close_button(w, node);
    insert_node(w, record_of(w, n->parent), node);
}

/* A node takes its whole subtree and its folder button along. */
static void ConstraintDestroy(Widget child)
{
    Widget w = XtParent(child);
    HierarchyConstraints node = XiHierarchyNode(child);
    XiHierarchyConstraintPart* n = &node->hierarchy;
    if (n->state == XiNotInHierarchy) return;
    if (!w->core.being_destroyed) {
        if (!(n->status & XiNodeParentGone)) remove_node(record_of(w, n->parent), node);
        for (Cardinal i = 0; i < n->num_children; i++) {
            n->children[i]->hierarchy.status |= XiNodeParentGone;
            XtDestroyWidget(n->children[i]->hierarchy.widget);
        }
        if (n->open_close_button != NULL) {
            Widget button = n->open_close_button;
            n->open_close_button = NULL;
            XtDestroyWidget(button);
        }
        /* With refigureMode off many nodes usually go at once (a whole
         * tree is dropped): the table is listed again by the layout that
         * follows, and until then it is empty rather than stale. */
        if (HW(w)->hierarchy.refigure_mode)
            _XiHierarchyRebuildTable(w);
        else
            HW(w)->hierarchy.num_nodes = 0;
    }
    XtFree((char*)n->children);
    n->children = NULL;
    n->num_children = n->alloc = 0;
}

static Boolean ConstraintSetValues(Widget current, Widget request, Widget new_w, ArgList args,
                                   Cardinal* num_args)
{
    Widget w = XtParent(new_w);
    XiHierarchyConstraintPart* old = &XiHierarchyNode(current)->hierarchy;
    HierarchyConstraints node = XiHierarchyNode(new_w);
    XiHierarchyConstraintPart* n = &node->hierarchy;

    if (old->state == XiNotInHierarchy || n->state == XiNotInHierarchy) {
        n->state = old->state;
        return False;
    }
    /* The program's own traversalOn for a row held out of traversal: kept
     * for when the row is shown. */
    if (!adjusting_traversal && (n->status & XiNodeTraversalHeld) && XmIsPrimitive(new_w) &&
        _XiArgsName(args, *num_args, XmNtraversalOn)) {
        XmPrimitiveWidget p = (XmPrimitiveWidget)new_w;
        if (p->primitive.traversal_on)
            p->primitive.traversal_on = False;
        else
            n->status &= (unsigned char)~XiNodeTraversalHeld;
    }
    /* Only a new parent or a new insert-before sibling moves the node: the
     * same value again leaves it where it is, wherever that is by now. */
    Boolean relisted = n->state != old->state;
    if (n->parent != old->parent || n->insert_before != old->insert_before) {
        if (n->parent == new_w || below(w, n->parent, new_w)) {
            warn_self_parent(w);
            n->parent = old->parent;
        }
        if (n->parent != old->parent || n->insert_before != old->insert_before) {
            relisted = True;
            remove_node(record_of(w, old->parent), node);
            insert_node(w, record_of(w, n->parent), node);
        }
    }
    if (n->state != old->state) class_part(w)->change_node_state(node);
    /* Other resources (colours, traversal) leave the table as it is. */
    if (relisted) _XiHierarchyRebuildTable(w);
    return False;
}

/* ------------------------------------------------------------------ */
/* Hierarchy operations                                                */
/* ------------------------------------------------------------------ */

/* After a state change: fit the folder button, and with autoClose let a
 * closed node (or a hidden one under a closed ancestor) close its open
 * children, and so on down. */
static void ChangeNodeState(HierarchyConstraints node)
{
    Widget w = XtParent(node->hierarchy.widget);
    XiHierarchyClassPart* cp = class_part(w);
    cp->reset_open_close_button(w, node);
    if (!HW(w)->hierarchy.auto_close) return;

    Boolean closing = node->hierarchy.state == XiClosed;
    if (node->hierarchy.state == XiHidden) {
        Widget p = node->hierarchy.parent;
        while (p != NULL && XiHierarchyNode(p)->hierarchy.state == XiHidden)
            p = XiHierarchyNode(p)->hierarchy.parent;
        closing = p != NULL && XiHierarchyNode(p)->hierarchy.state == XiClosed;
    }
    if (!closing) return;
    for (Cardinal i = 0; i < node->hierarchy.num_children; i++) {
        HierarchyConstraints child = node->hierarchy.children[i];
        if (child->hierarchy.state == XiOpen) child->hierarchy.state = XiClosed;
        cp->change_node_state(child);
    }
}

/* Rows that are not on the screen leave keyboard traversal.  Whenever
 * Motif looks for a widget to take the focus, it asks the X server whether
 * each traversable widget is viewable, and whether the windows stacked
 * above it cover it: with thousands of unmapped rows a focus change took
 * seconds.  So a row's traversalOn (and its folder button's) is held False
 * while it is unmapped and given back when it is mapped.
 *
 * Holding sets the field without telling Motif: a row that leaves the
 * screen with the focus loses it when Motif next checks the focus (finding
 * the next row in view cheaply); telling Motif row by row made closing a
 * node with a screenful of rows rebuild its traversal list each time. */
static void hold_traversal(Widget child)
{
    if (!XmIsPrimitive(child) || !((XmPrimitiveWidget)child)->primitive.traversal_on) return;
    XiHierarchyNode(child)->hierarchy.status |= XiNodeTraversalHeld;
    ((XmPrimitiveWidget)child)->primitive.traversal_on = False;
}

static void release_traversal(Widget child)
{
    XiHierarchyConstraintPart* c = &XiHierarchyNode(child)->hierarchy;
    if (!(c->status & XiNodeTraversalHeld)) return;
    c->status &= (unsigned char)~XiNodeTraversalHeld;
    adjusting_traversal = True;
    XtVaSetValues(child, XmNtraversalOn, True, NULL);
    adjusting_traversal = False;
}

static void show_widget(Widget child)
{
    XtSetMappedWhenManaged(child, True);
    release_traversal(child);
}

static void hide_widget(Widget child)
{
    XtSetMappedWhenManaged(child, False);
    hold_traversal(child);
}

static void MapNode(HierarchyConstraints node)
{
    show_widget(node->hierarchy.widget);
    if (node->hierarchy.open_close_button != NULL) show_widget(node->hierarchy.open_close_button);
    node->hierarchy.status |= XiNodeMapped;
}

static void UnmapNode(HierarchyConstraints node)
{
    hide_widget(node->hierarchy.widget);
    if (node->hierarchy.open_close_button != NULL) hide_widget(node->hierarchy.open_close_button);
    node->hierarchy.status &= (unsigned char)~XiNodeMapped;
}

/* Unmap every node below `node` that is mapped but no longer shown. */
static void UnmapAllExtraNodes(Widget w, HierarchyConstraints node)
{
    XiHierarchyClassPart* cp = class_part(w);
    for (Cardinal i = 0; i < node->hierarchy.num_children; i++) {
        HierarchyConstraints child = node->hierarchy.children[i];
        if ((child->hierarchy.status & XiNodeStale) && (child->hierarchy.status & XiNodeMapped))
            cp->unmap_node(child);
        UnmapAllExtraNodes(w, child);
    }
}

static void add_shown_nodes(XiHierarchyPart* hp, HierarchyConstraints node, Cardinal* index)
{
    for (Cardinal i = 0; i < node->hierarchy.num_children; i++) {
        HierarchyConstraints child = node->hierarchy.children[i];
        if (!XtIsManaged(child->hierarchy.widget)) continue;
        if (child->hierarchy.state != XiHidden) {
            hp->node_table[(*index)++] = child;
            child->hierarchy.status &= (unsigned char)~XiNodeStale;
        }
        if (child->hierarchy.state != XiClosed) add_shown_nodes(hp, child, index);
    }
}

/* List the shown nodes below `node`, depth first, in display order. */
static void BuildNodeTable(Widget w, HierarchyConstraints node, Cardinal* current_index)
{
    XiHierarchyPart* hp = &HW(w)->hierarchy;
    Cardinal needed = ((CompositeWidget)w)->composite.num_children;
    if (hp->alloc_nodes < needed) {
        hp->alloc_nodes = needed;
        hp->node_table = (HierarchyConstraints*)XtRealloc(
            (char*)hp->node_table, hp->alloc_nodes * sizeof(HierarchyConstraints));
    }
    add_shown_nodes(hp, node, current_index);
}

static void ResetOpenCloseButton(Widget w, HierarchyConstraints node)
{
    XiHierarchyConstraintPart* n = &node->hierarchy;
    XiHierarchyPart* hp = &HW(w)->hierarchy;
    if (n->state == XiNotInHierarchy) return;
    if (n->state == XiAlwaysOpen) {
        if (n->open_close_button != NULL) {
            Widget button = n->open_close_button;
            n->open_close_button = NULL;
            XtDestroyWidget(button);
        }
        return;
    }
    Pixmap picture = n->state == XiClosed ? hp->close_folder : hp->open_folder;
    if (n->open_close_button == NULL) {
        Arg args[4];
        Cardinal k = 0;
        XtSetArg(args[k], XmNpixmap, picture);
        k++;
        XtSetArg(args[k], XmNmappedWhenManaged, False);
        k++;
        XtSetArg(args[k], (String)XiNnodeState, XiNotInHierarchy);
        k++;
        XtSetArg(args[k], (String)XiNiconPlacement, XiIconOnly);
        k++;
        n->open_close_button =
            XtCreateManagedWidget("openAndClose", xiIconButtonWidgetClass, w, args, k);
        if (n->status & XiNodeMapped)
            show_widget(n->open_close_button);
        else
            hold_traversal(n->open_close_button);
        XtAddCallback(n->open_close_button, XmNactivateCallback, class_part(w)->toggle_node_state,
                      (XtPointer)node);
    } else {
        XtVaSetValues(n->open_close_button, XmNpixmap, picture, NULL);
    }
}

/* Activate callback of a folder button: flip the node between open and
 * closed and tell the program. */
static void ToggleNodeState(Widget button, XtPointer client_data, XtPointer call_data)
{
    HierarchyConstraints node = (HierarchyConstraints)client_data;
    Widget w = XtParent(button);
    XtVaSetValues(button, XmNset, False, NULL);
    if (node->hierarchy.state == XiOpen)
        node->hierarchy.state = XiClosed;
    else if (node->hierarchy.state == XiClosed)
        node->hierarchy.state = XiOpen;
    else
        return;
    class_part(w)->change_node_state(node);
    XiHierarchyNodeStateData data;
    data.widget = node->hierarchy.widget;
    data.state = node->hierarchy.state;
    XtCallCallbackList(w, HW(w)->hierarchy.node_state_callback, &data);
}

/* ------------------------------------------------------------------ */
/* Public functions                                                    */
/* ------------------------------------------------------------------ */

void XiHierarchyOpenAllAncestors(Widget node)
{
    Widget p = XiHierarchyNode(node)->hierarchy.parent;
    while (p != NULL) {
        HierarchyConstraints pn = XiHierarchyNode(p);
        if (pn->hierarchy.state == XiClosed) XtVaSetValues(p, XiNnodeState, XiOpen, NULL);
        p = pn->hierarchy.parent;
    }
}
