/*
 * bench_outline.cpp - how long the outline takes per node when nodes are
 * added one at a time (a layout after each) and in one batch (refigureMode
 * off while adding, one layout at the end), for 1,000 and 10,000 nodes.
 *
 *     qx_bench_outline [N ...]        (needs DISPLAY; default 1000 10000)
 *
 * The nodes are push buttons, closed, below one open node, as the editor
 * makes them, in a scrolled window.  "placing" is the time the work
 * procedure then takes to move and map the rows that fit in the widget.
 *
 * "scrolling" is the batch again in an outline that scrolls itself (as the
 * editor's navigator does): only the rows in view are placed.  "widgets
 * alone" creates, for each node, the same push button and a folder icon
 * button in a plain form, unmanaged: what the two widgets of a row cost
 * before the outline does anything.
 *
 * The container matters: with the scrolled window as the shell's own child
 * and the keyboard focus inside the outline, Motif's traversal checks every
 * child with a server round trip on each resize of the outline (about 47 ms
 * a node at 1,000 nodes).  Inside a form, as in the editor, it does not.
 */
#include <Xm/PushB.h>
#include <Xm/Form.h>
#include <Xm/ScrollBar.h>
#include <Xm/ScrolledW.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "XiIconButton.h"
#include "XiOutlineP.h"

static XtAppContext app;
static Display* display;

