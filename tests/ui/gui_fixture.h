/*
 * gui_fixture.h - brings the editor's toolkit side up once per test program
 * (initialize_gui on the DISPLAY of the environment), pumps its event loop
 * and reads widgets.
 */
#ifndef TESTS_UI_GUI_FIXTURE_H
#define TESTS_UI_GUI_FIXTURE_H

#include <gtest/gtest.h>

#include <Xm/PushB.h>
#include <Xm/Text.h>
#include <Xm/Xm.h>
#include <X11/Shell.h>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <unistd.h>

#include "XiOutlineP.h"
#include "app/startup.h"
#include "kvl/kvl.h"
#include "core/globals.h"
#include "ui/dialogs.h"
#include "ui/main_win.h"

/* Starts the GUI on first use, the main shell titled with host; false when
 * there is no display. */
inline bool gui_up(const char* host = "test-host")
{
    static int state = 0; /* 0 not tried, 1 up, -1 no display */
    if (state == 0 && !getenv("DISPLAY")) state = -1;
    if (state == 0) {
        static char name[] = "qx_tarn_test";
        static char* argv[] = {name, nullptr};
        platform_host = strdup(host);
        initialize_gui(1, argv);
        state = 1;
    }
    return state == 1;
}

#define REQUIRE_GUI()                                                                              \
    do {                                                                                           \
        if (!gui_up()) GTEST_SKIP() << "no X display";                                             \
    } while (0)

/* Runs the event loop until done() holds or seconds pass; true when it held. */
inline bool pump_until(const std::function<bool()>& done, double seconds)
{
    auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        while (XtAppPending(app_context)) XtAppProcessEvent(app_context, XtIMAll);
        XFlush(display);
        usleep(10000);
    }
    return true;
}

/* Runs the event loop until the display has answered every request made so
 * far, no event, due timer or ready input is left and the navigator has
 * placed every row it queued: what a test waits for after an action whose
 * effects come back through the display (mapping, stacking, geometry,
 * focus, rows).  The outline places rows from a work procedure, which Xt
 * runs only while it would block, hence the wake-up timer.  At most 10 s. */
inline void pump_settled()
{
    Widget outline = main_window ? main_window->mw_navigator : nullptr;
    auto placing = [&] { return outline && ((XiOutlineWidget)outline)->outline.work_id != 0; };
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < end) {
        XSync(display, False);
        if (!XtAppPending(app_context)) {
            if (!placing()) return;
            XtAppAddTimeOut(app_context, 1, [](XtPointer, XtIntervalId*) {}, nullptr);
        }
        XtAppProcessEvent(app_context, XtIMAll);
    }
}

/* Waits until the editor has taken in every report the server sent it so
 * far: a request of its own answered (the server writes a client's reports
 * in order with its replies), then the loop settled, for the reports that
 * came during the wait and were put off.  False when fdn was not answered. */
inline bool sync_with_server(const char* fdn)
{
    Image probe{DataUnit(fdn), DataUnit()};
    bool answered = probe.boot(10);
    pump_settled();
    return answered;
}

/* Runs the event loop for a fixed time: only for a test that shows that
 * something does NOT happen, where no condition can end the wait. */
inline void pump_for(double seconds)
{
    pump_until([] { return false; }, seconds);
}

/* The text of a compound string. */
inline std::string xmstring_text(XmString s)
{
    char* text = s ? (char*)XmStringUnparse(s, nullptr, XmCHARSET_TEXT, XmCHARSET_TEXT, nullptr, 0,
                                            XmOUTPUT_ALL)
                   : nullptr;
    std::string out = text ? text : "";
    XtFree(text);
    return out;
}

/* Text of a compound-string resource (labelString, messageString ...). */
inline std::string xmstring_resource(Widget w, const char* resource)
{
    XmString s = nullptr;
    XtVaGetValues(w, resource, &s, NULL);
    std::string out = xmstring_text(s);
    XmStringFree(s);
    return out;
}

