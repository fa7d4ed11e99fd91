/*
 * The real qx_tarn from outside: usage and exit statuses, the launcher's -fd
 * reply, and the connection error dialogs (under Xvfb, with a real qx_mis).
 */
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <cstdlib>
#include <string>

#include "tests/app/process.h"
#include "tests/app/x_windows.h"
#include "tests/kvl/mis_fixture.h"

namespace {

const char usage_text[] =
    "Usage: qx_tarn [-help] [-host <server>] [-root <fdn>] [-scope <level>]\n"
    "\t-help \t\t: this message\n"
    "\t-host <server> \t: MIS server\n"
    "\t-root <fdn> \t: Use specified object as root object\n"
    "\t-scope <level> \t: Number of levels to scope down\n";

TEST(Program, UsageOnStandardErrorAndStatus1)
{
    for (auto args : std::vector<std::vector<std::string>>{
             {"-help"}, {"-display", ":0"}, {"-h", "x", "-fd"}}) {
        TarnRun run;
        run.args = args;
        ASSERT_TRUE(run.start());
        ASSERT_TRUE(run.wait(10));
        EXPECT_EQ(run.status, 1) << args[0];
        EXPECT_EQ(run.err, usage_text) << args[0];
        EXPECT_EQ(run.out, "");
    }
}

TEST(Program, NoDisplayIsStatus255)
{
    TarnRun run;
    run.args = {"-h", "127.0.0.1:1"};
    run.unset_env = {"DISPLAY"};
    ASSERT_TRUE(run.start());
    ASSERT_TRUE(run.wait(10));
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(run.out, std::string(QX_TARN_BIN) + ": can't open display, exiting...\n");
}

/* Tests that need the X server and sometimes qx_mis. */
class OnDisplay : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!getenv("DISPLAY") || !(dpy = XOpenDisplay(nullptr)))
            GTEST_SKIP() << "no X display";
    }
    void TearDown() override
    {
        if (dpy)
            XCloseDisplay(dpy);
    }

    /* Presses Return in the window, as a person answering the dialog would. */
    bool press_return(Window w)
    {
        std::string cmd = "xdotool windowfocus --sync " + std::to_string(w) + " key Return";
        return std::system(cmd.c_str()) == 0;
    }

    std::string main_title(const std::string& host)
    {
        return "Corvane QX 1.2: Tarnwick [" + host + "]";
    }

    Display* dpy = nullptr;
};

TEST_F(OnDisplay, FailedConnectionAnswersTheLauncherAndOkExits0)
{
    std::string host = "127.0.0.1:" + std::to_string(MisServer::free_port());
    TarnRun run;
    run.args = {"-host", host, "-fd", "7"};
    run.reply_fd = 7;
    ASSERT_TRUE(run.start());

    ASSERT_TRUE(run.wait_reply(20)) << run.out << run.err;
    EXPECT_EQ(run.reply, std::string(QX_TARN_BIN) + '\0');
    EXPECT_TRUE(run.reply_closed());

    EXPECT_NE(wait_for_window(dpy, main_title(host), 10), None);
    Window dialog = wait_for_window(dpy, "Tarnwick: Error", 10);
    ASSERT_NE(dialog, None) << "no \"Can't connect to MIS!\" dialog";
    EXPECT_FALSE(run.wait(0.5)) << "the program waits for OK";

    ASSERT_TRUE(press_return(dialog));
    ASSERT_TRUE(run.wait(10));
    EXPECT_EQ(run.status, 0);
}

TEST_F(OnDisplay, GoodConnectionAnswersTheLauncherAndALostServerEndsWithOk)
{
    MisServer mis;
    if (!MisServer::available())
        GTEST_SKIP() << "no qx_mis";
    ASSERT_TRUE(mis.start()) << mis.failure();

    TarnRun run;
    run.args = {"-host", mis.address(), "-fd", "7"};
    run.reply_fd = 7;
    ASSERT_TRUE(run.start());
    ASSERT_TRUE(run.wait_reply(30)) << run.out << run.err;
    EXPECT_EQ(run.reply, std::string(QX_TARN_BIN) + '\0');
    EXPECT_TRUE(run.reply_closed());
    EXPECT_NE(wait_for_window(dpy, main_title(mis.address()), 10), None);
    EXPECT_EQ(find_titled_window(dpy, DefaultRootWindow(dpy), "Tarnwick: Error"), None);

    mis.kill_now();
    Window dialog = wait_for_window(dpy, "Tarnwick: Error", 15);
    ASSERT_NE(dialog, None) << "no \"Platform has Disconnected!\" dialog";
    EXPECT_FALSE(run.wait(0.5)) << "the program runs on until OK";

    ASSERT_TRUE(press_return(dialog));
    ASSERT_TRUE(run.wait(10));
    EXPECT_EQ(run.status, 0);
}

} // namespace
