// The epoll loop of qx_mis.
#include "server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <spawn.h>
#include <sys/epoll.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fault.h"
#include "log.h"

namespace mis {

namespace {

// epoll tags: the kind in the top byte, a client or job number below.
constexpr uint64_t TAG_LISTEN = 1ull << 56, TAG_SIGNAL = 2ull << 56, TAG_CLIENT = 3ull << 56,
                   TAG_JOB = 4ull << 56, TAG_LOGIN = 5ull << 56, TAG_KIND = 0xffull << 56;

// Request lines handled for one client before the next client's turn, the bytes of them, and
// the time they may take: a turn ends at whichever comes first, after at least one line. 64
// lines of 16 KiB filters held the loop for some 15 ms, and 64 KiB of them about one, which
// 20 such clients made a 20 ms round for everybody else; a quarter of a millisecond a turn
// keeps the round short while cheap requests still go 64 at a time.
constexpr int LINES_PER_TURN = 64;
constexpr size_t BYTES_PER_TURN = 64 << 10;
constexpr auto TIME_PER_TURN = std::chrono::microseconds(250);
// How long the turns of one round may take before the loop looks for new input: a client
// that sends a cheap request waits for at most this (or for one turn in progress).
constexpr auto TIME_PER_ROUND = std::chrono::milliseconds(2);
// Bytes read from one client per readiness event.
constexpr size_t READ_CHUNK = 64 << 10;
// A client with this much unsent output is neither read nor served until it drains below;
// a lower per-client limit lowers it to half that limit.
constexpr size_t UNSENT_PAUSE = 1 << 20;
// How often incomplete request lines are checked against their time limit.
constexpr auto SWEEP_PERIOD = std::chrono::milliseconds(250);
// After accept fails (descriptors or memory ran out), the listening socket rests this long.
constexpr auto ACCEPT_BACKOFF = std::chrono::milliseconds(250);
// A failing accept, and a client refused for want of room, are logged once in this period,
// with the number of those not logged.
constexpr auto ACCEPT_LOG_PERIOD = std::chrono::seconds(10);
// How often a program whose output has ended is checked for its exit.
constexpr auto REAP_POLL = std::chrono::milliseconds(20);

std::string errstr()
{
    return std::strerror(errno);
}

std::chrono::steady_clock::duration seconds(double s)
{
    return std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(s));
}

std::string mib(size_t bytes)
{
    return bytes % (1 << 20) == 0 ? std::to_string(bytes >> 20) + " MiB"
                                  : std::to_string(bytes) + " bytes";
}

} // namespace

size_t clients_for_descriptors(rlim_t descriptors, const ServerLimits& limits)
{
    rlim_t reserve = FIXED_DESCRIPTORS + 2 * limits.max_running_actions;
    return descriptors > reserve ? static_cast<size_t>(descriptors - reserve) : 0;
}

rlim_t raise_descriptor_limit(std::string& err)
{
    rlimit rl{};
    if (getrlimit(RLIMIT_NOFILE, &rl) < 0) {
        err = std::string("getrlimit(RLIMIT_NOFILE): ") + errstr();
        return 1024;
    }
    if (rl.rlim_cur == rl.rlim_max) return rl.rlim_cur;
    rlimit want = rl;
    want.rlim_cur = rl.rlim_max;
    // An unlimited hard limit is not a number of descriptors; the kernel's own ceiling is.
    if (want.rlim_cur == RLIM_INFINITY) want.rlim_cur = 1 << 20;
    if (setrlimit(RLIMIT_NOFILE, &want) < 0) {
        err = "cannot raise the descriptor limit from " + std::to_string(rl.rlim_cur) + " to " +
              std::to_string(want.rlim_cur) + ": " + errstr();
        return rl.rlim_cur;
    }
    return want.rlim_cur;
}

Server::Server(Model& model, ServerLimits limits)
    : model_(model), limits_(limits),
      service_(model, *this, this, std::min(UNSENT_PAUSE, limits.max_unsent / 2))
{
    // A derive answered whole must fit in what the client may leave unread, beyond the output
    // it may already have when its request is served.
    size_t pause = std::min(UNSENT_PAUSE, limits.max_unsent / 2);
    service_.set_max_reply(limits.max_unsent > pause ? limits.max_unsent - pause : 0);
    // Action programs see this environment and nothing of the server's.
    const char* home = std::getenv("HOME");
    action_env_ = {"PATH=/usr/bin:/bin", "LANG=C",
                   std::string("HOME=") + (home && *home ? home : "/")};
}

Server::~Server()
{
    for (auto& [id, c] : conns_) close(c.fd);
    for (auto& [id, j] : jobs_) {
        kill(-j.pid, SIGKILL);
        waitpid(j.pid, nullptr, 0);
        if (j.out_fd >= 0) close(j.out_fd);
        if (j.err_fd >= 0) close(j.err_fd);
    }
    for (int fd : {listen_fd_, signal_fd_, epoll_fd_, devnull_fd_})
        if (fd >= 0) close(fd);
}

