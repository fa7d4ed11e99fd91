// qx_mis: the management information server. See docs/protocol.md and docs/schema.md.
#include <limits.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "log.h"
#include "model.h"
#include "server.h"
#include "simulate.h"

namespace {

const char* const USAGE =
    "usage: qx_mis [--listen ADDR:PORT] [--db FILE] [--schema FILE] [--seed FILE] [--simulate SECONDS]\n"
    "  --listen ADDR:PORT   where to listen (default 127.0.0.1, port $QX_MIS_PORT or 7130)\n"
    "  --db FILE            the SQLite database (default qx_mis.db in the current folder)\n"
    "  --schema FILE        the schema (default: the installed sample, share/mib/schema.txt)\n"
    "  --seed FILE          the network an empty database is seeded with (default share/mib/network.txt)\n"
    "  --simulate SECONDS   change attribute values and raise alarms every SECONDS\n"
    "  --help               this text\n";

int usage(const char* why) {
    if (why) std::fprintf(stderr, "qx_mis: %s\n", why);
    std::fputs(USAGE, why ? stderr : stdout);
    return why ? 2 : 0;
}

// The installed sample lives in ../share/mib beside the folder of this program.
std::string sample_file(const char* name) {
    char exe[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    std::string dir = ".";
    if (n > 0) {
        exe[n] = 0;
        dir = exe;
        dir = dir.substr(0, dir.rfind('/'));
    }
    return dir + "/../share/mib/" + name;
}

bool parse_port(const std::string& s, int& port) {
    char* end = nullptr;
    long v = std::strtol(s.c_str(), &end, 10);
    if (s.empty() || *end || v < 0 || v > 65535) return false;
    port = static_cast<int>(v);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::string addr = "127.0.0.1", db = "qx_mis.db", schema_path = sample_file("schema.txt"),
                seed_path = sample_file("network.txt");
    int port = 7130;
    double simulate = 0;
    if (const char* env = std::getenv("QX_MIS_PORT"); env && *env && !parse_port(env, port))
        return usage("QX_MIS_PORT is not a port number");

    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--help" || a == "-h") return usage(nullptr);
        bool takes = a == "--listen" || a == "--db" || a == "--schema" || a == "--seed" || a == "--simulate";
        if (!takes) return usage(("unknown option " + a).c_str());
        if (i + 1 >= argc) return usage((a + " needs a value").c_str());
        std::string v = argv[++i];
        if (a == "--listen") {
            size_t colon = v.rfind(':');
            std::string host = colon == std::string::npos ? v : v.substr(0, colon);
            if (colon != std::string::npos && !parse_port(v.substr(colon + 1), port))
                return usage(("bad port in --listen " + v).c_str());
            if (!host.empty()) addr = host == "localhost" ? "127.0.0.1" : host;
        } else if (a == "--db") db = v;
        else if (a == "--schema") schema_path = v;
        else if (a == "--seed") seed_path = v;
        else {
            char* end = nullptr;
            simulate = std::strtod(v.c_str(), &end);
            if (v.empty() || *end || !(simulate >= 0.05 && simulate <= 86400))
                return usage("--simulate takes a number of seconds from 0.05 to 86400");
        }
    }

    std::string err;
    auto schema = mis::Schema::load(schema_path, err);
    if (!schema) {
        std::fprintf(stderr, "qx_mis: %s\n", err.c_str());
        return 1;
    }
    auto store = mis::open_sqlite_store(db, err);
    if (!store) {
        std::fprintf(stderr, "qx_mis: %s\n", err.c_str());
        return 1;
    }
    mis::Model model(*schema, *store);
    if (!model.open(seed_path, err)) {
        std::fprintf(stderr, "qx_mis: %s\n", err.c_str());
        return 1;
    }
    mis::Server server(model);
    if (!server.listen(addr, port, err)) {
        std::fprintf(stderr, "qx_mis: %s\n", err.c_str());
        return 1;
    }
    mis::Simulator sim(server.service(), static_cast<unsigned>(getpid()));
    if (simulate > 0) server.every(simulate, [&] { sim.tick(); });
    std::printf("qx_mis: listening on %s:%d, database %s, %zu objects\n", addr.c_str(), server.port(), db.c_str(),
                model.size());
    std::fflush(stdout);
    return server.run();
}
