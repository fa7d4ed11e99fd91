/*
 * password_file.cpp - the password file QX_PASSWORD_FILE names, read the same
 * way for a directory's bind and for a qx_mis login.
 */
#include "kvl/kvl_private.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <sys/stat.h>

bool kvl_read_password_file(const char* path, KvlSecret& password, std::string& why)
{
    struct stat st;
    if (stat(path, &st) < 0) {
        why = std::string("cannot read the password file ") + path + ": " + std::strerror(errno);
        return false;
    }
    if (st.st_mode & (S_IRWXG | S_IRWXO)) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
        why = std::string("the password file ") + path + " is refused: others can read it (mode " +
              mode + "); make it readable by its owner only (chmod 600)";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        why = std::string("cannot read the password file ") + path + ": " + std::strerror(errno);
        return false;
    }
    /* Room reserved first, so reading leaves no stray copy behind. */
    std::string text;
    text.reserve(4096);
    std::getline(in, text, '\0');
    size_t n = text.size();
    while (n > 0 && (text[n - 1] == '\n' || text[n - 1] == '\r')) n--;
    password.assign(text.data(), n);
    explicit_bzero(&text[0], text.size());
    return true;
}
