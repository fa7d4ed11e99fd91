/*
 * go_to.h - going to an object by its FDN from the path line.  PUBLIC HEADER
 * for app/ (which wires the path line's Return to it) and tests.
 *
 * The user types or pastes an FDN into the path line and presses Return:
 * the navigator opens the object's ancestors, selects the object (alone) and
 * scrolls its row into view.  A name the server does not know or cannot
 * read, or one outside the tree shown, is reported in the status line and
 * changes nothing: the selection and the open folders stay as they were.
 *
 * EVENT-LOOP RULE: go_to_object waits for the server (it boots the named
 * object, opening an ancestor derives it, and selecting rebuilds the Action
 * menu), so any callback may run inside it, the tree rebuild of the
 * preferences included.  It compares CurrentCookie after every wait and
 * stops, touching nothing, when the tree was rebuilt; a second go-to asked
 * for while one waits is dropped.
 */
#ifndef TREE_GO_TO_H
#define TREE_GO_TO_H

#include <X11/Intrinsic.h>
#include <string>
#include <vector>

/* The FDNs of the ancestors of fdn below "/", outermost first, then fdn
 * itself: "/a=1/b=\"x/y\"" gives "/a=1" and "/a=1/b=\"x/y\"".  A '/' inside
 * a quoted value (where a backslash escapes the next character) does not
 * split.  Trailing blanks and a trailing '/' are not removed: the caller
 * passes the server's canonical form. */
std::vector<std::string> fdn_prefixes(const std::string& fdn);

/* Goes to the object named text (loose forms are accepted: the server
 * writes the name in its own form).  True when the object was selected and
 * shown; false after a message in the status line.  Waits. */
bool go_to_object(const char* text);

/* activateCallback of the path line (Return): go_to_object with its text. */
void path_activate_cb(Widget w, XtPointer client, XtPointer call_data);

#endif /* TREE_GO_TO_H */
