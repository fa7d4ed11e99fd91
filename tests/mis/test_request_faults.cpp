// Request lines that attack the request handler itself: text that is no request, nesting past
// the limit, ids that cannot be echoed, numbers out of range, batches, and lines that would
// flood the log. Each test ends with the server still answering an ordinary request.
#include <algorithm>
#include <functional>
#include <map>

#include <gtest/gtest.h>

#include "server_test.h"

using namespace qxtest;

namespace {

std::string nest(size_t depth)
{
    return std::string(depth, '[') + std::string(depth, ']');
}

class Faults : public ServerTest {
protected:
    // Sends the line and then an ordinary request; returns the replies that came before the
    // ordinary one's (requests are answered in order, so none means the line got none).
    std::vector<json> replies_to(const std::string& line)
    {
        c.send_raw(line + "\n" + request_line("probe", "get", {{"name", "/"}}));
        std::vector<json> out;
        for (;;) {
            json j = c.next(10000);
            if (j.is_null()) {
                ADD_FAILURE() << "no reply to the probe after " << line.substr(0, 120);
                return out;
            }
            if (j.contains("method")) continue; // a notification
            if (j.is_object() && j.value("id", json()) == "probe") return out;
            out.push_back(j);
        }
    }

    std::string user_label(const std::string& name)
    {
        return attribute_value(c.result("get", {{"name", name}}), "x721:userLabel");
    }
};

const int RESULT = 0, NO_REPLY = 1;
const std::string MDR = "/systemId=\"localhost\"/metaName=\"MDR\"";

} // namespace

// Every line gets exactly the answer of its row, and none is carried out in part: a line of
// ~180 KB nested 90,000 deep once overflowed the server's stack while the value was copied;
// an id that is an object, array or boolean was carried out and answered with id null;
// 4294967297 was taken as subscription 1 (the number wrapped to 32 bits).
TEST_F(Faults, MalformedLinesGetTheirOwnAnswerAndCostNothing)
{
    const std::string deep = nest(90000);
    const std::string rq = R"({"jsonrpc":"2.0",)";
    const std::string get = R"("method":"get","params":{"name":)";
    const std::string set_rack = R"("method":"set","params":{"name":)" + json(RACK1).dump() + ",";
    const std::string hello = R"("method":"hello","params":{"extra":)";
    const std::string unsub = R"("method":"unsubscribe","params":{"subscription":)";
    struct Row {
        std::string line;
        int code; // an error code, RESULT or NO_REPLY
        json id;
    };
    std::vector<Row> rows = {
        {"this is not json", -32700, nullptr},
        {rq + R"("id":1,"method":)", -32700, nullptr},
        {rq + R"("id":2,"params":{}})", -32600, 2},
        {R"({"id":2,"method":"get"})", -32600, 2},
        {rq + R"("id":3,"method":17})", -32600, 3},
        {rq + R"("id":4,"method":"teleport"})", -32601, 4},
        {rq + R"("id":5,)" + get + R"(null}})", -32602, 5},
        {rq + R"("id":5,"method":"get","params":[1]})", -32602, 5},
        {rq + R"("id":5,"method":"get","params":{}})", -32602, 5},
        {rq + R"("id":6,)" + set_rack + R"("values":{"userLabel":[1]}}})", -32602, 6},
        // text that is not UTF-8 inside a string is refused as JSON, never crashes a reply
        {rq + R"("id":5,)" + get + "\"/\xff\"}}", -32700, nullptr},
        // nesting: a bare array half a million deep is parsed and freed without recursion;
        // the request object is the first level, and 64 are allowed
        {nest(400000), -32600, nullptr},
        {rq + R"("id":1,)" + get + deep + "}}", -32602, 1},
        {rq + R"("id":)" + deep + "," + get + R"("/"}})", -32600, nullptr},
        {rq + get + deep + "}}", NO_REPLY, nullptr},
        {rq + R"("id":4,)" + set_rack + R"("values":{"userLabel":)" + deep + "}}}", -32602, 4},
        {rq + R"("id":5,"method":)" + deep + "}", -32600, 5},
        {rq + R"("id":7,)" + hello + nest(62) + "}}", RESULT, 7},
        {rq + R"("id":8,)" + hello + nest(63) + "}}", -32602, 8},
        {rq + R"("id":9,"method":"hello","extra":)" + nest(63) + "}", RESULT, 9},
        {rq + R"("id":10,"method":"hello","extra":)" + nest(64) + "}", -32600, 10},
        // brackets inside strings are text, not nesting: an ordinary bad name
        {rq + R"("id":11,)" + get + json(std::string(9000, '[')).dump() + "}}", -32011, 11},
        // the repository object answers a get, but nothing is searched below it
        {rq + R"("id":13,"method":"search","params":{"base":)" + json(MDR).dump() + "}}", -32001,
         13},
        // a request without id is carried out but not answered
        {rq + R"("method":"set","params":{"name":)" + json(LEEDS).dump() +
             R"(,"values":{"userLabel":"silent"}}})",
         NO_REPLY, nullptr},
        // the ids the protocol allows are echoed as sent
        {rq + R"("id":"s-1",)" + get + R"("/"}})", RESULT, "s-1"},
        {rq + R"("id":12,)" + get + R"("/"}})", RESULT, 12},
        {rq + R"("id":null,)" + get + R"("/"}})", RESULT, nullptr},
        {rq + R"("id":"x",)" + unsub + R"("1"}})", -32602, "x"},
    };
    for (const char* id : {R"({"n":1})", "[2]", "true", "false", "{}", "[]"})
        rows.push_back({rq + R"("id":)" + id + "," + set_rack + R"("values":{"userLabel":"bad"}}})",
                        -32600, nullptr});
    for (const char* n : {"4294967297", "18446744073709551617", "18446744073709551615",
                          "-4294967295", "0", "-1", "1.5", "1.0", "1e300", "\"1\"", "true"})
        rows.push_back({rq + R"("id":1,)" + unsub + n + "}}", -32602, 1});

    ASSERT_EQ(
        c.result("derive", {{"derivation", LEEDS + "/*"}, {"subscribe", true}})["subscription"], 1);
    const std::string label = user_label(RACK1);
    for (auto& row : rows) {
        SCOPED_TRACE(row.line.substr(0, 100));
        auto r = replies_to(row.line);
        if (row.code == NO_REPLY) {
            EXPECT_TRUE(r.empty());
            continue;
        }
        ASSERT_EQ(r.size(), 1u);
        EXPECT_EQ(r[0]["id"], row.id);
        if (row.code == RESULT)
            EXPECT_TRUE(r[0].contains("result")) << r[0].dump();
        else
            EXPECT_EQ(r[0]["error"]["code"], row.code) << r[0].dump();
    }
    EXPECT_EQ(user_label(RACK1), label);
    EXPECT_EQ(user_label(LEEDS), "silent");
    // subscription 1 is still there, and still the client's to drop
    EXPECT_EQ(c.result("unsubscribe", {{"subscription", 1}})["subscription"], 1);
    EXPECT_EQ(c.error_code("unsubscribe", {{"subscription", 2147483647}}), -32013);
    EXPECT_TRUE(mis.alive());
}

