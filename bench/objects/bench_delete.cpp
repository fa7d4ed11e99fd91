/*
 * bench_delete.cpp - Edit > Delete of a container of N leaves (10,000 by
 * default), shown open in the navigator, against a real qx_mis seeded with
 * it.  Each round times:
 *   counting  get_num_objs of the container alone: the descendants counted
 *             as the report needs them (one derivation per leaf);
 *   total     delete_object_cb with its question and report answered at
 *             once, from the press until the report is up: the question's
 *             child count, the count again and the server's deletion;
 *   deletion  total less the counting: the request and the server's work,
 *             and the OBJECT_DESTROYED events the loop handles while the
 *             request waits (the navigator drops most rows inside it);
 *   events    from the report until the registry and the navigator have
 *             dropped every deleted object and the outline has settled.
 * Each phase also prints the editor's own processor time (cpu), which a
 * machine shared with other work leaves steadier than the clock.
 * Prints the figures; asserts nothing.  Needs a display (DISPLAY).
 *
 *     bench_delete [-r ROUNDS] [N]
 */
#include "gui_fixture.h" /* first: gtest before the X headers */

#include <Xm/MessageB.h>
#include <Xm/PushB.h>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <ctime>
#include <string>

#include "../bench_network.h"
#include "XiOutlineP.h"
#include "core/globals.h"
#include "mis_process.h"
#include "objects/objects_internal.h"
#include "tree/data_object.h"
#include "tree/navigator.h"
#include "ui/dialogs.h"
#include "ui/main_win.h"

using namespace qxbench;

/* Processor time of this process, in milliseconds. */
static double cpu_ms()
{
    timespec ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

static std::string container(int round)
{
    return log_fdn("round" + std::to_string(round));
}

static void write_network(const std::string& path, int n, int rounds)
{
    std::vector<std::pair<std::string, int>> logs;
    for (int r = 0; r < rounds; r++) logs.emplace_back("round" + std::to_string(r), n);
    write_log_network(path, logs);
}

static void wake(XtPointer, XtIntervalId*) {}

/* Runs the loop until the outline has placed what it had pending and no
 * event is left. */
static void settle()
{
    Widget outline = main_window->mw_navigator;
    auto t = Clock::now();
    while (((XiOutlineWidget)outline)->outline.work_id != 0 || XtAppPending(app_context)) {
        if (ms_since(t) > 120000) return;
        if (!XtAppPending(app_context)) XtAppAddTimeOut(app_context, 1, wake, nullptr);
        XtAppProcessEvent(app_context, XtIMAll);
    }
}

static void press(Widget mb, unsigned char which)
{
    XmPushButtonCallbackStruct cbs = {};
    cbs.reason = XmCR_ACTIVATE;
    XtCallCallbacks(XmMessageBoxGetChild(mb, which), XmNactivateCallback, &cbs);
}

/* The container of round r, shown and opened in the navigator as a click on
 * its folder does; selected. */
static DataObject* show_open(int r)
{
    DataObject::selected_list.clear();
    DataObject::object_list.clear_and_destroy();
    CurrentCookie++;
    settle();
    auto* obj = new DataObject(container(r).c_str());
    obj->parent_name = intern_name("/systemId=\"bench\"");
    DataObject::object_list.insert(obj);
    obj->display(0);
    settle();
    open_object(obj);
    settle();
    DataObject::selected_list.append(obj);
    return obj;
}

int main(int argc, char** argv)
{
    int n = 10000, rounds = 3;
    for (int i = 1; i < argc; i++) {
        if (strcmp(argv[i], "-r") == 0 && i + 1 < argc)
            rounds = std::max(1, atoi(argv[++i]));
        else if (atoi(argv[i]) > 0)
            n = atoi(argv[i]);
        else {
            fprintf(stderr, "usage: bench_delete [-r ROUNDS] [N]\n");
            return 2;
        }
    }
    if (!gui_up()) {
        printf("bench_delete: no display (set DISPLAY)\n");
        return 0;
    }
    char tmpl[] = "/tmp/bench_delete.XXXXXX";
    if (!mkdtemp(tmpl)) return 1;
    std::string net = std::string(tmpl) + "/network.txt";
    write_network(net, n, rounds);
    qxtest::MisProcess mis;
    if (!mis.start({"--seed", net})) {
        printf("qx_mis: %s\n", mis.failure().c_str());
        return 1;
    }
    if (!platform.connect(DataUnit(mis.address().c_str()), DataUnit("bench_delete"), 30)) {
        printf("connect: %s\n", platform.get_error_string());
        return 1;
    }
    XtRealizeWidget(main_window->shell());
    pump_for(0.3);

    for (int r = 0; r < rounds; r++) {
        DataObject* obj = show_open(r);
        size_t shown = DataObject::object_list.entries();

        auto t = Clock::now();
        double c0 = cpu_ms();
        int counted = get_num_objs(obj);
        double counting = ms_since(t), counting_cpu = cpu_ms() - c0;

        /* The question is answered, and the report read, as soon as they are up. */
        std::string report;
        Clock::time_point reported;
        bool done = false;
        std::function<void()> answer = [&] {
            if (current_question_dialog && XtIsManaged(*current_question_dialog->getwidget()))
                press(*current_question_dialog->getwidget(), XmDIALOG_OK_BUTTON);
            else if (!done)
                after(1, answer);
        };
        after(1, answer);
        t = Clock::now();
        c0 = cpu_ms();
        main_window->delete_object_cb(main_window->mw_delete_button, nullptr);
        done = true;
        reported = Clock::now();
        double total = ms_since(t), total_cpu = cpu_ms() - c0;
        c0 = cpu_ms();
        report = xmstring_resource(main_window->mw_message_label, XmNlabelString);

        /* The container itself stays registered: nothing here derived its
         * parent, so no subscription reports its own removal. */
        auto dropped = [] { return DataObject::object_list.entries() <= 1; };
        auto te = Clock::now();
        while (!dropped() && ms_since(te) < 60000) {
            if (!XtAppPending(app_context)) XtAppAddTimeOut(app_context, 1, wake, nullptr);
            XtAppProcessEvent(app_context, XtIMAll);
        }
        settle();
        double events = ms_since(reported), events_cpu = cpu_ms() - c0;
        if (current_information_dialog)
            press(*current_information_dialog->getwidget(), XmDIALOG_OK_BUTTON);
        printf("delete %d leaves (round %d, %zu objects shown): counting %.0f ms (%d), "
               "deletion %.0f ms, events %.0f ms; press to report %.0f ms, to navigator "
               "dropped %.0f ms; editor cpu: counting %.0f ms, deletion %.0f ms, events %.0f "
               "ms; report \"%s\"%s\n",
               n, r + 1, shown, counting, counted, total - counting, events, total, total + events,
               counting_cpu, total_cpu - counting_cpu, events_cpu, report.c_str(),
               dropped() ? "" : " (not all dropped)");
    }
    platform.disconnect();
    std::string rm = std::string("rm -rf '") + tmpl + "'";
    return system(rm.c_str()) == 0 ? 0 : 1;
}
