/*
 * natural_order.h - the order of siblings in the navigator when the user
 * asks for numbers inside names to sort as numbers ("slot 2" before
 * "slot 10").  PUBLIC HEADER for prefs/ (through tree_api.h) and tests.
 *
 * Off (natural_order false, the default), siblings follow the registry's
 * FDN order.  Nothing here waits for the server.
 */
#ifndef TREE_NATURAL_ORDER_H
#define TREE_NATURAL_ORDER_H

/* Compares two names: runs of decimal digits compare by their value (of any
 * length: no conversion to a machine integer, so a run of a hundred digits
 * is fine), everything else byte by byte as unsigned bytes, which is code
 * point order for UTF-8.  Names equal in that order (such as "a01" and
 * "a1") fall back to strcmp, so only equal names compare equal.  A null
 * name sorts before every other.  Negative, zero or positive as strcmp. */
int natural_compare(const char* a, const char* b);

/* Puts the shown children of every shown object into the order that
 * natural_order asks for and lists the rows again: after the user switched
 * it.  The navigator sorts siblings by natural_compare while natural_order
 * is on (display.cpp). */
void resort_siblings();

#endif /* TREE_NATURAL_ORDER_H */
