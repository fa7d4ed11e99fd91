/*
 * XiOutline.h - public header of the outline widget.
 *
 * An XiHierarchy (see XiHierarchy.h for its resources, constraints, node
 * states and callback) that shows its nodes as an indented tree: one row per
 * shown node, indented by its depth, with the folder button left of the node.
 * Rows are moved and mapped by a work procedure, visible rows first.
 *
 * Resources added to those of XiHierarchy:
 *
 * Name         Class        Type                 Default
 * ----         -----        ----                 -------
 * indentSpace  IndentSpace  HorizontalDimension  30
 * verticalScrollBar    VerticalScrollBar    Widget  NULL
 * horizontalScrollBar  HorizontalScrollBar  Widget  NULL
 * focusColor           HighlightColor       Pixel   the highlightColor
 *
 * The row that has the keyboard focus is framed by a one-pixel line in
 * focusColor, drawn in the margins around the row, so rows whose own
 * highlight is switched off (highlightThickness 0) still show the focus
 * without any change of their geometry.  Like Motif's own highlight, the
 * frame shows only while the window has the input focus.
 *
 * Without scroll bars the outline asks its parent for the height of all its
 * rows and is scrolled by an XmScrolledWindow that clips it; X limits that to
 * 32,767 pixels, about 1,500 rows.  Given a vertical scroll bar (and usually
 * a horizontal one) it scrolls itself instead: it keeps the size its parent
 * gives it, drives the scroll bars (the vertical one counts rows, the
 * horizontal one pixels), places only the rows in view and answers the mouse
 * wheel, so any number of rows can be shown and opening a big node costs
 * only the rows that are seen.  Put it in an XmScrolledWindow whose
 * scrollingPolicy is XmAPPLICATION_DEFINED with those two scroll bars.
 *
 * Typical use:
 *
 *     Widget outline = XiCreateOutline(scrolled, "mw_navigator", args, n);
 *     XtAddCallback(outline, XiNnodeStateCallback, node_state_cb, NULL);
 *     Widget node = XtVaCreateManagedWidget("n", xmPushButtonWidgetClass, outline,
 *                                           XiNparentNode, parent_node,
 *                                           XiNnodeState, XiClosed, NULL);
 *
 * For many nodes at once set refigureMode False, add them, and set it True
 * again: the layout then runs once.
 *
 * Rows kept by the program.  A self-scrolling outline can show a tree the
 * program keeps itself (XiOutlineSetRowSource): the program answers how
 * many rows there are and what each row's depth and node state are, and
 * the outline keeps row widgets only for the rows in view, which it asks
 * the program for (create_row) and binds to rows as the view scrolls
 * (bind_row).  The row widgets are ordinary nodes of the outline, so a
 * folder button press still calls nodeStateCallback with the row widget
 * that shows the row; the program then changes its tree and calls
 * XiOutlineRowsChanged.  Any number of rows costs only the widgets of one
 * screenful.  The outline never keeps other children's rows in this mode.
 */
#ifndef QX_XI_OUTLINE_H
#define QX_XI_OUTLINE_H

#include "XiHierarchy.h"

#define XiNindentSpace ((char*)"indentSpace")
#define XiCIndentSpace ((char*)"IndentSpace")
#define XiNfocusColor  ((char*)"focusColor")

typedef struct _XiOutlineClassRec* XiOutlineWidgetClass;
typedef struct _XiOutlineRec* XiOutlineWidget;

extern WidgetClass xiOutlineWidgetClass;

#ifndef XiIsOutline
#define XiIsOutline(w) XtIsSubclass((w), xiOutlineWidgetClass)
#endif

/* A new, unmanaged outline widget. */
Widget XiCreateOutline(Widget parent, String name, ArgList args, Cardinal num_args);

/* Scrolls a self-scrolling outline so that the row of `node` is in view;
 * does nothing for a node that is not shown or an outline without scroll
 * bars. */
void XiOutlineShowNode(Widget node);

/* What the outline asks the program that keeps the rows. */
typedef struct {
    /* The number of rows. */
    Cardinal (*row_count)(XtPointer closure);
    /* Depth (0 at the left) and node state (XiAlwaysOpen, XiOpen or
     * XiClosed) of a row. */
    void (*describe_row)(XtPointer closure, Cardinal row, int* depth, XiHierarchyNodeState* state);
    /* Makes `node` show `row` (label, colours); row -1: node shows no row
     * any more. */
    void (*bind_row)(XtPointer closure, Widget node, long row);
    /* A new, unmanaged row widget, a child of outline (a push button, say). */
    Widget (*create_row)(XtPointer closure, Widget outline);
    XtPointer closure;
    /* Optional, both or neither: what a row stands for (never NULL), and
     * the row that stands for `id` now, or -1.  With them the keyboard
     * focus stays with what its row stands for when rows come and go above
     * it; without them, with its row number. */
    XtPointer (*row_id)(XtPointer closure, Cardinal row);
    long (*find_row)(XtPointer closure, XtPointer id);
} XiOutlineRowSource;

/* Makes a self-scrolling outline show the rows of `source` (NULL: its own
 * children again); places the rows in view at once. */
void XiOutlineSetRowSource(Widget outline, const XiOutlineRowSource* source);

/* Whether the outline shows rows of a source. */
Boolean XiOutlineHasRowSource(Widget outline);

/* The rows of the source changed: binds and places the rows in view again,
 * from row `top` (-1: the same top row number as before). */
void XiOutlineRowsChanged(Widget outline, long top);

/* The row a row widget shows, or -1. */
long XiOutlineRowOfNode(Widget node);

/* The row widget that shows `row`, or NULL when the row is out of view. */
Widget XiOutlineNodeOfRow(Widget outline, Cardinal row);

/* The first row in view. */
Cardinal XiOutlineTopRow(Widget outline);

/* Scrolls so that `row` is in view. */
void XiOutlineShowRow(Widget outline, Cardinal row);

/* The row that has the keyboard focus, or -1.  The focus stays with its
 * row, not with the row widget: when the view scrolls, the widget that
 * now shows the row takes the focus and the frame.  When the rows of the
 * source move (rows inserted or removed above), XiOutlineRowsChanged finds
 * the focused row again by what it stands for (row_id, find_row); when no
 * row stands for it any more, the focus stays with the row its widget
 * shows.
 *
 * Keys on a row: Up and Down move the focus a row, Page Up and Page Down
 * a page (the rows in view, the view scrolling by as much), Home and End
 * to the first and the last row; Right opens the row and Left closes it. */
long XiOutlineFocusRow(Widget outline);

#endif
