/*
 * album.cpp - Album (a derived set of images) and Syntax.
 */
#include "kvl/kvl_private.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace {

DataUnit unit(const std::string& s)
{
    return DataUnit(s.data(), s.size());
}

std::string str_field(const json& o, const char* key)
{
    if (o.is_object() && o.contains(key) && o[key].is_string()) return o[key].get<std::string>();
    return std::string();
}

bool need_impl(Album& album)
{
    if (album.impl_) return true;
    album.set_error(KVL_ERR_ARGUMENT,
                    "the album is empty: it was made without a nickname and platform");
    return false;
}

// A derivation string is <FDN>/* optionally followed by /CMISFilter(<filter>);
// the server checks the FDN and the filter, this catches what is plainly not
// a derivation string at all.
bool derivation_form_ok(const std::string& d, std::string& why)
{
    if (d.empty()) {
        why = "the derivation string is empty";
        return false;
    }
    if (d[0] != '/') {
        why = "a derivation string starts with '/' (the FDN of the base object)";
        return false;
    }
    static const std::string filter_head = "/CMISFilter(";
    for (size_t at = d.find("/*"); at != std::string::npos; at = d.find("/*", at + 1)) {
        std::string rest = d.substr(at + 2);
        if (rest.empty()) return true;
        if (rest.compare(0, filter_head.size(), filter_head) == 0 && rest.back() == ')' &&
            rest.size() > filter_head.size() + 1)
            return true;
    }
    why = "a derivation string is <FDN>/* or <FDN>/*/CMISFilter(<filter>)";
    return false;
}

} // namespace

/* ----------------------------------------------------------------- AlbumImpl */

AlbumImpl::~AlbumImpl()
{
    if (subscription && plat) {
        /* Unless another album holds the number now (a new connection). */
        auto it = plat->album_of_subscription.find(subscription);
        if (it != plat->album_of_subscription.end() && it->second.expired())
            plat->album_of_subscription.erase(it);
    }
    if (subscription && plat && plat->connected)
        plat->send("unsubscribe", json{{"subscription", subscription}}, nullptr, false);
}

bool AlbumImpl::holds(const std::string& name) const
{
    return (filling ? filling : members)->holds(name);
}

/* The snapshot to change: the current one when no iterator holds it, else
 * a copy that becomes current. */
static AlbumSnapshot& own_members(AlbumImpl& album)
{
    if (album.members.use_count() > 1)
        album.members = std::make_shared<AlbumSnapshot>(*album.members);
    return *album.members;
}

void AlbumImpl::add_member(const std::string& name, const std::string& cls)
{
    if (holds(name)) return;
    if (filling) {
        filling->add(name, cls);
        return;
    }
    AlbumSnapshot& m = own_members(*this);
    m.plat = plat;
    m.add(name, cls);
}

void AlbumImpl::remove_member(const std::string& name)
{
    if (!holds(name)) return;
    if (filling) {
        filling->remove(name);
        return;
    }
    own_members(*this).remove(name);
}

void AlbumImpl::take_subscription(long sub)
{
    long old = subscription;
    subscription = sub;
    if (old && old != sub) {
        plat->album_of_subscription.erase(old);
        plat->send("unsubscribe", json{{"subscription", old}}, nullptr, false);
    }
    if (sub) plat->album_of_subscription[sub] = shared_from_this();
}

/* ------------------------------------------------------------- AlbumSnapshot */

namespace {

/* Offsets in a snapshot are 32 bits: its text stays below this.  A derivation
 * reply is far smaller (a line is at most kvl_max_line); only a long stream
 * of creations could reach it, and those past it are not taken in. */
const size_t MAX_TEXT = 0xFFFFFFF0u;

size_t name_hash(const char* s, size_t n)
{
    return std::hash<std::string_view>()(std::string_view(s, n));
}

} // namespace

void AlbumSnapshot::clear()
{
    text.clear();
    list.clear();
    slots.clear();
    live = 0;
}

