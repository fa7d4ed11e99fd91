/*
 * bench_network.h - what the benchmarks share: a millisecond clock, and the
 * network they seed qx_mis with, logs of alarm records under one managed
 * element, /systemId="bench"/logId="ID"/logRecordId=1 .. n.
 */
#ifndef BENCH_BENCH_NETWORK_H
#define BENCH_BENCH_NETWORK_H

#include <chrono>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace qxbench {

using Clock = std::chrono::steady_clock;

inline double ms_since(Clock::time_point t)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

/* The FDN of the log with this id. */
inline std::string log_fdn(const std::string& id)
{
    return "/systemId=\"bench\"/logId=\"" + id + "\"";
}

/* Writes a network file of the logs given as (id, number of records). */
inline void write_log_network(const std::string& path,
                              const std::vector<std::pair<std::string, int>>& logs)
{
    std::ofstream out(path);
    out << "object /systemId=\"bench\" managedElement\n";
    for (const auto& [id, n] : logs) {
        const std::string fdn = log_fdn(id);
        out << "object " << fdn << " log\n";
        for (int i = 1; i <= n; ++i)
            out << "object " << fdn << "/logRecordId=" << i << " alarmRecord\n";
    }
}

} // namespace qxbench

#endif /* BENCH_BENCH_NETWORK_H */
