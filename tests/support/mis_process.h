// Test support: runs the real qx_mis with a fresh database, and a plain line-based JSON-RPC
// client to talk to it. The server picks a free port itself (--listen 127.0.0.1:0) and
// names it on the first line of its standard output, so two servers never race for one.
//
//     MisProcess mis;                        // its own temporary folder, not started yet
//     ASSERT_TRUE(mis.start()) << mis.failure();
//     platform.connect(mis.address().c_str(), "test", 10);
//
// The binary is $QX_MIS_BIN when set, else the one the build made (QX_MIS_BIN_DEFAULT,
// which linking the qx_test_mis target defines).
#pragma once
#include <sys/resource.h>

#ifndef QX_MIS_BIN_DEFAULT
#define QX_MIS_BIN_DEFAULT "qx_mis"
#endif

#include <algorithm>
#include <chrono>
#include <deque>
#include <memory>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "child_process.h"

namespace qxtest {

using nlohmann::json;

// The time ms from now, and the milliseconds until such a time (0 or less once it has passed).
inline std::chrono::steady_clock::time_point deadline_in(int ms)
{
    return std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
}
inline int ms_left(std::chrono::steady_clock::time_point until)
{
    return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                until - std::chrono::steady_clock::now())
                                .count());
}

// Limits on open descriptors for the server's process; 0: those of the test.
struct FileLimit {
    rlim_t soft = 0, hard = 0;
};

// The value of the attribute full_name (as "x721:userLabel") in a get result; "<absent>" when
// it has none.
inline json attribute_value(const json& object, const std::string& full_name)
{
    for (auto& a : object["attributes"])
        if (a["name"] == full_name) return a["value"];
    return "<absent>";
}

// One JSON-RPC request, and the line a client sends for it.
inline json request(const json& id, const std::string& method, const json& params)
{
    return json{{"jsonrpc", "2.0"}, {"id", id}, {"method", method}, {"params", params}};
}
inline std::string request_line(const json& id, const std::string& method, const json& params)
{
    return request(id, method, params).dump() + "\n";
}

// A network for large answers: the log BIG with n records, whose derive replies take about
// 75 bytes a record. Written as dir/big.txt, for --seed; returns that path.
const std::string BIG = "/systemId=\"big\"/logId=\"big\"";
inline std::string big_network(const std::string& dir, int n)
{
    std::string path = dir + "/big.txt";
    std::ofstream out(path);
    out << "object /systemId=\"big\" managedElement\nobject " << BIG << " log\n";
    for (int i = 1; i <= n; ++i)
        out << "object " << BIG << "/logRecordId=" << i << " alarmRecord\n";
    return path;
}

class MisProcess : public ChildProcess {
public:
    // Not started; the database and log go to a temporary folder of its own,
    // removed with the object.
    MisProcess() : own_(new TempDir), dir_(own_->path) {}
    // Starts qx_mis with a database in dir, any extra arguments and, when given, a limit on
    // its open descriptors; throws when it does not start.
    explicit MisProcess(const std::string& dir, std::vector<std::string> extra = {},
                        FileLimit files = {})
        : dir_(dir), files_(files)
    {
        if (!start(std::move(extra))) throw std::runtime_error(failure_);
    }

    static std::string binary()
    {
        const char* env = std::getenv("QX_MIS_BIN");
        return env && *env ? env : QX_MIS_BIN_DEFAULT;
    }
    static bool available() { return access(binary().c_str(), X_OK) == 0; }
    // Runs qx_mis with args to its end, input on its standard input; returns its exit status,
    // with what it wrote in out.
    static int run(std::vector<std::string> args, std::string& out, const std::string& input = "")
    {
        args.insert(args.begin(), binary());
        return run_program(args, input, out);
    }
    // qx_mis --add-user: adds name with role and password to the users file.
    static int add_user(const std::string& file, const std::string& name, const std::string& role,
                        const std::string& password, std::string& out)
    {
        return run({"--add-user", name, "--role", role, "--users", file}, out, password + "\n");
    }

