// qx_mis: the management information server. See docs/protocol.md and docs/schema.md.
#include <fcntl.h>
#include <limits.h>
#include <termios.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "audit.h"
#include "log.h"
#include "users.h"
#include "model.h"
#include "server.h"
#include "simulate.h"
#include "tls_io.h"

namespace {

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

// The installed sample lives in ../share/qx-tarn/mib beside the folder of this program.
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
    return dir + "/../share/qx-tarn/mib/" + name;
}

bool parse_port(const std::string& s, int& port)
{
    char* end = nullptr;
    long v = std::strtol(s.c_str(), &end, 10);
    if (s.empty() || *end || v < 0 || v > 65535) return false;
    port = static_cast<int>(v);
    return true;
}


// What the command line sets.
struct Settings {
    std::string addr = "127.0.0.1", db = "qx_mis.db", schema_path = sample_file("schema.txt"),
                seed_path = sample_file("network.txt");
    int port = 7130;
    double simulate = 0;
    mis::ServerLimits limits;
    long max_clients = 0; // 0: as many as the descriptor limit allows
    std::string users, add_user; // the users file; the user --add-user adds to it
    std::string role;            // the role --add-user gives
    bool insecure = false;       // listen beyond loopback without TLS or logins
    std::string tls_cert, tls_key; // clients speak TLS with this certificate and key
    std::string audit, log;      // the audit trail; the file the log goes to ("" stderr)
    size_t filter_memory = mis::MAX_FILTER_MEMORY,
           client_filter_memory = mis::MAX_CLIENT_FILTER_MEMORY;
};

// One option: its name, the name of its value, its help (lines after the first indented under
// it), whether it is one of the limits, and what it does with its value: "" or why the value
// is refused.
struct Option {
    const char* name;
    const char* value;
    std::string help;
    bool limit;
    std::string (*set)(Settings& s, const std::string& v);
};

// A number of seconds from lo to hi, or false.
bool parse_seconds(const std::string& v, double lo, double hi, double& out)
{
    char* end = nullptr;
    double d = std::strtod(v.c_str(), &end);
    if (v.empty() || *end || !(d >= lo && d <= hi)) return false;
    out = d;
    return true;
}

// A number of MiB from 1 for one of the byte limits, or why not.
std::string set_mib(const std::string& v, const char* name, size_t& to)
{
    long n = 0;
    if (!parse_count(v, 1, 1 << 20, n)) return std::string(name) + " takes a number of MiB from 1";
    to = static_cast<size_t>(n) << 20;
    return "";
}

