/*
 * ldap_write.cpp - set, create, delete and the two actions on a directory
 * (see ldap_write.h), each as asynchronous libldap operations whose results
 * the transport hands back here.
 */
#include "kvl/ldap/ldap_write.h"

#include "kvl/base64.h"
#include "kvl/ldap/ldap_names.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <strings.h>
#include <set>

const char* const KVL_LDAP_NAMING_ATTRIBUTE = "kvl:namingAttribute";

/* In ldap_transport.cpp: the KVL error type of a result code, and "<result
 * name>: <the server's text>". */
int kvl_ldap_error_type(int rc);
std::string kvl_ldap_result_text(int rc, const char* diagnostic);

namespace {

/* Entries listed per page when a subtree is deleted one entry at a time. */
const int DELETE_PAGE_SIZE = 500;
/* Deletes of one subtree out at a time. */
const size_t DELETE_WINDOW = 64;

std::string lower(std::string s)
{
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string str_field(const json& o, const char* key)
{
    if (o.is_object() && o.contains(key) && o[key].is_string()) return o[key].get<std::string>();
    return std::string();
}

std::string joined(const std::vector<std::string>& values, const char* sep)
{
    std::string out;
    for (const std::string& v : values) out += (out.empty() ? "" : sep) + v;
    return out;
}

/* A value written into an RDN (RFC 4514). */
std::string rdn_value(const std::string& v)
{
    std::string out;
    for (size_t i = 0; i < v.size(); i++) {
        char c = v[i];
        bool special = std::strchr(",+\"\\<>;=", c) != nullptr || (i == 0 && (c == '#' || c == ' ')) ||
                       (i + 1 == v.size() && c == ' ');
        if (special) out += '\\';
        out += c;
    }
    return out;
}

/* The ldap_controls_free of an array of one or two controls. */
struct Controls {
    LDAPControl* list[3] = {nullptr, nullptr, nullptr};
    int n = 0;
    ~Controls()
    {
        for (int i = 0; i < n; i++) ldap_control_free(list[i]);
    }
    LDAPControl** get() { return n ? list : nullptr; }
    bool add_manage(bool on)
    {
        if (!on) return true;
        LDAPControl* c = nullptr;
        if (ldap_control_create(LDAP_CONTROL_MANAGEDSAIT, 1, nullptr, 0, &c) != LDAP_SUCCESS) return false;
        list[n++] = c;
        return true;
    }
};

/* The modifications of one request, owning their names and values. */
struct Mods {
    std::vector<int> ops;
    std::vector<std::string> names;
    std::vector<std::vector<std::string>> values;
    std::vector<LDAPMod> mods;
    std::vector<std::vector<berval>> bvs;
    std::vector<std::vector<berval*>> pointers;
    void add(int op, const std::string& attr, const std::vector<std::string>& vals)
    {
        ops.push_back(op | LDAP_MOD_BVALUES);
        names.push_back(attr);
        values.push_back(vals);
    }
    /* The NULL-ended array libldap takes; valid while this lives unchanged. */
    std::vector<LDAPMod*> array()
    {
        size_t n = names.size();
        mods.assign(n, LDAPMod());
        bvs.assign(n, {});
        pointers.assign(n, {});
        std::vector<LDAPMod*> out;
        for (size_t i = 0; i < n; i++) {
            for (std::string& v : values[i])
                bvs[i].push_back({static_cast<ber_len_t>(v.size()), &v[0]});
            for (berval& b : bvs[i]) pointers[i].push_back(&b);
            pointers[i].push_back(nullptr);
            mods[i].mod_op = ops[i];
            mods[i].mod_type = &names[i][0];
            mods[i].mod_bvalues = values[i].empty() ? nullptr : pointers[i].data();
            out.push_back(&mods[i]);
        }
        out.push_back(nullptr);
        return out;
    }
};

/* The base64 values of list, decoded into out; false when list is not a
 * list of strings of base64. */
bool decode_list(const json& list, std::vector<std::string>& out)
{
    if (!list.is_array()) return false;
    std::string raw;
    for (const json& v : list) {
        if (!v.is_string() || !kvl_unbase64(v.get<std::string>(), raw)) return false;
        out.push_back(raw);
    }
    return true;
}

} // namespace

std::vector<std::string> kvl_ldap_values(const std::string& text)
{
    std::vector<std::string> out;
    for (size_t at = 0; at <= text.size();) {
        size_t nl = text.find('\n', at);
        std::string line = text.substr(at, nl == std::string::npos ? std::string::npos : nl - at);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) out.push_back(line);
        if (nl == std::string::npos) break;
        at = nl + 1;
    }
    return out;
}

