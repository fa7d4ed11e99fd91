/*
 * build_tree.h - the first tree at start-up and the check of a root FDN.
 * PUBLIC HEADER.
 *
 * EVENT-LOOP RULE: both wait for the server with the Xt loop running.
 */
#ifndef TREE_BUILD_TREE_H
#define TREE_BUILD_TREE_H

class DataObject;

/* Creates the root from default_root (falling back to "/" when the server
 * does not know it), derives it to default_scope levels and shows them.
 * When the preferences rebuild the tree during the check of the root, that
 * tree stands and this one is dropped. */
void build_tree();

/* True when obj's name boots on the server as an object of objclass (""
 * for any class).  A name that does not contain the server's form of the
 * name is replaced by that form.  obj is written after the wait, so it must
 * be one the caller owns and has not registered (a new root): no report or
 * rebuild during the wait can delete it. */
bool is_valid_object(DataObject* obj, const char* objclass);

#endif /* TREE_BUILD_TREE_H */
