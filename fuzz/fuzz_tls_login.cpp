// libFuzzer target: what a client sends before it is trusted. The first byte of an input picks
// the path:
//   even: the rest is what a client sends to a TLS port, fed through a socket pair to the
//         server's TLS connection (tls_io.cpp) as the event loop drives it -- the plain-text
//         check, the handshake, then reads -- until it ends or waits for more;
//   odd:  the rest is request lines into a service whose clients must log in (users ann, an
//         operator, and bob, a reader, passwords "ann-pass" and "bob-pass"), on a fresh
//         connection each time: logins, requests before and after them, batches with logins.
// Whatever arrives, nothing may crash or leak; password checks finish on their own thread.
#include <fcntl.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "log.h"
#include "model.h"
#include "service.h"
#include "tls_io.h"
#include "users.h"

namespace {

struct CountingOutbox : mis::Outbox {
    size_t lines = 0;
    void send(int, const std::string&) override { ++lines; }
    void send_part(int, const std::string&, bool last) override { lines += last; }
};

// A self-signed certificate and its key, written to files in dir for tls_conn_io_maker.
bool write_certificate(const std::string& dir)
{
    EVP_PKEY* key = EVP_EC_gen("P-256");
    X509* cert = X509_new();
    if (!key || !cert) return false;
    ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
    X509_gmtime_adj(X509_getm_notBefore(cert), 0);
    X509_gmtime_adj(X509_getm_notAfter(cert), 86400);
    X509_set_pubkey(cert, key);
    X509_NAME* name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("fuzz"), -1, -1, 0);
    X509_set_issuer_name(cert, name);
    bool ok = X509_sign(cert, key, EVP_sha256()) > 0;
    FILE* c = std::fopen((dir + "/cert.pem").c_str(), "w");
    int kfd = open((dir + "/key.pem").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    FILE* k = kfd >= 0 ? fdopen(kfd, "w") : nullptr;
    ok = ok && c && k && PEM_write_X509(c, cert) == 1 &&
         PEM_write_PrivateKey(k, key, nullptr, nullptr, 0, nullptr, nullptr) == 1;
    if (c) std::fclose(c);
    if (k) std::fclose(k);
    X509_free(cert);
    EVP_PKEY_free(key);
    return ok;
}

struct World {
    std::unique_ptr<mis::ConnIoMaker> tls;
    std::unique_ptr<mis::Schema> schema;
    std::unique_ptr<mis::Store> store;
    std::unique_ptr<mis::Model> model;
    mis::UserFile users;
    CountingOutbox out;
    std::unique_ptr<mis::Service> service;

    World()
    {
        mis::log_enabled = false;
        char tmpl[] = "/tmp/fuzz_tls_login.XXXXXX";
        const char* dir = mkdtemp(tmpl);
        std::string err;
        if (!dir || !write_certificate(dir)) __builtin_trap();
        std::string d = dir;
        tls = mis::tls_conn_io_maker(d + "/cert.pem", d + "/key.pem", err);
        if (!tls) __builtin_trap();
        const std::string file = d + "/users";
        if (!mis::UserFile::add_user(file, "ann", mis::Role::Operator, "ann-pass", err) ||
            !mis::UserFile::add_user(file, "bob", mis::Role::Reader, "bob-pass", err) ||
            !users.load(file, err))
            __builtin_trap();
        for (const char* f : {"/cert.pem", "/key.pem", "/users"}) unlink((d + f).c_str());
        rmdir(dir);
        schema = mis::Schema::load(QX_SAMPLE_DIR "/schema.txt", err);
        store = mis::make_memory_store();
        if (!schema) __builtin_trap();
        model = std::make_unique<mis::Model>(*schema, *store);
        if (!model->open(QX_SAMPLE_DIR "/network.txt", err)) __builtin_trap();
        service = std::make_unique<mis::Service>(*model, out, nullptr);
        if (!service->require_logins(users, err)) __builtin_trap();
    }
};

World& world()
{
    static World w;
    return w;
}

void handshake(World& w, const uint8_t* data, size_t size)
{
    int sv[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, sv) < 0) return;
    std::unique_ptr<mis::ConnIo> io = w.tls->wrap(sv[0]);
    // The client's bytes, then the end of its side: the server meets all of it and the close.
    for (size_t off = 0; off < size;) {
        ssize_t n = write(sv[1], data + off, size - off);
        if (n <= 0) break;
        off += static_cast<size_t>(n);
    }
    shutdown(sv[1], SHUT_WR);
    char buf[4096];
    for (int step = 0; io && step < 64; ++step) {
        mis::IoResult r = io->handshake();
        if (r.status == mis::IoStatus::Ok) {
            while (io->read(buf, sizeof buf).status == mis::IoStatus::Ok) {
            }
            io->write("{}\n", 3);
            io->goodbye();
            break;
        }
        if (r.status != mis::IoStatus::WantRead && r.status != mis::IoStatus::WantWrite) break;
        // Its replies are read away, as a client would, so the server can always write.
        while (read(sv[1], buf, sizeof buf) > 0) {
        }
    }
    io.reset();
    close(sv[0]);
    close(sv[1]);
}

void login_lines(World& w, const uint8_t* data, size_t size)
{
    std::string text(reinterpret_cast<const char*>(data), size);
    // Addresses in turn: the slowing of failed logins is per user and per address.
    static unsigned round = 0;
    w.service->connect(1, "192.0.2." + std::to_string(++round % 250) + ":4000");
    for (size_t start = 0; start <= text.size();) {
        size_t nl = text.find('\n', start);
        if (nl == std::string::npos) nl = text.size();
        w.service->handle_line(1, text.substr(start, nl - start));
        while (w.service->batch_running(1)) w.service->continue_batch(1);
        w.service->finish_logins();
        start = nl + 1;
    }
    w.service->finish_logins();
    w.service->disconnect(1);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0) return 0;
    World& w = world();
    if (data[0] % 2 == 0)
        handshake(w, data + 1, size - 1);
    else
        login_lines(w, data + 1, size - 1);
    return 0;
}
