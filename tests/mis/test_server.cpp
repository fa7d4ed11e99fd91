// qx_mis over TCP: each operation's answers and refusals, stopping events, the line limit, action
// programs, and the examples of docs/protocol.md.
#include <gtest/gtest.h>

#include <fstream>

#include "server_test.h"

using namespace qxtest;

using Server = ServerTest;

static const std::string MDR = "/systemId=\"localhost\"/metaName=\"MDR\"";

TEST_F(Server, ReadingObjectsAndTheirDescriptions)
{
    json r = c.result("get", {{"name", " / systemId = leeds-core-1 "}});
    EXPECT_EQ(r["name"], LEEDS); // canonical name
    EXPECT_EQ(r["class"], "managedElement");
    ASSERT_GT(r["attributes"].size(), 3u);
    EXPECT_EQ(r["attributes"][0]["name"], "x721:objectClass");
    EXPECT_EQ(r["attributes"][0]["access"], "read-only");
    EXPECT_EQ(r["attributes"][0]["value"], "managedElement");
    // a superclass passes the class check
    EXPECT_EQ(c.result("get", {{"name", RACK1}, {"class", "equipment"}})["name"], RACK1);
    // the repository object answers for any host name
    EXPECT_EQ(c.result("get", {{"name", "/systemId=\"any.host\"/metaName=\"MDR\""}})["class"],
              "metadataRepository");
    EXPECT_EQ(c.result("hello", {{"client", "test"}, {"host", "db7"}})["mdr"],
              "/systemId=\"db7\"/metaName=\"MDR\"");
    std::string d = c.result(
        "action", {{"name", MDR}, {"action", "getObjectClass"}, {"parameter", "shelf"}})["reply"];
    EXPECT_EQ(d.rfind("class shelf\n", 0), 0u) << d;
    json s = c.result("syntax", {{"attribute", "operationalState"}});
    EXPECT_EQ(s["name"], "OperationalState");
    EXPECT_FALSE(s["expansion"].empty());
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
}

// Each refused request gets the error code of its fault and changes nothing: a set with one
// refused value leaves the other values as they were.
TEST_F(Server, RefusedRequestsNameTheirFault)
{
    const json rack = {{"parent", LEEDS}, {"class", "equipmentRack"}};
    auto with = [](json params, const json& more) {
        params.update(more);
        return params;
    };
    struct {
        const char* method;
        json params;
        int code;
    } rows[] = {
        {"get", {{"name", RACK1}, {"class", "shelf"}}, -32004},
        {"get", {{"name", RACK1}, {"class", "cupboard"}}, -32003},
        {"get", {{"name", LEEDS + "/equipmentId=\"rack-99\""}}, -32001},
        {"get", {{"name", "/systemId=\"unterminated"}}, -32011},
        {"derive", {{"derivation", LEEDS + "/*"}, {"class", "log"}}, -32004},
        {"derive", {{"derivation", LEEDS}}, -32012},
        {"derive", {{"derivation", LEEDS + "/*/CMISFilter((nosuch=1))"}}, -32012},
        {"derive", {{"derivation", "/systemId=\"nowhere\"/*"}}, -32001},
        {"derive", {{"base", 7}}, -32602},
        {"validate", {{"attribute", "administrativeState"}, {"value", "sleepy"}}, -32006},
        {"validate", {{"attribute", "nosuch"}, {"value", "1"}}, -32002},
        {"set",
         {{"name", RACK1}, {"values", {{"userLabel", "south"}, {"administrativeState", "x"}}}},
         -32006},
        {"set",
         {{"name", RACK1}, {"values", {{"userLabel", "south"}, {"operationalState", "enabled"}}}},
         -32007},
        {"set", {{"name", RACK1}, {"values", {{"equipmentId", "rack-7"}}}}, -32007},
        {"set", {{"name", RACK1}, {"values", {{"logId", "x"}}}}, -32002},
        {"set", {{"name", RACK1}, {"values", "userLabel=x"}}, -32602},
        {"blank", {{"class", "cupboard"}}, -32003},
        {"create", with(rack, {{"values", {{"equipmentId", "rack-1"}}}}), -32005},
        {"create", with(rack, {{"values", json::object()}}), -32006},
        {"create", with(rack, {{"values", {{"equipmentId", "r"}, {"slotNumber", "1"}}}}), -32002},
        {"create", with(rack, {{"parent", LEEDS + "/equipmentId=\"none\""}}), -32001},
        {"create", with(rack, {{"class", "cupboard"}}), -32003},
        {"create", with(rack, {{"class", "shelf"}, {"values", {{"shelfId", "s"}}}}), -32008},
        {"create", with(rack, {{"class", "equipment"}, {"values", {{"userLabel", "x"}}}}), -32008},
        {"delete", {{"name", LEEDS + "/equipmentId=\"rack-99\""}}, -32001},
        {"delete", {{"name", "/"}}, -32007},
        {"delete", {{"name", "/systemId=\"h\"/metaName=\"MDR\""}}, -32007},
        {"action",
         {{"name", MDR}, {"action", "getObjectClass"}, {"parameter", "cupboard"}},
         -32003},
        {"action", {{"name", RACK1}, {"action", "launch"}}, -32009},
        {"syntax", {{"attribute", "nosuch"}}, -32002},
        {"search", {{"base", LEEDS}, {"filter", "(&(objectClass=rack"}}, -32012},
        {"search", {{"base", LEEDS}, {"filter", "(noSuchAttribute=1)"}}, -32012},
        {"search", {{"base", LEEDS}, {"filter", "(a=" + std::string(17000, 'x') + ")"}}, -32014},
        {"search", {{"base", LEEDS + "/equipmentId=\"rack-99\""}}, -32001},
        {"search", {{"base", LEEDS}, {"depth", -1}}, -32602},
        {"search", {{"base", LEEDS}, {"depth", "2"}}, -32602},
        {"search", {{"base", LEEDS}, {"limit", -1}}, -32602},
        {"search", {{"base", LEEDS}, {"prune", "yes"}}, -32602},
        {"search", {{"base", LEEDS}, {"limit", 100001}}, -32602},
        {"search", {{"filter", "(objectClass=shelf)"}}, -32602},
    };
    json before = c.result("get", {{"name", RACK1}});
    for (auto& row : rows)
        EXPECT_EQ(c.error_code(row.method, row.params), row.code)
            << row.method << " " << row.params.dump().substr(0, 100);
    EXPECT_EQ(c.result("get", {{"name", RACK1}}), before);
    EXPECT_EQ(c.result("derive", {{"derivation", LEEDS + "/*"}})["count"], 3);
}

