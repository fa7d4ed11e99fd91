/*
 * role.h - the commands the connected user's role lets the editor offer.
 * PUBLIC HEADER.
 *
 * qx_mis gives a logged-in user a role: a reader may only read, an operator
 * may also set attributes and run actions, an admin may also create and
 * delete.  The windows keep the commands a role may not use insensitive, so
 * a refusal from the server stays the exception.  A directory, and a qx_mis
 * without users, have no roles: every command is offered.
 */
#ifndef CORE_ROLE_H
#define CORE_ROLE_H

enum RoleCommand { ROLE_SET, ROLE_ACTION, ROLE_CREATE, ROLE_DELETE };

/* The role the server answered ("reader", "operator", "admin"); "" or null
 * for none.  A role this editor does not know offers everything: the server
 * still decides. */
void set_connection_role(const char* role);

/* Whether the connection's role may use command. */
bool role_permits(RoleCommand command);

#endif /* CORE_ROLE_H */
