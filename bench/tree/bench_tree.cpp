/*
 * bench_tree.cpp - opening a node of 1,000 and of 10,000 children in the
 * navigator, against a real qx_mis seeded with such containers.
 *
 * For each size it times (best of three):
 *   library  an Album derived with the same derivation string, every child's
 *            name read: what the library alone needs;
 *   editor   node_state_cb opening the container's node until the outline's
 *            work procedure has placed every child's row;
 * and prints both, their ratio, the client's heap growth per child object
 * (DataObject, row record, album entry) and what the outline shows of the
 * rows at the end, before and after scrolling to the last row.  The
 * navigator has widgets only for the rows in view, so "every row placed"
 * is the view filled.  Then: dropping the tree, closing and reopening the
 * container, bursts of creations and deletions by another client, and the
 * X windows the editor holds (counted with XQueryTree).  At the end the
 * goals and the figures side by side.  Asserts nothing.  Needs a display
 * (DISPLAY).
 *
 *     bench_tree [-r ROUNDS] [-o] [-s PNG] [N ...]
 *
 * N: the sizes (10000 and 100000 by default; each gets a container on the
 * server).  -r: rounds of the opening (best of them; 3 by default).  -o:
 * the opening only, without the view, the bursts and the model-only run:
 * for profiling the opening.  -s: a screenshot of the display (ImageMagick's
 * import) with the biggest container open and scrolled to its middle row.
 */
#include "gui_fixture.h" /* first: gtest before the X headers */

#include "../bench_network.h"

#include <Xm/PushB.h>
#include <Xm/Xm.h>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <malloc.h>
#include <map>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "core/globals.h"
#include "mis_process.h"
#include "tree/data_object.h"
#include "tree/navigator.h"
#include "ui/main_win.h"
/* Private: the bench waits for the outline's work procedure to finish. */
#include "XiOutlineP.h"
#include <nlohmann/json.hpp>

using qxtest::MisProcess;

using namespace qxbench;

static std::string container(int n)
{
    return log_fdn("log" + std::to_string(n));
}

static void write_network(const std::string& path, const std::vector<int>& sizes)
{
    std::vector<std::pair<std::string, int>> logs;
    for (int n : sizes) logs.emplace_back("log" + std::to_string(n), n);
    write_log_network(path, logs);
}

static void settle(Widget outline);

/* What one size measured, for the goals at the end. */
struct Figures {
    std::string failure; /* why the opening failed; empty when it did not */
    double library = 0, editor = 0, drop = -1, close = -1, reopen = -1;
    double first_rows = -1;      /* ms until the first children had rows */
    long server_growth_kib = -1; /* the server's peak resident memory, less before */
    double created_per_s = -1, deleted_per_s = -1;
    long heap = 0;
    long windows = -1, outline_windows = -1, rows_in_view = -1;
};
static std::map<int, Figures> figures;

/* Windows below w, w not counted. */
static long windows_below(Window w)
{
    Window root_w = 0, parent = 0, *children = nullptr;
    unsigned int n = 0;
    if (!XQueryTree(display, w, &root_w, &parent, &children, &n)) return 0;
    long total = n;
    for (unsigned int i = 0; i < n; i++) total += windows_below(children[i]);
    if (children) XFree(children);
    return total;
}

/* Drops the whole tree, as new preferences do, and runs the toolkit until
 * the events that causes are handled: returns the time taken. */
static double drop_tree()
{
    auto t = Clock::now();
    DataObject::selected_list.clear();
    DataObject::object_list.clear_and_destroy();
    CurrentCookie++;
    XSync(display, False);
    settle(main_window->mw_navigator);
    return ms_since(t);
}

static void reset_tree()
{
    drop_tree();
}

static bool outline_busy(Widget outline)
{
    return ((XiOutlineWidget)outline)->outline.work_id != 0;
}

static void wake(XtPointer, XtIntervalId*) {}