long AlbumSnapshot::find(const char* name, size_t n) const
{
    if (slots.empty()) return -1;
    size_t mask = slots.size() - 1;
    for (size_t at = name_hash(name, n) & mask;; at = (at + 1) & mask) {
        uint32_t s = slots[at];
        if (s == 0) return -1;
        const Member& m = list[s - 1];
        if (m.name_len == n && std::memcmp(text.data() + m.name, name, n) == 0) return s - 1;
    }
}

void AlbumSnapshot::insert_slot(uint32_t index)
{
    size_t mask = slots.size() - 1;
    const Member& m = list[index];
    size_t at = name_hash(text.data() + m.name, m.name_len) & mask;
    while (slots[at] != 0) at = (at + 1) & mask;
    slots[at] = index + 1;
}

bool AlbumSnapshot::append(size_t name_at, const char* cls, size_t cls_len)
{
    size_t name_len = text.size() - name_at;
    if (text.size() + cls_len + 2 > MAX_TEXT || list.size() >= MAX_TEXT / 2) {
        text.resize(name_at);
        return false;
    }
    text += '\0';
    Member m{};
    m.name = static_cast<uint32_t>(name_at);
    m.name_len = static_cast<uint32_t>(name_len);
    /* Children of one container mostly share a class: store it once per run. */
    const Member* last = list.empty() ? nullptr : &list.back();
    if (last && last->cls_len == cls_len &&
        std::memcmp(text.data() + last->cls, cls, cls_len) == 0) {
        m.cls = last->cls;
    } else {
        m.cls = static_cast<uint32_t>(text.size());
        text.append(cls, cls_len);
        text += '\0';
    }
    m.cls_len = static_cast<uint32_t>(cls_len);
    list.push_back(m);
    live++;
    return true;
}

void AlbumSnapshot::index_all()
{
    /* Between a quarter and half full, so that look-ups stay short. */
    size_t size = 16;
    while (size < 2 * live) size *= 2;
    slots.assign(size, 0);
    for (size_t i = 0; i < list.size(); i++) {
        Member& m = list[i];
        if (m.removed) continue;
        if (find(text.data() + m.name, m.name_len) >= 0) {
            m.removed = 1;
            live--;
        } else {
            insert_slot(static_cast<uint32_t>(i));
        }
    }
}

bool AlbumSnapshot::take_member(size_t name_at, const char* cls, size_t cls_len)
{
    if (find(text.data() + name_at, text.size() - name_at) >= 0 || !append(name_at, cls, cls_len)) {
        text.resize(name_at);
        return false;
    }
    if (2 * live > slots.size())
        index_all(); /* grown: every member goes in again */
    else
        insert_slot(static_cast<uint32_t>(list.size() - 1));
    return true;
}

bool AlbumSnapshot::add(const std::string& name, const std::string& cls)
{
    return add(name.data(), name.size(), cls.data(), cls.size());
}

bool AlbumSnapshot::add(const char* name, size_t name_len, const char* cls, size_t cls_len)
{
    size_t at = text.size();
    text.append(name, name_len);
    return take_member(at, cls, cls_len);
}

bool AlbumSnapshot::remove(const std::string& name)
{
    long index = find(name.data(), name.size());
    if (index < 0) return false;
    /* Takes the slot out and moves later ones of its run back, so that no
     * look-up stops early at the gap. */
    size_t mask = slots.size() - 1;
    size_t at = name_hash(name.data(), name.size()) & mask;
    while (slots[at] != static_cast<uint32_t>(index + 1)) at = (at + 1) & mask;
    for (size_t next = (at + 1) & mask; slots[next] != 0; next = (next + 1) & mask) {
        const Member& m = list[slots[next] - 1];
        size_t home = name_hash(text.data() + m.name, m.name_len) & mask;
        /* The entry at next may fill the gap when its home is not in (at, next]. */
        if (((next - home) & mask) >= ((next - at) & mask)) {
            slots[at] = slots[next];
            at = next;
        }
    }
    slots[at] = 0;
    list[static_cast<size_t>(index)].removed = 1;
    live--;
    removals++;
    if (list.size() > 64 && live < list.size() / 2) rebuild();
    return true;
}

