/*
 * jsonrpc.cpp - the JSON-RPC transport: KVL's requests as JSON-RPC 2.0 lines
 * over TCP to qx_mis (docs/protocol.md), in plain TCP or, for qxs:// hosts,
 * TLS: the bytes go through one stream (byte_stream.h) either way.
 *
 * Requests are queued in the platform's output buffer and written as far as
 * the socket takes them; replies and notifications are read as lines.  A
 * derivation's reply goes straight into an album's member set
 * (reply_reader.cpp); every other line is parsed as JSON.  Notifications
 * keep the protocol's shape, which is also the shape the platform
 * dispatches.
 */
#include "kvl/cut_text.h"
#include "kvl/jsonrpc/byte_stream.h"
#include "kvl/jsonrpc/login.h"
#include "kvl/kvl_private.h"
#include "kvl/transport.h"
#include "protocol/errors.h"
#include "protocol/json_nesting.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

struct JsonRpcTransport : KvlTransport {
    bool open(PlatformImpl& plat, const std::string& host, const std::string& app, double timeout,
              Error& err) override;
    bool send(PlatformImpl& plat, long id, const char* method, const json& params) override;
    void read_input(PlatformImpl& plat) override;
    bool flush(PlatformImpl& plat) override;
    void close(PlatformImpl& plat) override
    {
        if (stream) stream->goodbye();
        stream.reset();
        if (plat.fd >= 0) ::close(plat.fd);
        plat.fd = -1;
    }
    /* The socket's bytes: plain or TLS, as open made it; plain for a socket
     * handed over without open. */
    KvlByteStream& bytes(PlatformImpl& plat)
    {
        if (!stream) stream = kvl_plain_stream(plat.fd);
        return *stream;
    }
    std::unique_ptr<KvlByteStream> stream;
};

/* A server's message, cut to kvl_max_message bytes at a character boundary. */
std::string cut_message(std::string text)
{
    return kvl_cut_text(std::move(text), kvl_max_message);
}

bool split_host(const std::string& arg, std::string& host, std::string& port)
{
    host = arg;
    port.clear();
    size_t colon = arg.rfind(':');
    if (colon != std::string::npos && arg.find(':') == colon) {
        host = arg.substr(0, colon);
        port = arg.substr(colon + 1);
        if (port.empty() || port.find_first_not_of("0123456789") != std::string::npos) return false;
    } else if (!arg.empty() && arg[0] == '[') { /* [v6-address]:port */
        size_t close = arg.find(']');
        if (close == std::string::npos) return false;
        host = arg.substr(1, close - 1);
        if (close + 1 < arg.size()) {
            if (arg[close + 1] != ':') return false;
            port = arg.substr(close + 2);
        }
    }
    if (host.empty()) host = "localhost";
    if (port.empty()) {
        const char* env = std::getenv("QX_MIS_PORT");
        port = (env && *env) ? env : std::to_string(KVL_DEFAULT_PORT);
        if (port.find_first_not_of("0123456789") != std::string::npos) return false;
    }
    long p = std::atol(port.c_str());
    return p > 0 && p < 65536;
}

/* Connects one address without blocking longer than until `deadline`. */
int connect_address(const struct addrinfo* ai, double deadline, int& err)
{
    int fd = socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, ai->ai_protocol);
    if (fd < 0) {
        err = errno;
        return -1;
    }
    if (::connect(fd, ai->ai_addr, ai->ai_addrlen) == 0) return fd;
    if (errno != EINPROGRESS) {
        err = errno;
        ::close(fd);
        return -1;
    }
    for (;;) {
        double left = deadline - kvl_now_seconds();
        if (left <= 0) {
            err = ETIMEDOUT;
            ::close(fd);
            return -1;
        }
        struct pollfd pfd = {fd, POLLOUT, 0};
        int n = poll(&pfd, 1, static_cast<int>(std::ceil(left * 1000)));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) continue;
        int soerr = 0;
        socklen_t len = sizeof soerr;
        getsockopt(fd, SOL_SOCKET, SO_ERROR, &soerr, &len);
        if (soerr == 0) return fd;
        err = soerr;
        ::close(fd);
        return -1;
    }
}

void take_lines(PlatformImpl& plat);
void handle_line(PlatformImpl& plat, const char* text, size_t n);

} // namespace

