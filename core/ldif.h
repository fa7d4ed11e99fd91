/*
 * ldif.h - LDIF text (RFC 2849) and the names it carries.  PUBLIC HEADER; no
 * X, no server: plain text in, plain text out.
 *
 * Writing: ldif_entry() makes one content record, a "dn:" line and one line
 * per value, each "name: value" when the value is a SAFE-STRING and
 * "name:: <base64>" when it is not (it starts with a space, ':' or '<', ends
 * with a space, or holds a byte outside 32..126: UTF-8 text and control
 * bytes, tabs and line ends among them, go as base64), folded at 76
 * columns (a continuation line starts with one space).
 *
 * Reading: LdifReader takes a whole file's text and hands out its records
 * one at a time: content records, and change records ("changetype: add",
 * "delete", "modify" with its "add:", "delete:" and "replace:" parts, each
 * ended by "-").  It joins folded lines, skips comments, decodes base64
 * values and accepts a leading "version: 1".  What it cannot read stops it
 * with the line and the reason; the records before it stay valid.
 *
 * Names: a directory's DNs are DNs already.  The names of a server that
 * writes FDNs (/systemId="a"/equipmentId="b") map to DNs by reversing their
 * RDNs (equipmentId=b,systemId=a), values escaped as RFC 4514 says, and back.
 */
#ifndef CORE_LDIF_H
#define CORE_LDIF_H

#include <string>
#include <string_view>
#include <utility>
#include <vector>

/* One attribute value of a record, in file order (an attribute with several
 * values appears once per value). */
struct LdifValue {
    std::string name;
    std::string value;
};

/* One part of a modify record: "add:", "delete:" or "replace:" of one
 * attribute with its values (none: a delete of the whole attribute, or a
 * replace that empties it). */
struct LdifChange {
    enum Op { ADD, DELETE, REPLACE } op = ADD;
    std::string attribute;
    std::vector<std::string> values;
};

struct LdifRecord {
    enum Kind { CONTENT, ADD, MODIFY, DELETE } kind = CONTENT;
    int line = 0; /* the line of its "dn:" */
    std::string dn;
    std::vector<LdifValue> values;   /* CONTENT and ADD */
    std::vector<LdifChange> changes; /* MODIFY */

    /* The values of attribute name (case-insensitive), in file order. */
    std::vector<std::string> values_of(const std::string& name) const;
};

/* True when value can be written after "name: " as it is. */
bool ldif_safe_string(std::string_view value);
/* Appends "name: value\n", or "name:: <base64>\n" for a value that is not a
 * safe string, folded at 76 columns, to out. */
void ldif_append_line(std::string& out, std::string_view name, std::string_view value);
/* A content record: the dn line, the values, and the blank line that ends it. */
std::string ldif_entry(const std::string& dn, const std::vector<LdifValue>& values);
/* True when name is an attribute description LDIF can carry: a name
 * (letters, digits, '-'; a letter first) or a numeric OID, then options
 * (";lang-de"). */
bool ldif_attribute_name(const std::string& name);

class LdifReader {
public:
    explicit LdifReader(std::string text);

    /* The next record: 1 when rec holds one, 0 at the end of the text, -1
     * when the text cannot be read (error_line() and error() say where and
     * why; later calls give -1 again). */
    int next(LdifRecord& rec);
    int error_line() const { return error_line_; }
    const std::string& error() const { return error_; }

private:
    struct Line {
        int number;
        std::string text; /* unfolded, without its newline */
    };
    /* The next logical line of the current record; false at its end (a
     * blank line or the end of the text). */
    bool next_line(Line& out);
    int fail(int line, const std::string& why);
    /* Splits "name: value", "name:: base64"; false with error set. */
    bool split(const Line& l, std::string& name, std::string& value);

    std::string text_;
    size_t pos_ = 0;
    int line_ = 0; /* physical lines read */
    bool started_ = false;
    int error_line_ = 0;
    std::string error_;
};

/* A DN as its RDNs, most specific first; each RDN is one or more
 * attribute=value pairs (joined by '+'), values unescaped. */
using LdifRdn = std::vector<std::pair<std::string, std::string>>;

bool ldif_parse_dn(const std::string& dn, std::vector<LdifRdn>& rdns, std::string& why);
std::string ldif_format_dn(const std::vector<LdifRdn>& rdns);
/* The value as RFC 4514 writes it in a DN. */
std::string ldif_escape_dn_value(const std::string& value);

/* The DN of an FDN whose components are single attribute=value RDNs (quoted
 * or bare values): /systemId="a"/slotNumber=1 <-> slotNumber=1,systemId=a.
 * "/" is the DN "".  Back, every value is quoted, which such a server
 * accepts for any syntax. */
bool ldif_fdn_to_dn(const std::string& fdn, std::string& dn, std::string& why);
bool ldif_dn_to_fdn(const std::string& dn, std::string& fdn, std::string& why);

/* When dn lies at or below from (both DNs), the same DN with from replaced
 * by to; false when it does not.  Attribute types compare without case,
 * values exactly. */
bool ldif_rebase_dn(const std::string& dn, const std::string& from, const std::string& to,
                    std::string& out);

#endif /* CORE_LDIF_H */
