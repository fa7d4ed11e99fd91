// Plain TCP connections: the socket's bytes as they are.
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "conn_io.h"

namespace mis {

namespace {

class PlainIo : public ConnIo {
public:
    explicit PlainIo(int fd) : fd_(fd) {}
    IoResult handshake() override { return {}; }

    IoResult read(char* buf, size_t len) override
    {
        for (;;) {
            ssize_t r = recv(fd_, buf, len, 0);
            if (r > 0) return {IoStatus::Ok, static_cast<size_t>(r), {}};
            if (r == 0) return {IoStatus::Closed, 0, "closed by the client"};
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) return {IoStatus::WantRead, 0, {}};
            return {IoStatus::Failed, 0, std::strerror(errno)};
        }
    }

    IoResult write(const char* buf, size_t len) override
    {
        for (;;) {
            ssize_t w = ::send(fd_, buf, len, MSG_NOSIGNAL);
            if (w >= 0) return {IoStatus::Ok, static_cast<size_t>(w), {}};
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) return {IoStatus::WantWrite, 0, {}};
            return {IoStatus::Failed, 0, std::string("write failed: ") + std::strerror(errno)};
        }
    }

private:
    int fd_;
};

} // namespace

std::unique_ptr<ConnIo> plain_conn_io(int fd)
{
    return std::make_unique<PlainIo>(fd);
}

} // namespace mis
