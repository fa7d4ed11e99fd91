/*
 * ldif_transfer.cpp - File > Export... and File > Import...: subtrees out to
 * LDIF files and LDIF files into the server, through KVL's generic reads
 * (images, derivations) and writes (create, set, delete) only, so the same
 * code serves qx_mis and directories.
 *
 * Names in the files are DNs: a directory's own, or for qx_mis the FDN with
 * its RDNs reversed (core/ldif.h).  Attributes are written by display name
 * (the part after the last colon), which KVL takes wherever it takes a full
 * name; empty values are left out.  A directory hands several values of one
 * attribute over one per line: each becomes a value line of its own, and
 * they are joined the same way when read back.
 *
 * Both runs wait for the server between records with the Xt loop running.
 * They hold no DataObject across a wait, only names copied before, and one
 * run at a time: a second Export or Import while one runs is refused.
 */
#include <Xm/Xm.h>
#include <X11/keysym.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <strings.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "core/globals.h"
#include "core/ldif.h"
#include "core/name_set.h"
#include "kvl/image_batch.h"
#include "tree/tree_api.h"
#include "ui/busy_cursor.h"
#include "ui/dialogs.h"
#include "ui/file_dialog.h"
#include "ui/main_win.h"

namespace {

bool running = false; /* an export or an import is under way */

struct RunGuard {
    RunGuard() { running = true; }
    ~RunGuard() { running = false; }
};

/* printf into a std::string: the texts carry names of any length. */
[[gnu::format(printf, 1, 2)]] std::string text(const char* format, ...)
{
    va_list ap, again;
    va_start(ap, format);
    va_copy(again, ap);
    int n = vsnprintf(nullptr, 0, format, ap);
    va_end(ap);
    std::string out(n > 0 ? (size_t)n : 0, '\0');
    if (n > 0) vsnprintf(&out[0], out.size() + 1, format, again);
    va_end(again);
    return out;
}

/*
 * Escape, pressed anywhere in the editor while a run goes on, stops it: from
 * construction to destruction the key's presses are taken before they reach
 * any widget.  The run looks at stopped() between records; the request under
 * way when the key comes is finished first.  A press not yet dispatched counts
 * too (looked for a few times a second): records written from memory leave
 * the event loop no turn.
 */
class EscapeWatch {
public:
    explicit EscapeWatch(Widget w) : display_(XtDisplay(w))
    {
        hit_ = false;
        previous_ = XtSetEventDispatcher(display_, KeyPress, dispatch);
    }
    ~EscapeWatch() { XtSetEventDispatcher(display_, KeyPress, previous_); }
    EscapeWatch(const EscapeWatch&) = delete;
    EscapeWatch& operator=(const EscapeWatch&) = delete;

    bool stopped()
    {
        auto now = std::chrono::steady_clock::now();
        if (hit_ || now - looked_ < std::chrono::milliseconds(50)) return hit_;
        looked_ = now;
        XEvent event;
        if (XCheckIfEvent(display_, &event, is_escape, nullptr)) hit_ = true;
        return hit_;
    }

private:
    static Bool is_escape(Display*, XEvent* event, XPointer)
    {
        return event->type == KeyPress && XLookupKeysym(&event->xkey, 0) == XK_Escape;
    }

    static Boolean dispatch(XEvent* event)
    {
        if (is_escape(nullptr, event, nullptr)) {
            hit_ = true;
            return True;
        }
        return previous_ ? previous_(event) : XtDispatchEvent(event);
    }

    Display* display_;
    std::chrono::steady_clock::time_point looked_{}; /* the queue last looked at */
    static XtEventDispatchProc previous_;
    static bool hit_;
};

XtEventDispatchProc EscapeWatch::previous_ = nullptr;
bool EscapeWatch::hit_ = false;

/* "1 entry", "5 entries": the counts of the texts below. */
std::string entries(long n)
{
    return n == 1 ? text(qx_msg(900, "%ld entry"), n) : text(qx_msg(901, "%ld entries"), n);
}

std::string records(long n)
{
    return n == 1 ? text(qx_msg(902, "%ld record"), n) : text(qx_msg(903, "%ld records"), n);
}

/* The progress line, written a few times a second; it goes to the status line
 * only, not to the event log, which keeps the outcome. */
class Progress {
public:
    /* A line shown now would not be dropped: worth writing it. */
    bool due() const { return std::chrono::steady_clock::now() - last_ >= kEvery; }
    void show(const std::string& line, bool now = false)
    {
        auto t = std::chrono::steady_clock::now();
        if (!now && t - last_ < kEvery) return;
        last_ = t;
        if (!main_window) return;
        global.update_label(main_window->mw_message_label, line.c_str());
        XmUpdateDisplay(main_window->shell());
    }

private:
    static constexpr std::chrono::milliseconds kEvery{250};
    std::chrono::steady_clock::time_point last_{};
};

/* How the connected server's names are written in LDIF. */
struct Names {
    /* The server writes its names as DNs (a directory); else they are FDNs,
     * whose RDNs are reversed. */
    bool dns = Platform::def_platform.user_name(DataUnit("/a=b")).str() != std::string("/a=b");

