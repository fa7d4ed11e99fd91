// qx_mis: the management information server. See docs/protocol.md and docs/schema.md.
#include <limits.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
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
    "usage: qx_mis [--listen ADDR:PORT] [--db FILE] [--schema FILE] [--seed FILE]\n"
    "              [--simulate SECONDS] [--max-clients N] [--line-timeout SECONDS]\n"
    "              [--max-unsent MIB] [--max-unsent-total MIB] [--max-actions N]\n"
    "              [--max-queued-actions N] [--max-filter-memory MIB]\n"
    "              [--max-client-filter-memory MIB]\n"
    "  --listen ADDR:PORT   where to listen (default 127.0.0.1, port $QX_MIS_PORT or 7130)\n"
    "  --db FILE            the SQLite database (default qx_mis.db in the current folder)\n"
    "  --schema FILE        the schema (default: the installed sample, share/mib/schema.txt)\n"
    "  --seed FILE          the network an empty database is seeded with\n"
    "                       (default share/mib/network.txt)\n"
    "  --simulate SECONDS   change attribute values and raise alarms every SECONDS\n"
    "  --help               this text\n"
    "limits (see \"Limits\" in docs/protocol.md):\n"
    "  --max-clients N      clients served at once; the next gets error -32020 and is closed\n"
    "                       (default: the descriptor limit, which the server raises to its hard\n"
    "                       limit, less %zu for itself and its action programs; here %zu)\n"
    "  --line-timeout SECONDS  how long a request line may stay incomplete (default 30);\n"
    "                       a connection with no line half sent may stay idle for ever\n"
    "  --max-unsent MIB     unread output one client may leave (default 64)\n"
    "  --max-unsent-total MIB  unread output of all clients together (default 256); passing\n"
    "                       it drops the client holding the most\n"
    "  --max-actions N      action programs run at once (default 8); later ones wait their\n"
    "                       turn, and their time limit runs from their start\n"
    "  --max-queued-actions N  actions that may wait (default 1000); more are refused (-32010)\n"
    "  --max-filter-memory MIB  parsed filters the subscriptions of all clients may hold\n"
    "                       (default %zu); past it a subscription is refused (-32014)\n"
    "  --max-client-filter-memory MIB  parsed filters one client's subscriptions may hold\n"
    "                       (default %zu)\n"
    "  a request line may be at most 1 MiB long, an action's output at most 1 MiB\n";

// The limits that depend on this process: the reserve of descriptors and the default number of
// clients that the hard descriptor limit allows.
size_t reserved_descriptors(const mis::ServerLimits& limits)
{
    return mis::FIXED_DESCRIPTORS + 2 * limits.max_running_actions;
}

size_t default_clients(const mis::ServerLimits& limits)
{
    rlimit rl{};
    if (getrlimit(RLIMIT_NOFILE, &rl) < 0) return 0;
    return mis::clients_for_descriptors(rl.rlim_max == RLIM_INFINITY ? 1 << 20 : rl.rlim_max,
                                        limits);
}

int usage(const char* why, const mis::ServerLimits& limits = {})
{
    if (why) std::fprintf(stderr, "qx_mis: %s\n", why);
    std::fprintf(why ? stderr : stdout, USAGE, reserved_descriptors(limits),
                 default_clients(limits), mis::MAX_FILTER_MEMORY >> 20,
                 mis::MAX_CLIENT_FILTER_MEMORY >> 20);
    return why ? 2 : 0;
}

// A whole number from lo to hi, or false.
bool parse_count(const std::string& s, long lo, long hi, long& out)
{
    char* end = nullptr;
    errno = 0;
    long v = std::strtol(s.c_str(), &end, 10);
    if (s.empty() || *end || errno || v < lo || v > hi) return false;
    out = v;
    return true;
}