// Every option, once: the usage text and the parsing of the command line both come from here.
// The help of --max-clients names the descriptors of this process.
std::vector<Option> options(const mis::ServerLimits& limits)
{
    using S = Settings;
    const std::string reserve = std::to_string(reserved_descriptors(limits)),
                      clients = std::to_string(default_clients(limits));
    return {
        {"--listen", "ADDR:PORT", "where to listen (default 127.0.0.1, port $QX_MIS_PORT or 7130)",
         false,
         [](S& s, const std::string& v) -> std::string {
             size_t colon = v.rfind(':');
             std::string host = colon == std::string::npos ? v : v.substr(0, colon);
             if (colon != std::string::npos && !parse_port(v.substr(colon + 1), s.port))
                 return "bad port in --listen " + v;
             if (!host.empty()) s.addr = host == "localhost" ? "127.0.0.1" : host;
             return "";
         }},
        {"--db", "FILE", "the SQLite database (default qx_mis.db in the current folder)", false,
         [](S& s, const std::string& v) -> std::string { return s.db = v, ""; }},
        {"--schema", "FILE",
         "the schema (default: the installed sample,\nshare/qx-tarn/mib/schema.txt)", false,
         [](S& s, const std::string& v) -> std::string { return s.schema_path = v, ""; }},
        {"--seed", "FILE",
         "the network an empty database is seeded with\n(default share/qx-tarn/mib/network.txt)",
         false, [](S& s, const std::string& v) -> std::string { return s.seed_path = v, ""; }},
        {"--simulate", "SECONDS", "change attribute values and raise alarms every SECONDS", false,
         [](S& s, const std::string& v) -> std::string {
             return parse_seconds(v, 0.05, 86400, s.simulate)
                        ? ""
                        : "--simulate takes a number of seconds from 0.05 to 86400";
         }},
        {"--users", "FILE",
         "clients must log in as one of the users in FILE (mode 0600),\nwritten by --add-user",
         false, [](S& s, const std::string& v) -> std::string { return s.users = v, ""; }},
        {"--add-user", "NAME",
         "adds NAME to the --users file with --role, or gives it a new\npassword, read from "
         "standard input, and ends",
         false, [](S& s, const std::string& v) -> std::string { return s.add_user = v, ""; }},
        {"--role", "ROLE", "the role --add-user gives: reader, operator or admin", false,
         [](S& s, const std::string& v) -> std::string {
             mis::Role r;
             return parse_role(v, r) ? (s.role = v, "")
                                     : "--role takes reader, operator or admin";
         }},
        {"--tls-cert", "FILE",
         "clients must speak TLS (1.2 or later); FILE is the server's\ncertificate with its "
         "chain (PEM); needs --tls-key",
         false, [](S& s, const std::string& v) -> std::string { return s.tls_cert = v, ""; }},
        {"--tls-key", "FILE", "the certificate's private key (PEM, mode 0600 or 0400)", false,
         [](S& s, const std::string& v) -> std::string { return s.tls_key = v, ""; }},
        {"--insecure", nullptr,
         "allows listening on an address other than loopback without\nTLS (--tls-cert) and "
         "logins (--users)",
         false,
         [](S& s, const std::string&) -> std::string { return s.insecure = true, ""; }},
        {"--audit", "FILE",
         "appends a JSON line for every set, create, delete and action,\ncarried out or "
         "refused, to FILE (made 0600; refused when others\nmay read it)",
         false, [](S& s, const std::string& v) -> std::string { return s.audit = v, ""; }},
        {"--log", "FILE", "appends the log to FILE (made 0600) instead of standard error", false,
         [](S& s, const std::string& v) -> std::string { return s.log = v, ""; }},
        {"--help", nullptr, "this text", false, nullptr},
        {"--max-clients", "N",
         "clients served at once; the next gets error -32020 and is closed\n(default: the "
         "descriptor limit, which the server raises to its hard\nlimit, less " +
             reserve + " for itself and its action programs; here " + clients + ")",
         true,
         [](S& s, const std::string& v) -> std::string {
             return parse_count(v, 1, 1 << 24, s.max_clients)
                        ? ""
                        : "--max-clients takes a number from 1";
         }},
        {"--line-timeout", "SECONDS",
         "how long a request line may stay incomplete (default 30);\na connection with no line "
         "half sent may stay idle for ever",
         true,
         [](S& s, const std::string& v) -> std::string {
             return parse_seconds(v, 0.1, 86400, s.limits.line_timeout)
                        ? ""
                        : "--line-timeout takes a number of seconds from 0.1 to 86400";
         }},
        {"--max-unsent", "MIB", "unread output one client may leave (default 64)", true,
         [](S& s, const std::string& v) {
             return set_mib(v, "--max-unsent", s.limits.max_unsent);
         }},
        {"--max-unsent-total", "MIB",
         "unread output of all clients together (default 256); passing\nit drops the client "
         "holding the most",
         true,
         [](S& s, const std::string& v) {
             return set_mib(v, "--max-unsent-total", s.limits.max_unsent_total);
         }},
        {"--max-actions", "N",
         "action programs run at once (default 8); later ones wait their\nturn, and their time "
         "limit runs from their start",
         true,
         [](S& s, const std::string& v) -> std::string {
             long n = 0;
             if (!parse_count(v, 1, 1000, n)) return "--max-actions takes a number from 1 to 1000";
             s.limits.max_running_actions = static_cast<size_t>(n);
             return "";
         }},
        {"--max-queued-actions", "N",
         "actions that may wait (default 1000); more are refused (-32010)", true,
         [](S& s, const std::string& v) -> std::string {
             long n = 0;
             if (!parse_count(v, 0, 1 << 24, n))
                 return "--max-queued-actions takes a number from 0";
             s.limits.max_queued_actions = static_cast<size_t>(n);
             return "";
         }},
        {"--max-filter-memory", "MIB",
         "parsed filters the subscriptions of all clients may hold\n(default " +
             std::to_string(mis::MAX_FILTER_MEMORY >> 20) +
             "); past it a subscription is refused (-32014)",
         true,
         [](S& s, const std::string& v) {
             return set_mib(v, "--max-filter-memory", s.filter_memory);
         }},
        {"--max-client-filter-memory", "MIB",
         "parsed filters one client's subscriptions may hold\n(default " +
             std::to_string(mis::MAX_CLIENT_FILTER_MEMORY >> 20) + ")",
         true,
         [](S& s, const std::string& v) {
             return set_mib(v, "--max-client-filter-memory", s.client_filter_memory);
         }},
    };
}