void AlbumSnapshot::rebuild()
{
    AlbumSnapshot fresh;
    fresh.plat = plat;
    fresh.text.reserve(text.size());
    for (const Member& m : list)
        if (!m.removed) {
            size_t at = fresh.text.size();
            fresh.text.append(text, m.name, m.name_len);
            fresh.append(at, text.data() + m.cls, m.cls_len);
        }
    fresh.index_all();
    fresh.removals = removals;
    *this = std::move(fresh);
}

Image AlbumSnapshot::image(size_t i) const
{
    const Member& m = list[i];
    return kvl_make_member_image(plat, name_of(i), text.substr(m.cls, m.cls_len));
}

/* --------------------------------------------------------------------- Album */

Album::Album() {}

Album::Album(const DataUnit& nickname, Platform& platform)
{
    impl_ = std::make_shared<AlbumImpl>();
    impl_->plat = platform.impl_;
    impl_->nickname = nickname.str();
    impl_->members->plat = impl_->plat;
    if (kvl_check_connected(impl_->plat, *this)) {
        auto& list = impl_->plat->albums;
        list.erase(
            std::remove_if(list.begin(), list.end(),
                           [](const PlatformImpl::KnownAlbum& k) { return k.ref.expired(); }),
            list.end());
        list.push_back({impl_, impl_.get()});
    }
}

Album::Album(const Album& o) : Error(o), impl_(o.impl_) {}

Album& Album::operator=(const Album& o)
{
    Error::operator=(o);
    impl_ = o.impl_;
    return *this;
}

Album::~Album() {}

bool Album::set_derivation(const DataUnit& derivation)
{
    if (!need_impl(*this)) return false;
    std::string why;
    if (!derivation_form_ok(derivation.str(), why)) {
        set_error(
            KVL_ERR_BAD_DERIVATION,
            (std::string("derivation string '") + derivation.str() + "' refused: " + why).c_str());
        return false;
    }
    impl_->derivation = derivation.str();
    return true;
}

bool Album::set_prop(const DataUnit& name, const DataUnit& value)
{
    if (!need_impl(*this)) return false;
    if (name == TRACKMODE) {
        if (value == TRACK)
            impl_->track = true;
        else if (value == NOTRACK)
            impl_->track = false;
        else {
            set_error(KVL_ERR_ARGUMENT,
                      (std::string("TRACKMODE takes TRACK or NOTRACK, not '") + value.str() + "'")
                          .c_str());
            return false;
        }
        return true;
    }
    if (name == ACTUAL_CLASS) {
        if (value.is_empty()) {
            set_error(KVL_ERR_ARGUMENT, "ACTUAL_CLASS needs a class name");
            return false;
        }
        impl_->actual_class = value.str();
        return true;
    }
    set_error(KVL_ERR_ARGUMENT, (std::string("an album has no settable property '") + name.str() +
                                 "' (TRACKMODE, ACTUAL_CLASS)")
                                    .c_str());
    return false;
}

DataUnit Album::get_prop(const DataUnit& name)
{
    if (!impl_) return DataUnit();
    if (name == NICKNAME) return unit(impl_->nickname);
    if (name == TRACKMODE) return impl_->track ? TRACK : NOTRACK;
    if (name == ACTUAL_CLASS) return unit(impl_->actual_class);
    if (name == DERIVATION) return unit(impl_->derivation);
    set_error(KVL_ERR_ARGUMENT,
              (std::string("an album has no property '") + name.str() + "'").c_str());
    return DataUnit();
}

/* The request of a derivation: false (the album's error set) when it cannot
 * be asked for. */
static bool derive_params(Album& album, json& params)
{
    AlbumImpl* im = album.impl_.get();
    if (im->derivation.empty()) {
        album.set_error(KVL_ERR_BAD_DERIVATION,
                        "the album has no derivation string (set_derivation first)");
        return false;
    }
    if (!kvl_check_connected(im->plat, album)) return false;
    params = {{"derivation", im->derivation}};
    if (!im->actual_class.empty()) params["class"] = im->actual_class;
    if (im->track) params["subscribe"] = true;
    return true;
}

/* Takes the set of a derivation's reply into the album (keep, which the
 * handle album may no longer point at after the wait). */
