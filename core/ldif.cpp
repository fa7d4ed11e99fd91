/* ldif.cpp - LDIF text (RFC 2849): the writer, the reader, and DN <-> FDN. */
#include "core/ldif.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "kvl/base64.h"

namespace {

const size_t FOLD = 76; /* columns of a written line */

bool ieq(const std::string& a, const std::string& b)
{
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); i++)
        if (std::tolower((unsigned char)a[i]) != std::tolower((unsigned char)b[i])) return false;
    return true;
}

/* Appends head + text to out as one line, folded: the first FOLD bytes,
 * then the rest FOLD - 1 at a time, each after a newline and a space. */
void append_folded(std::string& out, const std::string& head, std::string_view text)
{
    size_t size = head.size() + text.size();
    if (size <= FOLD) {
        out.reserve(out.size() + size + 1);
        out.append(head).append(text) += '\n';
        return;
    }
    std::string line = head;
    line += text;
    out.append(line, 0, FOLD) += '\n';
    for (size_t i = FOLD; i < line.size(); i += FOLD - 1)
        (out += ' ').append(line, i, FOLD - 1) += '\n';
}

} // namespace

std::vector<std::string> LdifRecord::values_of(const std::string& name) const
{
    std::vector<std::string> out;
    for (const LdifValue& v : values)
        if (ieq(v.name, name)) out.push_back(v.value);
    return out;
}

bool ldif_safe_string(std::string_view v)
{
    if (v.empty()) return true;
    unsigned char first = v[0];
    if (first == ' ' || first == ':' || first == '<' || v.back() == ' ') return false;
    for (unsigned char c : v)
        if (c < 32 || c == 127 || c > 127) return false; /* control bytes too, so they show */
    return true;
}

void ldif_append_line(std::string& out, std::string_view name, std::string_view value)
{
    if (!ldif_safe_string(value)) {
        append_folded(out, std::string(name) + ":: ", kvl_base64(std::string(value)));
        return;
    }
    if (name.size() + 2 + value.size() > FOLD) {
        append_folded(out, std::string(name) + (value.empty() ? ":" : ": "), value);
        return;
    }
    out.reserve(out.size() + name.size() + value.size() + 3);
    out.append(name) += ':';
    if (!value.empty()) (out += ' ').append(value);
    out += '\n';
}

std::string ldif_entry(const std::string& dn, const std::vector<LdifValue>& values)
{
    std::string out;
    ldif_append_line(out, "dn", dn);
    for (const LdifValue& v : values) ldif_append_line(out, v.name, v.value);
    return out += '\n';
}

bool ldif_attribute_name(const std::string& name)
{
    std::string_view type(name.data(), std::min(name.find(';'), name.size()));
    if (type.empty()) return false;
    bool oid = std::isdigit((unsigned char)type[0]) != 0;
    for (char c : type) {
        unsigned char u = c;
        if (oid ? !(std::isdigit(u) || c == '.') : !(std::isalnum(u) || c == '-')) return false;
    }
    if (oid && (type.back() == '.' || type.find("..") != type.npos)) return false;
    for (size_t i = type.size(); i < name.size(); i++) {
        unsigned char u = name[i];
        if (!(std::isalnum(u) || u == '-' || u == ';') || (u == ';' && i + 1 == name.size()))
            return false;
    }
    return true;
}

/* ------------------------------------------------------------------ reader */

LdifReader::LdifReader(std::string text) : text_(std::move(text)) {}

int LdifReader::fail(int line, const std::string& why)
{
    error_line_ = line;
    error_ = why;
    return -1;
}

bool LdifReader::next_line(Line& out)
{
    for (;;) {
        if (pos_ >= text_.size()) return false;
        size_t end = text_.find('\n', pos_);
        if (end == std::string::npos) end = text_.size();
        std::string raw = text_.substr(pos_, end - pos_);
        if (!raw.empty() && raw.back() == '\r') raw.pop_back();
        if (raw.empty()) return false; /* the blank line ending the record: left for next() */
        pos_ = end + 1;
        out.number = ++line_;
        out.text = raw;
        /* Continuation lines: one leading space, dropped. */
        while (pos_ < text_.size() && text_[pos_] == ' ') {
            size_t e = text_.find('\n', pos_);
            if (e == std::string::npos) e = text_.size();
            std::string more = text_.substr(pos_ + 1, e - pos_ - 1);
            if (!more.empty() && more.back() == '\r') more.pop_back();
            out.text += more;
            line_++;
            pos_ = e + 1;
        }
        if (out.text[0] != '#') return true;
    }
}