// The usage text: the options in brackets, wrapped, then each with its help, the limits last.
std::string usage_text(const std::vector<Option>& opts)
{
    const size_t width = 79, help_at = 23;
    std::string text = "usage: qx_mis", line = text;
    for (const Option& o : opts) {
        if (!o.set) continue;
        std::string item = std::string(" [") + o.name + (o.value ? std::string(" ") + o.value : "") + "]";
        if (line.size() + item.size() > width) {
            text += "\n             ";
            line = "             ";
        }
        text += item;
        line += item;
    }
    text += "\n";
    auto describe = [&](const Option& o) {
        std::string left = std::string("  ") + o.name + (o.value ? std::string(" ") + o.value : "");
        left +=
            left.size() + 1 < help_at ? std::string(help_at - 1 - left.size(), ' ') + " " : "  ";
        std::string help = o.help;
        for (size_t nl = help.find('\n'); nl != std::string::npos; nl = help.find('\n', nl + 1))
            help.insert(nl + 1, help_at, ' ');
        text += left + help + "\n";
    };
    for (const Option& o : opts)
        if (!o.limit) describe(o);
    text += "limits (see \"Limits\" in docs/protocol.md):\n";
    for (const Option& o : opts)
        if (o.limit) describe(o);
    text += "  a request line may be at most 1 MiB long, an action's output at most 1 MiB\n";
    return text;
}

int usage(const char* why, const mis::ServerLimits& limits = {})
{
    if (why) std::fprintf(stderr, "qx_mis: %s\n", why);
    std::fputs(usage_text(options(limits)).c_str(), why ? stderr : stdout);
    return why ? 2 : 0;
}

// Reads the command line into s; 0 when the server is to start, else the exit status (after
// the usage text).
int parse_command_line(int argc, char** argv, Settings& s)
{
    if (const char* env = std::getenv("QX_MIS_PORT"); env && *env && !parse_port(env, s.port))
        return usage("QX_MIS_PORT is not a port number");
    const std::vector<Option> opts = options(s.limits);
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--help" || a == "-h") return usage(nullptr);
        auto o = std::find_if(opts.begin(), opts.end(),
                              [&](const Option& x) { return x.set && a == x.name; });
        if (o == opts.end()) return usage(("unknown option " + a).c_str());
        if (o->value && i + 1 >= argc) return usage((a + " needs a value").c_str());
        std::string why = o->set(s, o->value ? argv[++i] : "");
        if (!why.empty()) return usage(why.c_str());
    }
    return -1;
}

// One line of standard input, without its newline; false at its end.
bool read_line(std::string& line)
{
    line.clear();
    for (int c; (c = std::getchar()) != EOF;) {
        if (c == '\n') return true;
        line += static_cast<char>(c);
    }
    return !line.empty();
}

// The password --add-user gives, from standard input: asked twice with echo off on a
// terminal, else its first line. "" with why when none comes.
std::string read_password(const std::string& user, std::string& why)
{
    std::string first, again;
    if (!isatty(STDIN_FILENO)) {
        if (!read_line(first)) why = "no password on standard input";
        return first;
    }
    termios saved{};
    tcgetattr(STDIN_FILENO, &saved);
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    std::fprintf(stderr, "Password for %s: ", user.c_str());
    bool ok = read_line(first);
    std::fprintf(stderr, "\nAgain: ");
    ok = ok && read_line(again);
    std::fprintf(stderr, "\n");
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    if (!ok || first != again) {
        why = ok ? "the two passwords differ" : "no password given";
        mis::wipe(first);
    }
    mis::wipe(again);
    return first;
}

