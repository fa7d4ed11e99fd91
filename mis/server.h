// Public within qx_mis: the network side -- one thread, an epoll loop over non-blocking
// sockets, the programs of external actions, the simulation timer and the signals that stop
// the server. Requests go to a Service; whatever a client sends costs at most that client's
// connection, never the server.
//
// Clients are served in turns: a client gets at most a few dozen of its buffered requests, of
// at most 64 KiB together, handled (a request of a batch counting as a line) before the others
// get theirs, and a client whose replies pile up unread is neither read nor served until they
// drain. Replies and notifications go out only from the loop, so every callback of the Service
// runs between two epoll waits, never inside one.
#pragma once
#include <sys/resource.h>
#include <sys/epoll.h>
#include <sys/types.h>

#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "conn_io.h"
#include "scheduler.h"
#include "service.h"

namespace mis {

struct ServerLimits {
    // Clients served at once; the next one gets one error line and is closed. main() sizes
    // it from the descriptor limit (clients_for_descriptors).
    size_t max_clients = 256;
    size_t max_line = 1 << 20;     // a longer request line drops the client
    double line_timeout = 30;      // seconds a request line, or a TLS handshake, may take
    size_t max_unsent = 64u << 20; // a client that leaves more unread is dropped
    // Unread output of all clients together; passing it drops the client holding the most.
    size_t max_unsent_total = 256u << 20;
    size_t max_action_output = 1 << 20; // an action program printing more is stopped
    size_t max_running_actions = 8;     // action programs running at once; others wait
    size_t max_queued_actions = 1000;   // waiting beyond this, an action is refused
};

// Descriptors kept for everything but clients: standard input, output and error, the
// listening socket, epoll, the signal descriptor, /dev/null for action programs, the database
// with its WAL, shared-memory and temporary files, and one spare.
constexpr size_t FIXED_DESCRIPTORS = 16;

// Clients that fit in a process allowed `descriptors` open files, after the fixed reserve
// and two pipes for each action program that may run; 0 when none do.
size_t clients_for_descriptors(rlim_t descriptors, const ServerLimits& limits);

// Raises the soft limit on open descriptors to the hard one and returns the limit then in
// force; on failure err names why and the old soft limit is returned.
rlim_t raise_descriptor_limit(std::string& err);

class Server : public Outbox, public ActionRunner {
public:
    Server(Model& model, ServerLimits limits = {});
    ~Server() override;

    // Clients accepted from now on speak TLS through maker (tls_io.h), not plain TCP.
    void use_tls(std::unique_ptr<ConnIoMaker> maker) { tls_ = std::move(maker); }

    // Binds and listens on addr:port; false with a message naming what failed and why.
    bool listen(const std::string& addr, int port, std::string& err);
    int port() const { return port_; }

    // Calls tick every interval seconds from inside the loop (the simulation).
    void every(double seconds, std::function<void()> tick);

    // Serves until SIGTERM or SIGINT; returns the exit status.
    int run();

    Service& service() { return service_; }

    // Outbox: queues a line, or a piece of one; it is written once the current request is done.
    void send(int client, const std::string& line) override;
    void send_part(int client, const std::string& text, bool last) override;
    // ActionRunner: starts the program, or queues it while max_running_actions run.
    void run(int client, const nlohmann::json& id, const ActionDef& action,
             const std::vector<std::string>& args) override;

private:
    using Clock = std::chrono::steady_clock;

    struct Conn {
        int fd = -1;
        std::string peer;
        std::unique_ptr<ConnIo> io; // moves the bytes: plain TCP or TLS (conn_io.h)
        bool handshaking = false;   // the TLS handshake is not done; tail_since is its start
        IoStatus handshake_wants = IoStatus::WantRead; // what it waits for
        bool read_wants_write = false; // a TLS read goes on once the socket is writable
        bool write_wants_read = false; // a TLS write goes on once the socket is readable
        std::string in;               // bytes received and not yet handled
        size_t in_done = 0;           // in[0, in_done) is handled
        size_t tail = 0;              // in[tail, end) is the incomplete last line
        Clock::time_point tail_since; // when its first byte came (while being read)
        std::string out;
        size_t out_off = 0;
        bool line_open = false; // out ends in a line sent in pieces, not yet ended
        std::string held;       // whole lines sent meanwhile: they follow it
        size_t unsent() const { return out.size() - out_off + held.size(); }
        uint32_t events = 0; // what epoll watches for; 0: not registered
        bool reading = false;
        bool eof = false;   // the client sent all it will; close once its replies are out
        size_t actions = 0; // its action programs, running or waiting
        bool has_lines() const { return in_done < tail; }
    };
    struct Job {
        pid_t pid = -1; // also the program's process group
        int out_fd = -1, err_fd = -1;
        int client = 0;
        nlohmann::json id;
        std::string action;
        std::string out, err;
        double timeout = 0;
        Clock::time_point deadline;
        bool too_long = false, timed_out = false;
        std::string fault; // why the server stopped it, when it did for a fault of its own
    };
    struct WaitingAction {
        int client;
        nlohmann::json id;
        ActionDef action;
        std::vector<std::string> args;
    };

    Model& model_;
    ServerLimits limits_;
    Service service_;
    int listen_fd_ = -1, epoll_fd_ = -1, signal_fd_ = -1, devnull_fd_ = -1, port_ = 0;
    int next_client_ = 1, next_job_ = 1;
    std::map<int, Conn> conns_;
    std::map<int, Job> jobs_;
    std::deque<WaitingAction> waiting_;
    std::vector<std::string> action_env_; // the whole environment of action programs
    std::map<int, std::string> doomed_;   // clients to drop once the current request is done
    std::set<int> dirty_;                 // clients with output to write
    Scheduler ready_; // clients with complete request lines to be served, and their order
    std::set<int> partial_;               // clients with an incomplete request line
    std::set<int> handshaking_;           // clients whose TLS handshake is not done
    std::set<int> buffered_;              // clients with input read off the socket, not handed out
    std::unique_ptr<ConnIoMaker> tls_;    // set: clients speak TLS
    size_t unsent_total_ = 0;
    bool child_exited_ = false; // SIGCHLD came: programs may have ended with their output open
    Clock::time_point next_sweep_;
    // Accepting pauses for a while when it fails (descriptors ran out); failures are logged
    // once a period.
    bool accept_paused_ = false;
    Clock::time_point accept_resume_, accept_log_next_;
    size_t accept_unlogged_ = 0;
    Clock::time_point refusal_log_next_; // clients refused while full: logged once a period
    size_t refusals_unlogged_ = 0;
    double interval_ = 0;
    std::function<void()> tick_;
    Clock::time_point next_tick_;

    int wait_timeout() const;
    bool handle_event(const epoll_event& ev);
    void run_timers();
    void accept_clients();
    void accept_failed(int err);
    void read_client(int id);
    void continue_handshake(int id);
    void serve_turn(int id);
    void write_client(int id);
    bool queue(int client, size_t bytes);
    void update_interest(int id);
    void sweep_partial_lines();
    void doom(int id, const std::string& why);
    void make_room(int client, size_t bytes);
    void drop(int id, const char* why);
    void drop_doomed();
    void close_if_done(int id);
    void start_action(WaitingAction a);
    void start_waiting_actions();
    void stop_job(Job& j);
    void job_input(int job, int fd);
    void check_jobs();
    void finish_job(int job, int status);
    // Adds fd to epoll under tag; false (errno set) when epoll_ctl fails.
    bool watch_fd(int fd, uint64_t tag, uint32_t events);
};

} // namespace mis
