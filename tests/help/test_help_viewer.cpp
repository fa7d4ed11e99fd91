/*
 * test_help_viewer.cpp - the editor's Help buttons with the real viewer and
 * the real help file: the main window's Help opens the viewer on topic 7000,
 * the configuration window's moves the same viewer to 7100, and quitting ends
 * it and takes its record away.  The viewer's window is watched from outside,
 * by its title, as a window manager sees it.
 */
#include <X11/Xatom.h>
#include <cstring>
#include <string>
#include <vector>

#include "../ui/gui_fixture.h"
#include "help/XtHelp.h"
#include "ui/config_win.h"
#include "ui/main_win.h"

namespace {

Atom atom()
{
    return XInternAtom(display, "HyperHelpAtomV40", False);
}

/* The records of the root window's property, as (client, window) pairs. */
std::vector<std::pair<int32_t, uint32_t>> records()
{
    Atom type;
    int format;
    unsigned long items = 0, after;
    unsigned char* data = nullptr;
    XGetWindowProperty(display, DefaultRootWindow(display), atom(), 0, 61440, False,
                       AnyPropertyType, &type, &format, &items, &after, &data);
    std::vector<std::pair<int32_t, uint32_t>> out;
    for (unsigned long at = 0; data && at + 1056 <= items; at += 1056) {
        int32_t id;
        uint32_t window;
        memcpy(&id, data + at, 4);
        memcpy(&window, data + at + 8, 4);
        out.push_back({id, window});
    }
    if (data) XFree(data);
    return out;
}

uint32_t viewer_window()
{
    for (auto& r : records())
        if (r.first == 67890) return r.second;
    return 0;
}

int bad_window = 0;
int note_error(Display*, XErrorEvent*)
{
    bad_window = 1;
    return 0;
}

/* The window's title, or "" when the window is gone. */
std::string title_of(Window w)
{
    XSync(display, False);
    XErrorHandler old = XSetErrorHandler(note_error);
    bad_window = 0;
    char* name = nullptr;
    XFetchName(display, w, &name);
    XSync(display, False);
    XSetErrorHandler(old);
    std::string out = name && !bad_window ? name : "";
    if (name) XFree(name);
    return out;
}

} // namespace

TEST(HelpViewer, HelpButtonsDriveOneViewerUntilItQuits)
{
    setenv("QX_HOME", QX_STAGE_DIR, 1);
    REQUIRE_GUI();
    ASSERT_TRUE(help);
    XDeleteProperty(display, DefaultRootWindow(display), atom());

    press(main_window->mw_help_button);
    ASSERT_TRUE(pump_until([] { return viewer_window() != 0; }, 20)) << "the viewer did not start";
    Window viewer = viewer_window();
    auto shows = [&](const std::string& topic) {
        return pump_until([&] { return title_of(viewer) == "Tarnwick Help: " + topic; }, 20);
    };
    EXPECT_TRUE(shows("The main window")) << title_of(viewer);
    long pid = help->pid;
    EXPECT_GT(pid, 0);

    press(object_configuration->oc_help_button);
    EXPECT_TRUE(shows("The object configuration window")) << title_of(viewer);
    EXPECT_EQ(records().size(), 1u);
    EXPECT_EQ(viewer_window(), viewer);
    EXPECT_EQ(help->pid, pid);

    help->terminate();
    EXPECT_TRUE(pump_until([] { return help->pid == 0; }, 20)) << "the viewer did not end";
    EXPECT_TRUE(records().empty());
    EXPECT_EQ(title_of(viewer), "");
}
