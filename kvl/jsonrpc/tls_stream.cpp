/*
 * tls_stream.cpp - a connection to qx_mis in TLS (OpenSSL), for qxs:// hosts.
 *
 * The handshake waits (polling the socket) until the connection's deadline;
 * afterwards reads and writes never wait, as the platform's waits expect.
 * The server's certificate must chain to the CA file named by QX_TLS_CA, or
 * to the system's store without it, and must name the host as given (a DNS
 * name, or an IP address in its subjectAltName).
 */
#include "kvl/jsonrpc/byte_stream.h"
#include "kvl/kvl_private.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <signal.h>
#include <time.h>

namespace {

struct CtxFree {
    void operator()(SSL_CTX* c) const { SSL_CTX_free(c); }
};
struct SslFree {
    void operator()(SSL* s) const { SSL_free(s); }
};

/* OpenSSL writes to the socket with write(), which raises SIGPIPE when the
 * server has gone; a program using KVL must not die of that.  While one is
 * alive SIGPIPE is blocked in this thread, and one that the guarded calls
 * raised is taken away before it is unblocked. */
class NoSigpipe {
public:
    NoSigpipe()
    {
        sigemptyset(&pipe_);
        sigaddset(&pipe_, SIGPIPE);
        sigset_t pending;
        sigpending(&pending);
        was_pending_ = sigismember(&pending, SIGPIPE) == 1;
        pthread_sigmask(SIG_BLOCK, &pipe_, &old_);
    }
    ~NoSigpipe()
    {
        sigset_t pending;
        sigpending(&pending);
        if (!was_pending_ && sigismember(&pending, SIGPIPE) == 1) {
            struct timespec zero = {0, 0};
            sigtimedwait(&pipe_, nullptr, &zero);
        }
        pthread_sigmask(SIG_SETMASK, &old_, nullptr);
    }
    NoSigpipe(const NoSigpipe&) = delete;
    NoSigpipe& operator=(const NoSigpipe&) = delete;

private:
    sigset_t pipe_, old_;
    bool was_pending_ = false;
};

/* OpenSSL's reasons for what just failed; the queue is emptied. */
std::string ssl_errors()
{
    std::string out;
    char buf[256];
    for (unsigned long e; (e = ERR_get_error()) != 0;) {
        ERR_error_string_n(e, buf, sizeof buf);
        if (!out.empty()) out += "; ";
        out += buf;
    }
    return out;
}

/* Which check of the server's certificate failed, from the verify result. */
std::string verify_failure(long result, const std::string& host, const std::string& trusted)
{
    std::string detail = std::string(" (") + X509_verify_cert_error_string(result) + ")";
    switch (result) {
    case X509_V_ERR_CERT_HAS_EXPIRED:
        return "the server's certificate has expired" + detail;
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return "the server's certificate is not valid yet" + detail;
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        return "the server's certificate is self-signed and not trusted by " + trusted + detail;
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
        return "the server's certificate has an unknown issuer, not trusted by " + trusted + detail;
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
        return "the server's certificate is not for host " + host + detail;
    default: return "the server's certificate was refused" + detail;
    }
}

struct TlsStream : KvlByteStream {
    explicit TlsStream(SSL* s) : ssl(s) {}

    long read(char* buf, size_t len, std::string& why) override
    {
        NoSigpipe quiet; /* a read may answer the server (a key update) */
        ERR_clear_error();
        size_t n = 0;
        if (SSL_read_ex(ssl.get(), buf, len, &n) == 1) return static_cast<long>(n);
        return stopped(0, why, "TLS read failed: ");
    }
    long write(const char* buf, size_t len, std::string& why) override
    {
        NoSigpipe quiet;
        ERR_clear_error();
        size_t n = 0;
        if (SSL_write_ex(ssl.get(), buf, len, &n) == 1) return static_cast<long>(n);
        long r = stopped(0, why, "write failed: ");
        if (r < 0 && why == "closed by the server") why = "write failed: closed by the server";
        return r;
    }
    bool pending() const override { return SSL_pending(ssl.get()) > 0; }
    void goodbye() override
    {
        if (broken) return; /* no close_notify after a fatal error */
        NoSigpipe quiet;
        ERR_clear_error();
        SSL_shutdown(ssl.get());
        ERR_clear_error();
    }

