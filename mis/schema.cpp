// Reads the schema text format (docs/schema.md) and checks values against syntaxes.
#include "schema.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "names.h"

namespace mis {

// ---------------------------------------------------------------- text helpers

std::string trim(const std::string& s)
{
    size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
    return s.substr(b, e - b);
}

std::string display_name(const std::string& full)
{
    size_t c = full.rfind(':');
    return c == std::string::npos ? full : full.substr(c + 1);
}

std::string quote(const std::string& s)
{
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    out += '"';
    return out;
}

bool parse_integer(const std::string& text, long long& out)
{
    std::string s = trim(text);
    if (s.empty()) return false;
    size_t i = (s[0] == '-' || s[0] == '+') ? 1 : 0;
    if (i == s.size() || s.size() - i > 18) return false; // 18 digits cannot overflow
    for (size_t k = i; k < s.size(); ++k)
        if (!std::isdigit(static_cast<unsigned char>(s[k]))) return false;
    out = std::strtoll(s.c_str(), nullptr, 10);
    return true;
}

// GeneralizedTime as YYYYMMDDHHMMSSZ with a real calendar date.
bool valid_time(const std::string& s)
{
    if (s.size() != 15 || s[14] != 'Z') return false;
    for (int i = 0; i < 14; ++i)
        if (!std::isdigit(static_cast<unsigned char>(s[i]))) return false;
    auto num = [&](int at, int len) { return std::atoi(s.substr(at, len).c_str()); };
    int y = num(0, 4), mo = num(4, 2), d = num(6, 2), h = num(8, 2), mi = num(10, 2),
        se = num(12, 2);
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (mo < 1 || mo > 12 || d < 1) return false;
    bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    int dim = days[mo - 1] + (mo == 2 && leap ? 1 : 0);
    return d <= dim && h < 24 && mi < 60 && se < 60;
}

std::string Syntax::rule_text() const
{
    std::ostringstream o;
    switch (kind) {
    case INTEGER: o << "integer " << min << ".." << max; break;
    case STRING: o << "text of " << min << ".." << max << " bytes"; break;
    case BOOLEAN: o << "true | false"; break;
    case OBJECTNAME: o << "an object name"; break;
    case TIME: o << "YYYYMMDDHHMMSSZ"; break;
    case CLASSNAME: o << "a class name"; break;
    case ENUM:
        for (size_t i = 0; i < values.size(); ++i) o << (i ? " | " : "") << values[i];
        break;
    }
    return o.str();
}

// ---------------------------------------------------------------- classes

int ClassDef::find(const AttributeDef* a) const
{
    if (!a) return -1;
    auto it = index.find(a->name);
    return it == index.end() ? -1 : static_cast<int>(it->second);
}

const ActionDef* ClassDef::action(const std::string& n) const
{
    for (auto& a : actions)
        if (a.name == n) return &a;
    return nullptr;
}

bool ClassDef::is_a(const std::string& cls) const
{
    for (const ClassDef* c = this; c; c = c->super)
        if (c->name == cls) return true;
    return false;
}

const AttributeDef* Schema::attribute(const std::string& name) const
{
    auto it = by_name_.find(trim(name));
    return it == by_name_.end() ? nullptr : it->second;
}

const ClassDef* Schema::cls(const std::string& name) const
{
    auto it = by_class_.find(trim(name));
    return it == by_class_.end() ? nullptr : it->second;
}

// ---------------------------------------------------------------- validation

bool Schema::validate(const Syntax& s, const std::string& text, std::string& canonical,
                      std::string& why) const
{
    std::string t = trim(text);
    bool ok = false;
    switch (s.kind) {
    case Syntax::INTEGER: {
        long long v;
        ok = parse_integer(t, v) && v >= s.min && v <= s.max;
        if (ok) canonical = std::to_string(v);
        break;
    }
    case Syntax::ENUM:
        for (auto& v : s.values)
            if (v.size() == t.size() &&
                std::equal(v.begin(), v.end(), t.begin(), [](char a, char b) {
                    return std::tolower(static_cast<unsigned char>(a)) ==
                           std::tolower(static_cast<unsigned char>(b));
                })) {
                canonical = v;
                ok = true;
            }
        break;
    case Syntax::BOOLEAN: {
        std::string l = t;
        for (auto& c : l) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (l == "true" || l == "yes" || l == "on" || l == "1") canonical = "true", ok = true;
        if (l == "false" || l == "no" || l == "off" || l == "0") canonical = "false", ok = true;
        break;
    }
    case Syntax::STRING:
        ok = static_cast<long long>(text.size()) >= s.min &&
             static_cast<long long>(text.size()) <= s.max &&
             std::none_of(text.begin(), text.end(),
                          [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; });
        if (ok) canonical = text;
        break;
    case Syntax::OBJECTNAME: {
        std::string err;
        ok = !t.empty() && canonical_name(*this, t, canonical, err);
        break;
    }
    case Syntax::TIME:
        ok = valid_time(t);
        if (ok) canonical = t;
        break;
    case Syntax::CLASSNAME:
        ok = cls(t) != nullptr;
        if (ok) canonical = t;
        break;
    }
    if (!ok) {
        std::string shown = text.size() > 80 ? text.substr(0, 80) + "..." : text;
        why = "value '" + shown + "' refused by syntax " + s.name + " (" + s.rule_text() + ")";
    }
    return ok;
}

std::string Schema::describe(const ClassDef& c) const
{
    std::string out = "class " + c.name + "\n";
    out += "derivedFrom " + std::string(c.super ? c.super->name : "none") + "\n";
    if (c.naming) out += "naming " + c.naming->name + "\n";
    out += "attributes\n";
    for (auto& ca : c.attrs)
        out += "    labels { label \"" + ca.attr->name + "\" syntax \"" + ca.attr->syntax->name +
               "\" access \"" + (ca.attr->read_only ? "read-only" : "read-write") + "\" }\n";
    out += "actions\n";
    for (auto& a : c.actions) out += "    label \"" + a.name + "\"\n";
    return out;
}

// ---------------------------------------------------------------- the reader

namespace {

struct Token {
    std::string text;
    bool quoted = false;
};

// Splits a line into words and quoted texts; false on an unterminated quote.
bool tokenize(const std::string& line, std::vector<Token>& out)
{
    size_t i = 0;
    while (i < line.size()) {
        if (std::isspace(static_cast<unsigned char>(line[i]))) {
            ++i;
            continue;
        }
        Token t;
        if (line[i] == '"') {
            t.quoted = true;
            ++i;
            bool closed = false;
            while (i < line.size()) {
                char c = line[i++];
                if (c == '\\' && i < line.size()) {
                    t.text += line[i++];
                    continue;
                }
                if (c == '"') {
                    closed = true;
                    break;
                }
                t.text += c;
            }
            if (!closed) return false;
        } else {
            while (i < line.size() && !std::isspace(static_cast<unsigned char>(line[i])))
                t.text += line[i++];
        }
        out.push_back(t);
    }
    return true;
}

bool parse_range(const std::string& s, long long& lo, long long& hi)
{
    size_t dots = s.find("..");
    return dots != std::string::npos && parse_integer(s.substr(0, dots), lo) &&
           parse_integer(s.substr(dots + 2), hi) && lo <= hi;
}

bool has_reserved_word(const std::string& s)
{
    return s.find("attributes") != std::string::npos || s.find("actions") != std::string::npos ||
           s.find('"') != std::string::npos;
}

struct RawClass {
    std::string name, super, naming;
    std::vector<std::string> under;
    std::vector<std::pair<std::string, Token>> attrs; // name, default (quoted flag: given)
    std::vector<ActionDef> actions;
    int line = 0;
};

} // namespace

bool read_file(const std::string& path, std::string& text)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::stringstream ss;
    ss << in.rdbuf();
    text = ss.str();
    return !in.bad();
}

