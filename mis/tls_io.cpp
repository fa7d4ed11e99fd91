// TLS connections through OpenSSL, driven by the server's non-blocking loop: every call returns
// at once, and SSL_ERROR_WANT_READ / SSL_ERROR_WANT_WRITE become WantRead / WantWrite, which the
// loop turns into what epoll watches for this client.
#include "tls_io.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <cerrno>
#include <cctype>
#include <cstdio>
#include <cstring>

namespace mis {

namespace {

// Every record a TLS client sends first is a handshake record (content type 22).
constexpr unsigned char TLS_HANDSHAKE_RECORD = 0x16;

// OpenSSL's reasons for the failure just met, oldest first; the queue is emptied.
std::string ssl_errors()
{
    std::string out;
    char buf[256];
    for (unsigned long e; (e = ERR_get_error()) != 0;) {
        ERR_error_string_n(e, buf, sizeof buf);
        if (!out.empty()) out += "; ";
        out += buf;
    }
    return out.empty() ? "no reason given" : out;
}

struct CtxFree {
    void operator()(SSL_CTX* c) const { SSL_CTX_free(c); }
};
struct SslFree {
    void operator()(SSL* s) const { SSL_free(s); }
};

class TlsIo : public ConnIo {
public:
    TlsIo(SSL* ssl, int fd) : ssl_(ssl), fd_(fd) {}

    IoResult handshake() override
    {
        if (!checked_start_) {
            // A client that speaks plain JSON is told apart from a broken handshake, for the log.
            unsigned char first = 0;
            ssize_t r = recv(fd_, &first, 1, MSG_PEEK);
            if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
                return {IoStatus::WantRead, 0, {}};
            if (r == 0) return {IoStatus::Failed, 0, "closed before the TLS handshake"};
            if (r < 0) return {IoStatus::Failed, 0, std::strerror(errno)};
            if (first != TLS_HANDSHAKE_RECORD) {
                char shown[32];
                if (std::isprint(first))
                    std::snprintf(shown, sizeof shown, "'%c'", first);
                else
                    std::snprintf(shown, sizeof shown, "byte 0x%02x", first);
                return {IoStatus::Failed, 0,
                        std::string("no TLS handshake: the client sent plain text (starting ") +
                            shown + ") to the TLS port"};
            }
            checked_start_ = true;
        }
        ERR_clear_error();
        int rc = SSL_accept(ssl_.get());
        if (rc == 1) {
            done_ = true;
            return {};
        }
        return failure(rc, "TLS handshake failed: ");
    }

    IoResult read(char* buf, size_t len) override
    {
        // Drains whole records into buf, so that little stays inside OpenSSL between events.
        size_t got = 0;
        while (got < len) {
            ERR_clear_error();
            size_t n = 0;
            int rc = SSL_read_ex(ssl_.get(), buf + got, len - got, &n);
            if (rc == 1) {
                got += n;
                continue;
            }
            IoResult r = failure(0, "TLS read failed: ");
            // Input before a stop is handed out first; an end or error comes again next time.
            if (got > 0) break;
            return r;
        }
        return {IoStatus::Ok, got, {}};
    }

    IoResult write(const char* buf, size_t len) override
    {
        ERR_clear_error();
        size_t n = 0;
        if (SSL_write_ex(ssl_.get(), buf, len, &n) == 1) return {IoStatus::Ok, n, {}};
        IoResult r = failure(0, "TLS write failed: ");
        if (r.status == IoStatus::Closed) r = {IoStatus::Failed, 0, "write failed: " + r.why};
        return r;
    }

    bool buffered() const override { return SSL_pending(ssl_.get()) > 0; }

    void goodbye() override
    {
        if (!done_ || broken_) return; // no close_notify after a fatal error
        ERR_clear_error();
        SSL_shutdown(ssl_.get()); // the close_notify alert, if the socket takes it now
        ERR_clear_error();
    }

    std::string describe() const override
    {
        return std::string(SSL_get_version(ssl_.get())) + " " +
               SSL_CIPHER_get_name(SSL_get_current_cipher(ssl_.get()));
    }

private:
    std::unique_ptr<SSL, SslFree> ssl_;
    int fd_;
    bool checked_start_ = false, done_ = false, broken_ = false;

