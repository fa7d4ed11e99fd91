/*
 * ldap_names.cpp - DN <-> FDN (see ldap_names.h).
 */
#include "kvl/ldap/ldap_names.h"

#include <ldap.h>
#include <strings.h>

#include <cctype>
#include <cstring>

namespace {

/* ldap_dnfree at the end of the scope. */
struct DnGuard {
    LDAPDN dn = nullptr;
    ~DnGuard()
    {
        if (dn) ldap_dnfree(dn);
    }
};

const char HEX_DIGITS[] = "0123456789ABCDEF";

void hex_pair(std::string& out, unsigned char c)
{
    out += '\\';
    out += HEX_DIGITS[c >> 4];
    out += HEX_DIGITS[c & 15];
}

/* One attribute value assertion: type=value with RFC 4514's escapes. */
void write_ava(const LDAPAVA& ava, std::string& out)
{
    out.append(ava.la_attr.bv_val, ava.la_attr.bv_len);
    out += '=';
    const unsigned char* v = reinterpret_cast<const unsigned char*>(ava.la_value.bv_val);
    size_t n = ava.la_value.bv_len;
    if (ava.la_flags & LDAP_AVA_BINARY) { /* the BER form: '#' and hex */
        out += '#';
        for (size_t i = 0; i < n; i++) {
            out += HEX_DIGITS[v[i] >> 4];
            out += HEX_DIGITS[v[i] & 15];
        }
        return;
    }
    for (size_t i = 0; i < n; i++) {
        unsigned char c = v[i];
        bool edge_space = c == ' ' && (i == 0 || i + 1 == n);
        if (c == '/' || c == '"' || c < 0x20 || c == 0x7f)
            hex_pair(out, c); /* never raw in a component */
        else if (c == ',' || c == '+' || c == '\\' || c == '<' || c == '>' || c == ';' ||
                 edge_space || (i == 0 && c == '#')) {
            out += '\\';
            out += static_cast<char>(c);
        } else
            out += static_cast<char>(c);
    }
}

std::string write_rdn(LDAPRDN rdn)
{
    std::string out;
    for (int i = 0; rdn[i]; i++) {
        if (i) out += '+';
        write_ava(*rdn[i], out);
    }
    return out;
}

bool parse(const std::string& text, bool liberal, DnGuard& g, std::string& why)
{
    int rc = ldap_str2dn(text.c_str(), &g.dn, liberal ? LDAP_DN_FORMAT_LDAP : LDAP_DN_FORMAT_LDAPV3);
    if (rc == LDAP_SUCCESS) return true;
    why = "'" + text + "' is not a distinguished name (" + ldap_err2string(rc) + ")";
    return false;
}

/* The RDNs of dn in canonical text, most specific first. */
bool rdns_of(const std::string& dn, bool liberal, std::vector<std::string>& rdns, std::string& why)
{
    rdns.clear();
    if (dn.empty()) return true;
    DnGuard g;
    if (!parse(dn, liberal, g, why)) return false;
    for (int i = 0; g.dn && g.dn[i]; i++) rdns.push_back(write_rdn(g.dn[i]));
    return true;
}

std::string join(const std::vector<std::string>& rdns, size_t from, size_t to)
{
    std::string out;
    for (size_t i = from; i < to; i++) out += (i > from ? "," : "") + rdns[i];
    return out;
}

/* Splits an FDN into components at '/' outside quotes and escapes. */
std::vector<std::string> components(const std::string& fdn)
{
    std::vector<std::string> out;
    std::string cur;
    bool quoted = false;
    for (size_t i = 1; i < fdn.size(); i++) {
        char c = fdn[i];
        if (c == '\\' && i + 1 < fdn.size()) {
            cur += c;
            cur += fdn[++i];
        } else if (c == '"') {
            quoted = !quoted;
            cur += c;
        } else if (c == '/' && !quoted) {
            out.push_back(cur);
            cur.clear();
        } else
            cur += c;
    }
    if (!cur.empty()) out.push_back(cur); /* a trailing '/' ends nothing */
    return out;
}

/* Where the last component of an FDN begins: its '/' outside quotes and
 * escapes (npos for a name that is no FDN, or has no '/'). */
size_t last_separator(const std::string& fdn)
{
    if (fdn.empty() || fdn[0] != '/') return std::string::npos;
    size_t last = 0;
    bool quoted = false;
    for (size_t i = 1; i < fdn.size(); i++) {
        char c = fdn[i];
        if (c == '\\')
            i++;
        else if (c == '"')
            quoted = !quoted;
        else if (c == '/' && !quoted)
            last = i;
    }
    return last;
}

/* The length of the RDN that starts dn when it is plain: an attribute type
 * and one value of characters no escape or parse would change, followed by a
 * ','.  Such an RDN is its own canonical text.  0 for any other. */
size_t plain_rdn(const std::string& dn)
{
    size_t i = 0;
    while (i < dn.size() && (std::isalnum(static_cast<unsigned char>(dn[i])) || dn[i] == '-')) i++;
    if (i == 0 || i >= dn.size() || dn[i] != '=') return 0;
    size_t value = ++i;
    for (; i < dn.size() && dn[i] != ','; i++) {
        unsigned char c = dn[i];
        if (c <= 0x20 || c >= 0x7f || std::strchr("+\\<>;/\"=#", c)) return 0;
    }
    return i > value && i < dn.size() ? i : 0;
}

} // namespace

