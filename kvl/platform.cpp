/*
 * platform.cpp - the connection: socket, framing, waits, notification
 * dispatch, and the Platform handle.
 *
 * Waits follow the rule written in kvl.h: with an application context the
 * socket is an Xt input and a wait runs XtAppProcessEvent until its reply,
 * its time-out (an Xt timer) or the loss of the connection; without one the
 * wait polls the socket itself.  Either way notifications that arrive during
 * a wait are dispatched during it.
 */
#include "kvl/kvl_private.h"

#include "kvl/cut_text.h"

#include <X11/Intrinsic.h>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

namespace {

/* Default time-out when QX_KVL_TIMEOUT does not set one. */
const double kDefaultTimeout = 30.0;

double now_seconds()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

std::string format_seconds(double s)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%g s", s);
    return buf;
}

void timeout_cb(XtPointer client, XtIntervalId*)
{
    *static_cast<bool*>(client) = true;
}

/* Runs notifications that were queued where no callback may run (a failed
 * write from a destructor), from the Xt loop. */
void deferred_dispatch_cb(XtPointer client, XtIntervalId*)
{
    auto* weak = static_cast<std::weak_ptr<PlatformImpl>*>(client);
    if (auto p = weak->lock()) p->dispatch_events();
    delete weak;
}

void input_cb(XtPointer client, int*, XtInputId*)
{
    PlatformImpl* raw = static_cast<PlatformImpl*>(client);
    std::shared_ptr<PlatformImpl> self = raw->shared_from_this(); /* alive while we work */
    self->read_input();
    self->dispatch_events();
}

/* The socket takes output again. */
void output_cb(XtPointer client, int*, XtInputId*)
{
    PlatformImpl* raw = static_cast<PlatformImpl*>(client);
    std::shared_ptr<PlatformImpl> self = raw->shared_from_this();
    self->flush();
    self->dispatch_events(); /* a write that found the connection gone queued DISCONNECTED */
}

/* A server's message, cut to kvl_max_message bytes at a character boundary. */
std::string cut_message(std::string text)
{
    return kvl_cut_text(std::move(text), kvl_max_message);
}

} // namespace

/* -------------------------------------------------------------- SchedContext */

SchedContext* SchedContext::current()
{
    static SchedContext context;
    return &context;
}

std::vector<std::weak_ptr<PlatformImpl>>& kvl_platforms()
{
    static std::vector<std::weak_ptr<PlatformImpl>> list;
    return list;
}

void set_app_context(XtAppContext app)
{
    SchedContext::current()->set_app_context(app);
    for (auto& w : kvl_platforms()) {
        if (auto p = w.lock()) {
            p->detach_input();
            p->attach_input();
        }
    }
}

double kvl_default_timeout()
{
    const char* env = std::getenv("QX_KVL_TIMEOUT");
    if (env && *env) {
        char* end = nullptr;
        double v = std::strtod(env, &end);
        if (end != env && v > 0 && std::isfinite(v)) return v;
    }
    return kDefaultTimeout;
}

double kvl_effective_timeout(double t)
{
    if (t == KVL_DEFAULT_TIMEOUT || !(t > 0)) return kvl_default_timeout();
    return t;
}

bool kvl_nesting_deeper_than(const char* text, size_t n, int limit)
{
    int depth = 0;
    bool in_string = false;
    for (size_t i = 0; i < n; i++) {
        char c = text[i];
        if (in_string) {
            if (c == '\\')
                i++; /* the escaped character cannot end the string */
            else if (c == '"')
                in_string = false;
        } else if (c == '"') {
            in_string = true;
        } else if (c == '[' || c == '{') {
            if (++depth > limit) return true;
        } else if (c == ']' || c == '}') {
            depth--;
        }
    }
    return false;
}

bool kvl_check_connected(const std::shared_ptr<PlatformImpl>& plat, Error& err)
{
    if (plat && plat->connected) return true;
    if (plat && !plat->host_port.empty())
        err.set_error(
            KVL_ERR_NOT_CONNECTED,
            ("not connected: the connection to " + plat->host_port + " was closed").c_str());
    else
        err.set_error(KVL_ERR_NOT_CONNECTED,
                      "not connected to a management server (Platform::connect has not succeeded)");
    return false;
}

/* -------------------------------------------------------------- PlatformImpl */

PlatformImpl::~PlatformImpl()
{
    close_quietly();
}

