/*
 * mis_fixture.h - starts and stops a real qx_mis for integration tests.
 *
 * Each MisServer runs its own qx_mis on a free 127.0.0.1 port with a fresh
 * database in a new temporary folder (the server seeds it from the sample
 * network), waits until the port accepts connections, and kills the server
 * and removes the folder when it is stopped or destroyed.
 *
 *     MisServer mis;
 *     ASSERT_TRUE(mis.start()) << mis.failure();
 *     platform.connect(mis.address().c_str(), "test", 10);
 *
 * The binary is QX_MIS_BIN from the environment when set, else the path the
 * build compiled in (QX_MIS_BIN_DEFAULT, <build>/bin/qx_mis).
 */
#ifndef TESTS_KVL_MIS_FIXTURE_H
#define TESTS_KVL_MIS_FIXTURE_H

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#ifndef QX_MIS_BIN_DEFAULT
#define QX_MIS_BIN_DEFAULT "qx_mis"
#endif

class MisServer {
public:
    MisServer() = default;
    MisServer(const MisServer&) = delete;
    MisServer& operator=(const MisServer&) = delete;
    ~MisServer() { stop(); }

    static std::string binary()
    {
        const char* env = std::getenv("QX_MIS_BIN");
        return env && *env ? env : QX_MIS_BIN_DEFAULT;
    }
    static bool available() { return access(binary().c_str(), X_OK) == 0; }

    /* Starts the server; extra_args are added to its command line. */
    bool start(const std::string& extra_args = "")
    {
        stop();
        char tmpl[] = "/tmp/qx_mis_test.XXXXXX";
        if (!mkdtemp(tmpl))
            return fail(std::string("mkdtemp: ") + std::strerror(errno));
        dir_ = tmpl;
        for (int attempt = 0; attempt < 3; attempt++) {
            port_ = free_port();
            if (port_ <= 0)
                return fail("no free port");
            if (spawn(extra_args) && wait_until_accepting(15.0))
                return true;
            kill_now();
        }
        return fail("qx_mis did not start; its log: " + log_text());
    }

    /* Stops the server (SIGTERM, then SIGKILL) and removes its folder. */
    void stop()
    {
        if (pid_ > 0) {
            ::kill(pid_, SIGCONT);
            ::kill(pid_, SIGTERM);
            if (!reap(3.0)) {
                ::kill(pid_, SIGKILL);
                reap(3.0);
            }
        }
        pid_ = -1;
        if (!dir_.empty()) {
            std::string cmd = "rm -rf '" + dir_ + "'";
            if (std::system(cmd.c_str()) != 0) { /* nothing more to do */ }
            dir_.clear();
        }
    }

    /* Kills the server at once, as a crash would; the folder stays until stop(). */
    void kill_now()
    {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            reap(3.0);
        }
        pid_ = -1;
    }

    void pause() { if (pid_ > 0) ::kill(pid_, SIGSTOP); }      /* the server stops answering */
    void resume() { if (pid_ > 0) ::kill(pid_, SIGCONT); }

    int port() const { return port_; }
    pid_t pid() const { return pid_; }
    std::string address() const { return "127.0.0.1:" + std::to_string(port_); }
    const std::string& folder() const { return dir_; }
    const std::string& failure() const { return failure_; }
    std::string log_text() const
    {
        std::string text;
        FILE* f = std::fopen((dir_ + "/mis.log").c_str(), "r");
        if (f) {
            char buf[4096];
            size_t n;
            while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
                text.append(buf, n);
            std::fclose(f);
        }
        return text;
    }

    /* A port nobody listens on (bound once, then released). */
    static int free_port()
    {
        int fd = socket(AF_INET, SOCK_STREAM, 0);
        if (fd < 0)
            return -1;
        struct sockaddr_in a;
        std::memset(&a, 0, sizeof a);
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        int port = -1;
        if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
            getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
            port = ntohs(a.sin_port);
        ::close(fd);
        return port;
    }

private:
    bool fail(const std::string& why)
    {
        failure_ = why;
        return false;
    }

    bool spawn(const std::string& extra_args)
    {
        std::string listen = "127.0.0.1:" + std::to_string(port_);
        std::string db = dir_ + "/x.db";
        std::string log = dir_ + "/mis.log";
        std::string bin = binary();
        pid_ = fork();
        if (pid_ < 0)
            return fail(std::string("fork: ") + std::strerror(errno));
        if (pid_ == 0) {
            int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
            if (fd >= 0) {
                dup2(fd, 1);
                dup2(fd, 2);
            }
            if (chdir(dir_.c_str()) != 0)
                _exit(126);
            std::string cmd = "exec '" + bin + "' --listen " + listen + " --db '" + db + "' " + extra_args;
            execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        return true;
    }

    bool wait_until_accepting(double seconds)
    {
        for (double waited = 0; waited < seconds; waited += 0.02) {
            int status;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return false;
            }
            int fd = socket(AF_INET, SOCK_STREAM, 0);
            struct sockaddr_in a;
            std::memset(&a, 0, sizeof a);
            a.sin_family = AF_INET;
            a.sin_port = htons(static_cast<uint16_t>(port_));
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
            ::close(fd);
            if (ok)
                return true;
            struct timespec ts = {0, 20 * 1000 * 1000};
            nanosleep(&ts, nullptr);
        }
        return false;
    }

    bool reap(double seconds)
    {
        for (double waited = 0; waited < seconds; waited += 0.01) {
            int status;
            pid_t r = waitpid(pid_, &status, WNOHANG);
            if (r == pid_ || (r < 0 && errno == ECHILD))
                return true;
            struct timespec ts = {0, 10 * 1000 * 1000};
            nanosleep(&ts, nullptr);
        }
        return false;
    }

    pid_t pid_ = -1;
    int port_ = 0;
    std::string dir_;
    std::string failure_;
};

#endif /* TESTS_KVL_MIS_FIXTURE_H */
