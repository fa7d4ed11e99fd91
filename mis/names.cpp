// Object names: reading the loose forms, writing the canonical one.
#include "names.h"

#include <cctype>

#include "schema.h"

namespace mis {

namespace {

struct RawRdn {
    std::string attr, value;
    bool quoted = false;
};

bool blank(char c)
{
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

// Reads RDNs from text starting at i. Stops at the end, or -- when stop_at_star is set -- at a
// '*' where an RDN would start, leaving i on it. Schema-free: attribute names and values raw.
bool read_rdns(const std::string& t, size_t& i, bool stop_at_star, std::vector<RawRdn>& out,
               std::string& why)
{
    auto skip = [&] {
        while (i < t.size() && blank(t[i])) ++i;
    };
    skip();
    if (i < t.size() && t[i] == '/') ++i;
    for (;;) {
        skip();
        if (i >= t.size()) return true;
        if (stop_at_star && t[i] == '*') return true;
        if (t[i] == '/') {
            why = "empty name part in '" + t + "'";
            return false;
        }
        RawRdn r;
        while (i < t.size() && t[i] != '=' && t[i] != '/') r.attr += t[i++];
        r.attr = trim(r.attr);
        if (i >= t.size() || t[i] != '=' || r.attr.empty()) {
            why = "expected attribute=value in '" + t + "'";
            return false;
        }
        ++i;
        skip();
        if (i < t.size() && t[i] == '"') {
            r.quoted = true;
            ++i;
            bool closed = false;
            while (i < t.size()) {
                char c = t[i++];
                if (c == '\\' && i < t.size()) {
                    r.value += t[i++];
                    continue;
                }
                if (c == '"') {
                    closed = true;
                    break;
                }
                r.value += c;
            }
            if (!closed) {
                why = "unterminated quote in '" + t + "'";
                return false;
            }
            skip();
            if (i < t.size() && t[i] != '/') {
                why = "text after a quoted value in '" + t + "'";
                return false;
            }
        } else {
            while (i < t.size() && t[i] != '/') r.value += t[i++];
            r.value = trim(r.value);
        }
        out.push_back(r);
        if (i < t.size()) ++i; // the '/'
    }
}

bool canonical_rdns(const Schema& s, const std::vector<RawRdn>& raw, std::vector<Rdn>& rdns,
                    std::string& why)
{
    rdns.clear();
    for (auto& r : raw) {
        const AttributeDef* a = s.attribute(r.attr);
        if (!a) {
            why = "unknown naming attribute '" + r.attr + "'";
            return false;
        }
        if (a->syntax->kind == Syntax::OBJECTNAME) {
            why = "attribute '" + r.attr + "' cannot name an object";
            return false;
        }
        std::string v, err;
        if (!s.validate(*a->syntax, r.value, v, err)) {
            why = "in the name part " + r.attr + ": " + err;
            return false;
        }
        rdns.push_back({a->display, v});
    }
    return true;
}

} // namespace

bool parse_name(const Schema& s, const std::string& text, std::vector<Rdn>& rdns, std::string& why)
{
    std::vector<RawRdn> raw;
    size_t i = 0;
    if (!read_rdns(text, i, false, raw, why)) return false;
    return canonical_rdns(s, raw, rdns, why);
}

std::string format_name(const Schema& s, const std::vector<Rdn>& rdns)
{
    if (rdns.empty()) return "/";
    std::string out;
    for (auto& r : rdns) {
        const AttributeDef* a = s.attribute(r.attr);
        bool bare = a && a->syntax->kind == Syntax::INTEGER;
        out += "/" + r.attr + "=" + (bare ? r.value : quote(r.value));
    }
    return out;
}

bool canonical_name(const Schema& s, const std::string& text, std::string& out, std::string& why)
{
    std::vector<Rdn> rdns;
    if (!parse_name(s, text, rdns, why)) return false;
    out = format_name(s, rdns);
    return true;
}

bool parse_derivation(const Schema& s, const std::string& text, std::string& base,
                      std::string& filter, std::string& why)
{
    std::vector<RawRdn> raw;
    size_t i = 0;
    if (!read_rdns(text, i, true, raw, why)) return false;
    if (i >= text.size() || text[i] != '*') {
        why = "a derivation string ends in /* or /*/CMISFilter(...): '" + text + "'";
        return false;
    }
    ++i;
    std::vector<Rdn> rdns;
    if (!canonical_rdns(s, raw, rdns, why)) return false;
    base = format_name(s, rdns);
    std::string rest = trim(text.substr(i));
    filter.clear();
    if (rest.empty()) return true;
    static const std::string head = "/CMISFilter(";
    if (rest.compare(0, head.size(), head) != 0 || rest.back() != ')') {
        why = "expected /CMISFilter(<filter>) after /* in '" + text + "'";
        return false;
    }
    filter = trim(rest.substr(head.size(), rest.size() - head.size() - 1));
    return true;
}

} // namespace mis