/* Runs the event loop, work procedures included, until the outline has
 * carried out every pending placement (at most 120 s).  A short timer keeps
 * XtAppProcessEvent from blocking when only the work procedure is left. */
static void settle(Widget outline)
{
    auto t = Clock::now();
    while (outline_busy(outline) || XtAppPending(app_context)) {
        if (ms_since(t) > 120000) {
            XiOutlinePart* op = &((XiOutlineWidget)outline)->outline;
            printf("  the outline did not settle: work procedure %lu, queue %u of %u\n",
                   (unsigned long)op->work_id, op->pending.head, op->pending.count);
            return;
        }
        if (!XtAppPending(app_context)) XtAppAddTimeOut(app_context, 1, wake, nullptr);
        XtAppProcessEvent(app_context, XtIMAll);
    }
}

/* The time the library alone takes to derive the container of n children
 * and read every name, in ms; -1 when the derivation failed or names are
 * missing, with the reason printed. */
static double library_alone(int n)
{
    std::string derivation = container(n) + "/*";
    Album album(DataUnit((container(n) + ".bench").c_str()), Platform::def_platform);
    album.set_prop(TRACKMODE, TRACK);
    album.set_derivation(DataUnit(derivation.c_str()));
    /* The editor is timed on a trimmed heap too: both pay for fresh pages. */
    malloc_trim(0);
    auto t = Clock::now();
    bool derived = album.derive(60);
    if (!derived) printf("library: %s\n", album.get_error_string());
    size_t names = 0;
    for (AlbumImage ai = album.first_image(); ai; ai.next_image())
        names += ai->get_objname().length() > 0;
    double ms = ms_since(t);
    if ((int)names != n) printf("library: %zu of %d names\n", names, n);
    return derived && (int)names == n ? ms : -1;
}

/* A fresh tree of the container of n children alone, closed. */
static DataObject* show_container_closed(int n)
{
    reset_tree();
    std::string base = container(n);
    auto* obj = new DataObject(base.c_str());
    obj->parent_name = intern_name("");
    DataObject::object_list.insert(obj);
    obj->display(0);
    settle(main_window->mw_navigator);
    return obj;
}

/* A process's memory from /proc/PID/status in KiB ("VmRSS:" now, "VmHWM:" its peak). */
static long memory_kib(int pid, const char* field)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind(field, 0) == 0) return std::stol(line.substr(strlen(field)));
    return -1;
}

/* Starts a process's peak resident memory afresh from what it holds now, so that
 * VmHWM read later tells the peak of what happened since (and not the seeding). */
static void reset_peak(int pid)
{
    std::ofstream("/proc/" + std::to_string(pid) + "/clear_refs") << "5";
}

/* Watches, every few milliseconds during the opening, for the first rows of
 * the container's children. */
static Clock::time_point first_rows_start;
static double first_rows_ms = -1;
static XtIntervalId first_rows_timer = 0;

static void first_rows_cb(XtPointer, XtIntervalId*)
{
    first_rows_timer = 0;
    if (row_count() > 1) {
        first_rows_ms = ms_since(first_rows_start);
        return;
    }
    first_rows_timer = XtAppAddTimeOut(app_context, 2, first_rows_cb, nullptr);
}

/* Shows the container of n children closed, then opens it as a click on
 * its folder button does: the time until every row is placed, in ms; cb_ms
 * gets the time until the callback returned, heap_per_child the heap
 * growth per child. */
