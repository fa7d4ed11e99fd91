// The epoll loop of qx_mis.
#include "server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "fault.h"
#include "log.h"

namespace mis {

namespace {

// epoll tags: the kind in the top byte, a client or job number below.
constexpr uint64_t TAG_LISTEN = 1ull << 56, TAG_SIGNAL = 2ull << 56, TAG_CLIENT = 3ull << 56,
                   TAG_JOB = 4ull << 56, TAG_KIND = 0xffull << 56;

std::string errstr() { return std::strerror(errno); }

}  // namespace

Server::Server(Model& model, ServerLimits limits) : model_(model), limits_(limits), service_(model, *this, this) {}

Server::~Server() {
    for (auto& [id, c] : conns_) close(c.fd);
    for (auto& [id, j] : jobs_) {
        kill(j.pid, SIGKILL);
        waitpid(j.pid, nullptr, 0);
        if (j.out_fd >= 0) close(j.out_fd);
        if (j.err_fd >= 0) close(j.err_fd);
    }
    if (listen_fd_ >= 0) close(listen_fd_);
    if (signal_fd_ >= 0) close(signal_fd_);
    if (epoll_fd_ >= 0) close(epoll_fd_);
}

void Server::watch_fd(int fd, uint64_t tag, uint32_t events) {
    epoll_event ev{};
    ev.events = events;
    ev.data.u64 = tag;
    epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, fd, &ev);
}

bool Server::listen(const std::string& addr, int port, std::string& err) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(port));
    if (inet_pton(AF_INET, addr.c_str(), &sa.sin_addr) != 1) {
        err = "not an IPv4 address: " + addr;
        return false;
    }
    listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (listen_fd_ < 0) return err = "socket: " + errstr(), false;
    int one = 1;
    setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (bind(listen_fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) < 0)
        return err = "cannot listen on " + addr + ":" + std::to_string(port) + ": " + errstr(), false;
    if (::listen(listen_fd_, 128) < 0) return err = "listen: " + errstr(), false;
    socklen_t len = sizeof sa;
    getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&sa), &len);
    port_ = ntohs(sa.sin_port);

    epoll_fd_ = epoll_create1(EPOLL_CLOEXEC);
    if (epoll_fd_ < 0) return err = "epoll: " + errstr(), false;
    watch_fd(listen_fd_, TAG_LISTEN, EPOLLIN);

    // SIGTERM and SIGINT arrive as readable data, so shutting down is an ordinary event.
    sigset_t mask;
    sigemptyset(&mask);
    sigaddset(&mask, SIGTERM);
    sigaddset(&mask, SIGINT);
    sigprocmask(SIG_BLOCK, &mask, nullptr);
    signal_fd_ = signalfd(-1, &mask, SFD_NONBLOCK | SFD_CLOEXEC);
    if (signal_fd_ < 0) return err = "signalfd: " + errstr(), false;
    watch_fd(signal_fd_, TAG_SIGNAL, EPOLLIN);
    signal(SIGPIPE, SIG_IGN);
    return true;
}

void Server::every(double seconds, std::function<void()> tick) {
    interval_ = seconds;
    tick_ = std::move(tick);
    next_tick_ = std::chrono::steady_clock::now() + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                                         std::chrono::duration<double>(seconds));
}