bool Server::watch_fd(int fd, uint64_t tag, uint32_t events)
{
    epoll_event ev{};
    ev.events = events;
    ev.data.u64 = tag;
    return epoll_ctl(epoll_fd_, EPOLL_CTL_ADD, fd, &ev) == 0;
}

bool Server::listen(const std::string& addr, int port, std::string& err)
{
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(port));
    if (inet_pton(AF_INET, addr.c_str(), &sa.sin_addr) != 1) {
        err = "not an IPv4 address: " + addr;
        return false;
    }
    // Each failure below names the call that failed and why, and ends the start.
    auto failed = [&err](std::string why) {
        err = std::move(why);
        return false;
    };
    listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (listen_fd_ < 0) return failed("socket: " + errstr());
    int one = 1;
    setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (bind(listen_fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) < 0)
        return failed("cannot listen on " + addr + ":" + std::to_string(port) + ": " + errstr());
    if (::listen(listen_fd_, 128) < 0) return failed("listen: " + errstr());
    socklen_t len = sizeof sa;
    getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&sa), &len);
    port_ = ntohs(sa.sin_port);

    epoll_fd_ = epoll_create1(EPOLL_CLOEXEC);
    if (epoll_fd_ < 0) return failed("epoll: " + errstr());
    if (!watch_fd(listen_fd_, TAG_LISTEN, EPOLLIN)) return failed("epoll_ctl: " + errstr());

    // SIGTERM and SIGINT arrive as readable data, so shutting down is an ordinary event; so does
    // SIGCHLD, so that the end of an action program is seen while its output is still open.
    sigset_t mask;
    sigemptyset(&mask);
    sigaddset(&mask, SIGTERM);
    sigaddset(&mask, SIGINT);
    sigaddset(&mask, SIGCHLD);
    sigprocmask(SIG_BLOCK, &mask, nullptr);
    signal_fd_ = signalfd(-1, &mask, SFD_NONBLOCK | SFD_CLOEXEC);
    if (signal_fd_ < 0) return failed("signalfd: " + errstr());
    if (!watch_fd(signal_fd_, TAG_SIGNAL, EPOLLIN)) return failed("epoll_ctl: " + errstr());
    // Finished password checks, on a server whose clients log in.
    if (service_.login_fd() >= 0 && !watch_fd(service_.login_fd(), TAG_LOGIN, EPOLLIN))
        return failed("epoll_ctl: " + errstr());
    signal(SIGPIPE, SIG_IGN);
    // Opened now, so that starting an action program needs no descriptor for its input.
    devnull_fd_ = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (devnull_fd_ < 0) return failed("/dev/null: " + errstr());
    return true;
}

void Server::every(double secs, std::function<void()> tick)
{
    interval_ = secs;
    tick_ = std::move(tick);
    next_tick_ = Clock::now() + seconds(secs);
}

// How long epoll may wait: until the next timer (the simulation, a program's time limit or
// reaping, the sweep of incomplete lines, the end of an accept pause), not at all while
// buffered requests wait, for ever when nothing is due.
int Server::wait_timeout() const
{
    auto now = Clock::now();
    int timeout = -1;
    auto soonest = [&](Clock::time_point t) {
        long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(t - now).count() + 1;
        if (ms < 0) ms = 0;
        if (timeout < 0 || ms < timeout) timeout = static_cast<int>(std::min(ms, 60000LL));
    };
    if (tick_) soonest(next_tick_);
    for (auto& [id, j] : jobs_)
        soonest(j.out_fd < 0 && j.err_fd < 0 ? now + REAP_POLL : j.deadline);
    if (!partial_.empty() || !handshaking_.empty()) soonest(next_sweep_);
    if (accept_paused_) soonest(accept_resume_);
    // Buffered requests (and input OpenSSL holds) are served at once: nothing else will wake
    // the loop for them.
    if (!ready_.empty() || !buffered_.empty()) timeout = 0;
    return timeout;
}