    bool dn_of(const std::string& fdn, std::string& dn, std::string& why) const
    {
        if (!dns) return ldif_fdn_to_dn(fdn, dn, why);
        dn = fdn == "/" ? "" : Platform::def_platform.user_name(DataUnit(fdn.c_str())).str();
        return true;
    }
    /* The same for an object read: a directory may have given its DN with it. */
    bool dn_of(Image& image, std::string& dn, std::string& why) const
    {
        std::string fdn = image.get_objname().str();
        if (!dns) return ldif_fdn_to_dn(fdn, dn, why);
        dn = fdn == "/" ? "" : image.get_user_name().str();
        return true;
    }
    bool fdn_of(const std::string& dn, std::string& fdn, std::string& why) const
    {
        if (!dns) return ldif_dn_to_fdn(dn, fdn, why);
        std::vector<LdifRdn> rdns;
        if (!ldif_parse_dn(dn, rdns, why)) return false;
        fdn = rdns.empty() ? "/" : Platform::def_platform.to_fdn(DataUnit(dn.c_str())).str();
        if (fdn.empty()) why = "'" + dn + "' names no entry of the directory";
        return !fdn.empty();
    }
};

struct FileCloser {
    void operator()(FILE* f) const
    {
        if (f) fclose(f);
    }
};
using File = std::unique_ptr<FILE, FileCloser>;

std::string display_name(const std::string& attr)
{
    size_t colon = attr.rfind(':');
    return colon == std::string::npos ? attr : attr.substr(colon + 1);
}

/* ------------------------------------------------------------------ export */

class Exporter {
public:
    Exporter(FILE* f, EscapeWatch& esc) : f_(f), esc_(esc) {}

    /* Writes fdn (unless only_below) and everything below it, parents
     * first.  One search reads the whole subtree with its values.  A
     * directory's entries are written as they come, a page of them in
     * memory at a time.  qx_mis answers in name order, in which a parent
     * comes before its children (its name starts theirs); a subtree larger
     * than its search may name, or than one reply may hold, is walked a
     * level at a time instead.  False when the run stops: why() is empty
     * for Escape.  Waits. */
    bool subtree(const std::string& fdn, const std::string& base, bool only_below)
    {
        if (esc_.stopped()) return false;
        if (!only_below && !(names_.dns && fdn != "/" ? entry_found(fdn) : entry(fdn)))
            return false;
        Search below(Platform::def_platform);
        below.values = true;
        below.secrets = true; /* a copy keeps the passwords this user may read */
        show_progress(base);
        if (names_.dns) return streamed(below, fdn, base);
        if (!below.run(DataUnit(fdn.c_str()), DataUnit(), -1, kSearchLimit, DeriveTimeout)) {
            if (below.get_server_code() == kTooLarge) return by_levels(fdn, base);
            why_ = std::string(below.get_error_string()) + " (" + fdn + ")";
            return false;
        }
        if (below.truncated) return by_levels(fdn, base);
        for (Image& image : below.images) {
            if (esc_.stopped() || !entry(image)) return false;
            show_progress(base);
        }
        return true;
    }

    const std::string& why() const { return why_; }
    long count = 0;

private:
    /* The progress line, its text made only when it is shown. */
    void show_progress(const std::string& base)
    {
        if (progress_.due())
            progress_.show(
                text(qx_msg(924, "Exporting %s: %s"), base.c_str(), entries(count).c_str()));
    }

    /* The most objects one search is asked for. */
    static constexpr int kSearchLimit = 100000;
    /* The server's code for an answer too large for one reply. */
    static constexpr int kTooLarge = -32014;

