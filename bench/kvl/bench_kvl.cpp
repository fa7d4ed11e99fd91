// Benchmark of the KVL library deriving containers of 10,000 and 100,000 children from a real
// qx_mis, against the server alone. For each size (best of the rounds):
//   server   the same derive request as the library's (subscribing, as a tracked album does)
//            written on a plain socket, until the whole reply line is in;
//   parse    that line parsed into a JSON document, as a plain client would;
//   library  an Album derived with the same derivation string (tracked, as the editor does)
//            and every child's name read;
// and the heap the library holds per child while the album lives. Asserts nothing; needs no
// display.
//
//     bench_kvl [-r ROUNDS] [N ...]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <malloc.h>

#include "kvl/kvl.h"
#include "../bench_network.h"
#include "mis_process.h"

using namespace qxtest;
using namespace qxbench;

namespace {

std::string container(int n)
{
    return log_fdn("log" + std::to_string(n));
}

void write_network(const std::string& path, const std::vector<int>& sizes)
{
    std::vector<std::pair<std::string, int>> logs;
    for (int n : sizes) logs.emplace_back("log" + std::to_string(n), n);
    write_log_network(path, logs);
}

// The reply line to one derive written on a plain socket; empty when none came.
std::string raw_derive(int fd, const std::string& derivation, int id)
{
    std::string req = json{{"jsonrpc", "2.0"},
                           {"id", id},
                           {"method", "derive"},
                           {"params", {{"derivation", derivation}, {"subscribe", true}}}}
                          .dump() +
                      "\n";
    if (::send(fd, req.data(), req.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(req.size()))
        return std::string();
    std::string line;
    static char buf[1 << 16];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0) return std::string();
        const char* nl = static_cast<const char*>(std::memchr(buf, '\n', static_cast<size_t>(n)));
        line.append(buf, nl ? static_cast<size_t>(nl - buf) : static_cast<size_t>(n));
        if (nl) return line;
    }
}

size_t heap_in_use()
{
    return mallinfo2().uordblks;
}

} // namespace

int main(int argc, char** argv)
{
    int rounds = 5;
    std::vector<int> sizes;
    for (int i = 1; i < argc; i++) {
        if (std::strcmp(argv[i], "-r") == 0 && i + 1 < argc)
            rounds = std::max(1, std::atoi(argv[++i]));
        else if (std::atoi(argv[i]) > 0)
            sizes.push_back(std::atoi(argv[i]));
        else {
            std::fprintf(stderr, "usage: bench_kvl [-r ROUNDS] [N ...]\n");
            return 2;
        }
    }
    if (sizes.empty()) sizes = {10000, 100000};
    TempDir dir;
    write_network(dir.path + "/network.txt", sizes);
    MisProcess mis;
    if (!mis.start({"--seed", dir.path + "/network.txt"})) {
        std::printf("qx_mis: %s\n", mis.failure().c_str());
        return 1;
    }
    Platform platform(DataUnit("QX"), DataUnit(""));
    if (!platform.connect(DataUnit(mis.address().c_str()), DataUnit("bench_kvl"), 30)) {
        std::printf("connect: %s\n", platform.get_error_string());
        return 1;
    }
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(mis.port()));
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) < 0) {
        std::printf("raw connection: %s\n", std::strerror(errno));
        return 1;
    }

    for (int n : sizes) {
        std::string derivation = container(n) + "/*";
        double best_server = 1e9, best_parse = 1e9, best_lib = 1e9;
        size_t bytes = 0;
        long held = 0;
        for (int round = 0; round < rounds; round++) {
            auto t = Clock::now();
            std::string line = raw_derive(fd, derivation, round + 1);
            best_server = std::min(best_server, ms_since(t));
            bytes = line.size();
            t = Clock::now();
            json reply = json::parse(line, nullptr, false);
            best_parse = std::min(best_parse, ms_since(t));
            if (reply.is_discarded() || reply["result"]["count"] != n) {
                std::printf("derive of %d on the plain socket failed\n", n);
                return 1;
            }
            reply = json();
            line = std::string();

            malloc_trim(0);
            size_t before = heap_in_use();
            Album album(DataUnit((container(n) + ".bench").c_str()), platform);
            album.set_prop(TRACKMODE, TRACK);
            album.set_derivation(DataUnit(derivation.c_str()));
            t = Clock::now();
            if (!album.derive(60)) {
                std::printf("library: %s\n", album.get_error_string());
                return 1;
            }
            int names = 0;
            for (AlbumImage ai = album.first_image(); ai; ai.next_image())
                names += ai->get_objname().length() > 0;
            best_lib = std::min(best_lib, ms_since(t));
            held = static_cast<long>(heap_in_use() - before) / n;
            if (names != n) std::printf("library: %d of %d names\n", names, n);
        }
        std::printf("derive %6d children (%.1f MB): server %6.1f ms, + parse %5.1f ms = %6.1f ms;"
                    " library alone %6.1f ms (ratio %.2f), %ld bytes per child held\n",
                    n, bytes / 1e6, best_server, best_parse, best_server + best_parse, best_lib,
                    best_lib / (best_server + best_parse), held);
    }
    close(fd);
    return 0;
}
