// Users, their password hashes, the file that keeps them and the slowing of failed logins.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string>

#include "child_process.h"
#include "password_checks.h"
#include "users.h"

using namespace mis;
using qxtest::TempDir;
using std::chrono::milliseconds;

// One hash serves every case: each costs a tenth of a second on purpose.
TEST(Users, FileKeepsHashesNeverPasswordsAndIsOwnersOnly)
{
    TempDir dir;
    std::string path = dir.path + "/users", why;
    ASSERT_TRUE(UserFile::add_user(path, "ann", Role::Operator, "s3cret pass", why)) << why;
    ASSERT_TRUE(UserFile::add_user(path, "bob", Role::Reader, "other", why)) << why;
    ASSERT_TRUE(UserFile::add_user(path, "ann", Role::Admin, "new one", why)) << why; // replaces
    struct stat st {};
    ASSERT_EQ(0, stat(path.c_str(), &st));
    EXPECT_EQ(0600u, st.st_mode & 0777);
    std::string text = qxtest::read_file(path);
    EXPECT_EQ(std::string::npos, text.find("s3cret")) << text;
    EXPECT_EQ(std::string::npos, text.find("new one")) << text;

    UserFile users;
    ASSERT_TRUE(users.load(path, why)) << why;
    ASSERT_EQ(2u, users.size());
    const User* ann = users.find("ann");
    ASSERT_NE(nullptr, ann);
    EXPECT_EQ(Role::Admin, ann->role);
    EXPECT_TRUE(verify_password(ann->hash, "new one"));
    EXPECT_FALSE(verify_password(ann->hash, "s3cret pass"));
    EXPECT_FALSE(verify_password("$argon2id$garbage", "new one"));
    EXPECT_EQ(nullptr, users.find("carol"));

    // Open to others: refused, and add_user will not rewrite it either.
    chmod(path.c_str(), 0640);
    EXPECT_FALSE(users.load(path, why));
    EXPECT_NE(std::string::npos, why.find("0640")) << why;
    EXPECT_FALSE(UserFile::add_user(path, "carol", Role::Reader, "x", why));
}

TEST(Users, RefusedLinesNamesAndRoles)
{
    TempDir dir;
    const std::string hash = "$argon2id$v=19$m=65536,t=2,p=1$c2FsdA$aGFzaA";
    struct Case {
        std::string text;
        const char* why; // "" for a file that loads
    } cases[] = {
        {"# comment\n\nann reader " + hash + "\n", ""},
        {"ann reader\n", "line 1: a line holds a name, a role and a hash"},
        {"ann reader " + hash + " extra\n", "line 1: a line holds"},
        {"\nann chief " + hash + "\n", "line 2: unknown role 'chief'"},
        {"an;n reader " + hash + "\n", "bad user name"},
        {"ann reader $2y$10$bcrypt\n", "is not Argon2id"},
    };
    for (const Case& c : cases) {
        std::string path = dir.path + "/users", why;
        ASSERT_EQ("", qxtest::write_file(path, c.text, 0600));
        UserFile users;
        EXPECT_EQ(*c.why == 0, users.load(path, why)) << c.text;
        EXPECT_NE(std::string::npos, why.find(c.why)) << why;
    }
    std::string why;
    EXPECT_FALSE(UserFile::add_user(dir.path + "/u2", "has blank", Role::Reader, "x", why));
    EXPECT_FALSE(UserFile::add_user(dir.path + "/u2", "ann", Role::Reader, "", why));
    EXPECT_FALSE(UserFile::add_user(dir.path + "/none/u", "ann", Role::Reader, "x", why));
    EXPECT_NE(std::string::npos, why.find("No such file")) << why;
    Role r;
    EXPECT_TRUE(parse_role("operator", r));
    EXPECT_EQ(Role::Operator, r);
    EXPECT_FALSE(parse_role("Admin", r));
}

TEST(Users, FailedLoginsSlowTheUserAndTheAddress)
{
    LoginThrottle t;
    auto now = LoginThrottle::Clock::now();
    EXPECT_EQ(milliseconds(0), t.delay("ann", "10.0.0.1", now));
    t.failed("ann", "10.0.0.1", now);
    EXPECT_EQ(milliseconds(250), t.delay("ann", "10.0.0.2", now));  // the user, anywhere
    EXPECT_EQ(milliseconds(250), t.delay("bob", "10.0.0.1", now));  // the address, any user
    EXPECT_EQ(milliseconds(0), t.delay("bob", "10.0.0.2", now));
    EXPECT_EQ(milliseconds(150), t.delay("ann", "x", now + milliseconds(100)));
    for (int i = 0; i < 3; ++i) t.failed("ann", "10.0.0.1", now);
    EXPECT_EQ(milliseconds(2000), t.delay("ann", "x", now));
    for (int i = 0; i < 30; ++i) t.failed("ann", "10.0.0.1", now);
    EXPECT_EQ(LoginThrottle::MAX_DELAY, t.delay("ann", "x", now));
    t.succeeded("ann", "10.0.0.1");
    EXPECT_EQ(milliseconds(0), t.delay("ann", "10.0.0.1", now));

    // Bounded: a flood of names keeps the table at its size, forgetting the oldest.
    for (size_t i = 0; i < LoginThrottle::MAX_KEYS; ++i)
        t.failed("u" + std::to_string(i), "10.0.0.9", now + milliseconds(i));
    EXPECT_EQ(LoginThrottle::MAX_KEYS, t.keys());
    EXPECT_EQ(milliseconds(0), t.delay("u0", "y", now + milliseconds(LoginThrottle::MAX_KEYS)));
}

TEST(Users, ChecksRunOffTheCallersThreadWhenDue)
{
    std::string hash = hash_password("right");
    ASSERT_FALSE(hash.empty());
    PasswordChecks checks;
    ASSERT_GE(checks.fd(), 0) << checks.why();
    // A slowed login waits its time without holding up those due before it.
    ASSERT_TRUE(checks.submit(9, hash, "right", PasswordChecks::Clock::now() + std::chrono::seconds(60)));
    ASSERT_TRUE(checks.submit(1, hash, "right"));
    ASSERT_TRUE(checks.submit(2, hash, "wrong"));
    ASSERT_TRUE(checks.submit(3, "", "right")); // no such user: fails like a wrong password
    std::vector<PasswordChecks::Result> got;
    while (got.size() < 3) {
        pollfd p{checks.fd(), POLLIN, 0};
        ASSERT_EQ(1, poll(&p, 1, 20000)) << "no check finished";
        for (auto r : checks.take()) got.push_back(r);
    }
    ASSERT_EQ(3u, got.size());
    EXPECT_TRUE(got[0].ticket == 1 && got[0].ok);
    EXPECT_TRUE(got[1].ticket == 2 && !got[1].ok);
    EXPECT_TRUE(got[2].ticket == 3 && !got[2].ok);
    EXPECT_EQ(1u, checks.pending()); // the slowed one; the end drops it without waiting
}
