// qx_mis over TCP: each operation's success and failure, notification routing, bad input
// and limits, action programs, and the examples of docs/protocol.md.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <set>

#include "server_test.h"

using namespace qxtest;

namespace {

using Server = ServerTest;

std::vector<std::string> names_of(const json& derive_result)
{
    std::vector<std::string> out;
    for (auto& o : derive_result["objects"]) out.push_back(o["name"]);
    return out;
}

} // namespace

TEST_F(Server, ReadingObjects)
{
    json r = c.result("get", {{"name", " / systemId = leeds-core-1 "}});
    EXPECT_EQ(r["name"], LEEDS); // canonical name
    EXPECT_EQ(r["class"], "managedElement");
    ASSERT_GT(r["attributes"].size(), 3u);
    EXPECT_EQ(r["attributes"][0]["name"], "x721:objectClass");
    EXPECT_EQ(r["attributes"][0]["access"], "read-only");
    EXPECT_EQ(r["attributes"][0]["value"], "managedElement");
    // class check: the class itself and a superclass pass; another class conflicts
    EXPECT_EQ(c.error_code("get", {{"name", RACK1}, {"class", "equipment"}}), 0);
    EXPECT_EQ(c.error_code("get", {{"name", RACK1}, {"class", "shelf"}}), -32004);
    EXPECT_EQ(c.error_code("get", {{"name", RACK1}, {"class", "cupboard"}}), -32003);
    EXPECT_EQ(c.error_code("get", {{"name", LEEDS + "/equipmentId=\"rack-99\""}}), -32001);
    EXPECT_EQ(c.error_code("get", {{"name", "/systemId=\"unterminated"}}), -32011);
    // the repository object answers for any host name
    EXPECT_EQ(c.result("get", {{"name", "/systemId=\"any.host\"/metaName=\"MDR\""}})["class"],
              "metadataRepository");
    json h = c.result("hello", {{"client", "test"}, {"host", "db7"}});
    EXPECT_EQ(h["mdr"], "/systemId=\"db7\"/metaName=\"MDR\"");
}

TEST_F(Server, DerivingTheFirstLevel)
{
    json r = c.result("derive", {{"derivation", LEEDS + "/*"}});
    EXPECT_EQ(r["count"], 3);
    EXPECT_EQ(names_of(r),
              (std::vector<std::string>{RACK1, LEEDS + "/equipmentId=\"rack-2\"", LOG}));
    json top = c.result("derive", {{"derivation", "/*"}});
    EXPECT_EQ(top["count"], 4); // the four systems; the repository object is not listed
    json big = c.result("derive", {{"base", LOG}});
    EXPECT_GE(big["count"].get<int>(), 100);
    json crit =
        c.result("derive",
                 {{"derivation",
                   LOG + "/*/CMISFilter((&(perceivedSeverity=critical)(objectClass=logRecord)))"}});
    EXPECT_GT(crit["count"].get<int>(), 0);
    EXPECT_LT(crit["count"].get<int>(), big["count"].get<int>());
    for (auto& n : names_of(crit))
        EXPECT_EQ(c.result("get", {{"name", n}})["attributes"][4]["value"].is_string(), true);
    // base class check, bad strings, bad filters
    EXPECT_EQ(c.error_code("derive", {{"derivation", LEEDS + "/*"}, {"class", "log"}}), -32004);
    EXPECT_EQ(c.error_code("derive", {{"derivation", LEEDS}}), -32012);
    EXPECT_EQ(c.error_code("derive", {{"derivation", LEEDS + "/*/CMISFilter((nosuch=1))"}}),
              -32012);
    EXPECT_EQ(c.error_code("derive", {{"derivation", "/systemId=\"nowhere\"/*"}}), -32001);
    EXPECT_EQ(c.error_code("derive", {{"base", 7}}), -32602);
}

