/*
 * login.h - logging a qx_mis connection in as a user.  PRIVATE: the JSON-RPC
 * transport only.
 */
#ifndef KVL_JSONRPC_LOGIN_H
#define KVL_JSONRPC_LOGIN_H

#include "kvl/kvl_private.h"

#include <string>

/* How many passwords the password source may give before the login fails. */
extern const int KVL_LOGIN_TRIES;

/*
 * Logs the open connection in as user (docs/protocol.md, "login") before
 * anything else is sent.  The password comes from the file QX_PASSWORD_FILE
 * names when it is set (one try; the file is refused when others can read
 * it), else from the installed KvlPasswordSource, asked up to KVL_LOGIN_TRIES
 * times with the server's refusal of the previous try.  Sets
 * plat.login_user and plat.login_role from the server's answer.
 * WAITS for the server (plat.wait) and while the source asks; the time-out
 * (secs) starts again after each answer of the source, which deadline
 * receives.  False with err set (KVL_ERR_CONNECT) naming the server, the user
 * and why; the password never appears in it.
 */
bool kvl_qx_login(PlatformImpl& plat, const std::string& user, double secs, double& deadline,
                  Error& err);

#endif /* KVL_JSONRPC_LOGIN_H */
