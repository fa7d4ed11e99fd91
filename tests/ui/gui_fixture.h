/*
 * gui_fixture.h - brings the editor's toolkit side up once per test program
 * (initialize_gui on the DISPLAY of the environment) and helps tests read
 * widgets and pump the event loop.
 */
#ifndef TESTS_UI_GUI_FIXTURE_H
#define TESTS_UI_GUI_FIXTURE_H

#include <gtest/gtest.h>

#include <Xm/Xm.h>
#include <cstdlib>
#include <functional>
#include <string>
#include <sys/time.h>

#include "app/globals.h"
#include "ui/main_win.h"

/* Starts the GUI on first use; false when there is no display. */
inline bool gui_up(const char* host = "test-host")
{
    static int state = 0;   /* 0 not tried, 1 up, -1 no display */
    if (state == 0) {
        if (!getenv("DISPLAY")) {
            state = -1;
        } else {
            static char name[] = "qx_tarn_test";
            static char* argv[] = {name, nullptr};
            platform_host = strdup(host);
            initialize_gui(1, argv);
            state = 1;
        }
    }
    return state == 1;
}

#define REQUIRE_GUI(...) \
    do { if (!gui_up(__VA_ARGS__)) GTEST_SKIP() << "no X display"; } while (0)

inline double now_seconds()
{
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    return tv.tv_sec + tv.tv_usec / 1e6;
}

/* Runs the event loop until done() holds or seconds pass; true when it held. */
inline bool pump_until(const std::function<bool()>& done, double seconds)
{
    double end = now_seconds() + seconds;
    while (!done()) {
        if (now_seconds() > end)
            return false;
        while (XtAppPending(app_context))
            XtAppProcessEvent(app_context, XtIMAll);
        XFlush(display);
        usleep(10000);
    }
    return true;
}

/* Runs the event loop for seconds. */
inline void pump_for(double seconds)
{
    pump_until([] { return false; }, seconds);
}

/* Text of a compound string resource (labelString, messageString ...). */
inline std::string xmstring_resource(Widget w, const char* resource)
{
    XmString s = nullptr;
    XtVaGetValues(w, resource, &s, NULL);
    if (!s)
        return "";
    char* text = (char*)XmStringUnparse(s, nullptr, XmCHARSET_TEXT, XmCHARSET_TEXT,
                                        nullptr, 0, XmOUTPUT_ALL);
    std::string out = text ? text : "";
    XtFree(text);
    XmStringFree(s);
    return out;
}

inline std::string status_text()
{
    return xmstring_resource(main_window->mw_message_label, XmNlabelString);
}

/* Runs f from the event loop after ms milliseconds: the way a test acts
 * while a blocking dialog holds its caller. */
inline void after(unsigned long ms, std::function<void()> f)
{
    auto* held = new std::function<void()>(std::move(f));
    XtAppAddTimeOut(app_context, ms, [](XtPointer p, XtIntervalId*) {
        auto* fn = (std::function<void()>*)p;
        (*fn)();
        delete fn;
    }, held);
}

#endif /* TESTS_UI_GUI_FIXTURE_H */