bool JsonRpcTransport::open(PlatformImpl& plat, const std::string& host_text,
                            const std::string& app, double timeout, Error& err)
{
    std::string port;
    /* [qx://|qxs://][USER@]HOST[:PORT][/]: qxs:// asks for TLS, USER@ for a login. */
    KvlQxAddress address = kvl_parse_qx_address(host_text);
    if (address.user_given && address.user.empty()) {
        err.set_error(KVL_ERR_ARGUMENT,
                      ("cannot connect: '" + host_text + "' names no user before its '@'").c_str());
        return false;
    }
    const std::string& host_arg = address.host_port;
    std::string& host = plat.host;
    std::string& host_port = plat.host_port;
    std::string& unowned_error = plat.unowned_error;
    int& fd = plat.fd;
    if (!split_host(host_arg, host, port)) {
        err.set_error(KVL_ERR_ARGUMENT,
                      ("cannot connect: '" + host_arg +
                       "' is not a host, host:port, or QX_MIS_PORT is not a port number")
                          .c_str());
        return false;
    }
    host_port = host + ":" + port;
    double secs = kvl_effective_timeout(timeout);
    double deadline = kvl_now_seconds() + secs;

    struct addrinfo hints;
    std::memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    struct addrinfo* list = nullptr;
    int gai = getaddrinfo(host.c_str(), port.c_str(), &hints, &list);
    if (gai != 0) {
        err.set_error(KVL_ERR_CONNECT, ("cannot connect to " + host_port +
                                        ": host name not found (" + gai_strerror(gai) + ")")
                                           .c_str());
        return false;
    }
    int last_err = 0;
    for (struct addrinfo* ai = list; ai && fd < 0; ai = ai->ai_next)
        fd = connect_address(ai, deadline, last_err);
    freeaddrinfo(list);
    if (fd < 0) {
        err.set_error(KVL_ERR_CONNECT,
                      ("cannot connect to " + host_port + ": " + std::strerror(last_err) +
                       (last_err == ECONNREFUSED ? " (is qx_mis running on that port?)" : ""))
                          .c_str());
        return false;
    }
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    std::string why;
    stream = address.tls ? kvl_tls_stream(fd, host, deadline, why) : kvl_plain_stream(fd);
    if (!stream) {
        ::close(fd);
        fd = -1;
        err.set_error(KVL_ERR_CONNECT, ("cannot connect to " + host_port + ": " + why).c_str());
        return false;
    }
    plat.opened();
    if (!address.user.empty() && !kvl_qx_login(plat, address.user, secs, deadline, err)) {
        plat.close_quietly();
        return false;
    }

    json params = {{"client", app.empty() ? std::string("kvl") : app}, {"host", host}};
    Error send_err;
    long id = plat.send("hello", params, &send_err);
    if (!id) {
        plat.close_quietly();
        err.set_error(KVL_ERR_CONNECT,
                      ("cannot connect to " + host_port + ": the server closed the connection" +
                       (unowned_error.empty() ? std::string() : " (" + unowned_error + ")"))
                          .c_str());
        return false;
    }
    double left = deadline - kvl_now_seconds();
    KvlReply r = plat.wait(id, left > 0.001 ? left : 0.001, "the greeting (hello)");
    if (!r.ok) {
        std::string msg = r.message;
        if (r.type == KVL_ERR_TIMEOUT)
            msg = "cannot connect to " + host_port + ": no greeting from the server within " +
                  kvl_format_seconds(secs) + " (is it a qx_mis server?)";
        else if (r.code == protocol::E_AUTH_REQUIRED)
            msg = "cannot connect to " + host_port +
                  ": the server wants a login: name the user in the host (USER@" + host_port + ")";
        else if (r.type == KVL_ERR_DISCONNECTED)
            msg = "cannot connect to " + host_port + ": the server closed the connection" +
                  (unowned_error.empty() ? std::string(" at once") : " (" + unowned_error + ")");
        plat.close_quietly();
        err.set_error(KVL_ERR_CONNECT, msg.c_str(), r.code);
        return false;
    }
    if (r.result.is_object() && r.result.contains("mdr") && r.result["mdr"].is_string())
        plat.mdr = r.result["mdr"].get<std::string>();
    return true;
}