TEST_F(Server, ChangingValues)
{
    EXPECT_EQ(
        c.result("validate", {{"attribute", "administrativeState"}, {"value", "LOCKED"}})["value"],
        "locked");
    EXPECT_EQ(c.error_code("validate", {{"attribute", "administrativeState"}, {"value", "sleepy"}}),
              -32006);
    EXPECT_EQ(c.error_code("validate", {{"attribute", "nosuch"}, {"value", "1"}}), -32002);

    json r = c.result(
        "set", {{"name", RACK1},
                {"values", {{"userLabel", "north rack"}, {"x721:administrativeState", "locked"}}}});
    EXPECT_EQ(r["changed"].size(), 2u);
    // the same values again change nothing
    EXPECT_EQ(
        c.result("set", {{"name", RACK1}, {"values", {{"userLabel", "north rack"}}}})["changed"]
            .size(),
        0u);
    // all or nothing: one refused value leaves the other unchanged
    EXPECT_EQ(
        c.error_code("set", {{"name", RACK1},
                             {"values", {{"userLabel", "south"}, {"administrativeState", "x"}}}}),
        -32006);
    EXPECT_EQ(c.error_code("set",
                           {{"name", RACK1},
                            {"values", {{"userLabel", "south"}, {"operationalState", "enabled"}}}}),
              -32007);
    EXPECT_EQ(c.error_code("set", {{"name", RACK1}, {"values", {{"equipmentId", "rack-7"}}}}),
              -32007);
    EXPECT_EQ(c.error_code("set", {{"name", RACK1}, {"values", {{"logId", "x"}}}}), -32002);
    EXPECT_EQ(c.error_code("set", {{"name", RACK1}, {"values", "userLabel=x"}}), -32602);
    EXPECT_EQ(attribute_value(c.result("get", {{"name", RACK1}}), "x721:userLabel"), "north rack");
}

TEST_F(Server, CreatingAndDeleting)
{
    json blank = c.result("blank", {{"class", "equipmentRack"}});
    EXPECT_EQ(blank["name"], "NONE");
    EXPECT_EQ(c.error_code("blank", {{"class", "cupboard"}}), -32003);

    json made =
        c.result("create", {{"parent", LEEDS},
                            {"class", "equipmentRack"},
                            {"values", {{"equipmentId", "rack-9"}, {"vendorName", "Acme"}}}});
    std::string rack9 = LEEDS + "/equipmentId=\"rack-9\"";
    EXPECT_EQ(made["name"], rack9);
    EXPECT_EQ(c.error_code("create", {{"parent", LEEDS},
                                      {"class", "equipmentRack"},
                                      {"values", {{"equipmentId", "rack-9"}}}}),
              -32005);
    EXPECT_EQ(c.error_code("create",
                           {{"parent", LEEDS}, {"class", "shelf"}, {"values", {{"shelfId", "s"}}}}),
              -32008);
    EXPECT_EQ(
        c.error_code("create",
                     {{"parent", LEEDS}, {"class", "equipmentRack"}, {"values", json::object()}}),
        -32006);
    EXPECT_EQ(
        c.error_code("create",
                     {{"parent", LEEDS}, {"class", "equipment"}, {"values", {{"userLabel", "x"}}}}),
        -32008);
    EXPECT_EQ(c.error_code("create", {{"parent", LEEDS + "/equipmentId=\"none\""},
                                      {"class", "equipmentRack"}}),
              -32001);
    EXPECT_EQ(c.error_code("create", {{"parent", LEEDS}, {"class", "cupboard"}}), -32003);
    EXPECT_EQ(c.error_code("create", {{"parent", LEEDS},
                                      {"class", "equipmentRack"},
                                      {"values", {{"equipmentId", "r"}, {"slotNumber", "1"}}}}),
              -32002);

    c.result("create", {{"parent", rack9}, {"class", "shelf"}, {"values", {{"shelfId", "s1"}}}});
    c.result("create", {{"parent", rack9 + "/shelfId=\"s1\""},
                        {"class", "slot"},
                        {"values", {{"slotNumber", "1"}}}});
    c.result("create", {{"parent", rack9}, {"class", "shelf"}, {"values", {{"shelfId", "s2"}}}});
    json gone = c.result("delete", {{"name", rack9}});
    EXPECT_EQ(gone["count"], 4);
    std::vector<std::string> order = gone["names"];
    EXPECT_EQ(order.front(), rack9 + "/shelfId=\"s1\"/slotNumber=1"); // deepest first
    EXPECT_EQ(order.back(), rack9);
    EXPECT_EQ(c.error_code("get", {{"name", rack9 + "/shelfId=\"s2\""}}), -32001);
    EXPECT_EQ(c.error_code("delete", {{"name", rack9}}), -32001);
    EXPECT_EQ(c.error_code("delete", {{"name", "/"}}), -32007);
    EXPECT_EQ(c.error_code("delete", {{"name", "/systemId=\"h\"/metaName=\"MDR\""}}), -32007);
}

