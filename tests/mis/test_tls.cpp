// qx_mis with --tls-cert and --tls-key: what it does with clients that do not complete a TLS
// handshake, the key file it refuses, and where it agrees to listen. The certificate checks of
// a client that does speak TLS are KVL's (tests/kvl/test_kvl_tls.cpp).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "mis_process.h"
#include "test_certificates.h"

using namespace qxtest;

namespace {

class MisTls : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        auto made = std::make_unique<Certificates>();
        std::string why;
        if (!made->make(why)) FAIL() << why;
        certs = std::move(made);
    }
    static void TearDownTestSuite() { certs.reset(); }
    void SetUp() override { ASSERT_NE(nullptr, certs); }

    static std::vector<std::string> tls_args()
    {
        return {"--tls-cert", certs->path("good.pem"), "--tls-key", certs->path("good.key")};
    }
    static inline std::unique_ptr<Certificates> certs;
};

} // namespace

// Plain JSON, nothing at all, or half a handshake: the client gets nothing but the close, each
// for its reason in the log, and the server goes on serving.
TEST_F(MisTls, ClientsWithoutAHandshakeAreClosedAndTheLogSaysWhy)
{
    TempDir dir;
    std::vector<std::string> args = tls_args();
    args.insert(args.end(), {"--line-timeout", "0.5"});
    MisProcess mis(dir.path, args);
    struct Row {
        const char* what;
        std::string sent;
        const char* logged;
    } rows[] = {
        {"plain JSON", request_line(1, "get", {{"name", "/"}}),
         "no TLS handshake: the client sent plain text (starting '{') to the TLS port"},
        {"nothing", "", "TLS handshake not finished within 0.5 s"},
        // A handshake record header announcing more than comes.
        {"half a handshake", std::string("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03", 11),
         "TLS handshake not finished within 0.5 s"},
        {"garbage record", std::string("\x16\x03\x01\x00\x05hello", 10), "TLS handshake failed"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        size_t logged_before = mis.log().size();
        Client c(mis.port());
        c.send_raw(row.sent);
        auto start = std::chrono::steady_clock::now();
        EXPECT_TRUE(c.closed(5000));
        EXPECT_TRUE(c.notes.empty());
        // A stalled handshake lasts its time limit; the others end at once.
        double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (row.sent.empty()) {
            EXPECT_GE(took, 0.4);
        }
        EXPECT_TRUE(wait_until([&] { return contains(mis.log().substr(logged_before), row.logged); }, 5))
            << mis.log().substr(logged_before);
    }
}

// The key must be the server's alone; the mode is named. Half of the pair is a usage error.
TEST_F(MisTls, RefusesAKeyOthersCanReadAndHalfAPair)
{
    TempDir dir;
    std::string key = dir.path + "/open.key", out;
    write_file(key, read_file(certs->path("good.key")), 0644);
    chmod(key.c_str(), 0644);
    auto run = [&](std::vector<std::string> more) {
        more.insert(more.begin(), {"--db", dir.path + "/m.db", "--listen", "127.0.0.1:0",
                                   "--tls-cert", certs->path("good.pem")});
        return MisProcess::run(more, out);
    };
    EXPECT_EQ(1, run({"--tls-key", key}));
    EXPECT_TRUE(contains(out, "mode 0644")) << out;
    EXPECT_EQ(1, run({"--tls-key", certs->path("self.key")}));
    EXPECT_TRUE(contains(out, "does not belong to the certificate")) << out;
    EXPECT_EQ(2, run({}));
    EXPECT_TRUE(contains(out, "--tls-cert and --tls-key go together")) << out;
}

// Beyond loopback only with TLS and logins both, or with --insecure and a warning naming what
// is missing.
TEST_F(MisTls, ListensBeyondLoopbackOnlyWithTlsAndLogins)
{
    TempDir dir;
    std::string users = dir.path + "/users", out;
    ASSERT_EQ(0, MisProcess::add_user(users, "ann", "reader", "ann-pass", out)) << out;
    std::vector<std::string> tls = tls_args(), logins = {"--users", users};
    struct Row {
        const char* what;
        std::vector<std::string> args;
        bool starts;
        const char* said; // refused: on standard error; started: in the log ("" for nothing)
    } rows[] = {
        {"neither", {}, false, "without TLS (--tls-cert, --tls-key) and logins (--users)"},
        {"logins only", logins, false, "without TLS (--tls-cert, --tls-key):"},
        {"TLS only", tls, false, "without logins (--users):"},
        {"both", {}, true, ""},
        {"--insecure", {"--insecure"}, true,
         "warning: listening on 0.0.0.0 with --insecure, without TLS"},
        {"--insecure with TLS", {"--insecure", "--tls-cert", tls[1], "--tls-key", tls[3]}, true,
         "without logins (--users)"},
    };
    rows[3].args = tls;
    rows[3].args.insert(rows[3].args.end(), logins.begin(), logins.end());
    for (Row& row : rows) {
        SCOPED_TRACE(row.what);
        std::vector<std::string> args = {"--listen", "0.0.0.0:0"};
        args.insert(args.end(), row.args.begin(), row.args.end());
        if (!row.starts) {
            args.insert(args.begin(), {"--db", dir.path + "/m.db"});
            EXPECT_EQ(1, MisProcess::run(args, out));
            EXPECT_TRUE(contains(out, "refusing to listen on 0.0.0.0")) << out;
            EXPECT_TRUE(contains(out, row.said)) << out;
            continue;
        }
        TempDir run_dir;
        MisProcess mis(run_dir.path);
        ASSERT_TRUE(mis.start(args)) << mis.failure();
        EXPECT_EQ(*row.said != 0, contains(mis.log(), "warning:")) << mis.log();
        if (*row.said) {
            EXPECT_TRUE(contains(mis.log(), row.said)) << mis.log();
        }
        mis.stop();
    }
}

// A TLS client that reads late: the server's writes stop on a full socket while it goes on
// making the answers, so its output buffer grows and moves under the write it must retry.
// Every answer still arrives whole.
TEST_F(MisTls, AnswersReachAClientThatReadsLate)
{
    TempDir dir;
    std::vector<std::string> args = tls_args();
    args.insert(args.end(), {"--seed", big_network(dir.path, 16000)});
    MisProcess mis(dir.path, args);
    const int n = 12; // some 15 MB: more than the two sockets' buffers hold
    std::string lines;
    for (int i = 0; i < n; ++i) lines += request_line(i, "derive", {{"base", BIG}});
    // openssl s_client: it stops reading the connection while nobody reads what it prints.
    int in[2], out[2];
    ASSERT_EQ(0, pipe(in));
    ASSERT_EQ(0, pipe(out));
    ChildProcess client;
    ASSERT_TRUE(
        client.spawn({"openssl", "s_client", "-quiet", "-connect",
                      "127.0.0.1:" + std::to_string(mis.port()), "-CAfile", certs->path("ca.pem")},
                     [&] {
                         int null = open("/dev/null", O_WRONLY);
                         dup2(in[0], 0), dup2(out[1], 1), dup2(null, 2);
                         for (int fd : {in[0], in[1], out[0], out[1], null}) close(fd);
                         return true;
                     }));
    close(in[0]);
    close(out[1]);
    ASSERT_EQ(static_cast<ssize_t>(lines.size()), write(in[1], lines.data(), lines.size()));
    usleep(500000); // not read for half a second
    std::string text;
    char buf[1 << 16];
    int answers = 0;
    pollfd p = {out[0], POLLIN, 0};
    for (ssize_t got;
         answers < n && poll(&p, 1, 60000) == 1 && (got = read(out[0], buf, sizeof buf)) > 0;) {
        text.append(buf, got);
        for (size_t end; (end = text.find('\n')) != std::string::npos; text.erase(0, end + 1)) {
            json r = json::parse(text.substr(0, end));
            EXPECT_EQ(answers++, r.value("id", -1));
            EXPECT_EQ(16000, r["result"].value("count", 0)) << r.dump().substr(0, 300);
        }
    }
    EXPECT_EQ(n, answers) << mis.log();
    close(in[1]);
    close(out[0]);
}