    /* The directory subtree below fdn, written as the search hands it over.
     * The directory sends an entry after its parent unless it was moved
     * beneath a later one: such an entry waits for its parent.  Waits. */
    bool streamed(Search& below, const std::string& fdn, const std::string& base)
    {
        NameSet written;
        written.insert(fdn);
        std::unordered_map<std::string, std::vector<Image>> waiting; /* by parent */
        std::string last_parent;                                     /* of the last written */
        bool ok = true;
        /* Writes image, named name, then whatever waited for it. */
        std::function<bool(Image&, std::string_view)> put = [&](Image& image,
                                                                std::string_view name) {
            if (!entry(image)) return false;
            written.insert(name);
            auto children = waiting.empty() ? waiting.end() : waiting.find(std::string(name));
            if (children == waiting.end()) return true;
            std::vector<Image> now = std::move(children->second);
            waiting.erase(children);
            for (Image& child : now) {
                DataUnit child_name = child.get_objname();
                if (!put(child, std::string_view(child_name.str(), child_name.length())))
                    return false;
            }
            return true;
        };
        below.each = [&](Image& image) {
            DataUnit fdn_unit = image.get_objname();
            std::string_view name(fdn_unit.str(), fdn_unit.length());
            size_t cut = name.rfind('/'); /* a '/' in a directory's value is escaped */
            std::string_view parent =
                name.substr(0, cut == 0 ? 1 : cut); /* "/": above the contexts */
            /* Siblings mostly come in a run: their parent is looked up once. */
            bool same = parent == last_parent;
            if (same || written.contains(parent)) {
                if (!same) last_parent.assign(parent);
                ok = !esc_.stopped() && put(image, name);
            } else {
                waiting[std::string(parent)].push_back(image);
            }
            show_progress(base);
            return ok;
        };
        bool ran =
            below.run(DataUnit(fdn.c_str()), DataUnit(), -1, kAll, DeriveTimeout); /* waits */
        if (!ok) return false;
        if (!ran) {
            why_ = std::string(below.get_error_string()) + " (" + fdn + ")";
            return false;
        }
        /* What still waits had no parent in the subtree: in name order. */
        std::map<std::string, std::vector<Image>> left(waiting.begin(), waiting.end());
        for (auto& [parent, children] : left)
            for (Image& child : children)
                if (esc_.stopped() || !entry(child)) return false;
        return true;
    }

    /* A directory's entry fdn as a search finds it, with its passwords,
     * which reading it as an image leaves out.  Waits. */
    bool entry_found(const std::string& fdn)
    {
        Search self(Platform::def_platform);
        self.values = true;
        self.secrets = true;
        if (!self.run(DataUnit(fdn.c_str()), DataUnit(), 0, 1, DeriveTimeout)) { /* waits */
            why_ = std::string(self.get_error_string()) + " (" + fdn + ")";
            return false;
        }
        if (self.images.empty()) {
            why_ = "no such entry (" + fdn + ")";
            return false;
        }
        return entry(self.images.front());
    }

    /* No limit to a directory's search handed over as it comes. */
    static constexpr int kAll = std::numeric_limits<int>::max();

    /* fdn's children and everything below them, a level at a time.  Waits. */
    bool by_levels(const std::string& fdn, const std::string& base)
    {
        if (esc_.stopped()) return false;
        show_progress(base);
        Album children(DataUnit("ldif export"), Platform::def_platform);
        std::string derivation = fdn == "/" ? "/*" : fdn + "/*";
        if (!children.set_derivation(DataUnit(derivation.c_str())) ||
            !children.derive(DeriveTimeout)) { /* waits */
            why_ = std::string(children.get_error_string()) + " (" + fdn + ")";
            return false;
        }
        std::vector<std::string> names;
        for (AlbumImage ai = children.first_image(); ai; ai.next_image())
            names.push_back(ai.image().get_objname().str());
        if (!entries_of(names, base)) return false; /* waits */
        for (const std::string& child : names)
            if (esc_.stopped() || !by_levels(child, base)) return false;
        return true;
    }

    /* The entries named, in their order, their values read a batch at a time
     * (many requests out at once rather than one round trip each).  Waits. */
    bool entries_of(const std::vector<std::string>& names, const std::string& base)
    {
        for (size_t at = 0; at < names.size(); at += kBatch) {
            if (esc_.stopped()) return false;
            show_progress(base);
            std::vector<Image> batch;
            batch.reserve(kBatch);
            for (size_t i = at; i < names.size() && i < at + kBatch; i++)
                batch.emplace_back(DataUnit(names[i].c_str()), DataUnit(), Platform::def_platform);
            boot_images(batch, DeriveTimeout); /* waits */
            for (Image& image : batch)
                if (esc_.stopped() || !entry(image)) return false;
        }
        return true;
    }