int Server::run() {
    log_line("serving %zu objects on port %d", model_.size(), port_);
    epoll_event evs[64];
    for (;;) {
        auto now = std::chrono::steady_clock::now();
        int timeout = -1;
        auto soonest = [&](std::chrono::steady_clock::time_point t) {
            long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(t - now).count() + 1;
            if (ms < 0) ms = 0;
            if (timeout < 0 || ms < timeout) timeout = static_cast<int>(std::min(ms, 60000LL));
        };
        if (tick_) soonest(next_tick_);
        for (auto& [id, j] : jobs_) soonest(j.out_fd < 0 && j.err_fd < 0 ? now + std::chrono::milliseconds(20) : j.deadline);

        int n = epoll_wait(epoll_fd_, evs, 64, timeout);
        if (n < 0 && errno != EINTR) {
            log_line("epoll_wait: %s", errstr().c_str());
            return 1;
        }
        for (int i = 0; i < n; ++i) {
            uint64_t tag = evs[i].data.u64;
            int num = static_cast<int>(tag & ~TAG_KIND);
            switch (tag & TAG_KIND) {
            case TAG_LISTEN:
                accept_clients();
                break;
            case TAG_SIGNAL: {
                signalfd_siginfo si;
                while (read(signal_fd_, &si, sizeof si) == static_cast<ssize_t>(sizeof si)) {}
                log_line("stopping on a signal; %zu clients connected", conns_.size());
                return 0;
            }
            case TAG_CLIENT:
                if (!conns_.count(num)) break;
                if (evs[i].events & (EPOLLIN | EPOLLHUP | EPOLLERR)) read_client(num);
                if (conns_.count(num) && (evs[i].events & EPOLLOUT)) write_client(num);
                break;
            case TAG_JOB: {
                auto j = jobs_.find(num >> 1);
                if (j != jobs_.end()) job_input(num >> 1, (num & 1) ? j->second.err_fd : j->second.out_fd);
                break;
            }
            }
            drop_doomed();
        }
        check_jobs();
        if (tick_ && std::chrono::steady_clock::now() >= next_tick_) {
            next_tick_ += std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                std::chrono::duration<double>(interval_));
            if (next_tick_ < std::chrono::steady_clock::now()) next_tick_ = std::chrono::steady_clock::now();
            try {
                tick_();
            } catch (const Fault& f) {
                log_line("simulation: %s", f.message.c_str());
            }
        }
        drop_doomed();
        auto dirty = std::move(dirty_);
        dirty_.clear();
        for (int id : dirty)
            if (conns_.count(id)) write_client(id);
        drop_doomed();
    }
}

// ---------------------------------------------------------------- clients

void Server::accept_clients() {
    for (;;) {
        sockaddr_in sa{};
        socklen_t len = sizeof sa;
        int fd = accept4(listen_fd_, reinterpret_cast<sockaddr*>(&sa), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) log_line("accept: %s", errstr().c_str());
            return;
        }
        char ip[INET_ADDRSTRLEN] = "?";
        inet_ntop(AF_INET, &sa.sin_addr, ip, sizeof ip);
        std::string peer = std::string(ip) + ":" + std::to_string(ntohs(sa.sin_port));
        if (conns_.size() >= limits_.max_clients) {
            std::string line = to_line({{"jsonrpc", "2.0"}, {"id", nullptr},
                                        {"error", {{"code", E_FULL}, {"message", "server full: at most " +
                                                   std::to_string(limits_.max_clients) + " clients"}}}}) + "\n";
            ssize_t ignored = ::send(fd, line.data(), line.size(), MSG_NOSIGNAL);
            (void)ignored;
            close(fd);
            log_line("refused %s: %zu clients already", peer.c_str(), conns_.size());
            continue;
        }
        int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        int id = next_client_++;
        if (next_client_ >= (1 << 30)) next_client_ = 1;
        Conn& c = conns_[id];
        c.fd = fd;
        c.peer = peer;
        watch_fd(fd, TAG_CLIENT | static_cast<uint64_t>(id), EPOLLIN | EPOLLRDHUP);
        service_.connect(id);
        log_line("client %d connected from %s", id, peer.c_str());
    }
}

void Server::read_client(int id) {
    char buf[65536];
    for (;;) {
        auto it = conns_.find(id);
        if (it == conns_.end() || doomed_.count(id)) return;
        ssize_t r = recv(it->second.fd, buf, sizeof buf, 0);
        if (r == 0) {
            // A client may send its requests and shut its side at once (nc does): it still
            // gets its replies, including those of actions still running.
            it->second.eof = true;
            epoll_event ev{};
            ev.events = it->second.want_write ? EPOLLOUT : 0u;
            ev.data.u64 = TAG_CLIENT | static_cast<uint64_t>(id);
            epoll_ctl(epoll_fd_, EPOLL_CTL_MOD, it->second.fd, &ev);
            break;
        }
        if (r < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK) return;
            if (errno == EINTR) continue;
            return drop(id, std::strerror(errno));
        }
        Conn& c = it->second;
        if (c.eof) break;
        size_t scan = c.in.size();
        c.in.append(buf, static_cast<size_t>(r));
        size_t start = 0, nl;
        while ((nl = c.in.find('\n', scan)) != std::string::npos) {
            std::string line = c.in.substr(start, nl - start);
            start = scan = nl + 1;
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (line.find_first_not_of(" \t") == std::string::npos) continue;
            if (line.size() > limits_.max_line) return drop(id, "request line over the size limit");
            service_.handle_line(id, line);
            if (!conns_.count(id) || doomed_.count(id)) return;
        }
        Conn& c2 = conns_[id];
        c2.in.erase(0, start);
        if (c2.in.size() > limits_.max_line) return drop(id, "request line over the size limit");
    }
    close_if_done(id);
}

