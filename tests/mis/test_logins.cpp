// A server with users: the users file written by qx_mis --add-user, logins before anything
// else, what each role may do, the audit trail's line for each write, and no password in the
// log or the trail.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <map>
#include <regex>
#include <sstream>

#include "server_test.h"

using namespace qxtest;

namespace {

const json set_label = {{"name", LEEDS}, {"values", {{"userLabel", "logins"}}}};
const json create_rack = {
    {"parent", LEEDS}, {"class", "equipmentRack"}, {"values", {{"equipmentId", "rack-login"}}}};
const std::string rack = LEEDS + "/equipmentId=\"rack-login\"";

std::string message(const json& reply)
{
    return reply.contains("error") ? reply["error"]["message"].get<std::string>() : reply.dump();
}

unsigned mode_of(const std::string& path)
{
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? st.st_mode & 0777 : 01000;
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
    EXPECT_EQ(0600u, mode_of(file));

    const std::string trail = dir.path + "/audit.jsonl", log_file = dir.path + "/log";
    mode_t old_mask = umask(022); // what most shells leave
    MisProcess mis;
    bool started = mis.start({"--users", file, "--audit", trail, "--log", log_file});
    umask(old_mask);
    ASSERT_TRUE(started) << mis.failure();
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
    std::string label_before =
        attribute_value(ann.result("get", {{"name", LEEDS}}), "x721:userLabel");
    EXPECT_EQ(0, ann.error_code("set", set_label));
    json refused = bob.call("set", set_label);
    EXPECT_EQ(-32007, refused["error"]["code"]);
    EXPECT_EQ("user bob (reader) may not set: it needs the operator role", message(refused));
    EXPECT_EQ(-32007, ann.error_code("create", create_rack));
    EXPECT_EQ(0, cy.error_code("create", create_rack));
    EXPECT_EQ(-32007, ann.error_code("delete", {{"name", rack}}));
    EXPECT_EQ(0, cy.error_code("delete", {{"name", rack}}));
    EXPECT_EQ(0, ann.error_code("action",
                                {{"name", LEEDS}, {"action", "selfTest"}, {"parameter", "deep"}}));
    EXPECT_EQ(-32006, ann.error_code("set", {{"name", RACK1},
                                             {"values", {{"administrativeState", "sleepy"}}}}));
    const std::string none = LEEDS + "/equipmentId=\"none\"";
    EXPECT_EQ(-32001, ann.error_code("action", {{"name", none}, {"action", "reset"}}));

    // One line in the audit trail for each write, carried out or refused, naming who, from
    // where, what and how it ended; the reads and logins above left none.
    struct Line {
        const char* user;
        const char* method;
        std::string object;
        int code;  // 0: carried out
        json more; // members the line carries besides
    } lines[] = {
        {"ann",
         "set",
         LEEDS,
         0,
         {{"old", {{"x721:userLabel", label_before}}}, {"new", {{"x721:userLabel", "logins"}}}}},
        {"bob", "set", LEEDS, -32007, {}},
        {"ann", "create", LEEDS, -32007, {}},
        {"cy", "create", rack, 0, {{"parent", LEEDS}, {"class", "equipmentRack"}}},
        {"ann", "delete", rack, -32007, {}},
        {"cy", "delete", rack, 0, {{"removed", {rack}}}},
        {"ann", "action", LEEDS, 0, {{"action", "selfTest"}, {"parameter", "deep"}}},
        {"ann", "set", RACK1, -32006, {{"new", {{"x721:administrativeState", "sleepy"}}}}},
        {"ann", "action", none, -32001, {{"action", "reset"}}},
    };
    std::vector<json> written;
    std::istringstream text(read_file(trail));
    for (std::string line; std::getline(text, line);)
        written.push_back(json::parse(line, nullptr, false));
    ASSERT_EQ(std::size(lines), written.size()) << read_file(trail);
    const std::regex utc_ms(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z)"),
        address(R"(127\.0\.0\.1:\d+)");
    for (size_t i = 0; i < written.size(); ++i) {
        const json& w = written[i];
        const Line& l = lines[i];
        EXPECT_TRUE(std::regex_match(w.value("time", ""), utc_ms)) << w;
        EXPECT_TRUE(std::regex_match(w.value("address", ""), address)) << w;
        EXPECT_EQ(l.user, w["user"]) << w;
        EXPECT_EQ(l.method, w["method"]) << w;
        EXPECT_EQ(l.object, w["object"]) << w;
        if (l.code == 0)
            EXPECT_EQ("ok", w["result"]) << w;
        else
            EXPECT_EQ(l.code, w["result"]["code"]) << w;
        for (auto& [k, v] : l.more.items()) EXPECT_EQ(v, w[k]) << k << " in " << w;
    }
    EXPECT_EQ("rack-login", written[3]["new"]["x721:equipmentId"]) << written[3];
    EXPECT_NE(std::string::npos, written[1]["result"]["message"].get<std::string>().find("bob"));
    // Only the owner may read what the server writes, whatever the umask.
    for (const std::string& f : {trail, log_file, mis.folder() + "/mis.db",
                                 mis.folder() + "/mis.db-wal", mis.folder() + "/mis.db-shm"})
        EXPECT_EQ(0600u, mode_of(f)) << f;

    std::string log = read_file(log_file);
    EXPECT_NE(std::string::npos, log.find("logged in as ann (operator) from 127.0.0.1:")) << log;
    EXPECT_NE(std::string::npos, log.find("login as 'zed' from 127.0.0.1:")) << log;
    for (const char* secret : {"guess", "ann-pass", "bob-pass", "cy-pass"}) {
        EXPECT_EQ(std::string::npos, log.find(secret)) << secret;
        EXPECT_EQ(std::string::npos, read_file(trail).find(secret)) << secret;
    }
}

// A users file or an audit trail that others may read is refused, and the server does not start.
TEST(Logins, RefusesAUsersOrAuditFileOthersMayRead)
{
    TempDir dir;
    for (const char* option : {"--users", "--audit"}) {
        std::string file = dir.path + "/open" + option, out;
        ASSERT_EQ("", write_file(file, "# none\n", 0644));
        chmod(file.c_str(), 0644);
        EXPECT_EQ(1,
                  MisProcess::run(
                      {"--db", dir.path + "/m.db", "--listen", "127.0.0.1:0", option, file}, out));
        EXPECT_TRUE(contains(out, "must be 0600")) << option << ": " << out;
    }
}
