/*
 * tree_api.h - what the other features may use of the object tree.
 * PUBLIC HEADER for config/, objects/ and prefs/.
 *
 * Feature folders reach one another only through a header like this one, so
 * the tree says here what it offers them:
 * - the registry and its look-ups (DataObject, DataObject::object_list,
 *   find_album_object, find_selected_object) and DataObject::get_attributes,
 *   which boots an object into the configuration image: the configuration
 *   window (config/) and the object commands (objects/);
 * - the selection and the menu state that follows it (DataObject::
 *   selected_list, add, deselect, check_selected, set_path_and_actions): the
 *   object commands, which act on the selected objects;
 * - the check of a root FDN and the rebuild of the tree from it
 *   (is_valid_object, rebuild_tree): the preferences (prefs/), which build
 *   the tree again from a new default node;
 * - opening an object's row and scrolling it into view (open_object,
 *   show_object_row): the search (prefs/), which shows what it found;
 * - going to one object by its FDN (go_to_object): the search's list of
 *   matches, where a double click goes to one;
 * - the sibling order (natural_compare, resort_siblings): the preferences,
 *   where the user switches the natural order on and off;
 * - ObjectRef, the way back to an object after a wait: every feature that
 *   holds an object across a wait or a blocking dialog.
 *
 * EVENT-LOOP RULE: as in the headers it includes; most of these wait for the
 * server with the Xt loop running, and an object held across such a wait is
 * touched afterwards only through an ObjectRef taken before it.
 */
#ifndef TREE_TREE_API_H
#define TREE_TREE_API_H

#include "tree/build_tree.h"
#include "tree/data_object.h"
#include "tree/go_to.h"
#include "tree/natural_order.h"
#include "tree/navigator.h"
#include "tree/object_ref.h"
#include "tree/selection.h"

#endif /* TREE_TREE_API_H */