    /* Entries read per batch: large enough to keep the connection busy,
     * small enough for Escape to stop the run at once. */
    static constexpr size_t kBatch = 512;

    /* One entry: its DN, objectClass first, then the other attributes with a
     * value, in the server's order.  Waits (the object's values, unless read). */
    bool entry(const std::string& fdn)
    {
        Image image(DataUnit(fdn.c_str()), DataUnit(), Platform::def_platform);
        return entry(image);
    }
    bool entry(Image& image)
    {
        DUArray attrs = image.get_attr_names(0); /* waits unless read */
        if (attrs.count() == 0) {
            why_ = std::string(image.get_error_string()) + " (" + image.get_objname().str() + ")";
            return false;
        }
        std::string dn;
        if (!names_.dn_of(image, dn, why_)) return false;
        record_.clear();
        ldif_append_line(record_, "dn", dn);
        /* objectClass first, then the others in the server's order. */
        for (int pass = 0; pass < 2; pass++)
            for (int i = 0; i < attrs.count(); i++) {
                /* The library's own attributes (a directory's
                 * kvl:namingAttribute) are not the entry's. */
                if (std::strncmp(attrs[i].str(), "kvl:", 4) == 0) continue;
                std::string name = display_name(attrs[i].str());
                if ((name == "objectClass") != (pass == 0)) continue;
                DataUnit text = image.get_str(attrs[i]);
                if (text.is_empty()) continue;
                if (!ldif_attribute_name(name)) {
                    why_ = "the attribute name '" + name + "' of " + image.get_objname().str() +
                           " cannot be written in LDIF";
                    return false;
                }
                /* Values of bytes are written as they are (base64 in the
                 * file), not as the sizes their text shows. */
                if (image.get_bytes(attrs[i], bytes_)) {
                    for (int b = 0; b < bytes_.count(); b++)
                        ldif_append_line(record_, name,
                                         std::string_view(bytes_[b].str(), bytes_[b].length()));
                    continue;
                }
                std::string_view value(text.str(), text.length());
                if (!names_.dns) { /* qx_mis: one value, newlines and all */
                    ldif_append_line(record_, name, value);
                    continue;
                }
                for (size_t at = 0;;) {
                    size_t nl = value.find('\n', at);
                    ldif_append_line(record_, name,
                                     value.substr(at, nl == value.npos ? nl : nl - at));
                    if (nl == value.npos) break;
                    at = nl + 1;
                }
            }
        record_ += '\n';
        if (fwrite(record_.data(), 1, record_.size(), f_) != record_.size()) {
            why_ = strerror(errno);
            return false;
        }
        count++;
        return true;
    }

    FILE* f_;
    EscapeWatch& esc_;
    DUArray bytes_;      /* entry()'s, kept for the next one */
    std::string record_; /* likewise */
    Names names_;
    Progress progress_;
    std::string why_;
};

/* ------------------------------------------------------------------ import */

/* The values of rec by attribute, in order of first appearance; several
 * values of one attribute joined by newlines, as KVL carries them. */
std::vector<std::pair<std::string, std::string>> joined(const std::vector<LdifValue>& values)
{
    std::vector<std::pair<std::string, std::string>> out;
    std::map<std::string, size_t> at;
    for (const LdifValue& v : values) {
        auto it = at.find(v.name);
        if (it == at.end()) {
            at[v.name] = out.size();
            out.emplace_back(v.name, v.value);
        } else {
            out[it->second].second += "\n" + v.value;
        }
    }
    return out;
}

std::string without_lines(const std::string& value, const std::vector<std::string>& gone)
{
    std::string out;
    for (size_t at = 0; at <= value.size();) {
        size_t nl = value.find('\n', at);
        std::string line = value.substr(at, nl == std::string::npos ? nl : nl - at);
        bool drop = false;
        for (const std::string& g : gone) drop = drop || g == line;
        if (!drop) out += (out.empty() ? "" : "\n") + line;
        if (nl == std::string::npos) break;
        at = nl + 1;
    }
    return out;
}

class Importer {
public:
    explicit Importer(const Names& names) : names_(names) {}

    /* Carries out rec, whose entry is fdn; false with why() when the server
     * (or the record) is refused.  Waits. */
    bool apply(const LdifRecord& rec, const std::string& dn, const std::string& fdn)
    {
        switch (rec.kind) {
        case LdifRecord::DELETE: {
            Image image(DataUnit(fdn.c_str()), DataUnit(), Platform::def_platform);
            return image.destroy(DeriveTimeout) || failed(image); /* waits */
        }
        case LdifRecord::MODIFY:
            return modify(rec, fdn);
        default: {
            ImageCreation job;
            if (!prepare(rec, dn, job)) return false;
            Image created;
            return job.image.create_within(DataUnit(job.parent.c_str()), created,
                                           DeriveTimeout) || /* waits */
                   failed(job.image);
        }
        }
    }

