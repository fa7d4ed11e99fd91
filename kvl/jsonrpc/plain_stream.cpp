/*
 * plain_stream.cpp - a connection to qx_mis in plain TCP, and the host
 * text's scheme.
 */
#include "kvl/jsonrpc/byte_stream.h"

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

namespace {

struct PlainStream : KvlByteStream {
    explicit PlainStream(int socket_fd) : fd(socket_fd) {}
    long read(char* buf, size_t len, std::string& why) override
    {
        for (;;) {
            ssize_t n = ::read(fd, buf, len);
            if (n > 0) return static_cast<long>(n);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return 0;
            why = n == 0 ? "closed by the server" : std::strerror(errno);
            return -1;
        }
    }
    long write(const char* buf, size_t len, std::string& why) override
    {
        for (;;) {
            /* MSG_NOSIGNAL: a server that went away must not kill us with SIGPIPE. */
            ssize_t n = ::send(fd, buf, len, MSG_NOSIGNAL);
            if (n >= 0) return static_cast<long>(n);
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
            why = std::string("write failed: ") + std::strerror(errno);
            return -1;
        }
    }
    int fd;
};

} // namespace

std::unique_ptr<KvlByteStream> kvl_plain_stream(int fd)
{
    return std::make_unique<PlainStream>(fd);
}

KvlQxAddress kvl_parse_qx_address(const std::string& text)
{
    KvlQxAddress a;
    std::string rest = text;
    if (rest.compare(0, 5, "qx://") == 0) {
        rest.erase(0, 5);
        if (!rest.empty() && rest.back() == '/') rest.pop_back();
    } else if (rest.compare(0, 6, "qxs://") == 0) {
        a.tls = true;
        rest.erase(0, 6);
        if (!rest.empty() && rest.back() == '/') rest.pop_back();
    }
    size_t at = rest.rfind('@'); /* a host has none; a user name may */
    if (at != std::string::npos) {
        a.user = rest.substr(0, at);
        a.user_given = true;
        rest.erase(0, at + 1);
    }
    a.host_port = rest;
    return a;
}
