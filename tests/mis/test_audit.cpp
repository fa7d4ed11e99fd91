// The audit trail (--audit FILE): one line for every write carried out or refused, the modes of
// the files the server makes, and set's expected values, which refuse a lost update.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <regex>
#include <sstream>

#include "server_test.h"

using namespace qxtest;

namespace {

const std::string RACK_NEW = LEEDS + "/equipmentId=\"rack-audit\"";

std::vector<json> audit_lines(const std::string& path)
{
    std::vector<json> out;
    std::istringstream in(read_file(path));
    for (std::string line; std::getline(in, line);) out.push_back(json::parse(line, nullptr, false));
    return out;
}

unsigned mode_of(const std::string& path)
{
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? st.st_mode & 0777 : 01000;
}

} // namespace

// Each write, by users of each role, carried out or refused, leaves one line naming who, from
// where, what and how it ended; reads and logins leave none, and no password appears.
TEST(Audit, ALineForEveryWriteCarriedOutOrRefused)
{
    TempDir dir;
    const std::string users = dir.path + "/users", trail = dir.path + "/audit.jsonl";
    std::string out;
    ASSERT_EQ(0, MisProcess::add_user(users, "ann", "operator", "ann-pass", out)) << out;
    ASSERT_EQ(0, MisProcess::add_user(users, "bob", "reader", "bob-pass", out)) << out;
    ASSERT_EQ(0, MisProcess::add_user(users, "cy", "admin", "cy-pass", out)) << out;
    mode_t old_mask = umask(022); // what most shells leave
    MisProcess mis;
    bool started = mis.start({"--users", users, "--audit", trail, "--log", dir.path + "/log"});
    umask(old_mask);
    ASSERT_TRUE(started) << mis.failure();
    Client ann(mis.port()), bob(mis.port()), cy(mis.port());
    for (auto [c, who] : {std::pair<Client*, const char*>{&ann, "ann"}, {&bob, "bob"}, {&cy, "cy"}})
        ASSERT_EQ(0, c->error_code("login", {{"user", who}, {"password", std::string(who) + "-pass"}}));
    std::string label_before = attribute_value(ann.result("get", {{"name", LEEDS}}), "x721:userLabel");

    struct Row {
        Client* c;
        const char* user;
        const char* method;
        json params;
        int code;           // 0: carried out
        std::string object; // as the line names it
        json more;          // members the line carries besides
    } rows[] = {
        {&ann, "ann", "set", {{"name", LEEDS}, {"values", {{"userLabel", "audited"}}}}, 0, LEEDS,
         {{"old", {{"x721:userLabel", label_before}}}, {"new", {{"x721:userLabel", "audited"}}}}},
        {&cy, "cy", "create",
         {{"parent", LEEDS}, {"class", "equipmentRack"}, {"values", {{"equipmentId", "rack-audit"}}}},
         0, RACK_NEW, {{"parent", LEEDS}, {"class", "equipmentRack"}}},
        {&ann, "ann", "action", {{"name", LEEDS}, {"action", "selfTest"}, {"parameter", "deep"}}, 0,
         LEEDS, {{"action", "selfTest"}, {"parameter", "deep"}}},
        {&cy, "cy", "delete", {{"name", RACK_NEW}}, 0, RACK_NEW, {{"removed", {RACK_NEW}}}},
        // refused by role, by syntax, for want of the object
        {&bob, "bob", "set", {{"name", LEEDS}, {"values", {{"userLabel", "no"}}}}, -32007, LEEDS, {}},
        {&ann, "ann", "delete", {{"name", RACK1}}, -32007, RACK1, {}},
        {&ann, "ann", "set", {{"name", RACK1}, {"values", {{"administrativeState", "sleepy"}}}},
         -32006, RACK1, {{"new", {{"x721:administrativeState", "sleepy"}}}}},
        {&ann, "ann", "action", {{"name", LEEDS + "/equipmentId=\"none\""}, {"action", "reset"}},
         -32001, LEEDS + "/equipmentId=\"none\"", {{"action", "reset"}}},
    };
    for (auto& r : rows) {
        EXPECT_EQ(r.code, r.c->error_code(r.method, r.params)) << r.method << " " << r.params;
        EXPECT_EQ(0, r.c->error_code("get", {{"name", LEEDS}})); // no line
    }

    std::vector<json> lines = audit_lines(trail);
    ASSERT_EQ(std::size(rows), lines.size()) << read_file(trail);
    const std::regex utc_ms(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z)"),
        address(R"(127\.0\.0\.1:\d+)");
    for (size_t i = 0; i < lines.size(); ++i) {
        const json& l = lines[i];
        const Row& r = rows[i];
        EXPECT_TRUE(std::regex_match(l.value("time", ""), utc_ms)) << l;
        EXPECT_TRUE(std::regex_match(l.value("address", ""), address)) << l;
        EXPECT_EQ(r.user, l["user"]) << l;
        EXPECT_EQ(r.method, l["method"]) << l;
        EXPECT_EQ(r.object, l["object"]) << l;
        if (r.code == 0)
            EXPECT_EQ("ok", l["result"]) << l;
        else
            EXPECT_EQ(r.code, l["result"]["code"]) << l;
        for (auto& [k, v] : r.more.items()) EXPECT_EQ(v, l[k]) << k << " in " << l;
    }
    EXPECT_EQ("rack-audit", lines[1]["new"]["x721:equipmentId"]) << lines[1];
    EXPECT_NE(std::string::npos, lines[4]["result"]["message"].get<std::string>().find("bob"));
    std::string text = read_file(trail);
    for (const char* secret : {"ann-pass", "bob-pass", "cy-pass", "login"})
        EXPECT_EQ(std::string::npos, text.find(secret)) << secret;

    // Only the owner may read what the server writes, whatever the umask.
    for (const char* f : {"audit.jsonl", "log"})
        EXPECT_EQ(0600u, mode_of(dir.path + "/" + f)) << f;
    for (const char* f : {"mis.db", "mis.db-wal", "mis.db-shm"})
        EXPECT_EQ(0600u, mode_of(mis.folder() + "/" + f)) << f;
    EXPECT_NE(std::string::npos, read_file(dir.path + "/log").find("logged in as ann"));
}