void kvl_ldap_value_changes(const std::vector<std::string>& loaded,
                            const std::vector<std::string>& wanted,
                            std::vector<std::string>& removed, std::vector<std::string>& added)
{
    removed.clear();
    added.clear();
    std::set<std::string> was(loaded.begin(), loaded.end()), will(wanted.begin(), wanted.end());
    for (const std::string& v : loaded)
        if (!will.count(v) && std::find(removed.begin(), removed.end(), v) == removed.end())
            removed.push_back(v);
    for (const std::string& v : wanted)
        if (!was.count(v) && std::find(added.begin(), added.end(), v) == added.end())
            added.push_back(v);
}

std::string kvl_ldap_usual_naming(const std::vector<std::string>& must)
{
    static const char* const usual[] = {"cn", "uid", "ou", "o", "dc", "l", "c", "st", "commonName",
                                        "userid", "organizationalUnitName", "organizationName",
                                        "domainComponent", "localityName"};
    for (const std::string& m : must)
        for (const char* u : usual)
            if (lower(m) == lower(u)) return m;
    for (const std::string& m : must)
        if (lower(m) != "objectclass") return m;
    return "";
}

std::string kvl_ldap_assertion_filter(const std::map<std::string, std::vector<std::string>>& loaded)
{
    std::string items;
    int n = 0;
    for (const auto& a : loaded) {
        if (a.second.empty()) {
            items += "(!(" + a.first + "=*))";
            n++;
        }
        for (const std::string& v : a.second) {
            struct berval in = {static_cast<ber_len_t>(v.size()), const_cast<char*>(v.data())};
            struct berval out = {0, nullptr};
            if (ldap_bv2escaped_filter_value(&in, &out) != 0) continue;
            items += "(" + a.first + "=" + std::string(out.bv_val, out.bv_len) + ")";
            ber_memfree(out.bv_val);
            n++;
        }
    }
    if (n == 0) return "(objectClass=*)";
    return n == 1 ? items : "(&" + items + ")";
}

void LdapWrites::remember(const std::string& fdn, const json& attributes)
{
    auto& values = last_read_[fdn];
    values.clear();
    for (const json& a : attributes)
        values[lower(str_field(a, "name"))] = str_field(a, "value");
}

std::vector<std::string> LdapWrites::actions_of(const std::string& cls) const
{
    if (cls == "rootDSE") return {"whoAmI"};
    std::vector<std::string> must, may;
    if (!schema || !schema->attributes_of(cls, must, may)) return {};
    for (auto* group : {&must, &may})
        for (const std::string& a : *group)
            if (lower(a) == "userpassword") return {"setPassword"};
    return {};
}

bool LdapWrites::send(PlatformImpl& plat, LDAP* ld, long id, const std::string& method,
                      const json& params)
{
    if (method == "set") return start_set(plat, ld, id, params);
    if (method == "create") return start_create(plat, ld, id, params);
    if (method == "delete") return start_delete(plat, ld, id, params);
    if (method == "action") {
        std::string action = str_field(params, "action");
        if (action == "setPassword" || action == "whoAmI") return start_action(plat, ld, id, params);
    }
    return false;
}

bool LdapWrites::started(PlatformImpl& plat, LDAP* ld, Op op, int rc, int msgid)
{
    (void)ld;
    if (rc != LDAP_SUCCESS) {
        std::string why = kvl_ldap_result_text(rc, nullptr);
        if (rc == LDAP_SERVER_DOWN) {
            plat.lost(why);
            return true;
        }
        plat.fail(op.id, kvl_ldap_error_type(rc), why, rc);
        return true;
    }
    ops_[msgid] = std::move(op);
    return true;
}

/* ------------------------------------------------------------------ set */

