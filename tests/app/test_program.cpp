/*
 * The real qx_tarn from outside: exit statuses, the launcher's -fd
 * reply and the connection error dialogs (under X, with a real qx_mis, the
 * dialogs answered with xdotool as a person would).  The commands are driven
 * in process, through their buttons (tests/objects, tests/config, tests/tree).
 */
#include <gtest/gtest.h>
#include <X11/Xlib.h>

#include "mis_process.h"

using qxtest::MisProcess;

namespace {

/* The real qx_tarn, run with its output, exit status and launcher reply captured. */
struct TarnRun : qxtest::ChildProcess {
    std::vector<std::string> args; /* after argv[0] */
    int reply_fd = -1;             /* descriptor number that gets a pipe */
    std::vector<std::string> env;  /* NAME=VALUE set, or NAME removed, in the program's */

    int pipes[3] = {-1, -1, -1}; /* stdout, stderr, reply */
    std::string text[3];         /* what came through them */
    const std::string& out() const { return text[0]; }
    const std::string& err() const { return text[1]; }
    const std::string& reply() const { return text[2]; }
    int status = -1; /* exit status once ended */

    bool start()
    {
        int p[3][2];
        for (int i = 0; i < 3; i++)
            if (pipe(p[i])) return false;
        std::vector<std::string> argv{QX_TARN_BIN};
        argv.insert(argv.end(), args.begin(), args.end());
        bool spawned = spawn(argv, [&] {
            dup2(p[0][1], 1);
            dup2(p[1][1], 2);
            for (int i = 0; i < 2; i++) close(p[i][0]), close(p[i][1]);
            /* Last, since the reply pipe may hold the very number asked for. */
            if (reply_fd >= 0) {
                if (p[2][0] != reply_fd) close(p[2][0]);
                dup2(p[2][1], reply_fd);
                if (p[2][1] != reply_fd) close(p[2][1]);
            }
            for (auto& e : env) {
                size_t eq = e.find('=');
                if (eq == std::string::npos)
                    unsetenv(e.c_str());
                else
                    setenv(e.substr(0, eq).c_str(), e.c_str() + eq + 1, 1);
            }
            return true;
        });
        for (int i = 0; i < 3; i++) {
            close(p[i][1]);
            pipes[i] = p[i][0];
            fcntl(pipes[i], F_SETFL, O_NONBLOCK);
        }
        return spawned;
    }

    void drain()
    {
        char buf[4096];
        ssize_t n;
        for (int i = 0; i < 3; i++)
            while ((n = read(pipes[i], buf, sizeof buf)) > 0) text[i].append(buf, n);
    }

    /* Until the program has ended, its output read, for at most seconds. */
    bool wait(double seconds)
    {
        return qxtest::wait_until(
            [&] {
                drain();
                return ended(&status) && (drain(), true);
            },
            seconds);
    }

    bool wait_reply(double seconds)
    {
        return qxtest::wait_until([&] { return drain(), !text[2].empty(); }, seconds);
    }
    bool reply_closed()
    {
        char c;
        return read(pipes[2], &c, 1) == 0;
    }

