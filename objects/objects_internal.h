/*
 * objects_internal.h - what the object commands' files share.
 *
 * get_num_objs counts the descendants of an object for the delete
 * confirmation's report.  EVENT-LOOP RULE: it waits for the server (obj's
 * derivation when it has none yet, then one count of the subtree), so server
 * events may remove objects of the tree meanwhile; it reads obj only before
 * its derivation and when the derivation found it again (2 otherwise: the
 * count is 0), never after the count, and gives up the count when the tree
 * is rebuilt (CurrentCookie changes).  obj may also be an unregistered
 * object the caller made for the count.
 */
#ifndef OBJECTS_OBJECTS_INTERNAL_H
#define OBJECTS_OBJECTS_INTERNAL_H

class DataObject;

/* Descendants of obj: its children, theirs, and so on, as deriving level by
 * level with the current filter finds them; -1 when obj's derivation did not
 * start, 0 when the tree was rebuilt during it, obj's known children when
 * the count fails or the tree is rebuilt during it.  Waits. */
int get_num_objs(DataObject* obj);

#endif /* OBJECTS_OBJECTS_INTERNAL_H */