    /* The image of rec's new entry, dn, given its values, and the FDN of its
     * parent, into job: ready to be created.  Waits (a blank of the class). */
    bool prepare(const LdifRecord& rec, const std::string& dn, ImageCreation& job)
    {
        std::vector<LdifRdn> rdns;
        if (!ldif_parse_dn(dn, rdns, why_)) return false;
        if (rdns.empty()) {
            why_ = "the root cannot be created";
            return false;
        }
        std::vector<std::string> classes = rec.values_of("objectClass");
        if (classes.empty()) {
            why_ = "the entry has no objectClass";
            return false;
        }
        if (!names_.fdn_of(ldif_format_dn({rdns.begin() + 1, rdns.end()}), job.parent, why_))
            return false;
        /* The entry's class: the last of its classes a new object can be
         * made of (a directory's structural one, not an auxiliary class). */
        Image& image = job.image;
        for (size_t i = classes.size(); i-- > 0;) {
            image = Image(NONE, DataUnit(classes[i].c_str()), Platform::def_platform);
            if (image.boot(DeriveTimeout)) break; /* waits */
            if (i == 0) return failed(image);
        }

        auto values = joined(rec.values);
        /* The name comes from the DN: its RDN's values win over the entry's. */
        for (const auto& naming : rdns[0]) {
            bool found = false;
            for (auto& v : values)
                if (strcasecmp(v.first.c_str(), naming.first.c_str()) == 0) {
                    v.second = naming.second;
                    found = true;
                }
            if (!found) values.emplace_back(naming.first, naming.second);
        }
        /* A directory's new entry is named by the attribute its class
         * usually takes unless told: here the DN tells ("cn+uid" for a name
         * of several values).  Its classes are the record's, auxiliary ones
         * too. */
        if (names_.dns) {
            std::string naming;
            for (const auto& ava : rdns[0]) naming += (naming.empty() ? "" : "+") + ava.first;
            values.emplace_back("kvl:namingAttribute", naming);
        }
        for (const auto& v : values) {
            if (!names_.dns && strcasecmp(v.first.c_str(), "objectClass") == 0) continue;
            DataUnit attr(v.first.c_str());
            DUArray bytes;
            if (image.get_bytes(attr, bytes)) {
                /* Bytes may hold newlines: each value goes as it is. */
                for (const std::string& b : rec.values_of(v.first))
                    bytes.append(DataUnit(b.data(), b.size()));
                if (!image.set_bytes(attr, bytes)) return failed(image);
            } else if (!image.set_str(attr,
                                      DataUnit(v.second.data(), v.second.size()))) { /* waits */
                return failed(image);
            }
        }
        return true;
    }

    const std::string& why() const { return why_; }

private:
    bool failed(Error& e)
    {
        why_ = e.get_error_string();
        if (why_.empty()) why_ = "refused";
        return false;
    }


    bool modify(const LdifRecord& rec, const std::string& fdn)
    {
        Image image(DataUnit(fdn.c_str()), DataUnit(), Platform::def_platform);
        for (const LdifChange& c : rec.changes) {
            DataUnit attr(c.attribute.c_str());
            DUArray held;
            if (image.get_bytes(attr, held)) { /* waits once */
                DUArray values;
                if (!changed_bytes(held, c, values)) return false;
                if (!image.set_bytes(attr, values)) return failed(image);
                continue;
            }
            if (image.get_error_type()) return failed(image);
            /* An attribute a directory's entry has no values of yet takes
             * the values as they are, bytes or text; qx_mis lists every
             * attribute, and refuses bytes for one of text. */
            if (c.op != LdifChange::DELETE && image.get_str(attr).is_empty()) {
                DUArray values;
                for (const std::string& v : c.values) values.append(DataUnit(v.data(), v.size()));
                if (image.set_bytes(attr, values)) continue;
                if (image.get_error_type() != KVL_ERR_SYNTAX) return failed(image);
                image.reset_error();
            }
            std::string joined_values;
            for (const std::string& v : c.values)
                joined_values += (joined_values.empty() ? "" : "\n") + v;
            std::string value = joined_values;
            if (c.op != LdifChange::REPLACE) {
                DataUnit now = image.get_str(DataUnit(c.attribute.c_str())); /* waits once */
                if (image.get_error_type()) return failed(image);
                std::string old = now.str();
                if (c.op == LdifChange::ADD)
                    value = old.empty() ? joined_values : old + "\n" + joined_values;
                else
                    value = c.values.empty() ? "" : without_lines(old, c.values);
            }
            if (!image.set_str(DataUnit(c.attribute.c_str()), DataUnit(value.c_str()))) /* waits */
                return failed(image);
        }
        return image.store(DeriveTimeout) || failed(image); /* waits */
    }