// One readiness event; false when a signal asks the server to stop.
bool Server::handle_event(const epoll_event& ev)
{
    uint64_t tag = ev.data.u64;
    int num = static_cast<int>(tag & ~TAG_KIND);
    switch (tag & TAG_KIND) {
    case TAG_LISTEN: accept_clients(); break;
    case TAG_SIGNAL: {
        signalfd_siginfo si;
        bool stop = false;
        while (read(signal_fd_, &si, sizeof si) == static_cast<ssize_t>(sizeof si)) {
            if (si.ssi_signo == SIGCHLD)
                child_exited_ = true;
            else
                stop = true;
        }
        return !stop;
    }
    case TAG_CLIENT: {
        auto it = conns_.find(num);
        if (it == conns_.end()) break;
        if (it->second.handshaking) {
            continue_handshake(num);
            break;
        }
        uint32_t e = ev.events;
        bool in = e & (EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR),
             out = e & (EPOLLOUT | EPOLLHUP | EPOLLERR);
        bool writing = it->second.unsent() > 0 && !doomed_.count(num);
        if (it->second.reading && (it->second.read_wants_write ? out : in)) read_client(num);
        it = conns_.find(num);
        if (writing && it != conns_.end() && (it->second.write_wants_read ? in : out))
            write_client(num);
        break;
    }
    case TAG_LOGIN: service_.finish_logins(); break;
    case TAG_JOB: {
        auto j = jobs_.find(num >> 1);
        if (j != jobs_.end()) job_input(num >> 1, (num & 1) ? j->second.err_fd : j->second.out_fd);
        break;
    }
    }
    return true;
}

// What is due once the events are handled: the sweep of incomplete lines, the end of an accept
// pause and the simulation's tick.
void Server::run_timers()
{
    auto now = Clock::now();
    if ((!partial_.empty() || !handshaking_.empty()) && now >= next_sweep_) sweep_partial_lines();
    if (accept_paused_ && now >= accept_resume_) {
        // Watching the socket again may fail as accepting did: it rests once more.
        if (watch_fd(listen_fd_, TAG_LISTEN, EPOLLIN))
            accept_paused_ = false;
        else
            accept_failed(errno);
    }
    if (tick_ && now >= next_tick_) {
        next_tick_ += seconds(interval_);
        if (next_tick_ < Clock::now()) next_tick_ = Clock::now();
        try {
            tick_();
        } catch (const Fault& f) {
            log_line("simulation: %s", f.message.c_str());
        }
    }
}

int Server::run()
{
    log_line("serving %zu objects on port %d; at most %zu clients", model_.size(), port_,
             limits_.max_clients);
    epoll_event evs[64];
    for (;;) {
        int n = epoll_wait(epoll_fd_, evs, 64, wait_timeout());
        if (n < 0 && errno != EINTR) {
            log_line("epoll_wait: %s", errstr().c_str());
            return 1;
        }
        for (int i = 0; i < n; ++i) {
            if (!handle_event(evs[i])) {
                log_line("stopping on a signal; %zu clients connected", conns_.size());
                return 0;
            }
            drop_doomed();
        }
        // Input that OpenSSL took off the socket with an earlier record: no event comes for it.
        std::vector<int> more(buffered_.begin(), buffered_.end());
        for (int id : more)
            if (conns_.count(id) && conns_[id].reading) read_client(id);
        drop_doomed();
        // Turns for the clients with requests waiting, the least served first, until the
        // round's time is up; then the loop looks at its descriptors again (without waiting
        // while clients are ready), so a request that has just come goes before the clients
        // that keep the server busy. A client's answers leave at the end of its turn;
        // notifications for others leave with the round's end.
        const auto round_end = Clock::now() + TIME_PER_ROUND;
        while (!ready_.empty() && Clock::now() < round_end) {
            int id = ready_.next();
            auto start = Clock::now();
            serve_turn(id);
            ready_.charge(id, Clock::now() - start);
            if (conns_.count(id) && !doomed_.count(id) && dirty_.erase(id)) write_client(id);
            drop_doomed();
        }
        check_jobs();
        run_timers();
        drop_doomed();
        auto dirty = std::move(dirty_);
        dirty_.clear();
        for (int id : dirty)
            if (conns_.count(id)) write_client(id);
        drop_doomed();
    }
}

// ---------------------------------------------------------------- clients

