/*
 * build_tree.h - the first tree at start-up, the tree built again from
 * another root, and the check of a root FDN.  PUBLIC HEADER.
 *
 * EVENT-LOOP RULE: both wait for the server with the Xt loop running.
 */
#ifndef TREE_BUILD_TREE_H
#define TREE_BUILD_TREE_H

#include <memory>

class DataObject;

/* Creates the root from default_root (falling back to "/" when the server
 * does not know it), derives it to default_scope levels and shows them.
 * When the preferences rebuild the tree during the check of the root, that
 * tree stands and this one is dropped. */
void build_tree();

/* Throws the tree away (its nodes, the selection and every registered
 * object) and starts a new generation (CurrentCookie), so that work waiting
 * on the old tree stops; then, with siblings in natural order when natural,
 * registers new_root, derives it to scope levels with current_filter, shows
 * them and makes it the root.  False when another rebuild took over during
 * the derivation: that tree stands, and root stays null until it is shown.
 * new_root must not be registered. */
bool rebuild_tree(std::unique_ptr<DataObject> new_root, int scope, bool natural);

/* True when obj's name boots on the server as an object of objclass (""
 * for any class).  A name that does not contain the server's form of the
 * name is replaced by that form.  obj is written after the wait, so it must
 * be one the caller owns and has not registered (a new root): no report or
 * rebuild during the wait can delete it. */
bool is_valid_object(DataObject* obj, const char* objclass);

#endif /* TREE_BUILD_TREE_H */
