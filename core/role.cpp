/* role.cpp - the commands the connected user's role lets the editor offer. */
#include "core/role.h"

#include <cstring>

/* The highest command each role may use, in the order of RoleCommand's
 * rights: reading (none of them), then Set and actions, then Create and
 * Delete.  -1: the role may use none. */
static int allowed_rank = 2;

static int rank_of(RoleCommand command)
{
    return command == ROLE_SET || command == ROLE_ACTION ? 1 : 2;
}

void set_connection_role(const char* role)
{
    if (role && strcmp(role, "reader") == 0)
        allowed_rank = 0;
    else if (role && strcmp(role, "operator") == 0)
        allowed_rank = 1;
    else
        allowed_rank = 2;
}

bool role_permits(RoleCommand command)
{
    return rank_of(command) <= allowed_rank;
}
