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
 */
#ifndef QX_XI_OUTLINE_H
#define QX_XI_OUTLINE_H

#include "XiHierarchy.h"

#define XiNindentSpace ((char*)"indentSpace")
#define XiCIndentSpace ((char*)"IndentSpace")

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

#endif
