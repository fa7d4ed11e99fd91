// Test support: what the tests that run real programs share: a temporary folder, files read
// and written whole, a loopback port, a wait on a condition, and a child process started
// without a shell, killed and reaped with its object.  mis_process.h, slapd_process.h and
// the runs of qx_tarn in tests/app/test_program.cpp build on it.
#pragma once
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace qxtest {

// A fresh temporary folder, removed with its contents at the end.
struct TempDir {
    std::string path;
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    TempDir()
    {
        char tmpl[] = "/tmp/qx_test.XXXXXX";
        path = mkdtemp(tmpl);
    }
    ~TempDir() { std::system(("rm -rf '" + path + "'").c_str()); }
};

// The whole text of a file; "" when it cannot be read.
inline std::string read_file(const std::string& path)
{
    std::ifstream f(path);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

// Whether text holds part.
inline bool contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

// Writes text as the whole of path, created with mode; "" or what failed and why.
inline std::string write_file(const std::string& path, const std::string& text, mode_t mode)
{
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, mode);
    if (fd < 0) return "open " + path + ": " + std::strerror(errno);
    bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    int err = errno;
    close(fd);
    return ok ? "" : "write " + path + ": " + std::strerror(err);
}

// Polls done() every step_ms until it holds or seconds pass; true when it held.
inline bool wait_until(const std::function<bool()>& done, double seconds, int step_ms = 20)
{
    auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        poll(nullptr, 0, step_ms);
    }
    return true;
}

// A loopback TCP connection to port, or -1.
inline int connect_loopback(int port)
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(port));
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0) return fd;
    if (fd >= 0) close(fd);
    return -1;
}

// A loopback port nobody listens on (bound once, then released).
inline int free_port()
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return -1;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    int port = -1;
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    close(fd);
    return port;
}

// Appends the process's standard output and errors to path: where a server's log goes.
inline bool log_to(const std::string& path)
{
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (fd < 0) return false;
    dup2(fd, 1);
    dup2(fd, 2);
    return close(fd) == 0;
}

// How a program still running when its object goes is stopped. A coverage build makes it
// SIGTERM, so that the servers write their counts on the way out.
#ifndef QX_TEST_STOP_SIGNAL
#define QX_TEST_STOP_SIGNAL SIGKILL
#endif

// A program a test starts itself, without a shell; stopped and reaped with the object.
class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess() { stop(QX_TEST_STOP_SIGNAL); }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Sends a signal and waits for the process; returns its wait status. A paused
    // process is woken first, so that it can act on the signal.
    int stop(int sig = SIGTERM)
    {
        if (pid_ <= 0) return -1;
        kill(pid_, sig);
        kill(pid_, SIGCONT);
        return reap(0);
    }
    void kill_now() { stop(SIGKILL); } // as a crash would
    void pause()                       // the server stops answering
    {
        if (pid_ > 0) kill(pid_, SIGSTOP);
    }
    void resume()
    {
        if (pid_ > 0) kill(pid_, SIGCONT);
    }
    bool alive() const { return pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0; }
    // Whether the process has ended, reaped with its exit status in *code (-1 when a signal
    // ended it); does not wait.
    bool ended(int* code)
    {
        if (pid_ <= 0) return true;
        int status = reap(WNOHANG);
        if (status == -1) return false;
        *code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return true;
    }
    // Waits for the process to end; its exit status, or -1 when a signal ended it.
    int wait_exit()
    {
        int status = pid_ > 0 ? reap(0) : -1;
        return status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    pid_t pid() const { return pid_; }
    const std::string& failure() const { return failure_; }

    // Forks and runs args (args[0] searched on PATH); in the child, prepare() runs first
    // (redirections, limits, the working directory): a false from it ends the child with
    // status 126, a failed exec with 127.
    bool spawn(const std::vector<std::string>& args, const std::function<bool()>& prepare)
    {
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        stop(SIGKILL);
        pid_ = fork();
        if (pid_ < 0) return fail(std::string("fork: ") + std::strerror(errno));
        if (pid_ == 0) {
            if (prepare && !prepare()) _exit(126);
            execvp(argv[0], argv.data());
            _exit(127);
        }
        return true;
    }

protected:
    bool fail(const std::string& why)
    {
        failure_ = why;
        return false;
    }
    // The wait status once reaped, or -1 while it runs (with WNOHANG).
    int reap(int flags)
    {
        int status = 0;
        if (waitpid(pid_, &status, flags) != pid_) return -1;
        pid_ = -1;
        return status;
    }

    pid_t pid_ = -1;
    std::string failure_;
};

// Runs args to their end, input on the standard input, the standard output and errors into out;
// returns the exit status, or -1 when the program did not run or was killed.
inline int run_program(const std::vector<std::string>& args, const std::string& input,
                       std::string& out)
{
    int in[2], res[2];
    if (pipe(in) < 0) return -1;
    if (pipe(res) < 0) {
        close(in[0]);
        close(in[1]);
        return -1;
    }
    ChildProcess child;
    bool spawned = child.spawn(args, [&] {
        dup2(in[0], 0);
        dup2(res[1], 1);
        dup2(res[1], 2);
        for (int fd : {in[0], in[1], res[0], res[1]}) close(fd);
        return true;
    });
    close(in[0]);
    close(res[1]);
    signal(SIGPIPE, SIG_IGN);
    for (size_t off = 0; spawned && off < input.size();) {
        ssize_t w = write(in[1], input.data() + off, input.size() - off);
        if (w <= 0) break;
        off += static_cast<size_t>(w);
    }
    close(in[1]);
    char buf[4096];
    ssize_t n;
    out.clear();
    while (spawned && (n = read(res[0], buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
    close(res[0]);
    return spawned ? child.wait_exit() : -1;
}

} // namespace qxtest