void Server::accept_clients()
{
    for (;;) {
        sockaddr_in sa{};
        socklen_t len = sizeof sa;
        int fd = accept4(listen_fd_, reinterpret_cast<sockaddr*>(&sa), &len,
                         SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return;
            if (errno == ECONNABORTED) continue;
            return accept_failed(errno);
        }
        if (accept_unlogged_ > 0) {
            log_line("accepting clients again; %zu failed attempts were not logged",
                     accept_unlogged_);
            accept_unlogged_ = 0;
        }
        char ip[INET_ADDRSTRLEN] = "?";
        inet_ntop(AF_INET, &sa.sin_addr, ip, sizeof ip);
        std::string peer = std::string(ip) + ":" + std::to_string(ntohs(sa.sin_port));
        if (conns_.size() >= limits_.max_clients) {
            // A TLS client could not read the refusal in clear: it only sees the close.
            std::string line =
                to_line({{"jsonrpc", "2.0"},
                         {"id", nullptr},
                         {"error",
                          {{"code", protocol::E_FULL},
                           {"message", "server full: at most " +
                                           std::to_string(limits_.max_clients) + " clients"}}}}) +
                "\n";
            if (!tls_) {
                ssize_t ignored = ::send(fd, line.data(), line.size(), MSG_NOSIGNAL);
                (void)ignored;
            }
            close(fd);
            // Logged once a period, so that clients connecting in a loop cannot fill the log.
            auto now = Clock::now();
            if (now < refusal_log_next_) {
                ++refusals_unlogged_;
                continue;
            }
            if (refusals_unlogged_ > 0)
                log_line("refused %s: %zu clients already (%zu more refused since the last report)",
                         peer.c_str(), conns_.size(), refusals_unlogged_);
            else
                log_line("refused %s: %zu clients already", peer.c_str(), conns_.size());
            refusals_unlogged_ = 0;
            refusal_log_next_ = now + ACCEPT_LOG_PERIOD;
            continue;
        }
        int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        int id = next_client_++;
        if (next_client_ >= (1 << 30)) next_client_ = 1;
        std::unique_ptr<ConnIo> io = tls_ ? tls_->wrap(fd) : plain_conn_io(fd);
        if (!io) {
            log_line("refused %s: cannot set up its TLS connection (out of memory)", peer.c_str());
            close(fd);
            continue;
        }
        Conn& c = conns_[id];
        c.fd = fd;
        c.peer = peer;
        c.io = std::move(io);
        if (tls_) {
            // The handshake has the time of a request line.
            c.handshaking = true;
            c.tail_since = Clock::now();
            if (handshaking_.empty() && partial_.empty()) next_sweep_ = c.tail_since + SWEEP_PERIOD;
            handshaking_.insert(id);
        }
        update_interest(id);
        service_.connect(id, peer);
        log_line("client %d connected from %s", id, peer.c_str());
    }
}

// Out of descriptors (or memory), accept fails at once for as long as clients wait in the
// backlog: the listening socket rests for a while instead of waking the loop again and again.
void Server::accept_failed(int err)
{
    auto now = Clock::now();
    epoll_ctl(epoll_fd_, EPOLL_CTL_DEL, listen_fd_, nullptr);
    accept_paused_ = true;
    accept_resume_ = now + ACCEPT_BACKOFF;
    if (now < accept_log_next_) {
        ++accept_unlogged_;
        return;
    }
    long long pause = std::chrono::duration_cast<std::chrono::milliseconds>(ACCEPT_BACKOFF).count();
    if (accept_unlogged_ > 0)
        log_line("accept: %s; not accepting for %lld ms (%zu more failures since the last report)",
                 std::strerror(err), pause, accept_unlogged_);
    else
        log_line("accept: %s; not accepting for %lld ms", std::strerror(err), pause);
    accept_unlogged_ = 0;
    accept_log_next_ = now + ACCEPT_LOG_PERIOD;
}

// Epoll watches a client for what the server wants of it now: input while it has no request
// waiting and its unsent output is small, output while any is unsent. A client wanting
// neither is not registered at all, so a hang-up cannot wake the loop over and over.
void Server::update_interest(int id)
{
    auto it = conns_.find(id);
    if (it == conns_.end()) return;
    Conn& c = it->second;
    if (c.handshaking) {
        ready_.idle(id);
        uint32_t want = c.handshake_wants == IoStatus::WantWrite ? EPOLLOUT : EPOLLIN | EPOLLRDHUP;
        epoll_event ev{};
        ev.events = want;
        ev.data.u64 = TAG_CLIENT | static_cast<uint64_t>(id);
        if (want == c.events) return;
        if (epoll_ctl(epoll_fd_, c.events == 0 ? EPOLL_CTL_ADD : EPOLL_CTL_MOD, c.fd, &ev) < 0) {
            std::string why = "cannot watch its connection: epoll_ctl: " + errstr();
            log_line("client %d (%s): %s; dropping it", id, c.peer.c_str(), why.c_str());
            return doom(id, why);
        }
        c.events = want;
        return;
    }
    size_t pause = std::min(UNSENT_PAUSE, limits_.max_unsent / 2);
    bool doomed = doomed_.count(id) != 0;
    bool can_serve = !doomed && c.unsent() < pause;
    bool read = !c.eof && !c.has_lines() && can_serve;
    // A batch being carried out comes before the client's next lines.
    bool work = service_.batch_running(id) ? service_.batch_ready(id)
                                           : c.has_lines() || service_.paging(id);
    if (work && can_serve)
        ready_.ready(id);
    else
        ready_.idle(id);
    if (read && !c.reading && c.tail < c.in.size()) c.tail_since = Clock::now();
    c.reading = read;
    if (read && c.io->buffered())
        buffered_.insert(id);
    else
        buffered_.erase(id);
    // Under TLS a read may wait for the socket to take output, and a write for input.
    uint32_t want = (read ? (c.read_wants_write ? EPOLLOUT : EPOLLIN | EPOLLRDHUP) : 0u) |
                    (c.unsent() > 0 && !doomed ? (c.write_wants_read ? EPOLLIN : EPOLLOUT) : 0u);
    if (want == c.events) return;
    epoll_event ev{};
    ev.events = want;
    ev.data.u64 = TAG_CLIENT | static_cast<uint64_t>(id);
    int op = want == 0 ? EPOLL_CTL_DEL : c.events == 0 ? EPOLL_CTL_ADD : EPOLL_CTL_MOD;
    if (epoll_ctl(epoll_fd_, op, c.fd, &ev) < 0) {
        // A client epoll does not watch as the server wants would be neither served nor
        // dropped (or woken for what it no longer wants, over and over): it goes.
        std::string why = "cannot watch its connection: epoll_ctl: " + errstr();
        log_line("client %d (%s): %s; dropping it", id, c.peer.c_str(), why.c_str());
        return doom(id, why);
    }
    c.events = want;
}