bool kvl_ldap_canonical_dn(const std::string& dn, bool liberal, std::string& out, std::string& why)
{
    std::vector<std::string> rdns;
    if (!rdns_of(dn, liberal, rdns, why)) return false;
    out = join(rdns, 0, rdns.size());
    return true;
}

void LdapNamingContexts::set(const std::vector<std::string>& contexts)
{
    text_.clear();
    rdns_.clear();
    parent_fdn_.clear(); /* turned below other contexts */
    up_dn_.clear();
    for (const std::string& c : contexts) {
        std::vector<std::string> rdns;
        std::string why;
        if (!rdns_of(c, false, rdns, why) || rdns.empty()) continue;
        text_.push_back(c);
        rdns_.push_back(std::move(rdns));
    }
}

/* Whether the RDN first above the RDNs below names a naming context. */
bool LdapNamingContexts::is_context(const std::string& first,
                                    const std::vector<std::string>& below) const
{
    for (const std::vector<std::string>& crdns : rdns_) {
        if (crdns.size() != below.size() + 1 || strcasecmp(crdns[0].c_str(), first.c_str()) != 0)
            continue;
        bool same = true;
        for (size_t i = 0; i < below.size() && same; i++)
            same = strcasecmp(crdns[i + 1].c_str(), below[i].c_str()) == 0;
        if (same) return true;
    }
    return false;
}

