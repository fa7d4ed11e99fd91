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

#define XiNindentSpace ((char *)"indentSpace")
#define XiCIndentSpace ((char *)"IndentSpace")

typedef struct _XiOutlineClassRec *XiOutlineWidgetClass;
typedef struct _XiOutlineRec *XiOutlineWidget;

extern WidgetClass xiOutlineWidgetClass;

#ifndef XiIsOutline
#define XiIsOutline(w) XtIsSubclass((w), xiOutlineWidgetClass)
#endif

/* A new, unmanaged outline widget. */
Widget XiCreateOutline(Widget parent, String name, ArgList args, Cardinal num_args);

#endif