bool LdifReader::split(const Line& l, std::string& name, std::string& value)
{
    size_t colon = l.text.find(':');
    if (colon == std::string::npos || colon == 0) {
        fail(l.number, "expected 'name: value', found '" + l.text.substr(0, 60) + "'");
        return false;
    }
    name = l.text.substr(0, colon);
    if (!ieq(name, "dn") && !ieq(name, "changetype") && !ieq(name, "version") &&
        !ieq(name, "control") && !ldif_attribute_name(name)) {
        fail(l.number, "'" + name.substr(0, 60) + "' is not an attribute name");
        return false;
    }
    size_t i = colon + 1;
    char kind = i < l.text.size() && (l.text[i] == ':' || l.text[i] == '<') ? l.text[i++] : 0;
    while (i < l.text.size() && l.text[i] == ' ') i++;
    value = l.text.substr(i);
    if (kind == '<') {
        fail(l.number, "values read from a URL (" + name + ":<) are not supported");
        return false;
    }
    if (kind == ':' && !kvl_unbase64(std::string(value), value)) {
        fail(l.number, "the base64 value of " + name + " is not valid base64");
        return false;
    }
    return true;
}

int LdifReader::next(LdifRecord& rec)
{
    if (!error_.empty()) return -1;
    rec = LdifRecord();
    Line l;
    /* Blank lines between records. */
    for (;;) {
        if (pos_ >= text_.size()) return 0;
        if (next_line(l)) break;
        if (pos_ < text_.size()) {
            pos_ = text_.find('\n', pos_);
            pos_ = pos_ == std::string::npos ? text_.size() : pos_ + 1;
            line_++;
        }
    }
    std::string name, value;
    if (!split(l, name, value)) return -1;
    if (!started_ && ieq(name, "version")) {
        started_ = true;
        if (value != "1") return fail(l.number, "version " + value + " is not LDIF version 1");
        if (!next_line(l)) return next(rec);
        if (!split(l, name, value)) return -1;
    }
    started_ = true;
    if (!ieq(name, "dn")) return fail(l.number, "a record starts with 'dn:', not '" + name + ":'");
    rec.line = l.number;
    rec.dn = value;

    bool more = next_line(l);
    if (more) {
        if (!split(l, name, value)) return -1;
        if (ieq(name, "control"))
            return fail(l.number, "controls in change records are not supported");
        if (ieq(name, "changetype")) {
            if (value == "add") rec.kind = LdifRecord::ADD;
            else if (value == "delete") rec.kind = LdifRecord::DELETE;
            else if (value == "modify") rec.kind = LdifRecord::MODIFY;
            else if (value == "modrdn" || value == "moddn")
                return fail(l.number, "changetype " + value + " is not supported");
            else
                return fail(l.number, "unknown changetype '" + value + "'");
            more = next_line(l);
            if (more && !split(l, name, value)) return -1;
        }
    }
    if (rec.kind == LdifRecord::DELETE) {
        if (more) return fail(l.number, "a delete record has nothing after its changetype");
        return 1;
    }
    if (rec.kind == LdifRecord::MODIFY) {
        while (more) {
            LdifChange c;
            if (ieq(name, "add")) c.op = LdifChange::ADD;
            else if (ieq(name, "delete")) c.op = LdifChange::DELETE;
            else if (ieq(name, "replace")) c.op = LdifChange::REPLACE;
            else
                return fail(l.number, "expected 'add:', 'delete:' or 'replace:', not '" + name +
                                          ":'");
            c.attribute = value;
            if (!ldif_attribute_name(c.attribute))
                return fail(l.number, "'" + c.attribute + "' is not an attribute name");
            int opened = l.number;
            for (;;) {
                if (!next_line(l))
                    return fail(opened, "the " + name + ": of " + c.attribute +
                                            " is not ended by a line '-'");
                if (l.text == "-") break;
                std::string n, v;
                if (!split(l, n, v)) return -1;
                if (!ieq(n, c.attribute))
                    return fail(l.number, "a value of " + n + " inside the " + name + ": of " +
                                              c.attribute);
                c.values.push_back(v);
            }
            if (c.op == LdifChange::ADD && c.values.empty())
                return fail(opened, "add: of " + c.attribute + " gives no value");
            rec.changes.push_back(std::move(c));
            more = next_line(l);
            if (more && !split(l, name, value)) return -1;
        }
        if (rec.changes.empty()) return fail(rec.line, "a modify record with no changes");
        return 1;
    }
    while (more) {
        if (ieq(name, "changetype") || ieq(name, "dn"))
            return fail(l.number, "'" + name + ":' inside a record (is a blank line missing?)");
        rec.values.push_back({name, value});
        more = next_line(l);
        if (more && !split(l, name, value)) return -1;
    }
    if (rec.values.empty())
        return fail(rec.line, "the entry " + rec.dn.substr(0, 200) + " has no attributes");
    return 1;
}

