/* Command line, environment and message catalogue of the editor, in process. */
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

#include "app/startup.h"
#include "core/globals.h"

namespace {

/* The globals as the program starts with them. */
struct Defaults {
    char* root = default_root;
    char* scope = default_scope_string;
    char* filter = default_filter;
};
const Defaults initial;

class Arguments : public ::testing::Test {
protected:
    void SetUp() override
    {
        platform_host = nullptr;
        default_root = initial.root;
        default_scope = 2;
        default_scope_string = initial.scope;
        default_filter = initial.filter;
        current_filter = nullptr;
        DeriveTimeout = 300.0;
        file_desc = 0;
        unsetenv("QX_TARN_TIMEOUT");
        unsetenv("QX_SERVER");
    }

    /* Runs get_arguments on "qx_tarn" followed by args; the strings live as
     * long as the test, as argv does in the program. */
    void parse(std::vector<std::string> args)
    {
        store = std::move(args);
        store.insert(store.begin(), "qx_tarn");
        argv.clear();
        for (auto& s : store)
            argv.push_back(&s[0]);
        argv.push_back(nullptr);
        get_arguments((int)store.size(), argv.data());
    }

    std::vector<std::string> store;
    std::vector<char*> argv;
};

TEST_F(Arguments, EveryOptionOfTheTable)
{
    parse({"-fd", "7", "-host", "mis1", "-v", "-root", "/a=1", "-scope", "3",
           "-f", "(x=1)", "-t", "12.5"});
    EXPECT_EQ(file_desc, 7);
    EXPECT_EQ(platform_host, argv[4]) << "the host is the argument itself, not a copy";
    EXPECT_STREQ(default_root, "/a=1");
    EXPECT_EQ(default_scope, 3);
    EXPECT_STREQ(default_scope_string, "3");
    EXPECT_STREQ(default_filter, "(x=1)");
    EXPECT_EQ(current_filter, default_filter);
    EXPECT_EQ(DeriveTimeout, 12.5);
}

TEST_F(Arguments, ShortFormsAndLaterOptionsWin)
{
    parse({"-h", "first", "-r", "/x=1", "-s", "4", "-host", "second", "-root", "/y=2",
           "-scope", "five"});
    EXPECT_STREQ(platform_host, "second");
    EXPECT_STREQ(default_root, "/y=2");
    EXPECT_EQ(default_scope, 0) << "a scope that is no number counts 0";
    EXPECT_STREQ(default_scope_string, "five");
}

TEST_F(Arguments, TimeOutFromTheEnvironment)
{
    struct { const char* env; double want; } cases[] = {
        {"0", 300.0}, {"-3", 300.0}, {"abc", 300.0}, {"", 300.0},
        {"2.5", 2.5},
        {"0.1", (double)0.1f},      /* read through single precision */
    };
    for (auto& c : cases) {
        SetUp();
        setenv("QX_TARN_TIMEOUT", c.env, 1);
        parse({"-h", "x"});
        EXPECT_EQ(DeriveTimeout, c.want) << "QX_TARN_TIMEOUT=" << c.env;
    }
}

TEST_F(Arguments, DashTIsTakenAsGivenAndOverridesTheEnvironment)
{
    setenv("QX_TARN_TIMEOUT", "2.5", 1);
    parse({"-h", "x", "-t", "-5"});
    EXPECT_EQ(DeriveTimeout, -5.0);
    SetUp();
    parse({"-h", "x", "-t", "0.1"});
    EXPECT_EQ(DeriveTimeout, 0.1) << "-t keeps double precision";
}

TEST_F(Arguments, HostFallsBackToQxServerThenToThisMachine)
{
    setenv("QX_SERVER", "from-env", 1);
    parse({});
    EXPECT_STREQ(platform_host, "from-env");

    SetUp();
    setenv("QX_SERVER", "from-env", 1);
    parse({"-h", "given"});
    EXPECT_STREQ(platform_host, "given");

    SetUp();
    parse({"-v"});
    char name[256] = "";
    gethostname(name, sizeof name - 1);
    ASSERT_NE(platform_host, nullptr);
    EXPECT_STREQ(platform_host, name);
}

TEST_F(Arguments, AnythingElseEndsInUsageWithStatus1)
{
    const std::vector<std::vector<std::string>> bad = {
        {"-help"}, {"-display", ":0"}, {"-geometry", "10x10"}, {"-xrm", "*x: y"},
        {"-HOST", "x"}, {"-hostx", "x"}, {"host"}, {"-h", "x", "extra"},
        {"-fd"}, {"-host"}, {"-t"}, {"-scope"}, {"-root"}, {"-f"}, {"-h", "x", "-s"},
    };
    for (auto& args : bad) {
        std::string shown;
        for (auto& a : args) shown += a + " ";
        EXPECT_EXIT(parse(args), ::testing::ExitedWithCode(1),
                    "Usage: qx_tarn \\[-help\\] \\[-host <server>\\]")
            << shown;
    }
}

/* The compiled catalogue must give back the very texts the program has
 * built in: escapes, leading tabs and trailing blanks included. */
TEST(Catalogue, CompiledTextsMatchTheBuiltInDefaults)
{
    setenv("NLSPATH", QX_NLS_DIR "/%N", 1);
    nl_catd opened = catopen("qx.cat", 0);
    ASSERT_NE(opened, (nl_catd)-1) << "qx.cat not found in " QX_NLS_DIR;
    catd = opened;
    struct { int set, num; const char* text; } texts[] = {
        {4, 1, "%s: can't open display, exiting...\n"},
        {4, 7, "\t-help \t\t: this message\n"},
        {4, 13, "; using '/' for root."},
        {4, 200, "DEBUG  CAUTION !!!: album invalid "},
        {4, 517, "Tarnwick: Action "},
        {4, 607, "Objects Loaded (%d)"},
        {6, 2005, "FYI"},
    };
    for (auto& t : texts)
        EXPECT_STREQ(catgets(opened, t.set, t.num, "<missing>"), t.text)
            << t.set << "/" << t.num;
    std::string notice = catgets(opened, 4, 14, "");
    EXPECT_NE(notice.find("Tarnwick"), std::string::npos) << "4/14 is the product notice";
    EXPECT_EQ(notice.find('\n'), std::string::npos) << "4/14 is one line";
    catclose(opened);
    catd = (nl_catd)-1;
    EXPECT_STREQ(qx_msg(4, "default"), "default") << "a closed catalogue gives the defaults";
}

} // namespace
