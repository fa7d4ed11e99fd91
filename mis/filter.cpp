// CMIS filters in LDAP string form.
#include "filter.h"

#include <cctype>

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
            for (;;) {
                skip();
                if (i_ < t_.size() && t_[i_] == ')') break;
                auto k = filter(depth + 1);
                if (!k) return nullptr;
                f->kids.push_back(std::move(k));
            }
            if (f->kids.empty())
                return error("'" + std::string(1, c) + "' needs at least one filter");
            if (f->op == Filter::NOT && f->kids.size() != 1)
                return error("'!' takes exactly one filter");
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

} // namespace mis
