/*
 * test_help_client.cpp - the help client against a real X server: the
 * registration record, how the viewer is started (a stand-in viewer in a
 * temporary home records it), a vanished viewer, and the search along
 * HHPATH; the running viewer's command and message are in test_help_viewer.
 */
#include <gtest/gtest.h>

#include <X11/Intrinsic.h>
#include <X11/Shell.h>
#include <X11/Xatom.h>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "child_process.h"
#include "core/globals.h"
#include "help/XtHelp.h"
#include "ui/help_callbacks.h"

namespace {

std::string home; /* the temporary QX_HOME */
Display* other;   /* a second connection: the "viewer" that owns windows */
Atom atom;

void write_file(const std::string& path, const std::string& text)
{
    EXPECT_EQ("", qxtest::write_file(path, text, 0644));
}

/* A home with the stand-in viewer and a help file, the client started on a
 * shell of the display; false without a display. */
bool client_up()
{
    static int state = 0;
    if (state == 0 && !getenv("DISPLAY")) state = -1;
    if (state == 0) {
        char dir[] = "/tmp/help_client_XXXXXX";
        home = mkdtemp(dir);
        for (const char* d : {"/bin", "/share", "/share/qx-tarn"}) mkdir((home + d).c_str(), 0755);
        write_file(home + "/share/qx-tarn/qx_help.hlp", ".topic 7000 Main\n");
        std::string copy = "cp " STANDIN_VIEWER " " + home + "/bin/hyperhelp";
        if (system(copy.c_str()) != 0) return false;
        setenv("QX_HOME", home.c_str(), 1);
        static char name[] = "help_client_tests";
        static char* argv[] = {name, nullptr};
        int argc = 1;
        XtAppContext app;
        Widget shell = XtOpenApplication(&app, "HelpTest", nullptr, 0, &argc, argv, nullptr,
                                         applicationShellWidgetClass, nullptr, 0);
        init_help(shell);
        other = XOpenDisplay(nullptr);
        atom = XInternAtom(other, "HyperHelpAtomV40", False);
        state = 1;
    }
    return state == 1;
}

std::vector<unsigned char> record(int32_t id, uint32_t window)
{
    std::vector<unsigned char> r(1056, 0);
    memcpy(&r[0], &id, 4);
    memcpy(&r[8], &window, 4);
    return r;
}

void set_records(const std::vector<std::vector<unsigned char>>& records)
{
    std::vector<unsigned char> all;
    for (auto& r : records) all.insert(all.end(), r.begin(), r.end());
    Window root = DefaultRootWindow(other);
    if (all.empty())
        XDeleteProperty(other, root, atom);
    else
        XChangeProperty(other, root, atom, atom, 8, PropModeReplace, all.data(), (int)all.size());
    XSync(other, False);
}

std::vector<unsigned char> property_bytes()
{
    Atom type;
    int format;
    unsigned long items, after;
    unsigned char* data = nullptr;
    XGetWindowProperty(other, DefaultRootWindow(other), atom, 0, 61440, False, AnyPropertyType,
                       &type, &format, &items, &after, &data);
    std::vector<unsigned char> out(data, data + (data ? items : 0));
    if (data) {
        EXPECT_EQ(type, atom);
        EXPECT_EQ(format, 8);
        XFree(data);
    }
    return out;
}

/* The lines the stand-in viewer has logged, after waiting for count. */
std::vector<std::string> viewer_starts(size_t count)
{
    std::vector<std::string> lines;
    qxtest::wait_until(
        [&] {
            std::istringstream in(qxtest::read_file(home + "/viewer.log"));
            lines.clear();
            for (std::string l; std::getline(in, l);) lines.push_back(l);
            return lines.size() >= count;
        },
        10);
    return lines;
}

/* The stand-in's line for a start that shows what ("-c|<topic>" or "-i"). */
std::string expected_start(const std::string& what)
{
    return std::string("hyperhelp|-d|67890|-s|0|-display|") +
           DisplayString(XtDisplay(help->parent)) + "|" + what + "|" + home +
           "/share/qx-tarn/qx_help.hlp HHHOME=" + home + "/share/qx-tarn HHPATH=" + home +
           "/share/qx-tarn fd0=closed fd1=closed";
}

class HelpClient : public testing::Test {
protected:
    void SetUp() override
    {
        if (!client_up()) GTEST_SKIP() << "no X display";
        unlink((home + "/viewer.log").c_str());
        setenv("HHPATH", (home + "/share/qx-tarn").c_str(), 1);
    }
};

} // namespace

/* No record, a property of a format that is none of ours, or the record of a viewer whose
 * window is gone: a press registers and starts the viewer, with one record. */
TEST_F(HelpClient, PressWithoutALiveViewerRegistersAndStartsIt)
{
    Window gone = XCreateSimpleWindow(other, DefaultRootWindow(other), 0, 0, 10, 10, 0, 0, 0);
    XDestroyWindow(other, gone);
    for (const char* before : {"none", "foreign", "vanished"}) {
        SCOPED_TRACE(before);
        unlink((home + "/viewer.log").c_str());
        set_records({});
        if (before == std::string("vanished")) set_records({record(67890, (uint32_t)gone)});
        long junk[3] = {1, 2, 3};
        if (before == std::string("foreign"))
            XChangeProperty(other, DefaultRootWindow(other), atom, XA_INTEGER, 32, PropModeReplace,
                            (unsigned char*)junk, 3);
        XSync(other, False);
        mw_help_cb(nullptr, nullptr, nullptr);
        if (before == std::string("vanished"))
            EXPECT_EQ(property_bytes().size(), 1056u); /* its record, not a second one */
        else
            EXPECT_EQ(property_bytes(), record(67890, 0));
        EXPECT_EQ(viewer_starts(1), std::vector<std::string>{expected_start("-c|7000")});
    }
}

