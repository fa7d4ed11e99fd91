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

#define XiNautoClose         ((char*)"autoClose")
#define XiNrefigureMode      ((char*)"refigureMode")
#define XiNnodeStateCallback ((char*)"nodeStateCallback")
#define XiNopenFolderPixmap  ((char*)"openFolderPixmap")
#define XiNcloseFolderPixmap ((char*)"closeFolderPixmap")
#define XiNnodeState         ((char*)"nodeState")
#define XiNparentNode        ((char*)"parentNode")
#define XiNinsertBefore      ((char*)"insertBefore")
#ifndef XiNverticalMargin
#define XiNverticalMargin   ((char*)"verticalMargin")
#define XiNhorizontalMargin ((char*)"horizontalMargin")
#endif

#define XiCAutoClose         ((char*)"AutoClose")
#define XiCNodeStateCallback ((char*)"NodeStateCallback")
#define XiCNodeState         ((char*)"NodeState")
#define XiCParentNode        ((char*)"ParentNode")
#define XiCInsertBefore      ((char*)"InsertBefore")

#define XiRXiHierarchyNodeState ((char*)"XiHierarchyNodeState")

/* Node states; the converter takes the strings in any letter case. */
typedef enum {
    XiAlwaysOpen = 0,    /* "alwaysopen": children shown, no folder button */
    XiOpen = 1,          /* "open": children shown, open-folder button */
    XiClosed = 2,        /* "closed": children not shown, closed-folder button */
    XiHidden = 3,        /* "hidden": not shown, its children take its place */
    XiNotInHierarchy = 4 /* "notinhierarchy": no node at all (the folder buttons) */
} XiHierarchyNodeState;

/* Call data of nodeStateCallback. */
typedef struct {
    Widget widget;              /* the node whose state changed */
    XiHierarchyNodeState state; /* its new state */
} XiHierarchyNodeStateData;

typedef struct _XiHierarchyClassRec* XiHierarchyWidgetClass;
typedef struct _XiHierarchyRec* XiHierarchyWidget;

extern WidgetClass xiHierarchyWidgetClass;

#ifndef XiIsHierarchy
#define XiIsHierarchy(w) XtIsSubclass((w), xiHierarchyWidgetClass)
#endif

/* Open every closed ancestor of a node (through XtSetValues of nodeState). */
void XiHierarchyOpenAllAncestors(Widget node);

#endif
