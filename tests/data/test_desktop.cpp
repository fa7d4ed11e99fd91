/*
 * The editor on the desktop, in process under X: the installation's
 * app-defaults file lies below the user's own resources and its fonts are
 * anti-aliased, and which app-defaults file is merged.
 */
#include "tests/ui/gui_fixture.h"

#include <fstream>
#include <string>

#include "app/desktop.h"

namespace {

using qxtest::resource;

/* The user's resources (XENVIRONMENT) set the text fields' background with
 * the very specifier the app-defaults file uses, so only the order of the
 * merge decides which one wins, and the font size as the manual page shows. */
const char user_background[] = "#102030";

/* Up once, with the stage as the installation and the user's resources
 * in a file of XENVIRONMENT that is gone again once they are read. */
bool gui()
{
    static const bool up = [] {
        setenv("QX_HOME", QX_STAGE_DIR, 1);
        unsetenv("XFILESEARCHPATH");
        std::string path = "/tmp/qx_desktop_test." + std::to_string(getpid());
        std::ofstream(path) << "QX_tarn*XmTextField.background: " << user_background
                            << "\nQX_tarn*tarnText.fontSize: 13\n";
        setenv("XENVIRONMENT", path.c_str(), 1);
        bool ok = gui_up();
        unlink(path.c_str());
        return ok;
    }();
    return up;
}

Pixel named(const char* colour)
{
    XColor c, exact;
    Colormap map = DefaultColormapOfScreen(XtScreen(main_window->shell()));
    XAllocNamedColor(display, map, colour, &c, &exact);
    return c.pixel;
}

TEST(Desktop, AppDefaultsLieBelowTheUsersResources)
{
    if (!gui()) GTEST_SKIP() << "no X display";
    Widget path = child_named(main_window->shell(), "mw_path");
    Widget form = child_named(main_window->shell(), "mw_form");
    ASSERT_TRUE(path && form);
    EXPECT_EQ(named(user_background), resource<Pixel>(path, XmNbackground))
        << "the user's resource lost";
    EXPECT_EQ(named("#e9e7e3"), resource<Pixel>(form, XmNbackground))
        << "the app-defaults file was not merged";

    /* Its labels draw with the file's anti-aliased rendition, in the size
     * the user chose. */
    auto table =
        resource<XmRenderTable>(child_named(main_window->shell(), "mw_path_label"), XmNrenderTable);
    XmRendition r = table ? XmRenderTableGetRendition(table, (XmStringTag) "tarnText") : nullptr;
    ASSERT_NE(r, nullptr);
    XmFontType type = XmFONT_IS_FONT; /* an enum: Motif writes it whole */
    int size = 0;
    Arg args[2];
    XtSetArg(args[0], XmNfontType, &type);
    XtSetArg(args[1], XmNfontSize, &size);
    XmRenditionRetrieve(r, args, 2);
    EXPECT_EQ(XmFONT_IS_XFT, type);
    EXPECT_EQ(13, size);
    XmRenditionFree(r);
}

TEST(Desktop, WhichAppDefaultsFileIsMerged)
{
    if (!gui()) GTEST_SKIP() << "no X display";
    const std::string own = QX_STAGE_DIR "/share/X11/app-defaults/";
    struct Case {
        const char* home;
        const char* search_path;
        std::string merged;
        const char* app_class;
    } cases[] = {
        {QX_STAGE_DIR, nullptr, own + QX_APP_CLASS, QX_APP_CLASS},
        {QX_STAGE_DIR, nullptr, own + "HyperHelp", "HyperHelp"}, /* the help viewer's */
        {QX_STAGE_DIR, "/nonexistent/%T/%N", "", QX_APP_CLASS},  /* the user's search path rules */
        {"/nonexistent", nullptr, "", QX_APP_CLASS},
    };
    for (const Case& c : cases) {
        setenv("QX_HOME", c.home, 1);
        if (c.search_path)
            setenv("XFILESEARCHPATH", c.search_path, 1);
        else
            unsetenv("XFILESEARCHPATH");
        EXPECT_EQ(c.merged, merge_app_defaults(display, c.app_class))
            << c.home << " " << (c.search_path ? c.search_path : "");
    }
    unsetenv("XFILESEARCHPATH");
    setenv("QX_HOME", QX_STAGE_DIR, 1);
}

} // namespace