static double now_ms()
{
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

struct Stage {
    Widget shell, outline, root;
};

static Stage make_stage(bool self_scrolling = false)
{
    Stage s;
    Arg args[2];
    XtSetArg(args[0], XmNwidth, 600);
    XtSetArg(args[1], XmNheight, 800);
    s.shell = XtAppCreateShell("bench", "QxBench", applicationShellWidgetClass, display, args, 2);
    /* Shell, form, scrolled window, outline: as the editor's main window
     * holds its navigator. */
    Widget form = XtVaCreateManagedWidget("form", xmFormWidgetClass, s.shell, NULL);
    Widget sw = XtVaCreateManagedWidget("sw", xmScrolledWindowWidgetClass, form, XmNscrollingPolicy,
                                        self_scrolling ? XmAPPLICATION_DEFINED : XmAUTOMATIC,
                                        XmNtopAttachment, XmATTACH_FORM, XmNbottomAttachment,
                                        XmATTACH_FORM, XmNleftAttachment, XmATTACH_FORM,
                                        XmNrightAttachment, XmATTACH_FORM, NULL);
    if (self_scrolling) {
        Widget h = XtVaCreateManagedWidget("h", xmScrollBarWidgetClass, sw, XmNorientation,
                                           XmHORIZONTAL, NULL);
        Widget v = XtVaCreateManagedWidget("v", xmScrollBarWidgetClass, sw, XmNorientation,
                                           XmVERTICAL, NULL);
        s.outline =
            XtVaCreateManagedWidget("outline", xiOutlineWidgetClass, sw, XmNverticalScrollBar, v,
                                    XmNhorizontalScrollBar, h, NULL);
        XmScrolledWindowSetAreas(sw, h, v, s.outline);
    } else {
        s.outline = XtVaCreateManagedWidget("outline", xiOutlineWidgetClass, sw, NULL);
    }
    s.root = XtVaCreateManagedWidget("root", xmPushButtonWidgetClass, s.outline, XiNnodeState,
                                     XiOpen, NULL);
    XtRealizeWidget(s.shell);
    /* As in a running program, the window has the keyboard focus. */
    XSetInputFocus(display, XtWindow(s.shell), RevertToParent, CurrentTime);
    XmProcessTraversal(s.root, XmTRAVERSE_CURRENT);
    return s;
}

static Widget add_node(const Stage& s, int i)
{
    char name[32];
    snprintf(name, sizeof name, "node%05d", i);
    return XtVaCreateManagedWidget(name, xmPushButtonWidgetClass, s.outline, XiNparentNode, s.root,
                                   XiNnodeState, XiClosed, XmNshadowThickness, 0,
                                   XmNhighlightThickness, 0, NULL);
}

/* Work procedures run only while XtAppNextEvent waits for an X event; a
 * short timer sends one to a window of our own so that the wait ends once
 * the placing is done. */
static Window wake_window;

static void wake(XtPointer, XtIntervalId*)
{
    XEvent ev = {};
    ev.xclient.type = ClientMessage;
    ev.xclient.window = wake_window;
    ev.xclient.format = 8;
    XSendEvent(display, wake_window, False, NoEventMask, &ev);
    XFlush(display);
}

/* Run the toolkit until the placing work procedure is done. */
static void drain(const Stage& s)
{
    XiOutlineWidget ow = (XiOutlineWidget)s.outline;
    XSync(display, False);
    while (XtAppPending(app) & XtIMXEvent) XtAppProcessEvent(app, XtIMXEvent);
    while (ow->outline.work_id != 0) {
        XtIntervalId id = XtAppAddTimeOut(app, 2, wake, NULL);
        XEvent ev;
        XtAppNextEvent(app, &ev);
        XtDispatchEvent(&ev);
        XtRemoveTimeOut(id);
    }
    XSync(display, False);
    while (XtAppPending(app) & XtIMXEvent) XtAppProcessEvent(app, XtIMXEvent);
}

static void report(const char* how, int n, double add_ms, double place_ms)
{
    printf("%-10s %6d nodes: %9.1f ms adding, %8.1f us per node; placing %7.1f ms\n", how, n,
           add_ms, 1000.0 * add_ms / n, place_ms);
    fflush(stdout);
}

static void one_by_one(int n)
{
    Stage s = make_stage();
    drain(s);
    double t0 = now_ms();
    for (int i = 0; i < n; i++) add_node(s, i);
    double t1 = now_ms();
    drain(s);
    double t2 = now_ms();
    report("one by one", n, t1 - t0, t2 - t1);
    XtDestroyWidget(s.shell);
}

static void batch(int n, bool self_scrolling)
{
    Stage s = make_stage(self_scrolling);
    drain(s);
    double t0 = now_ms();
    XtVaSetValues(s.outline, XiNrefigureMode, False, NULL);
    for (int i = 0; i < n; i++) add_node(s, i);
    XtVaSetValues(s.outline, XiNrefigureMode, True, NULL);
    double t1 = now_ms();
    drain(s);
    double t2 = now_ms();
    report(self_scrolling ? "scrolling" : "batch", n, t1 - t0, t2 - t1);
    XtDestroyWidget(s.shell);
}

static void widgets_alone(int n)
{
    Widget shell =
        XtAppCreateShell("bench", "QxBench", applicationShellWidgetClass, display, NULL, 0);
    Widget form = XtVaCreateManagedWidget("form", xmFormWidgetClass, shell, NULL);
    XtRealizeWidget(shell);
    double t0 = now_ms();
    for (int i = 0; i < n; i++) {
        char name[32];
        snprintf(name, sizeof name, "node%05d", i);
        XtVaCreateWidget(name, xmPushButtonWidgetClass, form, XmNshadowThickness, 0,
                         XmNhighlightThickness, 0, NULL);
        XtVaCreateWidget("openAndClose", xiIconButtonWidgetClass, form, XiNiconPlacement,
                         XiIconOnly, NULL);
    }
    double t1 = now_ms();
    printf("%-13s %6d nodes: %6.1f ms, %8.1f us per node\n", "widgets alone", n, t1 - t0,
           1000.0 * (t1 - t0) / n);
    fflush(stdout);
    XtDestroyWidget(shell);
}

int main(int argc, char** argv)
{
    XtToolkitInitialize();
    app = XtCreateApplicationContext();
    int xt_argc = 0;
    display = XtOpenDisplay(app, NULL, "qx_bench_outline", "QxBench", NULL, 0, &xt_argc, NULL);
    if (display == NULL) {
        fprintf(stderr, "qx_bench_outline: cannot open the display\n");
        return 1;
    }
    wake_window = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 1, 1, 0, 0, 0);
    std::vector<int> sizes;
    for (int i = 1; i < argc; i++) sizes.push_back(atoi(argv[i]));
    if (sizes.empty()) sizes = {1000, 10000};
    for (int n : sizes) {
        one_by_one(n);
        batch(n, false);
        batch(n, true);
        widgets_alone(n);
    }
    return 0;
}