bool LdapWrites::start_set(PlatformImpl& plat, LDAP* ld, long id, const json& params)
{
    std::string name = str_field(params, "name"), dn, why;
    if (!kvl_ldap_fdn_to_dn(name, dn, why)) {
        plat.fail(id, KVL_ERR_BAD_NAME, why);
        return true;
    }
    if (dn.empty()) {
        plat.fail(id, KVL_ERR_ACCESS, "the root DSE cannot be changed");
        return true;
    }
    /* The loaded values: what the caller says it loaded, else the last read. */
    std::map<std::string, std::string> expected;
    bool known = last_read_.count(name) > 0;
    if (known) expected = last_read_[name];
    if (params.contains("expect") && params["expect"].is_object()) {
        known = true;
        for (auto& e : params["expect"].items())
            if (e.value().is_string()) expected[lower(e.key())] = e.value().get<std::string>();
    }
    Op op;
    op.kind = Op::MODIFY;
    op.id = id;
    op.dn = dn;
    op.fdn = name;
    op.asserted = known;
    const json values = params.contains("values") ? params["values"] : json::object();
    for (auto& v : values.items()) {
        const std::string attr = v.key();
        if (attr == KVL_LDAP_NAMING_ATTRIBUTE || !v.value().is_string()) continue;
        std::vector<std::string> loaded = kvl_ldap_values(expected[lower(attr)]);
        std::vector<std::string> wanted = kvl_ldap_values(v.value().get<std::string>());
        std::vector<std::string> removed, added;
        kvl_ldap_value_changes(loaded, wanted, removed, added);
        if (removed.empty() && added.empty()) continue; /* edited back: not touched */
        /* A password is never read, so no set could say what it replaces. */
        if (lower(attr) == "userpassword") {
            plat.fail(id, KVL_ERR_ACCESS,
                      "userPassword of " + dn + " is set by the action setPassword, not by a set");
            return true;
        }
        op.loaded[attr] = loaded;
        op.wanted[attr] = wanted;
    }
    /* Bytes (photos, certificates) come as base64 lists, each with the
     * values it was read with; their values are replaced all at once, since
     * many such attributes have no equality rule to pick single values by. */
    const json bytes = params.contains("bytes") ? params["bytes"] : json::object();
    const json expect_bytes =
        params.contains("expect_bytes") ? params["expect_bytes"] : json::object();
    for (auto& b : bytes.items()) {
        const std::string& attr = b.key();
        std::vector<std::string> wanted, loaded;
        bool was_read = expect_bytes.contains(attr);
        if (!decode_list(b.value(), wanted) ||
            (was_read && !decode_list(expect_bytes[attr], loaded))) {
            plat.fail(id, KVL_ERR_ARGUMENT, "the values of " + attr + " are not lists of base64");
            return true;
        }
        if (was_read && std::multiset<std::string>(loaded.begin(), loaded.end()) ==
                            std::multiset<std::string>(wanted.begin(), wanted.end()))
            continue; /* given back as read: not touched */
        if (was_read) op.loaded[attr] = loaded;
        op.wanted[attr] = wanted;
        op.whole.insert(attr);
    }
    if (op.wanted.empty()) {
        plat.answer(id, json{{"name", name}, {"changed", json::array()}});
        return true;
    }
    return start_modify(plat, ld, std::move(op));
}

bool LdapWrites::start_modify(PlatformImpl& plat, LDAP* ld, Op op)
{
    Mods mods;
    for (const auto& w : op.wanted) {
        const std::string& attr = w.first;
        const LdapAttributeType* t = schema ? schema->attribute(attr) : nullptr;
        if (op.whole.count(attr)) { /* no values: none left, whether it had some or not */
            mods.add(LDAP_MOD_REPLACE, attr, w.second);
            continue;
        }
        if (t && t->single) {
            if (w.second.empty())
                mods.add(LDAP_MOD_DELETE, attr, {});
            else
                mods.add(LDAP_MOD_REPLACE, attr, w.second);
            continue;
        }
        std::vector<std::string> removed, added;
        kvl_ldap_value_changes(op.loaded[attr], w.second, removed, added);
        if (!removed.empty()) mods.add(LDAP_MOD_DELETE, attr, removed);
        if (!added.empty()) mods.add(LDAP_MOD_ADD, attr, added);
    }
    Controls ctrls;
    if (op.asserted) {
        std::string filter = kvl_ldap_assertion_filter(op.loaded);
        LDAPControl* c = nullptr;
        int rc = ldap_create_assertion_control(ld, &filter[0], 1, &c);
        if (rc != LDAP_SUCCESS) {
            plat.fail(op.id, KVL_ERR_SERVER,
                      "cannot make the assertion control of " + filter + ": " + ldap_err2string(rc));
            return true;
        }
        ctrls.list[ctrls.n++] = c;
    }
    ctrls.add_manage(manage_dsa_it);
    std::vector<LDAPMod*> list = mods.array();
    int msgid = 0;
    int rc = ldap_modify_ext(ld, op.dn.c_str(), list.data(), ctrls.get(), nullptr, &msgid);
    return started(plat, ld, std::move(op), rc, msgid);
}

