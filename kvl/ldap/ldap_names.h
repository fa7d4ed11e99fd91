/*
 * ldap_names.h - directory names as the editor's FDNs.  PRIVATE to kvl/ (and its tests).
 *
 * A DN (RFC 4514) is written most specific RDN first; an FDN is written from
 * the root down, one component per level of the tree the editor shows.  The
 * root "/" is the server's root DSE, whose children are its naming contexts,
 * so a naming context is ONE component however many RDNs it has:
 *
 *     uid=ann,ou=people,dc=example,dc=org  <->  /dc=example,dc=org/ou=people/uid=ann
 *
 * (naming context dc=example,dc=org).  A DN below no naming context the
 * server lists has one component per RDN.  Each RDN is written in RFC 4514's
 * string form, multi-valued RDNs joined by '+', with two more bytes escaped
 * as hex pairs so that a component never holds them: '/' (\2F), which
 * separates components, and '"' (\22), which FDNs use for quoting.  Both
 * escapes are valid in DNs too, so FDN -> DN is: split on '/', reverse,
 * join with ','.  Names are parsed with libldap (ldap_str2dn) and written
 * by this module, so a name the server gives and the same name typed by a
 * user meet in one text.
 */
#ifndef KVL_LDAP_LDAP_NAMES_H
#define KVL_LDAP_LDAP_NAMES_H

#include <string>
#include <vector>

/* The canonical text of dn (RFC 4514, escaped as above); false with why when
 * dn is not a DN.  liberal accepts LDAPv2's forms too (quoted values, ';'). */
bool kvl_ldap_canonical_dn(const std::string& dn, bool liberal, std::string& out,
                           std::string& why);

/* The FDN of dn below the naming contexts (each in canonical form). */
bool kvl_ldap_dn_to_fdn(const std::string& dn, const std::vector<std::string>& contexts,
                        std::string& fdn, std::string& why);

/* The same for many names below the same naming contexts, which are parsed
 * once (a derivation turns every child's DN into an FDN).  Names mostly come
 * in runs of siblings, so each direction keeps the parent of the last name
 * it turned, and a sibling's name is its own RDN and the parent's. */
class LdapNamingContexts {
public:
    void set(const std::vector<std::string>& contexts);
    bool to_fdn(const std::string& dn, std::string& fdn, std::string& why) const;
    /* kvl_ldap_fdn_to_dn(), below. */
    bool to_dn(const std::string& fdn, std::string& dn, std::string& why) const;

private:
    bool is_context(const std::string& first, const std::vector<std::string>& below) const;

    std::vector<std::string> text_;              /* canonical */
    std::vector<std::vector<std::string>> rdns_; /* their RDNs, most specific first */
    /* The parent of the last DN turned: its text as given, its FDN and RDNs. */
    mutable std::string parent_dn_, parent_fdn_;
    mutable std::vector<std::string> parent_rdns_;
    /* The parent of the last FDN turned: its text and its DN. */
    mutable std::string up_fdn_, up_dn_;
};

/* The DN of fdn ("/" is the root DSE, DN ""); a name that does not start
 * with '/' is taken for a DN already.  Components may use FDN quoting
 * (cn="a/b").  The result is canonical. */
bool kvl_ldap_fdn_to_dn(const std::string& fdn, std::string& dn, std::string& why);

/* Whether the entry dn lies below the entry above, both DNs as one server
 * spelled them (attribute types and values compared in any case). */
bool kvl_ldap_lies_below(const std::string& dn, const std::string& above);

#endif /* KVL_LDAP_LDAP_NAMES_H */