/* ------------------------------------------------------------------- names */

std::string ldif_escape_dn_value(const std::string& value)
{
    std::string out;
    for (size_t i = 0; i < value.size(); i++) {
        unsigned char c = value[i];
        bool lead = i == 0 && (c == ' ' || c == '#');
        bool trail = i + 1 == value.size() && c == ' ';
        if (c == 0) {
            out += "\\00";
            continue;
        }
        if (lead || trail || std::strchr("\"+,;<>\\", c)) out += '\\';
        out += (char)c;
    }
    return out;
}

bool ldif_parse_dn(const std::string& dn, std::vector<LdifRdn>& rdns, std::string& why)
{
    rdns.clear();
    if (dn.find_first_not_of(' ') == std::string::npos) return true;
    auto hex = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        c = (char)std::tolower((unsigned char)c);
        return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    };
    size_t i = 0;
    LdifRdn rdn;
    for (;;) {
        while (i < dn.size() && dn[i] == ' ') i++;
        size_t eq = dn.find('=', i);
        if (eq == std::string::npos) {
            why = "'" + dn + "' is not a DN: expected attribute=value";
            return false;
        }
        std::string type = dn.substr(i, eq - i);
        while (!type.empty() && type.back() == ' ') type.pop_back();
        if (!ldif_attribute_name(type) || type.find(';') != std::string::npos) {
            why = "'" + dn + "' is not a DN: '" + type + "' is not an attribute type";
            return false;
        }
        i = eq + 1;
        if (i < dn.size() && dn[i] == '#') {
            why = "'" + dn + "': values in BER form (#...) are not supported";
            return false;
        }
        std::string value;
        size_t kept = 0; /* the value's length up to its last escaped byte */
        for (; i < dn.size() && dn[i] != ',' && dn[i] != '+'; i++) {
            char c = dn[i];
            if (c == '\\') {
                if (i + 1 >= dn.size()) {
                    why = "'" + dn + "' is not a DN: it ends in '\\'";
                    return false;
                }
                int h = hex(dn[i + 1]), l = i + 2 < dn.size() ? hex(dn[i + 2]) : -1;
                if (h >= 0 && l >= 0) {
                    value += (char)(h * 16 + l);
                    i += 2;
                } else {
                    value += dn[++i];
                }
                kept = value.size();
                continue;
            }
            if (c == '"' || c == ';' || c == '<' || c == '>') {
                why = "'" + dn + "' is not a DN: '" + std::string(1, c) + "' must be escaped";
                return false;
            }
            value += c;
        }
        while (value.size() > kept && value.back() == ' ') value.pop_back();
        rdn.emplace_back(type, value);
        if (i >= dn.size() || dn[i] == ',') {
            rdns.push_back(std::move(rdn));
            rdn.clear();
        }
        if (i >= dn.size()) return true;
        i++;
    }
}

