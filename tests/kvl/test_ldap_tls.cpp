// KVL over TLS to a real slapd: ldaps:// and StartTLS (the URL's x-starttls extension) with a
// certificate that a trusted CA signed for the host, one signed for another host, and one that
// signs itself. The CA is trusted the way OpenLDAP's tools trust one, through TLS_CACERT in the
// ldap.conf that LDAPCONF names. A failed check is an error that says what failed; nothing falls
// back to a connection without TLS.
#include <gtest/gtest.h>

#include "kvl/kvl.h"
#include "slapd_process.h"

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

using qxtest::SlapdProcess;
using qxtest::TempDir;

namespace {

// A CA, and server certificates made with the openssl tool: "good" (by the CA, for 127.0.0.1),
// "wronghost" (by the CA, for wrong.example) and "self" (signed by itself, for 127.0.0.1).
class Certificates {
public:
    bool make(std::string& why)
    {
        return run({"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", path("ca.key"),
                    "-out", path("ca.pem"), "-days", "30", "-subj", "/CN=Tarnwick test CA"},
                   why) &&
               signed_by_ca("good", "IP:127.0.0.1", why) &&
               signed_by_ca("wronghost", "DNS:wrong.example", why) &&
               run({"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", path("self.key"),
                    "-out", path("self.pem"), "-days", "30", "-subj", "/CN=127.0.0.1", "-addext",
                    "subjectAltName=IP:127.0.0.1"},
                   why);
    }
    std::string path(const std::string& file) const { return dir_.path + "/" + file; }

private:
    bool signed_by_ca(const std::string& name, const std::string& san, std::string& why)
    {
        std::ofstream(path(name + ".ext")) << "subjectAltName=" << san << "\n";
        return run({"req", "-newkey", "rsa:2048", "-nodes", "-keyout", path(name + ".key"), "-out",
                    path(name + ".csr"), "-subj", "/CN=" + name},
                   why) &&
               run({"x509", "-req", "-in", path(name + ".csr"), "-CA", path("ca.pem"), "-CAkey",
                    path("ca.key"), "-CAcreateserial", "-out", path(name + ".pem"), "-days", "30",
                    "-extfile", path(name + ".ext")},
                   why);
    }
    static bool run(std::vector<std::string> args, std::string& why)
    {
        args.insert(args.begin(), "openssl");
        std::string out;
        if (qxtest::run_program(args, "", out) == 0) return true;
        why = "openssl " + args[1] + " failed: " + out;
        return false;
    }
    TempDir dir_;
};

class LdapTls : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        certs = new Certificates;
        std::string why;
        ASSERT_TRUE(certs->make(why)) << why;
        // libldap reads its configuration once, at its first use in the process.
        std::ofstream(certs->path("ldap.conf")) << "TLS_CACERT " << certs->path("ca.pem") << "\n"
                                                << "TLS_REQCERT demand\n";
        setenv("LDAPCONF", certs->path("ldap.conf").c_str(), 1);
    }
    static void TearDownTestSuite()
    {
        delete certs;
        certs = nullptr;
    }
    void SetUp() override { ASSERT_NE(nullptr, certs); }
    void TearDown() override { platform.disconnect(); }

    // A slapd with the named certificate ("" for none).
    void start(SlapdProcess& ldap, const std::string& cert)
    {
        if (!cert.empty()) ldap.use_tls(certs->path(cert + ".pem"), certs->path(cert + ".key"));
        ASSERT_TRUE(ldap.start(SlapdProcess::sample_ldif())) << ldap.failure();
    }

    static Certificates* certs;
    Platform platform{DataUnit("QX"), DataUnit("")};
};

Certificates* LdapTls::certs = nullptr;

std::string starttls(const SlapdProcess& ldap)
{
    return ldap.url() + "/???" "?!x-starttls";
}

TEST_F(LdapTls, TrustedCertificateForTheHostConnectsAndReads)
{
    SlapdProcess ldap;
    start(ldap, "good");
    for (const std::string& url : {ldap.ldaps_url(), starttls(ldap)}) {
        ASSERT_TRUE(platform.connect(url.c_str(), "test", 10)) << url << ": "
                                                               << platform.get_error_string();
        Album top(DataUnit("top"), platform);
        ASSERT_TRUE(top.set_derivation("/dc=example,dc=org/*"));
        ASSERT_TRUE(top.derive(10)) << url << ": " << top.get_error_string();
        EXPECT_EQ(4, top.num_images()) << url; // people, groups, hosts, staff
        platform.disconnect();
    }
}

// Each bad certificate fails both ways of starting TLS, with what failed in the message.
TEST_F(LdapTls, CertificateThatFailsItsCheckRefusesTheConnection)
{
    struct Row {
        const char* cert;
        const char* says; // in the error, lower case
    } rows[] = {{"wronghost", "name in the certificate"}, {"self", "issuer is unknown"}};
    for (const Row& row : rows) {
        SlapdProcess ldap;
        start(ldap, row.cert);
        for (const std::string& url : {ldap.ldaps_url(), starttls(ldap)}) {
            EXPECT_FALSE(platform.connect(url.c_str(), "test", 10)) << row.cert << " " << url;
            std::string why = platform.get_error_string();
            std::string low = why;
            for (char& c : low) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            EXPECT_NE(std::string::npos, low.find("tls")) << row.cert << " " << url << ": " << why;
            EXPECT_NE(std::string::npos, low.find(row.says)) << row.cert << " " << url << ": "
                                                             << why;
            EXPECT_EQ(KVL_ERR_CONNECT, platform.get_error_type()) << why;
            platform.disconnect();
        }
    }
}

// A server without TLS: StartTLS asked for is an error, not a plain connection; and asking for
// it over ldaps:// is refused before anything is sent.
TEST_F(LdapTls, StartTlsNeverFallsBackToPlainText)
{
    SlapdProcess ldap;
    start(ldap, "");
    EXPECT_FALSE(platform.connect(starttls(ldap).c_str(), "test", 10));
    EXPECT_NE(std::string::npos, std::string(platform.get_error_string()).find("StartTLS failed"))
        << platform.get_error_string();
    platform.disconnect();
    std::string both = "ldaps://127.0.0.1:1/???" "?x-starttls";
    EXPECT_FALSE(platform.connect(both.c_str(), "test", 10));
    EXPECT_EQ(KVL_ERR_ARGUMENT, platform.get_error_type()) << platform.get_error_string();
}

} // namespace