    /* The values of bytes now after change c, into out: bytes may hold
     * newlines, so each value stays whole.  False, with why(), for the
     * deletion of a value the entry does not have. */
    bool changed_bytes(const DUArray& now, const LdifChange& c, DUArray& out)
    {
        std::vector<std::string> kept;
        for (int i = 0; c.op != LdifChange::REPLACE && i < now.count(); i++)
            kept.emplace_back(now[i].str(), now[i].length());
        if (c.op == LdifChange::DELETE) {
            for (const std::string& v : c.values) {
                auto at = std::find(kept.begin(), kept.end(), v);
                if (at == kept.end()) {
                    why_ = "no such value of " + c.attribute + " (" + std::to_string(v.size()) +
                           " bytes" + ")";
                    return false;
                }
                kept.erase(at);
            }
            if (c.values.empty()) kept.clear();
        } else {
            kept.insert(kept.end(), c.values.begin(), c.values.end());
        }
        for (const std::string& v : kept) out.append(DataUnit(v.data(), v.size()));
        return true;
    }

    const Names& names_;
    std::string why_;
};

/*
 * The creates of records sent out together (create_images): entries none of
 * which lies beneath another of them, so that the server may carry them out
 * in any order.  The run sends the queue before a record that is not a
 * create, or whose entry or parent is queued already.
 */
class CreateQueue {
public:
    struct Refusal {
        int line = 0;
        std::string dn, fdn, why;
    };

    bool full() const { return jobs_.size() >= kMost; }
    /* Whether the new entry fdn beneath parent may be sent with the queued ones. */
    bool takes(const std::string& fdn, const std::string& parent) const
    {
        return !full() && !names_.count(key(fdn)) && !names_.count(key(parent)) &&
               !parents_.count(key(fdn));
    }
    void add(ImageCreation job, int line, const std::string& dn, const std::string& fdn)
    {
        names_.insert(key(fdn));
        parents_.insert(key(job.parent));
        jobs_.push_back(std::move(job));
        where_.push_back({line, dn, fdn, std::string()});
    }

    /* Creates the queued entries, adding those created to done, and empties
     * the queue.  On a refusal: false, with refused; what was created after
     * the refused entry has been deleted again, so that the server holds
     * what it would had the records gone one by one (why names what could
     * not be deleted).  Waits. */
    bool send(long& done, Refusal& refused)
    {
        if (jobs_.empty()) return true;
        int created = create_images(jobs_, DeriveTimeout); /* waits */
        done += created;
        bool ok = created == (int)jobs_.size();
        if (!ok) {
            refused = where_[created];
            refused.why = jobs_[created].image.get_error_string();
            if (refused.why.empty()) refused.why = "refused";
            std::string kept;
            for (size_t i = created + 1; i < jobs_.size(); i++) {
                ImageCreation& job = jobs_[i];
                if (job.state != ImageCreation::CREATED || job.created.destroy(DeriveTimeout))
                    continue; /* waits */
                kept += (kept.empty() ? "" : ", ") + where_[i].dn + " (" +
                        job.created.get_error_string() + ")";
            }
            if (!kept.empty())
                refused.why +=
                    text(qx_msg(937, "; sent with it, %s went in and stays"), kept.c_str());
        }
        jobs_.clear();
        where_.clear();
        names_.clear();
        parents_.clear();
        return ok;
    }

private:
    static constexpr size_t kMost = 512; /* sent and awaited at once */

    /* Names compared as a directory does, in any case. */
    static std::string key(const std::string& fdn)
    {
        std::string k = fdn;
        for (char& c : k) c = (char)tolower((unsigned char)c);
        return k;
    }

