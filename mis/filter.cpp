// CMIS filters in LDAP string form.
#include "filter.h"

#include <algorithm>
#include <cctype>
#include <functional>
#include <unordered_map>

#include "schema.h"

namespace mis {

namespace {

std::string fold(const std::string& s)
{
    std::string out;
    for (char c : s)
        if (!std::isspace(static_cast<unsigned char>(c)))
            out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

int hexval(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

size_t mix(size_t h, size_t v)
{
    return h ^ (v + 0x9e3779b97f4a7c15ull + (h << 6) + (h >> 2));
}

// The hash of a node from its own fields and its kids' hashes.
size_t hash_of(const Filter& f)
{
    std::hash<std::string> hs;
    size_t h = mix(static_cast<size_t>(f.op), std::hash<const void*>()(f.attr));
    h = mix(mix(h, hs(f.value)), std::hash<long long>()(f.number));
    for (auto& p : f.parts) h = mix(h, hs(p));
    for (auto& k : f.kids) h = mix(h, k->hash);
    return h;
}

bool same(const Filter& a, const Filter& b)
{
    if (a.hash != b.hash || a.op != b.op || a.attr != b.attr || a.value != b.value ||
        a.number != b.number || a.parts != b.parts || a.kids.size() != b.kids.size())
        return false;
    for (size_t i = 0; i < a.kids.size(); ++i)
        if (!same(*a.kids[i], *b.kids[i])) return false;
    return true;
}

// The members of one '&' or '|' being read: a member of the same kind is merged, a member equal
// to one already there is dropped. Finding an equal member is a lookup by hash, so a long
// repetition costs no more than its length.
class Members {
public:
    explicit Members(Filter& f) : f_(f) {}

    void add(std::unique_ptr<Filter> k)
    {
        if (k->op == f_.op) {
            for (auto& g : k->kids) add(std::move(g));
            return;
        }
        auto range = seen_.equal_range(k->hash);
        for (auto it = range.first; it != range.second; ++it)
            if (same(*it->second, *k)) return;
        seen_.emplace(k->hash, k.get());
        f_.kids.push_back(std::move(k));
    }

private:
    Filter& f_;
    std::unordered_multimap<size_t, const Filter*> seen_;
};

class Parser {
public:
    Parser(const Schema& s, const std::string& t) : s_(s), t_(t) {}

    std::unique_ptr<Filter> run(std::string& why)
    {
        std::unique_ptr<Filter> f = filter(0);
        skip();
        if (f && i_ != t_.size()) error("unexpected text after the filter");
        if (!f || !why_.empty()) {
            why = why_.empty() ? "malformed filter" : why_;
            why += " in '" + (t_.size() > 200 ? t_.substr(0, 200) + "..." : t_) + "'";
            return nullptr;
        }
        return f;
    }

private:
    const Schema& s_;
    const std::string& t_;
    size_t i_ = 0;
    std::string why_;

    void skip()
    {
        while (i_ < t_.size() && std::isspace(static_cast<unsigned char>(t_[i_]))) ++i_;
    }
    std::nullptr_t error(const std::string& w)
    {
        if (why_.empty()) why_ = w + " at position " + std::to_string(i_ + 1);
        return nullptr;
    }

    std::unique_ptr<Filter> filter(int depth)
    {
        if (depth > MAX_FILTER_DEPTH) return error("filter nested too deeply");
        skip();
        if (i_ >= t_.size() || t_[i_] != '(') return error("expected '('");
        ++i_;
        skip();
        if (i_ >= t_.size()) return error("unexpected end");
        std::unique_ptr<Filter> f;
        char c = t_[i_];
        if (c == '&' || c == '|' || c == '!') {
            ++i_;
            f = std::make_unique<Filter>();
            f->op = c == '&' ? Filter::AND : c == '|' ? Filter::OR : Filter::NOT;
            Members members(*f);
            size_t read = 0;
            for (;; ++read) {
                skip();
                if (i_ < t_.size() && t_[i_] == ')') break;
                auto k = filter(depth + 1);
                if (!k) return nullptr;
                if (f->op == Filter::NOT)
                    f->kids.push_back(std::move(k));
                else
                    members.add(std::move(k));
            }
            if (read == 0) return error("'" + std::string(1, c) + "' needs at least one filter");
            if (f->op == Filter::NOT && f->kids.size() != 1)
                return error("'!' takes exactly one filter");
            if (i_ >= t_.size() || t_[i_] != ')') return error("expected ')'");
            ++i_;
            // One member is the filter itself; '!' of '!' is what the inner one negates.
            if (f->op != Filter::NOT && f->kids.size() == 1) return std::move(f->kids[0]);
            if (f->op == Filter::NOT && f->kids[0]->op == Filter::NOT)
                return std::move(f->kids[0]->kids[0]);
            f->kids.shrink_to_fit();
            f->hash = hash_of(*f);
            return f;
        } else {
            f = item();
            if (!f) return nullptr;
            skip();
        }
        if (i_ >= t_.size() || t_[i_] != ')') return error("expected ')'");
        ++i_;
        return f;
    }

    // attr op value, up to (not including) the closing parenthesis.
    std::unique_ptr<Filter> item()
    {
        size_t start = i_;
        while (i_ < t_.size() && t_[i_] != '=' && t_[i_] != '>' && t_[i_] != '<' && t_[i_] != '~' &&
               t_[i_] != '(' && t_[i_] != ')')
            ++i_;
        std::string name = trim(t_.substr(start, i_ - start));
        if (name.empty()) return error("expected an attribute name");
        if (i_ >= t_.size() || t_[i_] == '(' || t_[i_] == ')')
            return error("expected =, >=, <= or ~=");
        auto f = std::make_unique<Filter>();
        char c = t_[i_];
        if (c == '=')
            f->op = Filter::EQ, ++i_;
        else if (i_ + 1 < t_.size() && t_[i_ + 1] == '=') {
            f->op = c == '>' ? Filter::GE : c == '<' ? Filter::LE : Filter::APPROX;
            i_ += 2;
        } else
            return error("expected =, >=, <= or ~=");
        f->attr = s_.attribute(name);
        if (!f->attr) return error("unknown attribute '" + name + "'");

        // The value: pieces split at unescaped '*'.
        std::vector<std::string> pieces(1);
        while (i_ < t_.size() && t_[i_] != ')') {
            char v = t_[i_];
            if (v == '(') return error("unescaped '(' in a value");
            if (v == '\\') {
                if (i_ + 1 >= t_.size()) return error("dangling backslash");
                char n = t_[i_ + 1];
                if (n == '(' || n == ')' || n == '*' || n == '\\') {
                    pieces.back() += n;
                    i_ += 2;
                } else if (i_ + 2 < t_.size() && hexval(n) >= 0 && hexval(t_[i_ + 2]) >= 0) {
                    pieces.back() += static_cast<char>(hexval(n) * 16 + hexval(t_[i_ + 2]));
                    i_ += 3;
                } else {
                    return error("bad escape");
                }
                continue;
            }
            if (v == '*')
                pieces.emplace_back();
            else
                pieces.back() += v;
            ++i_;
        }
        const Syntax& syn = *f->attr->syntax;
        if (pieces.size() > 1) {
            if (f->op != Filter::EQ) return error("'*' only goes with '='");
            if (pieces.size() == 2 && trim(pieces[0]).empty() && trim(pieces[1]).empty()) {
                f->op = Filter::PRESENT;
            } else {
                f->op = Filter::SUBSTR;
                f->parts = pieces;
            }
            f->hash = hash_of(*f);
            return f;
        }
        std::string text = pieces[0], canon, why;
        switch (f->op) {
        case Filter::EQ:
            if (!s_.validate(syn, text, canon, why)) return error(why);
            f->value = canon;
            break;
        case Filter::GE:
        case Filter::LE:
            if (syn.kind == Syntax::INTEGER) {
                if (!parse_integer(text, f->number))
                    return error("'" + text + "' is not an integer");
            } else {
                f->value = s_.validate(syn, text, canon, why) ? canon : trim(text);
            }
            break;
        default: f->value = fold(text); break;
        }
        f->hash = hash_of(*f);
        return f;
    }
};

} // namespace

std::unique_ptr<Filter> parse_filter(const Schema& s, const std::string& text, std::string& why)
{
    std::string t = trim(text);
    if (t.empty()) {
        why = "empty filter";
        return nullptr;
    }
    std::string wrapped = t[0] == '(' ? t : "(" + t + ")";
    Parser p(s, wrapped);
    return p.run(why);
}

bool Filter::matches(const ClassDef& c, const std::vector<std::string>& values) const
{
    switch (op) {
    case AND:
        for (auto& k : kids)
            if (!k->matches(c, values)) return false;
        return true;
    case OR:
        for (auto& k : kids)
            if (k->matches(c, values)) return true;
        return false;
    case NOT: return !kids[0]->matches(c, values);
    default: break;
    }
    int at = c.find(attr);
    if (at < 0 || static_cast<size_t>(at) >= values.size()) return false;
    const std::string& v = values[at];
    switch (op) {
    case PRESENT: return true;
    case EQ:
        if (attr->syntax->kind == Syntax::CLASSNAME && attr->display == "objectClass")
            return c.is_a(value);
        return v == value;
    case GE:
    case LE: {
        int cmp;
        if (attr->syntax->kind == Syntax::INTEGER) {
            long long n;
            if (!parse_integer(v, n)) return false;
            cmp = n < number ? -1 : n > number ? 1 : 0;
        } else {
            cmp = v.compare(value);
        }
        return op == GE ? cmp >= 0 : cmp <= 0;
    }
    case APPROX: return fold(v) == value;
    case SUBSTR: {
        const std::string& first = parts.front();
        const std::string& last = parts.back();
        if (v.size() < first.size() + last.size()) return false;
        if (v.compare(0, first.size(), first) != 0) return false;
        if (v.compare(v.size() - last.size(), last.size(), last) != 0) return false;
        size_t pos = first.size(), end = v.size() - last.size();
        for (size_t k = 1; k + 1 < parts.size(); ++k) {
            if (parts[k].empty()) continue;
            size_t f = v.find(parts[k], pos);
            if (f == std::string::npos || f + parts[k].size() > end) return false;
            pos = f + parts[k].size();
        }
        return true;
    }
    default: return false;
    }
}

namespace {

void escape_into(std::string& out, const std::string& v)
{
    static const char* hex = "0123456789abcdef";
    for (char ch : v) {
        auto u = static_cast<unsigned char>(ch);
        if (ch == '(' || ch == ')' || ch == '*' || ch == '\\' || u < 0x20 || u == 0x7f) {
            out += '\\';
            out += hex[u >> 4];
            out += hex[u & 15];
        } else {
            out += ch;
        }
    }
}

void key_into(std::string& out, const Filter& f)
{
    out += '(';
    switch (f.op) {
    case Filter::AND:
    case Filter::OR:
    case Filter::NOT:
        out += f.op == Filter::AND ? '&' : f.op == Filter::OR ? '|' : '!';
        for (auto& k : f.kids) key_into(out, *k);
        break;
    default:
        out += f.attr->name;
        switch (f.op) {
        case Filter::EQ: out += '='; break;
        case Filter::GE: out += ">="; break;
        case Filter::LE: out += "<="; break;
        case Filter::APPROX: out += "~="; break;
        default: out += '='; break;
        }
        if (f.op == Filter::PRESENT) {
            out += '*';
        } else if (f.op == Filter::SUBSTR) {
            for (size_t i = 0; i < f.parts.size(); ++i) {
                if (i > 0) out += '*';
                escape_into(out, f.parts[i]);
            }
        } else if ((f.op == Filter::GE || f.op == Filter::LE) &&
                   f.attr->syntax->kind == Syntax::INTEGER) {
            out += std::to_string(f.number);
        } else {
            escape_into(out, f.value);
        }
    }
    out += ')';
}

// What the allocator hands out for a block of n bytes: the block rounded up to 16 bytes, with
// a 16-byte header.
size_t block(size_t n)
{
    return n == 0 ? 0 : (n + 15) / 16 * 16 + 16;
}

// The heap bytes of a string beyond the object itself (short strings live inside it).
size_t heap_of(const std::string& s)
{
    return s.capacity() > 15 ? block(s.capacity() + 1) : 0;
}

void cost_into(FilterCost& c, const Filter& f)
{
    c.nodes += 1;
    c.bytes += block(sizeof(Filter)) + block(f.kids.capacity() * sizeof(f.kids[0])) +
               heap_of(f.value) + block(f.parts.capacity() * sizeof(std::string));
    for (auto& p : f.parts) c.bytes += heap_of(p);
    for (auto& k : f.kids) cost_into(c, *k);
}

// Adds f's anchor terms to out; false when f has none within the limit.
bool anchors_into(const Filter& f, std::vector<const Filter*>& out, size_t at_most)
{
    switch (f.op) {
    case Filter::EQ:
        if (out.size() >= at_most) return false;
        out.push_back(&f);
        return true;
    case Filter::OR:
        // Every member must be anchored: the union names every way to pass.
        for (auto& k : f.kids)
            if (!anchors_into(*k, out, at_most)) return false;
        return true;
    case Filter::AND: {
        // Passing means passing every member, so the anchors of one member will do: the
        // member with the fewest. A member is tried only for fewer than the best so far.
        std::vector<const Filter*> best, mine;
        bool found = false;
        for (auto& k : f.kids) {
            if (found && best.size() <= 1) break;
            mine.clear();
            if (anchors_into(*k, mine, found ? best.size() - 1 : at_most - out.size())) {
                best.swap(mine);
                found = true;
            }
        }
        if (!found) return false;
        out.insert(out.end(), best.begin(), best.end());
        return true;
    }
    default: return false;
    }
}

void attributes_into(const Filter& f, std::vector<const AttributeDef*>& out)
{
    if (f.attr && std::find(out.begin(), out.end(), f.attr) == out.end()) out.push_back(f.attr);
    for (auto& k : f.kids) attributes_into(*k, out);
}

} // namespace

std::string filter_key(const Filter& f)
{
    std::string out;
    key_into(out, f);
    return out;
}

FilterCost filter_cost(const Filter& f)
{
    FilterCost c;
    cost_into(c, f);
    return c;
}

std::vector<const Filter*> anchor_terms(const Filter& f, size_t at_most)
{
    std::vector<const Filter*> out;
    if (!anchors_into(f, out, at_most)) out.clear();
    return out;
}

std::vector<const AttributeDef*> filter_attributes(const Filter& f)
{
    std::vector<const AttributeDef*> out;
    attributes_into(f, out);
    return out;
}

} // namespace mis