void LdapWrites::modified(PlatformImpl& plat, LDAP* ld, Op op, int rc, const std::string& text)
{
    if (rc == LDAP_SUCCESS) {
        json changed = json::array();
        auto& read = last_read_[op.fdn];
        for (const auto& w : op.wanted) {
            changed.push_back(w.first);
            read[lower(w.first)] =
                op.whole.count(w.first) ? kvl_bytes_text(w.second) : joined(w.second, "\n");
        }
        plat.answer(op.id, json{{"name", op.fdn}, {"changed", changed}});
        return;
    }
    if (rc != LDAP_ASSERTION_FAILED) {
        plat.fail(op.id, kvl_ldap_error_type(rc), text, rc);
        return;
    }
    /* Someone changed the entry since it was loaded: which attribute, and to what. */
    std::vector<std::string> names;
    for (const auto& l : op.loaded) names.push_back(l.first);
    std::vector<char*> attrs;
    for (std::string& n : names) attrs.push_back(&n[0]);
    attrs.push_back(nullptr);
    Controls ctrls;
    ctrls.add_manage(manage_dsa_it);
    int msgid = 0;
    int src = ldap_search_ext(ld, op.dn.c_str(), LDAP_SCOPE_BASE, "(objectClass=*)", attrs.data(), 0,
                              ctrls.get(), nullptr, nullptr, 0, &msgid);
    op.kind = Op::READ_BACK;
    started(plat, ld, std::move(op), src, msgid);
}

/* The entry as it is now against the values the form was loaded with. */
void LdapWrites::read_back(PlatformImpl& plat, Op& op)
{
    for (const auto& l : op.loaded) {
        std::vector<std::string> now;
        for (auto& a : op.now.items())
            if (lower(a.key()) == lower(l.first)) now = a.value().get<std::vector<std::string>>();
        std::set<std::string> a(now.begin(), now.end()), b(l.second.begin(), l.second.end());
        if (a == b) continue;
        const bool bytes = op.whole.count(l.first) > 0; /* shown as their sizes */
        std::string shown = now.empty() ? "it has no value now"
                            : bytes     ? "it is now " + kvl_bytes_text(now)
                                        : "it is now '" + joined(now, "', '") + "'";
        /* As qx_mis refuses a lost update: the attribute and its value now
         * go with the error, for Image::changed_on_server. */
        plat.fail(op.id, KVL_ERR_CHANGED,
                  std::string(ldap_err2string(LDAP_ASSERTION_FAILED)) + ": " + l.first + " of " +
                      op.dn + " was changed by someone else since it was loaded: " + shown +
                      " (Update shows the directory's values; nothing was set)",
                  LDAP_ASSERTION_FAILED,
                  json{{"attribute", l.first},
                       {"value", bytes ? kvl_bytes_text(now) : joined(now, "\n")}});
        return;
    }
    /* The same values: the assertion itself could not hold (an attribute
     * without an equality rule), so the modify goes once without it. */
    op.kind = Op::MODIFY;
    op.asserted = false;
    op.now = json::object();
}

/* ------------------------------------------------------------------ create */

/* The DN of a new entry of cls beneath parent_dn, from its values (by
 * lower-case name; the naming attribute's taken out): the RDN is named by
 * the attributes the naming attribute gives ("cn", or "cn+uid" for a name of
 * several values), else by the one the class is usually named by.  False,
 * the request failed, when a naming attribute is not the class's or has no
 * value, or a MUST attribute has none. */