std::unique_ptr<Schema> Schema::load(const std::string& path, std::string& err)
{
    std::string text;
    if (!read_file(path, text)) {
        err = path + ": cannot read the schema file";
        return nullptr;
    }
    std::string dir = ".";
    size_t slash = path.rfind('/');
    if (slash != std::string::npos) dir = path.substr(0, slash == 0 ? 1 : slash);
    return parse(text, path, dir, err);
}

// Reads a schema text into a Schema in three passes: the lines, one block at a
// time; the classes, each resolved against the classes before it; then the
// checks that need the whole schema.  Each step returns false after writing
// "origin:line: what" into err.
class SchemaParser {
public:
    SchemaParser(Schema& schema, const std::string& origin, const std::string& base_dir,
                 std::string& err)
        : S(schema), origin_(origin), base_dir_(base_dir), err_(err)
    {}

    bool read(const std::string& text);
    bool resolve_classes();
    bool check();

private:
    struct PendingDefault {
        AttributeDef* attr;
        std::string text;
        int line;
    };
    enum Block { NONE, SYNTAX, CLASS };

    bool bad(const std::string& what)
    {
        err_ = origin_ + ":" + std::to_string(lineno_) + ": " + what;
        return false;
    }
    bool read_line(const std::string& line);
    bool syntax_body(const std::vector<Token>& tok);
    bool class_body(const std::vector<Token>& tok, const std::string& t);
    bool action_line(const std::vector<Token>& tok, ActionDef& a);
    bool syntax_header(const std::vector<Token>& tok);
    bool attribute_header(const std::vector<Token>& tok);
    bool class_header(const std::vector<Token>& tok);
    bool resolve_class(const RawClass& rc);
    bool check_defaults();

