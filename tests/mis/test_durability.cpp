// What survives a crash, a restart and a clean stop.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <fstream>
#include <set>

#include "mis_process.h"

using namespace qxtest;

namespace {

const std::string LOG = "/systemId=\"york-agg-1\"/logId=\"alarmLog\"";

std::string integrity(const std::string& db)
{
    sqlite3* h = nullptr;
    std::string out = "cannot open";
    if (sqlite3_open_v2(db.c_str(), &h, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(h, "PRAGMA integrity_check", -1, &st, nullptr) == SQLITE_OK &&
            sqlite3_step(st) == SQLITE_ROW)
            out = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
        sqlite3_finalize(st);
    }
    sqlite3_close(h);
    return out;
}

} // namespace

// kill -9 while a client creates objects: every creation that was acknowledged is there after
// a restart, and the database is sound. A restart keeps every change and does not seed again;
// SIGTERM stops the server with 0.
TEST(Durability, AcknowledgedChangesSurviveKillNineAndRestarts)
{
    TempDir dir;
    MisProcess mis(dir.path);
    std::vector<std::string> acked;
    {
        Client c(mis.port());
        for (int i = 0; i < 300; ++i) {
            json r = c.call("create", {{"parent", LOG},
                                       {"class", "alarmRecord"},
                                       {"values",
                                        {{"logRecordId", std::to_string(5000 + i)},
                                         {"additionalText", "crash test"}}}});
            ASSERT_TRUE(r.contains("result")) << r.dump();
            acked.push_back(r["result"]["name"]);
        }
        // more requests in flight when the server dies
        std::string burst;
        for (int i = 0; i < 200; ++i)
            burst += request_line(1000 + i, "create",
                                  {{"parent", LOG},
                                   {"class", "alarmRecord"},
                                   {"values", {{"logRecordId", std::to_string(7000 + i)}}}});
        c.send_raw(burst);
        for (json r = c.next(100); !r.is_null(); r = c.next(0))
            if (r.contains("result")) acked.push_back(r["result"]["name"]);
        mis.stop(SIGKILL);
    }
    EXPECT_EQ(integrity(dir.path + "/mis.db"), "ok");
    ASSERT_TRUE(mis.start()) << mis.failure();
    size_t before;
    {
        Client c(mis.port());
        for (auto& n : acked) EXPECT_EQ(c.error_code("get", {{"name", n}}), 0) << n;
        before = c.result("derive", {{"base", "/"}})["count"];
        c.result("delete", {{"name", "/systemId=\"harrogate-msan-1\""}});
        c.result("set",
                 {{"name", "/systemId=\"york-agg-1\""}, {"values", {{"userLabel", "renamed"}}}});
    }
    int status = mis.stop(SIGTERM);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_NE(mis.log().find("stopping on a signal"), std::string::npos);
    ASSERT_TRUE(mis.start()) << mis.failure();
    Client c(mis.port());
    EXPECT_EQ(c.result("derive", {{"base", "/"}})["count"], before - 1);
    EXPECT_EQ(
        attribute_value(c.result("get", {{"name", "/systemId=\"york-agg-1\""}}), "x721:userLabel"),
        "renamed");
}

TEST(Durability, BadCommandLinesAndFilesStopWithAMessage)
{
    TempDir dir;
    std::string out;
    auto run = [&](const std::vector<std::string>& args) { return MisProcess::run(args, out); };
    EXPECT_EQ(run({"--bogus"}), 2);
    EXPECT_EQ(run({"--listen"}), 2);
    EXPECT_EQ(run({"--listen", "127.0.0.1:99999"}), 2);
    EXPECT_EQ(run({"--simulate", "soon"}), 2);
    EXPECT_EQ(run({"--help"}), 0);
    EXPECT_EQ(run({"--db", dir.path + "/x.db", "--schema", "/nonexistent"}), 1);
    std::ofstream(dir.path + "/bad.txt") << "object /systemId=\"a\" noSuchClass\n";
    EXPECT_EQ(run({"--db", dir.path + "/y.db", "--seed", dir.path + "/bad.txt", "--listen",
                   "127.0.0.1:0"}),
              1);
    EXPECT_NE(out.find("bad.txt:1: unknown class noSuchClass"), std::string::npos) << out;
}

// --simulate makes the network live through the ordinary notification path.
TEST(Simulation, ChangesValuesAndRaisesAlarms)
{
    TempDir dir;
    MisProcess mis(dir.path, {"--simulate", "0.1"});
    Client c(mis.port());
    std::vector<json> raw;
    for (int i = 0; i < 30 && raw.size() < 40; ++i) {
        auto more = c.events(100, true);
        raw.insert(raw.end(), more.begin(), more.end());
    }
    std::set<std::string> kinds;
    for (auto& r : raw) kinds.insert(r["event"]);
    EXPECT_TRUE(kinds.count("ATTR_CHANGED"));
    EXPECT_TRUE(kinds.count("OBJECT_CREATED")); // the alarm record in a log
    EXPECT_TRUE(kinds.count("communicationsAlarm") || kinds.count("equipmentAlarm") ||
                kinds.count("qualityOfServiceAlarm"));
    // every change is a valid value of its syntax: the server still reads its own objects
    for (auto& r : raw)
        EXPECT_EQ(c.error_code("get", {{"name", r["name"]}}) == -32001 &&
                      r["event"] != "OBJECT_DESTROYED",
                  false)
            << r.dump();
}