static bool split_host(const std::string& arg, std::string& host, std::string& port)
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
static int connect_address(const struct addrinfo* ai, double deadline, int& err)
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
        double left = deadline - now_seconds();
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

bool PlatformImpl::open(const std::string& host_arg, const std::string& app, double timeout,
                        Error& err)
{
    close_quietly();
    std::string port;
    if (!split_host(host_arg, host, port)) {
        err.set_error(KVL_ERR_ARGUMENT,
                      ("cannot connect: '" + host_arg +
                       "' is not a host, host:port, or QX_MIS_PORT is not a port number")
                          .c_str());
        return false;
    }
    host_port = host + ":" + port;
    double secs = kvl_effective_timeout(timeout);
    double deadline = now_seconds() + secs;

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
    connected = true;
    inbuf.clear();
    scanned = 0;
    outbuf.clear();
    out_off = 0;
    out_queued = out_written = 0;
    drop_reason.clear();
    unowned_error.clear();
    bool listed = false;
    for (auto& w : kvl_platforms())
        if (w.lock().get() == this) listed = true;
    if (!listed) kvl_platforms().push_back(shared_from_this());
    attach_input();

    json params = {{"client", app.empty() ? std::string("kvl") : app}, {"host", host}};
    Error send_err;
    long id = send("hello", params, &send_err);
    if (!id) {
        close_quietly();
        err.set_error(KVL_ERR_CONNECT,
                      ("cannot connect to " + host_port + ": the server closed the connection" +
                       (unowned_error.empty() ? std::string() : " (" + unowned_error + ")"))
                          .c_str());
        return false;
    }
    double left = deadline - now_seconds();
    KvlReply r = wait(id, left > 0.001 ? left : 0.001, "the greeting (hello)");
    if (!r.ok) {
        std::string msg = r.message;
        if (r.type == KVL_ERR_TIMEOUT)
            msg = "cannot connect to " + host_port + ": no greeting from the server within " +
                  format_seconds(secs) + " (is it a qx_mis server?)";
        else if (r.type == KVL_ERR_DISCONNECTED)
            msg = "cannot connect to " + host_port + ": the server closed the connection" +
                  (unowned_error.empty() ? std::string(" at once") : " (" + unowned_error + ")");
        close_quietly();
        err.set_error(KVL_ERR_CONNECT, msg.c_str(), r.code);
        return false;
    }
    greeted = true;
    if (r.result.is_object() && r.result.contains("mdr") && r.result["mdr"].is_string())
        mdr = r.result["mdr"].get<std::string>();
    return true;
}

void PlatformImpl::close_quietly()
{
    detach_input();
    if (fd >= 0) ::close(fd);
    fd = -1;
    outbuf.clear();
    out_off = 0;
    connected = false;
    greeted = false;
    ignored.clear();
    watch_count.clear(); /* watches end with the connection */
    for (auto& p : pending) {
        if (!p.second.done) {
            p.second.done = true;
            p.second.ok = false;
            p.second.type = KVL_ERR_NOT_CONNECTED;
            p.second.message = "the connection to " + host_port + " was closed";
        }
    }
}

void PlatformImpl::attach_input()
{
    XtAppContext app = SchedContext::current()->app_context();
    if (!app || fd < 0 || input_id) return;
    input_id = XtAppAddInput(app, fd, reinterpret_cast<XtPointer>(XtInputReadMask), input_cb,
                             static_cast<XtPointer>(this));
    input_app = app;
    watch_output();
}

void PlatformImpl::detach_input()
{
    if (input_id) XtRemoveInput(input_id);
    if (output_id) XtRemoveInput(output_id);
    input_id = output_id = 0;
    input_app = nullptr;
}

void PlatformImpl::watch_output()
{
    bool waiting = fd >= 0 && out_off < outbuf.size();
    if (waiting && !output_id && input_app)
        output_id = XtAppAddInput(input_app, fd, reinterpret_cast<XtPointer>(XtInputWriteMask),
                                  output_cb, static_cast<XtPointer>(this));
    else if (!waiting && output_id) {
        XtRemoveInput(output_id);
        output_id = 0;
    }
}