    Schema& S;
    const std::string& origin_;
    const std::string& base_dir_;
    std::string& err_;
    std::vector<RawClass> raw_;
    std::vector<PendingDefault> defaults_;
    Block block_ = NONE;
    Syntax* cur_syntax_ = nullptr;
    int lineno_ = 0;
};

bool SchemaParser::read(const std::string& text)
{
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        ++lineno_;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!read_line(line)) return false;
    }
    lineno_ = 0;
    if (!S.object_class_)
        return bad("the schema needs the attribute objectClass with a classname syntax");
    return true;
}

// A line that starts with a space or tab belongs to the block its header opened.
bool SchemaParser::read_line(const std::string& line)
{
    std::string t = trim(line);
    if (t.empty() || t[0] == '#') return true;
    std::vector<Token> tok;
    if (!tokenize(t, tok)) return bad("unterminated quoted text");
    const std::string& kw = tok[0].text;
    if (std::isspace(static_cast<unsigned char>(line[0]))) {
        if (block_ == SYNTAX) return syntax_body(tok);
        if (block_ == CLASS) return class_body(tok, t);
        return bad("indented line outside a block");
    }
    block_ = NONE;
    if (kw == "syntax") return syntax_header(tok);
    if (kw == "attribute") return attribute_header(tok);
    if (kw == "class") return class_header(tok);
    return bad("unknown keyword '" + kw + "'");
}

bool SchemaParser::syntax_body(const std::vector<Token>& tok)
{
    const std::string& kw = tok[0].text;
    if (tok.size() != 2 || !tok[1].quoted) return bad("expected: " + kw + " \"text\"");
    if (kw == "description")
        cur_syntax_->description = tok[1].text;
    else if (kw == "expansion")
        cur_syntax_->expansion.push_back(tok[1].text);
    else
        return bad("unknown syntax line '" + kw + "'");
    return true;
}

bool SchemaParser::class_body(const std::vector<Token>& tok, const std::string& t)
{
    RawClass& c = raw_.back();
    const std::string& kw = tok[0].text;
    if (kw == "naming" && tok.size() == 2) {
        c.naming = tok[1].text;
    } else if (kw == "under" && tok.size() >= 2) {
        for (size_t i = 1; i < tok.size(); ++i) c.under.push_back(tok[i].text);
    } else if (kw == "attribute" &&
               (tok.size() == 2 || (tok.size() == 4 && tok[2].text == "default"))) {
        Token d;
        if (tok.size() == 4) d = tok[3], d.quoted = true;
        c.attrs.push_back({tok[1].text, d});
    } else if (kw == "action" && tok.size() >= 3) {
        ActionDef a;
        if (!action_line(tok, a)) return false;
        c.actions.push_back(a);
    } else {
        return bad("unknown or malformed class line '" + t + "'");
    }
    return true;
}

// action <name> builtin <kind> | program <file> [timeout <seconds>]
bool SchemaParser::action_line(const std::vector<Token>& tok, ActionDef& a)
{
    a.name = tok[1].text;
    if (has_reserved_word(a.name)) return bad("action name '" + a.name + "' holds a reserved word");
    if (tok[2].text == "builtin" && tok.size() == 4) {
        const std::string& k = tok[3].text;
        if (k == "getObjectClass")
            a.kind = ActionDef::GET_OBJECT_CLASS;
        else if (k == "reset")
            a.kind = ActionDef::RESET;
        else if (k == "selfTest")
            a.kind = ActionDef::SELF_TEST;
        else
            return bad("unknown built-in action '" + k + "'");
        return true;
    }
    if (tok[2].text != "program" || (tok.size() != 4 && tok.size() != 6))
        return bad("expected: action <name> builtin <kind> | program <file> [timeout <s>]");
    a.kind = ActionDef::PROGRAM;
    a.program = tok[3].text[0] == '/' ? tok[3].text : base_dir_ + "/" + tok[3].text;
    if (tok.size() == 6) {
        char* end = nullptr;
        a.timeout = std::strtod(tok[5].text.c_str(), &end);
        if (tok[4].text != "timeout" || *end || a.timeout <= 0 || a.timeout > 3600)
            return bad("expected: timeout <seconds>");
    }
    return true;
}

