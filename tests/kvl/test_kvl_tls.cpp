// KVL to a real qx_mis over TLS (qxs://): a certificate a trusted CA signed for the host
// connects and carries requests; an expired one, one that signs itself, one for another host,
// and a good one without its CA in the trust store each fail with the check that failed. Plain
// and TLS never mix: neither side falls back to the other.
#include <gtest/gtest.h>

#include "kvl/kvl.h"
#include "mis_process.h"
#include "test_certificates.h"

#include <cstdlib>
#include <map>
#include <memory>
#include <string>

using namespace qxtest;

namespace {

class KvlTls : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        certs = new Certificates;
        std::string why;
        if (!certs->make(why)) {
            delete certs;
            certs = nullptr;
            FAIL() << why;
            return;
        }
        // One server for each certificate, and one without TLS.
        for (const char* name : {"good", "expired", "self", "wronghost", ""}) {
            std::vector<std::string> args;
            if (*name)
                args = {"--tls-cert", certs->path(std::string(name) + ".pem"), "--tls-key",
                        certs->path(std::string(name) + ".key")};
            dirs[name] = std::make_unique<TempDir>();
            servers[name] = std::make_unique<MisProcess>(dirs[name]->path, args);
        }
    }
    static void TearDownTestSuite()
    {
        servers.clear();
        dirs.clear();
        delete certs;
        certs = nullptr;
    }
    void SetUp() override { ASSERT_NE(nullptr, certs); }
    void TearDown() override
    {
        platform.disconnect();
        unsetenv("QX_TLS_CA");
    }

    static int port(const std::string& server) { return servers[server]->port(); }

    static inline Certificates* certs = nullptr;
    static inline std::map<std::string, std::unique_ptr<TempDir>> dirs;
    static inline std::map<std::string, std::unique_ptr<MisProcess>> servers;
    Platform platform{DataUnit("QX"), DataUnit("")};
};

} // namespace

TEST_F(KvlTls, EachCertificateConnectsOrNamesTheCheckThatFailed)
{
    struct Row {
        const char* server; // whose certificate ("" the server without TLS)
        const char* scheme;
        const char* host;
        bool with_ca; // QX_TLS_CA names the test CA; else the system's store is used
        const char* said; // "" when the connection is to stand
    } rows[] = {
        {"good", "qxs://", "127.0.0.1", true, ""},
        {"good", "qxs://", "localhost", true, ""},
        {"expired", "qxs://", "127.0.0.1", true, "the server's certificate has expired"},
        {"self", "qxs://", "127.0.0.1", true, "the server's certificate is self-signed"},
        {"wronghost", "qxs://", "127.0.0.1", true,
         "the server's certificate is not for host 127.0.0.1"},
        {"good", "qxs://", "127.0.0.1", false,
         "unknown issuer, not trusted by the system's certificate store"},
        // The server without TLS may wait for the rest of a request line, or answer the hello
        // with a parse error.
        {"", "qxs://", "127.0.0.1", true, "(is it a TLS port of qx_mis?)"},
        {"good", "", "127.0.0.1", true, "the server closed the connection"},
    };
    for (const Row& row : rows) {
        std::string where = std::string(row.scheme) + row.host + ":" + std::to_string(port(row.server));
        SCOPED_TRACE(where + " (" + row.server + (row.with_ca ? ", with the CA)" : ")"));
        if (row.with_ca)
            setenv("QX_TLS_CA", certs->path("ca.pem").c_str(), 1);
        else
            unsetenv("QX_TLS_CA");
        bool ok = platform.connect(DataUnit(where.c_str()), DataUnit("tls-test"), *row.server ? 5 : 1.5);
        std::string why = ok ? "" : platform.get_error_string();
        if (!*row.said) {
            ASSERT_TRUE(ok) << why;
            // Requests and their replies pass both ways.
            Album top(DataUnit("top"), platform);
            ASSERT_TRUE(top.set_derivation("/*"));
            ASSERT_TRUE(top.derive(10)) << top.get_error_string();
            EXPECT_LT(0, top.num_images());
        } else {
            EXPECT_FALSE(ok);
            EXPECT_EQ(KVL_ERR_CONNECT, platform.get_error_type()) << why;
            EXPECT_TRUE(contains(why, row.said)) << why;
        }
        platform.disconnect();
    }
    EXPECT_TRUE(contains(servers["good"]->log(), "TLSv1.3")) << servers["good"]->log();
}

// A derivation whose reply spans many TLS records, on a server seeded with 3,000 records.
TEST_F(KvlTls, LargeRepliesCrossInManyRecords)
{
    TempDir dir;
    std::string seed = "object /systemId=\"big\" managedElement\n"
                       "object /systemId=\"big\"/logId=\"all\" log\n";
    for (int i = 1; i <= 3000; ++i)
        seed += "object /systemId=\"big\"/logId=\"all\"/logRecordId=" + std::to_string(i) +
                " alarmRecord\n";
    write_file(dir.path + "/big.txt", seed, 0644);
    MisProcess mis(dir.path, {"--seed", dir.path + "/big.txt", "--tls-cert",
                              certs->path("good.pem"), "--tls-key", certs->path("good.key")});
    setenv("QX_TLS_CA", certs->path("ca.pem").c_str(), 1);
    std::string where = "qxs://localhost:" + std::to_string(mis.port());
    ASSERT_TRUE(platform.connect(DataUnit(where.c_str()), DataUnit("tls-test"), 5))
        << platform.get_error_string();
    for (int round = 0; round < 3; ++round) {
        Album records(DataUnit("records"), platform);
        ASSERT_TRUE(records.set_derivation("/systemId=\"big\"/logId=\"all\"/*"));
        ASSERT_TRUE(records.derive(20)) << records.get_error_string();
        EXPECT_EQ(3000, records.num_images());
    }
}
