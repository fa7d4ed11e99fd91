// bench_ldap [N ...]: opening a directory container of N children (default 10000 and 100000)
// through KVL, side by side with OpenLDAP's own ldapsearch against the same private slapd
// (support/slapd_process.h) with its default size limit, and the heap the library holds per
// child while the album lives. One line per N:
//   open N children: editor X ms, ldapsearch Y ms, ratio R; rows shown S; client heap B bytes per child
// where Y is `ldapsearch -s one -LLL ... dn` writing to /dev/null. Asserts nothing.
#include "kvl/kvl.h"
#include "slapd_process.h"

#include <fcntl.h>
#include <malloc.h>
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
    return 0;
}
