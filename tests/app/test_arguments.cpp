/* Command line, environment and message catalogue of the editor, in process. */
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <tuple>
#include <unistd.h>
#include <vector>

#include "app/startup.h"
#include "core/globals.h"

namespace {

/* The globals as the program starts with them, read before any test runs. */
const auto initial = std::make_tuple(default_root, default_scope, default_scope_string,
                                     default_filter, current_filter, DeriveTimeout, file_desc);

class Arguments : public ::testing::Test {
protected:
    void SetUp() override
    {
        /* The program keeps the buffer of the machine's own name for its whole
         * run; a test that parses again lets it go first. */
        free(host_buffer);
        host_buffer = nullptr;
        platform_host = nullptr;
        std::tie(default_root, default_scope, default_scope_string, default_filter, current_filter,
                 DeriveTimeout, file_desc) = initial;
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

/* What get_arguments settled, in one line. */
std::string settled()
{
    char timeout[32];
    snprintf(timeout, sizeof timeout, "%.17g", DeriveTimeout);
    return std::string("host=") + (platform_host ? platform_host : "(null)") +
           " root=" + default_root + " scope=" + std::to_string(default_scope) + "/" +
           default_scope_string + " filter=" + default_filter +
           (current_filter == default_filter ? " (current)" : "") +
           (current_filter && current_filter != default_filter ? " (other current)" : "") +
           " t=" + timeout + " fd=" + std::to_string(file_desc);
}

/* Each command line and environment, and what the program takes from them: without options
 * (or with -v, accepted and ignored) the start-up values, the host from QX_SERVER or else this
 * machine; later options win; an environment time-out that is no positive number leaves 300 s. */
TEST_F(Arguments, OptionsAndEnvironmentSettleTheStartUpValues)
{
    char name[256] = "";
    gethostname(name, sizeof name - 1);
    const std::string rest = " root=/ scope=2/2 filter= t=300 fd=0";
    struct {
        std::vector<std::string> args;
        const char *timeout, *server; /* QX_TARN_TIMEOUT and QX_SERVER, or unset */
        std::string want;
    } rows[] = {
        {{}, nullptr, nullptr, "host=" + std::string(name) + rest},
        {{"-fd", "7", "-host", "mis1", "-v", "-root", "/a=1", "-scope", "3", "-f", "(x=1)", "-t",
          "12.5"},
         nullptr,
         nullptr,
         "host=mis1 root=/a=1 scope=3/3 filter=(x=1) (current) t=12.5 fd=7"},
        {{"-h", "first", "-r", "/x=1", "-s", "4", "-host", "second", "-root", "/y=2", "-scope",
          "five"},
         nullptr,
         nullptr,
         "host=second root=/y=2 scope=0/five filter= t=300 fd=0"},
        {{"-h", "x"}, "0", nullptr, "host=x" + rest},
        {{"-h", "x"}, "2.5", nullptr, "host=x root=/ scope=2/2 filter= t=2.5 fd=0"},
        {{}, nullptr, "from-env", "host=from-env" + rest},
        {{"-h", "given"}, nullptr, "from-env", "host=given" + rest},
    };
    for (auto& row : rows) {
        SetUp();
        if (row.timeout) setenv("QX_TARN_TIMEOUT", row.timeout, 1);
        if (row.server) setenv("QX_SERVER", row.server, 1);
        parse(row.args);
        EXPECT_EQ(settled(), row.want);
    }
}

TEST_F(Arguments, AnythingElseEndsInUsageWithStatus1)
{
    const std::vector<std::vector<std::string>> bad = {
        {"-help"},         {"-display", ":0"},   {"-HOST", "x"}, {"-hostx", "x"},
        {"host"},          {"-h", "x", "extra"}, {"-fd"},        {"-f"},
        {"-h", "x", "-s"},
    };
    for (auto& args : bad) {
        EXPECT_EXIT(parse(args), ::testing::ExitedWithCode(1),
                    "Usage: qx_tarn \\[-help\\] \\[-host <server>\\]")
            << testing::PrintToString(args);
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
