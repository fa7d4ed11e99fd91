// Benchmark of qx_mis over loopback: deriving containers of 10,000 and 100,000 children, a
// whole-subtree search with a selective filter, creating 10,000 objects one request at a time
// and pipelined, how long another client waits for an answer while one client pipelines
// 300,000 requests, and how the server holds up under two hostile workloads (20 clients with
// 1,000 distinct 16 KiB subscription filters each, and a batch of 1,000 derives of a 20,000-child
// container), then what TLS costs: a derive of 100,000 children through KVL in plain TCP and in
// TLS, and logins per second while another client's gets are timed. Prints figures; asserts
// nothing. `bench_mis attacks` and `bench_mis tls` run those cases alone.
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <thread>

#include "../bench_network.h"
#include "kvl/kvl.h"
#include "mis_process.h"
#include "test_certificates.h"

using namespace qxtest;
using namespace qxbench;

namespace {

void write_network(const std::string& path)
{
    write_log_network(path, {{"log10000", 10000}, {"log100000", 100000}, {"fresh", 0}});
}

const std::string AMP = "/systemId=\"amp\"";
const std::string CORE = "/systemId=\"leeds-core-1\"";
const std::string RACK = CORE + "/equipmentId=\"rack-1\"";
// Past this resident size the server is stopped, so that the machine is not run out of memory.
const size_t RSS_STOP = 2500u << 20;

// One container of 20,000 racks with 46-character ids (one derive reply is some 2.4 MB), and
// the rack whose label the other client sets.
void write_attack_network(const std::string& path)
{
    std::ofstream out(path);
    out << "object " << AMP << " managedElement\n";
    for (int i = 0; i < 20000; ++i) {
        char id[64];
        std::snprintf(id, sizeof id, "rack-%05d-abcdefghijklmnopqrstuvwxyz0123456789", i);
        out << "object " << AMP << "/equipmentId=\"" << id << "\" equipmentRack\n";
    }
    out << "object " << CORE << " managedElement\nobject " << RACK << " equipmentRack\n";
}

// The server's resident memory in bytes, from /proc/PID/status; 0 when it is gone.
size_t resident(pid_t pid, const char* field = "VmRSS:")
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind(field, 0) == 0) return std::stoull(line.substr(std::strlen(field))) << 10;
    return 0;
}

// A connection that sends what it is given and reads everything the server sends in a thread
// of its own, keeping only the count of replies, of error replies and of batch answers: a
// reply of gigabytes costs it nothing.
class Drain {
public:
    explicit Drain(int port)
    {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(static_cast<uint16_t>(port));
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (connect(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) < 0)
            throw std::runtime_error(std::string("connect: ") + std::strerror(errno));
        reader_ = std::thread([this] {
            char buf[1 << 16];
            std::string tail;
            for (;;) {
                pollfd p{fd_, POLLIN, 0};
                if (stop_ || poll(&p, 1, 100) < 0) break;
                if (!(p.revents & (POLLIN | POLLHUP | POLLERR))) continue;
                ssize_t r = recv(fd_, buf, sizeof buf, 0);
                if (r <= 0) {
                    closed_ = true;
                    break;
                }
                bytes_ += static_cast<size_t>(r);
                for (ssize_t i = 0; i < r; ++i) {
                    if (buf[i] != '\n') {
                        if (tail.size() < 64) tail += buf[i];
                        continue;
                    }
                    // Replies start with "error", "id" or "result" (the keys come sorted);
                    // notifications with "jsonrpc".
                    if (tail.rfind("{\"jsonrpc\"", 0) != 0 && tail.rfind("[", 0) != 0) ++lines_;
                    if (tail.rfind("[", 0) == 0) ++batches_;
                    if (tail.rfind("{\"error\"", 0) == 0) ++errors_;
                    tail.clear();
                }
            }
        });
    }
    ~Drain()
    {
        stop_ = true;
        shutdown(fd_, SHUT_RDWR);
        if (sender_.joinable()) sender_.join();
        if (reader_.joinable()) reader_.join();
        close(fd_);
    }
    Drain(const Drain&) = delete;

    // Sends the text from a thread of its own, so that many clients send at once.
    void send(std::string text)
    {
        sender_ = std::thread([this, text = std::move(text)] {
            for (size_t off = 0; off < text.size() && !stop_;) {
                ssize_t w = ::send(fd_, text.data() + off, text.size() - off, MSG_NOSIGNAL);
                if (w <= 0) return;
                off += static_cast<size_t>(w);
            }
        });
    }
    size_t lines() const { return lines_; } // replies to single requests
    size_t batches() const { return batches_; }
    size_t errors() const { return errors_; }
    size_t bytes() const { return bytes_; }
    bool closed() const { return closed_; }

private:
    int fd_ = -1;
    std::thread reader_, sender_;
    std::atomic<bool> stop_{false}, closed_{false};
    std::atomic<size_t> lines_{0}, batches_{0}, errors_{0}, bytes_{0};
};

