/*
 * ldap_tls.h - why a directory server's certificate failed libldap's checks.
 *
 * libldap refuses a certificate that its CA list does not trust, that names
 * another host or whose dates are past, but reports each only as a failed
 * connect.  kvl_ldap_certificate_verdict connects once more, accepting any
 * certificate, up to the end of the TLS handshake (ldaps://, or StartTLS when
 * starttls), binds nothing and sends nothing else, and checks the certificate
 * it got against the same CA list and host name.
 */
#pragma once

#include <string>

struct timeval;

/* What the checks found, in GnuTLS's words ("The certificate is NOT trusted.
 * The name in the certificate does not match the expected."); "" when the
 * second connection fails as well or its certificate passes.  server is the
 * URL's scheme://host:port; waits at most network for each step. */
std::string kvl_ldap_certificate_verdict(const std::string& server, bool starttls,
                                         const struct timeval& network);
