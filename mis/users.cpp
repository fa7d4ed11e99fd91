// The users file, password hashes and the slowing of failed logins (users.h).
#include "users.h"

#include <fcntl.h>
#include <sodium.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

namespace mis {

namespace {

const char* const ROLE_NAMES[] = {"reader", "operator", "admin"};

bool sodium_ready()
{
    static const bool ready = sodium_init() >= 0;
    return ready;
}

std::string errno_text(const std::string& what)
{
    return what + ": " + std::strerror(errno);
}

// One line of the file: "NAME ROLE HASH"; "" or why the line is refused.
std::string parse_line(const std::string& line, User& u)
{
    std::istringstream in(line);
    std::string role, rest;
    if (!(in >> u.name >> role >> u.hash) || (in >> rest))
        return "a line holds a name, a role and a hash";
    if (!valid_user_name(u.name)) return "bad user name '" + u.name + "'";
    if (!parse_role(role, u.role)) return "unknown role '" + role + "'";
    if (u.hash.rfind("$argon2id$", 0) != 0) return "the hash of " + u.name + " is not Argon2id";
    return "";
}

// Writes text to path whole, through a temporary file of mode 0600 renamed over it.
bool write_whole(const std::string& path, const std::string& text, std::string& why)
{
    std::string tmp = path + ".new";
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return why = errno_text("cannot create " + tmp), false;
    bool ok = fchmod(fd, 0600) == 0;
    for (size_t done = 0; ok && done < text.size();) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        if (ok) done += static_cast<size_t>(n);
    }
    ok = ok && fsync(fd) == 0;
    if (!ok) why = errno_text("cannot write " + tmp);
    ::close(fd);
    if (ok && ::rename(tmp.c_str(), path.c_str()) != 0) {
        why = errno_text("cannot rename " + tmp + " to " + path);
        ok = false;
    }
    if (!ok) ::unlink(tmp.c_str());
    return ok;
}

} // namespace

const char* role_name(Role r)
{
    return ROLE_NAMES[static_cast<int>(r)];
}

bool parse_role(const std::string& name, Role& out)
{
    for (int i = 0; i < 3; ++i)
        if (name == ROLE_NAMES[i]) return out = static_cast<Role>(i), true;
    return false;
}

bool valid_user_name(const std::string& name)
{
    if (name.empty() || name.size() > 64) return false;
    return std::all_of(name.begin(), name.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || std::strchr("._-@", c);
    });
}

std::string hash_password(const std::string& password)
{
    char out[crypto_pwhash_STRBYTES];
    if (!sodium_ready() ||
        crypto_pwhash_str(out, password.data(), password.size(),
                          crypto_pwhash_OPSLIMIT_INTERACTIVE,
                          crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0)
        return "";
    return out;
}

bool verify_password(const std::string& hash, const std::string& password)
{
    return sodium_ready() && hash.size() < crypto_pwhash_STRBYTES &&
           crypto_pwhash_str_verify(hash.c_str(), password.data(), password.size()) == 0;
}

void wipe(std::string& secret)
{
    if (!secret.empty()) sodium_memzero(&secret[0], secret.size());
    secret.clear();
}

bool UserFile::load(const std::string& path, std::string& why)
{
    users_.clear();
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return why = errno_text("users file " + path), false;
    struct stat st {};
    bool open_to_others = fstat(fd, &st) == 0 && (st.st_mode & 077);
    ::close(fd);
    if (open_to_others) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 0777));
        why = "users file " + path + " may be read or written by others (mode " + mode +
              "); it must be 0600 (chmod 600 " + path + ")";
        return false;
    }
    std::ifstream in(path);
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        if (line.empty() || line[0] == '#') continue;
        User u;
        std::string bad = parse_line(line, u);
        if (!bad.empty())
            return why = "users file " + path + " line " + std::to_string(number) + ": " + bad,
                   false;
        users_[u.name] = u;
    }
    return true;
}

const User* UserFile::find(const std::string& name) const
{
    auto it = users_.find(name);
    return it == users_.end() ? nullptr : &it->second;
}

bool UserFile::add_user(const std::string& path, const std::string& name, Role role,
                        const std::string& password, std::string& why)
{
    if (!valid_user_name(name))
        return why = "bad user name '" + name + "': 1 to 64 letters, digits, . _ - @", false;
    if (password.empty()) return why = "the password is empty", false;
    UserFile file;
    if (::access(path.c_str(), F_OK) == 0 && !file.load(path, why)) return false;
    User u{name, role, hash_password(password)};
    if (u.hash.empty()) return why = "cannot hash the password (out of memory?)", false;
    file.users_[name] = u;
    std::string text = "# qx_mis users: name, role, Argon2id hash (qx_mis --add-user)\n";
    for (const auto& [n, user] : file.users_)
        text += n + " " + role_name(user.role) + " " + user.hash + "\n";
    return write_whole(path, text, why);
}

std::chrono::milliseconds LoginThrottle::delay_of(const std::string& key,
                                                  Clock::time_point now) const
{
    auto it = counts_.find(key);
    if (it == counts_.end() || it->second.failures == 0) return std::chrono::milliseconds(0);
    unsigned doublings = std::min(it->second.failures - 1, 20u);
    auto wait = std::min(FIRST_DELAY * (1L << doublings), MAX_DELAY);
    auto passed = std::chrono::duration_cast<std::chrono::milliseconds>(now - it->second.last);
    return passed >= wait ? std::chrono::milliseconds(0) : wait - passed;
}

std::chrono::milliseconds LoginThrottle::delay(const std::string& user,
                                               const std::string& address,
                                               Clock::time_point now) const
{
    return std::max(delay_of("u:" + user, now), delay_of("a:" + address, now));
}

void LoginThrottle::count(const std::string& key, Clock::time_point now)
{
    if (!counts_.count(key) && counts_.size() >= MAX_KEYS) forget_oldest();
    Count& c = counts_[key];
    c.failures++;
    c.last = now;
}

void LoginThrottle::forget_oldest()
{
    auto oldest = std::min_element(counts_.begin(), counts_.end(), [](const auto& a, const auto& b) {
        return a.second.last < b.second.last;
    });
    if (oldest != counts_.end()) counts_.erase(oldest);
}

void LoginThrottle::failed(const std::string& user, const std::string& address,
                           Clock::time_point now)
{
    count("u:" + user, now);
    count("a:" + address, now);
}

void LoginThrottle::succeeded(const std::string& user, const std::string& address)
{
    counts_.erase("u:" + user);
    counts_.erase("a:" + address);
}

} // namespace mis
