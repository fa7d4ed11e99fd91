// bench_ldap [N ...]: opening a directory container of N children (default 10000 and 100000)
// through KVL, side by side with OpenLDAP's own ldapsearch against the same private slapd
// (support/slapd_process.h) with its default size limit, and the heap the library holds per
// child while the album lives. One line per N:
//   open N children: editor X ms, ldapsearch Y ms, ratio R; rows shown S; client heap B bytes per child
// where Y is `ldapsearch -s one -LLL ... dn` writing to /dev/null. Then the rate at which a
// tracked album hears of 2,000 entries other clients (4 ldapadd at once) make below its base:
//   follow 2000 creations: editor X ms from the first to the last report, R per second (C us of
//   CPU each); ldapadd x4 Y ms; reported K, members M
// (the server writes without syncing to disk, so that the writer is not what is measured), then
// the same read once the writers are done, and for an album with a filter.
// Asserts nothing.
#include "kvl/kvl.h"
#include "slapd_process.h"

#include <fcntl.h>
#include <malloc.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double ms_since(Clock::time_point t)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

size_t heap_in_use()
{
    return mallinfo2().uordblks;
}

// ldapsearch -x -H url -b base -s one -LLL dn, its output to /dev/null; milliseconds.
double ldapsearch_ms(const std::string& url, const std::string& base)
{
    auto start = Clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        execlp("ldapsearch", "ldapsearch", "-x", "-H", url.c_str(), "-b", base.c_str(), "-s", "one",
               "-LLL", "-E", "pr=500/noprompt", "dn", static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return ms_since(start);
}

struct Followed {
    int created = 0;
    Clock::time_point first, last;
};

void created_cb(void* client, void*)
{
    Followed& f = *static_cast<Followed*>(client);
    f.last = Clock::now();
    if (f.created++ == 0) f.first = f.last;
}

const int WRITERS = 4;

double cpu_ms()
{
    struct rusage u;
    getrusage(RUSAGE_SELF, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 +
           (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
}

// A tracked album of the empty container ou=<ou> while other processes add n entries below it:
// read as they come, or (held) only once the writers are done, which shows what the library
// itself takes per report when the writers are too slow to show it.
bool follow(qxtest::SlapdProcess& ldap, const std::string& ou, int n, bool held,
            const std::string& filter = "")
{
    Platform platform(DataUnit("QX"), DataUnit(""));
    if (!platform.connect(ldap.url().c_str(), "bench_ldap", 60)) {
        std::fprintf(stderr, "bench_ldap: %s\n", platform.get_error_string());
        return false;
    }
    Followed seen;
    Album album(DataUnit("follow"), platform);
    album.set_derivation(("/dc=example,dc=org/ou=" + ou + "/*" +
                          (filter.empty() ? "" : "/CMISFilter(" + filter + ")"))
                             .c_str());
    album.set_prop(TRACKMODE, TRACK);
    album.when(OBJECT_CREATED, Callback(SchedContext::current(), created_cb, &seen));
    if (!album.derive(60)) {
        std::fprintf(stderr, "bench_ldap: %s\n", album.get_error_string());
        return false;
    }
    // Several writers at once, so that one ldapadd's round trips do not set the pace.
    std::vector<std::string> ldif(WRITERS);
    for (int i = 0; i < n; i++)
        ldif[i % WRITERS] += "dn: cn=f" + std::to_string(i) + ",ou=" + ou +
                             ",dc=example,dc=org\nobjectClass: device\ncn: f" + std::to_string(i) +
                             "\n\n";
    auto start = Clock::now();
    size_t running = 0;
    for (const std::string& part : ldif) {
        pid_t pid = fork();
        if (pid == 0) _exit(ldap.change("ldapadd", part) ? 0 : 1);
        if (pid > 0) running++;
    }
    double writer_ms = -1;
    auto reap = [&](int flags) {
        int status = 0;
        while (running > 0 && waitpid(-1, &status, flags) > 0)
            if (--running == 0) writer_ms = ms_since(start);
    };
    if (held) reap(0);
    auto read_from = Clock::now();
    double cpu = cpu_ms();
    for (auto deadline = start + std::chrono::seconds(120);
         (seen.created < n || running > 0) && Clock::now() < deadline;) {
        kvl_poll(0.01);
        reap(WNOHANG);
    }
    cpu = cpu_ms() - cpu;
    double editor = std::chrono::duration<double, std::milli>(seen.last - (held ? read_from : seen.first)).count();
    std::printf("follow %d creations%s: editor %.0f ms %s, %.0f per second (%.0f us of CPU each); "
                "ldapadd x%d %.0f ms; reported %d, members %d\n",
                n, held ? ", read once written" : filter.empty() ? "" : ", album with a filter", editor,
                held ? "from the first read to the last report" : "from the first to the last report",
                editor > 0 ? seen.created * 1000.0 / editor : 0.0,
                seen.created ? cpu * 1000.0 / seen.created : 0.0, WRITERS, writer_ms, seen.created,
                album.num_images());
    std::fflush(stdout);
    platform.disconnect();
    return true;
}

bool follow(int n)
{
    qxtest::SlapdProcess ldap;
    // No sync to disk per write: the writers are slow enough without it.
    if (!ldap.start(qxtest::SlapdProcess::sample_ldif() + qxtest::SlapdProcess::many_ldif("follow", 0) +
                        qxtest::SlapdProcess::many_ldif("held", 0) +
                        qxtest::SlapdProcess::many_ldif("filtered", 0),
                    "dbnosync\n")) {
        std::fprintf(stderr, "bench_ldap: %s\n", ldap.failure().c_str());
        return false;
    }
    // With a filter, each creation is matched by the server: a round trip more per report.
    return follow(ldap, "follow", n, false) && follow(ldap, "held", n, true) &&
           follow(ldap, "filtered", n, false, "(cn=f*)");
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<int> sizes;
    for (int i = 1; i < argc; i++) sizes.push_back(std::atoi(argv[i]));
    if (sizes.empty()) sizes = {10000, 100000};
    for (int n : sizes) {
        qxtest::SlapdProcess ldap;
        if (!ldap.start(qxtest::SlapdProcess::sample_ldif() + qxtest::SlapdProcess::many_ldif("bench", n))) {
            std::fprintf(stderr, "bench_ldap: %s\n", ldap.failure().c_str());
            return 1;
        }
        const std::string base = "ou=bench,dc=example,dc=org";
        double tool = ldapsearch_ms(ldap.url(), base);
        Platform platform(DataUnit("QX"), DataUnit(""));
        if (!platform.connect(ldap.url().c_str(), "bench_ldap", 60)) {
            std::fprintf(stderr, "bench_ldap: %s\n", platform.get_error_string());
            return 1;
        }
        kvl_poll(1); // the content synchronization's refresh, which connecting starts
        size_t before = heap_in_use();
        auto start = Clock::now();
        Album album(DataUnit("bench"), platform);
        album.set_derivation("/dc=example,dc=org/ou=bench/*");
        bool ok = album.derive(300);
        double editor = ms_since(start);
        long held = static_cast<long>(heap_in_use() - before) / (n > 0 ? n : 1);
        if (!ok) std::fprintf(stderr, "bench_ldap: %s\n", album.get_error_string());
        std::printf("open %d children: editor %.0f ms, ldapsearch %.0f ms, ratio %.2f; rows shown %d; "
                    "client heap %ld bytes per child\n",
                    n, editor, tool, tool > 0 ? editor / tool : 0.0, album.num_images(), held);
        std::fflush(stdout);
        platform.disconnect();
    }
    return follow(2000) ? 0 : 1;
}
