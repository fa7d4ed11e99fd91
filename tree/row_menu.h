/*
 * row_menu.h - commands on the navigator's rows from the mouse and the
 * keyboard.  PUBLIC HEADER for app/ (which installs them once the main
 * window exists) and tests.
 *
 * The third mouse button over a row pops up a menu with Get..., Create...,
 * Delete and the actions of the row's object.  The row is selected first,
 * alone, unless it already belongs to the selection, and every item then
 * does what the main window's own item does for that selection: the menu
 * only reaches the main window's commands, it has none of its own.  The
 * Delete key, pressed while the keyboard focus is in the navigator, does
 * Edit > Delete; in the path line it stays the text field's own key.
 *
 * EVENT-LOOP RULE: selecting the row rebuilds the Action menu and so waits
 * for the server; row_menu_for re-checks CurrentCookie after that wait and
 * posts nothing when the tree was rebuilt.  The items' commands wait as the
 * main window's items do.
 */
#ifndef TREE_ROW_MENU_H
#define TREE_ROW_MENU_H

#include <X11/Intrinsic.h>

class DataObject;

/* Makes the popup menu mw_row_menu and hooks the third button and the
 * Delete key to the navigator of the main window.  Once. */
void install_row_commands();

/* The object whose row is under a button event on the navigator (the event
 * as the navigator receives it), or null over no row. */
DataObject* object_at_event(Widget outline, const XButtonEvent* event);

/* Selects obj for the menu (waits) and fills the menu for it; returns the
 * menu ready to post, or null when nothing is to be posted (no menu, or the
 * tree was rebuilt during the wait). */
Widget row_menu_for(DataObject* obj);

/* Edit > Delete for the Delete key. */
void delete_key_pressed();

#endif /* TREE_ROW_MENU_H */
