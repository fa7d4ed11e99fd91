// KVL over TLS to a real slapd: ldaps:// and StartTLS (the URL's x-starttls extension) with a
// certificate that a trusted CA signed for the host, one signed for another host, and one that
// signs itself. The CA is trusted the way OpenLDAP's tools trust one, through TLS_CACERT in the
// ldap.conf that LDAPCONF names. A failed check is an error that says what failed; nothing falls
// back to a connection without TLS.
#include <gtest/gtest.h>

#include "kvl/kvl.h"
#include "slapd_process.h"
#include "test_certificates.h"

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

using qxtest::Certificates;
using qxtest::SlapdProcess;
using qxtest::TempDir;

namespace {

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

    static inline Certificates* certs = nullptr;
    Platform platform{DataUnit("QX"), DataUnit("")};
};

std::string starttls(const SlapdProcess& ldap)
{
    return ldap.url() + "/???" "?!x-starttls";
}

// Each certificate, both ways of starting TLS: one a trusted CA signed for the host connects and
// reads; one that fails its check refuses the connection, with what failed in the message.
TEST_F(LdapTls, EachCertificateConnectsOrRefusesSayingWhatFailed)
{
    struct Row {
        const char* cert;
        const char* says; // in the error, lower case; "" when it connects
    } rows[] = {
        {"good", ""}, {"wronghost", "name in the certificate"}, {"self", "issuer is unknown"}};
    for (const Row& row : rows) {
        SlapdProcess ldap;
        start(ldap, row.cert);
        for (const std::string& url : {ldap.ldaps_url(), starttls(ldap)}) {
            SCOPED_TRACE(std::string(row.cert) + " " + url);
            bool ok = platform.connect(url.c_str(), "test", 10);
            std::string why = ok ? "" : platform.get_error_string();
            if (!*row.says) {
                ASSERT_TRUE(ok) << why;
                Album top(DataUnit("top"), platform);
                ASSERT_TRUE(top.set_derivation("/dc=example,dc=org/*"));
                ASSERT_TRUE(top.derive(10)) << top.get_error_string();
                EXPECT_EQ(4, top.num_images()); // people, groups, hosts, staff
            } else {
                EXPECT_FALSE(ok);
                std::string low = why;
                for (char& c : low)
                    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
                EXPECT_NE(std::string::npos, low.find("tls")) << why;
                EXPECT_NE(std::string::npos, low.find(row.says)) << why;
                EXPECT_EQ(KVL_ERR_CONNECT, platform.get_error_type()) << why;
            }
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