// syntax <Name> <rule> ...
bool SchemaParser::syntax_header(const std::vector<Token>& tok)
{
    if (tok.size() < 3) return bad("expected: syntax <Name> <rule>");
    auto s = std::make_unique<Syntax>();
    s->name = tok[1].text;
    if (has_reserved_word(s->name))
        return bad("syntax name '" + s->name + "' holds a reserved word");
    const std::string& r = tok[2].text;
    if (r == "integer" && tok.size() == 4 && parse_range(tok[3].text, s->min, s->max))
        s->kind = Syntax::INTEGER;
    else if (r == "string" && tok.size() == 4 && parse_range(tok[3].text, s->min, s->max) &&
             s->min >= 0)
        s->kind = Syntax::STRING;
    else if (r == "enum" && tok.size() >= 4) {
        s->kind = Syntax::ENUM;
        for (size_t i = 3; i < tok.size(); ++i) s->values.push_back(tok[i].text);
    } else if (r == "boolean" && tok.size() == 3)
        s->kind = Syntax::BOOLEAN;
    else if (r == "objectname" && tok.size() == 3)
        s->kind = Syntax::OBJECTNAME;
    else if (r == "time" && tok.size() == 3)
        s->kind = Syntax::TIME;
    else if (r == "classname" && tok.size() == 3)
        s->kind = Syntax::CLASSNAME;
    else
        return bad("unknown or malformed syntax rule '" + r + "'");
    if (S.syntaxes_.count(s->name)) return bad("syntax " + s->name + " defined twice");
    cur_syntax_ = s.get();
    S.syntaxes_[s->name] = std::move(s);
    block_ = SYNTAX;
    return true;
}

// attribute <module:name> <Syntax> <access> [default "value"]
bool SchemaParser::attribute_header(const std::vector<Token>& tok)
{
    if (!(tok.size() == 4 || (tok.size() == 6 && tok[4].text == "default")))
        return bad("expected: attribute <module:name> <Syntax> <access> [default \"value\"]");
    auto a = std::make_unique<AttributeDef>();
    a->name = tok[1].text;
    a->display = display_name(a->name);
    if (a->display.empty() || a->name.size() > 62)
        return bad("attribute name must be 1..62 characters");
    if (has_reserved_word(a->name))
        return bad("attribute name '" + a->name + "' holds a reserved word");
    auto sit = S.syntaxes_.find(tok[2].text);
    if (sit == S.syntaxes_.end()) return bad("unknown syntax " + tok[2].text);
    a->syntax = sit->second.get();
    if (tok[3].text == "read-only")
        a->read_only = true;
    else if (tok[3].text != "read-write")
        return bad("access must be read-write or read-only");
    if (S.by_name_.count(a->name) || S.by_name_.count(a->display))
        return bad("attribute " + a->name + " (or its display name) defined twice");
    if (tok.size() == 6) defaults_.push_back({a.get(), tok[5].text, lineno_});
    S.by_name_[a->name] = a.get();
    S.by_name_[a->display] = a.get();
    if (a->display == "objectClass" && a->syntax->kind == Syntax::CLASSNAME)
        S.object_class_ = a.get();
    S.attributes_.push_back(std::move(a));
    return true;
}

// class <name> [: <super>]  also written  class <name>: <super>
bool SchemaParser::class_header(const std::vector<Token>& tok)
{
    RawClass c;
    c.line = lineno_;
    std::vector<std::string> w;
    for (size_t i = 1; i < tok.size(); ++i) {
        std::string x = tok[i].text;
        if (x.size() > 1 && x.back() == ':') {
            w.push_back(x.substr(0, x.size() - 1));
            w.push_back(":");
        } else
            w.push_back(x);
    }
    if (w.size() == 1)
        c.name = w[0];
    else if (w.size() == 3 && w[1] == ":")
        c.name = w[0], c.super = w[2];
    else
        return bad("expected: class <name> [: <superclass>]");
    if (has_reserved_word(c.name)) return bad("class name '" + c.name + "' holds a reserved word");
    raw_.push_back(c);
    block_ = CLASS;
    return true;
}