/* The message a dialog shows. */
inline std::string dialog_message(AppsDialogBox* box)
{
    return xmstring_resource(*box->getwidget(), XmNmessageString);
}

/* Runs a button's activate callbacks as a click ends. */
inline void press(Widget button)
{
    XmPushButtonCallbackStruct cbs = {};
    cbs.reason = XmCR_ACTIVATE;
    cbs.click_count = 1;
    XtCallCallbacks(button, XmNactivateCallback, &cbs);
}

inline bool viewable(Widget w)
{
    if (!XtWindow(w)) return false;
    XWindowAttributes a;
    XGetWindowAttributes(display, XtWindow(w), &a);
    return a.map_state == IsViewable;
}

/* Closes a shell as the window manager's close does: WM_DELETE_WINDOW. */
inline void close_from_window_manager(Widget shell)
{
    XEvent ev = {};
    ev.xclient.type = ClientMessage;
    ev.xclient.window = XtWindow(shell);
    ev.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    ev.xclient.format = 32;
    ev.xclient.data.l[0] = XInternAtom(display, "WM_DELETE_WINDOW", False);
    ev.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, ev.xclient.window, False, NoEventMask, &ev);
}

/* A key press of sym on w's window, as the X server sends one. */
inline XEvent key_event(Widget w, KeySym sym)
{
    XEvent ev = {};
    ev.xkey.type = KeyPress;
    ev.xkey.display = XtDisplay(w);
    ev.xkey.window = XtWindow(w);
    ev.xkey.root = RootWindowOfScreen(XtScreen(w));
    ev.xkey.keycode = XKeysymToKeycode(XtDisplay(w), sym);
    ev.xkey.same_screen = True;
    ev.xkey.time = CurrentTime;
    return ev;
}

/* A resource of w.  In a namespace of its own: argument-dependent lookup
 * on Widget would otherwise make it collide with a test's own. */
namespace qxtest {
/* The text of a text or text-field widget. */
inline std::string text_of(Widget w)
{
    char* s = XmTextGetString(w);
    std::string out = s ? s : "";
    XtFree(s);
    return out;
}

template <typename T> T resource(Widget w, const char* name)
{
    T value = T();
    XtVaGetValues(w, name, &value, NULL);
    return value;
}
} // namespace qxtest

/* The descendant of top named name, or null. */
inline Widget child_named(Widget top, const std::string& name)
{
    return XtNameToWidget(top, ("*" + name).c_str());
}

/* Position of a top-level window among the root's children (higher is in
 * front; -1 when not there). */
inline int stacking(Widget shell)
{
    Window r, p, *kids = nullptr;
    unsigned n = 0;
    XQueryTree(display, DefaultRootWindow(display), &r, &p, &kids, &n);
    int at = -1;
    for (unsigned i = 0; i < n; i++)
        if (kids[i] == XtWindow(shell)) at = (int)i;
    XFree(kids);
    return at;
}

inline std::string status_text()
{
    return xmstring_resource(main_window->mw_message_label, XmNlabelString);
}

/* Runs f from the event loop after ms milliseconds: how a test acts while a
 * blocking dialog holds its caller. */
inline void after(unsigned long ms, std::function<void()> f)
{
    XtAppAddTimeOut(
        app_context, ms,
        [](XtPointer p, XtIntervalId*) {
            auto* fn = (std::function<void()>*)p;
            (*fn)();
            delete fn;
        },
        new std::function<void()>(std::move(f)));
}

/* Runs f from the event loop once ready() holds, looking every 10 ms: how a
 * test answers a blocking dialog as soon as it is up. */
inline void once(std::function<bool()> ready, std::function<void()> f)
{
    after(10, [ready = std::move(ready), f = std::move(f)]() mutable {
        if (ready())
            f();
        else
            once(std::move(ready), std::move(f));
    });
}

#endif /* TESTS_UI_GUI_FIXTURE_H */
