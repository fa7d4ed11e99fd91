/*
 * process.h - runs the real qx_tarn for the tests, with its output, exit
 * status and launcher reply captured, and finds its windows by title.
 */
#ifndef TESTS_APP_PROCESS_H
#define TESTS_APP_PROCESS_H

#include <X11/Xlib.h>
#include <fcntl.h>
#include <string>
#include <vector>

#include "child_process.h"

struct TarnRun : qxtest::ChildProcess {
    std::vector<std::string> args; /* after argv[0] */
    bool no_display = false;       /* run without DISPLAY */
    int reply_fd = -1;             /* descriptor number that gets a pipe */
    std::vector<std::string> env;  /* NAME=VALUE set, or NAME removed, in the program's */

    int pipes[3] = {-1, -1, -1}; /* stdout, stderr, reply */
    std::string text[3];         /* what came through them */
    const std::string& out() const { return text[0]; }
    const std::string& err() const { return text[1]; }
    const std::string& reply() const { return text[2]; }
    int status = -1; /* exit status once ended */

    bool start()
    {
        int p[3][2];
        for (int i = 0; i < 3; i++)
            if (pipe(p[i])) return false;
        std::vector<std::string> argv{QX_TARN_BIN};
        argv.insert(argv.end(), args.begin(), args.end());
        bool spawned = spawn(argv, [&] {
            dup2(p[0][1], 1);
            dup2(p[1][1], 2);
            for (int i = 0; i < 2; i++) close(p[i][0]), close(p[i][1]);
            /* Last, since the reply pipe may hold the very number asked for. */
            if (reply_fd >= 0) {
                if (p[2][0] != reply_fd) close(p[2][0]);
                dup2(p[2][1], reply_fd);
                if (p[2][1] != reply_fd) close(p[2][1]);
            }
            if (no_display) unsetenv("DISPLAY");
            for (auto& e : env) {
                size_t eq = e.find('=');
                if (eq == std::string::npos)
                    unsetenv(e.c_str());
                else
                    setenv(e.substr(0, eq).c_str(), e.c_str() + eq + 1, 1);
            }
            return true;
        });
        for (int i = 0; i < 3; i++) {
            close(p[i][1]);
            pipes[i] = p[i][0];
            fcntl(pipes[i], F_SETFL, O_NONBLOCK);
        }
        return spawned;
    }

    void drain()
    {
        char buf[4096];
        ssize_t n;
        for (int i = 0; i < 3; i++)
            while ((n = read(pipes[i], buf, sizeof buf)) > 0) text[i].append(buf, n);
    }

    /* Until the program has ended, its output read, for at most seconds. */
    bool wait(double seconds)
    {
        return qxtest::wait_until(
            [&] {
                drain();
                return ended(&status) && (drain(), true);
            },
            seconds);
    }

    bool wait_reply(double seconds)
    {
        return qxtest::wait_until([&] { return drain(), !text[2].empty(); }, seconds);
    }
    bool reply_closed()
    {
        char c;
        return read(pipes[2], &c, 1) == 0;
    }

    ~TarnRun()
    {
        for (int fd : pipes)
            if (fd >= 0) close(fd);
    }
};

/* A viewable window below w titled title (and, when owner is given, a
 * dialog of that window), or None. */
inline Window find_titled_window(Display* dpy, Window w, const std::string& title,
                                 Window owner = None)
{
    char* name = nullptr;
    XWindowAttributes a;
    Window for_window = None;
    if (XFetchName(dpy, w, &name) && name) {
        bool same = title == name;
        XFree(name);
        if (same && XGetWindowAttributes(dpy, w, &a) && a.map_state == IsViewable &&
            (owner == None || (XGetTransientForHint(dpy, w, &for_window) && for_window == owner)))
            return w;
    }
    Window r, parent, *kids = nullptr, found = None;
    unsigned n = 0;
    if (XQueryTree(dpy, w, &r, &parent, &kids, &n))
        for (unsigned i = 0; i < n && found == None; i++)
            found = find_titled_window(dpy, kids[i], title, owner);
    if (kids) XFree(kids);
    return found;
}

inline Window wait_for_window(Display* dpy, const std::string& title, double seconds,
                              Window owner = None)
{
    Window w = None;
    qxtest::wait_until(
        [&] { return (w = find_titled_window(dpy, DefaultRootWindow(dpy), title, owner)) != None; },
        seconds, 50);
    return w;
}

#endif /* TESTS_APP_PROCESS_H */
