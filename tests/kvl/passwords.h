// passwords: where the login tests get a password from, the file QX_PASSWORD_FILE names or a
// password source that answers from a script, for the suites against qx_mis and slapd alike.
#ifndef TESTS_KVL_PASSWORDS_H
#define TESTS_KVL_PASSWORDS_H

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "kvl/kvl.h"

// QX_PASSWORD_FILE names path, written to hold password with the given mode; null: unset.
inline void password_file(const std::string& path, const char* password, mode_t mode = 0600)
{
    if (!password) {
        unsetenv("QX_PASSWORD_FILE");
        return;
    }
    unlink(path.c_str());
    std::ofstream(path) << password << "\n";
    chmod(path.c_str(), mode);
    setenv("QX_PASSWORD_FILE", path.c_str(), 1);
}

// A password source that answers from a script (null: cancel) and keeps what it was told.
struct ScriptedSource : KvlPasswordSource {
    std::vector<const char*> answers;
    std::vector<std::string> told; // "attempt/attempts user server [refusal]"
    bool ask(const KvlPasswordRequest& q, KvlSecret& password) override
    {
        told.push_back(std::to_string(q.attempt) + "/" + std::to_string(q.attempts) + " " +
                       q.bind_dn + " " + q.server + " [" + q.refusal + "]");
        const char* a = told.size() <= answers.size() ? answers[told.size() - 1] : nullptr;
        if (!a) return false;
        password.assign(a, std::strlen(a));
        return true;
    }
};

#endif // TESTS_KVL_PASSWORDS_H