bool JsonRpcTransport::flush(PlatformImpl& plat)
{
    bool& connected = plat.connected;
    std::string& outbuf = plat.outbuf;
    size_t& out_off = plat.out_off;
    while (connected && out_off < outbuf.size()) {
        std::string why;
        long n = bytes(plat).write(outbuf.data() + out_off, outbuf.size() - out_off, why);
        if (n > 0) {
            out_off += static_cast<size_t>(n);
            plat.out_written += static_cast<uint64_t>(n);
            continue;
        }
        if (n == 0) break;
        read_input(plat); /* keep what the server said before it closed */
        plat.lost(why);
        return false;
    }
    if (!connected) return false;
    if (out_off == outbuf.size()) {
        outbuf.clear();
        out_off = 0;
    } else if (out_off > (1u << 20)) {
        outbuf.erase(0, out_off); /* keep the buffer from creeping forward */
        out_off = 0;
    }
    plat.watch_output();
    return true;
}

bool JsonRpcTransport::send(PlatformImpl& plat, long id, const char* method, const json& params)
{
    json req = {{"jsonrpc", "2.0"}, {"id", id}, {"method", method}, {"params", params}};
    std::string line = req.dump(-1, ' ', false, json::error_handler_t::replace);
    line += '\n';
    if (plat.outbuf.size() - plat.out_off + line.size() > kvl_max_unsent) {
        plat.drop("the server has left " + std::to_string(plat.outbuf.size() - plat.out_off) +
                  " bytes of requests unread");
        return false;
    }
    plat.outbuf += line;
    plat.out_queued += line.size();
    flush(plat);
    if (!plat.connected) return false;
    auto it = plat.pending.find(id);
    if (it != plat.pending.end()) it->second.out_end = plat.out_queued;
    return true;
}

void JsonRpcTransport::read_input(PlatformImpl& plat)
{
    if (plat.fd < 0) return;
    std::string& inbuf = plat.inbuf;
    char buf[kvl_read_chunk];
    /* A server that sends without pause must not keep the loop here: what
     * is left is read at the socket's next turn -- but not what TLS holds
     * already, for which the socket has no next turn. */
    for (int chunks = 0; (chunks < 64 || bytes(plat).pending()) && plat.connected; chunks++) {
        std::string why;
        long n = bytes(plat).read(buf, sizeof buf, why);
        if (n > 0) {
            size_t held = inbuf.size(); /* the start of a line, at most kvl_max_line */
            if (inbuf.capacity() < held + static_cast<size_t>(n)) {
                /* Doubles, but takes the limit at once rather than a last
                 * step just below it: one copy of a long line less. */
                size_t grow = std::max(2 * inbuf.capacity(), held + static_cast<size_t>(n));
                size_t cap = kvl_max_line + kvl_read_chunk;
                inbuf.reserve(2 * grow > cap ? cap : grow);
            }
            inbuf.append(buf, static_cast<size_t>(n));
            take_lines(plat);
            continue;
        }
        if (n == 0) break;
        take_lines(plat); /* the whole lines that came before the end */
        inbuf.clear();
        plat.scanned = 0;
        plat.lost(why);
        return;
    }
}

