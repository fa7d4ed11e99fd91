// Where a malformed LDAP string filter breaks, as the LDAP transport adds it to libldap's
// "Bad search filter". No server.
#include <gtest/gtest.h>

#include "kvl/ldap/ldap_filter.h"

#include <string>

namespace {

TEST(LdapFilter, SaysWhereAFilterBreaks)
{
    struct Case {
        const char *filter, *fault; // "" for a good filter
    } cases[] = {
        {"(&(objectClass=person)(|(cn=a*b)(!(sn=*))))", ""},
        {"cn=x", ""},
        {"(cn:dn:2.5.13.5:=x\\2a)", ""},
        {"(&)", ""},
        {"(cn=x", "expected ')' at position 6"},
        {"(&(cn=x)", "expected ')' at position 9"},
        {"(cn=x))", "unexpected text after the filter at position 7"},
        {"(=x)", "expected an attribute name at position 2"},
        {"(cn x)", "expected =, >=, <= or ~= at position 4"},
        {"(cn=a(b)", "unescaped '(' in a value at position 6"},
        {"(cn=a\\zz)", "bad escape (a backslash takes two hex digits) at position 6"},
        {"(!cn=x)", "expected '(' at position 3"},
        {"(", "unexpected end at position 2"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.fault, kvl_ldap_filter_fault(c.filter)) << c.filter;
    std::string deep;
    for (int i = 0; i < 70; i++) deep += "(!";
    EXPECT_EQ("filter nested too deeply at position 131", kvl_ldap_filter_fault(deep));
}

TEST(LdapFilter, NamesTheTypesItUses)
{
    std::string names;
    for (const LdapFilterAttribute& a :
         kvl_ldap_filter_attributes("(&(cn;binary=a)(!(2.5.4.4>=b))(uid:caseExactMatch:=c)(:dn:2.5.13.5:=d))"))
        names += a.name + "@" + std::to_string(a.position) + " ";
    EXPECT_EQ("cn@4 2.5.4.4@19 uid@32 ", names);
    EXPECT_TRUE(kvl_ldap_filter_attributes("(&(cn=a)(sn=b)").empty()); // malformed: none
}

} // namespace