bool PlatformImpl::flush()
{
    while (connected && out_off < outbuf.size()) {
        /* MSG_NOSIGNAL: a server that went away must not kill us with SIGPIPE. */
        ssize_t n = ::send(fd, outbuf.data() + out_off, outbuf.size() - out_off, MSG_NOSIGNAL);
        if (n > 0) {
            out_off += static_cast<size_t>(n);
            out_written += static_cast<uint64_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
        int write_errno = errno;
        read_input(); /* keep what the server said before it closed */
        lost(std::string("write failed: ") + std::strerror(write_errno));
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
    watch_output();
    return true;
}

long PlatformImpl::send(const char* method, const json& params, Error* err, bool want_reply)
{
    if (!connected) {
        if (err) kvl_check_connected(shared_from_this(), *err);
        return 0;
    }
    long id = next_id++;
    json req = {{"jsonrpc", "2.0"}, {"id", id}, {"method", method}, {"params", params}};
    std::string line = req.dump(-1, ' ', false, json::error_handler_t::replace);
    line += '\n';
    if (outbuf.size() - out_off + line.size() > kvl_max_unsent)
        drop("the server has left " + std::to_string(outbuf.size() - out_off) +
             " bytes of requests unread");
    else {
        outbuf += line;
        out_queued += line.size();
        flush();
    }
    if (!connected) {
        if (err) err->set_error(KVL_ERR_DISCONNECTED, lost_message().c_str());
        return 0;
    }
    if (want_reply) {
        KvlReply& r = pending[id];
        r = KvlReply();
        r.out_end = out_queued;
    } else {
        ignored.insert(id);
    }
    return id;
}

KvlReply PlatformImpl::wait(long id, double timeout, const std::string& what)
{
    std::shared_ptr<PlatformImpl> self = shared_from_this();
    double secs = kvl_effective_timeout(timeout);
    auto done = [&]() {
        auto it = pending.find(id);
        return it == pending.end() || it->second.done;
    };
    XtAppContext app = SchedContext::current()->app_context();
    bool expired = false;
    if (app && input_id) {
        unsigned long ms = static_cast<unsigned long>(std::ceil(secs * 1000));
        XtIntervalId timer = XtAppAddTimeOut(app, ms, timeout_cb, &expired);
        while (!done() && !expired) XtAppProcessEvent(app, XtIMAll);
        if (!expired) XtRemoveTimeOut(timer);
    } else {
        double deadline = now_seconds() + secs;
        while (!done()) {
            double left = deadline - now_seconds();
            if (left <= 0) {
                expired = true;
                break;
            }
            short want = POLLIN | (out_off < outbuf.size() ? POLLOUT : 0);
            struct pollfd pfd = {fd, want, 0};
            int n = poll(&pfd, 1, static_cast<int>(std::ceil(left * 1000)));
            if (n > 0 && (pfd.revents & POLLOUT)) flush();
            if (n > 0 && (pfd.revents & ~POLLOUT)) read_input();
            if (n > 0) dispatch_events();
        }
    }
    /* A server that has not even taken the request in all that time has
     * stopped reading: waiting for it again would only freeze its client. */
    auto mine = pending.find(id);
    if (expired && connected && mine != pending.end() && !mine->second.done &&
        out_written < mine->second.out_end)
        drop("the server took none of the request for " + what + " within " + format_seconds(secs));
    KvlReply r;
    auto it = pending.find(id);
    if (it != pending.end() && it->second.done) {
        r = std::move(it->second);
        pending.erase(it);
    } else {
        if (it != pending.end()) {
            pending.erase(it);
            ignored.insert(id); /* a late reply is dropped */
        }
        r.done = true;
        r.ok = false;
        r.type = KVL_ERR_TIMEOUT;
        r.message = "no answer from " + host_port + " to " + what + " within " +
                    format_seconds(secs) + " (time-out; QX_KVL_TIMEOUT sets the default)";
    }
    return r;
}

bool PlatformImpl::request(const char* method, const json& params, double timeout, Error& err,
                           const std::string& what, json* result,
                           std::shared_ptr<AlbumSnapshot>* members)
{
    long id = send(method, params, &err);
    if (!id) {
        dispatch_events(); /* a write that found the connection gone queued DISCONNECTED */
        return false;
    }
    if (members) pending[id].want_members = true;
    KvlReply r = wait(id, timeout, what);
    if (members) *members = std::move(r.members);
    if (!r.ok) {
        err.set_error(r.type, r.message.c_str(), r.code);
        return false;
    }
    if (result) *result = std::move(r.result);
    return true;
}

void PlatformImpl::read_input()
{
    if (fd < 0) return;
    char buf[kvl_read_chunk];
    /* A server that sends without pause must not keep the loop here: what
     * is left is read at the socket's next turn. */
    for (int chunks = 0; chunks < 64 && connected; chunks++) {
        ssize_t n = ::read(fd, buf, sizeof buf);
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
            take_lines();
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
        int read_errno = errno;
        take_lines(); /* the whole lines that came before the end */
        inbuf.clear();
        scanned = 0;
        lost(n == 0 ? "closed by the server" : std::strerror(read_errno));
        return;
    }
}

void PlatformImpl::take_lines()
{
    size_t start = 0;
    while (connected) {
        size_t from = std::max(start, scanned);
        const char* nl =
            static_cast<const char*>(std::memchr(inbuf.data() + from, '\n', inbuf.size() - from));
        if (!nl) break;
        size_t end = static_cast<size_t>(nl - inbuf.data());
        handle_line(inbuf.data() + start, end - start);
        start = end + 1;
    }
    if (!connected) { /* a line broke the protocol: the rest is not read */
        inbuf.clear();
        scanned = 0;
        return;
    }
    if (inbuf.size() - start > kvl_max_line) {
        drop("the server sent a line longer than " + std::to_string(kvl_max_line) + " bytes");
        inbuf.clear();
        scanned = 0;
        return;
    }
    inbuf.erase(0, start);
    scanned = inbuf.size(); /* a long reply arriving in pieces is not searched again */
}

/* A derivation's reply, read without a JSON document for its objects. */
bool PlatformImpl::take_member_reply(const char* text, size_t n)
{
    KvlMemberReply reply;
    reply.wanted = [this](long id) {
        auto it = pending.find(id);
        return it != pending.end() && it->second.want_members && !it->second.done &&
               !ignored.count(id);
    };
    if (!kvl_read_member_reply(text, n, reply)) return false;
    KvlReply& r = pending[reply.id];
    r.done = true;
    r.ok = true;
    r.result = std::move(reply.rest);
    /* Grown by doubling while read; it is kept as long as the album. */
    reply.members.text.shrink_to_fit();
    reply.members.list.shrink_to_fit();
    r.members = std::make_shared<AlbumSnapshot>(std::move(reply.members));
    return true;
}

void PlatformImpl::handle_line(const char* text, size_t n)
{
    if (n == 0) return;
    /* Before any other check: this reader does not recurse, and refuses
     * deep nesting itself. */
    if (take_member_reply(text, n)) return;
    /* The parser recurses once per level: a line nested deep enough would
     * overflow the stack. */
    if (kvl_nesting_deeper_than(text, n, kvl_max_depth)) {
        drop("the server sent a line nested deeper than " + std::to_string(kvl_max_depth) +
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
                drop("the server sent an event name longer than " +
                     std::to_string(kvl_max_event_name) + " bytes");
                return;
            }
        }
        events.push_back(std::move(msg));
        return;
    }
    if (!msg.contains("id") || !msg["id"].is_number_integer()) {
        /* An error no request owns (for example "server full"): report it. */
        json err =
            msg.contains("error") && msg["error"].is_object() ? msg["error"] : json::object();
        if (err.contains("message") && err["message"].is_string()) {
            unowned_error = cut_message(err["message"].get<std::string>());
            err["message"] = unowned_error;
        }
        json note = {{"method", "kvlError"}, {"params", err}};
        events.push_back(std::move(note));
        return;
    }
    long id = msg["id"].get<long>();
    if (ignored.erase(id)) return;
    auto it = pending.find(id);
    if (it == pending.end()) return;
    KvlReply& r = it->second;
    r.done = true;
    if (msg.contains("result")) {
        r.ok = true;
        r.result = std::move(msg["result"]);
    } else {
        r.ok = false;
        const json& e =
            msg.contains("error") && msg["error"].is_object() ? msg["error"] : json::object();
        r.code = e.contains("code") && e["code"].is_number_integer() ? e["code"].get<int>() : 0;
        r.message = e.contains("message") && e["message"].is_string()
                        ? cut_message(e["message"].get<std::string>())
                        : "the server reported an error without a message";
        r.type = kvl_error_type_for_code(r.code);
    }
}

std::string PlatformImpl::lost_message() const
{
    std::string text = "connection to " + host_port + " lost";
    return drop_reason.empty() ? text : text + ": " + drop_reason;
}

void PlatformImpl::drop(const std::string& why)
{
    if (!connected) return;
    drop_reason = why;
    lost(why);
}

void PlatformImpl::lost(const std::string& why)
{
    if (!connected) return;
    (void)why;
    bool was_greeted = greeted;
    /* A reply that came before the loss keeps its answer. */
    std::vector<long> unanswered;
    for (auto& p : pending)
        if (!p.second.done) unanswered.push_back(p.first);
    close_quietly();
    for (long id : unanswered) {
        KvlReply& r = pending[id];
        r.type = KVL_ERR_DISCONNECTED;
        r.message = lost_message();
    }
    if (was_greeted) { /* a connection that never stood is not "lost" */
        json note = {{"method", "kvlDisconnected"}, {"params", {{"reason", drop_reason}}}};
        events.push_back(std::move(note));
        /* Reads dispatch right after this; a failed write may not be able to,
         * so the Xt loop gets a turn to do it. */
        if (XtAppContext app = SchedContext::current()->app_context())
            XtAppAddTimeOut(app, 0, deferred_dispatch_cb,
                            new std::weak_ptr<PlatformImpl>(shared_from_this()));
    }
}

static std::string str_field(const json& o, const char* key)
{
    if (o.is_object() && o.contains(key) && o[key].is_string()) return o[key].get<std::string>();
    return std::string();
}

static DataUnit unit(const std::string& s)
{
    return DataUnit(s.data(), s.size());
}

void PlatformImpl::dispatch_events()
{
    std::shared_ptr<PlatformImpl> self = shared_from_this();
    while (!events.empty()) {
        json note = std::move(events.front());
        events.pop_front();
        dispatch_one(note);
    }
}

void PlatformImpl::run_platform_callback(const DataUnit& event, KvlEvent* ev)
{
    auto it = callbacks.find(event.str());
    if (it == callbacks.end()) return;
    Callback cb = it->second; /* the callback may replace itself */
    cb.invoke(ev);
}

void PlatformImpl::dispatch_one(const json& note)
{
    std::string method = str_field(note, "method");
    json params = note.contains("params") ? note["params"] : json::object();
    KvlEvent* ev = kvl_event_new();

    if (method == "kvlDisconnected") {
        ev->name = DISCONNECTED;
        ev->objname = unit(host_port);
        ev->value = unit(str_field(params, "reason"));
        run_platform_callback(DISCONNECTED, ev);
    } else if (method == "kvlError") {
        ev->name = KVL_ERROR;
        ev->value = unit(str_field(params, "message"));
        run_platform_callback(KVL_ERROR, ev);
    } else if (method == "rawEvent") {
        ev->name = unit(str_field(params, "event"));
        ev->objname = unit(str_field(params, "name"));
        run_platform_callback(RAW_EVENT, ev);
    } else if (method == "event") {
        std::string kind = str_field(params, "event");
        std::string objname = str_field(params, "name");
        ev->name = unit(kind);
        ev->objname = unit(objname);
        ev->objclass = unit(str_field(params, "class"));
        if (kind == "OBJECT_CREATED" || kind == "OBJECT_DESTROYED") {
            long sub = params.contains("subscription") && params["subscription"].is_number_integer()
                           ? params["subscription"].get<long>()
                           : 0;
            ev->subscription = sub;
            if (auto album = album_for_subscription(sub)) {
                bool created = kind == "OBJECT_CREATED";
                if (created)
                    album->add_member(objname, str_field(params, "class"));
                else
                    album->remove_member(objname);
                auto it = album->callbacks.find(kind);
                if (it != album->callbacks.end()) {
                    Callback cb = it->second;
                    cb.invoke(ev);
                }
            }
        } else if (kind == "ATTR_CHANGED") {
            std::string attr = str_field(params, "attribute");
            std::string value = str_field(params, "value");
            ev->attribute = unit(attr);
            ev->value = unit(value);
            /* A tracked image's callback is told which attribute changed by
             * the event's name: the attribute's display name. */
            size_t colon = attr.rfind(':');
            ev->name = unit(colon == std::string::npos ? attr : attr.substr(colon + 1));
            std::vector<std::shared_ptr<ImageImpl>> targets;
            for (auto& w : tracked)
                if (auto img = w.lock())
                    if (img->tracked && img->name == objname) targets.push_back(img);
            for (auto& img : targets) {
                if (AttrValue* a = img->find(attr))
                    if (!a->changed) a->value = unit(value);
                auto it = img->callbacks.find("ATTR_CHANGED");
                if (it != img->callbacks.end()) {
                    Callback cb = it->second;
                    cb.invoke(ev);
                }
            }
        }
    }
    kvl_event_unref(ev);
}

std::shared_ptr<AlbumImpl> PlatformImpl::album_for_subscription(long sub)
{
    if (sub == 0) return nullptr;
    auto it = album_of_subscription.find(sub);
    if (it == album_of_subscription.end()) return nullptr;
    auto a = it->second.lock();
    if (a && a->subscription == sub) return a;
    album_of_subscription.erase(it);
    return nullptr;
}

void PlatformImpl::watch(const std::string& canonical)
{
    if (watch_count[canonical]++ == 0) send("watch", json{{"name", canonical}}, nullptr, false);
}

void PlatformImpl::unwatch(const std::string& canonical)
{
    auto it = watch_count.find(canonical);
    if (it == watch_count.end()) return;
    if (--it->second > 0) return;
    watch_count.erase(it);
    send("unwatch", json{{"name", canonical}}, nullptr, false);
}

int kvl_poll(double seconds)
{
    int dispatched = 0;
    double deadline = now_seconds() + (seconds > 0 ? seconds : 0);
    for (;;) {
        std::vector<std::shared_ptr<PlatformImpl>> live;
        std::vector<struct pollfd> fds;
        for (auto& w : kvl_platforms()) {
            if (auto p = w.lock()) {
                dispatched += static_cast<int>(p->events.size());
                p->dispatch_events();
                if (p->fd >= 0) {
                    live.push_back(p);
                    short want = POLLIN | (p->out_off < p->outbuf.size() ? POLLOUT : 0);
                    fds.push_back({p->fd, want, 0});
                }
            }
        }
        double left = deadline - now_seconds();
        if (fds.empty()) return dispatched;
        int n =
            poll(fds.data(), fds.size(), left > 0 ? static_cast<int>(std::ceil(left * 1000)) : 0);
        if (n > 0) {
            for (size_t i = 0; i < live.size(); i++) {
                if (fds[i].revents & POLLOUT) live[i]->flush();
                if (fds[i].revents & ~POLLOUT) {
                    live[i]->read_input();
                    dispatched += static_cast<int>(live[i]->events.size());
                    live[i]->dispatch_events();
                }
            }
        }
        if (now_seconds() >= deadline) return dispatched;
    }
}

/* ------------------------------------------------------------------ Platform */

Platform Platform::def_platform;

Platform::Platform() : impl_(std::make_shared<PlatformImpl>()) {}

Platform::Platform(const DataUnit& type, const DataUnit& name)
    : impl_(std::make_shared<PlatformImpl>())
{
    impl_->type = type.str();
    impl_->name = name.str();
}

Platform::Platform(const Platform& o) : Error(o), impl_(o.impl_) {}

Platform& Platform::operator=(const Platform& o)
{
    Error::operator=(o);
    impl_ = o.impl_;
    return *this;
}

Platform::~Platform() {}

bool Platform::connect(const DataUnit& host, const DataUnit& app_name, double timeout)
{
    reset_error();
    if (!impl_) impl_ = std::make_shared<PlatformImpl>();
    std::shared_ptr<PlatformImpl> keep = impl_; /* callbacks run during the greeting */
    if (!keep->open(host.str(), app_name.str(), timeout, *this)) return false;
    if (this != &def_platform) def_platform.impl_ = keep;
    return true;
}

void Platform::disconnect()
{
    if (!impl_) return;
    impl_->flush(); /* what the socket takes now still goes out; nothing waits */
    impl_->close_quietly();
}

bool Platform::is_connected() const
{
    return impl_ && impl_->connected;
}

bool Platform::when(const DataUnit& event, const Callback& cb)
{
    if (event != RAW_EVENT && event != DISCONNECTED && event != KVL_ERROR) {
        set_error(KVL_ERR_ARGUMENT, (std::string("a platform has no event '") + event.str() +
                                     "' (RAW_EVENT, DISCONNECTED or KVL_ERROR)")
                                        .c_str());
        return false;
    }
    if (!impl_) impl_ = std::make_shared<PlatformImpl>();
    impl_->callbacks[event.str()] = cb;
    return true;
}

DataUnit Platform::get_type() const
{
    return impl_ ? DataUnit(impl_->type.c_str()) : DataUnit();
}
DataUnit Platform::get_name() const
{
    return impl_ ? DataUnit(impl_->name.c_str()) : DataUnit();
}
DataUnit Platform::get_host() const
{
    return impl_ ? DataUnit(impl_->host_port.c_str()) : DataUnit();
}
DataUnit Platform::get_mdr_name() const
{
    return impl_ ? DataUnit(impl_->mdr.c_str()) : DataUnit();
}
