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
#include "kvl/transport.h"

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
#include <strings.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

namespace {

/* Default time-out when QX_KVL_TIMEOUT does not set one. */
const double DEFAULT_TIMEOUT = 30.0;

double now_seconds()
{
    return kvl_now_seconds();
}

std::string format_seconds(double s)
{
    return kvl_format_seconds(s);
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

double kvl_now_seconds()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

std::string kvl_format_seconds(double s)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%g s", s);
    return buf;
}

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
    return DEFAULT_TIMEOUT;
}

double kvl_effective_timeout(double t)
{
    if (t == KVL_DEFAULT_TIMEOUT || !(t > 0)) return kvl_default_timeout();
    return t;
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

/* ---------------------------------------------------------------- Transports */

bool kvl_is_ldap_url(const std::string& host)
{
    static const char* const schemes[] = {"ldap://", "ldaps://", "ldapi://"};
    for (const char* scheme : schemes) {
        size_t n = std::strlen(scheme);
        if (host.size() >= n && strncasecmp(host.c_str(), scheme, n) == 0) return true;
    }
    return false;
}

std::unique_ptr<KvlTransport> kvl_transport_for(const std::string& host)
{
    return kvl_is_ldap_url(host) ? kvl_ldap_transport() : kvl_jsonrpc_transport();
}

/* -------------------------------------------------------------- PlatformImpl */

PlatformImpl::PlatformImpl() : transport(kvl_jsonrpc_transport()) {}

PlatformImpl::~PlatformImpl()
{
    close_quietly();
}

bool PlatformImpl::open(const std::string& host_arg, const std::string& app, double timeout,
                        Error& err)
{
    close_quietly();
    transport = kvl_transport_for(host_arg);
    std::shared_ptr<PlatformImpl> self = shared_from_this(); /* callbacks run during the greeting */
    if (!transport->open(*this, host_arg, app, timeout, err)) {
        close_quietly();
        return false;
    }
    greeted = true;
    return true;
}

void PlatformImpl::opened()
{
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
}

bool PlatformImpl::flush()
{
    return transport->flush(*this);
}

void PlatformImpl::read_input()
{
    if (fd >= 0) transport->read_input(*this);
}

long PlatformImpl::send(const char* method, const json& params, Error* err, bool want_reply)
{
    if (!connected) {
        if (err) kvl_check_connected(shared_from_this(), *err);
        return 0;
    }
    long id = next_id++;
    /* Listed first: a transport may answer at once. */
    if (want_reply)
        pending[id] = KvlReply();
    else
        ignored.insert(id);
    if (!transport->send(*this, id, method, params) || !connected) {
        pending.erase(id);
        ignored.erase(id);
        if (err) err->set_error(KVL_ERR_DISCONNECTED, lost_message().c_str());
        return 0;
    }
    return id;
}

void PlatformImpl::answer(long id, json result)
{
    if (ignored.erase(id)) return;
    auto it = pending.find(id);
    if (it == pending.end() || it->second.done) return;
    if (it->second.paged) {
        /* A page read the general way, or a transport's whole set (its
         * members, when it filled them itself) as one last page. */
        std::shared_ptr<AlbumSnapshot> got = std::move(it->second.members);
        if (!got) {
            got = std::make_shared<AlbumSnapshot>();
            auto objects = result.find("objects");
            if (objects != result.end() && objects->is_array())
                for (const json& o : *objects)
                    if (o.is_object())
                        got->add(o.value("name", std::string()), o.value("class", std::string()));
        }
        result.erase("objects");
        page(id, std::move(result), std::move(got));
        return;
    }
    it->second.done = true;
    it->second.ok = true;
    it->second.result = std::move(result);
}

void PlatformImpl::page(long id, json rest, std::shared_ptr<AlbumSnapshot> got)
{
    auto it = pending.find(id);
    if (it == pending.end() || it->second.done || !got) return;
    KvlReply& r = it->second;
    if (!r.members) {
        r.members = std::make_shared<AlbumSnapshot>();
        r.members->plat = shared_from_this();
    }
    /* From the first page on, the set's events change the set being filled:
     * they may come before the next page, and before the album's waiter
     * looks at this one. */
    if (r.pages_seen++ == 0)
        if (auto album = r.album.lock()) {
            album->take_subscription(rest.contains("subscription") &&
                                             rest["subscription"].is_number_integer()
                                         ? rest["subscription"].get<long>()
                                         : 0);
            album->filling = r.members;
            /* The most recent derivation: a creation report finds it. */
            album->derived_seq = ++derive_seq;
        }
    AlbumSnapshot& set = *r.members;
    for (size_t i = 0; i < got->list.size(); i++) {
        AlbumSnapshot::Member& m = got->list[i];
        if (m.removed) continue;
        if (!set.add(got->text.data() + m.name, m.name_len, got->text.data() + m.cls, m.cls_len)) {
            m.removed = 1; /* named before: not new to whoever sees the page */
            got->live--;
        }
    }
    got->plat = r.members->plat;
    bool done = !(rest.contains("done") && rest["done"] == false);
    if (done) {
        r.done = true;
        r.ok = true;
        r.result = rest;
    }
    long received = static_cast<long>(set.live);
    r.pages.push_back({std::move(rest), std::move(got), received, set.removals});
}

void PlatformImpl::fail(long id, int error_type, const std::string& message, int code, json data)
{
    if (ignored.erase(id)) return;
    auto it = pending.find(id);
    if (it == pending.end() || it->second.done) return;
    it->second.done = true;
    it->second.ok = false;
    it->second.type = error_type;
    it->second.code = code;
    it->second.message = cut_message(message);
    it->second.data = std::move(data);
}

void PlatformImpl::close_quietly()
{
    detach_input();
    if (transport) transport->close(*this); /* the socket is the transport's */
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

KvlReply PlatformImpl::wait(long id, double timeout, const std::string& what, bool wake_on_page)
{
    std::shared_ptr<PlatformImpl> self = shared_from_this();
    double secs = kvl_effective_timeout(timeout);
    auto done = [&]() {
        auto it = pending.find(id);
        return it == pending.end() || it->second.done ||
               (wake_on_page && !it->second.pages.empty());
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
    if (it != pending.end() && !it->second.done && wake_on_page && !it->second.pages.empty()) {
        r.ok = true; /* pages to hand on; the request stays pending */
        r.pages = std::move(it->second.pages);
        it->second.pages.clear();
        return r;
    }
    if (it != pending.end() && it->second.done) {
        r = std::move(it->second);
        pending.erase(it);
    } else {
        if (it != pending.end()) {
            pending.erase(it);
            ignored.insert(id); /* a late reply is dropped */
            transport->forget(*this, id);
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
                           std::shared_ptr<AlbumSnapshot>* members, std::vector<Image>* images,
                           const std::function<bool(Image&)>* each)
{
    long id = send(method, params, &err);
    if (!id) {
        dispatch_events(); /* a write that found the connection gone queued DISCONNECTED */
        return false;
    }
    if (members) pending[id].want_members = true;
    if (each) pending[id].each = *each;
    KvlReply r = wait(id, timeout, what);
    if (members) *members = std::move(r.members);
    if (images) *images = std::move(r.images);
    if (!r.ok) {
        err.set_error(r.type, r.message.c_str(), r.code);
        if (result) *result = std::move(r.data);
        return false;
    }
    if (result) *result = std::move(r.result);
    return true;
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
        /* DISCONNECTED says why: the library's own reason for dropping it,
         * else what the transport met (a close by the server, an error). */
        json note = {{"method", "kvlDisconnected"},
                     {"params", {{"reason", drop_reason.empty() ? why : drop_reason}}}};
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
                    if (!a->changed) {
                        a->value = unit(value);
                        kvl_take_bytes(*a, params);
                    }
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

DataUnit Platform::get_default_root() const
{
    return impl_ ? DataUnit(impl_->default_root.c_str()) : DataUnit();
}

DataUnit Platform::get_user() const
{
    return impl_ ? DataUnit(impl_->login_user.c_str()) : DataUnit();
}

DataUnit Platform::get_role() const
{
    return impl_ ? DataUnit(impl_->login_role.c_str()) : DataUnit();
}

DataUnit Platform::user_name(const DataUnit& fdn) const
{
    if (!impl_ || !impl_->transport || !fdn) return fdn;
    return DataUnit(impl_->transport->user_name(fdn.str()).c_str());
}

DataUnit Platform::to_fdn(const DataUnit& name) const
{
    if (!impl_ || !impl_->transport || !name) return DataUnit();
    return DataUnit(impl_->transport->to_fdn(name.str()).c_str());
}

/* ------------------------------------------------------ directory passwords */

void KvlSecret::assign(const char* text, size_t n)
{
    clear();
    buf_ = static_cast<char*>(std::malloc(n + 1));
    if (!buf_) return;
    if (n) std::memcpy(buf_, text, n);
    buf_[n] = '\0';
    len_ = n;
}

void KvlSecret::clear()
{
    if (buf_) {
        explicit_bzero(buf_, len_ + 1);
        std::free(buf_);
    }
    buf_ = nullptr;
    len_ = 0;
}

static KvlPasswordSource* password_source = nullptr;

void kvl_set_password_source(KvlPasswordSource* source)
{
    password_source = source;
}

KvlPasswordSource* kvl_password_source()
{
    return password_source;
}