static void derive_done(const std::shared_ptr<AlbumImpl>& keep, json& result,
                        std::shared_ptr<AlbumSnapshot> next)
{
    if (!next) { /* the reply came in a shape the direct reader leaves alone */
        next = std::make_shared<AlbumSnapshot>();
        if (result.contains("objects") && result["objects"].is_array())
            for (const json& o : result["objects"])
                next->add(str_field(o, "name"), str_field(o, "class"));
    }
    next->plat = keep->plat;
    keep->take_subscription(result.contains("subscription") &&
                                    result["subscription"].is_number_integer()
                                ? result["subscription"].get<long>()
                                : 0);
    keep->filling.reset();
    keep->members = next;
    keep->derived_seq = ++keep->plat->derive_seq;
}

long kvl_page_size()
{
    const char* env = std::getenv("QX_KVL_PAGE_SIZE");
    if (!env || !*env) return 0;
    char* end = nullptr;
    long n = std::strtol(env, &end, 10);
    return *end == '\0' && n >= 1 && n <= 10000 ? n : 0;
}

static long long_field(const json& j, const char* key)
{
    auto it = j.find(key);
    return it != j.end() && it->is_number_integer() ? it->get<long>() : 0;
}

/* Shows one page to the album's page callback; false when it stops. */
static bool show_page(AlbumImpl& album, const AlbumSnapshot& set, KvlPage& page)
{
    AlbumSnapshot& m = *page.members;
    /* An event may have deleted a member since its page came. */
    for (size_t i = 0; set.removals != page.removals && i < m.list.size(); i++)
        if (!m.list[i].removed && !set.holds(m.name_of(i))) {
            m.list[i].removed = 1;
            m.live--;
        }
    if (!album.page_proc) return true;
    AlbumPage p;
    p.first.snap_ = page.members;
    p.first.index_ = -1;
    p.first.next_image();
    p.of = long_field(page.rest, "of");
    p.done = !(page.rest.contains("done") && page.rest["done"] == false);
    /* Pages read in one go are shown one by one: each with the count it
     * brought the set to, the last with the set as it is now. */
    p.received =
        p.done ? static_cast<long>(set.live) : std::min(page.received, static_cast<long>(set.live));
    return album.page_proc(album.page_data, p);
}

bool Album::derive(double timeout)
{
    if (!need_impl(*this)) return false;
    json params;
    if (!derive_params(*this, params)) return false;
    std::shared_ptr<AlbumImpl> keep = impl_; /* a callback may drop our handle's album */
    std::shared_ptr<PlatformImpl> plat = keep->plat;
    params["paged"] = true;
    if (long size = kvl_page_size()) params["page_size"] = size;
    long id = plat->send("derive", params, this);
    if (!id) {
        plat->dispatch_events(); /* a write that found the connection gone queued DISCONNECTED */
        return false;
    }
    {
        KvlReply& pending = plat->pending[id];
        pending.want_members = true;
        pending.paged = true;
        pending.album = keep;
    }
    std::string what = "derive " + keep->derivation;
    for (;;) {
        KvlReply r = plat->wait(id, timeout, what, true);
        if (!r.ok) {
            keep->filling.reset();
            set_error(r.type, r.message.c_str(), r.code);
            return false;
        }
        std::shared_ptr<AlbumSnapshot> set = keep->filling;
        for (size_t i = 0; set && i < r.pages.size(); i++) {
            if (show_page(*keep, *set, r.pages[i])) continue;
            /* Stopped: the server sends no more, and the members of pages
             * not shown leave the set again. */
            if (!r.done) {
                plat->send("cancel", json{{"id", id}}, nullptr, false);
                plat->pending.erase(id);
                plat->ignored.insert(id);
            }
            for (size_t j = i + 1; j < r.pages.size(); j++) {
                const AlbumSnapshot& later = *r.pages[j].members;
                for (size_t k = 0; k < later.list.size(); k++)
                    if (!later.list[k].removed) set->remove(later.name_of(k));
            }
            keep->filling.reset();
            keep->members = set;
            keep->derived_seq = ++plat->derive_seq;
            set_error(
                KVL_ERR_STOPPED,
                ("stopped " + what + " after " + std::to_string(set->live) + " members").c_str());
            return false;
        }
        if (r.done) {
            derive_done(keep, r.result, set ? set : std::move(r.members));
            return true;
        }
    }
}