static double open_container(int n, double& cb_ms, long& heap_per_child)
{
    Widget outline = main_window->mw_navigator;
    DataObject* obj = show_container_closed(n);
    malloc_trim(0);
    size_t heap0 = mallinfo2().uordblks;

    auto t = Clock::now();
    first_rows_start = t;
    first_rows_ms = -1;
    first_rows_timer = XtAppAddTimeOut(app_context, 2, first_rows_cb, nullptr);
    show_object_row(obj);
    if (!obj->node) { /* the failure is reported by opening_failure */
        cb_ms = 0;
        return ms_since(t);
    }
    XtVaSetValues(obj->node, XiNnodeState, XiOpen, NULL);
    XiHierarchyNodeStateData data = {obj->node, XiOpen};
    node_state_cb(outline, nullptr, &data);
    cb_ms = ms_since(t);
    settle(outline);
    if (first_rows_timer) XtRemoveTimeOut(first_rows_timer);
    first_rows_timer = 0;
    double ms = ms_since(t);
    heap_per_child = ((long)mallinfo2().uordblks - (long)heap0) / n;
    return ms;
}

/* Why the last opening of the container of n children did not show all of
 * them, or "" when it did: the derivation's error, a lost connection or
 * the count of children the registry holds. */
static std::string opening_failure(int n)
{
    size_t held = DataObject::object_list.entries();
    if ((long)held == (long)n + 1) return std::string();
    std::string why;
    DataObject* box = find_album_object(container(n).c_str());
    if (box && box->album().get_error_type() != 0) why = box->album().get_error_string();
    if (!platform.is_connected()) why += why.empty() ? "connection lost" : " (connection lost)";
    if (why.empty()) why = "no error reported";
    return why + "; the registry holds " + std::to_string(held ? held - 1 : 0) + " of " +
           std::to_string(n) + " children";
}

/* The same opening with no navigator: derivation, DataObjects, registry and
 * the sibling search, but no widgets. */
static double model_only(int n, long& heap_per_object)
{
    Widget outline = main_window->mw_navigator;
    DataObject* obj = show_container_closed(n);
    main_window->mw_navigator = nullptr;
    malloc_trim(0);
    size_t heap0 = mallinfo2().uordblks;
    auto t = Clock::now();
    open_object(obj);
    double ms = ms_since(t);
    heap_per_object = ((long)mallinfo2().uordblks - (long)heap0) / n;
    main_window->mw_navigator = outline;
    reset_tree();
    return ms;
}

/* Another client, on a plain socket: sends `lines` requests at once and
 * leaves the replies to the server's buffers. */
static int other_client_sends(int port, const std::string& lines)
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_port = htons((uint16_t)port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || connect(fd, (sockaddr*)&a, sizeof a) != 0) return -1;
    for (size_t off = 0; off < lines.size();) {
        ssize_t k = write(fd, lines.data() + off, lines.size() - off);
        if (k <= 0) return -1;
        off += (size_t)k;
    }
    return fd;
}

/* The server's process, whose CPU time the bursts report. */
static int mis_pid = 0;

/* CPU time (user and system) of process pid so far, in ms (clock ticks). */
static double cpu_ms(int pid)
{
    std::ifstream f("/proc/" + std::to_string(pid) + "/stat");
    std::string field;
    for (int i = 0; i < 13 && f >> field;) i++; /* pid to cmajflt */
    long user = 0, sys = 0;
    f >> user >> sys;
    return (double)(user + sys) * 1000.0 / (double)sysconf(_SC_CLK_TCK);
}

/* Reads the other client's `count` answers (waiting at most a few seconds
 * for them) and returns the first error among them, or "" when all succeeded. */
static std::string first_refusal(int fd, int count)
{
    std::string text;
    int lines = 0;
    char buf[65536];
    pollfd p{fd, POLLIN, 0};
    while (lines < count && poll(&p, 1, 5000) > 0) {
        ssize_t k = read(fd, buf, sizeof buf);
        if (k <= 0) return "the connection closed after " + std::to_string(lines) + " answers";
        text.append(buf, (size_t)k);
        lines = (int)std::count(text.begin(), text.end(), '\n');
    }
    if (lines < count)
        return "only " + std::to_string(lines) + " of " + std::to_string(count) + " answers came";
    size_t at = text.find("\"error\"");
    if (at == std::string::npos) return "";
    size_t start = text.rfind('\n', at), end = text.find('\n', at);
    return text.substr(start == std::string::npos ? 0 : start + 1,
                       end - (start == std::string::npos ? 0 : start + 1));
}