    std::vector<ImageCreation> jobs_;
    std::vector<Refusal> where_; /* line, DN and FDN of each job */
    std::unordered_set<std::string> names_, parents_;
};

/* path opened for writing, emptied, and readable by its owner only: an
 * export is a copy of the server's data, passwords among them. */
File open_private(const std::string& path)
{
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return File();
    FILE* f = fchmod(fd, 0600) == 0 ? fdopen(fd, "w") : nullptr;
    if (!f) {
        int e = errno;
        close(fd);
        errno = e;
        return File();
    }
    setvbuf(f, nullptr, _IOFBF, 1 << 16); /* records are small: fewer, larger writes */
    return File(f);
}

bool read_file(const std::string& path, std::string& out, std::string& why)
{
    File f(fopen(path.c_str(), "rb"));
    if (!f) {
        why = strerror(errno);
        return false;
    }
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f.get())) > 0) out.append(buf, n);
    if (ferror(f.get())) {
        why = strerror(errno);
        return false;
    }
    return true;
}

/* A failure: the status line, and an error dialog. */
void report_error(const std::string& line, const std::string& object)
{
    status_line(line.c_str(), object.c_str());
    if (main_window) error_dialog(main_window->shell(), bounded_label(line.c_str()).c_str());
}

bool refuse_second_run()
{
    if (!running) return false;
    status_line(qx_msg(934, "An export or import is already running: press Escape to stop it"));
    return true;
}

/* The file name an export proposes: the value of the first selected
 * object's last RDN ("rack-1.ldif"), or "tree.ldif" for the whole tree;
 * characters a file name should not hold become '_'. */
std::string export_file_name()
{
    const auto& selected = DataObject::selected_list.items();
    std::string name = selected.empty() || !selected.front()->name
                           ? ""
                           : selected.front()->name;
    size_t eq = name.rfind('=');
    name = eq == std::string::npos ? "" : name.substr(eq + 1);
    std::string out;
    for (char c : name)
        if (c != '"') out += (c == '/' || c == ' ' || c == '\\' || c == '*' || c == '?') ? '_' : c;
    if (out.empty() || out[0] == '.' || out[0] == '-') out = "tree";
    return out + ".ldif";
}

} // namespace

long MainWin::export_ldif(const std::string& path)
{
    if (refuse_second_run()) return -1;
    RunGuard guard;
    /* The names first: the waits below may take objects out of the tree. */
    std::vector<std::string> bases;
    for (DataObject* obj : DataObject::selected_list.items())
        if (obj->name) bases.push_back(obj->name);
    bool below_root = bases.empty();
    if (below_root) bases.push_back(root && root->name ? root->name : default_root);

    File f = open_private(path);
    if (!f) {
        report_error(text(qx_msg(933, "Cannot write %s: %s"), path.c_str(), strerror(errno)), "");
        return -1;
    }
    EscapeWatch esc(shell());
    BusyCursor busy(shell());
    Exporter out(f.get(), esc);
    std::string why, failed_at = bases[0];
    bool ok = fputs("version: 1\n\n", f.get()) >= 0;
    if (!ok) why = strerror(errno);
    for (size_t i = 0; ok && i < bases.size(); i++) {
        failed_at = bases[i];
        ok = out.subtree(bases[i], bases[i], below_root); /* waits */
        if (!ok) why = out.why();
    }
    if (fclose(f.release()) != 0 && ok) {
        ok = false;
        why = strerror(errno);
    }
    if (ok) {
        status_line(text(qx_msg(925, "Exported %s to %s"), entries(out.count).c_str(), path.c_str()).c_str(),
                    bases[0].c_str());
        return out.count;
    }
    if (why.empty()) { /* Escape */
        status_line(text(qx_msg(926, "Export stopped (Escape): %s written to %s"),
                         entries(out.count).c_str(), path.c_str())
                        .c_str(),
                    failed_at.c_str());
        return out.count;
    }
    report_error(text(qx_msg(927, "Export of %s failed after %s: %s"), failed_at.c_str(),
                      entries(out.count).c_str(), why.c_str()),
                 failed_at);
    return -1;
}