    /* 0 when the call only has to wait for the socket, else -1 with why. */
    long stopped(int rc, std::string& why, const char* what)
    {
        int e = SSL_get_error(ssl.get(), rc);
        if (e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE) return 0;
        broken = e != SSL_ERROR_ZERO_RETURN;
        if (e == SSL_ERROR_ZERO_RETURN) {
            why = "closed by the server";
            return -1;
        }
        int err = errno;
        std::string reasons = ssl_errors();
        if (!reasons.empty())
            why = what + reasons;
        else if (e == SSL_ERROR_SYSCALL && err != 0)
            why = what + std::string(std::strerror(err));
        else
            why = "closed by the server";
        return -1;
    }

    std::unique_ptr<SSL, SslFree> ssl;
    bool broken = false; /* a fatal error came: the connection says nothing more */
};

/* One context for the process: the trust store is read once. */
SSL_CTX* client_context(std::string& trusted, std::string& why)
{
    static std::unique_ptr<SSL_CTX, CtxFree> ctx;
    static std::string ca_file;
    const char* env = std::getenv("QX_TLS_CA");
    std::string want = env ? env : "";
    trusted = want.empty() ? "the system's certificate store" : "the CA file " + want + " (QX_TLS_CA)";
    if (ctx && ca_file == want) return ctx.get();
    ERR_clear_error();
    std::unique_ptr<SSL_CTX, CtxFree> made(SSL_CTX_new(TLS_client_method()));
    if (!made) {
        why = "cannot set up TLS: " + ssl_errors();
        return nullptr;
    }
    SSL_CTX_set_min_proto_version(made.get(), TLS1_2_VERSION);
    SSL_CTX_set_options(made.get(), SSL_OP_NO_RENEGOTIATION);
    SSL_CTX_set_mode(made.get(), SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    SSL_CTX_set_verify(made.get(), SSL_VERIFY_PEER, nullptr);
    bool loaded = want.empty() ? SSL_CTX_set_default_verify_paths(made.get()) == 1
                               : SSL_CTX_load_verify_locations(made.get(), want.c_str(), nullptr) == 1;
    if (!loaded) {
        why = "cannot read " + trusted + ": " + ssl_errors();
        return nullptr;
    }
    ctx = std::move(made);
    ca_file = want;
    return ctx.get();
}

} // namespace

std::unique_ptr<KvlByteStream> kvl_tls_stream(int fd, const std::string& host, double deadline,
                                              std::string& why)
{
    std::string trusted;
    SSL_CTX* ctx = client_context(trusted, why);
    if (!ctx) return nullptr;
    std::unique_ptr<SSL, SslFree> ssl(SSL_new(ctx));
    if (!ssl) {
        why = "cannot set up TLS: " + ssl_errors();
        return nullptr;
    }
    SSL_set_fd(ssl.get(), fd);
    /* An address is checked against the certificate's IP entries, a name
     * against its DNS names (and sent as the server name). */
    unsigned char addr[16];
    bool is_ip = inet_pton(AF_INET, host.c_str(), addr) == 1 || inet_pton(AF_INET6, host.c_str(), addr) == 1;
    X509_VERIFY_PARAM* param = SSL_get0_param(ssl.get());
    if (is_ip) {
        X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str());
    } else {
        SSL_set_tlsext_host_name(ssl.get(), host.c_str());
        SSL_set1_host(ssl.get(), host.c_str());
    }
    NoSigpipe quiet;
    for (;;) {
        ERR_clear_error();
        int rc = SSL_connect(ssl.get());
        if (rc == 1) break;
        int e = SSL_get_error(ssl.get(), rc);
        if (e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE) {
            double left = deadline - kvl_now_seconds();
            if (left <= 0) {
                why = "no TLS handshake within the time-out (is it a TLS port of qx_mis?)";
                return nullptr;
            }
            struct pollfd p = {fd, static_cast<short>(e == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT), 0};
            if (poll(&p, 1, static_cast<int>(std::ceil(left * 1000))) < 0 && errno != EINTR) {
                why = std::string("poll: ") + std::strerror(errno);
                return nullptr;
            }
            continue;
        }
        long result = SSL_get_verify_result(ssl.get());
        if (result != X509_V_OK) {
            why = verify_failure(result, host, trusted);
            ERR_clear_error();
            return nullptr;
        }
        int err = errno;
        std::string reasons = ssl_errors();
        if (reasons.empty())
            reasons = e == SSL_ERROR_SYSCALL && err ? std::strerror(err) : "closed by the server";
        why = "TLS handshake failed: " + reasons + " (is it a TLS port of qx_mis?)";
        return nullptr;
    }
    return std::make_unique<TlsStream>(ssl.release());
}