// An audit file that others may read is refused, and the server does not start.
TEST(Audit, RefusesAFileOthersMayRead)
{
    TempDir dir;
    const std::string trail = dir.path + "/audit.jsonl";
    std::ofstream(trail) << "";
    chmod(trail.c_str(), 0644);
    std::string out;
    EXPECT_EQ(1,
              MisProcess::run(
                  {"--db", dir.path + "/m.db", "--listen", "127.0.0.1:0", "--audit", trail}, out));
    EXPECT_NE(std::string::npos, out.find("must be 0600")) << out;
}

// set with "expect": refused with nothing written when a value differs from what the client
// read; accepted when they agree (in the syntax's canonical form) or when no expect is sent.
TEST(Audit, ExpectedValuesRefuseALostUpdate)
{
    TempDir dir;
    const std::string trail = dir.path + "/audit.jsonl";
    MisProcess mis(dir.path, {"--audit", trail});
    Client c(mis.port());
    c.result("set", {{"name", RACK1}, {"values", {{"userLabel", "A"}, {"locationName", "L"}, {"administrativeState", "unlocked"}}}});
    struct {
        const char* what;
        json values, expect;
        int code;
        const char* label, *location; // on the server afterwards
    } rows[] = {
        {"agrees", {{"userLabel", "B"}}, {{"userLabel", "A"}}, 0, "B", "L"},
        {"absent", {{"userLabel", "C"}}, nullptr, 0, "C", "L"},
        {"differs: nothing written", {{"userLabel", "D"}, {"locationName", "M"}},
         {{"locationName", "L"}, {"x721:userLabel", "B"}}, -32017, "C", "L"},
        {"canonical form", {{"locationName", "N"}}, {{"administrativeState", " UNLOCKED "}}, 0,
         "C", "N"},
        {"unknown attribute", {{"userLabel", "E"}}, {{"nosuch", "1"}}, -32002, "C", "N"},
    };
    for (auto& r : rows) {
        json params = {{"name", RACK1}, {"values", r.values}};
        if (!r.expect.is_null()) params["expect"] = r.expect;
        json reply = c.call("set", params);
        json now = c.result("get", {{"name", RACK1}});
        EXPECT_EQ(r.code, reply.contains("error") ? reply["error"]["code"].get<int>() : 0)
            << r.what << ": " << reply;
        EXPECT_EQ(r.label, attribute_value(now, "x721:userLabel")) << r.what;
        EXPECT_EQ(r.location, attribute_value(now, "m3100:locationName")) << r.what;
        if (r.code == -32017) {
            EXPECT_EQ(json({{"attribute", "x721:userLabel"}, {"value", "C"}}),
                      reply["error"]["data"]);
            std::string m = reply["error"]["message"];
            EXPECT_NE(std::string::npos, m.find("x721:userLabel")) << m;
            EXPECT_NE(std::string::npos, m.find("\"C\"")) << m;
        }
    }
    // Without users the lines name no user; the refused set is among them.
    std::vector<json> lines = audit_lines(trail);
    ASSERT_EQ(std::size(rows) + 1, lines.size());
    EXPECT_EQ("", lines[0]["user"]);
    EXPECT_EQ(-32017, lines[3]["result"]["code"]);
}