    // What an OpenSSL call that did not succeed came to.
    IoResult failure(int rc, const char* what)
    {
        int e = SSL_get_error(ssl_.get(), rc);
        broken_ = e == SSL_ERROR_SYSCALL || e == SSL_ERROR_SSL;
        switch (e) {
        case SSL_ERROR_WANT_READ: return {IoStatus::WantRead, 0, {}};
        case SSL_ERROR_WANT_WRITE: return {IoStatus::WantWrite, 0, {}};
        case SSL_ERROR_ZERO_RETURN: return {IoStatus::Closed, 0, "closed by the client"};
        case SSL_ERROR_SYSCALL: {
            int err = errno;
            std::string queued = ERR_peek_error() ? ssl_errors() : "";
            if (!queued.empty()) return {IoStatus::Failed, 0, what + queued};
            if (err == 0 || err == ECONNRESET)
                return {IoStatus::Closed, 0,
                        done_ ? "closed by the client" : "closed during the TLS handshake"};
            return {IoStatus::Failed, 0, what + std::string(std::strerror(err))};
        }
        default: return {IoStatus::Failed, 0, what + ssl_errors()};
        }
    }
};

class TlsMaker : public ConnIoMaker {
public:
    explicit TlsMaker(SSL_CTX* ctx) : ctx_(ctx) {}
    std::unique_ptr<ConnIo> wrap(int fd) override
    {
        SSL* ssl = SSL_new(ctx_.get());
        if (!ssl) return nullptr;
        SSL_set_fd(ssl, fd); // the socket stays the server's: freeing the SSL leaves it open
        SSL_set_accept_state(ssl);
        return std::make_unique<TlsIo>(ssl, fd);
    }

private:
    std::unique_ptr<SSL_CTX, CtxFree> ctx_;
};

} // namespace

std::unique_ptr<ConnIoMaker> tls_conn_io_maker(const std::string& cert_file,
                                               const std::string& key_file, std::string& err)
{
    struct stat st {};
    if (stat(key_file.c_str(), &st) < 0) {
        err = "TLS key " + key_file + ": " + std::strerror(errno);
        return nullptr;
    }
    if (st.st_mode & 077) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 0777));
        err = "TLS key " + key_file + " is open to others (mode " + mode +
              "); it must be 0600 or 0400 (chmod 600 " + key_file + ")";
        return nullptr;
    }
    ERR_clear_error();
    std::unique_ptr<SSL_CTX, CtxFree> ctx(SSL_CTX_new(TLS_server_method()));
    if (!ctx) {
        err = "cannot set up TLS: " + ssl_errors();
        return nullptr;
    }
    SSL_CTX_set_min_proto_version(ctx.get(), TLS1_2_VERSION);
    // No renegotiation (a client could make the server redo handshakes at will); a client that
    // goes without close_notify has simply gone.
    SSL_CTX_set_options(ctx.get(), SSL_OP_NO_RENEGOTIATION | SSL_OP_IGNORE_UNEXPECTED_EOF |
                                       SSL_OP_CIPHER_SERVER_PREFERENCE);
    // Replies leave in pieces from a buffer that grows and moves between tries; idle clients
    // keep no record buffers.
    SSL_CTX_set_mode(ctx.get(), SSL_MODE_ENABLE_PARTIAL_WRITE |
                                    SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER |
                                    SSL_MODE_RELEASE_BUFFERS);
    if (SSL_CTX_use_certificate_chain_file(ctx.get(), cert_file.c_str()) != 1) {
        err = "TLS certificate " + cert_file + ": " + ssl_errors();
        return nullptr;
    }
    if (SSL_CTX_use_PrivateKey_file(ctx.get(), key_file.c_str(), SSL_FILETYPE_PEM) != 1) {
        bool mismatch = ERR_GET_REASON(ERR_peek_last_error()) == X509_R_KEY_VALUES_MISMATCH;
        err = "TLS key " + key_file +
              (mismatch ? " does not belong to the certificate " + cert_file : ": " + ssl_errors());
        ERR_clear_error();
        return nullptr;
    }
    if (SSL_CTX_check_private_key(ctx.get()) != 1) {
        err = "TLS key " + key_file + " does not belong to the certificate " + cert_file;
        ERR_clear_error();
        return nullptr;
    }
    return std::make_unique<TlsMaker>(ctx.release());
}

} // namespace mis
