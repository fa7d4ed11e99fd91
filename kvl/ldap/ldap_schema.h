/*
 * ldap_schema.h - a directory's subschema, as KVL's classes and syntaxes.  PRIVATE to kvl/.
 *
 * Read once at connect from the subschema entry the root DSE names
 * (objectClasses, attributeTypes, ldapSyntaxes, parsed by libldap's
 * ldap_str2objectclass / ldap_str2attributetype).  Names are looked up
 * without regard to case, by any of their NAMEs or their OID.
 */
#ifndef KVL_LDAP_LDAP_SCHEMA_H
#define KVL_LDAP_LDAP_SCHEMA_H

#include <map>
#include <string>
#include <vector>

struct LdapAttributeType {
    std::string name; /* first NAME */
    std::string oid;
    std::string sup;    /* the type it inherits from, "" none */
    std::string syntax; /* syntax OID (without {length}); inherited from sup when absent */
    std::string length; /* the {length} bound, "" none */
    bool single = false;
    bool no_user_modification = false;
    bool operational = false; /* USAGE other than userApplications */
};

struct LdapObjectClass {
    std::string name;
    std::string oid;
    std::vector<std::string> sup;
    std::string kind; /* ABSTRACT, STRUCTURAL or AUXILIARY */
    std::vector<std::string> must, may;
};

class LdapSchema {
public:
    /* Takes the values of one subschema attribute. */
    void add_attribute_type(const std::string& description);
    void add_object_class(const std::string& description);
    void add_syntax(const std::string& description);

    const LdapAttributeType* attribute(const std::string& name) const;
    const LdapObjectClass* object_class(const std::string& name) const;
    /* The syntax OID of an attribute, through its SUP chain ("" unknown). */
    std::string syntax_of(const std::string& attr) const;
    /* The description of a syntax OID ("" unknown). */
    std::string syntax_description(const std::string& oid) const;
    /* True for syntaxes whose values are bytes, not text (JPEG, certificates,
     * binary, octet strings, audio). */
    static bool binary_syntax(const std::string& oid);
    /* MUST, then MAY attributes of cls over its superclass chain, each once,
     * superclasses first; false when the class is unknown.  Each class's are
     * worked out once: every create and blank asks. */
    bool attributes_of(const std::string& cls, std::vector<std::string>& must,
                       std::vector<std::string>& may) const;
    /* cls is want or one of its subclasses. */
    bool is_a(const std::string& cls, const std::string& want) const;
    bool empty() const { return classes_.empty(); }

private:
    std::map<std::string, LdapAttributeType> types_;  /* by lower-case first name */
    std::map<std::string, std::string> type_alias_;   /* every lower-case name / OID -> key */
    std::map<std::string, LdapObjectClass> classes_;
    std::map<std::string, std::string> class_alias_;
    std::map<std::string, std::string> syntaxes_; /* OID -> DESC */
    /* attributes_of's answers by lower-case class, until a type or class is added. */
    mutable std::map<std::string, std::pair<std::vector<std::string>, std::vector<std::string>>>
        attributes_;
};

#endif /* KVL_LDAP_LDAP_SCHEMA_H */
