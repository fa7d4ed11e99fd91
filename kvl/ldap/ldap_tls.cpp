/*
 * ldap_tls.cpp - the verdict on a directory server's certificate, from a
 * connection that accepts it only to look at it (see ldap_tls.h).
 */
#include "kvl/ldap/ldap_tls.h"

#include <gnutls/gnutls.h>
#include <gnutls/x509.h>
#include <ldap.h>

#include <memory>

namespace {

struct LdapCloser {
    void operator()(LDAP* ld) const { ldap_unbind_ext(ld, nullptr, nullptr); }
};
struct CertCloser {
    void operator()(gnutls_x509_crt_t c) const { gnutls_x509_crt_deinit(c); }
};
struct TrustCloser {
    void operator()(gnutls_x509_trust_list_t t) const { gnutls_x509_trust_list_deinit(t, 1); }
};
using Ldap = std::unique_ptr<LDAP, LdapCloser>;
using Cert = std::unique_ptr<std::remove_pointer<gnutls_x509_crt_t>::type, CertCloser>;
using Trust = std::unique_ptr<std::remove_pointer<gnutls_x509_trust_list_t>::type, TrustCloser>;

/* libldap's text option (a CA file or folder) as ldap.conf and ~/.ldaprc set it. */
std::string text_option(int option)
{
    char* value = nullptr;
    ldap_get_option(nullptr, option, &value);
    std::string out = value ? value : "";
    if (value) ldap_memfree(value);
    return out;
}

/* The CAs libldap trusts: TLS_CACERT and TLS_CACERTDIR, else the system's. */
Trust trusted_cas()
{
    gnutls_x509_trust_list_t list = nullptr;
    if (gnutls_x509_trust_list_init(&list, 0) < 0) return Trust();
    Trust trust(list);
    std::string file = text_option(LDAP_OPT_X_TLS_CACERTFILE);
    std::string dir = text_option(LDAP_OPT_X_TLS_CACERTDIR);
    if (!file.empty())
        gnutls_x509_trust_list_add_trust_file(list, file.c_str(), nullptr, GNUTLS_X509_FMT_PEM, 0, 0);
    if (!dir.empty())
        gnutls_x509_trust_list_add_trust_dir(list, dir.c_str(), nullptr, GNUTLS_X509_FMT_PEM, 0, 0);
    if (file.empty() && dir.empty()) gnutls_x509_trust_list_add_system_trust(list, 0, 0);
    return trust;
}

/* The DER certificate the server showed, on a connection that took any. */
bool peer_certificate(const std::string& server, bool starttls, const struct timeval& network,
                      std::string& der)
{
    LDAP* raw = nullptr;
    if (ldap_initialize(&raw, server.c_str()) != LDAP_SUCCESS) return false;
    Ldap ld(raw);
    int version = LDAP_VERSION3, allow = LDAP_OPT_X_TLS_ALLOW, fresh = 0;
    ldap_set_option(raw, LDAP_OPT_PROTOCOL_VERSION, &version);
    ldap_set_option(raw, LDAP_OPT_NETWORK_TIMEOUT, &network);
    ldap_set_option(raw, LDAP_OPT_TIMEOUT, &network);
    ldap_set_option(raw, LDAP_OPT_X_TLS_REQUIRE_CERT, &allow);
    ldap_set_option(raw, LDAP_OPT_X_TLS_NEWCTX, &fresh);
    if (ldap_connect(raw) != LDAP_SUCCESS) return false;
    if (starttls && ldap_start_tls_s(raw, nullptr, nullptr) != LDAP_SUCCESS) return false;
    struct berval cert = {0, nullptr};
    if (ldap_get_option(raw, LDAP_OPT_X_TLS_PEERCERT, &cert) != LDAP_OPT_SUCCESS || !cert.bv_val)
        return false;
    der.assign(cert.bv_val, cert.bv_len);
    ber_memfree(cert.bv_val);
    return true;
}

} // namespace

std::string kvl_ldap_certificate_verdict(const std::string& server, bool starttls,
                                         const struct timeval& network)
{
    LDAPURLDesc* url = nullptr;
    if (ldap_url_parse(server.c_str(), &url) != LDAP_URL_SUCCESS) return "";
    std::string host = url->lud_host ? url->lud_host : "";
    ldap_free_urldesc(url);

    std::string der;
    if (!peer_certificate(server, starttls, network, der)) return "";
    gnutls_x509_crt_t raw = nullptr;
    if (gnutls_x509_crt_init(&raw) < 0) return "";
    Cert cert(raw);
    gnutls_datum_t data = {reinterpret_cast<unsigned char*>(&der[0]),
                           static_cast<unsigned>(der.size())};
    if (gnutls_x509_crt_import(raw, &data, GNUTLS_X509_FMT_DER) < 0) return "";
    Trust trust = trusted_cas();
    unsigned status = 0;
    if (!trust || gnutls_x509_trust_list_verify_crt(trust.get(), &raw, 1, 0, &status, nullptr) < 0)
        return "";
    if (!host.empty() && !gnutls_x509_crt_check_hostname(raw, host.c_str()))
        status |= GNUTLS_CERT_INVALID | GNUTLS_CERT_UNEXPECTED_OWNER;
    if (status == 0) return "";
    gnutls_datum_t text = {nullptr, 0};
    if (gnutls_certificate_verification_status_print(status, GNUTLS_CRT_X509, &text, 0) < 0)
        return "";
    std::string verdict(reinterpret_cast<char*>(text.data), text.size);
    gnutls_free(text.data);
    while (!verdict.empty() && (verdict.back() == ' ' || verdict.back() == '\0'))
        verdict.pop_back();
    return verdict;
}
