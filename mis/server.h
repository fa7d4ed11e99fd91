// Public within qx_mis: the network side -- one thread, an epoll loop over non-blocking
// sockets, the programs of external actions, the simulation timer and the signals that stop
// the server. Requests go to a Service; whatever a client sends costs at most that client's
// connection, never the server.
#pragma once
#include <chrono>
#include <functional>
#include <map>
#include <set>
#include <string>

#include "service.h"

namespace mis {

struct ServerLimits {
    size_t max_clients = 256;             // client 257 gets one error line and is closed
    size_t max_line = 1 << 20;            // a longer request line drops the client
    size_t max_unsent = 64u << 20;        // a client that leaves more unread is dropped
    size_t max_action_output = 1 << 20;   // an action program printing more is stopped
};

class Server : public Outbox, public ActionRunner {
public:
    Server(Model& model, ServerLimits limits = {});
    ~Server() override;

    // Binds and listens on addr:port; false with a message naming what failed and why.
    bool listen(const std::string& addr, int port, std::string& err);
    int port() const { return port_; }

    // Calls tick every interval seconds from inside the loop (the simulation).
    void every(double seconds, std::function<void()> tick);

    // Serves until SIGTERM or SIGINT; returns the exit status.
    int run();

    Service& service() { return service_; }

    // Outbox
    void send(int client, const std::string& line) override;
    // ActionRunner
    void run(int client, const nlohmann::json& id, const ActionDef& action,
             const std::vector<std::string>& args) override;

private:
    struct Conn {
        int fd = -1;
        std::string peer;
        std::string in;
        std::string out;
        size_t out_off = 0;
        bool want_write = false;
        bool eof = false;  // the client sent all it will; close once its replies are out
    };
    struct Job {
        pid_t pid = -1;
        int out_fd = -1, err_fd = -1;
        int client = 0;
        nlohmann::json id;
        std::string action;
        std::string out, err;
        double timeout = 0;
        std::chrono::steady_clock::time_point deadline;
        bool too_long = false;
    };

    Model& model_;
    ServerLimits limits_;
    Service service_;
    int listen_fd_ = -1, epoll_fd_ = -1, signal_fd_ = -1, port_ = 0;
    int next_client_ = 1, next_job_ = 1;
    std::map<int, Conn> conns_;
    std::map<int, Job> jobs_;
    std::set<int> doomed_;  // clients to drop once the current request is done
    std::set<int> dirty_;   // clients with output to write
    double interval_ = 0;
    std::function<void()> tick_;
    std::chrono::steady_clock::time_point next_tick_;

    void accept_clients();
    void read_client(int id);
    void write_client(int id);
    void drop(int id, const char* why);
    void drop_doomed();
    void close_if_done(int id);
    void job_input(int job, int fd);
    void check_jobs();
    void finish_job(int job, int status);
    void watch_fd(int fd, uint64_t tag, uint32_t events);
};

}  // namespace mis