/* A table of contents starts the viewer on it, a viewer that cannot be
 * executed fails the request, and HHPATH decides which help file the viewer
 * gets: a folder with a blank stays whole, and a path without the file is
 * reported on standard error. */
TEST_F(HelpClient, ContentsFailedExecAndHelpPath)
{
    set_records({});
    ASSERT_EQ(help->setHelpFile("qx_help.hlp"), 0);
    ASSERT_EQ(help->showTableOfContents(), 0);
    EXPECT_EQ(viewer_starts(1), std::vector<std::string>{expected_start("-i")});

    /* The stand-in viewer exits at once; its exit is handled first. */
    XtAppContext app = XtWidgetToApplicationContext(help->parent);
    qxtest::wait_until(
        [&] {
            while (XtAppPending(app)) XtAppProcessEvent(app, XtIMAll);
            return help->pid == 0;
        },
        5, 10);
    set_records({});

    std::string viewer = home + "/bin/hyperhelp";
    chmod(viewer.c_str(), 0644);
    EXPECT_EQ(help->showHelpOnTopic(7000), -1);
    EXPECT_EQ(std::string(help->getMessage()), "Can't execute " + viewer + ": Permission denied");
    EXPECT_EQ(help->pid, 0);
    chmod(viewer.c_str(), 0755);

    unlink((home + "/viewer.log").c_str());
    std::string dir = home + "/help dir";
    mkdir(dir.c_str(), 0755);
    write_file(dir + "/qx_help.hlp", ".topic 7200 Action\n");
    setenv("HHPATH", dir.c_str(), 1);
    set_records({});
    aw_help_cb(nullptr, nullptr, nullptr);
    auto starts = viewer_starts(1);
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_TRUE(qxtest::contains(starts[0], "|-c|7200|" + dir + "/qx_help.hlp HHHOME="))
        << starts[0];

    setenv("HHPATH", "/nonexistent", 1);
    testing::internal::CaptureStderr();
    mw_help_cb(nullptr, nullptr, nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "showHelpOnTopic failed: Can't find help file qx_help.hlp\n");
}

TEST(FindInPath, SearchesTheListAndFollowsLinks)
{
    qxtest::TempDir dir;
    const std::string& top = dir.path;
    for (const char* d : {"a", "b", "c", "rel", "abs", "loop", "deep", "tree"})
        mkdir((top + "/" + d).c_str(), 0755);
    std::string file = top + "/c/f.hlp";
    write_file(file, "x");
    write_file(top + "/b/f.hlp", "x");
    chmod((top + "/b/f.hlp").c_str(), 0044); /* not readable by its owner */
    mkdir((top + "/tree/f.hlp").c_str(), 0755);
    symlink("../c/f.hlp", (top + "/rel/f.hlp").c_str());
    symlink(file.c_str(), (top + "/abs/f.hlp").c_str());
    symlink("f.hlp", (top + "/loop/f.hlp").c_str());
    /* deep/f.hlp -> l1 -> ... -> l20 -> the file: 21 links. */
    symlink("l1", (top + "/deep/f.hlp").c_str());
    for (int i = 1; i < 20; i++)
        symlink(("l" + std::to_string(i + 1)).c_str(),
                (top + "/deep/l" + std::to_string(i)).c_str());
    symlink(file.c_str(), (top + "/deep/l20").c_str());

    struct Case {
        std::string path; /* % stands for the top folder */
        int result;
        std::string found;
    } cases[] = {
        {"%/a:%/b:%/c", 1, file}, /* b's is not owner-readable */
        {"%/tree:%/c", 1, file},  /* a directory of that name does not count */
        {"%/abs:%/b", 1, file},   /* an absolute link replaces the path */
        {"%/rel", 1, top + "/rel/../c/f.hlp"},
        {"%/loop", -1, ""},
        {"%/deep", -1, ""},   /* more than 20 links */
        {"%/a::%/b", -1, ""}, /* the empty element is "/" */
    };
    for (const Case& c : cases) {
        std::string list = c.path;
        for (size_t at; (at = list.find('%')) != std::string::npos;) list.replace(at, 1, top);
        setenv("TEST_HHPATH", list.c_str(), 1);
        char result[1024];
        EXPECT_EQ(find_in_path("TEST_HHPATH", "f.hlp", S_IFREG | S_IRUSR, result), c.result)
            << c.path;
        EXPECT_EQ(c.found, c.result == 1 ? std::string(result) : "") << c.path;
    }
    char result[1024];
    unsetenv("TEST_HHPATH");
    EXPECT_EQ(find_in_path("TEST_HHPATH", "f.hlp", S_IFREG, result), -1);
    EXPECT_EQ(find_in_path(nullptr, file.c_str(), S_IFREG | S_IRUSR, result), 0);
    EXPECT_EQ(find_in_path(nullptr, (top + "/b/f.hlp").c_str(), S_IFREG | S_IRUSR, result), -1);
}