/* A burst of `count` creations, then of their deletions, by another client
 * under the open container of n children: how long until the navigator
 * shows (and then no longer shows) every one of them. */
static void burst(int port, int n, int count)
{
    Widget outline = main_window->mw_navigator;
    std::string base = container(n);
    size_t before = DataObject::object_list.entries();
    for (int pass = 0; pass < 2; pass++) {
        std::string lines;
        for (int i = 1; i <= count; i++) {
            /* Past every id the container holds, so no creation is refused as a duplicate. */
            std::string id = std::to_string(n + i);
            nlohmann::json request = {{"jsonrpc", "2.0"}, {"id", i}};
            if (pass == 0) {
                request["method"] = "create";
                request["params"] = {
                    {"parent", base}, {"class", "alarmRecord"}, {"values", {{"logRecordId", id}}}};
            } else {
                request["method"] = "delete";
                request["params"] = {{"name", base + "/logRecordId=" + id}};
            }
            lines += request.dump() + "\n";
        }
        size_t want = pass == 0 ? before + count : before;
        double c0 = cpu_ms(getpid()), s0 = cpu_ms(mis_pid);
        auto t = Clock::now();
        int fd = other_client_sends(port, lines);
        if (fd < 0) {
            printf("  burst: cannot reach the server\n");
            return;
        }
        bool done = pump_until([&] { return DataObject::object_list.entries() == want; }, 120);
        settle(outline);
        double ms = ms_since(t);
        double editor_cpu = cpu_ms(getpid()) - c0, server_cpu = cpu_ms(mis_pid) - s0;
        std::string refusal = first_refusal(fd, count);
        close(fd);
        if (!refusal.empty())
            printf("  burst: the server refused a request: %s\n", refusal.c_str());
        size_t shown = 0;
        for (size_t i = 0; i < DataObject::object_list.entries(); i++)
            shown += DataObject::object_list.at(i)->shown;
        printf("  %d %s by another client under %s: %s after %.0f ms (%.0f per second);"
               " %zu rows shown; CPU: editor %.0f ms, server %.0f ms\n",
               count, pass == 0 ? "creations" : "deletions", strrchr(base.c_str(), '/') + 1,
               done ? "all followed" : "NOT all followed", ms, count / (ms / 1000), shown,
               editor_cpu, server_cpu);
        (pass == 0 ? figures[n].created_per_s : figures[n].deleted_per_s) =
            done ? count / (ms / 1000) : 0;
    }
}

/* What a user's single actions cost with the container of n children
 * open and the keyboard focus in the window: a click that selects a row
 * and one that deselects it, closing the container by its folder button
 * and opening it again (its children are all there already). */
static void user_actions(int n)
{
    Widget outline = main_window->mw_navigator;
    XSetInputFocus(display, XtWindow(main_window->shell()), RevertToParent, CurrentTime);
    settle(outline);
    DataObject* obj =
        DataObject::object_list.entries() > 1 ? DataObject::object_list.at(1) : nullptr;
    DataObject* box = find_album_object(container(n).c_str());
    XmPushButtonCallbackStruct cbs = {};
    cbs.reason = XmCR_ACTIVATE;
    cbs.click_count = 1;
    double ms[4];
    for (int step = 0; step < 4; step++) {
        auto t = Clock::now();
        DataObject* target = step < 2 ? obj : box;
        show_object_row(target);
        if (!target || !target->node) {
            printf("  the user's actions: row %s has no widget in view; not measured\n",
                   target && target->name ? target->name : "-");
            return;
        }
        if (step < 2) {
            XtCallCallbacks(obj->node, XmNactivateCallback, &cbs);
        } else {
            Widget folder = XiHierarchyNode(box->node)->hierarchy.open_close_button;
            XtCallCallbacks(folder, XmNactivateCallback, nullptr);
        }
        settle(outline);
        ms[step] = ms_since(t);
    }
    printf("  a click selecting a row %.1f ms, deselecting it %.1f ms; closing the container"
           " %.1f ms, opening it again %.1f ms\n",
           ms[0], ms[1], ms[2], ms[3]);
    figures[n].close = ms[2];
    figures[n].reopen = ms[3];
}