TEST_F(Server, ActionsAndSyntaxes)
{
    std::string mdr = "/systemId=\"localhost\"/metaName=\"MDR\"";
    std::string d = c.result(
        "action", {{"name", mdr}, {"action", "getObjectClass"}, {"parameter", "shelf"}})["reply"];
    EXPECT_EQ(d.rfind("class shelf\n", 0), 0u) << d;
    EXPECT_EQ(
        c.error_code("action",
                     {{"name", mdr}, {"action", "getObjectClass"}, {"parameter", "cupboard"}}),
        -32003);
    EXPECT_EQ(c.error_code("action", {{"name", RACK1}, {"action", "launch"}}), -32009);
    std::string st = c.result("action", {{"name", RACK1}, {"action", "selfTest"}})["reply"];
    EXPECT_NE(st.find("result: passed"), std::string::npos);
    // reset puts read-write values back to their defaults
    c.result("set", {{"name", RACK1}, {"values", {{"administrativeState", "locked"}}}});
    c.result("action", {{"name", RACK1}, {"action", "reset"}, {"parameter", ""}});
    EXPECT_EQ(attribute_value(c.result("get", {{"name", RACK1}}), "x721:administrativeState"),
              "unlocked");

    json s = c.result("syntax", {{"attribute", "operationalState"}});
    EXPECT_EQ(s["name"], "OperationalState");
    EXPECT_FALSE(s["expansion"].empty());
    EXPECT_EQ(c.error_code("syntax", {{"attribute", "nosuch"}}), -32002);
}

// The program runs outside the loop: requests sent after it are answered first, and its
// failure and its time limit come back as -32010.
TEST_F(Server, ActionProgramsRunBesideOtherRequests)
{
    c.send_raw(request_line(
        100, "action",
        {{"name", PORT1}, {"action", "loopbackTest"}, {"parameter", "terminal prbs15"}}));
    EXPECT_EQ(c.result("get", {{"name", "/"}})["name"], "/");
    json reply;
    for (int i = 0; i < 10 && reply.is_null(); ++i) {
        if (!c.notes.empty() && c.notes.front().value("id", 0) == 100)
            reply = c.notes.front();
        else
            reply = c.next(2000);
        if (!reply.is_null() && reply.value("id", 0) != 100) reply = json();
    }
    ASSERT_TRUE(reply.contains("result")) << reply.dump();
    std::string text = reply["result"]["reply"];
    EXPECT_NE(text.find(PORT1), std::string::npos);
    EXPECT_NE(text.find("terminal"), std::string::npos);
    json bad =
        c.call("action", {{"name", PORT1}, {"action", "loopbackTest"}, {"parameter", "sideways"}});
    ASSERT_TRUE(bad.contains("error"));
    EXPECT_EQ(bad["error"]["code"], -32010);
    EXPECT_NE(bad["error"]["message"].get<std::string>().find("sideways"), std::string::npos);
}

TEST_F(Server, NotificationsReachOnlyTheirSubscribersAndWatchers)
{
    Client logs(mis.port()), racks(mis.port()), watcher(mis.port()), bystander(mis.port());
    int all =
        logs.result("derive", {{"derivation", LOG + "/*"}, {"subscribe", true}})["subscription"];
    int crit =
        logs.result("derive", {{"derivation", LOG + "/*/CMISFilter((perceivedSeverity=critical))"},
                               {"subscribe", true}})["subscription"];
    int rk =
        racks.result("derive", {{"derivation", LEEDS + "/*"}, {"subscribe", true}})["subscription"];
    watcher.result("watch", {{"name", RACK1}});

    // a new minor alarm: only the log's unfiltered subscription hears of it
    json rec =
        c.result("create", {{"parent", LOG},
                            {"class", "alarmRecord"},
                            {"values", {{"logRecordId", "9001"}, {"perceivedSeverity", "minor"}}}});
    std::string rn = rec["name"];
    auto ev = logs.events();
    ASSERT_EQ(ev.size(), 1u);
    EXPECT_EQ(ev[0]["event"], "OBJECT_CREATED");
    EXPECT_EQ(ev[0]["subscription"], all);
    EXPECT_EQ(ev[0]["name"], rn);
    EXPECT_TRUE(racks.events().empty());
    EXPECT_TRUE(watcher.events().empty());

    // a change that moves the record into no other set reports nothing to subscribers
    c.result("set", {{"name", rn}, {"values", {{"acknowledged", "true"}}}});
    EXPECT_TRUE(logs.events().empty());

    // attribute changes go to the watchers of that object only
    c.result("set", {{"name", RACK1}, {"values", {{"userLabel", "watched"}}}});
    ev = watcher.events();
    ASSERT_EQ(ev.size(), 1u);
    EXPECT_EQ(ev[0]["event"], "ATTR_CHANGED");
    EXPECT_EQ(ev[0]["attribute"], "x721:userLabel");
    EXPECT_EQ(ev[0]["value"], "watched");
    EXPECT_TRUE(logs.events().empty());
    watcher.result("unwatch", {{"name", RACK1}});
    c.result("set", {{"name", RACK1}, {"values", {{"userLabel", "unwatched"}}}});
    EXPECT_TRUE(watcher.events().empty());

    // deleting the log reports each record to the log's subscriptions and the log itself to
    // the system's; the critical subscription hears only of critical records
    size_t records = c.result("derive", {{"base", LOG}})["count"];
    size_t critical =
        c.result("derive", {{"base", LOG}, {"filter", "(perceivedSeverity=critical)"}})["count"];
    c.result("delete", {{"name", LOG}});
    ev = logs.events(800);
    size_t to_all = 0, to_crit = 0;
    for (auto& e : ev) {
        EXPECT_EQ(e["event"], "OBJECT_DESTROYED");
        (e["subscription"] == all ? to_all : to_crit)++;
        if (e["subscription"] == crit) {
            EXPECT_NE(e["name"], rn);
        }
    }
    EXPECT_EQ(to_all, records);
    EXPECT_EQ(to_crit, critical);
    ev = racks.events();
    ASSERT_EQ(ev.size(), 1u);
    EXPECT_EQ(ev[0]["name"], LOG);
    EXPECT_EQ(ev[0]["subscription"], rk);

    // every change also reached every client as raw events, the bystander included
    auto raw = bystander.events(300, true);
    std::set<std::string> kinds;
    for (auto& r : raw) kinds.insert(r["event"]);
    EXPECT_EQ(kinds, (std::set<std::string>{"OBJECT_CREATED", "ATTR_CHANGED", "OBJECT_DESTROYED"}));
    EXPECT_EQ(raw.size(), 1 + 1 + 2 + records + 1);

    // unsubscribing stops the events; another client's subscription cannot be dropped
    EXPECT_EQ(racks.error_code("unsubscribe", {{"subscription", all}}), -32013);
    racks.result("unsubscribe", {{"subscription", rk}});
    c.result(
        "create",
        {{"parent", LEEDS}, {"class", "equipmentRack"}, {"values", {{"equipmentId", "late"}}}});
    EXPECT_TRUE(racks.events().empty());
}

