#include "widget_test_env.h"

#include <Xm/Xm.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

static XtAppContext the_app;
static Display* the_display;
static std::vector<RecordedWarning> recorded;

static void record_warning(String name, String type, String klass, String defaultp, String* params,
                           Cardinal* num_params)
{
    char text[1024];
    const char* p[4] = {"", "", "", ""};
    for (Cardinal i = 0; num_params && params && i < *num_params && i < 4; i++) p[i] = params[i];
        /* Xt hands the warning's text as a printf format with up to four string arguments,
         * as XtWarningMsg formats it itself. */
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    snprintf(text, sizeof text, defaultp ? defaultp : "", p[0], p[1], p[2], p[3]);
#pragma GCC diagnostic pop
    recorded.push_back({name ? name : "", type ? type : "", klass ? klass : "", text});
}

/* Plain warnings (XtAppWarning, XmeWarning) carry only their text. */
static void record_plain_warning(String message)
{
    recorded.push_back({"", "", "", message ? message : ""});
}

static void open_display()
{
    if (the_display != nullptr) return;
    XtToolkitInitialize();
    the_app = XtCreateApplicationContext();
    XtAppSetWarningMsgHandler(the_app, record_warning);
    XtAppSetWarningHandler(the_app, record_plain_warning);
    int argc = 0;
    the_display = XtOpenDisplay(the_app, nullptr, "qx_widget_tests", "QxWidgetTests", nullptr, 0,
                                &argc, nullptr);
    if (the_display == nullptr) {
        fprintf(stderr, "qx_widget_tests: cannot open the display (is DISPLAY set?)\n");
        exit(1);
    }
}

XtAppContext WidgetTest::app()
{
    open_display();
    return the_app;
}

Display* WidgetTest::display()
{
    open_display();
    return the_display;
}

Widget WidgetTest::shell(int width, int height)
{
    Arg args[2];
    XtSetArg(args[0], XmNwidth, width);
    XtSetArg(args[1], XmNheight, height);
    return XtAppCreateShell("test", "QxWidgetTests", applicationShellWidgetClass, display(), args,
                            2);
}

/* Work procedures run only while XtAppNextEvent waits, and it returns only
 * with an X event; the end of a settle therefore sends one to a window of
 * our own. */
static Window wake_window;

static void settled(XtPointer client_data, XtIntervalId*)
{
    *(bool*)client_data = true;
    XEvent ev = {};
    ev.xclient.type = ClientMessage;
    ev.xclient.window = wake_window;
    ev.xclient.format = 8;
    XSendEvent(the_display, wake_window, False, NoEventMask, &ev);
    XFlush(the_display);
}

void WidgetTest::settle(unsigned long ms)
{
    Display* d = display();
    if (wake_window == None)
        wake_window = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, 1, 1, 0, 0, 0);
    bool done = false;
    XSync(d, False);
    XtAppAddTimeOut(app(), ms, settled, &done);
    while (!done) {
        XEvent ev;
        XtAppNextEvent(app(), &ev);
        XtDispatchEvent(&ev);
    }
}

bool WidgetTest::settle_until(const std::function<bool()>& done, double seconds)
{
    auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        settle(10);
    }
    return true;
}

std::vector<RecordedWarning>& WidgetTest::warnings()
{
    return recorded;
}

int WidgetTest::count_warnings(const char* name)
{
    int n = 0;
    for (const RecordedWarning& w : recorded)
        if (w.name == name) n++;
    return n;
}