void Server::close_if_done(int id) {
    auto it = conns_.find(id);
    if (it == conns_.end() || !it->second.eof) return;
    if (it->second.out_off < it->second.out.size() || dirty_.count(id)) return;
    for (auto& [jid, j] : jobs_)
        if (j.client == id) return;
    drop(id, "closed by the client");
}

void Server::send(int client, const std::string& line) {
    auto it = conns_.find(client);
    if (it == conns_.end() || doomed_.count(client)) return;
    Conn& c = it->second;
    if (c.out.size() - c.out_off + line.size() > limits_.max_unsent) {
        log_line("client %d (%s): more than %zu bytes unread, dropping it", client, c.peer.c_str(), limits_.max_unsent);
        doomed_.insert(client);
        return;
    }
    if (c.out_off > (1 << 20) && c.out_off > c.out.size() / 2) {
        c.out.erase(0, c.out_off);
        c.out_off = 0;
    }
    c.out += line;
    c.out += '\n';
    dirty_.insert(client);
}

void Server::write_client(int id) {
    Conn& c = conns_[id];
    while (c.out_off < c.out.size()) {
        ssize_t w = ::send(c.fd, c.out.data() + c.out_off, c.out.size() - c.out_off, MSG_NOSIGNAL);
        if (w < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) break;
            doomed_.insert(id);
            return;
        }
        c.out_off += static_cast<size_t>(w);
    }
    if (c.out_off == c.out.size()) {
        c.out.clear();
        c.out_off = 0;
    }
    bool want = c.out_off < c.out.size();
    if (!want && c.eof) {
        dirty_.erase(id);
        return close_if_done(id);
    }
    if (want != c.want_write) {
        c.want_write = want;
        epoll_event ev{};
        ev.events = (c.eof ? 0u : EPOLLIN | EPOLLRDHUP) | (want ? EPOLLOUT : 0u);
        ev.data.u64 = TAG_CLIENT | static_cast<uint64_t>(id);
        epoll_ctl(epoll_fd_, EPOLL_CTL_MOD, c.fd, &ev);
    }
}

void Server::drop(int id, const char* why) {
    auto it = conns_.find(id);
    if (it == conns_.end()) return;
    log_line("client %d (%s) disconnected: %s", id, it->second.peer.c_str(), why);
    epoll_ctl(epoll_fd_, EPOLL_CTL_DEL, it->second.fd, nullptr);
    close(it->second.fd);
    conns_.erase(it);
    doomed_.erase(id);
    dirty_.erase(id);
    service_.disconnect(id);
}

void Server::drop_doomed() {
    while (!doomed_.empty()) drop(*doomed_.begin(), "write failed or too much unread");
}

// ---------------------------------------------------------------- action programs

