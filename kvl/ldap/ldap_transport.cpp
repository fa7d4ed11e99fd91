/*
 * ldap_transport.cpp - the LDAP v3 transport: KVL's requests as operations on
 * a directory, through OpenLDAP's libldap.
 *
 * Every operation is asynchronous (ldap_search_ext, ldap_sasl_bind): its
 * message id maps to the KVL request it serves, and read_input takes the
 * messages libldap has (ldap_result with a zero time-out) when the socket is
 * readable, so the platform's waits and the Xt loop go on meanwhile.  What
 * maps to what (docs/kvl.md, "Directories"):
 *   get        a base search of the entry: its user attributes, its
 *              structural class; userPassword left out, binary values as
 *              their size, several values one per line
 *   derive     a one-level search with the filter, asking for the
 *              structural class only, in pages (Simple Paged Results) so
 *              that a container larger than the server's size limit opens
 *              completely; "/" is the root DSE, whose children are the
 *              naming contexts; referral and alias entries are members like
 *              any other (ManageDsaIT on every search, aliases never
 *              dereferenced)
 *   search     a search below the base (subordinate scope), in pages
 *   syntax, blank, getObjectClass on the repository object
 *              answered from the subschema read at connect
 *   subscribe, watch
 *              content synchronization (RFC 4533): one refreshAndPersist
 *              search per naming context, started at connect; its changes
 *              become OBJECT_CREATED / OBJECT_DESTROYED for the tracked
 *              albums of the parent (an album with a filter asks the server
 *              whether the entry matches it), ATTR_CHANGED for tracked entries
 *   set, create, delete, and the actions setPassword and whoAmI
 *              ldap_write.cpp: one modify with an assertion of the loaded
 *              values, one add, a subtree's entries deepest first, the
 *              Password Modify and Who am I? extended operations
 * Result codes come back as the LDAP result name and the server's text.
 */
#include "kvl/base64.h"
#include "kvl/transport.h"

#include "kvl/ldap/ldap_filter.h"
#include "kvl/ldap/ldap_names.h"
#include "kvl/ldap/ldap_schema.h"
#include "kvl/ldap/ldap_tls.h"
#include "kvl/ldap/ldap_write.h"

#include <ldap.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <unordered_map>
#include <sys/stat.h>

