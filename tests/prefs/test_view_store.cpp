/*
 * test_view_store.cpp - the files of named views and filters: names of any
 * characters round-trip, a name saved again replaces its record, a damaged or
 * unreadable file is reported and left as it was, and the folder follows
 * XDG_CONFIG_HOME, else HOME.
 */
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "mis_process.h"
#include "prefs/view_store.h"

namespace {

using qxtest::contains;

struct ViewStore : ::testing::Test {
    qxtest::TempDir dir;
    void SetUp() override { setenv("XDG_CONFIG_HOME", dir.path.c_str(), 1); }
};

TEST_F(ViewStore, RoundTripReplaceAndFolder)
{
    RecordFile views("views", 4);
    std::vector<NamedRecord> got;
    std::string why;
    ASSERT_TRUE(views.load(got, why)) << why; // no file yet: no views
    EXPECT_TRUE(got.empty());
    std::vector<NamedRecord> saved = {
        {"plain", {"/", "2", "", "rdn"}},
        {"tab\there, new\nline \\ back\\t slash\r ünï", {"/a=\"x\ty\"", "0", "(a=\\n)", "fdn"}},
        {" leading and trailing ", {"", "", "  (x=1)", "rdn"}},
    };
    for (auto& r : saved) ASSERT_TRUE(views.store(r, why)) << why;
    ASSERT_TRUE(views.load(got, why)) << why;
    ASSERT_EQ(saved.size(), got.size());
    for (size_t i = 0; i < saved.size(); i++) {
        EXPECT_EQ(saved[i].name, got[i].name);
        EXPECT_EQ(saved[i].fields, got[i].fields);
    }
    ASSERT_TRUE(views.store({"plain", {"/b=1", "5", "", "fdn"}}, why));
    ASSERT_TRUE(views.load(got, why));
    ASSERT_EQ(3u, got.size());
    EXPECT_EQ("/b=1", got[0].fields[0]);
    EXPECT_EQ(dir.path + "/tarnwick/views", views.path());

    /* Without XDG_CONFIG_HOME the folder is under HOME. */
    setenv("XDG_CONFIG_HOME", "", 1);
    setenv("HOME", dir.path.c_str(), 1);
    EXPECT_EQ(dir.path + "/.config/tarnwick", RecordFile::folder());
    ASSERT_TRUE(RecordFile("filters", 1).store({"f", {"(a=1)"}}, why)) << why;
    EXPECT_EQ(0, access((dir.path + "/.config/tarnwick/filters").c_str(), R_OK));
}

/* Files as found on disk, read as views of five fields that were four
 * before: older records load with the new field empty; a damaged file is
 * reported with its path, and neither loaded nor written over.  A folder
 * where the file should be is unreadable. */
TEST_F(ViewStore, FilesAsFoundLoadOrAreReportedAndKept)
{
    RecordFile views("views", 5, 4);
    std::string why;
    mkdir((dir.path + "/tarnwick").c_str(), 0700);
    using Fields = std::vector<std::string>;
    struct {
        const char* text;
        std::vector<Fields> loaded; /* none: damaged */
    } cases[] = {
        {"tarnwick views 1\nold\t/\t2\t\trdn\nnew\t/\t1\t\tfdn\tnatural\n",
         {{"/", "2", "", "rdn", ""}, {"/", "1", "", "fdn", "natural"}}},
        {"tarnwick views 1\nx\t/\t2\trdn\n", {}},                  /* narrower than either */
        {"tarnwick views 1\nx\t/\t2\t\trdn\tnatural\tmore\n", {}}, /* wider */
        {"not a view file\n", {}},
        {"tarnwick views 1\nname\t/\t2\n", {}},
        {"tarnwick views 1\nname\t/\t2\t\\q\trdn\n", {}},
        {"tarnwick views 1\n\t/\t2\t\trdn\n", {}},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.text);
        std::ofstream(views.path(), std::ios::binary) << c.text;
        std::vector<NamedRecord> got;
        bool loaded = views.load(got, why);
        ASSERT_EQ(!c.loaded.empty(), loaded) << why;
        if (loaded) {
            ASSERT_EQ(c.loaded.size(), got.size());
            for (size_t i = 0; i < got.size(); i++) EXPECT_EQ(c.loaded[i], got[i].fields);
            continue;
        }
        EXPECT_TRUE(contains(why, "damaged")) << why;
        EXPECT_TRUE(contains(why, views.path())) << why;
        EXPECT_FALSE(views.store({"new", {"/", "1", "", "rdn", ""}}, why));
        EXPECT_EQ(c.text, qxtest::read_file(views.path()));
    }
    unlink(views.path().c_str());
    mkdir(views.path().c_str(), 0700);
    EXPECT_FALSE(views.store({"new", {"/", "1", "", "rdn", ""}}, why));
    EXPECT_TRUE(contains(why, views.path())) << why;
}

} // namespace
