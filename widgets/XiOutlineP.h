/*
 * XiOutlineP.h - private header of the outline widget: class, instance and
 * constraint records.
 */
#ifndef QX_XI_OUTLINE_P_H
#define QX_XI_OUTLINE_P_H

#include "XiHierarchyP.h"
#include "XiOutline.h"

typedef void (*XiOutlineCalcMaxWidthProc)(Widget w);
typedef void (*XiOutlineCalcLocationsProc)(Widget w, Boolean allow_resize);

#define XiInheritCalcMaxWidth  ((XiOutlineCalcMaxWidthProc)_XtInherit)
#define XiInheritCalcLocations ((XiOutlineCalcLocationsProc)_XtInherit)

/* New fields of the class record, in slot order. */
typedef struct {
    XiOutlineCalcMaxWidthProc calc_max_width;  /* preferred width from the widest row */
    XiOutlineCalcLocationsProc calc_locations; /* the row layout */
    XtPointer extension;                       /* for future use */
} XiOutlineClassPart;

/* The full class record. */
typedef struct _XiOutlineClassRec {
    CoreClassPart core_class;
    CompositeClassPart composite_class;
    ConstraintClassPart constraint_class;
    XmManagerClassPart manager_class;
    XiHierarchyClassPart hierarchy_class;
    XiOutlineClassPart outline_class;
} XiOutlineClassRec;

extern XiOutlineClassRec xiOutlineClassRec;

/* Row geometry and pending work of one node. */
typedef struct {
    Position widget_x;     /* x of the node in its row */
    Position button_x;     /* x of the folder button */
    Dimension row_height;  /* larger of node and button height */
    Position new_widget_x; /* where a pending move puts the node */
    Position new_widget_y;
    Position new_button_x; /* and its button */
    Position new_button_y;
    Boolean map;   /* pending: map node and button */
    Boolean unmap; /* pending: unmap node and button */
    Boolean move;  /* pending: move node and button */
    long row;      /* with a row source: the row this widget shows, or -1 */
} XiOutlineConstraintPart;

typedef struct _XiOutlineConstraintRec {
    XmManagerConstraintPart manager;
    XiHierarchyConstraintPart hierarchy;
    XiOutlineConstraintPart outline;
} XiOutlineConstraintRec, *OutlineConstraints;

/* Placements waiting for the work procedure, oldest first. */
typedef struct {
    OutlineConstraints* nodes; /* queued nodes; NULL entries were dropped */
    Cardinal head;             /* next entry to work off */
    Cardinal count;            /* entries used */
    Cardinal alloc;            /* entries allocated */
} XiPlacementQueue;

/* New fields of the instance record. */
typedef struct {
    /* resources */
    Dimension indent_space; /* indent of one depth step */

    /* private state */
    HierarchyConstraints first_node; /* first shown node, placed at the top */
    Dimension max_width;             /* preferred width */
    Dimension max_extent;            /* widest row extent */
    XiPlacementQueue pending;        /* placements not yet carried out */
    Dimension pref_height;           /* preferred height */
    XtWorkProcId work_id;            /* the work procedure working off `pending`, or 0 */

    /* Scrolling by the outline itself (both scroll bars set): the widget is
     * only as big as its view, `first_node` is the top row of the view,
     * and only the rows in the view are placed. */
    Widget v_scroll;       /* resource: vertical scroll bar, or NULL */
    Widget h_scroll;       /* resource: horizontal scroll bar, or NULL */
    Cardinal top_index;    /* index of first_node in the node table */
    Cardinal rows_in_view; /* rows wholly in view from first_node */
    int x_offset;          /* pixels scrolled to the left */

    /* Rows kept by the program (XiOutlineSetRowSource): only the rows in
     * view have widgets, pool[i] showing row top_index + i. */
    XiOutlineRowSource source; /* row_count NULL: the children are the rows */
    WidgetList pool;           /* the row widgets, in the order of the rows shown */
    Cardinal pool_count;       /* row widgets made */
    Cardinal pool_alloc;       /* entries allocated in pool */
    Cardinal row_count;        /* rows of the source at the last placing */
    Dimension row_height;      /* height of the last row placed, for the last page */
    Boolean placing;           /* binding rows: their size changes wait */

    /* The frame around the row with the keyboard focus. */
    Pixel focus_color;      /* resource: colour of the frame */
    GC focus_gc;            /* draws the frame */
    Widget focus_node;      /* the node that has the keyboard focus, or NULL */
    long focus_row;         /* with a row source: the row that has the focus, or -1 */
    XtPointer focus_id;     /* what focus_row stands for (source.row_id), or NULL */
    XRectangle focus_mark;  /* the frame as drawn; width 0: none drawn */
    Boolean moving_focus;   /* the outline moves the focus to another row widget */
    Widget left_node;       /* the row widget the focus left the outline from, or NULL */
    Boolean pressed;        /* a pointer button is down on a child */
    XtIntervalId follow_id; /* the focus going back to its row after it came back, or 0 */
} XiOutlinePart;

/* The full instance record. */
typedef struct _XiOutlineRec {
    CorePart core;
    CompositePart composite;
    ConstraintPart constraint;
    XmManagerPart manager;
    XiHierarchyPart hierarchy;
    XiOutlinePart outline;
} XiOutlineRec;

#endif
