/*
 * meta_api.h - what the other features may use of the class metadata.
 * PUBLIC HEADER for tree/, config/ and objects/.
 *
 * - Attribute and Attribute::attr_list, the edits pending in the
 *   configuration window: the configuration window (config/) records and
 *   writes them, the tree (tree/) empties them when it loads another object
 *   into the window, the object commands (objects/) drop them at exit;
 * - ClassInfo, the actions and attributes of a class: the Action menu and
 *   the form of a new object (objects/, config/), and the cache that exit
 *   empties.
 *
 * EVENT-LOOP RULE: as in the headers it includes.
 */
#ifndef META_META_API_H
#define META_META_API_H

#include "meta/attribute.h"
#include "meta/class_info.h"

#endif /* META_META_API_H */