// Classes in the order written: inheritance must name an earlier class.
bool SchemaParser::resolve_classes()
{
    for (const RawClass& rc : raw_) {
        lineno_ = rc.line;
        if (!resolve_class(rc)) return false;
    }
    return true;
}

bool SchemaParser::resolve_class(const RawClass& rc)
{
    if (S.by_class_.count(rc.name)) return bad("class " + rc.name + " defined twice");
    auto c = std::make_unique<ClassDef>();
    c->name = rc.name;
    if (!rc.super.empty()) {
        c->super = S.cls(rc.super);
        if (!c->super) return bad("superclass " + rc.super + " must be defined before " + rc.name);
        c->attrs = c->super->attrs;
        c->index = c->super->index;
        c->actions = c->super->actions;
        c->naming = c->super->naming;
        c->under = c->super->under;
    }
    if (!rc.under.empty()) c->under = rc.under;
    auto add_attr = [&](const AttributeDef* a, const std::string* def) {
        auto it = c->index.find(a->name);
        if (it != c->index.end()) {
            if (def) c->attrs[it->second].def = *def;
            return;
        }
        c->index[a->name] = c->attrs.size();
        c->attrs.push_back({a, def ? *def : std::string()});
    };
    if (c->attrs.empty()) add_attr(S.object_class_, nullptr);
    for (auto& [an, d] : rc.attrs) {
        const AttributeDef* a = S.attribute(an);
        if (!a) return bad("class " + rc.name + ": unknown attribute " + an);
        add_attr(a, d.quoted ? &d.text : nullptr);
    }
    for (auto& a : rc.actions) {
        bool replaced = false;
        for (auto& have : c->actions)
            if (have.name == a.name) have = a, replaced = true;
        if (!replaced) c->actions.push_back(a);
    }
    if (!rc.naming.empty()) {
        c->naming = S.attribute(rc.naming);
        if (!c->naming) return bad("class " + rc.name + ": unknown naming attribute " + rc.naming);
    }
    if (c->naming && c->find(c->naming) < 0)
        return bad("class " + rc.name + ": naming attribute is not one of its attributes");
    S.by_class_[c->name] = c.get();
    S.classes_.push_back(std::move(c));
    return true;
}

// The name bindings, the classes the server needs, then the defaults.
bool SchemaParser::check()
{
    lineno_ = 0;
    for (auto& c : S.classes_)
        for (auto& u : c->under)
            if (!S.cls(u))
                return bad("class " + c->name + ": name binding under unknown class " + u);
    if (!S.cls("root")) return bad("the schema needs the class root");
    const ClassDef* mdr = S.cls("metadataRepository");
    if (!mdr || !mdr->action("getObjectClass"))
        return bad("the schema needs the class metadataRepository with getObjectClass");
    return check_defaults();
}

// Defaults are checked once every class is known (classname and objectname
// syntaxes need them): the attributes' own, then each class's.
bool SchemaParser::check_defaults()
{
    for (auto& d : defaults_) {
        lineno_ = d.line;
        std::string canon, why;
        if (!S.validate(*d.attr->syntax, d.text, canon, why))
            return bad("default of " + d.attr->name + ": " + why);
        d.attr->def = canon;
    }
    for (auto& c : S.classes_) {
        for (auto& ca : c->attrs) {
            if (ca.attr == S.object_class_) {
                ca.def = c->name;
                continue;
            }
            const std::string& d = ca.def.empty() ? ca.attr->def : ca.def;
            std::string canon, why;
            if (!d.empty() && !S.validate(*ca.attr->syntax, d, canon, why))
                return bad("class " + c->name + ", default of " + ca.attr->name + ": " + why);
            ca.def = d.empty() ? d : canon;
        }
    }
    return true;
}

std::unique_ptr<Schema> Schema::parse(const std::string& text, const std::string& origin,
                                      const std::string& base_dir, std::string& err)
{
    auto schema = std::unique_ptr<Schema>(new Schema);
    SchemaParser parser(*schema, origin, base_dir, err);
    if (!parser.read(text) || !parser.resolve_classes() || !parser.check()) return nullptr;
    return schema;
}

} // namespace mis