namespace {

/* Entries asked for per page: at most slapd's default size limit (500),
 * which a page may not pass. */
const int SEARCH_PAGE_SIZE = 500;

/* How often a persistent search that a server's limit ended is started again
 * from its last cookie before changes by others are given up. */
const int SYNC_RESTARTS = 1000;

/* The most names a search returns when the caller names no limit. */
const int SEARCH_LIMIT = 1000;

/* The syntax of the RDN attribute the library adds to every entry: a DN. */
const char DN_SYNTAX[] = "1.3.6.1.4.1.1466.115.121.1.38";

std::string str_field(const json& o, const char* key)
{
    if (o.is_object() && o.contains(key) && o[key].is_string()) return o[key].get<std::string>();
    return std::string();
}

std::string lower(std::string s)
{
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

/* The KVL error type of an LDAP result code. */
int error_type(int rc)
{
    switch (rc) {
    case LDAP_NO_SUCH_OBJECT: return KVL_ERR_NO_OBJECT;
    case LDAP_NO_SUCH_ATTRIBUTE:
    case LDAP_UNDEFINED_TYPE: return KVL_ERR_NO_ATTRIBUTE;
    case LDAP_INSUFFICIENT_ACCESS:
    case LDAP_CONFIDENTIALITY_REQUIRED:
    case LDAP_STRONG_AUTH_REQUIRED:
    case LDAP_INAPPROPRIATE_AUTH:
    case LDAP_INVALID_CREDENTIALS: return KVL_ERR_ACCESS;
    case LDAP_ALREADY_EXISTS: return KVL_ERR_DUPLICATE;
    case LDAP_INVALID_SYNTAX:
    case LDAP_CONSTRAINT_VIOLATION:
    case LDAP_OBJECT_CLASS_VIOLATION: return KVL_ERR_SYNTAX;
    case LDAP_INVALID_DN_SYNTAX: return KVL_ERR_BAD_NAME;
    case LDAP_FILTER_ERROR: return KVL_ERR_BAD_DERIVATION;
    case LDAP_SERVER_DOWN: return KVL_ERR_DISCONNECTED;
    case LDAP_TIMEOUT: return KVL_ERR_TIMEOUT;
    default: return KVL_ERR_SERVER;
    }
}

/* "Insufficient access: <the server's text>", the result name first. */
std::string result_text(int rc, const char* diagnostic)
{
    std::string text = ldap_err2string(rc);
    if (diagnostic && *diagnostic) text += std::string(": ") + diagnostic;
    return text;
}

/* ldap_msgfree / ldap_memfree / ber_free at the end of the scope. */
struct MessageGuard {
    LDAPMessage* m = nullptr;
    ~MessageGuard()
    {
        if (m) ldap_msgfree(m);
    }
};
struct TextGuard {
    char* p = nullptr;
    ~TextGuard()
    {
        if (p) ldap_memfree(p);
    }
};
struct ValuesGuard {
    struct berval** v = nullptr;
    ~ValuesGuard()
    {
        if (v) ldap_value_free_len(v);
    }
};

bool valid_utf8(const char* text, size_t n)
{
    const unsigned char* s = reinterpret_cast<const unsigned char*>(text);
    for (size_t i = 0; i < n;) {
        unsigned char c = s[i];
        size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (len == 0 || i + len > n) return false;
        for (size_t k = 1; k < len; k++)
            if ((s[i + k] & 0xc0) != 0x80) return false;
        i += len;
    }
    return true;
}

/* The bind DN of ~/.ldaprc (BINDDN), "" when it names none. */
std::string ldaprc_binddn()
{
    const char* home = std::getenv("HOME");
    if (!home || !*home) return "";
    for (const char* file : {"/.ldaprc", "/ldaprc"}) {
        std::ifstream in(std::string(home) + file);
        std::string line;
        while (std::getline(in, line)) {
            size_t b = line.find_first_not_of(" \t");
            if (b == std::string::npos || line[b] == '#') continue;
            size_t e = line.find_first_of(" \t", b);
            if (e == std::string::npos || lower(line.substr(b, e - b)) != "binddn") continue;
            size_t v = line.find_first_not_of(" \t", e);
            if (v == std::string::npos) continue;
            std::string dn = line.substr(v);
            while (!dn.empty() && (dn.back() == ' ' || dn.back() == '\r')) dn.pop_back();
            return dn;
        }
    }
    return "";
}

/* How many times the password source is asked before the connection fails. */
const int PASSWORD_TRIES = 3;

/* A refusal of the credentials, which another password may cure. */
bool credentials_refused(int code)
{
    return code == LDAP_INVALID_CREDENTIALS || code == LDAP_UNWILLING_TO_PERFORM ||
           code == LDAP_INAPPROPRIATE_AUTH;
}

/* The parent of an FDN: "/" for a naming context (one component). */
std::string parent_fdn(const std::string& fdn)
{
    size_t slash = fdn.rfind('/');
    if (slash == std::string::npos || slash == 0) return "/";
    return fdn.substr(0, slash);
}

/* The 16 bytes of a UUID in its text form (8-4-4-4-12 hex digits), as the
 * Sync State control carries it. */
std::string uuid_bytes(const char* text, size_t n)
{
    std::string out;
    int high = -1;
    for (size_t i = 0; i < n; i++) {
        char c = text[i];
        int v = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10
                : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        if (v < 0) continue;
        if (high < 0)
            high = v;
        else {
            out += static_cast<char>(high << 4 | v);
            high = -1;
        }
    }
    return out;
}

/* One KVL request in progress on the directory. */
struct Op {
    enum Kind { BIND, ROOT_DSE, SCHEMA, GET, DERIVE, SEARCH, SYNC, WATCH_READ, CHECK } kind;
    long id = 0; /* the KVL request */
    std::string base;       /* DN searched */
    std::vector<std::string> bases; /* further bases (a search from the root) */
    int scope = LDAP_SCOPE_BASE;
    std::string filter;
    std::vector<std::string> attrs;
    bool paged = false;
    std::string cookie; /* the paged-results cookie of the next page */
    std::string want_class;
    bool root = false;  /* the root DSE */
    int limit = 0;      /* search: the names wanted */
    bool count_only = false;
    long count = 0;
    json result = json::object();
    std::vector<std::pair<std::string, std::string>> found; /* search: (FDN, class) */
    bool values = false;                    /* search: each match's values are wanted */
    bool secrets = false;                   /* ... its passwords too */
    std::vector<Image> images;              /* ... and here they are, booted, by found */
    long handed = 0;                        /* ... or this many handed to the caller's each */
    std::shared_ptr<AlbumSnapshot> members; /* a derivation's: those read since the last page */
    size_t pages = 0;  /* pages of a derivation handed on */
    long received = 0; /* the entries in them */
    bool got_entry = false;
    /* CHECK: whether a changed entry matches the filter of these
     * subscriptions, asked of the server as a base search of the entry. */
    std::string fdn, cls;
    std::vector<long> subs;
    unsigned long generation = 0; /* of the entry's changes when asked */
};

struct LdapTransport : KvlTransport {
    LDAP* ld = nullptr;
    std::map<int, Op> ops; /* by LDAP message id */
    std::vector<std::string> contexts; /* naming contexts, canonical */
    std::vector<std::string> context_classes;
    std::vector<std::string> context_csns; /* contextCSN values, joined with ';' */
    std::string subschema_dn;
    std::vector<std::string> controls; /* supportedControl */
    LdapSchema schema;
    LdapWrites writes; /* set, create, delete and the actions */
    /* Live changes (content synchronization, RFC 4533): one refreshAndPersist
     * search per naming context, from connect on. */
    bool sync_offered = false;
    bool sync_refused_told = false;
    int sync_restarts = 0;
    std::map<std::string, std::string> fdn_of_uuid;   /* entryUUID -> FDN */
    std::map<std::string, std::set<long>> subs_of_parent; /* FDN -> subscriptions below it */
    std::map<long, std::string> parent_of_sub;
    std::map<long, std::string> filter_of_sub; /* a tracked album's filter; none: "" */
    /* A tracked derivation is followed from its first page on: what changes
     * below its parent while the pages come ((FDN, class), class "" when the
     * entry left) is kept by request id, in order, and applied to the set
     * once it is whole.  Without it, a change to a page already read would
     * be lost. */
    std::map<std::string, std::set<long>> reads_of_parent;
    std::map<long, std::vector<std::pair<std::string, std::string>>> changes_while_read;
    /* The sets of tracked derivations answered but not yet taken by their
     * albums, by subscription: a change that comes before the album has
     * its set changes the set itself. */
    std::map<long, std::shared_ptr<AlbumSnapshot>> sets_on_the_way;
    long next_sub = 0;
    /* Membership reports queued but perhaps not yet dispatched, so not yet in
     * their albums: (subscription, FDN) -> in the set.  Forgotten once the
     * queue is empty, when the albums say the same. */
    std::map<std::pair<long, std::string>, bool> told;
    /* Filter checks under way, by FDN: a later change of the entry makes the
     * answers to the earlier checks stale. */
    struct Checks {
        unsigned long generation = 0;
        int in_flight = 0;
    };
    std::map<std::string, Checks> checks;
    /* The last values read of each watched entry, to tell what a change changed. */
    /* By attribute, {"value": text} and, for bytes, "bytes" as a get gives them. */
    std::map<std::string, std::map<std::string, json>> watched;

    ~LdapTransport() override { unbind(); }

    bool open(PlatformImpl& plat, const std::string& host, const std::string& app, double timeout,
              Error& err) override;
    bool send(PlatformImpl& plat, long id, const char* method, const json& params) override;
    void read_input(PlatformImpl& plat) override;
    void forget(PlatformImpl& plat, long id) override;
    std::string to_fdn(const std::string& name) override
    {
        if (!name.empty() && name[0] == '/') return name;
        std::string fdn, why;
        return named.to_fdn(name, fdn, why) ? fdn : std::string();
    }
    std::string user_name(const std::string& fdn) override
    {
        std::string dn, why;
        return named.to_dn(fdn, dn, why) && !dn.empty() ? dn : fdn;
    }
    void close(PlatformImpl& plat) override
    {
        unbind();
        plat.fd = -1;
    }

    void unbind()
    {
        ops.clear();
        writes.clear();
        if (ld) ldap_unbind_ext(ld, nullptr, nullptr);
        ld = nullptr;
    }

    /* The result name of a failed connect or StartTLS with libldap's
     * diagnostic, which for TLS names the check that failed (the certificate's
     * issuer, its host name, its dates). */
    std::string tls_failure(int rc)
    {
        char* diag = nullptr;
        ldap_get_option(ld, LDAP_OPT_DIAGNOSTIC_MESSAGE, &diag);
        TextGuard g;
        g.p = diag;
        return result_text(rc, diag);
    }
    /* The same for a failed TLS handshake, with the verdict on the server's
     * certificate when that is what failed. */
    std::string tls_failure(int rc, const std::string& server, bool starttls,
                            const struct timeval& network)
    {
        std::string why = tls_failure(rc);
        std::string verdict = kvl_ldap_certificate_verdict(server, starttls, network);
        if (verdict.empty()) return (starttls ? "" : "the TLS handshake failed: ") + why;
        return "the server's TLS certificate failed its check: " + verdict;
    }

    /* Starts a search for op; false with why when libldap refuses it at once. */
    bool start_search(PlatformImpl& plat, Op op, std::string& why);
    bool known_attributes(const std::string& filter, std::string& why) const;
    /* Starts op for request id, answering it with the failure when it
     * cannot start; false when the connection is gone. */
    bool begin(PlatformImpl& plat, Op op);
    void take(PlatformImpl& plat, LDAPMessage* msg);
    void take_entry(PlatformImpl& plat, Op& op, LDAPMessage* entry);
    void finish(PlatformImpl& plat, int msgid, Op& op, LDAPMessage* res);
    bool wait_internal(PlatformImpl& plat, Op op, double deadline, const std::string& what,
                       KvlReply& r);
    /* The bind as bind_dn ("" anonymous) with password when given (fixed),
     * else with what the password source answers, asked again after each
     * refusal of the credentials, PASSWORD_TRIES times.  Waits, and waits
     * with the source; deadline starts again after each answer.  On failure
     * r holds the last refusal; a cancel is KVL_ERR_ARGUMENT. */
    bool bind(PlatformImpl& plat, const std::string& bind_dn, const std::string& server,
              bool fixed, KvlSecret& password, double& deadline, double secs, KvlReply& r);

    LdapNamingContexts named; /* the contexts, parsed once */
    std::string fdn_of(const std::string& dn) const
    {
        std::string fdn, why;
        if (!named.to_fdn(dn, fdn, why)) return dn;
        return fdn;
    }
    std::string class_of(LDAPMessage* entry);
    void start_sync(PlatformImpl& plat);
    void take_sync_entry(PlatformImpl& plat, Op& op, LDAPMessage* entry, const std::string& fdn);
    void take_intermediate(PlatformImpl& plat, Op& op, LDAPMessage* msg);
    void raw(PlatformImpl& plat, const char* event, const std::string& fdn)
    {
        plat.events.push_back(
            json{{"method", "rawEvent"}, {"params", {{"event", event}, {"name", fdn}}}});
    }
    bool in_set(PlatformImpl& plat, long sub, const AlbumImpl& album, const std::string& fdn);
    void tell(PlatformImpl& plat, const char* event, long sub, const std::string& fdn,
              const std::string& cls);
    void arrive(PlatformImpl& plat, const std::string& fdn, const std::string& cls);
    void leave(PlatformImpl& plat, const std::string& fdn);
    void checked(PlatformImpl& plat, const Op& op, bool matches);
    /* Counts the answer to a check: true when no later change of its entry asked again. */
    bool check_current(const Op& op);
    bool manage_dsa_it = false; /* the server offers ManageDsaIT */
    void reread(PlatformImpl& plat, const std::string& fdn, bool report_changes);
    void compare(PlatformImpl& plat, const std::string& fdn, LDAPMessage* entry, bool report);
    void tell_unfollowed(PlatformImpl& plat);
    /* True when a tracked album of fdn's parent holds it already, or none follows the parent. */
    bool held(PlatformImpl& plat, const std::string& fdn)
    {
        auto subs = subs_of_parent.find(parent_fdn(fdn));
        if (subs == subs_of_parent.end()) return true;
        for (long sub : subs->second) {
            auto album = plat.album_for_subscription(sub);
            if (album && album->holds(fdn)) return true;
        }
        return false;
    }
    /* A change below parent while a tracked derivation of it is read. */
    void note_while_read(const std::string& fdn, const std::string& cls)
    {
        auto reads = reads_of_parent.find(parent_fdn(fdn));
        if (reads == reads_of_parent.end()) return;
        for (long id : reads->second) changes_while_read[id].emplace_back(fdn, cls);
    }
    /* The changes kept for the read id of parent; the read is over. */
    std::vector<std::pair<std::string, std::string>> end_read(long id, const std::string& parent)
    {
        std::vector<std::pair<std::string, std::string>> log;
        auto c = changes_while_read.find(id);
        if (c != changes_while_read.end()) {
            log = std::move(c->second);
            changes_while_read.erase(c);
        }
        auto r = reads_of_parent.find(parent);
        if (r != reads_of_parent.end() && r->second.erase(id) && r->second.empty())
            reads_of_parent.erase(r);
        return log;
    }
    /* A change (cls "" when the entry left) for subscription sub, whose
     * album has no set yet: true when its set on the way took it. */
    bool change_set_on_the_way(long sub, const std::string& fdn, const std::string& cls)
    {
        auto s = sets_on_the_way.find(sub);
        if (s == sets_on_the_way.end()) return false;
        if (s->second.use_count() == 1) { /* nobody is left to take it */
            sets_on_the_way.erase(s);
            return false;
        }
        if (cls.empty())
            s->second->remove(fdn);
        else
            s->second->add(fdn, cls);
        return true;
    }
    void check_filter(PlatformImpl& plat, const std::string& fdn, const std::string& cls,
                      const std::string& filter, std::vector<long> subs, bool change);
    bool hand_on_page(PlatformImpl& plat, Op& op, bool last, long of);
    void follow(long sub, const std::string& parent, const std::string& filter)
    {
        subs_of_parent[parent].insert(sub);
        parent_of_sub[sub] = parent;
        if (!filter.empty()) filter_of_sub[sub] = filter;
    }
    /* What each_attribute needs of an attribute, by the name entries give
     * it: looked up in the schema once, not for every entry. */
    struct AttrInfo {
        bool hidden = false;     /* userPassword, structuralObjectClass */
        bool password = false;   /* userPassword: shown to a search for secrets */
        bool structural = false; /* structuralObjectClass: the entry's class */
        bool binary = false;
        bool read_only = false;
        std::string syntax;
    };
    std::unordered_map<std::string, AttrInfo> attr_info; /* emptied when the schema is read */
    std::vector<AttrValue> scratch_attrs;                /* image_of's, kept for the next entry */
    std::vector<std::string> scratch_bytes;              /* each_attribute's, likewise */
    std::map<std::string, json> blanks; /* blank's answers by class, until the schema is read */
    const AttrInfo& info_of(const std::string& attr);
    template <class Put>
    void each_attribute(LDAPMessage* entry, bool root, Put&& put, std::string* structural = nullptr,
                        bool secrets = false);
    json attributes_of(LDAPMessage* entry, bool root);
    json object_of(LDAPMessage* entry, const std::string& dn, bool remember);
    Image image_of(PlatformImpl& plat, LDAPMessage* entry, const std::string& dn, bool secrets);
    json blank(const std::string& cls, std::string& why);
    void add_absent(json& attrs);
    std::string describe_class(const std::string& cls, std::string& why);
    bool answer_local(PlatformImpl& plat, long id, const char* method, const json& params);
};

std::string LdapTransport::class_of(LDAPMessage* entry)
{
    ValuesGuard s;
    s.v = ldap_get_values_len(ld, entry, "structuralObjectClass");
    if (s.v && s.v[0]) return std::string(s.v[0]->bv_val, s.v[0]->bv_len);
    ValuesGuard oc;
    oc.v = ldap_get_values_len(ld, entry, "objectClass");
    /* The most specific structural class the entry names, else its last. */
    std::string last;
    for (int i = 0; oc.v && oc.v[i]; i++) {
        std::string c(oc.v[i]->bv_val, oc.v[i]->bv_len);
        const LdapObjectClass* k = schema.object_class(c);
        if (k && k->kind == "STRUCTURAL" && (last.empty() || schema.is_a(c, last))) last = c;
    }
    if (last.empty() && oc.v)
        for (int i = 0; oc.v[i]; i++) last = std::string(oc.v[i]->bv_val, oc.v[i]->bv_len);
    return last;
}

const LdapTransport::AttrInfo& LdapTransport::info_of(const std::string& attr)
{
    auto known = attr_info.find(attr);
    if (known != attr_info.end()) return known->second;
    AttrInfo& info = attr_info[attr];
    std::string base = lower(attr.substr(0, attr.find(';')));
    info.structural = base == "structuralobjectclass";
    info.password = base == "userpassword";
    info.hidden = info.password || info.structural;
    const LdapAttributeType* t = schema.attribute(attr);
    info.syntax = schema.syntax_of(attr);
    info.binary =
        LdapSchema::binary_syntax(info.syntax) || attr.find(";binary") != std::string::npos;
    info.read_only = !t || t->no_user_modification || t->operational;
    return info;
}

/* Calls put(name, syntax, read_only, text, bytes) for each attribute of the
 * entry a user may see, its values joined by newlines in text.  Values that
 * are bytes (a binary syntax, or no UTF-8) show there as their sizes, and
 * bytes points to the values themselves; it is null for text.  With secrets
 * the passwords come too, as bytes: for a copy of the entry, never a view. */
template <class Put>
void LdapTransport::each_attribute(LDAPMessage* entry, bool root, Put&& put,
                                   std::string* structural, bool secrets)
{
    /* The attributes and their values are read in one pass over the entry,
     * pointing into its encoding: asking for each attribute's values by name
     * would look for it from the start again. */
    BerElement* ber = nullptr;
    struct berval dn = {0, nullptr};
    if (ldap_get_dn_ber(ld, entry, &ber, &dn) != LDAP_SUCCESS) {
        if (ber) ber_free(ber, 0);
        return;
    }
    std::string text, attr;
    std::vector<std::string>& bytes = scratch_bytes;
    struct berval name = {0, nullptr};
    struct berval* values = nullptr;
    while (ldap_get_attribute_ber(ld, entry, ber, &name, &values) == LDAP_SUCCESS && name.bv_val) {
        attr.assign(name.bv_val, name.bv_len);
        const AttrInfo& info = info_of(attr);
        const bool hidden = info.hidden && !(secrets && info.password);
        if (structural && info.structural && values && values[0].bv_val)
            structural->assign(values[0].bv_val, values[0].bv_len);
        text.clear();
        bytes.clear();
        bool binary = info.binary || info.password;
        for (int i = 0; !hidden && !binary && values && values[i].bv_val; i++)
            binary = !valid_utf8(values[i].bv_val, values[i].bv_len);
        for (int i = 0; !hidden && values && values[i].bv_val; i++) {
            const berval& v = values[i];
            if (i) text += '\n';
            if (binary) {
                text += kvl_bytes_text(v.bv_len);
                bytes.emplace_back(v.bv_val, v.bv_len);
            } else {
                text.append(v.bv_val, v.bv_len);
            }
        }
        if (values) ber_memfree(values);
        values = nullptr;
        if (!hidden)
            put(attr, info.syntax, root || info.read_only, text, binary ? &bytes : nullptr);
    }
    ber_free(ber, 0);
}

json LdapTransport::attributes_of(LDAPMessage* entry, bool root)
{
    json attrs = json::array();
    each_attribute(entry, root,
                   [&](const std::string& attr, const std::string& syntax, bool read_only,
                       const std::string& text, std::vector<std::string>* bytes) {
                       json a = json::object();
                       a["name"] = attr;
                       a["syntax"] = syntax;
                       a["access"] = read_only ? "read-only" : "read-write";
                       a["value"] = text;
                       if (bytes) {
                           json& list = a["bytes"] = json::array();
                           for (const std::string& b : *bytes) list.push_back(kvl_base64(b));
                       }
                       attrs.push_back(std::move(a));
                   });
    return attrs;
}

/* The attributes that name dn's entry, as its first RDN gives them: "cn",
 * or "cn+uid" for a name of several values.  The DN is in libldap's string
 * form, where a ',', '+' or '=' within a value is escaped. */
std::string rdn_attributes(const std::string& dn)
{
    std::string out;
    bool in_value = false;
    for (size_t i = 0; i < dn.size() && dn[i] != ','; i++) {
        char c = dn[i];
        if (in_value) {
            if (c == '\\')
                i++;
            else if (c == '+')
                in_value = false, out += '+';
        } else if (c == '=') {
            in_value = true;
        } else {
            out += c;
        }
    }
    return out;
}

/* An entry as a get would leave its image, without the json between: a
 * subtree read with its values makes many. */
Image LdapTransport::image_of(PlatformImpl& plat, LDAPMessage* entry, const std::string& dn,
                              bool secrets)
{
    std::vector<AttrValue>& attrs = scratch_attrs; /* then moved into a list of their size */
    attrs.clear();
    AttrValue naming;
    naming.name = KVL_LDAP_NAMING_ATTRIBUTE;
    naming.access = "read-only";
    std::string named_by = rdn_attributes(dn);
    naming.value = DataUnit(named_by.data(), named_by.size());
    naming.read = naming.value;
    attrs.push_back(std::move(naming));
    std::string structural;
    each_attribute(
        entry, false,
        [&](const std::string& attr, const std::string& /* syntax */, bool read_only,
            const std::string& text, std::vector<std::string>* bytes) {
            AttrValue v;
            v.name = attr;
            v.access = read_only ? "read-only" : "read-write";
            v.value = DataUnit(text.data(), text.size());
            v.read = v.value;
            if (bytes) {
                v.binary = true;
                v.bytes = std::move(*bytes);
            }
            attrs.push_back(std::move(v));
        },
        &structural, secrets);
    /* The class as the pass found it; an entry without structuralObjectClass
     * is looked at again. */
    Image image = kvl_make_member_image(plat.shared_from_this(), fdn_of(dn),
                                        structural.empty() ? class_of(entry) : structural);
    ImageImpl& im = *image.impl_;
    im.user_name = dn;
    im.attrs.reserve(attrs.size());
    for (AttrValue& v : attrs) im.attrs.push_back(std::move(v));
    im.fetch_tried = true;
    im.booted = true;
    im.partial = true;
    return image;
}

/* An entry as a get answers it: its FDN, class and attributes, the RDN
 * attribute first (a new entry made from this one takes it).  remember: the
 * values are kept as the entry's last read, which a set compares with. */
json LdapTransport::object_of(LDAPMessage* entry, const std::string& dn, bool remember)
{
    json object = {{"name", fdn_of(dn)},
                   {"class", class_of(entry)},
                   {"attributes", attributes_of(entry, false)},
                   {"partial", true}};
    json& attrs = object["attributes"];
    if (remember) {
        writes.remember(object["name"].get<std::string>(), attrs);
        add_absent(attrs);
    }
    attrs.insert(attrs.begin(), json{{"name", KVL_LDAP_NAMING_ATTRIBUTE},
                                     {"syntax", DN_SYNTAX},
                                     {"access", "read-only"},
                                     {"value", rdn_attributes(dn)}});
    return object;
}

/* A directory lists an entry with the attributes that have values.  A form
 * shows the others its classes allow too, empty, for the user to give values
 * to: after those listed, the MUST ones, then the MAY ones (userPassword
 * only through setPassword). */
void LdapTransport::add_absent(json& attrs)
{
    std::set<std::string> listed;
    std::vector<std::string> classes;
    for (const json& a : attrs) {
        std::string name = str_field(a, "name");
        listed.insert(lower(name));
        if (lower(name) == "objectclass") classes = kvl_ldap_values(str_field(a, "value"));
    }
    listed.insert("userpassword");
    std::vector<std::string> must, may, m, y;
    for (const std::string& cls : classes) {
        if (!schema.attributes_of(cls, m, y)) continue;
        must.insert(must.end(), m.begin(), m.end());
        may.insert(may.end(), y.begin(), y.end());
        m.clear();
        y.clear();
    }
    for (auto* group : {&must, &may})
        for (const std::string& a : *group) {
            if (!listed.insert(lower(a)).second) continue;
            const LdapAttributeType* t = schema.attribute(a);
            bool read_only = t && (t->no_user_modification || t->operational);
            json attr = {{"name", a},
                         {"syntax", schema.syntax_of(a)},
                         {"access", read_only ? "read-only" : "read-write"},
                         {"value", ""}};
            if (info_of(a).binary) attr["bytes"] = json::array();
            attrs.push_back(std::move(attr));
        }
}

json LdapTransport::blank(const std::string& cls, std::string& why)
{
    auto known = blanks.find(cls);
    if (known != blanks.end()) return known->second;
    std::vector<std::string> must, may;
    if (!schema.attributes_of(cls, must, may)) {
        why = "no object class '" + cls + "' in the directory's schema";
        return json();
    }
    const LdapObjectClass* c = schema.object_class(cls);
    /* An entry is of one structural class; the others only add to it. */
    if (c->kind == "AUXILIARY" || c->kind == "ABSTRACT") {
        why = "'" + c->name + "' is an " + lower(c->kind) +
              " class: an entry is made of a structural one";
        return json();
    }
    json attrs = json::array({{{"name", KVL_LDAP_NAMING_ATTRIBUTE},
                               {"syntax", DN_SYNTAX},
                               {"access", "read-write"},
                               {"value", kvl_ldap_usual_naming(must)}}});
    for (auto* group : {&must, &may})
        for (const std::string& a : *group) {
            if (lower(a) == "userpassword") continue;
            const LdapAttributeType* t = schema.attribute(a);
            bool read_only = t && (t->no_user_modification || t->operational);
            json attr = {{"name", a},
                         {"syntax", schema.syntax_of(a)},
                         {"access", read_only ? "read-only" : "read-write"},
                         {"value", lower(a) == "objectclass" ? c->name : ""}};
            if (info_of(a).binary) attr["bytes"] = json::array();
            attrs.push_back(std::move(attr));
        }
    return blanks[cls] = json{{"class", c->name}, {"attributes", attrs}};
}

std::string LdapTransport::describe_class(const std::string& cls, std::string& why)
{
    std::vector<std::string> must, may;
    const LdapObjectClass* c = schema.object_class(cls);
    if (cls == "rootDSE") {
        std::string out = "class rootDSE\nderivedFrom none\nattributes\n";
        for (const char* a : {"namingContexts", "subschemaSubentry", "supportedControl",
                              "supportedExtension", "supportedLDAPVersion"})
            out += std::string("    labels { label \"") + a + "\" access \"read-only\" }\n";
        return out + "actions\n    label \"whoAmI\"\n";
    }
    if (!c || !schema.attributes_of(cls, must, may)) {
        why = "no object class '" + cls + "' in the directory's schema";
        return "";
    }
    std::string out = "class " + c->name + "\n";
    out += "derivedFrom " + (c->sup.empty() ? std::string("none") : c->sup[0]) + "\n";
    out += "attributes\n";
    out += std::string("    labels { label \"") + KVL_LDAP_NAMING_ATTRIBUTE + "\" syntax \"" +
           DN_SYNTAX + "\" access \"read-write\" }\n";
    for (auto* group : {&must, &may})
        for (const std::string& a : *group) {
            const LdapAttributeType* t = schema.attribute(a);
            bool read_only = t && (t->no_user_modification || t->operational);
            std::string syntax = schema.syntax_of(a);
            out += "    labels { label \"" + a + "\" syntax \"" + syntax + "\" access \"" +
                   (read_only ? "read-only" : "read-write") + "\" }\n";
        }
    out += "actions\n";
    for (const std::string& a : writes.actions_of(c->name)) out += "    label \"" + a + "\"\n";
    return out;
}



void LdapTransport::tell_unfollowed(PlatformImpl& plat)
{
    if (sync_refused_told) return;
    sync_refused_told = true;
    plat.events.push_back(json{{"method", "rawEvent"},
                               {"params",
                                {{"event", "changes by others are not followed (the directory "
                                           "offers no content synchronization)"},
                                 {"name", "/"}}}});
}

void LdapTransport::start_sync(PlatformImpl& plat)
{
    for (size_t i = 0; i < contexts.size(); i++) {
        const std::string& c = contexts[i];
        Op op;
        op.kind = Op::SYNC;
        op.base = c;
        /* From the context's present state on: no refresh of its whole
         * content, which a size limit would cut short. */
        if (!context_csns[i].empty()) op.cookie = "rid=000,csn=" + context_csns[i];
        op.got_entry = !op.cookie.empty(); /* what comes is change, not content */
        op.scope = LDAP_SCOPE_SUBTREE;
        op.attrs = {"structuralObjectClass"};
        std::string why;
        if (!start_search(plat, std::move(op), why)) tell_unfollowed(plat);
    }
}

bool LdapTransport::in_set(PlatformImpl& plat, long sub, const AlbumImpl& album,
                          const std::string& fdn)
{
    if (plat.events.empty()) told.clear();
    auto t = told.find({sub, fdn});
    return t != told.end() ? t->second : album.holds(fdn);
}

void LdapTransport::tell(PlatformImpl& plat, const char* event, long sub, const std::string& fdn,
                         const std::string& cls)
{
    bool created = std::strcmp(event, "OBJECT_CREATED") == 0;
    told[{sub, fdn}] = created;
    plat.events.push_back(json{
        {"method", "event"},
        {"params", {{"event", event}, {"name", fdn}, {"class", cls}, {"subscription", sub}}}});
}

/* An entry made or changed below its parent: it enters the sets of the
 * parent's tracked albums that do not hold it yet, an album with a filter
 * only when the server says the entry matches it (a base search of the entry
 * with the filter, one per filter); one that no longer matches leaves. */
void LdapTransport::arrive(PlatformImpl& plat, const std::string& fdn, const std::string& cls)
{
    note_while_read(fdn, cls);
    auto subs = subs_of_parent.find(parent_fdn(fdn));
    if (subs == subs_of_parent.end()) return;
    std::map<std::string, std::vector<long>> by_filter;
    for (long sub : subs->second) {
        auto f = filter_of_sub.find(sub);
        if (f != filter_of_sub.end()) {
            by_filter[f->second].push_back(sub);
            continue;
        }
        auto album = plat.album_for_subscription(sub);
        if (album) sets_on_the_way.erase(sub);
        if (!album)
            change_set_on_the_way(sub, fdn, cls);
        else if (!in_set(plat, sub, *album, fdn))
            tell(plat, "OBJECT_CREATED", sub, fdn, cls);
    }
    bool change = true; /* one change: the checks of its filters count together */
    for (auto& f : by_filter) {
        check_filter(plat, fdn, cls, f.first, std::move(f.second), change);
        change = false;
    }
}

/* Asks the server whether the entry fdn matches filter (a base search), for
 * the albums subs, which it then enters or leaves; change: for a new change
 * of the entry, which makes the checks for earlier ones stale. */
void LdapTransport::check_filter(PlatformImpl& plat, const std::string& fdn,
                                 const std::string& cls, const std::string& filter,
                                 std::vector<long> subs, bool change)
{
    std::string dn, why;
    if (!kvl_ldap_fdn_to_dn(fdn, dn, why)) return;
    Checks& c = checks[fdn];
    if (change) c.generation++;
    {
        Op op;
        op.kind = Op::CHECK;
        op.base = dn;
        op.filter = filter;
        op.attrs = {"1.1"};
        op.fdn = fdn;
        op.cls = cls;
        op.subs = std::move(subs);
        op.generation = c.generation;
        if (start_search(plat, std::move(op), why)) c.in_flight++;
    }
    if (c.in_flight == 0) checks.erase(fdn);
}

/* An entry gone from below its parent (deleted, renamed or moved): it leaves
 * the sets that hold it, and a check under way for it no longer counts. */
void LdapTransport::leave(PlatformImpl& plat, const std::string& fdn)
{
    note_while_read(fdn, "");
    auto c = checks.find(fdn);
    if (c != checks.end()) c->second.generation++;
    auto subs = subs_of_parent.find(parent_fdn(fdn));
    if (subs == subs_of_parent.end()) return;
    for (long sub : subs->second) {
        auto album = plat.album_for_subscription(sub);
        if (album) sets_on_the_way.erase(sub);
        if (!album)
            change_set_on_the_way(sub, fdn, "");
        else if (in_set(plat, sub, *album, fdn))
            tell(plat, "OBJECT_DESTROYED", sub, fdn, "");
    }
}

/* The answer to a filter check: the entry enters the sets of the albums it
 * matches and leaves those it no longer matches, unless a later change of it
 * asked again. */
bool LdapTransport::check_current(const Op& op)
{
    auto c = checks.find(op.fdn);
    if (c == checks.end()) return false;
    bool current = c->second.generation == op.generation;
    if (--c->second.in_flight <= 0) checks.erase(c);
    return current;
}

void LdapTransport::checked(PlatformImpl& plat, const Op& op, bool matches)
{
    if (!check_current(op)) return;
    for (long sub : op.subs) {
        if (!parent_of_sub.count(sub)) continue; /* unsubscribed meanwhile */
        auto album = plat.album_for_subscription(sub);
        if (!album) continue;
        bool was = in_set(plat, sub, *album, op.fdn);
        if (matches && !was) tell(plat, "OBJECT_CREATED", sub, op.fdn, op.cls);
        if (!matches && was) tell(plat, "OBJECT_DESTROYED", sub, op.fdn, "");
    }
}

void LdapTransport::reread(PlatformImpl& plat, const std::string& fdn, bool report_changes)
{
    std::string dn, why;
    if (!kvl_ldap_fdn_to_dn(fdn, dn, why)) return;
    Op op;
    op.kind = Op::WATCH_READ;
    op.base = dn;
    op.attrs = {"*", "ref"};
    op.result = json{{"fdn", fdn}};
    op.got_entry = report_changes;
    start_search(plat, std::move(op), why);
}

/* Takes the values of a watched entry; with report, an ATTR_CHANGED for each
 * attribute whose values differ from the last read.  The event carries the
 * text, and values of bytes as the get does. */
void LdapTransport::compare(PlatformImpl& plat, const std::string& fdn, LDAPMessage* entry,
                            bool report)
{
    auto w = watched.find(fdn);
    if (w == watched.end()) return;
    std::map<std::string, json> now;
    for (json& a : attributes_of(entry, false)) {
        std::string attr = a["name"].get<std::string>();
        a.erase("name");
        a.erase("syntax");
        a.erase("access");
        now[attr] = std::move(a);
    }
    if (report) {
        std::set<std::string> names;
        for (auto& v : now) names.insert(v.first);
        for (auto& v : w->second) names.insert(v.first);
        for (const std::string& a : names) {
            auto before = w->second.find(a);
            auto after = now.find(a);
            const json gone = {{"value", ""}};
            const json& old_values = before == w->second.end() ? gone : before->second;
            const json& new_values = after == now.end() ? gone : after->second;
            if (old_values == new_values) continue;
            json params = new_values;
            params["event"] = "ATTR_CHANGED";
            params["name"] = fdn;
            params["attribute"] = a;
            plat.events.push_back(json{{"method", "event"}, {"params", std::move(params)}});
        }
    }
    w->second = std::move(now);
}

void LdapTransport::take_sync_entry(PlatformImpl& plat, Op& op, LDAPMessage* entry,
                                    const std::string& fdn)
{
    LDAPControl** ctrls = nullptr;
    if (ldap_get_entry_controls(ld, entry, &ctrls) != LDAP_SUCCESS || !ctrls) return;
    LDAPControl* state_ctrl = ldap_control_find(LDAP_CONTROL_SYNC_STATE, ctrls, nullptr);
    ber_int_t state = -1;
    std::string uuid;
    if (state_ctrl) {
        BerElement* ber = ber_init(&state_ctrl->ldctl_value);
        struct berval id = {0, nullptr};
        if (ber && ber_scanf(ber, "{em", &state, &id) != LBER_ERROR && id.bv_val) {
            uuid.assign(id.bv_val, id.bv_len);
            ber_len_t len = 0;
            struct berval cookie = {0, nullptr};
            if (ber_peek_tag(ber, &len) == LDAP_TAG_SYNC_COOKIE &&
                ber_scanf(ber, "m", &cookie) != LBER_ERROR && cookie.bv_val)
                op.cookie.assign(cookie.bv_val, cookie.bv_len);
        }
        if (ber) ber_free(ber, 1);
    }
    ldap_controls_free(ctrls);
    if (uuid.empty()) return;
    std::string cls = class_of(entry);
    auto known = fdn_of_uuid.find(uuid);
    switch (state) {
    case LDAP_SYNC_ADD:
    case LDAP_SYNC_MODIFY: {
        /* Still in the refresh, an entry is one made or changed after the
         * context's state read at connect: a tracked derivation may or may
         * not have read it, and the albums' sets tell which. */
        std::string old_name = known == fdn_of_uuid.end() ? std::string() : known->second;
        /* An entry not seen before is a creation, or a change (a rename
         * too) of one no derivation read. */
        bool created = old_name.empty() &&
                       (state == LDAP_SYNC_ADD || (!watched.count(fdn) && !held(plat, fdn)));
        fdn_of_uuid[uuid] = fdn;
        if (!old_name.empty() && old_name != fdn) { /* a rename: it leaves, and comes back */
            raw(plat, "OBJECT_DESTROYED", old_name);
            leave(plat, old_name);
            created = true;
        }
        if (created) {
            raw(plat, "OBJECT_CREATED", fdn);
        } else {
            raw(plat, "ATTR_CHANGED", fdn);
            if (watched.count(fdn)) reread(plat, fdn, true);
        }
        arrive(plat, fdn, cls);
        break;
    }
    case LDAP_SYNC_DELETE: {
        std::string name = known == fdn_of_uuid.end() ? fdn : known->second;
        if (known != fdn_of_uuid.end()) fdn_of_uuid.erase(known);
        raw(plat, "OBJECT_DESTROYED", name);
        leave(plat, name);
        break;
    }
    default: break;
    }
}

void LdapTransport::take_intermediate(PlatformImpl& plat, Op& op, LDAPMessage* msg)
{
    char* oid = nullptr;
    struct berval* data = nullptr;
    if (ldap_parse_intermediate(ld, msg, &oid, &data, nullptr, 0) != LDAP_SUCCESS) return;
    TextGuard g;
    g.p = oid;
    if (oid && std::strcmp(oid, LDAP_SYNC_INFO) == 0 && data) {
        BerElement* ber = ber_init(data);
        ber_len_t len = 0;
        ber_tag_t tag = ber ? ber_peek_tag(ber, &len) : LBER_ERROR;
        /* refreshDelete or refreshPresent (refreshDone defaults to TRUE)
         * ends the refresh phase: from now on entries are changes. */
        if (tag == LDAP_TAG_SYNC_REFRESH_DELETE || tag == LDAP_TAG_SYNC_REFRESH_PRESENT)
            op.got_entry = true;
        if (ber) ber_free(ber, 1);
    }
    if (data) ber_bvfree(data);
    (void)plat;
}

/* A filter quoted in a refusal, its first 200 bytes when it is longer. */
static std::string quoted_filter(const std::string& filter)
{
    return "'" + (filter.size() > 200 ? filter.substr(0, 200) + "..." : filter) + "'";
}

bool LdapTransport::start_search(PlatformImpl& plat, Op op, std::string& why)
{
    std::vector<char*> attrs;
    for (std::string& a : op.attrs) attrs.push_back(&a[0]);
    attrs.push_back(nullptr);
    LDAPControl* page = nullptr;
    LDAPControl* ctrls[3] = {nullptr, nullptr, nullptr};
    size_t nctrls = 0;
    if (op.paged) {
        struct berval cookie = {static_cast<ber_len_t>(op.cookie.size()),
                                op.cookie.empty() ? nullptr : &op.cookie[0]};
        int rc = ldap_create_page_control(ld, SEARCH_PAGE_SIZE,
                                          op.cookie.empty() ? nullptr : &cookie, 0, &page);
        if (rc != LDAP_SUCCESS) {
            why = std::string("cannot make the paged-results control: ") + ldap_err2string(rc);
            return false;
        }
        ctrls[nctrls++] = page;
    }
    LDAPControl* sync = nullptr;
    if (op.kind == Op::SYNC) {
        BerElement* ber = ber_alloc_t(LBER_USE_DER);
        struct berval* value = nullptr;
        struct berval cookie = {static_cast<ber_len_t>(op.cookie.size()),
                                op.cookie.empty() ? nullptr : &op.cookie[0]};
        int printed = op.cookie.empty()
                          ? ber_printf(ber, "{e}", static_cast<ber_int_t>(LDAP_SYNC_REFRESH_AND_PERSIST))
                          : ber_printf(ber, "{eO}", static_cast<ber_int_t>(LDAP_SYNC_REFRESH_AND_PERSIST),
                                       &cookie);
        if (!ber || printed < 0 || ber_flatten(ber, &value) < 0) {
            if (ber) ber_free(ber, 1);
            why = "cannot make the content synchronization control";
            return false;
        }
        ber_free(ber, 1);
        int crc = ldap_control_create(LDAP_CONTROL_SYNC, 1, value, 1, &sync);
        ber_bvfree(value);
        if (crc != LDAP_SUCCESS) {
            why = std::string("cannot make the content synchronization control: ") +
                  ldap_err2string(crc);
            return false;
        }
        ctrls[nctrls++] = sync;
    }
    /* Referral entries come back as entries, not as referrals to follow. */
    LDAPControl* manage = nullptr;
    if (manage_dsa_it) {
        int mrc = ldap_control_create(LDAP_CONTROL_MANAGEDSAIT, 1, nullptr, 0, &manage);
        if (mrc != LDAP_SUCCESS) {
            if (page) ldap_control_free(page);
            if (sync) ldap_control_free(sync);
            why = std::string("cannot make the ManageDsaIT control: ") + ldap_err2string(mrc);
            return false;
        }
        ctrls[nctrls++] = manage;
    }
    int msgid = 0;
    int rc = ldap_search_ext(ld, op.base.c_str(), op.scope,
                             op.filter.empty() ? "(objectClass=*)" : op.filter.c_str(),
                             op.attrs.empty() ? nullptr : attrs.data(), 0,
                             ctrls[0] ? ctrls : nullptr, nullptr, nullptr, 0, &msgid);
    if (page) ldap_control_free(page);
    if (sync) ldap_control_free(sync);
    if (manage) ldap_control_free(manage);
    if (rc != LDAP_SUCCESS) {
        why = result_text(rc, nullptr);
        /* libldap says no more than that the filter is bad: where it is
         * malformed comes from our own reading of it. */
        if (rc == LDAP_FILTER_ERROR) {
            std::string fault = kvl_ldap_filter_fault(op.filter);
            why += ": " + (fault.empty() ? std::string("malformed filter") : fault) + " in " +
                   quoted_filter(op.filter);
        }
        if (rc == LDAP_SERVER_DOWN) plat.lost(why);
        return false;
    }
    ops[msgid] = std::move(op);
    return true;
}

/* A directory takes a filter item of a type it does not know as Undefined
 * and quietly matches nothing, so a misspelt attribute would leave a tree
 * empty without a word; it is refused here instead, as qx_mis refuses it,
 * when the subschema could be read. */
bool LdapTransport::known_attributes(const std::string& filter, std::string& why) const
{
    if (filter.empty() || schema.empty()) return true;
    for (const LdapFilterAttribute& a : kvl_ldap_filter_attributes(filter)) {
        if (schema.attribute(a.name)) continue;
        why = std::string(ldap_err2string(LDAP_UNDEFINED_TYPE)) + ": unknown attribute '" + a.name +
              "' at position " + std::to_string(a.position) + " in " + quoted_filter(filter);
        return false;
    }
    return true;
}

bool LdapTransport::begin(PlatformImpl& plat, Op op)
{
    long id = op.id;
    int kind = op.kind;
    std::string why;
    bool user_filter = kind == Op::DERIVE || kind == Op::SEARCH;
    if (user_filter && !known_attributes(op.filter, why)) {
        plat.fail(id, KVL_ERR_BAD_DERIVATION, why);
        return true;
    }
    if (start_search(plat, std::move(op), why)) return true;
    if (!plat.connected) return false;
    plat.fail(id, user_filter ? KVL_ERR_BAD_DERIVATION : KVL_ERR_SERVER, why);
    return true;
}

/* A derivation string: FDN "/" STAR, then optionally "/CMISFilter(" filter ")". */
bool split_derivation(const std::string& d, std::string& base, std::string& filter)
{
    static const std::string head = "/CMISFilter(";
    for (size_t at = d.find("/*"); at != std::string::npos; at = d.find("/*", at + 1)) {
        std::string rest = d.substr(at + 2);
        if (rest.empty() ||
            (rest.compare(0, head.size(), head) == 0 && rest.back() == ')')) {
            base = at == 0 ? "/" : d.substr(0, at);
            filter = rest.empty() ? "" : rest.substr(head.size(), rest.size() - head.size() - 1);
            return true;
        }
    }
    return false;
}

bool LdapTransport::answer_local(PlatformImpl& plat, long id, const char* method, const json& params)
{
    std::string m = method;
    if (m == "watch") {
        std::string fdn = str_field(params, "name");
        if (!watched.count(fdn)) {
            watched[fdn];
            reread(plat, fdn, false);
        }
        if (!sync_offered) tell_unfollowed(plat);
        plat.answer(id, json::object());
        return true;
    }
    if (m == "unwatch") {
        watched.erase(str_field(params, "name"));
        plat.answer(id, json::object());
        return true;
    }
    if (m == "unsubscribe") {
        long sub = params.contains("subscription") && params["subscription"].is_number_integer()
                       ? params["subscription"].get<long>()
                       : 0;
        auto p = parent_of_sub.find(sub);
        if (p != parent_of_sub.end()) {
            subs_of_parent[p->second].erase(sub);
            if (subs_of_parent[p->second].empty()) subs_of_parent.erase(p->second);
            parent_of_sub.erase(p);
        }
        filter_of_sub.erase(sub);
        sets_on_the_way.erase(sub);
        plat.answer(id, json::object());
        return true;
    }
    if (m == "cancel") { /* a paged derivation stopped by its caller: its searches end */
        long of = params.contains("id") && params["id"].is_number_integer() ? params["id"].get<long>() : 0;
        for (auto o = ops.begin(); of && o != ops.end(); ++o)
            if (o->second.id == of && o->second.kind == Op::DERIVE) {
                if (o->second.count && o->second.pages == 0) end_read(of, fdn_of(o->second.base));
                if (ld) ldap_abandon_ext(ld, o->first, nullptr, nullptr);
                ops.erase(o);
                break;
            }
        plat.answer(id, json::object());
        return true;
    }
    if (m == "syntax") {
        std::string attr = str_field(params, "attribute");
        if (attr == KVL_LDAP_NAMING_ATTRIBUTE || attr == "namingAttribute") {
            plat.answer(id, json{{"name", "naming attribute"},
                                 {"description", "the attribute whose value names a new entry (its RDN)"},
                                 {"rule", "an attribute type of the entry's class"},
                                 {"expansion", json::array({"the RDN attribute of the entry"})}});
            return true;
        }
        const LdapAttributeType* t = schema.attribute(attr);
        if (!t) {
            plat.fail(id, KVL_ERR_NO_ATTRIBUTE, "no attribute type '" + attr + "' in the directory's schema");
            return true;
        }
        std::string oid = schema.syntax_of(attr);
        std::string desc = schema.syntax_description(oid);
        std::string rule = (desc.empty() ? oid : desc) +
                           (t->length.empty() ? "" : " of at most " + t->length + " characters") +
                           (t->single ? ", one value" : ", one value per line");
        json expansion = json::array({"attribute type " + t->name + " (" + t->oid + ")",
                                      "syntax " + oid + (desc.empty() ? "" : " (" + desc + ")")});
        if (t->no_user_modification) expansion.push_back("NO-USER-MODIFICATION");
        if (t->operational) expansion.push_back("operational");
        plat.answer(id, json{{"name", desc.empty() ? oid : desc},
                             {"description", oid},
                             {"rule", rule},
                             {"expansion", expansion}});
        return true;
    }
    if (m == "blank") {
        std::string why;
        json result = blank(str_field(params, "class"), why);
        if (result.is_null())
            plat.fail(id, KVL_ERR_NO_CLASS, why);
        else
            plat.answer(id, result);
        return true;
    }
    if (m == "validate") {
        std::string attr = str_field(params, "attribute"), unknown;
        if (attr == KVL_LDAP_NAMING_ATTRIBUTE) {
            /* One attribute, or several joined by '+' for a name of several values. */
            std::string names = str_field(params, "value") + "+";
            for (size_t at = 0, plus; unknown.empty() && (plus = names.find('+', at)) != names.npos;
                 at = plus + 1)
                if (!schema.attribute(names.substr(at, plus - at)))
                    unknown = plus > at ? names.substr(at, plus - at) : "(none)";
        }
        if (attr == KVL_LDAP_NAMING_ATTRIBUTE && !unknown.empty())
            plat.fail(id, KVL_ERR_SYNTAX,
                      "the naming attribute '" + unknown +
                          "' is no attribute type of the directory's schema");
        else if (attr == KVL_LDAP_NAMING_ATTRIBUTE)
            plat.answer(id, json{{"value", str_field(params, "value")}});
        else if (!schema.attribute(attr))
            plat.fail(id, KVL_ERR_NO_ATTRIBUTE, "no attribute type '" + attr + "' in the directory's schema");
        else
            plat.answer(id, json{{"value", str_field(params, "value")}});
        return true;
    }
    if (m == "action") {
        std::string name = str_field(params, "name");
        std::string action = str_field(params, "action");
        /* The editor's repository object: /systemId="<host>"/metaName="MDR". */
        static const std::string suffix = "/metaName=\"MDR\"";
        bool repository = name.size() > suffix.size() &&
                          name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
        if (repository && action == "getObjectClass") {
            std::string why;
            std::string text = describe_class(str_field(params, "parameter"), why);
            if (text.empty())
                plat.fail(id, KVL_ERR_NO_CLASS, why);
            else
                plat.answer(id, json{{"reply", text}});
        } else {
            plat.fail(id, KVL_ERR_NO_ACTION,
                      "a directory's classes have no actions ('" + action + "' on " + name + ")");
        }
        return true;
    }
    return false;
}

bool LdapTransport::send(PlatformImpl& plat, long id, const char* method, const json& params)
{
    if (!ld) return false;
    if (writes.send(plat, ld, id, method, params)) return true;
    if (answer_local(plat, id, method, params)) return true;
    std::string m = method;
    std::string why;
    Op op;
    op.id = id;
    if (m == "get") {
        std::string name = str_field(params, "name");
        std::string dn;
        if (!kvl_ldap_fdn_to_dn(name, dn, why)) {
            plat.fail(id, KVL_ERR_BAD_NAME, why);
            return true;
        }
        op.kind = Op::GET;
        op.base = dn;
        op.root = dn.empty();
        op.want_class = str_field(params, "class");
        /* ref, the URLs of a referral entry, is operational: asked for by name. */
        op.attrs = op.root ? std::vector<std::string>{"*", "+"}
                           : std::vector<std::string>{"*", "structuralObjectClass", "ref"};
        return begin(plat, std::move(op));
    }
    if (m == "derive") {
        std::string base, filter, dn;
        if (!split_derivation(str_field(params, "derivation"), base, filter)) {
            plat.fail(id, KVL_ERR_BAD_DERIVATION,
                      "derivation string '" + str_field(params, "derivation") + "' refused");
            return true;
        }
        if (!kvl_ldap_fdn_to_dn(base, dn, why)) {
            plat.fail(id, KVL_ERR_BAD_NAME, why);
            return true;
        }
        long sub = 0;
        if (params.contains("subscribe") && params["subscribe"] == true) {
            if (!sync_offered) tell_unfollowed(plat);
            sub = ++next_sub;
            if (dn.empty()) follow(sub, "/", ""); /* the filter is not applied there */
        }
        if (dn.empty()) { /* the root DSE: its children are the naming contexts */
            auto snap = std::make_shared<AlbumSnapshot>();
            for (size_t i = 0; i < contexts.size(); i++)
                snap->add(fdn_of(contexts[i]), context_classes[i]);
            auto it = plat.pending.find(id);
            if (it != plat.pending.end()) it->second.members = snap;
            json result = {{"count", contexts.size()}};
            if (sub) result["subscription"] = sub;
            plat.answer(id, result);
            return true;
        }
        op.kind = Op::DERIVE;
        op.count = sub;
        op.base = dn;
        if (sub) reads_of_parent[fdn_of(dn)].insert(id); /* followed from the first page */
        op.scope = LDAP_SCOPE_ONELEVEL;
        op.filter = filter;
        op.attrs = {"structuralObjectClass", "entryUUID"};
        op.paged = true;
        op.members = std::make_shared<AlbumSnapshot>();
        return begin(plat, std::move(op));
    }
    if (m == "search") {
        std::string dn;
        if (!kvl_ldap_fdn_to_dn(str_field(params, "base"), dn, why)) {
            plat.fail(id, KVL_ERR_BAD_NAME, why);
            return true;
        }
        op.kind = Op::SEARCH;
        op.filter = str_field(params, "filter");
        int depth = params.contains("depth") && params["depth"].is_number_integer()
                        ? params["depth"].get<int>()
                        : -1;
        op.limit = params.contains("limit") && params["limit"].is_number_integer()
                       ? params["limit"].get<int>()
                       : SEARCH_LIMIT;
        op.count_only = op.limit == 0;
        op.values = !op.count_only && params.contains("values") && params["values"].is_boolean() &&
                    params["values"].get<bool>();
        op.secrets = op.values && params.contains("secrets") && params["secrets"].is_boolean() &&
                     params["secrets"].get<bool>();
        op.scope = depth == 0 ? LDAP_SCOPE_BASE : depth == 1 ? LDAP_SCOPE_ONELEVEL
                                                             : LDAP_SCOPE_SUBORDINATE;
        op.attrs = op.count_only ? std::vector<std::string>{"1.1"}
                   : op.values   ? std::vector<std::string>{"*", "structuralObjectClass", "ref"}
                                 : std::vector<std::string>{"structuralObjectClass"};
        op.paged = true;
        if (dn.empty() && op.values && depth != 0) {
            /* Below the root DSE, with values: the naming contexts are read
             * with what is below them, each one's subtree a search. */
            if (contexts.empty()) {
                plat.answer(id,
                            json{{"objects", json::array()}, {"count", 0}, {"truncated", false}});
                return true;
            }
            op.scope = depth == 1 ? LDAP_SCOPE_BASE : LDAP_SCOPE_SUBTREE;
            op.bases = contexts;
            op.base = op.bases.back();
            op.bases.pop_back();
        } else if (dn.empty()) {
            /* below the root DSE: the naming contexts and what is below them */
            for (size_t i = 0; i < contexts.size(); i++) {
                op.count++;
                if (!op.count_only && static_cast<int>(op.found.size()) < op.limit)
                    op.found.emplace_back(fdn_of(contexts[i]), context_classes[i]);
            }
            if (contexts.empty() || depth == 1) {
                json objects = json::array();
                for (auto& f : op.found) objects.push_back({{"name", f.first}, {"class", f.second}});
                plat.answer(id, json{{"objects", objects}, {"count", op.count}, {"truncated", false}});
                return true;
            }
            op.bases = contexts;
            op.base = op.bases.back();
            op.bases.pop_back();
        } else {
            op.base = dn;
        }
        return begin(plat, std::move(op));
    }
    plat.fail(id, KVL_ERR_ARGUMENT,
              std::string("a directory does not offer '") + method + "' through this library");
    return true;
}

void LdapTransport::take_entry(PlatformImpl& plat, Op& op, LDAPMessage* entry)
{
    TextGuard dn;
    dn.p = ldap_get_dn(ld, entry);
    std::string text = dn.p ? dn.p : "";
    switch (op.kind) {
    case Op::GET: {
        op.got_entry = true;
        if (op.root)
            op.result = json{
                {"name", "/"}, {"class", "rootDSE"}, {"attributes", attributes_of(entry, true)}};
        else
            op.result = object_of(
                entry, text, std::find(op.attrs.begin(), op.attrs.end(), "*") != op.attrs.end());
        const std::string cls = str_field(op.result, "class");
        if (!op.want_class.empty() && !op.root && !schema.is_a(cls, op.want_class)) {
            ValuesGuard oc;
            oc.v = ldap_get_values_len(ld, entry, "objectClass");
            bool has = false;
            for (int i = 0; oc.v && oc.v[i] && !has; i++)
                has = schema.is_a(std::string(oc.v[i]->bv_val, oc.v[i]->bv_len), op.want_class);
            if (!has) op.result["conflict"] = cls;
        }
        break;
    }
    case Op::ROOT_DSE: {
        op.got_entry = true;
        for (const char* a : {"namingContexts", "subschemaSubentry", "supportedControl"}) {
            ValuesGuard v;
            v.v = ldap_get_values_len(ld, entry, a);
            json list = json::array();
            for (int i = 0; v.v && v.v[i]; i++) list.push_back(std::string(v.v[i]->bv_val, v.v[i]->bv_len));
            op.result[a] = list;
        }
        break;
    }
    case Op::SCHEMA: {
        op.got_entry = true;
        attr_info.clear();
        blanks.clear();
        for (const char* a : {"ldapSyntaxes", "attributeTypes", "objectClasses"}) {
            ValuesGuard v;
            v.v = ldap_get_values_len(ld, entry, a);
            for (int i = 0; v.v && v.v[i]; i++) {
                std::string d(v.v[i]->bv_val, v.v[i]->bv_len);
                if (a[0] == 'l')
                    schema.add_syntax(d);
                else if (a[0] == 'a')
                    schema.add_attribute_type(d);
                else
                    schema.add_object_class(d);
            }
        }
        break;
    }
    case Op::DERIVE: {
        std::string fdn = fdn_of(text);
        std::string cls = class_of(entry);
        if (sync_offered) { /* a later rename of it is told by its entryUUID */
            ValuesGuard id;
            id.v = ldap_get_values_len(ld, entry, "entryUUID");
            if (id.v && id.v[0]) fdn_of_uuid[uuid_bytes(id.v[0]->bv_val, id.v[0]->bv_len)] = fdn;
        }
        AlbumSnapshot& m = *op.members;
        size_t at = m.text.size();
        m.text += fdn;
        m.append(at, cls.data(), cls.size());
        break;
    }
    case Op::SEARCH: {
        op.count++;
        if (op.count_only || static_cast<long>(op.found.size()) + op.handed >= op.limit) break;
        auto reply = op.values ? plat.pending.find(op.id) : plat.pending.end();
        if (reply != plat.pending.end() && reply->second.each) {
            /* Handed over as it comes, not kept. */
            op.handed++;
            Image image = image_of(plat, entry, text, op.secrets);
            if (!reply->second.each_stopped && !reply->second.each(image))
                reply->second.each_stopped = true;
        } else if (op.values) {
            op.images.push_back(image_of(plat, entry, text, op.secrets));
            op.found.emplace_back(op.images.back().impl_->name, op.images.back().impl_->cls);
        } else {
            op.found.emplace_back(fdn_of(text), class_of(entry));
        }
        break;
    }
    case Op::SYNC: take_sync_entry(plat, op, entry, fdn_of(text)); break;
    case Op::WATCH_READ: {
        std::string fdn = str_field(op.result, "fdn");
        compare(plat, fdn, entry, op.got_entry);
        break;
    }
    case Op::CHECK: op.got_entry = true; break;
    case Op::BIND: break;
    }
}

void LdapTransport::finish(PlatformImpl& plat, int msgid, Op& op, LDAPMessage* res)
{
    int rc = LDAP_OTHER;
    char* matched = nullptr;
    char* diagnostic = nullptr;
    LDAPControl** ctrls = nullptr;
    int prc = op.kind == Op::BIND
                  ? ldap_parse_result(ld, res, &rc, &matched, &diagnostic, nullptr, nullptr, 0)
                  : ldap_parse_result(ld, res, &rc, &matched, &diagnostic, nullptr, &ctrls, 0);
    TextGuard m1, m2;
    m1.p = matched;
    m2.p = diagnostic;
    if (prc != LDAP_SUCCESS) rc = prc;
    std::string next_cookie;
    long estimate = 0; /* the server's count of the entries in all pages, when it gives one */
    if (ctrls) {
        if (LDAPControl* page = ldap_control_find(LDAP_CONTROL_PAGEDRESULTS, ctrls, nullptr)) {
            ber_int_t size = 0;
            struct berval cookie = {0, nullptr};
            if (ldap_parse_pageresponse_control(ld, page, &size, &cookie) == LDAP_SUCCESS) {
                estimate = size > 0 ? size : 0;
                if (cookie.bv_val) {
                    next_cookie.assign(cookie.bv_val, cookie.bv_len);
                    ber_memfree(cookie.bv_val);
                }
            }
        }
        ldap_controls_free(ctrls);
    }
    Op done = std::move(op);
    ops.erase(msgid);
    if (done.kind == Op::SYNC) {
        /* A persistent search ends when a limit of the server's ends it:
         * it goes on from the last cookie.  Any other end stops following. */
        std::string why;
        if ((rc == LDAP_SIZELIMIT_EXCEEDED || rc == LDAP_TIMELIMIT_EXCEEDED) && done.got_entry &&
            !done.cookie.empty() && ++sync_restarts <= SYNC_RESTARTS &&
            start_search(plat, std::move(done), why))
            return;
        tell_unfollowed(plat);
        return;
    }
    if (done.kind == Op::WATCH_READ) return;
    if (done.kind == Op::CHECK) {
        /* Gone meanwhile is not matching; any other failure decides nothing. */
        if (rc == LDAP_SUCCESS || rc == LDAP_NO_SUCH_OBJECT)
            checked(plat, done, done.got_entry);
        else
            check_current(done);
        return;
    }
    if (rc != LDAP_SUCCESS) {
        if (done.kind == Op::DERIVE && done.count && done.pages == 0) end_read(done.id, fdn_of(done.base));
        std::string text = result_text(rc, diagnostic);
        if (rc == LDAP_NO_SUCH_OBJECT && done.kind != Op::BIND)
            text += " (" + (done.base.empty() ? std::string("the root DSE") : done.base) + ")";
        plat.fail(done.id, error_type(rc), text, rc);
        return;
    }
    auto reply = done.kind == Op::SEARCH ? plat.pending.find(done.id) : plat.pending.end();
    if (reply != plat.pending.end() && reply->second.each_stopped) {
        plat.fail(done.id, KVL_ERR_ARGUMENT, "the search was stopped by its caller");
        return;
    }
    if (done.paged && !next_cookie.empty()) { /* the next page of the same search */
        if (done.kind == Op::DERIVE) hand_on_page(plat, done, false, estimate);
        done.cookie = next_cookie;
        long id = done.id;
        std::string why;
        if (!start_search(plat, std::move(done), why) && plat.connected)
            plat.fail(id, KVL_ERR_SERVER, why);
        return;
    }
    if (done.kind == Op::SEARCH && !done.bases.empty()) { /* the next naming context */
        done.base = done.bases.back();
        done.bases.pop_back();
        done.cookie.clear();
        long id = done.id;
        std::string why;
        if (!start_search(plat, std::move(done), why) && plat.connected)
            plat.fail(id, KVL_ERR_SERVER, why);
        return;
    }
    switch (done.kind) {
    case Op::GET:
        if (!done.got_entry) {
            plat.fail(done.id, KVL_ERR_NO_OBJECT, "No such object (" + done.base + ")", LDAP_NO_SUCH_OBJECT);
        } else if (done.result.contains("conflict")) {
            plat.fail(done.id, KVL_ERR_CLASS_CONFLICT,
                      "the entry " + done.base + " is of class " + str_field(done.result, "conflict") +
                          ", not " + done.want_class);
        } else {
            plat.answer(done.id, std::move(done.result));
        }
        break;
    case Op::DERIVE: {
        if (hand_on_page(plat, done, true, estimate)) break;
        /* Asked for whole: one answer, the changes meanwhile applied to it. */
        done.members->index_all();
        std::vector<std::pair<std::string, std::string>> changed;
        if (done.count) changed = end_read(done.id, fdn_of(done.base));
        /* What changed while the pages came, in order: an entry gone leaves
         * the set; one made or changed enters it when no filter applies, and
         * is checked against the filter once the set is followed. */
        for (const auto& ch : changed) {
            if (ch.second.empty())
                done.members->remove(ch.first);
            else if (done.filter.empty())
                done.members->add(ch.first, ch.second);
        }
        done.members->text.shrink_to_fit();
        done.members->list.shrink_to_fit();
        auto it = plat.pending.find(done.id);
        if (it != plat.pending.end()) it->second.members = done.members;
        json result = {{"count", done.members->live}};
        if (done.count) { /* followed from now on: the set is the album's */
            follow(done.count, fdn_of(done.base), done.filter);
            if (done.filter.empty()) sets_on_the_way[done.count] = done.members;
            result["subscription"] = done.count;
        }
        plat.answer(done.id, result);
        if (!done.filter.empty())
            for (const auto& ch : changed)
                if (!ch.second.empty()) check_filter(plat, ch.first, ch.second, done.filter, {done.count}, true);
        break;
    }
    case Op::SEARCH: {
        json objects = json::array();
        if (done.values) { /* the images, booted, in name order; no objects */
            std::vector<size_t> order(done.found.size());
            for (size_t i = 0; i < order.size(); i++) order[i] = i;
            std::sort(order.begin(), order.end(),
                      [&](size_t a, size_t b) { return done.found[a] < done.found[b]; });
            auto it = plat.pending.find(done.id);
            if (it != plat.pending.end()) {
                it->second.images.reserve(order.size());
                for (size_t i : order) it->second.images.push_back(std::move(done.images[i]));
            }
        } else {
            std::sort(done.found.begin(), done.found.end());
            for (auto& f : done.found) objects.push_back({{"name", f.first}, {"class", f.second}});
        }
        plat.answer(done.id, json{{"objects", objects},
                                  {"count", done.count},
                                  {"truncated", done.count > static_cast<long>(done.found.size()) +
                                                                 done.handed &&
                                                    !done.count_only}});
        break;
    }
    default: plat.answer(done.id, std::move(done.result)); break;
    }
}

/* Hands the entries of a derivation read since its last page on as a page
 * of its own, when the request asked for pages (false when it wants its set
 * whole, in one answer).  A tracked derivation is followed from its first
 * page on, as qx_mis's are: what changed below the parent before that page
 * is applied to it, and what changes after it reaches the album as events,
 * which change the set being filled; a later page does not name again what
 * an event brought in meanwhile. */
bool LdapTransport::hand_on_page(PlatformImpl& plat, Op& op, bool last, long of)
{
    auto it = plat.pending.find(op.id);
    if (it == plat.pending.end() || !it->second.paged) return false;
    std::shared_ptr<AlbumSnapshot> page = std::move(op.members);
    op.members = std::make_shared<AlbumSnapshot>();
    page->index_all();
    std::vector<std::pair<std::string, std::string>> changed;
    const std::string parent = fdn_of(op.base);
    if (op.pages++ == 0 && op.count) {
        changed = end_read(op.id, parent);
        for (const auto& ch : changed) {
            if (ch.second.empty())
                page->remove(ch.first);
            else if (op.filter.empty())
                page->add(ch.first, ch.second);
        }
        follow(op.count, parent, op.filter);
    }
    op.received += static_cast<long>(page->live);
    json rest = json::object();
    if (!last) rest["done"] = false;
    if (of > 0) rest["of"] = of;
    if (op.count) rest["subscription"] = op.count;
    plat.page(op.id, std::move(rest), std::move(page));
    if (last) {
        auto r = plat.pending.find(op.id);
        if (r != plat.pending.end() && r->second.members)
            r->second.result["count"] = r->second.members->live;
    }
    /* Entries made before the first page that a filter may refuse: the
     * server says, and the answers reach the album as events. */
    for (const auto& ch : changed)
        if (!ch.second.empty() && !op.filter.empty())
            check_filter(plat, ch.first, ch.second, op.filter, {op.count}, true);
    return true;
}

void LdapTransport::take(PlatformImpl& plat, LDAPMessage* msg)
{
    int msgid = ldap_msgid(msg);
    if (writes.take(plat, ld, msg)) return;
    auto it = ops.find(msgid);
    if (it == ops.end()) return; /* an operation nobody waits for any more */
    switch (ldap_msgtype(msg)) {
    case LDAP_RES_INTERMEDIATE: take_intermediate(plat, it->second, msg); break;
    case LDAP_RES_SEARCH_ENTRY: take_entry(plat, it->second, msg); break;
    case LDAP_RES_SEARCH_REFERENCE: break; /* referrals are not followed */
    case LDAP_RES_SEARCH_RESULT:
    case LDAP_RES_BIND: finish(plat, msgid, it->second, msg); break;
    default: break;
    }
}

void LdapTransport::read_input(PlatformImpl& plat)
{
    /* Whatever libldap holds or the socket has, one message at a time;
     * bounded so that a server sending without pause leaves the loop a turn. */
    for (int n = 0; n < 100000 && ld && plat.connected; n++) {
        struct timeval zero = {0, 0};
        MessageGuard msg;
        int rc = ldap_result(ld, LDAP_RES_ANY, LDAP_MSG_ONE, &zero, &msg.m);
        if (rc == 0) return;
        if (rc < 0) {
            int code = LDAP_SERVER_DOWN;
            ldap_get_option(ld, LDAP_OPT_RESULT_CODE, &code);
            plat.lost(result_text(code, nullptr));
            return;
        }
        take(plat, msg.m);
    }
}

void LdapTransport::forget(PlatformImpl& plat, long id)
{
    writes.forget(ld, id);
    for (auto it = ops.begin(); it != ops.end(); ++it)
        if (it->second.id == id) {
            if (ld) ldap_abandon_ext(ld, it->first, nullptr, nullptr);
            ops.erase(it);
            return;
        }
}

/* Starts an operation of the connection's own and waits for it. */
bool LdapTransport::wait_internal(PlatformImpl& plat, Op op, double deadline,
                                  const std::string& what, KvlReply& r)
{
    long id = plat.next_id++;
    plat.pending[id] = KvlReply();
    op.id = id;
    std::string why;
    if (!start_search(plat, std::move(op), why)) {
        plat.pending.erase(id);
        r.ok = false;
        r.message = why;
        return false;
    }
    double left = deadline - kvl_now_seconds();
    r = plat.wait(id, left > 0.001 ? left : 0.001, what);
    return r.ok;
}

bool LdapTransport::bind(PlatformImpl& plat, const std::string& bind_dn, const std::string& server,
                         bool fixed, KvlSecret& password, double& deadline, double secs, KvlReply& r)
{
    std::string refusal;
    for (int attempt = 1;; attempt++) {
        if (!fixed) {
            KvlPasswordSource* source = kvl_password_source();
            KvlPasswordRequest request = {bind_dn.c_str(), server.c_str(), refusal.c_str(), attempt,
                                          PASSWORD_TRIES};
            bool given = source && source->ask(request, password);
            deadline = kvl_now_seconds() + secs;
            if (!given) {
                password.clear();
                r.ok = false;
                r.type = KVL_ERR_ARGUMENT;
                r.code = 0;
                r.message = refusal;
                return false;
            }
            if (!plat.connected) {
                password.clear();
                r.ok = false;
                r.type = KVL_ERR_DISCONNECTED;
                r.message = "the connection was lost while the password was asked for";
                return false;
            }
        }
        struct berval cred = {static_cast<ber_len_t>(password.size()),
                              password.size() ? const_cast<char*>(password.data()) : nullptr};
        int msgid = 0;
        int rc = ldap_sasl_bind(ld, bind_dn.empty() ? nullptr : bind_dn.c_str(), LDAP_SASL_SIMPLE,
                                &cred, nullptr, nullptr, &msgid);
        password.clear(); /* libldap has encoded it into the request */
        if (rc != LDAP_SUCCESS) {
            r.ok = false;
            r.type = KVL_ERR_CONNECT;
            r.code = rc;
            r.message = result_text(rc, nullptr);
            return false;
        }
        long id = plat.next_id++;
        plat.pending[id] = KvlReply();
        Op op;
        op.kind = Op::BIND;
        op.id = id;
        ops[msgid] = std::move(op);
        double left = deadline - kvl_now_seconds();
        r = plat.wait(id, left > 0.001 ? left : 0.001, "the bind");
        if (r.ok) return true;
        if (fixed || !credentials_refused(r.code) || !plat.connected) return false;
        refusal = r.message;
        if (attempt >= PASSWORD_TRIES) {
            r.message += " (" + std::to_string(PASSWORD_TRIES) + " passwords refused)";
            return false;
        }
    }
}

bool LdapTransport::open(PlatformImpl& plat, const std::string& host, const std::string& app,
                         double timeout, Error& err)
{
    (void)app;
    double secs = kvl_effective_timeout(timeout);
    double deadline = kvl_now_seconds() + secs;
    LDAPURLDesc* url = nullptr;
    if (ldap_url_parse(host.c_str(), &url) != LDAP_URL_SUCCESS) {
        err.set_error(KVL_ERR_ARGUMENT, ("cannot connect: '" + host + "' is not an LDAP URL").c_str());
        return false;
    }
    std::string bind_dn;
    bool critical_unknown = false;
    bool starttls = false;
    std::string unknown;
    const bool ldaps = lower(url->lud_scheme ? url->lud_scheme : "") == "ldaps";
    for (int i = 0; url->lud_exts && url->lud_exts[i]; i++) {
        std::string ext = url->lud_exts[i];
        bool critical = !ext.empty() && ext[0] == '!';
        if (critical) ext.erase(0, 1);
        if (lower(ext.substr(0, 9)) == "bindname=")
            bind_dn = ext.substr(9);
        else if (lower(ext) == "x-starttls")
            starttls = true; // critical or not: asked for, TLS is never given up
        else if (critical) {
            critical_unknown = true;
            unknown = ext;
        }
    }
    const std::string base_dn = url->lud_dn ? url->lud_dn : "";
    /* scheme://host:port, without the DN and the rest, for libldap. */
    size_t hostpart = host.find("://") + 3;
    size_t slash = host.find('/', hostpart);
    std::string server = host.substr(0, slash);
    ldap_free_urldesc(url);
    plat.host = host;
    plat.host_port = server;
    if (critical_unknown) {
        err.set_error(KVL_ERR_ARGUMENT,
                      ("cannot connect to " + server + ": the URL's critical extension '" + unknown +
                       "' is not supported")
                          .c_str());
        return false;
    }
    if (starttls && ldaps) {
        err.set_error(KVL_ERR_ARGUMENT, ("cannot connect to " + server +
                                         ": x-starttls asks for StartTLS on a connection that "
                                         "ldaps:// already protects; use one of them")
                                            .c_str());
        return false;
    }
    if (bind_dn.empty()) bind_dn = ldaprc_binddn();
    /* The password: from QX_PASSWORD_FILE when it is set, else asked of the
     * application's password source once the server is reached. */
    KvlSecret password;
    const char* password_file = std::getenv("QX_PASSWORD_FILE");
    const bool from_file = password_file && *password_file;
    KvlPasswordSource* source = kvl_password_source();
    if (!bind_dn.empty()) {
        std::string why;
        if (!from_file && !source)
            why = "a bind DN needs its password: QX_PASSWORD_FILE names no password file";
        else if (from_file)
            kvl_read_password_file(password_file, password, why);
        if (!why.empty()) {
            err.set_error(KVL_ERR_CONNECT, ("cannot connect to " + server + ": " + why).c_str());
            return false;
        }
    }

    /* libldap writes with write(2): a server that went away must not kill
     * the program with SIGPIPE.  Left alone when the program set its own. */
    struct sigaction current;
    if (sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL)
        signal(SIGPIPE, SIG_IGN);

    int rc = ldap_initialize(&ld, server.c_str());
    if (rc != LDAP_SUCCESS) {
        err.set_error(KVL_ERR_CONNECT,
                      ("cannot connect to " + server + ": " + ldap_err2string(rc)).c_str());
        return false;
    }
    int version = LDAP_VERSION3;
    ldap_set_option(ld, LDAP_OPT_PROTOCOL_VERSION, &version);
    ldap_set_option(ld, LDAP_OPT_REFERRALS, LDAP_OPT_OFF);
    /* An alias is an entry of its own, whatever ldap.conf's DEREF says. */
    int deref = LDAP_DEREF_NEVER;
    ldap_set_option(ld, LDAP_OPT_DEREF, &deref);
    struct timeval network = {static_cast<time_t>(secs), static_cast<suseconds_t>((secs - static_cast<long>(secs)) * 1e6)};
    ldap_set_option(ld, LDAP_OPT_NETWORK_TIMEOUT, &network);
    /* The synchronous StartTLS exchange waits no longer than the connection. */
    ldap_set_option(ld, LDAP_OPT_TIMEOUT, &network);
    /* ldaps:// makes its TLS handshake here, checking the server's certificate
     * as ldap.conf and ~/.ldaprc say (TLS_CACERT, TLS_REQCERT: libldap's
     * default demands a certificate that a trusted CA signed for the host). */
    rc = ldap_connect(ld);
    if (rc != LDAP_SUCCESS) {
        std::string why = ldaps ? tls_failure(rc, server, false, network) : tls_failure(rc);
        err.set_error(KVL_ERR_CONNECT,
                      ("cannot connect to " + server + ": " + why +
                       (rc == LDAP_SERVER_DOWN && !ldaps ? " (is a directory server running there?)"
                                                         : ""))
                          .c_str());
        unbind();
        return false;
    }
    if (starttls) {
        rc = ldap_start_tls_s(ld, nullptr, nullptr);
        if (rc != LDAP_SUCCESS) {
            std::string why = tls_failure(rc, server, true, network);
            err.set_error(KVL_ERR_CONNECT,
                          ("cannot connect to " + server + ": StartTLS failed: " + why).c_str());
            unbind();
            return false;
        }
    }
    int fd = -1;
    ldap_get_option(ld, LDAP_OPT_DESC, &fd);
    plat.fd = fd;
    plat.opened();

    KvlReply r;
    if (!bind(plat, bind_dn, server, from_file || bind_dn.empty(), password, deadline, secs, r)) {
        std::string what = "cannot connect to " + server + ": the bind" +
                           (bind_dn.empty() ? std::string() : " as " + bind_dn);
        if (r.type == KVL_ERR_ARGUMENT) /* the password source cancelled */
            what += " was cancelled: no password was given" +
                    (r.message.empty() ? std::string() : " (the directory's last refusal: " + r.message + ")");
        else
            what += " failed: " + r.message;
        err.set_error(r.type == KVL_ERR_ACCESS || r.type == KVL_ERR_ARGUMENT ? KVL_ERR_CONNECT : r.type,
                      what.c_str(), r.code);
        return false;
    }
    plat.login_user = bind_dn;

    /* The root DSE, then the subschema and the naming contexts' classes. */
    Op dse;
    dse.kind = Op::ROOT_DSE;
    dse.base = "";
    dse.attrs = {"namingContexts", "subschemaSubentry", "supportedControl"};
    if (!wait_internal(plat, std::move(dse), deadline, "the root DSE", r)) {
        err.set_error(KVL_ERR_CONNECT, ("cannot connect to " + server + ": reading the root DSE failed: " + r.message).c_str(), r.code);
        return false;
    }
    json info = r.result;
    contexts.clear();
    for (auto& c : info["namingContexts"]) {
        std::string canonical, why;
        if (c.is_string() && kvl_ldap_canonical_dn(c.get<std::string>(), false, canonical, why) &&
            !canonical.empty())
            contexts.push_back(canonical);
    }
    named.set(contexts);
    plat.default_root.clear();
    if (!base_dn.empty()) {
        std::string why;
        if (!named.to_fdn(base_dn, plat.default_root, why)) {
            err.set_error(KVL_ERR_BAD_NAME,
                          ("cannot connect to " + server + ": the URL's base '" + base_dn +
                           "' is not a DN: " + why)
                              .c_str());
            return false;
        }
    }
    for (auto& c : info["supportedControl"])
        if (c.is_string()) controls.push_back(c.get<std::string>());
    subschema_dn = info["subschemaSubentry"].empty() ? "cn=Subschema"
                                                      : info["subschemaSubentry"][0].get<std::string>();
    Op sch;
    sch.kind = Op::SCHEMA;
    sch.base = subschema_dn;
    sch.filter = "(objectClass=subschema)";
    sch.attrs = {"ldapSyntaxes", "attributeTypes", "objectClasses"};
    if (!wait_internal(plat, std::move(sch), deadline, "the subschema", r)) {
        err.set_error(KVL_ERR_CONNECT, ("cannot connect to " + server + ": reading the subschema (" +
                                        subschema_dn + ") failed: " + r.message).c_str(), r.code);
        return false;
    }
    context_classes.clear();
    context_csns.clear();
    for (const std::string& c : contexts) {
        Op get;
        get.kind = Op::GET;
        get.base = c;
        get.attrs = {"structuralObjectClass", "objectClass", "contextCSN"};
        std::string cls, csns;
        if (wait_internal(plat, std::move(get), deadline, "the naming context " + c, r)) {
            cls = str_field(r.result, "class");
            for (const json& a : r.result["attributes"])
                if (str_field(a, "name") == "contextCSN") csns = str_field(a, "value");
            std::replace(csns.begin(), csns.end(), '\n', ';');
        }
        context_classes.push_back(cls);
        context_csns.push_back(csns);
    }
    plat.mdr = "/systemId=\"" + host + "\"/metaName=\"MDR\"";
    sync_offered = std::find(controls.begin(), controls.end(), LDAP_CONTROL_SYNC) != controls.end();
    manage_dsa_it =
        std::find(controls.begin(), controls.end(), LDAP_CONTROL_MANAGEDSAIT) != controls.end();
    writes.schema = &schema;
    writes.manage_dsa_it = manage_dsa_it;
    writes.tree_delete =
        std::find(controls.begin(), controls.end(), KVL_LDAP_TREE_DELETE) != controls.end();
    writes.fdn_of = [this](const std::string& dn) { return fdn_of(dn); };
    if (sync_offered) start_sync(plat);
    return true;
}

} // namespace

int kvl_ldap_error_type(int rc)
{
    return error_type(rc);
}

std::string kvl_ldap_result_text(int rc, const char* diagnostic)
{
    return result_text(rc, diagnostic);
}

std::unique_ptr<KvlTransport> kvl_ldap_transport()
{
    return std::make_unique<LdapTransport>();
}