bool LdapWrites::new_dn(PlatformImpl& plat, long id, const std::string& cls,
                        const std::string& parent, const std::string& parent_dn,
                        const std::vector<std::string>& must, const std::vector<std::string>& may,
                        std::map<std::string, std::vector<std::string>>& values,
                        std::map<std::string, std::string>& spelled, std::string& dn)
{
    std::vector<std::string> naming;
    auto n = values.find(lower(KVL_LDAP_NAMING_ATTRIBUTE));
    for (size_t at = 0; n != values.end() && at <= n->second[0].size();) {
        size_t plus = n->second[0].find('+', at);
        if (plus == std::string::npos) plus = n->second[0].size();
        if (plus > at) naming.push_back(n->second[0].substr(at, plus - at));
        at = plus + 1;
    }
    if (naming.empty()) naming.push_back(kvl_ldap_usual_naming(must));
    values.erase(lower(KVL_LDAP_NAMING_ATTRIBUTE));
    for (const std::string& name : naming) {
        const LdapAttributeType* nt = schema->attribute(name);
        bool of_class = false;
        for (auto* group : {&must, &may})
            for (const std::string& a : *group)
                of_class = of_class || (nt && schema->attribute(a) == nt);
        if (!of_class) {
            plat.fail(id, KVL_ERR_ARGUMENT,
                      "cannot create " + cls + ": the naming attribute '" + name +
                          "' is not an attribute of the class");
            return false;
        }
    }
    std::vector<std::string> missing;
    for (const std::string& m : must) {
        if (lower(m) == "objectclass") continue;
        bool has = false;
        for (auto& v : values) has = has || schema->attribute(v.first) == schema->attribute(m);
        if (!has && std::find(missing.begin(), missing.end(), m) == missing.end())
            missing.push_back(m);
    }
    if (!missing.empty()) {
        plat.fail(id, KVL_ERR_SYNTAX,
                  "cannot create " + cls + " beneath " + parent + ": the class needs a value of " +
                      joined(missing, ", ") + " (MUST)");
        return false;
    }
    std::string rdn;
    for (const std::string& name : naming) {
        std::string attr, value;
        for (auto& v : values)
            if (schema->attribute(v.first) == schema->attribute(name)) {
                attr = spelled[v.first];
                value = v.second[0];
            }
        if (value.empty()) {
            plat.fail(id, KVL_ERR_ARGUMENT,
                      "cannot create " + cls + ": the naming attribute " + name + " has no value");
            return false;
        }
        rdn += (rdn.empty() ? "" : "+") + attr + "=" + rdn_value(value);
    }
    std::string why;
    if (!kvl_ldap_canonical_dn(rdn + (parent_dn.empty() ? "" : "," + parent_dn), false, dn, why)) {
        plat.fail(id, KVL_ERR_BAD_NAME, why);
        return false;
    }
    return true;
}

bool LdapWrites::start_create(PlatformImpl& plat, LDAP* ld, long id, const json& params)
{
    std::string parent = str_field(params, "parent"), cls = str_field(params, "class");
    std::string parent_dn, why;
    if (!kvl_ldap_fdn_to_dn(parent, parent_dn, why)) {
        plat.fail(id, KVL_ERR_BAD_NAME, why);
        return true;
    }
    std::vector<std::string> must, may;
    const LdapObjectClass* k = schema ? schema->object_class(cls) : nullptr;
    if (!k || !schema->attributes_of(cls, must, may)) {
        plat.fail(id, KVL_ERR_NO_CLASS, "no object class '" + cls + "' in the directory's schema");
        return true;
    }
    std::map<std::string, std::vector<std::string>> values; /* by lower-case name */
    std::map<std::string, std::string> spelled;
    const json given = params.contains("values") ? params["values"] : json::object();
    for (auto& v : given.items()) {
        if (!v.value().is_string()) continue;
        std::string attr = v.key();
        /* An attribute of bytes the caller gave as text (one its blank did
         * not list, such as a copied entry's userPassword) takes the text's
         * lines as its values; bytes given as bytes win, below. */
        std::vector<std::string> list = kvl_ldap_values(v.value().get<std::string>());
        if (list.empty()) continue;
        values[lower(attr)] = list;
        spelled[lower(attr)] = attr;
    }
    /* Values of bytes come as base64, each attribute's as a list. */
    const json bytes = params.contains("bytes") ? params["bytes"] : json::object();
    for (auto& b : bytes.items()) {
        std::vector<std::string> list;
        if (!decode_list(b.value(), list)) {
            plat.fail(id, KVL_ERR_ARGUMENT,
                      "the values of " + b.key() + " are not lists of base64");
            return true;
        }
        if (list.empty() || b.key() == KVL_LDAP_NAMING_ATTRIBUTE) continue;
        values[lower(b.key())] = list;
        spelled[lower(b.key())] = b.key();
    }
    /* objectClass: the values given (an entry copied, auxiliary classes and
     * all), else the class and its superclasses (top left to the server). */
    std::vector<std::string> classes;
    auto given_classes = values.find("objectclass");
    if (given_classes != values.end()) {
        classes = given_classes->second;
        values.erase(given_classes);
        for (const std::string& c : classes) {
            std::vector<std::string> also_must, also_may;
            if (!schema->attributes_of(c, also_must, also_may)) continue;
            must.insert(must.end(), also_must.begin(), also_must.end());
            may.insert(may.end(), also_may.begin(), also_may.end());
        }
    } else {
        for (std::vector<std::string> todo = {k->name}; !todo.empty();) {
            std::string c = todo.back();
            todo.pop_back();
            const LdapObjectClass* o = schema->object_class(c);
            if (!o || lower(o->name) == "top" ||
                std::find(classes.begin(), classes.end(), o->name) != classes.end())
                continue;
            classes.push_back(o->name);
            for (const std::string& s : o->sup) todo.push_back(s);
        }
    }
    std::string dn;
    if (!new_dn(plat, id, cls, parent, parent_dn, must, may, values, spelled, dn)) return true;
    Mods mods;
    mods.add(LDAP_MOD_ADD, "objectClass", classes);
    for (auto& v : values) mods.add(LDAP_MOD_ADD, spelled[v.first], v.second);
    std::vector<LDAPMod*> list = mods.array();
    Op op;
    op.kind = Op::ADD;
    op.id = id;
    op.dn = dn;
    op.cls = k->name;
    int msgid = 0;
    int rc = ldap_add_ext(ld, dn.c_str(), list.data(), nullptr, nullptr, &msgid);
    return started(plat, ld, std::move(op), rc, msgid);
}