// Medians and tails of the other client's get and set.
struct Waits {
    std::vector<double> get, set;
    static std::string show(std::vector<double> v)
    {
        if (v.empty()) return "none answered";
        std::sort(v.begin(), v.end());
        char out[160];
        std::snprintf(out, sizeof out, "%.2f ms median, %.2f ms 99th percentile, %.2f ms most (%zu)",
                      v[v.size() / 2], v[v.size() * 99 / 100], v.back(), v.size());
        return out;
    }
};

// The other client: gets and sets of the rack, one at a time, until `until` says stop or
// `most` of each were answered.
Waits measure(Client& other, const std::function<bool()>& until, size_t most)
{
    Waits w;
    for (size_t i = 0; w.get.size() < most && !until(); ++i) {
        auto t = Clock::now();
        if (!other.call("get", {{"name", RACK}}).contains("result")) break;
        w.get.push_back(ms_since(t));
        t = Clock::now();
        json r = other.call("set", {{"name", RACK},
                                    {"values", {{"userLabel", i % 2 ? "bench-a" : "bench-b"}}}});
        if (!r.contains("result")) break;
        w.set.push_back(ms_since(t));
    }
    return w;
}

// The filter attack of 20 clients: on each, 1,000 derives with a subscription on the core
// element, each with its own filter of some 16 KiB, sent as one write of 1,000 lines. The
// filter is a term repeated 815 times and one of its own; or, with `distinct`, some 650 terms
// that are all its own, which no reduction shortens.
std::vector<std::unique_ptr<Drain>> filter_attack(int port, int round, bool distinct = false)
{
    std::string repeated;
    for (int k = 0; k < 815; ++k) repeated += "(userLabel=abcdefgh)";
    std::vector<std::unique_ptr<Drain>> clients;
    for (int c = 0; c < 20; ++c) {
        std::string lines;
        for (int i = 0; i < 1000; ++i) {
            std::string own = std::to_string(round) + "-" + std::to_string(c * 1000 + i);
            if (distinct) {
                repeated.clear();
                for (int k = 0; repeated.size() < 16200; ++k)
                    repeated += "(userLabel=" + std::to_string(k) + "-" + own + ")";
            }
            std::string f = "(|" + repeated + "(userLabel=uc-" + own + "))";
            lines += request_line(i, "derive",
                                  {{"base", CORE}, {"filter", f}, {"subscribe", true}});
        }
        clients.push_back(std::make_unique<Drain>(port));
        clients.back()->send(lines);
    }
    return clients;
}

// The batch attack: one line with 1,000 derives of the 20,000 racks.
std::unique_ptr<Drain> batch_attack(int port)
{
    std::string line = "[";
    for (int i = 0; i < 1000; ++i)
        line += (i ? "," : "") + request(i, "derive", {{"derivation", AMP + "/*"}}).dump();
    auto d = std::make_unique<Drain>(port);
    d->send(line + "]\n");
    return d;
}