bool LdapNamingContexts::to_fdn(const std::string& dn, std::string& fdn, std::string& why) const
{
    /* A sibling of the last name: its first RDN, then the parent's FDN. */
    size_t plain = parent_fdn_.empty() ? 0 : plain_rdn(dn);
    if (plain && dn.compare(plain + 1, std::string::npos, parent_dn_) == 0 &&
        !is_context(dn.substr(0, plain), parent_rdns_)) {
        fdn.reserve(parent_fdn_.size() + 1 + plain);
        fdn.assign(parent_fdn_).append(1, '/').append(dn, 0, plain);
        return true;
    }
    const char* parent = nullptr;
    std::string first;
    if (!dn.empty()) {
        LDAPRDN rdn = nullptr;
        char* next = nullptr;
        if (ldap_str2rdn(dn.c_str(), &rdn, &next, LDAP_DN_FORMAT_LDAPV3) == LDAP_SUCCESS && rdn) {
            first = write_rdn(rdn);
            if (next && *next == ',') parent = next + 1;
            while (parent && *parent == ' ') parent++;
        }
        if (rdn) ldap_rdnfree(rdn);
    }
    if (parent && *parent && !parent_fdn_.empty() && parent_dn_ == parent &&
        !is_context(first, parent_rdns_)) {
        fdn = parent_fdn_ + "/" + first;
        return true;
    }
    std::vector<std::string> rdns;
    if (!rdns_of(dn, false, rdns, why)) return false;
    if (rdns.empty()) {
        fdn = "/";
        return true;
    }
    /* The longest naming context that ends the DN is its first component. */
    size_t best = 0;
    const std::string* context = nullptr;
    for (size_t k = 0; k < rdns_.size(); k++) {
        const std::vector<std::string>& crdns = rdns_[k];
        if (crdns.size() > rdns.size() || crdns.size() <= best) continue;
        size_t off = rdns.size() - crdns.size();
        bool same = true;
        for (size_t i = 0; i < crdns.size() && same; i++)
            same = strcasecmp(crdns[i].c_str(), rdns[off + i].c_str()) == 0;
        if (same) {
            best = crdns.size();
            context = &text_[k];
        }
    }
    fdn.clear();
    size_t below = rdns.size();
    if (context) {
        fdn = "/" + *context;
        below -= best;
    }
    for (size_t i = below; i-- > 0;) fdn += "/" + rdns[i];
    /* The parent, for the siblings to come: when this name lies below its
     * naming context and its first RDN is the one parsed alone. */
    parent_fdn_.clear();
    if (parent && *parent && below > 0 && rdns[0] == first) {
        parent_dn_ = parent;
        parent_fdn_ = fdn.substr(0, fdn.size() - first.size() - 1);
        parent_rdns_.assign(rdns.begin() + 1, rdns.end());
    }
    return true;
}

bool LdapNamingContexts::to_dn(const std::string& fdn, std::string& dn, std::string& why) const
{
    /* A sibling of the last name: its last component, then the parent's DN. */
    size_t cut = last_separator(fdn);
    bool sibling = cut != std::string::npos && cut > 0 && cut + 1 < fdn.size();
    if (sibling && !up_dn_.empty() && up_fdn_.size() == cut && fdn.compare(0, cut, up_fdn_) == 0) {
        std::string own;
        if (!kvl_ldap_canonical_dn(fdn.substr(cut + 1), true, own, why)) return false;
        dn = own + "," + up_dn_;
        return true;
    }
    if (!kvl_ldap_fdn_to_dn(fdn, dn, why)) return false;
    up_dn_.clear();
    std::string own, ignored;
    if (sibling && kvl_ldap_canonical_dn(fdn.substr(cut + 1), true, own, ignored) &&
        dn.size() > own.size() + 1 && dn.compare(0, own.size(), own) == 0 &&
        dn[own.size()] == ',') {
        up_fdn_ = fdn.substr(0, cut);
        up_dn_ = dn.substr(own.size() + 1);
    }
    return true;
}

bool kvl_ldap_dn_to_fdn(const std::string& dn, const std::vector<std::string>& contexts,
                        std::string& fdn, std::string& why)
{
    LdapNamingContexts named;
    named.set(contexts);
    return named.to_fdn(dn, fdn, why);
}

bool kvl_ldap_fdn_to_dn(const std::string& fdn, std::string& dn, std::string& why)
{
    if (fdn.empty() || fdn[0] != '/') return kvl_ldap_canonical_dn(fdn, true, dn, why);
    std::vector<std::string> parts = components(fdn);
    std::string text;
    for (size_t i = parts.size(); i-- > 0;) {
        if (parts[i].empty()) {
            why = "'" + fdn + "' has an empty component";
            return false;
        }
        text += (text.empty() ? "" : ",") + parts[i];
    }
    return kvl_ldap_canonical_dn(text, true, dn, why);
}

bool kvl_ldap_lies_below(const std::string& dn, const std::string& above)
{
    size_t n = above.size();
    if (n == 0) return !dn.empty(); /* every entry lies below the root DSE */
    if (dn.size() <= n + 1 || strcasecmp(dn.c_str() + dn.size() - n, above.c_str()) != 0)
        return false;
    /* The comma before above's first RDN must separate RDNs: not escaped. */
    size_t comma = dn.size() - n - 1, slashes = 0;
    while (comma > slashes && dn[comma - 1 - slashes] == '\\') slashes++;
    return dn[comma] == ',' && slashes % 2 == 0;
}