// The installed sample lives in ../share/mib beside the folder of this program.
std::string sample_file(const char* name)
{
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

bool parse_port(const std::string& s, int& port)
{
    char* end = nullptr;
    long v = std::strtol(s.c_str(), &end, 10);
    if (s.empty() || *end || v < 0 || v > 65535) return false;
    port = static_cast<int>(v);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    std::string addr = "127.0.0.1", db = "qx_mis.db", schema_path = sample_file("schema.txt"),
                seed_path = sample_file("network.txt");
    int port = 7130;
    double simulate = 0;
    mis::ServerLimits limits;
    long max_clients = 0; // 0: as many as the descriptor limit allows
    size_t filter_memory = mis::MAX_FILTER_MEMORY,
           client_filter_memory = mis::MAX_CLIENT_FILTER_MEMORY;
    if (const char* env = std::getenv("QX_MIS_PORT"); env && *env && !parse_port(env, port))
        return usage("QX_MIS_PORT is not a port number");

    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--help" || a == "-h") return usage(nullptr);
        bool takes = a == "--listen" || a == "--db" || a == "--schema" || a == "--seed" ||
                     a == "--simulate" || a == "--max-clients" || a == "--line-timeout" ||
                     a == "--max-unsent" || a == "--max-unsent-total" || a == "--max-actions" ||
                     a == "--max-queued-actions" || a == "--max-filter-memory" ||
                     a == "--max-client-filter-memory";
        if (!takes) return usage(("unknown option " + a).c_str());
        if (i + 1 >= argc) return usage((a + " needs a value").c_str());
        std::string v = argv[++i];
        long n = 0;
        if (a == "--listen") {
            size_t colon = v.rfind(':');
            std::string host = colon == std::string::npos ? v : v.substr(0, colon);
            if (colon != std::string::npos && !parse_port(v.substr(colon + 1), port))
                return usage(("bad port in --listen " + v).c_str());
            if (!host.empty()) addr = host == "localhost" ? "127.0.0.1" : host;
        } else if (a == "--db")
            db = v;
        else if (a == "--schema")
            schema_path = v;
        else if (a == "--seed")
            seed_path = v;
        else if (a == "--simulate") {
            char* end = nullptr;
            simulate = std::strtod(v.c_str(), &end);
            if (v.empty() || *end || !(simulate >= 0.05 && simulate <= 86400))
                return usage("--simulate takes a number of seconds from 0.05 to 86400");
        } else if (a == "--line-timeout") {
            char* end = nullptr;
            limits.line_timeout = std::strtod(v.c_str(), &end);
            if (v.empty() || *end || !(limits.line_timeout >= 0.1 && limits.line_timeout <= 86400))
                return usage("--line-timeout takes a number of seconds from 0.1 to 86400");
        } else if (a == "--max-clients") {
            if (!parse_count(v, 1, 1 << 24, max_clients))
                return usage("--max-clients takes a number from 1");
        } else if (a == "--max-filter-memory" || a == "--max-client-filter-memory") {
            if (!parse_count(v, 1, 1 << 20, n))
                return usage((a + " takes a number of MiB from 1").c_str());
            (a == "--max-filter-memory" ? filter_memory : client_filter_memory) =
                static_cast<size_t>(n) << 20;
        } else if (a == "--max-unsent" || a == "--max-unsent-total") {
            if (!parse_count(v, 1, 1 << 20, n))
                return usage((a + " takes a number of MiB from 1").c_str());
            (a == "--max-unsent" ? limits.max_unsent : limits.max_unsent_total) =
                static_cast<size_t>(n) << 20;
        } else if (a == "--max-actions") {
            if (!parse_count(v, 1, 1000, n))
                return usage("--max-actions takes a number from 1 to 1000");
            limits.max_running_actions = static_cast<size_t>(n);
        } else {
            if (!parse_count(v, 0, 1 << 24, n))
                return usage("--max-queued-actions takes a number from 0");
            limits.max_queued_actions = static_cast<size_t>(n);
        }
    }

    // Every descriptor the process may have serves: the clients get all but a reserve.
    std::string err;
    rlim_t descriptors = mis::raise_descriptor_limit(err);
    if (!err.empty()) std::fprintf(stderr, "qx_mis: %s\n", err.c_str());
    err.clear();
    size_t fit = mis::clients_for_descriptors(descriptors, limits);
    if (fit == 0) {
        std::fprintf(
            stderr,
            "qx_mis: the descriptor limit %llu leaves no room for clients; it must be over %zu\n",
            static_cast<unsigned long long>(descriptors), reserved_descriptors(limits));
        return 1;
    }
    limits.max_clients = fit;
    if (max_clients > 0) {
        // More than fit is allowed, for a limit raised later (prlimit); accepting then pauses
        // whenever descriptors run out.
        if (static_cast<size_t>(max_clients) > fit)
            std::fprintf(
                stderr,
                "qx_mis: --max-clients %ld is more than the descriptor limit %llu allows (%zu)\n",
                max_clients, static_cast<unsigned long long>(descriptors), fit);
        limits.max_clients = static_cast<size_t>(max_clients);
    }

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
    mis::Server server(model, limits);
    server.service().set_filter_memory(client_filter_memory, filter_memory);
    if (!server.listen(addr, port, err)) {
        std::fprintf(stderr, "qx_mis: %s\n", err.c_str());
        return 1;
    }
    mis::Simulator sim(server.service(), static_cast<unsigned>(getpid()));
    if (simulate > 0) server.every(simulate, [&] { sim.tick(); });
    std::printf("qx_mis: listening on %s:%d, database %s, %zu objects\n", addr.c_str(),
                server.port(), db.c_str(), model.size());
    std::fflush(stdout);
    return server.run();
}
