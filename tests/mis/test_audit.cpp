// The audit trail (--audit FILE) and set's expected values, which refuse a lost update. Its lines
// for users of each role, and a trail others may read, are checked with the logins.
#include <gtest/gtest.h>

#include <sstream>

#include "server_test.h"

using namespace qxtest;

namespace {

std::vector<json> audit_lines(const std::string& path)
{
    std::vector<json> out;
    std::istringstream in(read_file(path));
    for (std::string line; std::getline(in, line);) out.push_back(json::parse(line, nullptr, false));
    return out;
}

} // namespace

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