unsigned long album_removals(const Album& album)
{
    if (!album.impl_) return 0;
    const AlbumImpl& a = *album.impl_;
    return static_cast<unsigned long>((a.filling ? a.filling : a.members)->removals);
}

void set_page_callback(Album& album, AlbumPageProc proc, void* client_data)
{
    if (!need_impl(album)) return;
    album.impl_->page_proc = proc;
    album.impl_->page_data = client_data;
}

int Album::derive_all(Album* const* albums, size_t count, double timeout)
{
    struct Sent {
        Album* album;
        std::shared_ptr<AlbumImpl> keep;
        long id;
    };
    std::vector<Sent> sent;
    sent.reserve(count);
    for (size_t i = 0; i < count; i++) {
        Album& a = *albums[i];
        json params;
        if (!need_impl(a) || !derive_params(a, params)) continue;
        PlatformImpl& plat = *a.impl_->plat;
        long id = plat.send("derive", params, &a);
        if (!id) {
            plat.dispatch_events(); /* a write that found the connection gone */
            continue;
        }
        plat.pending[id].want_members = true;
        sent.push_back({&a, a.impl_, id});
    }
    /* One time-out for the lot: the replies come in the order of the
     * requests, so once the first is there the rest follow at once. */
    double secs = kvl_effective_timeout(timeout);
    auto start = std::chrono::steady_clock::now();
    int derived = 0;
    for (Sent& s : sent) {
        double spent =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        double left = std::max(secs - spent, 0.001);
        KvlReply r = s.keep->plat->wait(s.id, left, "derive " + s.keep->derivation);
        if (!r.ok) {
            s.album->set_error(r.type, r.message.c_str(), r.code);
            continue;
        }
        derive_done(s.keep, r.result, std::move(r.members));
        derived++;
    }
    return derived;
}

int Album::num_images() const
{
    return impl_ ? static_cast<int>(impl_->members->live) : 0;
}

DataUnit Album::member_class(const DataUnit& name) const
{
    if (!impl_ || name.is_empty()) return DataUnit();
    const AlbumSnapshot& m = impl_->filling ? *impl_->filling : *impl_->members;
    long i = m.find(name.str(), name.length());
    if (i < 0) return DataUnit();
    const AlbumSnapshot::Member& member = m.list[static_cast<size_t>(i)];
    return unit(m.text.substr(member.cls, member.cls_len));
}

AlbumImage Album::first_image() const
{
    AlbumImage it;
    if (!impl_) return it;
    it.snap_ = impl_->members;
    it.index_ = -1;
    it.next_image(); /* the first member not removed */
    return it;
}

bool Album::when(const DataUnit& event, const Callback& cb)
{
    if (!need_impl(*this)) return false;
    if (event != OBJECT_CREATED && event != OBJECT_DESTROYED) {
        set_error(KVL_ERR_ARGUMENT, (std::string("an album has no event '") + event.str() +
                                     "' (OBJECT_CREATED, OBJECT_DESTROYED)")
                                        .c_str());
        return false;
    }
    impl_->callbacks[event.str()] = cb;
    return true;
}

/* -------------------------------------------------------------------- Syntax */

Syntax::Syntax() {}

Syntax::Syntax(const DataUnit& name, Platform& platform) : name_(name), platform_(platform.impl_) {}

bool Syntax::fetch()
{
    if (is_expansion_) return true;
    if (fetched_) return entries_.count() > 0;
    fetched_ = true;
    if (name_.is_empty()) {
        set_error(KVL_ERR_ARGUMENT, "a syntax is looked up by attribute name, and none was given");
        return false;
    }
    if (!kvl_check_connected(platform_, *this)) return false;
    json result;
    if (!platform_->request("syntax", json{{"attribute", name_.str()}}, KVL_DEFAULT_TIMEOUT, *this,
                            std::string("syntax ") + name_.str(), &result))
        return false;
    entries_.resize(2);
    entries_[0] = unit(str_field(result, "name") + ": " + str_field(result, "description"));
    entries_[1] = unit(str_field(result, "rule"));
    std::vector<std::string> lines;
    if (result.contains("expansion") && result["expansion"].is_array())
        for (const json& l : result["expansion"])
            if (l.is_string()) lines.push_back(l.get<std::string>());
    std::string joined;
    for (size_t i = 0; i < lines.size(); i++) joined += (i ? "\n" : "") + lines[i];
    expansion_.resize(static_cast<int>(lines.size()) + 1);
    expansion_[0] = unit(joined);
    for (size_t i = 0; i < lines.size(); i++) expansion_[static_cast<int>(i) + 1] = unit(lines[i]);
    return true;
}