/* With the container of n children open: what the user sees of it, before
 * and after scrolling to the last row; bursts of creations and deletions by
 * another client; then the same opening without a navigator. */
static void after_opening(int port, int n, double best_lib)
{
    Widget outline = main_window->mw_navigator;
    /* What the user has: the outline's size and the rows actually on
     * the screen (mapped), in their order; then the same after
     * scrolling to the last row. */
    for (int pass = 0; pass < 2; pass++) {
        if (pass == 1) {
            size_t last = DataObject::object_list.entries() - 1;
            show_object_row(DataObject::object_list.at(last));
            settle(outline);
        }
        Dimension h = 0;
        XtVaGetValues(outline, XmNheight, &h, NULL);
        int mapped = 0, first_mapped = -1, last_mapped = -1, max_y = 0;
        Dimension rh = 0;
        for (size_t i = 1; i < DataObject::object_list.entries(); i++) {
            Widget node = DataObject::object_list.at(i)->node;
            XWindowAttributes wa;
            if (node && XtWindow(node) && XGetWindowAttributes(display, XtWindow(node), &wa) &&
                wa.map_state != IsUnmapped) {
                mapped++;
                if (first_mapped < 0) first_mapped = (int)i;
                last_mapped = (int)i;
                max_y = std::max(max_y, wa.y);
                rh = (Dimension)wa.height;
            }
        }
        auto rdn = [](int i) {
            return i > 0 ? strrchr(DataObject::object_list.at(i)->name, '/') + 1 : "-";
        };
        printf("  %s: outline %u px high; %d of %d rows mapped, rows %d (%s) to %d (%s),"
               " the last at y=%d; rows are %u px\n",
               pass == 0 ? "opened" : "scrolled to the end", h, mapped, n, first_mapped,
               rdn(first_mapped), last_mapped, rdn(last_mapped), max_y, rh);
    }
    /* The windows the editor holds with every row open: all of them below
     * the main window's shell, and those of the navigator. */
    XSync(display, False);
    Figures& f = figures[n];
    f.windows = windows_below(XtWindow(main_window->shell()));
    f.outline_windows = windows_below(XtWindow(outline));
    f.rows_in_view = ((XiOutlineWidget)outline)->outline.rows_in_view;
    printf("  X windows with %d rows open: %ld in the main window, %ld of them in the navigator"
           " (%ld rows in view)\n",
           n, f.windows, f.outline_windows, f.rows_in_view);
    user_actions(n);
    burst(port, n, 2000);
    /* By now Motif has listed the window's widgets for keyboard traversal. */
    printf("  (dropping the tree after the bursts takes %.0f ms)\n", drop_tree());
    long model_heap = 0;
    double model = model_only(n, model_heap);
    printf("  the same opening without a navigator (derivation, objects, registry, sibling search):"
           " %.2f ms, %.2f ms more than the library alone; %ld bytes per child\n",
           model, model - best_lib, model_heap);
}

static std::string figure(double v, int decimals, const char* unit = "")
{
    if (v < 0) return "-";
    char text[64];
    snprintf(text, sizeof text, "%.*f%s", decimals, v, unit);
    return text;
}