std::string ldif_format_dn(const std::vector<LdifRdn>& rdns)
{
    std::string out;
    for (const LdifRdn& rdn : rdns) {
        if (!out.empty()) out += ',';
        for (size_t k = 0; k < rdn.size(); k++)
            out += (k ? "+" : "") + rdn[k].first + "=" + ldif_escape_dn_value(rdn[k].second);
    }
    return out;
}

bool ldif_fdn_to_dn(const std::string& fdn, std::string& dn, std::string& why)
{
    std::vector<LdifRdn> rdns;
    size_t i = 0;
    while (i < fdn.size() && fdn[i] == ' ') i++;
    if (i >= fdn.size() || fdn[i] != '/') {
        why = "'" + fdn + "' is not an FDN: it does not start with '/'";
        return false;
    }
    i++;
    while (i < fdn.size()) {
        size_t eq = fdn.find('=', i);
        if (eq == std::string::npos || fdn.find('/', i) < eq) {
            why = "'" + fdn + "' is not an FDN: expected attribute=value";
            return false;
        }
        std::string type = fdn.substr(i, eq - i), value;
        type.erase(0, type.find_first_not_of(' '));
        while (!type.empty() && type.back() == ' ') type.pop_back();
        i = eq + 1;
        while (i < fdn.size() && fdn[i] == ' ') i++;
        if (i < fdn.size() && fdn[i] == '"') {
            bool closed = false;
            for (i++; i < fdn.size(); i++) {
                if (fdn[i] == '\\' && i + 1 < fdn.size()) {
                    value += fdn[++i];
                } else if (fdn[i] == '"') {
                    closed = true;
                    i++;
                    break;
                } else {
                    value += fdn[i];
                }
            }
            while (i < fdn.size() && fdn[i] == ' ') i++;
            if (!closed || (i < fdn.size() && fdn[i] != '/')) {
                why = "'" + fdn + "' is not an FDN: a quoted value is not closed where it ends";
                return false;
            }
        } else {
            size_t end = fdn.find('/', i);
            value = fdn.substr(i, end == std::string::npos ? std::string::npos : end - i);
            while (!value.empty() && value.back() == ' ') value.pop_back();
            i = end == std::string::npos ? fdn.size() : end;
        }
        if (!ldif_attribute_name(type)) {
            why = "'" + fdn + "' is not an FDN: '" + type + "' is not an attribute name";
            return false;
        }
        rdns.insert(rdns.begin(), LdifRdn{{type, value}});
        if (i < fdn.size()) i++; /* the '/' */
    }
    dn = ldif_format_dn(rdns);
    return true;
}

bool ldif_dn_to_fdn(const std::string& dn, std::string& fdn, std::string& why)
{
    std::vector<LdifRdn> rdns;
    if (!ldif_parse_dn(dn, rdns, why)) return false;
    if (rdns.empty()) {
        fdn = "/";
        return true;
    }
    fdn.clear();
    for (size_t k = rdns.size(); k-- > 0;) {
        if (rdns[k].size() != 1) {
            why = "'" + dn + "': an object name has one attribute per level, not several joined by '+'";
            return false;
        }
        std::string quoted;
        for (char c : rdns[k][0].second) {
            if (c == '"' || c == '\\') quoted += '\\';
            quoted += c;
        }
        fdn += "/" + rdns[k][0].first + "=\"" + quoted + "\"";
    }
    return true;
}

bool ldif_rebase_dn(const std::string& dn, const std::string& from, const std::string& to,
                    std::string& out)
{
    std::vector<LdifRdn> d, f, t;
    std::string why;
    if (!ldif_parse_dn(dn, d, why) || !ldif_parse_dn(from, f, why) || !ldif_parse_dn(to, t, why) ||
        f.size() > d.size())
        return false;
    size_t keep = d.size() - f.size();
    for (size_t k = 0; k < f.size(); k++) {
        const LdifRdn &a = d[keep + k], &b = f[k];
        if (a.size() != b.size()) return false;
        for (size_t j = 0; j < a.size(); j++)
            if (!ieq(a[j].first, b[j].first) || a[j].second != b[j].second) return false;
    }
    d.resize(keep);
    d.insert(d.end(), t.begin(), t.end());
    out = ldif_format_dn(d);
    return true;
}
