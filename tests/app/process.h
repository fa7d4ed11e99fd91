/*
 * process.h - runs the real qx_tarn for the tests, with its output, exit
 * status and launcher reply captured, and finds its windows by title.
 */
#ifndef TESTS_APP_PROCESS_H
#define TESTS_APP_PROCESS_H

#include <X11/Xlib.h>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

struct TarnRun {
    std::vector<std::string> args; /* after argv[0] */
    bool no_display = false;       /* run without DISPLAY */
    int reply_fd = -1;             /* descriptor number that gets a pipe */
    std::vector<std::string> env;  /* NAME=VALUE set, or NAME removed, in the program's */

    pid_t pid = -1;
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
        if ((pid = fork()) < 0) return false;
        if (pid == 0) {
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
            std::vector<char*> argv{const_cast<char*>(QX_TARN_BIN)};
            for (auto& a : args) argv.push_back(&a[0]);
            argv.push_back(nullptr);
            execv(QX_TARN_BIN, argv.data());
            _exit(127);
        }
        for (int i = 0; i < 3; i++) {
            close(p[i][1]);
            pipes[i] = p[i][0];
            fcntl(pipes[i], F_SETFL, O_NONBLOCK);
        }
        return true;
    }

    void drain()
    {
        char buf[4096];
        ssize_t n;
        for (int i = 0; i < 3; i++)
            while ((n = read(pipes[i], buf, sizeof buf)) > 0) text[i].append(buf, n);
    }

    /* Polls until done() holds, for at most seconds. */
    template <class F> bool poll(double seconds, F done)
    {
        for (int t = 0; t < seconds * 50; t++) {
            drain();
            if (done()) return true;
            usleep(20000);
        }
        return false;
    }

    bool wait(double seconds)
    {
        return poll(seconds, [&] {
            int st;
            if (waitpid(pid, &st, WNOHANG) != pid) return false;
            drain();
            status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
            pid = -1;
            return true;
        });
    }

    bool wait_reply(double seconds)
    {
        return poll(seconds, [&] { return !text[2].empty(); });
    }
    bool reply_closed()
    {
        char c;
        return read(pipes[2], &c, 1) == 0;
    }

    ~TarnRun()
    {
        if (pid > 0) kill(pid, SIGKILL), waitpid(pid, nullptr, 0);
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
    for (int t = 0; t < seconds * 20; t++, usleep(50000))
        if (Window w = find_titled_window(dpy, DefaultRootWindow(dpy), title, owner)) return w;
    return None;
}

#endif /* TESTS_APP_PROCESS_H */