// Bad lines used to be logged whole: one test run wrote 18 MB of log.
TEST_F(Faults, BadLinesAreLoggedAsABoundedPrefix)
{
    size_t before = mis.log().size();
    std::string big(100000, 'x');
    std::vector<std::string> lines = {
        "not json " + big,
        R"({"jsonrpc":"2.0","id":1,"method":"get","params":{"name":"/systemId=)" + big + R"("}})",
        R"({"jsonrpc":"2.0","id":2,"method":")" + big + R"("})",
        R"({"jsonrpc":"2.0","id":3,"method":"derive","params":{"derivation":"/)" + big + R"(/*"}})",
        R"({"jsonrpc":"2.0","id":4,"method":"hello","params":{"client":"\nxxx)" + big + R"("}})",
    };
    for (int round = 0; round < 4; ++round)
        for (auto& l : lines) EXPECT_EQ(replies_to(l).size(), 1u);
    std::string log = mis.log().substr(before);
    EXPECT_LT(log.size(), 20 * 1024u) << log.substr(0, 2000);
    EXPECT_NE(log.find("bytes)"), std::string::npos) << log.substr(0, 2000); // tells the length
    // one line per event: the newline inside the client's name does not break it
    EXPECT_EQ(log.find("\nxxx"), std::string::npos);
}

// 100 subscriptions with 600 KB filters took 354 MB and made every set beneath them 90 times
// slower. A client holds at most 100,000 subscriptions and 1000 different filters among them
// (subscriptions with the same filter text share it), a filter at most 16 KiB.
TEST_F(Faults, SubscriptionsAndFiltersAreCapped)
{
    // Sends n derivations as batches, the params of the i-th params_of(i); answers the last reply.
    auto subscribe_many = [&](int n, const std::function<json(int)>& params_of) {
        json last;
        for (int from = 0; from < n; from += 1000) {
            json batch = json::array();
            for (int i = from; i < std::min(n, from + 1000); ++i)
                batch.push_back(request(i, "derive", params_of(i)));
            auto r = replies_to(batch.dump());
            if (r.size() != 1 || !r[0].is_array()) return json();
            last = r[0].back();
        }
        return last;
    };
    // A subscription below LEEDS with the filter (userLabel=x<i>).
    auto labelled = [](int i) {
        return json{{"base", LEEDS},
                    {"filter", "(userLabel=x" + std::to_string(i) + ")"},
                    {"subscribe", true}};
    };
    json first = c.result("derive", labelled(0));
    EXPECT_TRUE(subscribe_many(999, [&](int i) { return labelled(i + 1); }).contains("result"));
    EXPECT_TRUE(refused(c.call("derive", labelled(1000)), -32014, "different filters"));
    // a filter already held, no filter, or no subscription: still served; the cap is per client
    json unfiltered = {{"base", LEEDS}, {"subscribe", true}}, unsubscribed = labelled(1000);
    unsubscribed.erase("subscribe");
    for (json params : {labelled(7), unfiltered, unsubscribed})
        EXPECT_TRUE(c.call("derive", params).contains("result")) << params.dump();
    Client other(mis.port());
    EXPECT_TRUE(other.result("derive", labelled(1000)).contains("subscription"));
    // the last subscription holding a filter gone, a new filter takes its place
    c.result("unsubscribe", {{"subscription", first["subscription"]}});
    EXPECT_TRUE(c.result("derive", labelled(1000)).contains("subscription"));

    // 100,000 subscriptions, the 1001 above included
    json last = subscribe_many(100000 - 1002, [&](int) { return unfiltered; });
    EXPECT_TRUE(last.contains("result")) << last.dump();
    EXPECT_TRUE(refused(c.call("derive", unfiltered), -32014, "100000"));

    // "(|(userLabel=x)(userLabel=x)...(userLabel=xxx))" of that many bytes, matching nothing
    auto filter_of = [](size_t bytes) {
        std::string f = "(|";
        while (bytes - f.size() > 13 + 100) f += "(userLabel=x)";
        return f + "(userLabel=" + std::string(bytes - f.size() - 13, 'x') + "))";
    };
    EXPECT_EQ(other.result("derive", {{"base", LEEDS}, {"filter", filter_of(16384)}})["count"], 0);
    json huge = {{"base", LEEDS}, {"filter", filter_of(600000)}, {"subscribe", true}};
    json in_string = {{"derivation", LEEDS + "/*/CMISFilter(" + filter_of(16385) + ")"}};
    for (auto params : {json{{"base", LEEDS}, {"filter", filter_of(16385)}}, in_string, huge})
        EXPECT_TRUE(refused(other.call("derive", params), -32014, "16384"));
}

// A JSON array of requests is a batch: one array of answers, in order, one per request with
// an id; none for notifications.
TEST_F(Faults, BatchesAreAnsweredAsOneArray)
{
    std::string label = R"({"jsonrpc":"2.0","method":"set","params":{"name":)" +
                        json(RACK1).dump() + R"(,"values":{"userLabel":"batched"}}})";
    std::string get = R"({"jsonrpc":"2.0","id":1,"method":"get","params":{"name":"/"}})";
    auto r = replies_to("[" + get + "," + label +
                        R"(,5,{"jsonrpc":"2.0","id":"b","method":"fly"},)"
                        R"({"jsonrpc":"2.0","id":{},"method":"get"},[],)" +
                        request("p", "derive", {{"base", LOG}, {"paged", true}}).dump() + "]");
    ASSERT_EQ(r.size(), 1u);
    ASSERT_TRUE(r[0].is_array()) << r[0].dump();
    std::vector<std::pair<json, int>> expected = {
        {1, 0},       {nullptr, -32600}, {"b", -32601}, {nullptr, -32600}, {nullptr, -32600},
        {"p", -32600}}; // a paged derive must be a request of its own
    ASSERT_EQ(r[0].size(), expected.size()) << r[0].dump();
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(r[0][i]["id"], expected[i].first) << i;
        if (expected[i].second == 0)
            EXPECT_TRUE(r[0][i].contains("result")) << i;
        else
            EXPECT_EQ(r[0][i]["error"]["code"], expected[i].second) << i;
    }
    EXPECT_EQ(user_label(RACK1), "batched"); // the notification inside was carried out

    EXPECT_TRUE(replies_to("[" + label + "," + label + "]").empty()); // notifications only
    json big = json::array();
    for (int i = 0; i < 1001; ++i) big.push_back(json::parse(get));
    r = replies_to(big.dump());
    ASSERT_EQ(r.size(), 1u);
    EXPECT_TRUE(refused(r[0], -32600, "1000"));
    EXPECT_TRUE(r[0]["id"].is_null());
}

