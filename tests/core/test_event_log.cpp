/* The event log: its bound drops the oldest entries, and its filter. */
#include <gtest/gtest.h>

#include "core/event_log.h"

namespace {

TEST(EventLog, KeepsTheLastTenThousandAndTellsWhatWent)
{
    EventLog log;
    size_t dropped = 0;
    std::string last_dropped;
    log.set_listener([&](const EventLog::Entry&, const EventLog::Entry* gone) {
        if (gone) {
            dropped++;
            last_dropped = gone->text;
        }
    });
    for (int i = 0; i <= 10000; i++) log.add(0, "entry " + std::to_string(i));
    ASSERT_EQ(log.size(), 10000u);
    EXPECT_EQ(log.at(0).text, "entry 1");
    EXPECT_EQ(log.at(9999).text, "entry 10000");
    EXPECT_EQ(dropped, 1u);
    EXPECT_EQ(last_dropped, "entry 0");
    log_text("kept", "/x=1");
    EXPECT_EQ("/x=1", event_log().at(0).object);
}

TEST(EventLog, FilterMatchesTextAndObjectIgnoringCase)
{
    EventLog log;
    log.add(0, "ATTR_CHANGED", "/systemId=\"a\"/equipmentId=\"rack1\"");
    log.add(0, "Go to: no object can be found for /x=1");
    log.add(0, "1 object deleted.");
    struct Case {
        const char* filter;
        std::vector<std::string> texts;
    } cases[] = {
        {"", {"ATTR_CHANGED", "Go to: no object can be found for /x=1", "1 object deleted."}},
        {"RACK1", {"ATTR_CHANGED"}},
        {"object", {"Go to: no object can be found for /x=1", "1 object deleted."}},
        {"nothing like this", {}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> got;
        for (const EventLog::Entry* e : log.matching(c.filter)) got.push_back(e->text);
        EXPECT_EQ(got, c.texts) << c.filter;
    }
    EXPECT_NE(EventLog::line(log.at(0)).find("ATTR_CHANGED  (/systemId"), std::string::npos);
}

} // namespace
