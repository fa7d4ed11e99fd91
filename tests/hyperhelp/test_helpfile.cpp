/* test_helpfile.cpp - the help viewer's file format, its faults, its pages. */
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <unistd.h>
#include <string>

#include "hyperhelp/helpfile.h"

namespace {

const char* const good = "# a comment\n"
                         ".title Sample Help\n"
                         ".topic 10 First\n"
                         "One line\n"
                         "joined.\n"
                         "\n"
                         "See [[20]] and [[20|the second]].\n"
                         "- item one\n"
                         "- item two\n"
                         "  goes on\n"
                         "    indented  as written\n"
                         ".topic 20 Second\n"
                         "Back to [[10|the FIRST one]].\n";

std::string link_text(const HelpPage& p, size_t i)
{
    return p.text.substr(p.links[i].start, p.links[i].end - p.links[i].start);
}

bool has_problem(const HelpFile& f, const std::string& part)
{
    for (const std::string& p : f.problems())
        if (p.find(part) != std::string::npos) return true;
    return false;
}

} // namespace

TEST(HelpFile, ParsesTopicsIntoPagesContentsAndSearch)
{
    HelpFile f;
    f.parse(good, "good.hlp");
    EXPECT_TRUE(f.problems().empty()) << f.problems().front();
    EXPECT_EQ(f.title(), "Sample Help");
    ASSERT_EQ(f.topics().size(), 2u);
    const HelpPage& p = f.topics()[0].page;
    EXPECT_EQ(p.title, "First");
    EXPECT_EQ(p.text,
              "One line joined.\n\nSee Second and the second.\n- item one\n- item two goes on\n"
              "    indented  as written\n");
    ASSERT_EQ(p.links.size(), 2u);
    EXPECT_EQ(link_text(p, 0), "Second"); /* a link without text takes the title */
    EXPECT_EQ(link_text(p, 1), "the second");
    EXPECT_EQ(p.links[1].topic, 20);
    EXPECT_EQ(f.topic_page(20).links.at(0).topic, 10);

    /* an unknown topic gives a page that says so, linked to the first topic */
    HelpPage unknown = f.topic_page(7999);
    EXPECT_NE(unknown.text.find("no topic 7999"), std::string::npos);
    ASSERT_EQ(unknown.links.size(), 1u);
    EXPECT_EQ(unknown.links[0].topic, 10);
    HelpFile empty;
    empty.parse("", "e.hlp");
    EXPECT_NE(empty.topic_page(1).text.find("no topic 1"), std::string::npos);
    EXPECT_TRUE(empty.contents_page().links.empty());

    HelpPage c = f.contents_page();
    EXPECT_EQ(c.title, "Contents"); /* the window puts the file's title before it */
    ASSERT_EQ(c.links.size(), 2u);
    EXPECT_EQ(link_text(c, 1), "Second");

    struct Case {
        const char* term;
        std::vector<int> topics;
    } cases[] = {
        {"first one", {20}},   /* case ignored, in a link's text */
        {"second", {10, 20}},  /* in text and in a title */
        {"  ITEM two ", {10}}, /* blanks around the term ignored */
        {"absent", {}},        {"", {}},
    };
    for (const Case& k : cases) {
        HelpPage s = f.search_page(k.term);
        std::vector<int> got;
        for (const HelpLink& l : s.links) got.push_back(l.topic);
        EXPECT_EQ(got, k.topics) << k.term;
        EXPECT_FALSE(s.text.empty());
    }
}

/* Each damaged file still parses what it can and names the fault's line. */
TEST(HelpFile, DamagedFilesReportTheirFaults)
{
    struct Case {
        std::string text;
        const char* problem;
        size_t topics;
    } cases[] = {
        {"", "no topic in the file", 0},
        {"just some text\n", "d.hlp:1: text before the first .topic", 0},
        {".topic x Bad\ntext\n.topic 1 Good\n", "d.hlp:1: .topic needs a number", 1},
        {".topic 1 A\n.topic 1 B\nhidden\n", "d.hlp:2: topic 1 defined twice", 1},
        {".topic 1\n", "topic 1 has no title", 1},
        {".topic 1 A\nsee [[2|nowhere\n", "d.hlp:2: \"[[\" without \"]]\"", 1},
        {".topic 1 A\nsee [[two]]\n", "needs a topic number", 1},
        {".topic 1 A\nsee [[99]]\n", "d.hlp:2: link to unknown topic 99", 1},
        {".topic 1 A\nbell \x07 here\n", "control character", 1},
        {".topic 1 A\n.include other\n", "unknown directive .include", 1},
        {".topic 1 A\n.title Late\n", ".title after the first topic", 1},
        {std::string("\x00\xff\xfe.topic", 9), "control character", 0},
    };
    for (const Case& c : cases) {
        HelpFile f;
        f.parse(c.text, "d.hlp");
        EXPECT_TRUE(has_problem(f, c.problem)) << c.text;
        EXPECT_EQ(f.topics().size(), c.topics) << c.text;
    }
    HelpFile f;
    f.parse(".topic 1 A\nsee [[2|nowhere\n", "d.hlp");
    EXPECT_EQ(f.topics()[0].page.text, "see [[2|nowhere\n");

    /* Problems come in file order, those of links included. */
    f.parse(".topic 1 A\nsee [[9]]\n.bad\n", "d.hlp");
    ASSERT_EQ(f.problems().size(), 2u);
    EXPECT_EQ(f.problems()[0], "d.hlp:2: link to unknown topic 9");
}

TEST(HelpFile, LoadNamesWhatFailed)
{
    HelpFile f;
    EXPECT_FALSE(f.load("/nonexistent/x.hlp"));
    EXPECT_TRUE(has_problem(f, "/nonexistent/x.hlp: No such file or directory"));
    EXPECT_FALSE(f.load("/tmp"));
    EXPECT_TRUE(has_problem(f, "not a regular file"));
    /* A file past the size limit is not read at all (this one has no blocks). */
    char big[] = "/tmp/helpfile-big.XXXXXX";
    int fd = mkstemp(big);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(0, ftruncate(fd, HelpFile::MAX_SIZE + 1));
    close(fd);
    EXPECT_FALSE(f.load(big));
    EXPECT_TRUE(has_problem(f, std::string(big) + ": larger than 4 MiB"));
    unlink(big);
}

/* The editor's help file: no fault, a topic for each window that asks for
 * one, and every topic reachable from the main window's. */
TEST(HelpFile, ShippedHelpFileIsWhole)
{
    HelpFile f;
    ASSERT_TRUE(f.load(QX_HELP_SOURCE));
    EXPECT_TRUE(f.problems().empty()) << f.problems().front();
    std::vector<int> seen = {7000};
    for (size_t i = 0; i < seen.size(); i++)
        for (const HelpLink& l : f.topic_page(seen[i]).links)
            if (std::find(seen.begin(), seen.end(), l.topic) == seen.end()) seen.push_back(l.topic);
    for (int window : {7000, 7100, 7200, 7300, 7400, 7500, 7600}) EXPECT_TRUE(f.find(window)) << window;
    EXPECT_EQ(seen.size(), f.topics().size());
}
