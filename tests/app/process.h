/*
 * process.h - runs the real qx_tarn from the tests: environment, arguments,
 * an extra descriptor for the launcher reply, captured output, exit status.
 */
#ifndef TESTS_APP_PROCESS_H
#define TESTS_APP_PROCESS_H

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <vector>

#ifndef QX_TARN_BIN
#define QX_TARN_BIN "qx_tarn"
#endif

struct TarnRun {
    std::vector<std::string> args;           /* after argv[0] */
    std::vector<std::string> unset_env;      /* names removed from the environment */
    std::vector<std::string> set_env;        /* "NAME=value" */
    int reply_fd = -1;                       /* descriptor number that gets a pipe */

    pid_t pid = -1;
    int out_pipe = -1, err_pipe = -1, reply_pipe = -1;
    std::string out, err, reply;
    int status = -1;                         /* exit status, or -1 */

    bool start()
    {
        int o[2], e[2], r[2] = {-1, -1};
        if (pipe(o) || pipe(e) || (reply_fd >= 0 && pipe(r)))
            return false;
        pid = fork();
        if (pid < 0)
            return false;
        if (pid == 0) {
            dup2(o[1], 1);
            dup2(e[1], 2);
            close(o[0]); close(o[1]); close(e[0]); close(e[1]);
            /* Last, since the pipes may hold the very number asked for. */
            if (reply_fd >= 0) {
                if (r[0] != reply_fd)
                    close(r[0]);
                dup2(r[1], reply_fd);
                if (r[1] != reply_fd)
                    close(r[1]);
            }
            for (auto& n : unset_env) unsetenv(n.c_str());
            for (auto& s : set_env) putenv(strdup(s.c_str()));
            std::vector<char*> argv;
            argv.push_back(const_cast<char*>(QX_TARN_BIN));
            for (auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            execv(QX_TARN_BIN, argv.data());
            _exit(127);
        }
        close(o[1]); close(e[1]);
        if (reply_fd >= 0) close(r[1]);
        out_pipe = o[0]; err_pipe = e[0]; reply_pipe = r[0];
        for (int fd : {out_pipe, err_pipe, reply_pipe})
            if (fd >= 0) fcntl(fd, F_SETFL, O_NONBLOCK);
        return true;
    }

    /* Reads what is there from the three pipes. */
    void drain()
    {
        char buf[4096];
        ssize_t n;
        while (out_pipe >= 0 && (n = read(out_pipe, buf, sizeof buf)) > 0) out.append(buf, n);
        while (err_pipe >= 0 && (n = read(err_pipe, buf, sizeof buf)) > 0) err.append(buf, n);
        while (reply_pipe >= 0 && (n = read(reply_pipe, buf, sizeof buf)) > 0) reply.append(buf, n);
    }

    /* Waits up to seconds for the program to end; true when it did. */
    bool wait(double seconds)
    {
        for (double t = 0; t < seconds; t += 0.02) {
            drain();
            int st;
            if (waitpid(pid, &st, WNOHANG) == pid) {
                drain();
                status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
                pid = -1;
                return true;
            }
            struct timespec ts = {0, 20 * 1000 * 1000};
            nanosleep(&ts, nullptr);
        }
        return false;
    }

    /* Waits until the reply descriptor holds bytes or the time runs out. */
    bool wait_reply(double seconds)
    {
        for (double t = 0; t < seconds && reply.empty(); t += 0.02) {
            drain();
            struct timespec ts = {0, 20 * 1000 * 1000};
            nanosleep(&ts, nullptr);
        }
        return !reply.empty();
    }

    /* True when the reply descriptor has been closed by the program. */
    bool reply_closed()
    {
        char c;
        return reply_pipe >= 0 && read(reply_pipe, &c, 1) == 0;
    }

    void stop()
    {
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
            pid = -1;
        }
    }

    ~TarnRun()
    {
        stop();
        for (int fd : {out_pipe, err_pipe, reply_pipe})
            if (fd >= 0) close(fd);
    }
};

#endif /* TESTS_APP_PROCESS_H */