/* ------------------------------------------------------------------ delete */

bool LdapWrites::start_delete(PlatformImpl& plat, LDAP* ld, long id, const json& params)
{
    std::string name = str_field(params, "name"), dn, why;
    if (!kvl_ldap_fdn_to_dn(name, dn, why)) {
        plat.fail(id, KVL_ERR_BAD_NAME, why);
        return true;
    }
    if (dn.empty()) {
        plat.fail(id, KVL_ERR_ACCESS, "the root DSE cannot be deleted");
        return true;
    }
    Op op;
    op.kind = Op::LIST;
    op.id = id;
    op.dn = dn;
    op.fdn = name;
    op.tree = tree_delete;
    return list_page(plat, ld, std::move(op));
}

bool LdapWrites::list_page(PlatformImpl& plat, LDAP* ld, Op op)
{
    Controls ctrls;
    struct berval cookie = {static_cast<ber_len_t>(op.cookie.size()),
                            op.cookie.empty() ? nullptr : &op.cookie[0]};
    LDAPControl* page = nullptr;
    int rc = ldap_create_page_control(ld, DELETE_PAGE_SIZE, op.cookie.empty() ? nullptr : &cookie, 0,
                                      &page);
    if (rc != LDAP_SUCCESS) {
        plat.fail(op.id, KVL_ERR_SERVER,
                  std::string("cannot make the paged-results control: ") + ldap_err2string(rc));
        return true;
    }
    ctrls.list[ctrls.n++] = page;
    ctrls.add_manage(manage_dsa_it);
    char none[] = "1.1";
    char* attrs[] = {none, nullptr};
    int msgid = 0;
    rc = ldap_search_ext(ld, op.dn.c_str(), LDAP_SCOPE_SUBTREE, "(objectClass=*)", attrs, 0,
                         ctrls.get(), nullptr, nullptr, 0, &msgid);
    return started(plat, ld, std::move(op), rc, msgid);
}

bool LdapWrites::delete_next(PlatformImpl& plat, LDAP* ld, Op op)
{
    if (!op.tree) {
        op.run = std::make_shared<DeleteRun>();
        op.run->dns = std::move(op.dns);
        send_deletes(plat, ld, op);
        return true;
    }
    Controls ctrls;
    LDAPControl* c = nullptr;
    if (ldap_control_create(KVL_LDAP_TREE_DELETE, 1, nullptr, 0, &c) == LDAP_SUCCESS)
        ctrls.list[ctrls.n++] = c;
    ctrls.add_manage(manage_dsa_it);
    int msgid = 0;
    int rc = ldap_delete_ext(ld, op.dn.c_str(), ctrls.get(), nullptr, &msgid);
    op.kind = Op::DELETE;
    return started(plat, ld, std::move(op), rc, msgid);
}