void Server::read_client(int id)
{
    static char buf[READ_CHUNK];
    Conn& c = conns_[id];
    IoResult got = c.io->read(buf, sizeof buf);
    bool waited_for_output = c.read_wants_write;
    c.read_wants_write = got.status == IoStatus::WantWrite;
    if (got.status == IoStatus::WantRead || got.status == IoStatus::WantWrite) {
        if (waited_for_output != c.read_wants_write) update_interest(id);
        return;
    }
    if (got.status == IoStatus::Failed) return drop(id, got.why.c_str());
    ssize_t r = static_cast<ssize_t>(got.bytes);
    if (got.status == IoStatus::Closed) {
        // A client may send its requests and shut its side at once (nc does): it still gets
        // its replies, including those of actions still running.
        c.eof = true;
        partial_.erase(id);
        update_interest(id);
        return close_if_done(id);
    }
    size_t old = c.in.size();
    c.in.append(buf, static_cast<size_t>(r));
    const void* nl = memrchr(buf, '\n', static_cast<size_t>(r));
    bool had_tail = c.tail < old;
    if (nl) c.tail = old + static_cast<size_t>(static_cast<const char*>(nl) - buf) + 1;
    // The time limit of an incomplete line runs from its first byte.
    if (c.tail < c.in.size()) {
        if (nl || !had_tail) c.tail_since = Clock::now();
        partial_.insert(id);
        if (partial_.size() == 1) next_sweep_ = Clock::now() + SWEEP_PERIOD;
    } else {
        partial_.erase(id);
    }
    if (c.in.size() - c.tail > limits_.max_line)
        return drop(id, "request line over the size limit");
    update_interest(id);
}

// Handles up to LINES_PER_TURN complete request lines of one client, or requests of its batch,
// lines of up to BYTES_PER_TURN together, for up to TIME_PER_TURN (the first line whatever its
// size and cost); the rest wait for its next turn, after every other client has had one. Each
// is handled only while the client's unsent output is under the pause, so that a batch of large
// answers is made one answer at a time, as fast as the client reads.
void Server::serve_turn(int id)
{
    size_t pause = std::min(UNSENT_PAUSE, limits_.max_unsent / 2);
    size_t bytes = 0;
    const auto until = Clock::now() + TIME_PER_TURN;
    for (int n = 0;
         n < LINES_PER_TURN && bytes < BYTES_PER_TURN && (n == 0 || Clock::now() < until); ++n) {
        Conn& c = conns_[id];
        if (c.unsent() >= pause) break;
        if (service_.batch_running(id)) {
            if (!service_.batch_ready(id)) break;
            service_.continue_batch(id);
            if (!conns_.count(id) || doomed_.count(id)) return;
            continue;
        }
        if (!c.has_lines()) {
            // The next page of a paged derivation, once the client has read the last ones.
            if (!service_.paging(id)) break;
            bytes += service_.continue_paging(id);
            if (!conns_.count(id) || doomed_.count(id)) return;
            continue;
        }
        size_t nl = c.in.find('\n', c.in_done);
        size_t start = c.in_done;
        c.in_done = nl + 1;
        bytes += nl + 1 - start;
        if (nl - start > limits_.max_line) return drop(id, "request line over the size limit");
        std::string line = c.in.substr(start, nl - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.find_first_not_of(" \t") == std::string::npos) continue;
        service_.handle_line(id, line);
        if (!conns_.count(id) || doomed_.count(id)) return;
    }
    Conn& c = conns_[id];
    c.in.erase(0, c.in_done);
    c.tail -= c.in_done;
    c.in_done = 0;
    if (c.in.empty() && c.in.capacity() > READ_CHUNK) std::string().swap(c.in);
    update_interest(id);
    close_if_done(id);
}