// qx_mis --add-user NAME --role ROLE --users FILE: the exit status.
int add_user(const Settings& s)
{
    mis::Role role;
    if (s.users.empty() || !parse_role(s.role, role))
        return usage("--add-user needs --users FILE and --role ROLE");
    std::string why, password = read_password(s.add_user, why);
    bool ok = why.empty() && mis::UserFile::add_user(s.users, s.add_user, role, password, why);
    mis::wipe(password);
    if (!ok) {
        std::fprintf(stderr, "qx_mis: cannot add user %s: %s\n", s.add_user.c_str(), why.c_str());
        return 1;
    }
    std::printf("qx_mis: user %s (%s) is in %s\n", s.add_user.c_str(), s.role.c_str(),
                s.users.c_str());
    return 0;
}

bool loopback(const std::string& addr)
{
    return addr.rfind("127.", 0) == 0 || addr == "::1";
}

// What a server beyond loopback would lack: "" when it has TLS and logins, else their options.
std::string unsafe_without(const Settings& s)
{
    bool tls = !s.tls_cert.empty(), users = !s.users.empty();
    if (tls && users) return "";
    if (tls) return "logins (--users)";
    if (users) return "TLS (--tls-cert, --tls-key)";
    return "TLS (--tls-cert, --tls-key) and logins (--users)";
}

} // namespace

int main(int argc, char** argv)
{
    Settings set;
    if (int status = parse_command_line(argc, argv, set); status >= 0) return status;
    if (!set.add_user.empty()) return add_user(set);
    std::string err;
    auto& [addr, db, schema_path, seed_path, port, simulate, limits, max_clients, users_path,
           added_user, role, insecure, tls_cert, tls_key, audit_path, log_path, filter_memory,
           client_filter_memory] = set;
    if (tls_cert.empty() != tls_key.empty())
        return usage("--tls-cert and --tls-key go together");
    // The log names clients, users and objects: only its owner may read it.
    if (!log_path.empty()) {
        int fd = ::open(log_path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0 || dup2(fd, STDERR_FILENO) < 0) {
            std::fprintf(stderr, "qx_mis: cannot open log %s: %s\n", log_path.c_str(),
                         std::strerror(errno));
            return 1;
        }
        if (fd != STDERR_FILENO) ::close(fd);
    }
    // Beyond loopback, anyone on the network could read the requests (without TLS) or send
    // them (without logins).
    std::string missing = unsafe_without(set);
    if (!loopback(addr) && !missing.empty() && !insecure) {
        std::fprintf(stderr,
                     "qx_mis: refusing to listen on %s without %s: beyond loopback anyone on the "
                     "network could read or send requests; --insecure allows it\n",
                     addr.c_str(), missing.c_str());
        return 1;
    }
    std::unique_ptr<mis::ConnIoMaker> tls;
    if (!tls_cert.empty() && !(tls = mis::tls_conn_io_maker(tls_cert, tls_key, err))) {
        std::fprintf(stderr, "qx_mis: %s\n", err.c_str());
        return 1;
    }
    mis::UserFile users;
    if (!users_path.empty() && !users.load(users_path, err)) {
        std::fprintf(stderr, "qx_mis: %s\n", err.c_str());
        return 1;
    }


    // Every descriptor the process may have serves: the clients get all but a reserve.
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
    std::unique_ptr<mis::AuditTrail> audit;
    if (!audit_path.empty() && !(audit = mis::AuditTrail::open(audit_path, err))) {
        std::fprintf(stderr, "qx_mis: %s\n", err.c_str());
        return 1;
    }
    mis::Server server(model, limits);
    server.service().set_filter_memory(client_filter_memory, filter_memory);
    server.service().set_audit(audit.get());
    if (!users_path.empty() && !server.service().require_logins(users, err)) {
        std::fprintf(stderr, "qx_mis: %s\n", err.c_str());
        return 1;
    }
    if (!loopback(addr) && !missing.empty())
        mis::log_line("warning: listening on %s with --insecure, without %s", addr.c_str(),
                      missing.c_str());
    if (tls) server.use_tls(std::move(tls));
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
