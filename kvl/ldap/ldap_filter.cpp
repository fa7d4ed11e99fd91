/*
 * ldap_filter.cpp - finding where an LDAP string filter (RFC 4515) breaks.
 */
#include "kvl/ldap/ldap_filter.h"

#include <cctype>

namespace {

/* Nesting deeper than this is reported rather than followed. */
const int MAX_DEPTH = 64;

class FilterScan {
public:
    explicit FilterScan(const std::string& text) : t_(text) {}

    std::string fault()
    {
        size_t start = skip(0);
        bool ok = start < t_.size() && t_[start] != '(' ? item(start) : filter(start, 0);
        if (ok && skip(i_) != t_.size()) fail(skip(i_), "unexpected text after the filter");
        return why_;
    }

    std::vector<LdapFilterAttribute> attributes;

private:
    const std::string& t_;
    size_t i_ = 0;
    std::string why_;

    size_t skip(size_t at) const
    {
        while (at < t_.size() && std::isspace(static_cast<unsigned char>(t_[at]))) at++;
        return at;
    }
    bool fail(size_t at, const char* what)
    {
        if (why_.empty()) why_ = std::string(what) + " at position " + std::to_string(at + 1);
        return false;
    }
    bool filter(size_t at, int depth)
    {
        if (depth > MAX_DEPTH) return fail(at, "filter nested too deeply");
        if (at >= t_.size() || t_[at] != '(') return fail(at, "expected '('");
        i_ = at + 1;
        if (i_ >= t_.size()) return fail(i_, "unexpected end");
        char c = t_[i_];
        if (c == '&' || c == '|') {
            /* "(&)" and "(|)" are the absolute true and false of RFC 4526. */
            for (i_++; i_ < t_.size() && t_[i_] == '(';)
                if (!filter(i_, depth + 1)) return false;
        } else if (c == '!') {
            if (!filter(i_ + 1, depth + 1)) return false;
        } else if (!item(i_)) {
            return false;
        }
        if (i_ >= t_.size() || t_[i_] != ')') return fail(i_, "expected ')'");
        i_++;
        return true;
    }
    /* attr filtertype value, or an extensible match (attr:dn:rule:=value);
     * '*' in a value makes a presence or substring item. */
    bool item(size_t at)
    {
        i_ = at;
        while (i_ < t_.size() && (std::isalnum(static_cast<unsigned char>(t_[i_])) ||
                                  t_[i_] == '-' || t_[i_] == '.' || t_[i_] == ';' || t_[i_] == ':'))
            i_++;
        if (i_ == at) return fail(i_, "expected an attribute name");
        size_t type_end = t_.find_first_of(";:", at);
        if (type_end == std::string::npos || type_end > i_) type_end = i_;
        if (type_end > at) attributes.push_back({t_.substr(at, type_end - at), at + 1});
        if (t_.compare(i_, 2, "~=") == 0 || t_.compare(i_, 2, ">=") == 0 ||
            t_.compare(i_, 2, "<=") == 0)
            i_ += 2;
        else if (i_ < t_.size() && t_[i_] == '=')
            i_++;
        else
            return fail(i_, "expected =, >=, <= or ~=");
        while (i_ < t_.size() && t_[i_] != ')') {
            if (t_[i_] == '(') return fail(i_, "unescaped '(' in a value");
            if (t_[i_] == '\\') {
                if (i_ + 2 >= t_.size() || !std::isxdigit(static_cast<unsigned char>(t_[i_ + 1])) ||
                    !std::isxdigit(static_cast<unsigned char>(t_[i_ + 2])))
                    return fail(i_, "bad escape (a backslash takes two hex digits)");
                i_ += 3;
                continue;
            }
            i_++;
        }
        return true;
    }
};

} // namespace

std::string kvl_ldap_filter_fault(const std::string& filter)
{
    return FilterScan(filter).fault();
}

std::vector<LdapFilterAttribute> kvl_ldap_filter_attributes(const std::string& filter)
{
    FilterScan scan(filter);
    if (!scan.fault().empty()) return {};
    return std::move(scan.attributes);
}