/* The goals and what this run measured, side by side. */
static void print_goals()
{
    printf("\n%-58s %-14s %s\n", "goal", "wanted", "measured");
    for (auto& [n, f] : figures) {
        std::string size = std::to_string(n);
        auto line = [](const std::string& what, const char* want, const std::string& got) {
            printf("%-58s %-14s %s\n", what.c_str(), want, got.c_str());
        };
        if (!f.failure.empty()) {
            line("open " + size + " children", "all shown", "FAILED: " + f.failure);
            continue;
        }
        line("open " + size + " children: editor / library alone", "<= 2.0",
             figure(f.editor / f.library, 2) + " (" + figure(f.editor, 0) + " / " +
                 figure(f.library, 0) + " ms)");
        /* A million children may take twice as long as the sizes a peer opens at all. */
        line("open " + size + " children: time", n >= 1000000 ? "< 3000 ms" : "< 1500 ms",
             figure(f.editor, 0, " ms"));
        line("open " + size + " children: first rows", "< 200 ms", figure(f.first_rows, 0, " ms"));
        line("open " + size + " children: server memory growth", "< 150 MB",
             figure((double)f.server_growth_kib / 1024, 0, " MiB"));
        line("open " + size + " children: client heap per child", "< 1024 B",
             figure((double)f.heap, 0, " B"));
        line("drop a tree of " + size + " rows", "< 500 ms", figure(f.drop, 0, " ms"));
        line("close the container of " + size, "< 50 ms", figure(f.close, 1, " ms"));
        line("reopen the container of " + size, "< 50 ms", figure(f.reopen, 1, " ms"));
        line("2,000 creations by another client under " + size, ">= 10000/s",
             figure(f.created_per_s, 0, "/s"));
        line("2,000 deletions by another client under " + size, ">= 10000/s",
             figure(f.deleted_per_s, 0, "/s"));
        line("X windows held with " + size + " rows open (navigator)", "rows in view",
             figure((double)f.windows, 0) + " (" + figure((double)f.outline_windows, 0) + "; " +
                 figure((double)f.rows_in_view, 0) + " rows in view)");
    }
}

/* The container of n children open, scrolled to its middle row, and the
 * whole screen written to png by import. */
