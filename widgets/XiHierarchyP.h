/*
 * XiHierarchyP.h - private header of the hierarchy widget: class,
 * instance and constraint (node) records.  For subclasses such as the
 * outline and for the widget set itself.
 */
#ifndef QX_XI_HIERARCHY_P_H
#define QX_XI_HIERARCHY_P_H

#include <Xm/ManagerP.h>

#include "XiHierarchy.h"

typedef struct _XiHierarchyConstraintRec* HierarchyConstraints;

/* Class operations on nodes. */
typedef void (*XiNodeProc)(HierarchyConstraints node);
typedef void (*XiHierarchyNodeProc)(Widget w, HierarchyConstraints node);
typedef void (*XiHierarchyBuildTableProc)(Widget w, HierarchyConstraints node,
                                          Cardinal* current_index);

#define XiInheritChangeNodeState      ((XiNodeProc)_XtInherit)
#define XiInheritMapNode              ((XiNodeProc)_XtInherit)
#define XiInheritUnmapNode            ((XiNodeProc)_XtInherit)
#define XiInheritUnmapAllExtraNodes   ((XiHierarchyNodeProc)_XtInherit)
#define XiInheritBuildNodeTable       ((XiHierarchyBuildTableProc)_XtInherit)
#define XiInheritResetOpenCloseButton ((XiHierarchyNodeProc)_XtInherit)
#define XiInheritToggleNodeState      ((XtCallbackProc)_XtInherit)

/* New fields of the class record, in slot order. */
typedef struct {
    XiNodeProc change_node_state;                /* after a state change: button, autoClose */
    XiNodeProc map_node;                         /* make node and button visible */
    XiNodeProc unmap_node;                       /* make node and button invisible */
    XiHierarchyNodeProc unmap_all_extra_nodes;   /* hide the nodes no longer shown */
    XiHierarchyBuildTableProc build_node_table;  /* list the shown nodes in order */
    XiHierarchyNodeProc reset_open_close_button; /* make the folder button fit the state */
    XtCallbackProc toggle_node_state;            /* activate callback of the folder button */
    XtPointer extension;                         /* for future use */
} XiHierarchyClassPart;

/* The full class record. */
typedef struct _XiHierarchyClassRec {
    CoreClassPart core_class;
    CompositeClassPart composite_class;
    ConstraintClassPart constraint_class;
    XmManagerClassPart manager_class;
    XiHierarchyClassPart hierarchy_class;
} XiHierarchyClassRec;

extern XiHierarchyClassRec xiHierarchyClassRec;

/* Bits of the node status. */
#define XiNodeMapped        2  /* node (and its button) are mapped */
#define XiNodeStale         4  /* set before a relayout, cleared for nodes still shown */
#define XiNodeParentGone    8  /* being destroyed together with its parent node */
#define XiNodeTraversalHeld 16 /* traversalOn wanted, held False while unmapped */

/* The node record: the constraint part of every child. */
typedef struct {
    XiHierarchyNodeState state;     /* resource: open, closed, hidden, ... */
    Widget parent;                  /* resource: parent node, or NULL at top level */
    Widget insert_before;           /* resource: sibling to insert in front of, or NULL */
    Widget widget;                  /* the child itself */
    Widget open_close_button;       /* its folder button, or NULL */
    HierarchyConstraints* children; /* child node records, in display order */
    Cardinal num_children;          /* entries used in children */
    Cardinal alloc;                 /* entries allocated in children */
    unsigned char status;           /* XiNode* bits */
} XiHierarchyConstraintPart;

typedef struct _XiHierarchyConstraintRec {
    XmManagerConstraintPart manager;
    XiHierarchyConstraintPart hierarchy;
} XiHierarchyConstraintRec;

/* New fields of the instance record. */
typedef struct {
    /* resources */
    Boolean auto_close;                 /* closing a node closes its open descendants */
    Boolean refigure_mode;              /* False: no layout until set True again */
    XtCallbackList node_state_callback; /* a folder button changed a node's state */
    Dimension v_margin;                 /* above, below and between rows */
    Dimension h_margin;                 /* left of rows and between button and node */
    Pixmap open_folder;                 /* picture of open (and hidden) nodes */
    Pixmap close_folder;                /* picture of closed nodes */

    /* private state */
    HierarchyConstraints* node_table; /* the nodes now shown, in display order */
    HierarchyConstraints top_node;    /* hidden pseudo-node above the top-level nodes */
    Cardinal num_nodes;               /* entries used in node_table */
    Cardinal alloc_nodes;             /* entries allocated in node_table */
    Pixmap def_open_folder;           /* built-in open-folder bitmap */
    Pixmap def_close_folder;          /* built-in closed-folder bitmap */
} XiHierarchyPart;

/* The full instance record. */
typedef struct _XiHierarchyRec {
    CorePart core;
    CompositePart composite;
    ConstraintPart constraint;
    XmManagerPart manager;
    XiHierarchyPart hierarchy;
} XiHierarchyRec;

/* The node record of a child widget. */
#define XiHierarchyNode(w) ((HierarchyConstraints)((w)->core.constraints))

/* For subclasses: list the shown nodes again (build_node_table from the
 * root record) and store their number. */
void _XiHierarchyRebuildTable(Widget w);

/* For subclasses: whether an argument list sets the named resource. */
Boolean _XiArgsName(ArgList args, Cardinal num_args, const char* name);

#endif