namespace {

void take_lines(PlatformImpl& plat)
{
    std::string& inbuf = plat.inbuf;
    size_t start = 0;
    while (plat.connected) {
        size_t from = std::max(start, plat.scanned);
        const char* nl =
            static_cast<const char*>(std::memchr(inbuf.data() + from, '\n', inbuf.size() - from));
        if (!nl) break;
        size_t end = static_cast<size_t>(nl - inbuf.data());
        handle_line(plat, inbuf.data() + start, end - start);
        start = end + 1;
    }
    if (!plat.connected) { /* a line broke the protocol: the rest is not read */
        inbuf.clear();
        plat.scanned = 0;
        return;
    }
    if (inbuf.size() - start > kvl_max_line) {
        plat.drop("the server sent a line longer than " + std::to_string(kvl_max_line) + " bytes");
        inbuf.clear();
        plat.scanned = 0;
        return;
    }
    inbuf.erase(0, start);
    plat.scanned = inbuf.size(); /* a long reply arriving in pieces is not searched again */
}

/* A derivation's reply, read without a JSON document for its objects. */
bool take_member_reply(PlatformImpl& plat, const char* text, size_t n)
{
    KvlMemberReply reply;
    reply.wanted = [&plat](long id) {
        auto it = plat.pending.find(id);
        return it != plat.pending.end() && it->second.want_members && !it->second.done &&
               !plat.ignored.count(id);
    };
    if (!kvl_read_member_reply(text, n, reply)) return false;
    KvlReply& r = plat.pending[reply.id];
    if (r.paged) { /* one page of it: the reader's set is this page's alone */
        plat.page(reply.id, std::move(reply.rest),
                  std::make_shared<AlbumSnapshot>(std::move(reply.members)));
        return true;
    }
    r.done = true;
    r.ok = true;
    r.result = std::move(reply.rest);
    /* Grown by doubling while read; it is kept as long as the album. */
    reply.members.text.shrink_to_fit();
    reply.members.list.shrink_to_fit();
    r.members = std::make_shared<AlbumSnapshot>(std::move(reply.members));
    return true;
}

void handle_line(PlatformImpl& plat, const char* text, size_t n)
{
    if (n == 0) return;
    /* Before any other check: this reader does not recurse, and refuses
     * deep nesting itself. */
    if (take_member_reply(plat, text, n)) return;
    /* The parser recurses once per level: a line nested deep enough would
     * overflow the stack. */
    if (protocol::nested_deeper(text, n, kvl_max_depth)) {
        plat.drop("the server sent a line nested deeper than " + std::to_string(kvl_max_depth) +
                  " levels");
        return;
    }
    json msg = json::parse(text, text + n, nullptr, false);
    if (msg.is_discarded() || !msg.is_object()) return; /* not JSON: nothing to match it with */
    if (msg.contains("method")) {
        auto params = msg.find("params");
        if (params != msg.end() && params->is_object()) {
            auto event = params->find("event");
            if (event != params->end() && event->is_string() &&
                event->get_ref<const std::string&>().size() > kvl_max_event_name) {
                plat.drop("the server sent an event name longer than " +
                          std::to_string(kvl_max_event_name) + " bytes");
                return;
            }
        }
        plat.events.push_back(std::move(msg));
        return;
    }
    if (!msg.contains("id") || !msg["id"].is_number_integer()) {
        /* An error no request owns (for example "server full"): report it. */
        json err =
            msg.contains("error") && msg["error"].is_object() ? msg["error"] : json::object();
        if (err.contains("message") && err["message"].is_string()) {
            plat.unowned_error = cut_message(err["message"].get<std::string>());
            err["message"] = plat.unowned_error;
        }
        json note = {{"method", "kvlError"}, {"params", err}};
        plat.events.push_back(std::move(note));
        return;
    }
    long id = msg["id"].get<long>();
    if (msg.contains("result")) {
        plat.answer(id, std::move(msg["result"]));
        return;
    }
    const json& e = msg.contains("error") && msg["error"].is_object() ? msg["error"] : json::object();
    int code = e.contains("code") && e["code"].is_number_integer() ? e["code"].get<int>() : 0;
    std::string message = e.contains("message") && e["message"].is_string()
                              ? e["message"].get<std::string>()
                              : "the server reported an error without a message";
    plat.fail(id, kvl_error_type_for_code(code), message, code,
              e.contains("data") ? e["data"] : json());
}

} // namespace

int kvl_error_type_for_code(int code)
{
    switch (code) {
    case protocol::E_NO_OBJECT: return KVL_ERR_NO_OBJECT;
    case protocol::E_NO_ATTRIBUTE: return KVL_ERR_NO_ATTRIBUTE;
    case protocol::E_NO_CLASS: return KVL_ERR_NO_CLASS;
    case protocol::E_CLASS_CONFLICT: return KVL_ERR_CLASS_CONFLICT;
    case protocol::E_DUPLICATE: return KVL_ERR_DUPLICATE;
    case protocol::E_SYNTAX: return KVL_ERR_SYNTAX;
    case protocol::E_ACCESS: return KVL_ERR_ACCESS;
    case protocol::E_NAME_BINDING: return KVL_ERR_NAME_BINDING;
    case protocol::E_NO_ACTION: return KVL_ERR_NO_ACTION;
    case protocol::E_ACTION_FAILED: return KVL_ERR_ACTION_FAILED;
    case protocol::E_BAD_NAME: return KVL_ERR_BAD_NAME;
    case protocol::E_BAD_FILTER: return KVL_ERR_BAD_DERIVATION;
    case protocol::E_CHANGED: return KVL_ERR_CHANGED;
    default: return KVL_ERR_SERVER;
    }
}

std::unique_ptr<KvlTransport> kvl_jsonrpc_transport()
{
    return std::make_unique<JsonRpcTransport>();
}