// A reply carries the request's id as the request wrote it: the parser reads
// 123456789012345678901234567890 as a double, and it came back as 1.2345678901234568e+29,
// 1e-400 as 0.0 and -0 as 0. Answers and refusals (also of a line nested too deep), alone and
// in a batch, and the late answers of action programs. A batch's array waits for the answers of
// its action programs, refusals among them, and a client that leaves first costs nothing.
TEST_F(Faults, IdsComeBackAsWritten)
{
    const std::string test = R"("method":"action","params":{"name":)" + json(PORT1).dump() +
                             R"(,"action":"loopbackTest","parameter":)";
    const std::string action = test + R"("terminal"}})";
    const std::string get = R"("method":"get","params":{"name":"/"}})";
    const std::string fly = R"("method":"fly"})";
    const std::string deep = R"("method":"get","params":{"name":)" + nest(70) + "}}";
    auto request_with = [](const std::string& id, const std::string& body) {
        return R"({"jsonrpc":"2.0", "id" : )" + id + " ," + body;
    };
    auto echoes = [](const std::string& id) { return "\"id\":" + id + ","; };
    const std::string big = "123456789012345678901234567890";
    std::vector<std::string> ids = {
        big,    "-" + big, "18446744073709551616", "-0",        "-0.0", "1e-400",
        "1E+2", "2.50",    "\"caf\\u00e9\"",       "\"a\\/b\"", "\"\"", "7"};
    std::string batch;
    for (auto& id : ids) {
        for (auto& body : {get, fly, deep}) {
            c.send_raw(request_with(id, body) + "\n");
            EXPECT_NE(c.next_text().find(echoes(id)), std::string::npos) << id << " " << body;
        }
        for (auto& body : {get, fly, action})
            batch += (batch.empty() ? "[" : ",") + request_with(id, body);
    }
    batch += "," + request_with("9", test + R"("sideways"}})") + "]\n"; // refused by the program
    Client(mis.port()).send_raw(batch);
    c.send_raw(request_with(ids[0], action) + "\n" + batch);
    EXPECT_NE(c.next_text().find(echoes(ids[0])), std::string::npos) << "the action's answer";
    std::string answer = c.next_text(20000);
    size_t at = 0;
    for (auto& id : ids)
        for (int i = 0; i < 3; ++i, ++at) {
            at = answer.find(echoes(id), at);
            ASSERT_NE(at, std::string::npos) << id << " answer " << i << " of " << answer;
        }
    json answers = json::parse(answer, nullptr, false);
    ASSERT_EQ(answers.size(), 3 * ids.size() + 1) << answer;
    for (size_t i = 0; i < ids.size(); ++i) {
        EXPECT_TRUE(answers[3 * i].contains("result")) << answers[3 * i];
        EXPECT_NE(answers[3 * i + 2]["result"].value("reply", "").find("terminal"),
                  std::string::npos)
            << answers[3 * i + 2];
    }
    EXPECT_EQ(answers.back()["error"]["code"], -32010) << answers.back();
    // the member is found however its name is written
    c.send_raw(R"({"jsonrpc":"2.0","\u0069d":-0,"method":"get","params":{"name":"/"}})" "\n");
    EXPECT_NE(c.next_text().find("\"id\":-0,"), std::string::npos);
}

// A client has at most 16 paged derivations in progress: past them one is refused, and once
// one is cancelled another is taken.  Lines sent together are all handled before a page
// follows, so that none of the 16 ends first.
TEST_F(Faults, PagedDerivationsInProgressAreCapped)
{
    std::string lines;
    auto paged = [&](int id) {
        lines += request_line(id, "derive", {{"base", LOG}, {"paged", true}, {"page_size", 1}});
    };
    for (int i = 1; i <= 16; ++i) paged(i);
    lines += request_line("stop", "cancel", {{"id", 16}});
    paged(17);
    paged(18);
    lines.pop_back();           // replies_to ends the line
    std::map<json, json> first; // the first answer to each id
    for (auto& r : replies_to(lines)) first.emplace(r["id"], r);
    for (int i = 1; i <= 17; ++i) EXPECT_TRUE(first[i].contains("result")) << i;
    EXPECT_EQ(first["stop"]["result"]["stopped"], true) << first["stop"].dump();
    EXPECT_TRUE(refused(first[18], -32014, "at most 16"));
}