static void screenshot(int n, const char* png)
{
    double cb_ms = 0;
    long heap = 0;
    open_container(n, cb_ms, heap);
    DataObject* middle = row_object((size_t)n / 2);
    show_object_row(middle);
    if (middle && middle->node) XmProcessTraversal(middle->node, XmTRAVERSE_CURRENT);
    pump_for(0.5);
    XSync(display, False);
    const char* args[] = {"import", "-window", "root", png, nullptr};
    pid_t pid = 0;
    int err = posix_spawnp(&pid, "import", nullptr, nullptr, const_cast<char**>(args), environ);
    int status = 0;
    if (err != 0)
        printf("screenshot: cannot start import: %s\n", strerror(err));
    else if (waitpid(pid, &status, 0) < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        printf("screenshot: import failed\n");
    else
        printf("screenshot of %d rows scrolled to row %d (%s) in %s\n", n, n / 2,
               middle ? middle->name : "-", png);
}

int main(int argc, char** argv)
{
    std::vector<int> sizes;
    int rounds = 3;
    bool open_only = false;
    const char* shot = nullptr;
    for (int i = 1; i < argc; i++) {
        if (strcmp(argv[i], "-r") == 0 && i + 1 < argc)
            rounds = std::max(1, atoi(argv[++i]));
        else if (strcmp(argv[i], "-o") == 0)
            open_only = true;
        else if (strcmp(argv[i], "-s") == 0 && i + 1 < argc)
            shot = argv[++i];
        else if (atoi(argv[i]) > 0)
            sizes.push_back(atoi(argv[i]));
        else {
            fprintf(stderr, "usage: bench_tree [-r ROUNDS] [-o] [-s PNG] [N ...]\n");
            return 2;
        }
    }
    if (sizes.empty()) sizes = {10000, 100000};
    if (!gui_up()) {
        printf("bench_tree: no display (set DISPLAY)\n");
        return 0;
    }
    char tmpl[] = "/tmp/bench_tree.XXXXXX";
    if (!mkdtemp(tmpl)) return 1;
    std::string net = std::string(tmpl) + "/network.txt";
    write_network(net, sizes);
    MisProcess mis;
    /* Seeding a million objects takes minutes on a loaded machine. */
    mis.start_wait_seconds = 3600;
    if (!mis.start({"--seed", net})) {
        printf("qx_mis: %s\n", mis.failure().c_str());
        return 1;
    }
    mis_pid = mis.pid();
    if (!platform.connect(DataUnit(mis.address().c_str()), DataUnit("bench_tree"), 30)) {
        printf("connect: %s\n", platform.get_error_string());
        return 1;
    }
    XtRealizeWidget(main_window->shell());
    pump_for(0.3);

    int failures = 0;
    for (int n : sizes) {
        if (!platform.is_connected()) {
            printf("open %5d children: not measured, the connection to the server is lost\n", n);
            figures[n].failure = "not measured";
            failures++;
            continue;
        }
        double best_lib = 1e9, best_ed = 1e9, best_first = 1e9;
        long heap_per_object = 0, growth = -1;
        std::string failure;
        for (int round = 0; round < rounds && failure.empty(); round++) {
            double lib = library_alone(n);
            if (lib >= 0) best_lib = std::min(best_lib, lib);
            double cb_ms = 0;
            reset_peak(mis_pid);
            long rss0 = memory_kib(mis_pid, "VmRSS:");
            double ms = open_container(n, cb_ms, heap_per_object);
            long hwm = memory_kib(mis_pid, "VmHWM:");
            if (round == 0 && rss0 >= 0 && hwm >= 0) growth = hwm - rss0;
            best_ed = std::min(best_ed, ms);
            if (first_rows_ms >= 0) best_first = std::min(best_first, first_rows_ms);
            if (round == 0)
                printf("  (round 1: callback returned after %.0f ms, rows placed after %.0f ms)\n",
                       cb_ms, ms);
            failure = opening_failure(n);
        }
        if (best_first < 1e9) {
            printf("open %5d children: first rows after %.1f ms; server memory grew by %ld MiB "
                   "(peak resident less resident before the first opening)\n",
                   n, best_first, growth < 0 ? -1 : growth / 1024);
            figures[n].first_rows = best_first;
        }
        figures[n].server_growth_kib = growth;
        if (!failure.empty()) {
            /* Nothing more to measure on a container that is not open. */
            printf("open %5d children: FAILED: %s\n", n, failure.c_str());
            figures[n].failure = failure;
            failures++;
            reset_tree();
            continue;
        }
        printf("open %5d children: editor %7.1f ms, library alone %6.1f ms, ratio %.1f; "
               "client heap %ld bytes per child\n",
               n, best_ed, best_lib, best_ed / best_lib, heap_per_object);
        figures[n].library = best_lib;
        figures[n].editor = best_ed;
        figures[n].heap = heap_per_object;
        figures[n].drop = drop_tree();
        printf("  (dropping that tree takes %.0f ms)\n", figures[n].drop);
        if (open_only) continue;
        double cb_ms = 0;
        long heap = 0;
        open_container(n, cb_ms, heap);
        failure = opening_failure(n);
        if (!failure.empty()) {
            printf("  opening it again FAILED: %s\n", failure.c_str());
            figures[n].failure = "the second opening: " + failure;
            failures++;
            reset_tree();
            continue;
        }
        after_opening(mis.port(), n, best_lib);
    }
    if (shot && failures == 0) screenshot(*std::max_element(sizes.begin(), sizes.end()), shot);
    reset_tree();
    print_goals();
    platform.disconnect();
    std::string rm = std::string("rm -rf '") + tmpl + "'";
    if (system(rm.c_str()) != 0) return 1;
    return failures > 0 ? 1 : 0;
}