    // Starts the server (again, on the same database, after a stop) and waits until it
    // listens; false with failure() saying why when it does not.
    bool start(std::vector<std::string> extra = {})
    {
        failure_.clear();
        int out[2];
        if (pipe(out) < 0) return fail(std::string("pipe: ") + std::strerror(errno));
        std::vector<std::string> args = {binary(), "--listen", "127.0.0.1:0", "--db",
                                         dir_ + "/mis.db"};
        args.insert(args.end(), extra.begin(), extra.end());
        bool spawned = spawn(args, [&] {
            dup2(out[1], 1);
            close(out[0]);
            close(out[1]);
            int log = ::open((dir_ + "/qx_mis.log").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
            if (log >= 0) dup2(log, 2);
            // The folder is the server's working directory, so whatever it writes stays there.
            rlimit rl{files_.soft, files_.hard ? files_.hard : files_.soft};
            return chdir(dir_.c_str()) == 0 && (!files_.soft || setrlimit(RLIMIT_NOFILE, &rl) == 0);
        });
        close(out[1]);
        if (!spawned) {
            close(out[0]);
            return false;
        }
        // The first line on standard output names the port.  Seeding a big network
        // under a sanitizer takes a while, hence the generous limit.
        std::string line;
        char c;
        pollfd p{out[0], POLLIN, 0};
        auto until = deadline_in(static_cast<int>(start_wait_seconds * 1000));
        while (line.find('\n') == std::string::npos &&
               poll(&p, 1, std::max(0, ms_left(until))) > 0 && read(out[0], &c, 1) == 1)
            line += c;
        close(out[0]);
        // "qx_mis: listening on ADDR:PORT, ..."; a test may give another --listen address.
        size_t at = line.find("listening on ");
        size_t colon = at == std::string::npos ? at : line.find(':', at);
        if (colon == std::string::npos) {
            stop(SIGKILL);
            return fail(args[0] + " did not start: " + line + "; its log: " + log());
        }
        port_ = std::atoi(line.c_str() + colon + 1);
        return true;
    }

    int port() const { return port_; }
    // How long start() waits for the server to name its port: the whole seeding of the
    // network (a million objects take minutes).
    double start_wait_seconds = 300;
    std::string address() const { return "127.0.0.1:" + std::to_string(port_); }
    const std::string& folder() const { return dir_; }
    std::string log() const { return read_file(dir_ + "/qx_mis.log"); }

    static int free_port() { return qxtest::free_port(); }

private:
    std::unique_ptr<TempDir> own_; // the folder, when the process made its own
    std::string dir_;
    FileLimit files_;
    int port_ = 0;
};

class Client {
public:
    explicit Client(int port)
    {
        fd_ = connect_loopback(port);
        if (fd_ < 0) throw std::runtime_error("connect: " + std::string(std::strerror(errno)));
    }
    ~Client() { close(fd_); }
    Client(const Client&) = delete;

    void send_raw(const std::string& text)
    {
        size_t off = 0;
        while (off < text.size()) {
            ssize_t w = ::send(fd_, text.data() + off, text.size() - off, MSG_NOSIGNAL);
            if (w <= 0) return;
            off += static_cast<size_t>(w);
        }
    }

    // Next line from the server as JSON; a null json when the connection closed or nothing
    // came within the time limit.
    json next(int timeout_ms = 5000)
    {
        std::string line;
        if (!read_line(line, timeout_ms)) return json();
        return json::parse(line, nullptr, false);
    }

    // The next line as the server wrote it, for what parsing hides (the characters of an id);
    // "" when the connection closed or nothing came within the time limit.
    std::string next_text(int timeout_ms = 10000)
    {
        std::string line;
        return read_line(line, timeout_ms) ? line : std::string();
    }

    // Sends a request and returns its reply; notifications arriving meanwhile are kept.
    json call(const std::string& method, const json& params = json::object())
    {
        int id = ++last_id_;
        send_raw(request_line(id, method, params));
        for (;;) {
            json j = next(10000);
            if (j.is_null()) return j;
            if (j.contains("id") && j["id"] == id) return j;
            notes.push_back(j);
        }
    }

    json result(const std::string& method, const json& params = json::object())
    {
        json r = call(method, params);
        if (!r.contains("result")) throw std::runtime_error(method + " failed: " + r.dump());
        return r["result"];
    }

    int error_code(const std::string& method, const json& params = json::object())
    {
        json r = call(method, params);
        return r.contains("error") ? r["error"]["code"].get<int>() : 0;
    }

    // Collects notifications (method "event", or "rawEvent" when raw) for up to ms.
    std::vector<json> events(int ms = 300, bool raw = false)
    {
        auto until = deadline_in(ms);
        for (json j; ms_left(until) > 0 && !(j = next(ms_left(until))).is_null();)
            notes.push_back(j);
        std::vector<json> out;
        for (auto& n : notes)
            if (n.value("method", "") == (raw ? "rawEvent" : "event")) out.push_back(n["params"]);
        notes.clear();
        return out;
    }

    bool closed(int timeout_ms = 3000)
    {
        std::string line;
        for (auto until = deadline_in(timeout_ms); !eof_ && ms_left(until) > 0;)
            read_line(line, 200);
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

    bool read_line(std::string& line, int timeout_ms)
    {
        auto until = deadline_in(timeout_ms);
        for (;;) {
            size_t nl = buf_.find('\n');
            if (nl != std::string::npos) {
                line = buf_.substr(0, nl);
                buf_.erase(0, nl + 1);
                return true;
            }
            pollfd p{fd_, POLLIN, 0};
            if (eof_ || ms_left(until) <= 0 || poll(&p, 1, ms_left(until)) <= 0) return false;
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

} // namespace qxtest
