// Test support: runs the real qx_mis on a free port with a fresh database, and a plain
// line-based JSON-RPC client to talk to it.
#pragma once
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <vector>

namespace qxtest {

using nlohmann::json;

// A fresh temporary folder, removed with its contents at the end.
struct TempDir {
    std::string path;
    TempDir() {
        char tmpl[] = "/tmp/qx_test.XXXXXX";
        path = mkdtemp(tmpl);
    }
    ~TempDir() { std::system(("rm -rf '" + path + "'").c_str()); }
};

// Limits on open descriptors for the server's process; 0: those of the test.
struct FileLimit {
    rlim_t soft = 0, hard = 0;
};

class MisProcess {
public:
    // Starts qx_mis with a database in dir and any extra arguments; waits until it listens.
    explicit MisProcess(const std::string& dir, std::vector<std::string> extra = {}, FileLimit files = {})
        : dir_(dir), files_(files) {
        start(extra);
    }
    ~MisProcess() { stop(SIGKILL); }

    void start(std::vector<std::string> extra = {}) {
        int out[2];
        if (pipe(out) < 0) throw std::runtime_error("pipe");
        pid_ = fork();
        if (pid_ == 0) {
            dup2(out[1], 1);
            close(out[0]);
            std::string log = dir_ + "/qx_mis.log";
            FILE* f = std::freopen(log.c_str(), "a", stderr);
            (void)f;
            if (files_.soft) {
                rlimit rl{files_.soft, files_.hard ? files_.hard : files_.soft};
                if (setrlimit(RLIMIT_NOFILE, &rl) < 0) _exit(126);
            }
            std::vector<std::string> args = {QX_MIS_BIN, "--listen", "127.0.0.1:0", "--db", dir_ + "/mis.db"};
            args.insert(args.end(), extra.begin(), extra.end());
            std::vector<char*> argv;
            for (auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(out[1]);
        // The first line on standard output names the port.
        std::string line;
        char c;
        pollfd p{out[0], POLLIN, 0};
        while (line.find('\n') == std::string::npos && poll(&p, 1, 20000) > 0 && read(out[0], &c, 1) == 1) line += c;
        close(out[0]);
        size_t at = line.find("127.0.0.1:");
        if (at == std::string::npos) throw std::runtime_error("qx_mis did not start: " + line);
        port_ = std::atoi(line.c_str() + at + 10);
    }

    // Sends a signal and waits for the process; returns its wait status.
    int stop(int sig = SIGTERM) {
        if (pid_ <= 0) return -1;
        kill(pid_, sig);
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return status;
    }

    bool alive() const { return pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0; }
    int port() const { return port_; }
    pid_t pid() const { return pid_; }
    std::string log() const {
        std::string s;
        if (FILE* f = std::fopen((dir_ + "/qx_mis.log").c_str(), "r")) {
            char buf[4096];
            size_t n;
            while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
            std::fclose(f);
        }
        return s;
    }

private:
    std::string dir_;
    FileLimit files_;
    pid_t pid_ = -1;
    int port_ = 0;
};

class Client {
public:
    explicit Client(int port) {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(static_cast<uint16_t>(port));
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (connect(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) < 0) throw std::runtime_error("connect");
    }
    ~Client() { close(fd_); }
    Client(const Client&) = delete;

    void send_raw(const std::string& text) {
        size_t off = 0;
        while (off < text.size()) {
            ssize_t w = ::send(fd_, text.data() + off, text.size() - off, MSG_NOSIGNAL);
            if (w <= 0) return;
            off += static_cast<size_t>(w);
        }
    }

    // Next line from the server as JSON; a null json when the connection closed or nothing
    // came within the time limit.
    json next(int timeout_ms = 5000) {
        std::string line;
        if (!read_line(line, timeout_ms)) return json();
        return json::parse(line, nullptr, false);
    }

    // Sends a request and returns its reply; notifications arriving meanwhile are kept.
    json call(const std::string& method, const json& params = json::object()) {
        int id = ++last_id_;
        send_raw(json{{"jsonrpc", "2.0"}, {"id", id}, {"method", method}, {"params", params}}.dump() + "\n");
        for (;;) {
            json j = next(10000);
            if (j.is_null()) return j;
            if (j.contains("id") && j["id"] == id) return j;
            notes.push_back(j);
        }
    }

    json result(const std::string& method, const json& params = json::object()) {
        json r = call(method, params);
        if (!r.contains("result")) throw std::runtime_error(method + " failed: " + r.dump());
        return r["result"];
    }

    int error_code(const std::string& method, const json& params = json::object()) {
        json r = call(method, params);
        return r.contains("error") ? r["error"]["code"].get<int>() : 0;
    }

    // Collects notifications (method "event", or "rawEvent" when raw) for up to ms.
    std::vector<json> events(int ms = 300, bool raw = false) {
        auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        for (;;) {
            int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                            until - std::chrono::steady_clock::now()).count());
            if (left <= 0) break;
            json j = next(left);
            if (j.is_null()) break;
            notes.push_back(j);
        }
        std::vector<json> out;
        for (auto& n : notes)
            if (n.value("method", "") == (raw ? "rawEvent" : "event")) out.push_back(n["params"]);
        notes.clear();
        return out;
    }

    bool closed(int timeout_ms = 3000) {
        std::string line;
        auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        while (std::chrono::steady_clock::now() < until) {
            if (!read_line(line, 200)) {
                if (eof_) return true;
            }
        }
        return eof_;
    }

    // Tells the server this client will send nothing more.
    void finish_sending() { shutdown(fd_, SHUT_WR); }

    std::deque<json> notes;

private:
    int fd_ = -1;
    int last_id_ = 0;
    std::string buf_;
    bool eof_ = false;

    bool read_line(std::string& line, int timeout_ms) {
        auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        for (;;) {
            size_t nl = buf_.find('\n');
            if (nl != std::string::npos) {
                line = buf_.substr(0, nl);
                buf_.erase(0, nl + 1);
                return true;
            }
            int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                            until - std::chrono::steady_clock::now()).count());
            if (left <= 0 || eof_) return false;
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, left) <= 0) return false;
            char tmp[65536];
            ssize_t r = recv(fd_, tmp, sizeof tmp, 0);
            if (r <= 0) {
                eof_ = true;
                return false;
            }
            buf_.append(tmp, static_cast<size_t>(r));
        }
    }
};

}  // namespace qxtest
