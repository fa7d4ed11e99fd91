/*
 * ldap_filter.h - where an LDAP string filter is malformed.  PRIVATE to kvl/
 * (and its tests).
 *
 * libldap refuses a malformed filter with "Bad search filter" alone; the
 * transport adds what was expected and where, in the words qx_mis uses, so
 * that the editor can say where a filter breaks whichever server it talks to.
 */
#ifndef KVL_LDAP_LDAP_FILTER_H
#define KVL_LDAP_LDAP_FILTER_H

#include <string>
#include <vector>

/* "" when filter follows the grammar of RFC 4515 (the outer parentheses of a
 * lone item may be left out, as libldap allows); else what was expected and
 * its position, 1 being the first byte: "expected ')' at position 21". */
std::string kvl_ldap_filter_fault(const std::string& filter);

/* The attribute types a well-formed filter names, without their options
 * (";binary") or matching rules, each with the position of its first byte
 * (1 being the filter's first), in the order they stand; an extensible
 * match without a type names none.  Directories treat an item of a type they
 * do not know as Undefined rather than as an error, so the transport checks
 * these against the subschema itself. */
struct LdapFilterAttribute {
    std::string name;
    size_t position;
};
std::vector<LdapFilterAttribute> kvl_ldap_filter_attributes(const std::string& filter);

#endif /* KVL_LDAP_LDAP_FILTER_H */
