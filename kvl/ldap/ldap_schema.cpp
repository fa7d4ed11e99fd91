/*
 * ldap_schema.cpp - the subschema's classes, attribute types and syntaxes (see ldap_schema.h).
 */
#include "kvl/ldap/ldap_schema.h"

#include <ldap.h>
#include <ldap_schema.h>

#include <algorithm>
#include <cctype>
#include <set>

namespace {

std::string lower(std::string s)
{
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::vector<std::string> list(char** names)
{
    std::vector<std::string> out;
    for (int i = 0; names && names[i]; i++) out.push_back(names[i]);
    return out;
}

const unsigned SCHEMA_PARSE_FLAGS = LDAP_SCHEMA_ALLOW_ALL;

} // namespace

void LdapSchema::add_attribute_type(const std::string& description)
{
    attributes_.clear();
    int code = 0;
    const char* err = nullptr;
    LDAPAttributeType* at =
        ldap_str2attributetype(description.c_str(), &code, &err, SCHEMA_PARSE_FLAGS);
    if (!at) return; /* a description libldap cannot read is left out */
    LdapAttributeType t;
    t.oid = at->at_oid ? at->at_oid : "";
    std::vector<std::string> names = list(at->at_names);
    t.name = names.empty() ? t.oid : names[0];
    t.sup = at->at_sup_oid ? at->at_sup_oid : "";
    t.syntax = at->at_syntax_oid ? at->at_syntax_oid : "";
    if (at->at_syntax_len > 0) t.length = std::to_string(at->at_syntax_len);
    t.single = at->at_single_value != 0;
    t.no_user_modification = at->at_no_user_mod != 0;
    t.operational = at->at_usage != 0;
    ldap_attributetype_free(at);
    std::string key = lower(t.name);
    for (const std::string& n : names) type_alias_[lower(n)] = key;
    type_alias_[t.oid] = key;
    type_alias_[key] = key;
    types_[key] = std::move(t);
}

void LdapSchema::add_object_class(const std::string& description)
{
    attributes_.clear();
    int code = 0;
    const char* err = nullptr;
    LDAPObjectClass* oc =
        ldap_str2objectclass(description.c_str(), &code, &err, SCHEMA_PARSE_FLAGS);
    if (!oc) return;
    LdapObjectClass c;
    c.oid = oc->oc_oid ? oc->oc_oid : "";
    std::vector<std::string> names = list(oc->oc_names);
    c.name = names.empty() ? c.oid : names[0];
    c.sup = list(oc->oc_sup_oids);
    c.kind = oc->oc_kind == 0 ? "ABSTRACT" : oc->oc_kind == 1 ? "STRUCTURAL" : "AUXILIARY";
    c.must = list(oc->oc_at_oids_must);
    c.may = list(oc->oc_at_oids_may);
    ldap_objectclass_free(oc);
    std::string key = lower(c.name);
    for (const std::string& n : names) class_alias_[lower(n)] = key;
    class_alias_[c.oid] = key;
    class_alias_[key] = key;
    classes_[key] = std::move(c);
}

void LdapSchema::add_syntax(const std::string& description)
{
    int code = 0;
    const char* err = nullptr;
    LDAPSyntax* syn = ldap_str2syntax(description.c_str(), &code, &err, SCHEMA_PARSE_FLAGS);
    if (!syn) return;
    if (syn->syn_oid) syntaxes_[syn->syn_oid] = syn->syn_desc ? syn->syn_desc : "";
    ldap_syntax_free(syn);
}

const LdapAttributeType* LdapSchema::attribute(const std::string& name) const
{
    /* "userCertificate;binary" is userCertificate with an option. */
    std::string base = lower(name.substr(0, name.find(';')));
    auto a = type_alias_.find(base);
    if (a == type_alias_.end()) return nullptr;
    auto t = types_.find(a->second);
    return t == types_.end() ? nullptr : &t->second;
}

const LdapObjectClass* LdapSchema::object_class(const std::string& name) const
{
    auto a = class_alias_.find(lower(name));
    if (a == class_alias_.end()) return nullptr;
    auto c = classes_.find(a->second);
    return c == classes_.end() ? nullptr : &c->second;
}

std::string LdapSchema::syntax_of(const std::string& attr) const
{
    const LdapAttributeType* t = attribute(attr);
    for (int depth = 0; t && depth < 16; depth++) { /* a SUP loop ends here */
        if (!t->syntax.empty()) return t->syntax;
        t = t->sup.empty() ? nullptr : attribute(t->sup);
    }
    return "";
}

std::string LdapSchema::syntax_description(const std::string& oid) const
{
    auto s = syntaxes_.find(oid);
    return s == syntaxes_.end() ? "" : s->second;
}

bool LdapSchema::binary_syntax(const std::string& oid)
{
    static const std::set<std::string> binary = {
        "1.3.6.1.4.1.1466.115.121.1.4",  /* Audio */
        "1.3.6.1.4.1.1466.115.121.1.5",  /* Binary */
        "1.3.6.1.4.1.1466.115.121.1.8",  /* Certificate */
        "1.3.6.1.4.1.1466.115.121.1.9",  /* Certificate List */
        "1.3.6.1.4.1.1466.115.121.1.10", /* Certificate Pair */
        "1.3.6.1.4.1.1466.115.121.1.28", /* JPEG */
        "1.3.6.1.4.1.1466.115.121.1.40", /* Octet String */
        "1.3.6.1.4.1.1466.115.121.1.49", /* Supported Algorithm */
    };
    return binary.count(oid) != 0;
}

bool LdapSchema::attributes_of(const std::string& cls, std::vector<std::string>& must,
                               std::vector<std::string>& may) const
{
    must.clear();
    may.clear();
    const LdapObjectClass* c = object_class(cls);
    if (!c) return false;
    auto known = attributes_.find(lower(c->name));
    if (known != attributes_.end()) {
        must = known->second.first;
        may = known->second.second;
        return true;
    }
    /* The chain, the class last, each class once (SUP may branch and meet). */
    std::vector<const LdapObjectClass*> chain;
    std::set<std::string> seen;
    std::vector<const LdapObjectClass*> todo = {c};
    while (!todo.empty() && chain.size() < 64) {
        const LdapObjectClass* k = todo.back();
        todo.pop_back();
        if (!seen.insert(lower(k->name)).second) continue;
        chain.push_back(k);
        for (const std::string& s : k->sup)
            if (const LdapObjectClass* sc = object_class(s)) todo.push_back(sc);
    }
    std::reverse(chain.begin(), chain.end());
    std::set<std::string> taken;
    auto take = [&](const std::vector<std::string>& from, std::vector<std::string>& into) {
        for (const std::string& a : from) {
            const LdapAttributeType* t = attribute(a);
            std::string name = t ? t->name : a;
            if (taken.insert(lower(name)).second) into.push_back(name);
        }
    };
    for (const LdapObjectClass* k : chain) take(k->must, must);
    for (const LdapObjectClass* k : chain) take(k->may, may);
    attributes_[lower(c->name)] = {must, may};
    return true;
}

bool LdapSchema::is_a(const std::string& cls, const std::string& want) const
{
    const LdapObjectClass* w = object_class(want);
    std::string target = lower(w ? w->name : want);
    std::vector<std::string> todo = {cls};
    for (int steps = 0; !todo.empty() && steps < 256; steps++) {
        std::string k = todo.back();
        todo.pop_back();
        const LdapObjectClass* c = object_class(k);
        if (lower(c ? c->name : k) == target) return true;
        if (c) todo.insert(todo.end(), c->sup.begin(), c->sup.end());
    }
    return false;
}