TEST_F(Server, FilteredSubscriptionSeesObjectsEnterAndLeave)
{
    Client sub(mis.port());
    int s = sub.result("derive", {{"base", LEEDS},
                                  {"filter", "(administrativeState=locked)"},
                                  {"subscribe", true}})["subscription"];
    c.result("set", {{"name", RACK1}, {"values", {{"administrativeState", "locked"}}}});
    auto ev = sub.events();
    ASSERT_EQ(ev.size(), 1u);
    EXPECT_EQ(ev[0]["event"], "OBJECT_CREATED");
    EXPECT_EQ(ev[0]["subscription"], s);
    c.result("set", {{"name", RACK1}, {"values", {{"userLabel", "still locked"}}}});
    EXPECT_TRUE(sub.events().empty());
    c.result("set", {{"name", RACK1}, {"values", {{"administrativeState", "unlocked"}}}});
    ev = sub.events();
    ASSERT_EQ(ev.size(), 1u);
    EXPECT_EQ(ev[0]["event"], "OBJECT_DESTROYED");
    // nothing was created or destroyed: the raw events tell only of the value changes
    for (auto& r : sub.events(100, true)) EXPECT_EQ(r["event"], "ATTR_CHANGED");
}

TEST_F(Server, MalformedRequestsAreAnsweredAndCostNothing)
{
    auto reply = [&](const std::string& line) {
        c.send_raw(line + "\n");
        return c.next();
    };
    const std::string get = R"({"jsonrpc":"2.0","id":5,"method":"get","params":)";
    struct {
        std::string line;
        int code;
    } cases[] = {
        {"this is not json", -32700},
        {R"({"jsonrpc":"2.0","id":1,"method":)", -32700},
        {R"({"id":2,"method":"get"})", -32600},
        {R"({"jsonrpc":"2.0","id":3,"method":17})", -32600},
        {R"({"jsonrpc":"2.0","id":4,"method":"teleport"})", -32601},
        {get + "[1]}", -32602},
        {get + "{}}", -32602},
        {get + R"({"name":null}})", -32602},
        {R"({"jsonrpc":"2.0","id":8,"method":"set","params":{"name":"/","values":{"userLabel":[1]}}})",
         -32602},
        // nesting half a million levels deep is parsed and freed without recursion
        {std::string(400000, '[') + std::string(400000, ']'), -32600},
        // text that is not UTF-8 inside a string is refused as JSON, never crashes a reply
        {get + "{\"name\":\"/\xff\"}}", -32700},
    };
    for (auto& k : cases) EXPECT_EQ(reply(k.line)["error"]["code"], k.code) << k.line.substr(0, 80);
    json three = reply("[1,2,3]"); // a batch of three requests, each invalid
    ASSERT_EQ(three.size(), 3u) << three.dump();
    for (auto& e : three) EXPECT_EQ(e["error"]["code"], -32600);
    EXPECT_EQ(
        reply(R"({"jsonrpc":"2.0","id":"x","method":"unsubscribe","params":{"subscription":"1"}})")
            ["id"],
        "x");
    // a request without id is carried out but not answered
    c.send_raw(json{{"jsonrpc", "2.0"},
                    {"method", "set"},
                    {"params", {{"name", RACK1}, {"values", {{"userLabel", "silent"}}}}}}
                   .dump() +
               "\n");
    EXPECT_EQ(attribute_value(c.result("get", {{"name", RACK1}}), "x721:userLabel"), "silent");
    for (auto& n : c.notes) EXPECT_FALSE(n.contains("id")) << n.dump();
}

