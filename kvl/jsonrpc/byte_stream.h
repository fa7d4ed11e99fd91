/*
 * byte_stream.h - the bytes of a connection to qx_mis: plain TCP or TLS.
 * PRIVATE: only the JSON-RPC transport (kvl/jsonrpc/) uses it.
 *
 * The contract of a stream over a connected, non-blocking socket (which
 * stays the transport's: the stream never closes it):
 *   read   moves up to len bytes into buf without waiting: > 0 the bytes
 *          read, 0 nothing now (the socket's next readiness brings more),
 *          -1 the end or a failure, why saying which ("closed by the
 *          server" at a clean end).
 *   write  moves up to len bytes out without waiting: > 0 the bytes taken,
 *          0 none now, -1 a failure with why.  Bytes not taken are offered
 *          again, first in the buffer, whose address may change.
 *   pending  bytes already read off the socket and not yet handed out: the
 *          socket will not become readable for them, so read again at once.
 *   goodbye  tells the server the connection ends (TLS close_notify),
 *          without waiting.
 */
#ifndef KVL_BYTE_STREAM_H
#define KVL_BYTE_STREAM_H

#include <cstddef>
#include <memory>
#include <string>

struct KvlByteStream {
    virtual ~KvlByteStream() {}
    virtual long read(char* buf, size_t len, std::string& why) = 0;
    virtual long write(const char* buf, size_t len, std::string& why) = 0;
    virtual bool pending() const { return false; }
    virtual void goodbye() {}
};

/* The socket's bytes as they are (plain_stream.cpp). */
std::unique_ptr<KvlByteStream> kvl_plain_stream(int fd);

/* TLS over the connected socket fd (tls_stream.cpp): the handshake, waiting
 * until deadline (kvl_now_seconds() time) at the most, with the server's
 * certificate checked against the CA file named by QX_TLS_CA, else the
 * system's store, and against host (a name or an address).  nullptr with
 * why naming the check that failed: an expired certificate, one signed by
 * itself or by an issuer nobody trusts, one for another host; or the
 * handshake that failed or took too long. */
std::unique_ptr<KvlByteStream> kvl_tls_stream(int fd, const std::string& host, double deadline,
                                              std::string& why);

/* A host text for qx_mis split up: "qx://" or "qxs://" (TLS), an optional
 * "USER@", then HOST[:PORT], with a trailing "/" dropped.  A text without a
 * scheme is HOST[:PORT] as it stands. */
struct KvlQxAddress {
    bool tls = false;
    std::string user;      /* "" when none is given */
    bool user_given = false; /* the text has USER@, perhaps with USER empty */
    std::string host_port; /* HOST[:PORT] */
};
KvlQxAddress kvl_parse_qx_address(const std::string& text);

#endif /* KVL_BYTE_STREAM_H */