// Drops the clients whose incomplete request line has been waiting longer than its time
// limit; a client with nothing half sent may stay idle as long as it likes.
void Server::sweep_partial_lines()
{
    auto now = Clock::now();
    next_sweep_ = now + SWEEP_PERIOD;
    std::vector<int> late;
    for (int id : partial_) {
        const Conn& c = conns_[id];
        if (c.reading && now - c.tail_since > seconds(limits_.line_timeout)) late.push_back(id);
    }
    for (int id : late) {
        std::string why = "request line incomplete for more than " +
                          std::to_string(static_cast<int>(limits_.line_timeout)) + " s";
        drop(id, why.c_str());
    }
    late.clear();
    for (int id : handshaking_)
        if (now - conns_[id].tail_since > seconds(limits_.line_timeout)) late.push_back(id);
    char limit[32];
    std::snprintf(limit, sizeof limit, "%g", limits_.line_timeout);
    for (int id : late)
        drop(id, (std::string("TLS handshake not finished within ") + limit + " s").c_str());
}

// Takes the TLS handshake a step further, as far as the client's bytes allow; once done, the
// client is read like any other. A failed handshake drops the client and the log says why.
void Server::continue_handshake(int id)
{
    Conn& c = conns_[id];
    IoResult r = c.io->handshake();
    if (r.status == IoStatus::Failed || r.status == IoStatus::Closed)
        return drop(id, r.why.c_str());
    if (r.status == IoStatus::Ok) {
        c.handshaking = false;
        handshaking_.erase(id);
        log_line("client %d (%s): %s", id, c.peer.c_str(), c.io->describe().c_str());
    } else {
        c.handshake_wants = r.status;
    }
    update_interest(id);
}

void Server::close_if_done(int id)
{
    auto it = conns_.find(id);
    if (it == conns_.end() || !it->second.eof) return;
    const Conn& c = it->second;
    if (c.unsent() > 0 || c.has_lines() || c.actions > 0 || dirty_.count(id) ||
        service_.batch_running(id) || service_.paging(id))
        return;
    drop(id, "closed by the client");
}

// Whether `bytes` more may be queued for the client: past its own limit it is doomed, past the
// limit of all clients together room is made first.
bool Server::queue(int client, size_t bytes)
{
    auto it = conns_.find(client);
    if (it == conns_.end() || doomed_.count(client)) return false;
    Conn& c = it->second;
    if (c.unsent() + bytes > limits_.max_unsent + 1) {
        log_line("client %d (%s): more than %s unread, dropping it", client, c.peer.c_str(),
                 mib(limits_.max_unsent).c_str());
        doom(client, "too much unread");
        return false;
    }
    if (unsent_total_ + bytes > limits_.max_unsent_total) {
        make_room(client, bytes);
        if (doomed_.count(client)) return false;
    }
    if (c.out_off > (1 << 20) && c.out_off > c.out.size() / 2) {
        c.out.erase(0, c.out_off);
        c.out_off = 0;
    }
    unsent_total_ += bytes;
    dirty_.insert(client);
    return true;
}

void Server::send(int client, const std::string& line)
{
    if (!queue(client, line.size() + 1)) return;
    Conn& c = conns_[client];
    std::string& to = c.line_open ? c.held : c.out;
    to += line;
    to += '\n';
}

void Server::send_part(int client, const std::string& text, bool last)
{
    if (!queue(client, text.size() + (last ? 1 : 0))) return;
    Conn& c = conns_[client];
    c.out += text;
    c.line_open = !last;
    if (!last) return;
    c.out += '\n';
    c.out += c.held;
    std::string().swap(c.held);
}

// The unread output of all clients would pass its limit: the clients holding the most are
// dropped until `bytes` more fit -- the client about to receive them among the candidates,
// counted with them. A client that reads keeps little unsent and is not chosen.
void Server::make_room(int client, size_t bytes)
{
    while (unsent_total_ + bytes > limits_.max_unsent_total) {
        int worst = -1;
        size_t most = 0;
        for (auto& [id, c] : conns_) {
            if (doomed_.count(id)) continue;
            size_t held = c.unsent() + (id == client ? bytes : 0);
            if (held > most) most = held, worst = id;
        }
        if (worst < 0) return;
        log_line(
            "client %d (%s): unread output of all clients would pass %s; dropping this client, "
            "which holds %zu bytes of it",
            worst, conns_[worst].peer.c_str(), mib(limits_.max_unsent_total).c_str(),
            conns_[worst].unsent());
        doom(worst, "too much unread");
        if (worst == client) return;
    }
}