void Server::run(int client, const nlohmann::json& id, const ActionDef& action, const std::vector<std::string>& args) {
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) < 0) return service_.finish_action(client, id, false, "cannot start " + action.program + ": " + errstr());
    if (pipe2(err, O_CLOEXEC) < 0) {
        close(out[0]);
        close(out[1]);
        return service_.finish_action(client, id, false, "cannot start " + action.program + ": " + errstr());
    }
    std::vector<std::string> argv_s = {action.program};
    argv_s.insert(argv_s.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& s : argv_s) argv.push_back(const_cast<char*>(s.c_str()));
    argv.push_back(nullptr);
    pid_t pid = fork();
    if (pid < 0) {
        for (int fd : {out[0], out[1], err[0], err[1]}) close(fd);
        return service_.finish_action(client, id, false, "cannot start " + action.program + ": " + errstr());
    }
    if (pid == 0) {
        // The child: no shell; the program gets the object name, action and parameter.
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        signal(SIGPIPE, SIG_DFL);
        int devnull = open("/dev/null", O_RDONLY);
        if (devnull >= 0) dup2(devnull, 0);
        dup2(out[1], 1);
        dup2(err[1], 2);
        execv(argv[0], argv.data());
        dprintf(2, "cannot run %s: %s", argv[0], std::strerror(errno));
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    fcntl(out[0], F_SETFL, O_NONBLOCK);
    fcntl(err[0], F_SETFL, O_NONBLOCK);
    int jid = next_job_++;
    Job& j = jobs_[jid];
    j.pid = pid;
    j.out_fd = out[0];
    j.err_fd = err[0];
    j.client = client;
    j.id = id;
    j.action = action.name;
    j.timeout = action.timeout;
    j.deadline = std::chrono::steady_clock::now() +
                 std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(action.timeout));
    watch_fd(out[0], TAG_JOB | static_cast<uint64_t>(jid << 1), EPOLLIN);
    watch_fd(err[0], TAG_JOB | static_cast<uint64_t>((jid << 1) | 1), EPOLLIN);
}

void Server::job_input(int jid, int fd) {
    auto it = jobs_.find(jid);
    if (it == jobs_.end() || fd < 0) return;
    Job& j = it->second;
    bool is_out = fd == j.out_fd;
    std::string& buf = is_out ? j.out : j.err;
    char tmp[65536];
    for (;;) {
        ssize_t r = read(fd, tmp, sizeof tmp);
        if (r > 0) {
            buf.append(tmp, static_cast<size_t>(r));
            if (buf.size() > limits_.max_action_output) {
                j.too_long = true;
                kill(j.pid, SIGKILL);
                buf.resize(limits_.max_action_output);
            }
            continue;
        }
        if (r < 0 && errno == EINTR) continue;
        if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
        epoll_ctl(epoll_fd_, EPOLL_CTL_DEL, fd, nullptr);
        close(fd);
        (is_out ? j.out_fd : j.err_fd) = -1;
        return;
    }
}

void Server::check_jobs() {
    auto now = std::chrono::steady_clock::now();
    std::vector<std::pair<int, int>> done;
    for (auto& [jid, j] : jobs_) {
        int status = 0;
        if (j.out_fd < 0 && j.err_fd < 0) {
            if (waitpid(j.pid, &status, WNOHANG) == j.pid) done.push_back({jid, status});
            else if (now >= j.deadline) {
                kill(j.pid, SIGKILL);
                waitpid(j.pid, &status, 0);
                done.push_back({jid, -1});
            }
        } else if (now >= j.deadline) {
            kill(j.pid, SIGKILL);
            waitpid(j.pid, &status, 0);
            done.push_back({jid, -1});
        }
    }
    for (auto& [jid, status] : done) {
        int client = jobs_[jid].client;
        finish_job(jid, status);
        close_if_done(client);
    }
}

void Server::finish_job(int jid, int status) {
    Job j = std::move(jobs_[jid]);
    jobs_.erase(jid);
    for (int fd : {j.out_fd, j.err_fd})
        if (fd >= 0) {
            epoll_ctl(epoll_fd_, EPOLL_CTL_DEL, fd, nullptr);
            close(fd);
        }
    auto first_line = [](std::string s) {
        while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
        return s;
    };
    if (status == -1)
        return service_.finish_action(j.client, j.id, false,
                                      "action " + j.action + " passed its time limit of " + std::to_string(static_cast<int>(j.timeout)) + " s");
    if (j.too_long) return service_.finish_action(j.client, j.id, false, "action " + j.action + " replied more than the size limit");
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return service_.finish_action(j.client, j.id, true, j.out);
    std::string why = first_line(j.err);
    if (why.empty())
        why = WIFEXITED(status) ? "exit status " + std::to_string(WEXITSTATUS(status))
                                : "killed by signal " + std::to_string(WTERMSIG(status));
    service_.finish_action(j.client, j.id, false, "action " + j.action + " failed: " + why);
}

}  // namespace mis
