/*
 * XiHierarchy.h - public header of the hierarchy widget, the tree
 * bookkeeping that the outline widget (XiOutline.h) lays out.
 *
 * Every child is a node of a tree: it names its parent node through the
 * "parentNode" constraint and is shown, hidden or folded by its "nodeState".
 * Nodes that can be opened get a folder button (an XiIconButton named
 * "openAndClose"); pressing it opens or closes the node and calls
 * nodeStateCallback on the hierarchy widget.
 *
 * Resources (besides those of XmManager):
 *
 * Name               Class             Type                Default
 * ----               -----             ----                -------
 * width              Width             HorizontalDimension 300
 * height             Height            VerticalDimension   300
 * autoClose          AutoClose         Boolean             True
 * refigureMode       Boolean           Boolean             True
 * nodeStateCallback  NodeStateCallback XtCallbackList      NULL
 * verticalMargin     Dimension         VerticalDimension   2
 * horizontalMargin   Dimension         HorizontalDimension 2
 * openFolderPixmap   Pixmap            Pixmap              XmUNSPECIFIED_PIXMAP (built-in)
 * closeFolderPixmap  Pixmap            Pixmap              XmUNSPECIFIED_PIXMAP (built-in)
 *
 * Constraint resources of every child:
 *
 * Name          Class         Type                  Default
 * ----          -----         ----                  -------
 * nodeState     NodeState     XiHierarchyNodeState  XiOpen
 * parentNode    ParentNode    Widget                NULL (a top-level node)
 * insertBefore  InsertBefore  Widget                NULL (append)
 *
 * nodeStateCallback gets an XiHierarchyNodeStateData.
 */
#ifndef QX_XI_HIERARCHY_H
#define QX_XI_HIERARCHY_H

#include <Xm/Xm.h>

#define XiNautoClose "autoClose"
#define XiNrefigureMode "refigureMode"
#define XiNnodeStateCallback "nodeStateCallback"
#define XiNopenFolderPixmap "openFolderPixmap"
#define XiNcloseFolderPixmap "closeFolderPixmap"
#define XiNnodeState "nodeState"
#define XiNparentNode "parentNode"
#define XiNinsertBefore "insertBefore"
#ifndef XiNverticalMargin
#define XiNverticalMargin "verticalMargin"
#define XiNhorizontalMargin "horizontalMargin"
#endif

#define XiCAutoClose "AutoClose"
#define XiCNodeStateCallback "NodeStateCallback"
#define XiCNodeState "NodeState"
#define XiCParentNode "ParentNode"
#define XiCInsertBefore "InsertBefore"

#define XiRXiHierarchyNodeState "XiHierarchyNodeState"

/* Node states; the converter takes the strings in any letter case. */
typedef enum {
    XiAlwaysOpen = 0,       /* "alwaysopen": children shown, no folder button */
    XiOpen = 1,             /* "open": children shown, open-folder button */
    XiClosed = 2,           /* "closed": children not shown, closed-folder button */
    XiHidden = 3,           /* "hidden": not shown, its children take its place */
    XiNotInHierarchy = 4    /* "notinhierarchy": no node at all (the folder buttons) */
} XiHierarchyNodeState;

/* Call data of nodeStateCallback. */
typedef struct {
    Widget widget;                  /* the node whose state changed */
    XiHierarchyNodeState state;     /* its new state */
} XiHierarchyNodeStateData;

typedef struct _XiHierarchyClassRec *XiHierarchyWidgetClass;
typedef struct _XiHierarchyRec *XiHierarchyWidget;

extern WidgetClass xiHierarchyWidgetClass;

#ifndef XiIsHierarchy
#define XiIsHierarchy(w) XtIsSubclass((w), xiHierarchyWidgetClass)
#endif

/* Open every closed ancestor of a node (through XtSetValues of nodeState). */
void XiHierarchyOpenAllAncestors(Widget node);

#endif
