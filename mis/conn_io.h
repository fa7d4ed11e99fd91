// Public within qx_mis: how the server moves a client's bytes -- plain TCP or TLS -- behind one
// small interface, so that the event loop (server.cpp) is the same for both.
//
// The contract, for every kind of connection:
//   - The server owns the socket (non-blocking) and closes it; a ConnIo only uses it.
//   - No call ever blocks. A call that cannot go on now answers WantRead or WantWrite: call it
//     again once the socket is readable, or writable. Under TLS a read may need the socket to
//     be writable and a write may need it readable; the loop watches what was asked.
//   - handshake() first, until it answers Ok (plain TCP: at once); read and write only after.
//   - read() answers Ok with bytes > 0, Closed when the client ended its side (no more input
//     comes, but replies may still go out), or Failed with why.
//   - write() answers Ok with 0 < bytes <= len (the rest is written later) or Failed with why.
//     A write that answered WantRead/WantWrite is retried with the same bytes at the front of
//     the buffer (more may follow them; the buffer may have moved).
//   - buffered() is true when input has been taken off the socket and not yet handed out:
//     the socket will not become readable for it, so the loop reads again without waiting.
//   - goodbye() tells the peer the connection ends (TLS close_notify), without waiting.
#pragma once
#include <memory>
#include <string>

namespace mis {

enum class IoStatus { Ok, WantRead, WantWrite, Closed, Failed };

struct IoResult {
    IoStatus status = IoStatus::Ok;
    size_t bytes = 0;
    std::string why; // Failed, Closed: what happened, for the log
};

class ConnIo {
public:
    virtual ~ConnIo() = default;
    virtual IoResult handshake() = 0;
    virtual IoResult read(char* buf, size_t len) = 0;
    virtual IoResult write(const char* buf, size_t len) = 0;
    virtual bool buffered() const { return false; }
    virtual void goodbye() {}
    // What the connection carries, for the log once the handshake is done ("TLSv1.3 ...").
    virtual std::string describe() const { return "plain TCP"; }
};

// Makes the ConnIo of each accepted socket.
class ConnIoMaker {
public:
    virtual ~ConnIoMaker() = default;
    virtual std::unique_ptr<ConnIo> wrap(int fd) = 0;
};

// Plain TCP: send and recv on the socket (plain_io.cpp).
std::unique_ptr<ConnIo> plain_conn_io(int fd);

} // namespace mis
