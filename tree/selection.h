/*
 * selection.h - the selection, the path line and the sensitivity of the main
 * window's commands.  PUBLIC HEADER.
 *
 * A selected node is drawn in inverse colours.  With one object selected
 * every command applies, the path line shows its FDN and the Action menu is
 * built for its class; with several only Delete and Deselect; with none only
 * Create....  MainWin::update_edit_menu and MainWin::deselect_objects are
 * defined in selection.cpp.
 *
 * EVENT-LOOP RULE: set_path_and_actions (and so add and deselect) rebuild the
 * Action menu, which may boot the object on the server; get_num_children
 * derives an object that was never derived.  Both wait with the Xt loop
 * running.
 */
#ifndef TREE_SELECTION_H
#define TREE_SELECTION_H

class DataObject;

void add(DataObject* obj);
void deselect(DataObject* obj);
/* Sensitivity of Get..., Create..., Action, the path and Delete for count
 * selected objects, then MainWin::update_edit_menu. */
void check_selected(int count);
/* Path line and Action menu for the first selected object (nothing when
 * none is selected). */
void set_path_and_actions();
/* Number of children of obj, deriving it (depth 0) if it never was; 0 when
 * the tree was rebuilt meanwhile, -1 when the derivation did not start. */
int get_num_children(DataObject* obj);

#endif /* TREE_SELECTION_H */