// Marks a client to be dropped once the current request is done; its unsent output is
// freed at once.
void Server::doom(int id, const std::string& why)
{
    auto it = conns_.find(id);
    if (it == conns_.end() || doomed_.count(id)) return;
    doomed_[id] = why;
    unsent_total_ -= it->second.unsent();
    std::string().swap(it->second.out);
    std::string().swap(it->second.held);
    it->second.out_off = 0;
    dirty_.erase(id);
    ready_.idle(id);
}

void Server::write_client(int id)
{
    Conn& c = conns_[id];
    if (c.handshaking) return; // nothing goes out before the handshake is done
    while (c.out_off < c.out.size()) {
        IoResult w = c.io->write(c.out.data() + c.out_off, c.out.size() - c.out_off);
        c.write_wants_read = w.status == IoStatus::WantRead;
        if (w.status == IoStatus::WantRead || w.status == IoStatus::WantWrite) break;
        if (w.status != IoStatus::Ok) return doom(id, w.why);
        c.out_off += w.bytes;
        unsent_total_ -= w.bytes;
    }
    if (c.out_off == c.out.size()) {
        // An idle client keeps no large buffer that its last big reply left behind.
        if (c.out.capacity() > READ_CHUNK) std::string().swap(c.out);
        c.out.clear();
        c.out_off = 0;
    }
    update_interest(id);
    close_if_done(id);
}

void Server::drop(int id, const char* why)
{
    auto it = conns_.find(id);
    if (it == conns_.end()) return;
    log_line("client %d (%s) disconnected: %s", id, it->second.peer.c_str(), why);
    if (it->second.events) epoll_ctl(epoll_fd_, EPOLL_CTL_DEL, it->second.fd, nullptr);
    it->second.io->goodbye();
    it->second.io.reset();
    close(it->second.fd);
    unsent_total_ -= it->second.unsent();
    conns_.erase(it);
    doomed_.erase(id);
    dirty_.erase(id);
    ready_.forget(id);
    partial_.erase(id);
    handshaking_.erase(id);
    buffered_.erase(id);
    // Its waiting actions are not started; those running end unheard.
    waiting_.erase(std::remove_if(waiting_.begin(), waiting_.end(),
                                  [id](const WaitingAction& a) { return a.client == id; }),
                   waiting_.end());
    service_.disconnect(id);
}

void Server::drop_doomed()
{
    while (!doomed_.empty()) {
        auto first = doomed_.begin();
        std::string why = first->second;
        drop(first->first, why.c_str());
    }
}

// ---------------------------------------------------------------- action programs

void Server::run(int client, const nlohmann::json& id, const ActionDef& action,
                 const std::vector<std::string>& args)
{
    auto it = conns_.find(client);
    if (it == conns_.end()) return;
    ++it->second.actions;
    if (jobs_.size() < limits_.max_running_actions) return start_action({client, id, action, args});
    if (waiting_.size() < limits_.max_queued_actions) {
        waiting_.push_back({client, id, action, args});
        return;
    }
    --it->second.actions;
    service_.finish_action(client, id, false,
                           "action " + action.name +
                               " refused: " + std::to_string(waiting_.size()) +
                               " actions are waiting to run already, the most the server queues");
}

// Starts an action program without a shell, in a process group of its own (so that a time
// limit ends whatever it started too), with /dev/null as input, pipes for its output and a
// small fixed environment. posix_spawn does not copy the server's memory, so a large server
// starts a program as fast as a small one.
void Server::start_action(WaitingAction a)
{
    auto failed = [&](const std::string& why) {
        auto it = conns_.find(a.client);
        if (it != conns_.end()) --it->second.actions;
        service_.finish_action(a.client, a.id, false,
                               "cannot start " + a.action.program + ": " + why);
        update_interest(a.client);
    };
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) < 0) return failed(errstr());
    if (pipe2(err, O_CLOEXEC) < 0) {
        std::string why = errstr();
        close(out[0]);
        close(out[1]);
        return failed(why);
    }
    std::vector<std::string> argv_s = {a.action.program};
    argv_s.insert(argv_s.end(), a.args.begin(), a.args.end());
    std::vector<char*> argv, envp;
    for (auto& s : argv_s) argv.push_back(const_cast<char*>(s.c_str()));
    argv.push_back(nullptr);
    for (auto& s : action_env_) envp.push_back(const_cast<char*>(s.c_str()));
    envp.push_back(nullptr);

    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_adddup2(&files, devnull_fd_, 0);
    posix_spawn_file_actions_adddup2(&files, out[1], 1);
    posix_spawn_file_actions_adddup2(&files, err[1], 2);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK |
                                        POSIX_SPAWN_SETSIGDEF);
    posix_spawnattr_setpgroup(&attr, 0);
    sigset_t none, defaults;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attr, &none);
    sigemptyset(&defaults);
    for (int s : {SIGPIPE, SIGTERM, SIGINT}) sigaddset(&defaults, s);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    pid_t pid = -1;
    int rc = posix_spawn(&pid, argv[0], &files, &attr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&files);
    posix_spawnattr_destroy(&attr);
    close(out[1]);
    close(err[1]);
    if (rc != 0) {
        close(out[0]);
        close(err[0]);
        return failed(std::strerror(rc));
    }
    fcntl(out[0], F_SETFL, O_NONBLOCK);
    fcntl(err[0], F_SETFL, O_NONBLOCK);
    int jid = next_job_++;
    Job& j = jobs_[jid];
    j.pid = pid;
    j.out_fd = out[0];
    j.err_fd = err[0];
    j.client = a.client;
    j.id = a.id;
    j.action = a.action.name;
    j.timeout = a.action.timeout;
    j.deadline = Clock::now() + seconds(a.action.timeout); // from the start, not the request
    // Output that is not watched would not be read, and the program would block once its pipe
    // is full: it is stopped at once and its action fails with the reason.
    if (!watch_fd(out[0], TAG_JOB | static_cast<uint64_t>(jid << 1), EPOLLIN) ||
        !watch_fd(err[0], TAG_JOB | static_cast<uint64_t>((jid << 1) | 1), EPOLLIN)) {
        j.fault = "cannot watch its output: epoll_ctl: " + errstr();
        stop_job(j);
    }
}

