// Benchmark of qx_mis over loopback: deriving containers of 10,000 and 100,000 children, a
// whole-subtree search with a selective filter, creating 10,000 objects one request at a time
// and pipelined, and how long another client waits for an answer while one client pipelines
// 300,000 requests. Prints figures; asserts nothing.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>

#include "../bench_network.h"
#include "mis_process.h"

using namespace qxtest;
using namespace qxbench;

namespace {

void write_network(const std::string& path)
{
    write_log_network(path, {{"log10000", 10000}, {"log100000", 100000}, {"fresh", 0}});
}

} // namespace

int main()
{
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
    return 0;
}
