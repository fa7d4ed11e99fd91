// Directory names as FDNs: RFC 4514 escapes, UTF-8 and multi-valued RDNs
// round-trip exactly; a naming context is one component; loose and malformed
// input. No server.
#include <gtest/gtest.h>

#include "kvl/ldap/ldap_names.h"

#include <string>
#include <vector>

namespace {

const std::vector<std::string> kContexts = {"dc=example,dc=org", "o=other,c=de"};

TEST(LdapNames, DnAndFdnRoundTrip)
{
    struct Case {
        const char* dn;
        const char* fdn;      // as the editor sees it
        const char* canonical; // the DN the FDN goes back to
    } cases[] = {
        {"uid=ann,ou=people,dc=example,dc=org", "/dc=example,dc=org/ou=people/uid=ann",
         "uid=ann,ou=people,dc=example,dc=org"},
        {"dc=example,dc=org", "/dc=example,dc=org", "dc=example,dc=org"},
        {"", "/", ""},
        {"cn=Smith\\, John+uid=js,ou=people,dc=example,dc=org",
         "/dc=example,dc=org/ou=people/cn=Smith\\, John+uid=js",
         "cn=Smith\\, John+uid=js,ou=people,dc=example,dc=org"},
        // '/' and '"' never stand raw in a component
        {"cn=a/b \\\"q\\\" #1,dc=example,dc=org", "/dc=example,dc=org/cn=a\\2Fb \\22q\\22 #1",
         "cn=a\\2Fb \\22q\\22 #1,dc=example,dc=org"},
        // UTF-8 stays as it is; hex escapes of UTF-8 become the characters
        {"cn=Zo\xc3\xab \xc3\x85ngstr\xc3\xb6m,dc=example,dc=org",
         "/dc=example,dc=org/cn=Zo\xc3\xab \xc3\x85ngstr\xc3\xb6m",
         "cn=Zo\xc3\xab \xc3\x85ngstr\xc3\xb6m,dc=example,dc=org"},
        {"cn=Zo\\C3\\AB,dc=example,dc=org", "/dc=example,dc=org/cn=Zo\xc3\xab",
         "cn=Zo\xc3\xab,dc=example,dc=org"},
        // a leading space or '#' and a trailing space are escaped, others not
        {"cn=\\ x\\#y\\ ,dc=example,dc=org", "/dc=example,dc=org/cn=\\ x#y\\ ",
         "cn=\\ x#y\\ ,dc=example,dc=org"},
        {"cn=\\#x,dc=example,dc=org", "/dc=example,dc=org/cn=\\#x", "cn=\\#x,dc=example,dc=org"},
        // a value in BER form
        {"cn=#04024869,dc=example,dc=org", "/dc=example,dc=org/cn=#04024869",
         "cn=#04024869,dc=example,dc=org"},
        // the naming context as the server lists it; the longest one that fits
        {"uid=ann,DC=Example,DC=org", "/dc=example,dc=org/uid=ann", "uid=ann,dc=example,dc=org"},
        {"cn=x,o=other,c=de", "/o=other,c=de/cn=x", "cn=x,o=other,c=de"},
        // below no naming context: one component per RDN
        {"cn=x,o=elsewhere", "/o=elsewhere/cn=x", "cn=x,o=elsewhere"},
    };
    for (const Case& c : cases) {
        std::string fdn, dn, again, why;
        ASSERT_TRUE(kvl_ldap_dn_to_fdn(c.dn, kContexts, fdn, why)) << c.dn << ": " << why;
        EXPECT_EQ(c.fdn, fdn) << c.dn;
        ASSERT_TRUE(kvl_ldap_fdn_to_dn(fdn, dn, why)) << fdn << ": " << why;
        EXPECT_EQ(c.canonical, dn) << c.dn;
        ASSERT_TRUE(kvl_ldap_dn_to_fdn(dn, kContexts, again, why)) << dn;
        EXPECT_EQ(fdn, again) << c.dn;
    }
}

// An entry goes after the entries below it: which those are.
TEST(LdapNames, WhatLiesBelowAnEntry)
{
    struct {
        const char *dn, *above;
        bool below;
    } cases[] = {
        {"cn=a,ou=tree,dc=org", "ou=tree,dc=org", true},
        {"cn=a,ou=sub,ou=tree,dc=org", "OU=Tree,DC=org", true},
        {"ou=tree,dc=org", "ou=tree,dc=org", false},
        {"cn=a,ou=xtree,dc=org", "tree,dc=org", false},
        {"ou=tree,dc=org", "cn=a,ou=tree,dc=org", false},
        {"cn=a\\,ou=tree,dc=org", "ou=tree,dc=org", false},  // the comma is part of the value
        {"cn=a\\\\,ou=tree,dc=org", "ou=tree,dc=org", true}, // an escaped backslash before it
        {"dc=org", "", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.below, kvl_ldap_lies_below(c.dn, c.above)) << c.dn << " / " << c.above;
}

TEST(LdapNames, LooseAndMalformedNames)
{
    struct Case {
        const char* name;
        const char* dn; // null: refused
    } cases[] = {
        {"/dc=example,dc=org/cn=\"a/b\"", "cn=a\\2Fb,dc=example,dc=org"}, // FDN quoting
        {"/dc=example,dc=org/ou=people/", "ou=people,dc=example,dc=org"}, // a trailing '/'
        {"uid=ann, ou=people, dc=example, dc=org", "uid=ann,ou=people,dc=example,dc=org"},
        {"/dc=example,dc=org//uid=ann", nullptr},
        {"/dc=example,dc=org/novalue", nullptr},
        {"cn=a,,dc=example", nullptr},
    };
    for (const Case& c : cases) {
        std::string dn, why;
        bool ok = kvl_ldap_fdn_to_dn(c.name, dn, why);
        if (!c.dn) {
            EXPECT_FALSE(ok) << c.name << " gave " << dn;
            EXPECT_FALSE(why.empty()) << c.name;
            continue;
        }
        ASSERT_TRUE(ok) << c.name << ": " << why;
        EXPECT_EQ(c.dn, dn) << c.name;
    }
}

// One LdapNamingContexts turning runs of siblings, in both directions, gives what turning each
// name alone gives, a sibling that is itself a naming context and odd spellings included.
TEST(LdapNames, SiblingsTurnedInARunAsEachAlone)
{
    const std::vector<std::string> contexts = {"dc=example,dc=org", "ou=sub,dc=example,dc=org"};
    const char* dns[] = {
        "ou=a,dc=example,dc=org",
        "ou=b,dc=example,dc=org",
        "ou=sub,dc=example,dc=org",
        "ou=c,dc=example,dc=org",
        "cn=x,ou=sub,dc=example,dc=org",
        "cn=y,ou=sub,dc=example,dc=org",
        "cn=a\\,b,ou=a,dc=example,dc=org",
        "cn=c+sn=d,ou=a,dc=example,dc=org",
        "cn=e,ou=a,DC=Example,DC=org",
        "cn=f, ou=a,dc=example,dc=org",
        "cn=g,ou=a,dc=example,dc=org",
        "CN=Upper-1,ou=a,dc=example,dc=org",
        "cn=j#k,ou=a,dc=example,dc=org",
        "cn=l m,ou=a,dc=example,dc=org",
        "dc=example,dc=org",
        "cn=h,o=elsewhere",
        "cn=i,o=elsewhere",
    };
    LdapNamingContexts named;
    named.set(contexts);
    for (int round = 0; round < 2; round++)
        for (const char* dn : dns) {
            std::string fdn, alone, back, back_alone, why;
            ASSERT_TRUE(kvl_ldap_dn_to_fdn(dn, contexts, alone, why)) << dn << ": " << why;
            ASSERT_TRUE(named.to_fdn(dn, fdn, why)) << dn << ": " << why;
            EXPECT_EQ(alone, fdn) << dn;
            ASSERT_TRUE(kvl_ldap_fdn_to_dn(fdn, back_alone, why)) << fdn;
            ASSERT_TRUE(named.to_dn(fdn, back, why)) << fdn << ": " << why;
            EXPECT_EQ(back_alone, back) << fdn;
            // a typed spelling of a sibling, quoted
            std::string quoted =
                fdn.substr(0, fdn.rfind('/')) + "/cn=\"q/" + std::to_string(round) + "\"";
            ASSERT_TRUE(kvl_ldap_fdn_to_dn(quoted, back_alone, why)) << quoted << ": " << why;
            ASSERT_TRUE(named.to_dn(quoted, back, why)) << quoted << ": " << why;
            EXPECT_EQ(back_alone, back) << quoted;
        }
    // other naming contexts: nothing turned below the old ones is taken again
    std::string fdn, why;
    ASSERT_TRUE(named.to_fdn("cn=p,ou=a,dc=example,dc=org", fdn, why)) << why;
    named.set({"o=other"});
    ASSERT_TRUE(named.to_fdn("cn=z,ou=a,dc=example,dc=org", fdn, why)) << why;
    EXPECT_EQ("/dc=org/dc=example/ou=a/cn=z", fdn);
}

} // namespace
