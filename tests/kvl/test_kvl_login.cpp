// KVL logging in to a real qx_mis started with users: the user in the host text, the password
// from QX_PASSWORD_FILE or from the password source (three tries, the refusal passed on), the
// user and role the server answered, and the role's refusals. One server for the whole file;
// failures and successes alternate so the server's slowing of failed logins stays short.
#include <gtest/gtest.h>

#include "kvl/kvl.h"
#include "mis_process.h"
#include "passwords.h"

#include <string>
#include <vector>

using namespace qxtest;

namespace {

const char kLeeds[] = "/systemId=\"leeds-core-1\"";

class KvlLogin : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        dir = new TempDir;
        const std::string users = dir->path + "/users";
        for (auto [name, role] : {std::pair{"bob", "reader"}, {"ann", "operator"}}) {
            std::string out;
            ASSERT_EQ(0, run_program({MisProcess::binary(), "--add-user", name, "--role", role,
                                      "--users", users},
                                     std::string(name) + "-pass\n", out))
                << out;
        }
        mis = new MisProcess;
        ASSERT_TRUE(mis->start({"--users", users})) << mis->failure();
    }
    static void TearDownTestSuite()
    {
        delete mis;
        delete dir;
        unsetenv("QX_PASSWORD_FILE");
    }

    static inline TempDir* dir = nullptr;
    static inline MisProcess* mis = nullptr;
};

TEST_F(KvlLogin, PasswordFileRightWrongUnknownAndReadable)
{
    struct Case {
        const char* what;
        std::string host; // a user@ or qx://user@ before the address
        const char* password;
        mode_t mode;
        const char* user; // as the server answered; null: the connect fails
        const char* role;
        const char* message; // a piece of the error
    } cases[] = {
        {"right", "bob@", "bob-pass", 0600, "bob", "reader", ""},
        {"wrong password", "bob@", "guess", 0600, nullptr, nullptr, "login failed"},
        {"the URL form", "qx://ann@", "ann-pass", 0600, "ann", "operator", ""},
        {"unknown user", "zed@", "bob-pass", 0600, nullptr, nullptr, "as zed: login failed"},
        {"right again", "ann@", "ann-pass", 0600, "ann", "operator", ""},
        {"readable by the group", "bob@", "bob-pass", 0640, nullptr, nullptr, "others can read"},
        {"readable by others", "bob@", "bob-pass", 0604, nullptr, nullptr, "chmod 600"},
        {"no password file nor source", "bob@", nullptr, 0600, nullptr, nullptr, "QX_PASSWORD_FILE"},
        {"no user", "", "bob-pass", 0600, nullptr, nullptr, "USER@"},
        {"an empty user", "@", "bob-pass", 0600, nullptr, nullptr, "names no user"},
    };
    for (const Case& c : cases) {
        password_file(dir->path + "/password", c.password, c.mode);
        Platform p(DataUnit("QX"), DataUnit(""));
        std::string host = c.host;
        if (host.compare(0, 5, "qx://") == 0)
            host += mis->address() + "/";
        else
            host += mis->address();
        bool ok = p.connect(DataUnit(host.c_str()), DataUnit("test"), 30);
        std::string error = p.get_error_string();
        ASSERT_EQ(c.user != nullptr, ok) << c.what << ": " << error;
        EXPECT_EQ(std::string::npos, error.find("-pass")) << c.what << ": " << error;
        if (!ok) {
            EXPECT_NE(std::string::npos, error.find(c.message)) << c.what << ": " << error;
            continue;
        }
        EXPECT_STREQ(c.user, p.get_user().str()) << c.what;
        EXPECT_STREQ(c.role, p.get_role().str()) << c.what;
        Image leeds(DataUnit(kLeeds), DataUnit(), p);
        EXPECT_TRUE(leeds.exists()) << c.what << ": " << leeds.get_error_string();
        p.disconnect();
    }
    EXPECT_EQ(std::string::npos, mis->log().find("-pass"));
}

TEST_F(KvlLogin, PasswordSourceIsAskedUpToThreeTimes)
{
    unsetenv("QX_PASSWORD_FILE");
    const std::string server = "qx://" + mis->address();
    struct Case {
        const char* what;
        std::vector<const char*> answers;
        bool connects;
        size_t asked;
        const char* message;
    } cases[] = {
        {"wrong then right", {"guess", "bob-pass"}, true, 2, ""},
        {"cancel", {nullptr}, false, 1, "cancelled"},
        {"three wrong", {"a", "b", "c", "bob-pass"}, false, 3, "3 passwords refused"},
        {"right at once", {"bob-pass"}, true, 1, ""},
    };
    for (const Case& c : cases) {
        ScriptedSource source;
        source.answers = c.answers;
        kvl_set_password_source(&source);
        Platform p(DataUnit("QX"), DataUnit(""));
        bool ok = p.connect(DataUnit(("bob@" + mis->address()).c_str()), DataUnit("test"), 30);
        kvl_set_password_source(nullptr);
        std::string error = p.get_error_string();
        EXPECT_EQ(c.connects, ok) << c.what << ": " << error;
        ASSERT_EQ(c.asked, source.told.size()) << c.what;
        EXPECT_NE(std::string::npos, error.find(c.message)) << c.what << ": " << error;
        EXPECT_EQ("1/3 bob " + server + " []", source.told[0]) << c.what;
        if (c.asked > 1) {
            EXPECT_EQ("2/3 bob " + server +
                          " [login failed: unknown user or wrong password]",
                      source.told[1])
                << c.what;
        }
        p.disconnect();
    }
}

} // namespace
