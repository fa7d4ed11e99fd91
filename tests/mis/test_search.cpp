// search: the objects below a base that a filter accepts, at each depth, in name order, with the
// count and the limit (its refusals are rows of the server's table of refused requests).
#include <gtest/gtest.h>

#include <algorithm>

#include "server_test.h"

using namespace qxtest;
using Search = ServerTest;

TEST_F(Search, DepthsFilterAndOrder)
{
    // Every object below leeds, level by level, as derive lists them.
    std::vector<std::vector<std::string>> levels{{LEEDS}};
    while (!levels.back().empty()) {
        std::vector<std::string> next;
        for (auto& n : levels.back())
            for (auto& k : names_of(c.result("derive", {{"base", n}}))) next.push_back(k);
        levels.push_back(next);
    }
    auto down_to = [&](size_t depth) {
        std::vector<std::string> all;
        for (size_t l = 1; l <= depth && l < levels.size(); l++)
            all.insert(all.end(), levels[l].begin(), levels[l].end());
        std::sort(all.begin(), all.end());
        return all;
    };
    ASSERT_GT(levels.size(), 4u);
    struct {
        json depth;
        std::vector<std::string> want;
    } cases[] = {
        {0, {LEEDS}},
        {1, down_to(1)},
        {3, down_to(3)},
        {nullptr, down_to(levels.size())},
    };
    for (auto& k : cases) {
        json p = {{"base", LEEDS}, {"limit", 100000}};
        if (!k.depth.is_null()) p["depth"] = k.depth;
        json r = c.result("search", p);
        EXPECT_EQ(names_of(r), k.want) << k.depth;
        EXPECT_EQ(r["count"], k.want.size());
        EXPECT_EQ(r["truncated"], false);
    }

    // A filter keeps only what it accepts, at any depth; no match is an empty answer.
    json racks = c.result("search", {{"base", "/"}, {"filter", "(objectClass=equipmentRack)"}});
    ASSERT_GT(racks["count"], 1);
    for (auto& o : racks["objects"]) EXPECT_EQ(o["class"], "equipmentRack");
    auto rack_names = names_of(racks);
    EXPECT_NE(std::find(rack_names.begin(), rack_names.end(), RACK1), rack_names.end());
    json none = c.result("search", {{"base", LEEDS}, {"filter", "(x721:userLabel=no such)"}});
    EXPECT_EQ(none["count"], 0);
    EXPECT_TRUE(none["objects"].empty());
}

TEST_F(Search, LimitCutsTheAnswer)
{
    json all = c.result("search", {{"base", LEEDS}, {"limit", 100000}});
    json cut = c.result("search", {{"base", LEEDS}, {"limit", 5}});
    EXPECT_EQ(cut["count"], all["count"]);
    EXPECT_EQ(cut["truncated"], true);
    auto all_names = names_of(all);
    ASSERT_GT(all_names.size(), 5u);
    std::vector<std::string> first5(all_names.begin(), all_names.begin() + 5);
    EXPECT_EQ(names_of(cut), first5);
    // Without a limit of its own the answer names at most 1000.
    json dflt = c.result("search", {{"base", "/"}});
    EXPECT_EQ(dflt["objects"].size(), std::min<size_t>(1000, dflt["count"].get<size_t>()));
}

// derive and search write their answers as text of their own: each is the very line the JSON
// library would write for it, whatever characters the names hold.
TEST_F(Search, AnswersAreWrittenAsTheLibraryWouldWriteThem)
{
    for (const char* id : {"back\\slash", "quote\"d", "caf\xc3\xa9", "tab\there", "del\x7f"}) {
        json r = c.call("create", {{"parent", LEEDS},
                                   {"class", "equipmentRack"},
                                   {"values", {{"equipmentId", id}}}});
        EXPECT_TRUE(r.contains("result") || r.contains("error")) << id;
    }
    const json requests[] = {
        {{"method", "derive"}, {"params", {{"base", LEEDS}}}},
        {{"method", "derive"}, {"params", {{"base", LEEDS}, {"subscribe", true}}}},
        {{"method", "search"}, {"params", {{"base", LEEDS}, {"depth", 1}, {"limit", 3}}}},
        {{"method", "search"}, {"params", {{"base", LEEDS}, {"depth", 1}}}},
    };
    for (const json& req : requests) {
        json line = req;
        line["jsonrpc"] = "2.0";
        line["id"] = 5;
        c.send_raw(line.dump() + "\n");
        std::string text = c.next_text();
        json parsed = json::parse(text, nullptr, false);
        ASSERT_TRUE(parsed.contains("result")) << text;
        EXPECT_EQ(text, parsed.dump(-1, ' ', false, json::error_handler_t::replace));
    }
}
