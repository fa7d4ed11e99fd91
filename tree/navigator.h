/*
 * navigator.h - what the navigator does for the user's clicks and for the
 * server's reports of created and destroyed objects.  PUBLIC HEADER.
 *
 * EVENT-LOOP RULE: node_state_cb, object_selected (through the Action menu
 * and the configuration window it may fill), add_object and the derivations
 * they start wait for the server while the Xt loop runs, so any callback,
 * these included, may run inside them.  Each compares CurrentCookie after
 * its waits and stops when the tree was rebuilt meanwhile; object_selected
 * drops clicks that arrive while it is still handling one (selection_busy).
 * remove_object does not wait.  The album callbacks queue their report; the
 * first of them on the stack then handles every queued report in order
 * (the creations queued together with one wait for their derivations),
 * while one called during that wait returns at once.
 */
#ifndef TREE_NAVIGATOR_H
#define TREE_NAVIGATOR_H

#include <X11/Intrinsic.h>

/* nodeStateCallback of mw_navigator (start-up wires it): opening a node
 * derives its object when needed and shows each child that has no node yet,
 * closed, in FDN order. */
void node_state_cb(Widget outline, XtPointer client, XtPointer call_data);

/* Opens obj's row as its folder button does: derives obj when needed and
 * shows each child that is not shown yet, closed, in FDN order.  Waits. */
class DataObject;
void open_object(DataObject* obj);

/* activateCallback of every node (client: the object's FDN, or null for a
 * row widget of the navigator: the object its row shows then).  Single click
 * toggles the selection; double click selects and shows the object in the
 * configuration window. */
void object_selected(Widget node, XtPointer fdn, XtPointer call_data);

/* True while object_selected handles a click; clicks meanwhile are dropped. */
extern bool selection_busy;

/* Album callbacks (client: the CurrentCookie of the derivation that
 * registered them; a report under another cookie is ignored, also when
 * the tree is rebuilt while the report waits in the queue).  May wait. */
void object_included_cb(void* client, void* event);
void object_excluded_cb(void* client, void* event);

/* Registers and shows a created object under its registered parent.  Takes
 * ownership of fdn (a malloc'd copy).  Waits. */
void add_object(void* ignored, char* fdn);
/* Removes a destroyed object: its node, its place in both lists, its
 * parent's count (closing the parent's node when it was the last child).
 * Takes ownership of fdn. */
void remove_object(void* ignored, char* fdn);

#endif /* TREE_NAVIGATOR_H */
