/*
 * login.cpp - logging a qx_mis connection in as a user: the password from
 * the password file or the application's password source, the login request
 * and the server's refusals.
 */
#include "kvl/jsonrpc/login.h"

#include "protocol/errors.h"

#include <cstdlib>
#include <cstring>

const int KVL_LOGIN_TRIES = 3;

namespace {

/* One login request with password; r receives the answer. */
void send_login(PlatformImpl& plat, const std::string& user, KvlSecret& password,
                double deadline, KvlReply& r)
{
    json params = {{"user", user}, {"password", std::string(password.data(), password.size())}};
    password.clear();
    Error send_err;
    long id = plat.send("login", params, &send_err);
    std::string& copy = params["password"].get_ref<std::string&>();
    explicit_bzero(&copy[0], copy.size());
    if (!id) {
        r.ok = false;
        r.type = KVL_ERR_DISCONNECTED;
        r.message = send_err.get_error_string();
        return;
    }
    double left = deadline - kvl_now_seconds();
    r = plat.wait(id, left > 0.001 ? left : 0.001, "the login");
}

} // namespace

bool kvl_qx_login(PlatformImpl& plat, const std::string& user, double secs, double& deadline,
                  Error& err)
{
    const std::string server = "qx://" + plat.host_port;
    const std::string what = "cannot log in to " + plat.host_port + " as " + user + ": ";
    const char* password_file = std::getenv("QX_PASSWORD_FILE");
    const bool from_file = password_file && *password_file;
    KvlPasswordSource* source = kvl_password_source();
    if (!from_file && !source) {
        err.set_error(KVL_ERR_CONNECT,
                      (what + "a user needs a password: QX_PASSWORD_FILE names no password file")
                          .c_str());
        return false;
    }
    std::string refusal;
    KvlReply r;
    for (int attempt = 1;; attempt++) {
        KvlSecret password;
        if (from_file) {
            std::string why;
            if (!kvl_read_password_file(password_file, password, why)) {
                err.set_error(KVL_ERR_CONNECT, (what + why).c_str());
                return false;
            }
        } else {
            KvlPasswordRequest request = {user.c_str(), server.c_str(), refusal.c_str(), attempt,
                                          KVL_LOGIN_TRIES};
            bool given = source->ask(request, password);
            deadline = kvl_now_seconds() + secs;
            if (!given) {
                err.set_error(KVL_ERR_CONNECT,
                              (what + "cancelled: no password was given" +
                               (refusal.empty() ? std::string() : " (" + refusal + ")"))
                                  .c_str());
                return false;
            }
            if (!plat.connected) {
                err.set_error(KVL_ERR_CONNECT,
                              (what + "the connection was lost while the password was asked for")
                                  .c_str());
                return false;
            }
        }
        send_login(plat, user, password, deadline, r);
        if (r.ok) break;
        std::string msg = r.message;
        if (r.type == KVL_ERR_TIMEOUT)
            msg = "no answer to the login within " + kvl_format_seconds(secs);
        const bool refused = r.code == protocol::E_LOGIN_FAILED && plat.connected;
        if (!refused || from_file || attempt >= KVL_LOGIN_TRIES) {
            if (refused && !from_file)
                msg += " (" + std::to_string(KVL_LOGIN_TRIES) + " passwords refused)";
            err.set_error(KVL_ERR_CONNECT, (what + msg).c_str(), r.code);
            return false;
        }
        refusal = r.message;
    }
    plat.login_user = user;
    plat.login_role.clear();
    if (r.result.is_object()) {
        if (r.result.contains("user") && r.result["user"].is_string())
            plat.login_user = r.result["user"].get<std::string>();
        if (r.result.contains("role") && r.result["role"].is_string())
            plat.login_role = r.result["role"].get<std::string>();
    }
    return true;
}
