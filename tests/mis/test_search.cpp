// search: the limit and the count, and answers written as the JSON library would write them (what
// it finds at each depth is checked through the editor's Select; its refusals are rows of the
// server's table of refused requests).
#include <gtest/gtest.h>

#include <algorithm>

#include "server_test.h"

using namespace qxtest;
using Search = ServerTest;

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