long MainWin::import_ldif(const std::string& path)
{
    if (refuse_second_run()) return -1;
    RunGuard guard;
    std::string content, why;
    if (!read_file(path, content, why)) {
        report_error(text(qx_msg(932, "Cannot read %s: %s"), path.c_str(), why.c_str()), "");
        return -1;
    }
    Names names;
    /* One selected object: the file's entries go beneath it. */
    std::string target_fdn, target_dn, from_dn; /* from_dn: the first entry's parent */
    bool rebase = DataObject::selected_list.items().size() == 1;
    if (rebase) {
        DataObject* obj = DataObject::selected_list.items().front();
        target_fdn = obj->name ? obj->name : "/";
        if (!names.dn_of(target_fdn, target_dn, why)) {
            report_error(target_fdn + ": " + why, target_fdn);
            return -1;
        }
    }

    EscapeWatch esc(shell());
    BusyCursor busy(shell());
    Progress progress;
    Importer importer(names);
    LdifReader reader(std::move(content));
    LdifRecord rec;
    long done = 0;
    bool seen_first = false; /* the first record read: where the others are moved from */
    int got;
    CreateQueue queue;
    CreateQueue::Refusal refused;
    auto stop = [&](const CreateQueue::Refusal& r) {
        report_error(text(qx_msg(931, "Import stopped at line %d (%s): %s. %s went in before it."),
                          r.line, r.dn.c_str(), r.why.c_str(), records(done).c_str()),
                     r.fdn);
        return -1L;
    };
    while ((got = reader.next(rec)) == 1) {
        if (esc.stopped()) {
            if (!queue.send(done, refused)) return stop(refused); /* waits */
            status_line(text(qx_msg(930, "Import stopped (Escape) at line %d: %s went in"),
                             rec.line, records(done).c_str())
                            .c_str(),
                        target_fdn.c_str());
            return done;
        }
        std::string dn = rec.dn, fdn;
        bool ok = true;
        if (rebase) {
            if (!seen_first) {
                std::vector<LdifRdn> rdns;
                ok = ldif_parse_dn(rec.dn, rdns, why) && !rdns.empty();
                if (ok) from_dn = ldif_format_dn({rdns.begin() + 1, rdns.end()});
                else if (why.empty()) why = "the root cannot be moved beneath another object";
            }
            if (ok && !ldif_rebase_dn(rec.dn, from_dn, target_dn, dn)) {
                ok = false;
                why = "the entry is not below " + (from_dn.empty() ? std::string("the root")
                                                                    : from_dn) +
                      ", where the file's first entry lies, so it cannot be moved beneath " +
                      target_fdn;
            }
        }
        seen_first = true;
        ok = ok && names.fdn_of(dn, fdn, why);
        /* A create goes out with others where none depends on another;
         * everything else waits for what is queued, then goes alone. */
        ImageCreation job;
        bool create = rec.kind == LdifRecord::CONTENT || rec.kind == LdifRecord::ADD;
        if (ok && create) ok = importer.prepare(rec, dn, job); /* waits */
        if (!ok || !create || !queue.takes(fdn, job.parent)) {
            if (!queue.send(done, refused)) return stop(refused); /* waits */
        }
        if (ok && create) {
            queue.add(std::move(job), rec.line, dn, fdn);
        } else if (ok) {
            ok = importer.apply(rec, dn, fdn); /* waits */
            if (ok) done++;
        }
        if (!ok) {
            if (why.empty()) why = importer.why();
            return stop({rec.line, dn, fdn, why});
        }
        why.clear();
        progress.show(text(qx_msg(928, "Importing %s: %s"), path.c_str(), records(done).c_str()));
    }
    if (!queue.send(done, refused)) return stop(refused); /* waits */
    if (got < 0) {
        report_error(text(qx_msg(935, "Import stopped at line %d: %s. %s went in before it."),
                          reader.error_line(), reader.error().c_str(), records(done).c_str()),
                     target_fdn);
        return -1;
    }
    if (rebase)
        status_line(text(qx_msg(936, "Imported %s from %s beneath %s"), records(done).c_str(), path.c_str(),
                         target_fdn.c_str())
                        .c_str(),
                    target_fdn.c_str());
    else
        status_line(text(qx_msg(929, "Imported %s from %s"), records(done).c_str(), path.c_str()).c_str());
    return done;
}

void MainWin::export_cb(Widget, XtPointer)
{
    if (refuse_second_run()) return;
    std::string path;
    if (!choose_file(shell(), "mw_export_dialog", 922, "Tarnwick: Export LDIF", "*.ldif",
                     export_file_name(), path))
        return;
    /* A file already there is replaced only when the user says so. */
    struct stat st;
    if (stat(path.c_str(), &st) == 0) {
        std::string question = text(qx_msg(904, "%s already exists. Replace it?"), path.c_str());
        if (question_dialog(shell(), bounded_label(question.c_str()).c_str(), ok_cancel_ques_cb,
                            ok_cancel_ques_cb) != XmCR_OK) /* waits */
            return;
    }
    export_ldif(path); /* waits */
}

void MainWin::import_cb(Widget, XtPointer)
{
    if (refuse_second_run()) return;
    std::string path;
    if (choose_file(shell(), "mw_import_dialog", 923, "Tarnwick: Import LDIF", "*.ldif", "", path))
        import_ldif(path); /* waits */
}
