/*
 * objects_internal.h - what the object commands' files share.
 *
 * get_num_objs counts the descendants of an object for the delete
 * confirmation's report.  EVENT-LOOP RULE: it waits for the server (one
 * derivation per object below obj), so server events may remove objects of
 * the tree meanwhile; it reads obj only before its first wait and stops
 * counting when the tree is rebuilt (CurrentCookie changes).
 */
#ifndef OBJECTS_OBJECTS_INTERNAL_H
#define OBJECTS_OBJECTS_INTERNAL_H

class DataObject;

/* Descendants of obj: its children, theirs, and so on; -1 when obj's
 * derivation did not start, 0 when the tree was rebuilt meanwhile.  Waits. */
int get_num_objs(DataObject* obj);

#endif /* OBJECTS_OBJECTS_INTERNAL_H */
