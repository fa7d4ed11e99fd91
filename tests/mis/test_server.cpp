// qx_mis over TCP: what the client library's suites do not see of the operations, their refusals,
// the line limit, the examples of docs/protocol.md and answers written as the library would.
#include <gtest/gtest.h>

#include <fstream>

#include "server_test.h"

using namespace qxtest;

using Server = ServerTest;
using Search = ServerTest;

static const std::string MDR = "/systemId=\"localhost\"/metaName=\"MDR\"";

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
        {"search", {{"base", LEEDS}, {"values", 1}}, -32602},
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

// What the client library's suites do not see of the plain operations: the repository object
// is not listed among the systems and answers for any host name, reset puts read-write values
// back to their defaults, a delete names what it removed deepest first, and a syntax comes with
// its expansion.
TEST_F(Server, OperationsTheEditorReliesOn)
{
    EXPECT_EQ(c.result("derive", {{"derivation", "/*"}})["count"], 4);
    EXPECT_EQ(c.result("hello", {{"client", "test"}, {"host", "db7"}})["mdr"],
              "/systemId=\"db7\"/metaName=\"MDR\"");
    EXPECT_EQ(c.result("get", {{"name", "/systemId=\"any.host\"/metaName=\"MDR\""}})["class"],
              "metadataRepository");
    c.result("set", {{"name", RACK1}, {"values", {{"administrativeState", "locked"}}}});
    c.result("action", {{"name", RACK1}, {"action", "reset"}, {"parameter", ""}});
    EXPECT_EQ(attribute_value(c.result("get", {{"name", RACK1}}), "x721:administrativeState"),
              "unlocked");
    std::string st = c.result("action", {{"name", RACK1}, {"action", "selfTest"}})["reply"];
    EXPECT_NE(st.find("result: passed"), std::string::npos);

    const std::string rack9 = LEEDS + "/equipmentId=\"rack-9\"", s1 = rack9 + "/shelfId=\"s1\"";
    const std::pair<std::string, json> made[] = {
        {LEEDS, {"equipmentRack", "equipmentId", "rack-9"}},
        {rack9, {"shelf", "shelfId", "s1"}},
        {s1, {"slot", "slotNumber", "1"}},
        {rack9, {"shelf", "shelfId", "s2"}}};
    for (auto& [parent, m] : made)
        c.result("create", {{"parent", parent}, {"class", m[0]}, {"values", {{m[1], m[2]}}}});
    json gone = c.result("delete", {{"name", rack9}});
    EXPECT_EQ(gone["count"], 4);
    EXPECT_EQ(gone["names"].front(), s1 + "/slotNumber=1");
    EXPECT_EQ(gone["names"].back(), rack9);

    json s = c.result("syntax", {{"attribute", "operationalState"}});
    EXPECT_EQ(s["name"], "OperationalState");
    EXPECT_FALSE(s["expansion"].empty());
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

// derive and search write their answers as text of their own: each is the very line the JSON
// library would write for it, whatever characters the names hold. A search with values gives
// each object as a get of it does, with the count and order of the same search without them.
TEST_F(Search, AnswersAreWrittenAsTheLibraryWouldWriteThem)
{
    for (const char* id : {"back\\slash", "quote\"d", "caf\xc3\xa9", "tab\there", "del\x7f"}) {
        json r = c.call(
            "create",
            {{"parent", LEEDS}, {"class", "equipmentRack"}, {"values", {{"equipmentId", id}}}});
        EXPECT_TRUE(r.contains("result") || r.contains("error")) << id;
    }
    const json requests[] = {
        {{"method", "derive"}, {"params", {{"base", LEEDS}}}},
        {{"method", "derive"}, {"params", {{"base", LEEDS}, {"subscribe", true}}}},
        {{"method", "search"}, {"params", {{"base", LEEDS}, {"depth", 1}, {"limit", 3}}}},
        {{"method", "search"}, {"params", {{"base", LEEDS}, {"depth", 1}}}},
        {{"method", "search"}, {"params", {{"base", LEEDS}, {"depth", 1}, {"values", true}}}},
        {{"method", "search"},
         {"params", {{"base", LEEDS}, {"depth", 1}, {"limit", 3}, {"values", true}}}},
    };
    json results[std::size(requests)];
    for (size_t i = 0; i < std::size(requests); ++i) {
        json line = requests[i];
        line["jsonrpc"] = "2.0";
        line["id"] = 5;
        c.send_raw(line.dump() + "\n");
        std::string text = c.next_text();
        json parsed = json::parse(text, nullptr, false);
        ASSERT_TRUE(parsed.contains("result")) << text;
        EXPECT_EQ(text, parsed.dump(-1, ' ', false, json::error_handler_t::replace));
        results[i] = parsed["result"];
    }
    const json &plain = results[2], &full = results[5];
    EXPECT_EQ(full["truncated"], true);
    EXPECT_EQ(plain["count"], full["count"]);
    EXPECT_EQ(names_of(plain), names_of(full));
    for (const json& o : full["objects"])
        EXPECT_EQ(c.result("get", {{"name", o["name"]}}), o) << o["name"];
}