TEST_F(Server, ChangingValues)
{
    EXPECT_EQ(
        c.result("validate", {{"attribute", "administrativeState"}, {"value", "LOCKED"}})["value"],
        "locked");
    json r = c.result(
        "set", {{"name", RACK1},
                {"values", {{"userLabel", "north rack"}, {"x721:administrativeState", "locked"}}}});
    EXPECT_EQ(r["changed"].size(), 2u);
    // the same values again change nothing
    EXPECT_EQ(
        c.result("set", {{"name", RACK1}, {"values", {{"userLabel", "north rack"}}}})["changed"]
            .size(),
        0u);
    EXPECT_EQ(attribute_value(c.result("get", {{"name", RACK1}}), "x721:userLabel"), "north rack");
    // reset puts read-write values back to their defaults
    c.result("action", {{"name", RACK1}, {"action", "reset"}, {"parameter", ""}});
    EXPECT_EQ(attribute_value(c.result("get", {{"name", RACK1}}), "x721:administrativeState"),
              "unlocked");
    std::string st = c.result("action", {{"name", RACK1}, {"action", "selfTest"}})["reply"];
    EXPECT_NE(st.find("result: passed"), std::string::npos);
}

TEST_F(Server, CreatingAndDeleting)
{
    EXPECT_EQ(c.result("blank", {{"class", "equipmentRack"}})["name"], "NONE");
    json made =
        c.result("create", {{"parent", LEEDS},
                            {"class", "equipmentRack"},
                            {"values", {{"equipmentId", "rack-9"}, {"vendorName", "Acme"}}}});
    std::string rack9 = LEEDS + "/equipmentId=\"rack-9\"";
    EXPECT_EQ(made["name"], rack9);
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

// What a client asked for, it alone can stop: unwatch ends the attribute changes, unsubscribe
// the membership events, and another client cannot drop a subscription. Which changes reach a
// subscription and a watcher is checked through the client library and the filter tests.
TEST_F(Server, UnwatchAndUnsubscribeStopTheirEventsForTheirClientOnly)
{
    Client other(mis.port());
    int mine = c.result("derive", {{"base", LEEDS}, {"subscribe", true}})["subscription"];
    c.result("watch", {{"name", RACK1}});
    EXPECT_EQ(other.error_code("unsubscribe", {{"subscription", mine}}), -32013);
    c.result("unwatch", {{"name", RACK1}});
    c.result("unsubscribe", {{"subscription", mine}});
    other.result("set", {{"name", RACK1}, {"values", {{"userLabel", "unheard"}}}});
    other.result(
        "create",
        {{"parent", LEEDS}, {"class", "equipmentRack"}, {"values", {{"equipmentId", "late"}}}});
    EXPECT_TRUE(c.events().empty());
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

// Each example of docs/protocol.md, sent in order on one connection, ends as the reply shown
// beside it: a request as a result, or an error with that code; a batch (a line that is a JSON
// array) as the same ids in the same order, each a result or an error of that code.
TEST_F(Server, ProtocolDocumentExamplesWork)
{
    std::ifstream in(QX_PROTOCOL_DOC);
    std::vector<std::string> doc;
    for (std::string line; std::getline(in, line);) doc.push_back(line);
    std::vector<json> lines;
    for (auto& line : doc) {
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

    std::string batch;
    int batches = 0;
    for (auto& line : doc) {
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
        ++batches;
    }
    EXPECT_GE(batches, 2);
}