TEST_F(Server, OverlongLineDisconnectsOnlyThatClient)
{
    Client big(mis.port());
    std::string line = "{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"get\",\"params\":{\"name\":\"" +
                       std::string(1100000, 'a');
    big.send_raw(line);
    EXPECT_TRUE(big.closed());
    EXPECT_NE(mis.log().find("over the size limit"), std::string::npos);
    EXPECT_EQ(c.result("get", {{"name", "/"}})["name"], "/");
}

// Each request example of docs/protocol.md, sent in order on one connection, ends as the
// reply shown beside it (a result, or an error with that code).
TEST_F(Server, ProtocolDocumentExamplesWork)
{
    std::ifstream in(QX_PROTOCOL_DOC);
    std::string line;
    std::vector<json> lines;
    while (std::getline(in, line)) {
        if (line.rfind("    {\"jsonrpc\"", 0) != 0 || line.find("...") != std::string::npos)
            continue;
        json j = json::parse(line, nullptr, false);
        ASSERT_FALSE(j.is_discarded()) << "example is not JSON: " << line;
        lines.push_back(j);
    }
    int checked = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (!lines[i].contains("method") || !lines[i].contains("id")) continue;
        json r = c.call(lines[i]["method"], lines[i]["params"]);
        ASSERT_FALSE(r.is_null()) << lines[i].dump();
        bool shown = i + 1 < lines.size() && !lines[i + 1].contains("method") &&
                     lines[i + 1]["id"] == lines[i]["id"];
        if (shown && lines[i + 1].contains("error"))
            EXPECT_EQ(r["error"]["code"], lines[i + 1]["error"]["code"]) << lines[i].dump();
        else
            EXPECT_TRUE(r.contains("result")) << lines[i].dump() << " -> " << r.dump();
        if (shown && lines[i + 1].contains("result") && lines[i + 1]["result"].is_object())
            for (auto& [k, v] : lines[i + 1]["result"].items())
                if (v.is_string() || v.is_number()) {
                    EXPECT_EQ(r["result"][k], v) << lines[i].dump() << " key " << k;
                }
        ++checked;
    }
    EXPECT_GE(checked, 15);
}

// Each batch example of docs/protocol.md (a line that is a JSON array) is answered as the line
// shown after it: the same ids in the same order, each a result or an error of that code.
TEST_F(Server, ProtocolDocumentBatchExamplesWork)
{
    std::ifstream in(QX_PROTOCOL_DOC);
    std::string line, batch;
    int checked = 0;
    while (std::getline(in, line)) {
        if (line.rfind("    [", 0) == 0 && batch.empty()) {
            batch = line.substr(4);
            continue;
        }
        if (batch.empty() || line.rfind("    ", 0) != 0) continue;
        json shown = json::parse(line.substr(4), nullptr, false);
        ASSERT_FALSE(shown.is_discarded()) << "example is not JSON: " << line;
        c.send_raw(batch + "\n");
        json r = c.next();
        if (shown.is_object()) { // a single error object
            shown = json::array({shown});
            r = json::array({r});
        }
        ASSERT_EQ(r.size(), shown.size()) << batch << " -> " << r.dump();
        for (size_t i = 0; i < shown.size(); ++i) {
            EXPECT_EQ(r[i]["id"], shown[i]["id"]) << batch;
            if (shown[i].contains("error"))
                EXPECT_EQ(r[i]["error"]["code"], shown[i]["error"]["code"]) << batch;
            else
                EXPECT_EQ(r[i]["result"], shown[i]["result"]) << batch;
        }
        batch.clear();
        ++checked;
    }
    EXPECT_GE(checked, 2);
}
