/*
 * widget_test_env.h - one display and application context shared by the
 * widget tests, a warning recorder, and helpers to let the toolkit run.
 */
#ifndef QX_WIDGET_TEST_ENV_H
#define QX_WIDGET_TEST_ENV_H

#include <X11/IntrinsicP.h>
#include <X11/CoreP.h>
#include <X11/CompositeP.h>

#include <functional>
#include <string>
#include <vector>

struct RecordedWarning {
    std::string name, type, klass, text;
};

class WidgetTest {
public:
    static XtAppContext app();
    static Display* display();

    /* A new application shell of the given size (not realized). */
    static Widget shell(int width = 400, int height = 400);

    /* Run the toolkit (events, timers, work procedures) for a while. */
    static void settle(unsigned long ms = 30);
    /* Runs it until done() holds or seconds pass; true when it held. */
    static bool settle_until(const std::function<bool()>& done, double seconds);

    /* Warnings issued since the last clear. */
    static std::vector<RecordedWarning>& warnings();
    static int count_warnings(const char* name);
};

/* A resource of w. */
template <typename T> T resource(Widget w, const char* name)
{
    T value = T();
    XtVaGetValues(w, name, &value, NULL);
    return value;
}

#endif
