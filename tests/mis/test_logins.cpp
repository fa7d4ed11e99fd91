// A server with users: the users file written by qx_mis --add-user, logins before anything
// else, what each role may do, and no password in the log.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <map>

#include "mis_process.h"

using namespace qxtest;

namespace {

const json set_label = {{"name", "/systemId=\"leeds-core-1\""},
                        {"values", {{"userLabel", "logins"}}}};
const json create_rack = {{"parent", "/systemId=\"leeds-core-1\""},
                          {"class", "equipmentRack"},
                          {"values", {{"equipmentId", "rack-login"}}}};
const char rack[] = "/systemId=\"leeds-core-1\"/equipmentId=\"rack-login\"";

std::string message(const json& reply)
{
    return reply.contains("error") ? reply["error"]["message"].get<std::string>() : reply.dump();
}

} // namespace

TEST(Logins, UsersFileRolesAndRefusals)
{
    TempDir dir;
    const std::string file = dir.path + "/users";
    std::string out;
    ASSERT_EQ(0, MisProcess::add_user(file, "ann", "operator", "ann-pass", out)) << out;
    ASSERT_EQ(0, MisProcess::add_user(file, "bob", "reader", "bob-pass", out)) << out;
    ASSERT_EQ(0, MisProcess::add_user(file, "cy", "admin", "cy-pass", out)) << out;
    EXPECT_EQ(2, MisProcess::add_user(file, "dee", "chief", "x", out));
    EXPECT_EQ(2, MisProcess::run({"--add-user", "dee", "--role", "reader"}, out, "x\n"));
    struct stat st {};
    ASSERT_EQ(0, stat(file.c_str(), &st));
    EXPECT_EQ(0600u, st.st_mode & 0777);

    MisProcess mis;
    ASSERT_TRUE(mis.start({"--users", file})) << mis.failure();
    Client ann(mis.port()), bob(mis.port()), cy(mis.port());
    // Nothing before a login; a wrong password and an unknown user read alike.
    EXPECT_EQ(-32015, ann.error_code("get", {{"name", "/"}}));
    json wrong = ann.call("login", {{"user", "ann"}, {"password", "guess"}});
    json nobody = ann.call("login", {{"user", "zed"}, {"password", "guess"}});
    EXPECT_EQ(-32016, wrong["error"]["code"]) << wrong;
    EXPECT_EQ(message(wrong), message(nobody));
    EXPECT_EQ(-32015, ann.error_code("get", {{"name", "/"}}));
    // A login sent as a notification (no id) has nobody to answer: refused unseen, and
    // the server goes on (it once died answering it).
    ann.send_raw("{\"jsonrpc\":\"2.0\",\"method\":\"login\",\"params\":"
                 "{\"user\":\"zed\",\"password\":\"guess\"}}\n");
    EXPECT_EQ(-32015, ann.error_code("get", {{"name", "/"}}));
    json in = ann.result("login", {{"user", "ann"}, {"password", "ann-pass"}});
    EXPECT_EQ(json({{"user", "ann"}, {"role", "operator"}}), in);
    // One login of a connection at a time: a second sent while the first is checked is
    // refused, so that guesses are not checked side by side.
    bob.send_raw(request_line("guess", "login", {{"user", "bob"}, {"password", "guess"}}) +
                 request_line("again", "login", {{"user", "bob"}, {"password", "bob-pass"}}));
    std::map<std::string, json> answers;
    for (int i = 0; i < 2; i++) {
        json r = bob.next(10000);
        answers[r.value("id", "")] = r;
    }
    EXPECT_EQ(-32600, answers["again"]["error"]["code"]) << answers["again"];
    EXPECT_EQ(-32016, answers["guess"]["error"]["code"]) << answers["guess"];
    ASSERT_EQ(0, bob.error_code("login", {{"user", "bob"}, {"password", "bob-pass"}}));
    ASSERT_EQ(0, cy.error_code("login", {{"user", "cy"}, {"password", "cy-pass"}}));
    EXPECT_EQ(-32600, ann.error_code("login", {{"user", "ann"}, {"password", "ann-pass"}}));

    // Each role against each kind of write; reads for all.
    for (Client* c : {&ann, &bob, &cy}) EXPECT_EQ(0, c->error_code("get", {{"name", "/"}}));
    EXPECT_EQ(0, ann.error_code("set", set_label));
    json refused = bob.call("set", set_label);
    EXPECT_EQ(-32007, refused["error"]["code"]);
    EXPECT_EQ("user bob (reader) may not set: it needs the operator role", message(refused));
    EXPECT_EQ(-32007, ann.error_code("create", create_rack));
    EXPECT_EQ(0, cy.error_code("create", create_rack));
    EXPECT_EQ(-32007, ann.error_code("delete", {{"name", rack}}));
    EXPECT_EQ(0, cy.error_code("delete", {{"name", rack}}));

    std::string log = mis.log();
    EXPECT_NE(std::string::npos, log.find("logged in as ann (operator) from 127.0.0.1:")) << log;
    EXPECT_NE(std::string::npos, log.find("login as 'zed' from 127.0.0.1:")) << log;
    for (const char* secret : {"guess", "ann-pass", "bob-pass", "cy-pass"})
        EXPECT_EQ(std::string::npos, log.find(secret)) << secret;
}

// A users file that others may read is refused, and the server does not start.
TEST(Logins, RefusesAUsersFileOthersMayRead)
{
    TempDir dir;
    std::string out;
    std::string users = dir.path + "/users";
    std::ofstream(users) << "# none\n";
    chmod(users.c_str(), 0644);
    EXPECT_EQ(1,
              MisProcess::run(
                  {"--db", dir.path + "/m.db", "--listen", "127.0.0.1:0", "--users", users}, out));
    EXPECT_NE(std::string::npos, out.find("must be 0600")) << out;
}
