// Public within qx_mis: the users of a server that asks for a login, their roles, and the
// checking of their passwords.
//
// The users file holds a line for each user, "NAME ROLE HASH", the hash an Argon2id string of
// libsodium's (salt and cost inside it), so the file never holds a password. Only its owner
// may read or write it: a file others can read or write is refused, as ssh refuses such keys.
#pragma once
#include <chrono>
#include <cstddef>
#include <map>
#include <string>

namespace mis {

// What a user may do. Each role may do everything of the ones before it.
enum class Role {
    Reader,   // get, derive, search, subscriptions, syntax and class queries
    Operator, // also set and actions
    Admin,    // also create and delete
};

const char* role_name(Role r);
// The role named name ("reader", "operator", "admin"), or false.
bool parse_role(const std::string& name, Role& out);

struct User {
    std::string name;
    Role role = Role::Reader;
    std::string hash; // Argon2id string, with its salt and cost
};

// Whether name may name a user: 1 to 64 letters, digits, '.', '_', '-' and '@', so that a name
// never holds a blank or a character a log line or the file would have to quote.
bool valid_user_name(const std::string& name);

// The Argon2id string of password, with a new random salt, at libsodium's interactive cost
// (about 64 MiB and a tenth of a second); "" when libsodium cannot (out of memory).
std::string hash_password(const std::string& password);

// Whether password is the one hash was made from. As slow as hash_password, on purpose: the
// server calls it off its event loop (PasswordChecks).
bool verify_password(const std::string& hash, const std::string& password);

// Wipes a password's bytes before its memory is given back.
void wipe(std::string& secret);

class UserFile {
public:
    // Reads the file at path; false, with why naming the file and the fault (its line for a
    // malformed one), when it cannot be read, is open to others, or holds a bad line.
    bool load(const std::string& path, std::string& why);
    // The user named name, or null.
    const User* find(const std::string& name) const;
    size_t size() const { return users_.size(); }

    // Adds name with role and password to the file at path, or replaces the user of that name,
    // creating the file when it is missing. The file is written whole under a temporary name
    // with mode 0600 and renamed over the old one, so a crash leaves the old or the new file,
    // never half of one. False, with why, when name or the file is refused or a write fails.
    static bool add_user(const std::string& path, const std::string& name, Role role,
                         const std::string& password, std::string& why);

private:
    std::map<std::string, User> users_;
};

// Failed logins slow the next attempts: of the same user, from any address, and from the same
// address, for any user, so that guessing one user's password from many addresses and many
// users' from one are both slowed. An attempt waits FIRST_DELAY after one failure, twice as
// long after each further one, at most MAX_DELAY; a success clears its user's and its
// address's count. The table holds at most MAX_KEYS users and addresses: past it the one whose
// last failure is oldest is forgotten.
class LoginThrottle {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds FIRST_DELAY{250};
    static constexpr std::chrono::milliseconds MAX_DELAY{30000};
    static constexpr size_t MAX_KEYS = 100000;

    // How long an attempt by user from address made at now waits before it is checked.
    std::chrono::milliseconds delay(const std::string& user, const std::string& address,
                                    Clock::time_point now) const;
    void failed(const std::string& user, const std::string& address, Clock::time_point now);
    void succeeded(const std::string& user, const std::string& address);
    size_t keys() const { return counts_.size(); }

private:
    struct Count {
        unsigned failures = 0;
        Clock::time_point last;
    };
    std::chrono::milliseconds delay_of(const std::string& key, Clock::time_point now) const;
    void count(const std::string& key, Clock::time_point now);
    void forget_oldest();
    std::map<std::string, Count> counts_; // "u:NAME" and "a:ADDRESS"
};

} // namespace mis