void LdapWrites::send_deletes(PlatformImpl& plat, LDAP* ld, const Op& base)
{
    std::shared_ptr<DeleteRun> keep = base.run;
    DeleteRun& run = *keep;
    while (run.rc == LDAP_SUCCESS && run.out.size() < DELETE_WINDOW && run.next < run.dns.size()) {
        const std::string& dn = run.dns[run.next];
        if (std::any_of(run.out.begin(), run.out.end(),
                        [&](const std::string& o) { return kvl_ldap_lies_below(o, dn); }))
            break; /* its subtree's deletes first */
        run.next++;
        Controls ctrls;
        ctrls.add_manage(manage_dsa_it);
        int msgid = 0;
        int rc = ldap_delete_ext(ld, dn.c_str(), ctrls.get(), nullptr, &msgid);
        if (rc == LDAP_SERVER_DOWN) {
            plat.lost(kvl_ldap_result_text(rc, nullptr));
            return;
        }
        if (rc != LDAP_SUCCESS) {
            run.rc = rc;
            run.stopped = dn;
            run.text = kvl_ldap_result_text(rc, nullptr);
            break;
        }
        Op op;
        op.kind = Op::DELETE;
        op.id = base.id;
        op.dn = dn;
        op.run = keep;
        run.out.push_back(dn);
        ops_[msgid] = std::move(op);
    }
    if (!run.out.empty()) return;
    if (run.rc != LDAP_SUCCESS) {
        plat.fail(base.id, kvl_ldap_error_type(run.rc),
                  std::to_string(run.done) + " of " + std::to_string(run.dns.size()) +
                      " entries deleted; the delete of " + run.stopped +
                      " was refused: " + run.text,
                  run.rc);
        return;
    }
    json names = json::array();
    for (const std::string& d : run.dns) names.push_back(fdn_of ? fdn_of(d) : d);
    plat.answer(base.id, json{{"count", run.dns.size()}, {"names", names}});
}

void LdapWrites::deleted(PlatformImpl& plat, LDAP* ld, Op op, int rc, const std::string& text)
{
    if (op.run) {
        DeleteRun& run = *op.run;
        run.out.erase(std::find(run.out.begin(), run.out.end(), op.dn));
        if (rc == LDAP_SUCCESS) {
            run.done++;
        } else if (run.rc == LDAP_SUCCESS) {
            run.rc = rc;
            run.stopped = op.dn;
            run.text = text;
        }
        send_deletes(plat, ld, op);
        return;
    }
    /* One delete of the whole subtree (Tree Delete). */
    if (rc != LDAP_SUCCESS) {
        plat.fail(op.id, kvl_ldap_error_type(rc),
                  "0 of " + std::to_string(op.dns.size()) + " entries deleted; the delete of " +
                      op.dn + " was refused: " + text,
                  rc);
        return;
    }
    json names = json::array();
    for (const std::string& d : op.dns) names.push_back(fdn_of ? fdn_of(d) : d);
    plat.answer(op.id, json{{"count", op.dns.size()}, {"names", names}});
}

/* ------------------------------------------------------------------ actions */

bool LdapWrites::start_action(PlatformImpl& plat, LDAP* ld, long id, const json& params)
{
    std::string name = str_field(params, "name"), action = str_field(params, "action"), dn, why;
    if (!kvl_ldap_fdn_to_dn(name, dn, why)) {
        plat.fail(id, KVL_ERR_BAD_NAME, why);
        return true;
    }
    Op op;
    op.id = id;
    op.dn = dn;
    int msgid = 0, rc;
    if (action == "whoAmI") {
        if (!dn.empty()) {
            plat.fail(id, KVL_ERR_NO_ACTION, "whoAmI is an action of the root DSE (/), not of " + name);
            return true;
        }
        op.kind = Op::WHOAMI;
        rc = ldap_whoami(ld, nullptr, nullptr, &msgid);
        return started(plat, ld, std::move(op), rc, msgid);
    }
    if (dn.empty()) {
        plat.fail(id, KVL_ERR_NO_ACTION, "the root DSE has no password to set");
        return true;
    }
    /* The parameter is the new password: it goes into the request and nowhere else. */
    const json& p = params["parameter"];
    const std::string* secret = p.is_string() ? p.get_ptr<const std::string*>() : nullptr;
    if (!secret || secret->empty()) {
        plat.fail(id, KVL_ERR_ARGUMENT, "setPassword needs the new password as its parameter");
        return true;
    }
    struct berval user = {static_cast<ber_len_t>(dn.size()), &dn[0]};
    struct berval pw = {static_cast<ber_len_t>(secret->size()), const_cast<char*>(secret->data())};
    op.kind = Op::PASSWD;
    rc = ldap_passwd(ld, &user, nullptr, &pw, nullptr, nullptr, &msgid);
    return started(plat, ld, std::move(op), rc, msgid);
}

/* ------------------------------------------------------------------ results */