// Both attacks against a server of their own, with another client's gets and sets measured
// before, during and after; the server's memory is sampled all along.
int attacks()
{
    TempDir dir;
    write_attack_network(dir.path + "/attack.txt");
    MisProcess mis(dir.path, {"--seed", dir.path + "/attack.txt"});
    Client other(mis.port());
    std::atomic<size_t> peak{0};
    std::atomic<bool> sampling{true}, stopped{false};
    std::thread sampler([&] {
        while (sampling) {
            size_t rss = resident(mis.pid());
            peak = std::max(peak.load(), rss);
            if (rss > RSS_STOP && !stopped) {
                stopped = true;
                kill(mis.pid(), SIGKILL);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    auto report = [&](const char* what, const Waits& w) {
        std::printf("  %s: get %s\n  %*s  set %s\n", what, Waits::show(w.get).c_str(),
                    static_cast<int>(std::strlen(what)), "", Waits::show(w.set).c_str());
    };
    auto filters_done = [](const std::vector<std::unique_ptr<Drain>>& v) {
        for (auto& d : v)
            if (d->lines() < 1000 && !d->closed()) return false;
        return true;
    };
    auto counts = [](const std::vector<std::unique_ptr<Drain>>& v) {
        size_t ok = 0, refused = 0;
        for (auto& d : v) ok += d->lines() - d->errors(), refused += d->errors();
        return std::make_pair(ok, refused);
    };
    std::printf("hostile workloads (the server's resident memory stopped past %zu MB):\n",
                RSS_STOP >> 20);
    report("without them", measure(other, [] { return false; }, 300));
    size_t idle = resident(mis.pid());

    // The filters alone: while they are sent, and once they are held.
    peak = 0;
    auto t = Clock::now();
    auto filters = filter_attack(mis.port(), 1);
    Waits during = measure(
        other, [&] { return filters_done(filters) || ms_since(t) > 60000 || stopped; }, 100000);
    while (!filters_done(filters) && ms_since(t) < 60000 && !stopped)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    auto [ok, refused] = counts(filters);
    std::printf("  20 clients x 1,000 distinct 16 KiB filters: %zu subscriptions made, %zu "
                "refused, in %.0f ms; resident memory %zu MB at rest, %zu MB at most\n",
                ok, refused, ms_since(t), idle >> 20, peak.load() >> 20);
    report("while they are sent", during);
    report("with them held", measure(other, [&] { return stopped.load(); }, 300));
    filters.clear();

    // Filters that no reduction shortens: the filter memory of all clients bounds them, and
    // with it the work of every set beneath them.
    peak = 0;
    t = Clock::now();
    filters = filter_attack(mis.port(), 3, true);
    while (!filters_done(filters) && ms_since(t) < 90000 && !stopped)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::tie(ok, refused) = counts(filters);
    std::printf("  20 clients x 1,000 16 KiB filters of distinct terms: %zu subscriptions made, %zu "
                "refused, in %.0f ms; resident memory %zu MB at most\n",
                ok, refused, ms_since(t), peak.load() >> 20);
    report("with them held", measure(other, [&] { return stopped.load(); }, 300));
    filters.clear();

    // Both at once: the batch on a line of its own, the filters sent anew.
    peak = 0;
    t = Clock::now();
    auto batch = batch_attack(mis.port());
    filters = filter_attack(mis.port(), 2);
    auto batch_done = [&] { return batch->batches() >= 1 || batch->closed(); };
    during = measure(
        other,
        [&] { return (batch_done() && filters_done(filters)) || ms_since(t) > 90000 || stopped; },
        100000);
    while (!(batch_done() && filters_done(filters)) && ms_since(t) < 90000 && !stopped)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::tie(ok, refused) = counts(filters);
    std::printf("  both at once, %.0f ms: the batch client %s after %.1f MB of replies; the "
                "filters %zu made, %zu refused; resident memory %zu MB at most\n",
                ms_since(t),
                batch->batches() >= 1 ? "had its answer"
                : batch->closed()  ? "was disconnected"
                                   : "was still waiting",
                batch->bytes() / 1e6, ok, refused, peak.load() >> 20);
    report("meanwhile", during);
    bool alive = !stopped && mis.alive();
    std::printf("  the server %s\n", alive        ? "is alive and answers"
                                     : stopped.load() ? "passed the memory bound and was stopped"
                                                      : "died");
    if (alive) report("afterwards", measure(other, [] { return false; }, 300));
    sampling = false;
    sampler.join();
    return alive ? 0 : 1;
}

// The best of five derives of base's children through KVL on a platform connected to host; a
// negative time when one fails.
double kvl_derive_ms(const std::string& host, const std::string& base, int n)
{
    Platform p(DataUnit("QX"), DataUnit(""));
    if (!p.connect(DataUnit(host.c_str()), DataUnit("bench"), 30)) {
        std::printf("  cannot connect to %s: %s\n", host.c_str(), p.get_error_string());
        return -1;
    }
    double best = 1e9;
    for (int round = 0; round < 5; ++round) {
        Album a(DataUnit("bench"), p);
        a.set_derivation((base + "/*").c_str());
        auto t = Clock::now();
        if (!a.derive(300) || a.num_images() != n) {
            std::printf("  derive over %s failed: %s\n", host.c_str(), a.get_error_string());
            return -1;
        }
        best = std::min(best, ms_since(t));
    }
    p.disconnect();
    return best;
}

// What TLS costs: the derive of 100,000 children through KVL, plain and in TLS, on one
// database; then, on a server with users, logins per second while another client's get is
// timed (the password checks run on a thread of their own).
int tls_costs()
{
    TempDir dir;
    Certificates certs;
    std::string why;
    if (!certs.make(why)) {
        std::printf("tls: %s\n", why.c_str());
        return 1;
    }
    setenv("QX_TLS_CA", certs.path("ca.pem").c_str(), 1);
    write_log_network(dir.path + "/network.txt", {{"log100000", 100000}});
    const std::vector<std::string> seed = {"--seed", dir.path + "/network.txt"};
    std::vector<std::string> tls = seed;
    tls.insert(tls.end(), {"--tls-cert", certs.path("good.pem"), "--tls-key", certs.path("good.key")});
    const std::string base = log_fdn("log100000");
    MisProcess mis(dir.path, seed);
    double plain = kvl_derive_ms(mis.address(), base, 100000);
    mis.stop();
    if (!mis.start(tls)) {
        std::printf("tls: %s\n", mis.failure().c_str());
        return 1;
    }
    double secure = kvl_derive_ms("qxs://127.0.0.1:" + std::to_string(mis.port()), base, 100000);
    mis.stop();
    if (plain > 0 && secure > 0)
        std::printf("derive 100000 children through KVL: plain TCP %.0f ms, TLS %.0f ms (best of "
                    "5): TLS costs %.2fx (goal: within 1.3x)\n",
                    plain, secure, secure / plain);

    // Logins: 32 clients log in at once; another, logged in before, asks get after get.
    const std::string users = dir.path + "/users";
    std::string out;
    if (run_program({MisProcess::binary(), "--add-user", "ann", "--role", "reader", "--users",
                     users},
                    "ann-pass\n", out) != 0) {
        std::printf("tls: --add-user failed: %s\n", out.c_str());
        return 1;
    }
    std::vector<std::string> with_users = seed;
    with_users.insert(with_users.end(), {"--users", users});
    if (!mis.start(with_users)) {
        std::printf("tls: %s\n", mis.failure().c_str());
        return 1;
    }
    const json login = {{"user", "ann"}, {"password", "ann-pass"}};
    Client other(mis.port());
    if (!other.call("login", login).contains("result")) {
        std::printf("tls: the login of the timed client failed\n");
        return 1;
    }
    const int L = 32;
    std::vector<std::unique_ptr<Client>> clients;
    for (int i = 0; i < L; ++i) clients.push_back(std::make_unique<Client>(mis.port()));
    std::atomic<int> answered{0}, refused{0};
    auto t = Clock::now();
    for (auto& c : clients) c->send_raw(request_line(1, "login", login));
    std::thread reader([&] {
        for (auto& c : clients) {
            json r = c->next(120000);
            if (r.is_null()) break;
            if (!r.contains("result")) ++refused;
            ++answered;
        }
    });
    std::vector<double> waits;
    while (answered < L) {
        auto w = Clock::now();
        if (!other.call("get", {{"name", "/"}}).contains("result")) break;
        waits.push_back(ms_since(w));
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    reader.join();
    double took = ms_since(t);
    std::sort(waits.begin(), waits.end());
    if (waits.empty()) return 1;
    std::printf("%d logins at once: %.0f ms, %.1f logins/s (%d refused); meanwhile %zu gets of "
                "another client waited %.2f ms (median), %.2f ms (99th percentile), %.2f ms "
                "(most) (goal: under 10 ms)\n",
                L, took, L / (took / 1000), refused.load(), waits.size(), waits[waits.size() / 2],
                waits[waits.size() * 99 / 100], waits.back());
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0); // each figure shows as soon as it is known
    if (argc > 1 && std::string(argv[1]) == "attacks") return attacks();
    if (argc > 1 && std::string(argv[1]) == "tls") return tls_costs();
    TempDir dir;
    write_network(dir.path + "/network.txt");
    auto t0 = Clock::now();
    MisProcess mis(dir.path, {"--seed", dir.path + "/network.txt"});
    std::printf("seeding 110,004 objects into a new database and starting: %.0f ms\n",
                ms_since(t0));
    Client c(mis.port());

    for (int n : {10000, 100000}) {
        std::string base = "/systemId=\"bench\"/logId=\"log" + std::to_string(n) + "\"";
        std::string req =
            json{{"jsonrpc", "2.0"}, {"id", 1}, {"method", "derive"}, {"params", {{"base", base}}}}
                .dump() +
            "\n";
        double best_wire = 1e9, best_parse = 1e9;
        size_t bytes = 0;
        for (int round = 0; round < 7; ++round) {
            auto t = Clock::now();
            c.send_raw(req);
            json r = c.next(60000);
            double total = ms_since(t);
            if (!r.contains("result") || r["result"]["count"] != n) {
                std::printf("derive of %d failed\n", n);
                return 1;
            }
            bytes = r.dump().size();
            // Time to parse the reply alone, so that the server's share can be told apart.
            std::string text = r.dump();
            auto p = Clock::now();
            json again = json::parse(text);
            double parse = ms_since(p);
            best_parse = std::min(best_parse, parse);
            best_wire = std::min(best_wire, total - parse);
        }
        std::printf("derive %6d children: %7.1f ms until the reply is in (best of 7, %.1f MB), "
                    "%.0f objects/s; parsing the reply on the client %.1f ms more\n",
                    n, best_wire, bytes / 1e6, n / (best_wire / 1000), best_parse);
    }

    // A whole-subtree search with a selective filter: every object is looked at, two match,
    // so the reply is small and the time is the server's walk and match.
    {
        std::string req = json{{"jsonrpc", "2.0"},
                               {"id", 2},
                               {"method", "search"},
                               {"params", {{"base", "/"}, {"filter", "(logRecordId=4242)"}}}}
                              .dump() +
                          "\n";
        double best = 1e9;
        for (int round = 0; round < 7; ++round) {
            auto t = Clock::now();
            c.send_raw(req);
            json r = c.next(60000);
            best = std::min(best, ms_since(t));
            if (!r.contains("result") || r["result"]["count"] != 2) {
                std::printf("search failed: %s\n", r.dump().substr(0, 200).c_str());
                return 1;
            }
        }
        std::printf(
            "search of the whole tree (%zu objects) with a filter matching 2: %.1f ms until "
            "the reply is in (best of 7)\n",
            static_cast<size_t>(110004), best);
    }

    // Creating objects, each one committed before its reply.
    const int N = 10000;
    std::string fresh = "/systemId=\"bench\"/logId=\"fresh\"";
    auto t = Clock::now();
    for (int i = 1; i <= N; ++i) {
        json r = c.call("create", {{"parent", fresh},
                                   {"class", "alarmRecord"},
                                   {"values", {{"logRecordId", std::to_string(i)}}}});
        if (!r.contains("result")) {
            std::printf("create failed: %s\n", r.dump().c_str());
            return 1;
        }
    }
    double seq = ms_since(t);
    std::printf("create %d objects, one request at a time: %.0f ms, %.0f objects/s\n", N, seq,
                N / (seq / 1000));
    std::string batch;
    for (int i = N + 1; i <= 2 * N; ++i)
        batch += json{{"jsonrpc", "2.0"},
                      {"id", i},
                      {"method", "create"},
                      {"params",
                       {{"parent", fresh},
                        {"class", "alarmRecord"},
                        {"values", {{"logRecordId", std::to_string(i)}}}}}}
                     .dump() +
                 "\n";
    t = Clock::now();
    c.send_raw(batch);
    for (int i = 0; i < N; ++i)
        if (c.next(60000).is_null()) return 1;
    double pipe = ms_since(t);
    std::printf("create %d objects, pipelined: %.0f ms, %.0f objects/s\n", N, pipe,
                N / (pipe / 1000));

    // Fairness: one client pipelines many requests (sent and read by threads of their own)
    // while another asks one request at a time.
    const int P = 300000;
    std::string flood;
    for (int i = 1; i <= P; ++i)
        flood += json{{"jsonrpc", "2.0"}, {"id", i}, {"method", "get"}, {"params", {{"name", "/"}}}}
                     .dump() +
                 "\n";
    Client busy(mis.port()), other(mis.port());
    t = Clock::now();
    std::thread sender([&] { busy.send_raw(flood); });
    int answered = 0;
    std::thread reader([&] {
        while (answered < P && !busy.next(60000).is_null()) ++answered;
    });
    std::vector<double> waits;
    while (answered < P && waits.size() < 2000) {
        auto w = Clock::now();
        if (!other.call("get", {{"name", "/"}}).contains("result")) break;
        waits.push_back(ms_since(w));
    }
    sender.join();
    reader.join();
    double flood_ms = ms_since(t);
    std::sort(waits.begin(), waits.end());
    if (waits.empty() || answered < P) {
        std::printf("pipelining %d requests failed (%d answered)\n", P, answered);
        return 1;
    }
    std::printf("%d requests pipelined by one client: %.0f ms; meanwhile %zu requests of another "
                "client waited %.2f ms (median), %.2f ms (99th percentile), %.2f ms (most)\n",
                P, flood_ms, waits.size(), waits[waits.size() / 2], waits[waits.size() * 99 / 100],
                waits.back());
    int status = tls_costs();
    return attacks() || status;
}
