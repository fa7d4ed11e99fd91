/* Command line, environment and message catalogue of the editor, in process. */
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

#include "app/startup.h"
#include "core/globals.h"

namespace {

/* The globals as the program starts with them, read before any test runs. */
struct Defaults {
    char* root = default_root;
    int scope = default_scope;
    char* scope_string = default_scope_string;
    char* filter = default_filter;
    char* current = current_filter;
    double timeout = DeriveTimeout;
    int fd = file_desc;
};
const Defaults initial;

class Arguments : public ::testing::Test {
protected:
    void SetUp() override
    {
        /* The program keeps the buffer of the machine's own name for its whole
         * run; a test that parses again lets it go first. */
        free(host_buffer);
        host_buffer = nullptr;
        platform_host = nullptr;
        default_root = initial.root;
        default_scope = initial.scope;
        default_scope_string = initial.scope_string;
        default_filter = initial.filter;
        current_filter = initial.current;
        DeriveTimeout = initial.timeout;
        file_desc = initial.fd;
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
        for (auto& s : store) argv.push_back(&s[0]);
        argv.push_back(nullptr);
        get_arguments((int)store.size(), argv.data());
        const char* server = getenv("QX_SERVER");
        bool from_argv = std::find(argv.begin(), argv.end(), platform_host) != argv.end();
        if (platform_host && !from_argv && platform_host != server) host_buffer = platform_host;
    }
    void TearDown() override { SetUp(); }

    std::vector<std::string> store;
    std::vector<char*> argv;
    char* host_buffer = nullptr;
};

/* Without options (and with -v, which is accepted and ignored) the program
 * keeps the start-up values; only the host is settled. */
TEST_F(Arguments, NoOptionsOrOnlyVKeepTheStartUpValues)
{
    for (auto args : std::vector<std::vector<std::string>>{{}, {"-v"}, {"-v", "-v"}}) {
        SetUp();
        parse(args);
        std::string shown = args.empty() ? "no options" : std::to_string(args.size()) + " x -v";
        EXPECT_STREQ(default_root, "/") << shown;
        EXPECT_EQ(default_scope, 2) << shown;
        EXPECT_STREQ(default_scope_string, "2") << shown;
        EXPECT_STREQ(default_filter, "") << shown;
        EXPECT_EQ(current_filter, nullptr) << shown;
        EXPECT_EQ(DeriveTimeout, 300.0) << shown;
        EXPECT_EQ(file_desc, 0) << shown;
        EXPECT_NE(platform_host, nullptr) << shown;
    }
    EXPECT_EQ(display_format, 1);
    EXPECT_EQ(sort_on, 1);
    EXPECT_FALSE(fdn_name);
    EXPECT_EQ(CurrentCookie, 0u);
    EXPECT_STREQ(user_object_class, "");
    EXPECT_STREQ(user_object_name, "");
    EXPECT_EQ(std_form, 65542);
    EXPECT_EQ(root, nullptr);
    EXPECT_EQ(main_window, nullptr);
    EXPECT_TRUE(global.is_empty());
}

TEST_F(Arguments, EveryOptionOfTheTable)
{
    parse({"-fd", "7", "-host", "mis1", "-v", "-root", "/a=1", "-scope", "3", "-f", "(x=1)", "-t",
           "12.5"});
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
    parse({"-h", "first", "-r", "/x=1", "-s", "4", "-host", "second", "-root", "/y=2", "-scope",
           "five"});
    EXPECT_STREQ(platform_host, "second");
    EXPECT_STREQ(default_root, "/y=2");
    EXPECT_EQ(default_scope, 0) << "a scope that is no number counts 0";
    EXPECT_STREQ(default_scope_string, "five");
}

TEST_F(Arguments, TimeOutFromTheEnvironment)
{
    struct {
        const char* env;
        double want;
    } cases[] = {
        {"0", 300.0}, {"-3", 300.0}, {"abc", 300.0},
        {"", 300.0},  {"2.5", 2.5},  {"0.1", (double)0.1f}, /* read through single precision */
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
        {"-help"},
        {"-display", ":0"},
        {"-geometry", "10x10"},
        {"-xrm", "*x: y"},
        {"-HOST", "x"},
        {"-hostx", "x"},
        {"host"},
        {"-h", "x", "extra"},
        {"-fd"},
        {"-host"},
        {"-t"},
        {"-scope"},
        {"-root"},
        {"-f"},
        {"-h", "x", "-s"},
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
    struct {
        int set, num;
        const char* text;
    } texts[] = {
        {4, 1, "%s: can't open display, exiting...\n"},
        {4, 7, "\t-help \t\t: this message\n"},
        {4, 13, "; using '/' for root."},
        {4, 200, "DEBUG  CAUTION !!!: album invalid "},
        {4, 517, "Tarnwick: Action "},
        {4, 607, "Objects Loaded (%d)"},
        {6, 2005, "FYI"},
    };
    for (auto& t : texts)
        EXPECT_STREQ(catgets(opened, t.set, t.num, "<missing>"), t.text) << t.set << "/" << t.num;
    std::string notice = catgets(opened, 4, 14, "");
    EXPECT_NE(notice.find("Tarnwick"), std::string::npos) << "4/14 is the product notice";
    EXPECT_EQ(notice.find('\n'), std::string::npos) << "4/14 is one line";
    catclose(opened);
    catd = (nl_catd)-1;
    EXPECT_STREQ(qx_msg(4, "default"), "default") << "a closed catalogue gives the defaults";
}

} // namespace