bool LdapWrites::take(PlatformImpl& plat, LDAP* ld, LDAPMessage* msg)
{
    auto it = ops_.find(ldap_msgid(msg));
    if (it == ops_.end()) return false;
    Op& op = it->second;
    int type = ldap_msgtype(msg);
    if (type == LDAP_RES_SEARCH_ENTRY) {
        char* dn = ldap_get_dn(ld, msg);
        if (op.kind == Op::LIST && dn) op.dns.push_back(dn);
        if (op.kind == Op::READ_BACK) {
            BerElement* ber = nullptr;
            for (char* a = ldap_first_attribute(ld, msg, &ber); a; a = ldap_next_attribute(ld, msg, ber)) {
                struct berval** v = ldap_get_values_len(ld, msg, a);
                std::vector<std::string> list;
                for (int i = 0; v && v[i]; i++) list.emplace_back(v[i]->bv_val, v[i]->bv_len);
                if (v) ldap_value_free_len(v);
                op.now[a] = list;
                ldap_memfree(a);
            }
            if (ber) ber_free(ber, 0);
        }
        if (dn) ldap_memfree(dn);
        return true;
    }
    if (type == LDAP_RES_SEARCH_REFERENCE || type == LDAP_RES_INTERMEDIATE) return true;
    int rc = LDAP_OTHER;
    char* diagnostic = nullptr;
    LDAPControl** ctrls = nullptr;
    int prc = ldap_parse_result(ld, msg, &rc, nullptr, &diagnostic, nullptr, &ctrls, 0);
    if (prc != LDAP_SUCCESS) rc = prc;
    std::string text = kvl_ldap_result_text(rc, diagnostic);
    if (diagnostic) ldap_memfree(diagnostic);
    std::string next_cookie;
    if (ctrls) {
        if (LDAPControl* page = ldap_control_find(LDAP_CONTROL_PAGEDRESULTS, ctrls, nullptr)) {
            ber_int_t estimate = 0;
            struct berval cookie = {0, nullptr};
            if (ldap_parse_pageresponse_control(ld, page, &estimate, &cookie) == LDAP_SUCCESS &&
                cookie.bv_val) {
                next_cookie.assign(cookie.bv_val, cookie.bv_len);
                ber_memfree(cookie.bv_val);
            }
        }
        ldap_controls_free(ctrls);
    }
    Op done = std::move(op);
    ops_.erase(it);
    switch (done.kind) {
    case Op::MODIFY: modified(plat, ld, std::move(done), rc, text); break;
    case Op::READ_BACK:
        if (rc != LDAP_SUCCESS) {
            plat.fail(done.id, kvl_ldap_error_type(rc),
                      "the entry " + done.dn + " changed since it was loaded, and reading it again failed: " + text, rc);
            break;
        }
        read_back(plat, done);
        if (done.kind == Op::MODIFY) start_modify(plat, ld, std::move(done));
        break;
    case Op::ADD:
        if (rc != LDAP_SUCCESS)
            plat.fail(done.id, kvl_ldap_error_type(rc), text + " (" + done.dn + ")", rc);
        else
            plat.answer(done.id, json{{"name", fdn_of ? fdn_of(done.dn) : done.dn}, {"class", done.cls}});
        break;
    case Op::LIST:
        if (rc != LDAP_SUCCESS) {
            plat.fail(done.id, kvl_ldap_error_type(rc), text + " (" + done.dn + ")", rc);
        } else if (!next_cookie.empty()) {
            done.cookie = next_cookie;
            list_page(plat, ld, std::move(done));
        } else {
            /* A child's DN is its parent's with an RDN before it: longer
             * names first puts every entry before its parent. */
            std::stable_sort(done.dns.begin(), done.dns.end(),
                             [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
            if (done.dns.empty()) done.dns.push_back(done.dn);
            delete_next(plat, ld, std::move(done));
        }
        break;
    case Op::DELETE: deleted(plat, ld, std::move(done), rc, text); break;
    case Op::PASSWD:
        if (rc != LDAP_SUCCESS)
            plat.fail(done.id, kvl_ldap_error_type(rc), text, rc);
        else
            plat.answer(done.id, json{{"reply", "the password of " + done.dn + " was changed"}});
        break;
    case Op::WHOAMI: {
        if (rc != LDAP_SUCCESS) {
            plat.fail(done.id, kvl_ldap_error_type(rc), text, rc);
            break;
        }
        struct berval* id = nullptr;
        std::string who;
        if (ldap_parse_whoami(ld, msg, &id) == LDAP_SUCCESS && id) who.assign(id->bv_val, id->bv_len);
        if (id) ber_bvfree(id);
        plat.answer(done.id, json{{"reply", who.empty() ? std::string("anonymous") : who}});
        break;
    }
    }
    return true;
}

void LdapWrites::forget(LDAP* ld, long id)
{
    /* A subtree's delete may have several operations out. */
    for (auto it = ops_.begin(); it != ops_.end();) {
        if (it->second.id != id) {
            ++it;
            continue;
        }
        if (ld) ldap_abandon_ext(ld, it->first, nullptr, nullptr);
        it = ops_.erase(it);
    }
}