void Server::start_waiting_actions()
{
    while (jobs_.size() < limits_.max_running_actions && !waiting_.empty()) {
        WaitingAction a = std::move(waiting_.front());
        waiting_.pop_front();
        if (conns_.count(a.client)) start_action(std::move(a));
    }
}

// Kills the program with its whole process group and stops reading its output; a child
// that left the group may hold the pipes open, so the server closes its ends itself.
void Server::stop_job(Job& j)
{
    kill(-j.pid, SIGKILL);
    for (int* fd : {&j.out_fd, &j.err_fd})
        if (*fd >= 0) {
            epoll_ctl(epoll_fd_, EPOLL_CTL_DEL, *fd, nullptr);
            close(*fd);
            *fd = -1;
        }
}

void Server::job_input(int jid, int fd)
{
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
                buf.resize(limits_.max_action_output);
                return stop_job(j);
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

// A program is done once it has exited and its output has ended, or, when a process it left
// running holds its output open, once it has exited and what it wrote has been read: the
// processes it left are not waited for, and no longer read. One past its time limit is killed
// first. Freed places go to waiting actions.
void Server::check_jobs()
{
    auto now = Clock::now();
    bool exited = child_exited_;
    child_exited_ = false;
    std::vector<std::pair<int, int>> done;
    for (auto& [jid, j] : jobs_) {
        if (!j.timed_out && !j.too_long && now >= j.deadline) {
            j.timed_out = true;
            stop_job(j);
        }
        int status = 0;
        bool open = j.out_fd >= 0 || j.err_fd >= 0;
        if (open && !exited) continue;
        if (waitpid(j.pid, &status, WNOHANG) != j.pid) continue;
        if (open) {
            job_input(jid, j.out_fd);
            job_input(jid, j.err_fd);
            for (int* fd : {&j.out_fd, &j.err_fd})
                if (*fd >= 0) {
                    epoll_ctl(epoll_fd_, EPOLL_CTL_DEL, *fd, nullptr);
                    close(*fd);
                    *fd = -1;
                }
        }
        done.push_back({jid, status});
    }
    for (auto& [jid, status] : done) {
        int client = jobs_[jid].client;
        finish_job(jid, status);
        update_interest(client);
        close_if_done(client);
    }
    if (!done.empty()) start_waiting_actions();
}

void Server::finish_job(int jid, int status)
{
    Job j = std::move(jobs_[jid]);
    jobs_.erase(jid);
    if (auto it = conns_.find(j.client); it != conns_.end()) --it->second.actions;
    auto first_line = [](std::string s) {
        while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
        return s;
    };
    if (j.timed_out)
        return service_.finish_action(j.client, j.id, false,
                                      "action " + j.action + " passed its time limit of " +
                                          std::to_string(static_cast<int>(j.timeout)) + " s");
    if (j.too_long)
        return service_.finish_action(j.client, j.id, false,
                                      "action " + j.action + " replied more than the size limit");
    if (!j.fault.empty())
        return service_.finish_action(j.client, j.id, false,
                                      "action " + j.action + " failed: " + j.fault);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        return service_.finish_action(j.client, j.id, true, j.out);
    std::string why = first_line(j.err);
    if (why.empty())
        why = WIFEXITED(status) ? "exit status " + std::to_string(WEXITSTATUS(status))
                                : "killed by signal " + std::to_string(WTERMSIG(status));
    service_.finish_action(j.client, j.id, false, "action " + j.action + " failed: " + why);
}

} // namespace mis