    ~TarnRun()
    {
        for (int fd : pipes)
            if (fd >= 0) close(fd);
    }
};

/* A viewable window below w titled title (and, when owner is given, a
 * dialog of that window), or None. */
inline Window find_titled_window(Display* dpy, Window w, const std::string& title,
                                 Window owner = None)
{
    char* name = nullptr;
    XWindowAttributes a;
    Window for_window = None;
    if (XFetchName(dpy, w, &name) && name) {
        bool same = title == name;
        XFree(name);
        if (same && XGetWindowAttributes(dpy, w, &a) && a.map_state == IsViewable &&
            (owner == None || (XGetTransientForHint(dpy, w, &for_window) && for_window == owner)))
            return w;
    }
    Window r, parent, *kids = nullptr, found = None;
    unsigned n = 0;
    if (XQueryTree(dpy, w, &r, &parent, &kids, &n))
        for (unsigned i = 0; i < n && found == None; i++)
            found = find_titled_window(dpy, kids[i], title, owner);
    if (kids) XFree(kids);
    return found;
}

inline Window wait_for_window(Display* dpy, const std::string& title, double seconds,
                              Window owner = None)
{
    Window w = None;
    qxtest::wait_until(
        [&] { return (w = find_titled_window(dpy, DefaultRootWindow(dpy), title, owner)) != None; },
        seconds, 50);
    return w;
}

/* With -v, accepted and ignored, the program goes on to open the display, and
 * without one ends with 255 (a bad option's usage and status 1: Arguments). */
TEST(Program, NoDisplayEndsTheProgram)
{
    TarnRun no_display;
    no_display.args = {"-v", "-h", "127.0.0.1:1"};
    no_display.env = {"DISPLAY"};
    ASSERT_TRUE(no_display.start());
    ASSERT_TRUE(no_display.wait(10));
    EXPECT_EQ(no_display.status, 255);
    EXPECT_EQ(no_display.out(), std::string(QX_TARN_BIN) + ": can't open display, exiting...\n");
}

class OnDisplay : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!getenv("DISPLAY") || !(dpy = XOpenDisplay(nullptr))) GTEST_SKIP() << "no X display";
        if (!MisProcess::available()) GTEST_SKIP() << "no qx_mis";
    }
    void TearDown() override
    {
        if (dpy) XCloseDisplay(dpy);
    }

    /* Starts the editor on host with -fd 7; expects the program's name and
     * its NUL on descriptor 7, closed, and the main window titled with host. */
    void start_and_expect_reply(TarnRun& run, const std::string& host)
    {
        run.args = {"-host", host, "-fd", "7"};
        run.reply_fd = 7;
        ASSERT_TRUE(run.start());
        ASSERT_TRUE(run.wait_reply(30)) << run.out() << run.err();
        EXPECT_EQ(run.reply(), std::string(QX_TARN_BIN) + '\0');
        EXPECT_TRUE(run.reply_closed());
        main_window = wait_for_window(dpy, "Corvane QX 1.2: Tarnwick [" + host + "]", 10);
        EXPECT_NE(main_window, None);
    }

    /* The editor's error dialog is up and holds the program until Return answers
     * it, as a person would; then the program ends with status 0. */
    void answer_error_dialog(TarnRun& run, const std::string& title = "Tarnwick: Error")
    {
        Window dialog = wait_for_window(dpy, title, 15, main_window);
        ASSERT_NE(dialog, None) << "no error dialog";
        EXPECT_FALSE(run.wait(0.5)) << "the program waits for OK";
        /* Other tests on the display may take the input focus between the
         * focusing and the key; a Return that went astray is pressed again. */
        std::string cmd = "xdotool windowfocus --sync " + std::to_string(dialog) + " key Return";
        bool ended = false;
        for (int attempt = 0; attempt < 4 && !ended; attempt++) {
            /* A later try may find the dialog already gone: its result says nothing. */
            int rc = std::system(cmd.c_str());
            if (attempt == 0) {
                ASSERT_EQ(rc, 0);
            }
            ended = run.wait(attempt < 3 ? 3 : 10);
        }
        ASSERT_TRUE(ended);
        EXPECT_EQ(run.status, 0);
    }

    Display* dpy = nullptr;
    Window main_window = None; /* the editor's, found by its unique title */
    MisProcess mis;
};

/* A failed connection answers the launcher and shows its dialog, in German
 * the German one; OK ends the program with 0. */
TEST_F(OnDisplay, FailedConnectionDialogIsInGerman)
{
    TarnRun run;
    run.env = {"NLSPATH", "LC_ALL", "LC_MESSAGES", "LANGUAGE", "LANG=de_DE.UTF-8"};
    start_and_expect_reply(run, "127.0.0.1:" + std::to_string(MisProcess::free_port()));
    answer_error_dialog(run, "Tarnwick: Fehler");
}

TEST_F(OnDisplay, GoodConnectionAnswersTheLauncherAndALostServerEndsWithOk)
{
    ASSERT_TRUE(mis.start()) << mis.failure();
    TarnRun run;
    start_and_expect_reply(run, mis.address());
    EXPECT_EQ(find_titled_window(dpy, DefaultRootWindow(dpy), "Tarnwick: Error", main_window),
              None);
    mis.kill_now();
    answer_error_dialog(run);
}

} // namespace