DataUnit Syntax::get(int index)
{
    fetch();
    return entries_.get(index);
}

int Syntax::count()
{
    fetch();
    return entries_.count();
}

Syntax Syntax::expansion()
{
    Syntax e;
    e.name_ = name_;
    e.platform_ = platform_;
    e.is_expansion_ = true;
    if (fetch())
        e.entries_ = expansion_;
    else
        e.set_error(get_error_type(), get_error_string(), get_server_code());
    return e;
}

/* -------------------------------------------------------------------- Search */

Search::Search(Platform& platform) : platform_(platform.impl_) {}

bool Search::run(const DataUnit& base, const DataUnit& filter, int depth, int limit, double timeout)
{
    return ask(base, filter, depth, limit, false, timeout);
}

bool Search::count_reachable(const DataUnit& base, const DataUnit& filter, double timeout)
{
    return ask(base, filter, -1, 0, true, timeout);
}

/* count_only: limit 0 asks the server for the count alone, and prune makes it
 * walk as level-by-level derivations do. */
bool Search::ask(const DataUnit& base, const DataUnit& filter, int depth, int limit,
                 bool count_only, double timeout)
{
    reset_error();
    names.resize(0);
    classes.resize(0);
    images.clear();
    count = 0;
    truncated = false;
    if (!kvl_check_connected(platform_, *this)) return false;
    json params = {{"base", base.str()}};
    if (!filter.is_empty()) params["filter"] = filter.str();
    if (depth >= 0) params["depth"] = depth;
    if (count_only) {
        params["limit"] = 0;
        params["prune"] = true;
    } else if (limit > 0) {
        params["limit"] = limit;
    }
    if (values && !count_only) params["values"] = true;
    if (values && secrets && !count_only) params["secrets"] = true;
    const bool handing = values && !count_only && each;
    json result;
    if (!platform_->request("search", params, timeout, *this,
                            std::string("search below ") + base.str(), &result, nullptr, &images,
                            handing ? &each : nullptr))
        return false;
    const json* objects =
        result.contains("objects") && result["objects"].is_array() ? &result["objects"] : nullptr;
    int n = objects ? static_cast<int>(objects->size()) : 0;
    if (!images.empty()) { /* the transport made them */
        n = static_cast<int>(images.size());
        names.resize(n);
        classes.resize(n);
        for (int i = 0; i < n; i++) {
            names[i] = images[i].get_objname();
            classes[i] = images[i].get_objclass();
        }
    } else {
        names.resize(n);
        classes.resize(n);
        for (int i = 0; i < n; i++) {
            names[i] = unit(str_field((*objects)[i], "name"));
            classes[i] = unit(str_field((*objects)[i], "class"));
        }
        if (handing) { /* an answer read whole: handed over from it */
            names.resize(0);
            classes.resize(0);
            for (int i = 0; i < n; i++) {
                Image image = kvl_make_booted_image(platform_, (*objects)[i]);
                if (!each(image)) {
                    set_error(KVL_ERR_ARGUMENT, "the search was stopped by its caller");
                    return false;
                }
            }
        } else if (values && !count_only) {
            images.reserve(n);
            for (int i = 0; i < n; i++)
                images.push_back(kvl_make_booted_image(platform_, (*objects)[i]));
        }
    }
    if (result.contains("count") && result["count"].is_number_integer())
        count = result["count"].get<long>();
    if (result.contains("truncated") && result["truncated"].is_boolean())
        truncated = result["truncated"].get<bool>();
    return true;
}
