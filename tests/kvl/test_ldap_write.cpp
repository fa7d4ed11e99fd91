// Writing to a real slapd through KVL's Image, as the editor does: Set touching only what
// changed, multi-valued edits, the refusal of a lost update, the server's refusals, create from
// a class and from a template, subtree deletes with a refusal part way, and the actions
// setPassword and whoAmI. Bound as a user with write access; polling waits.
#include <gtest/gtest.h>

#include "kvl/kvl.h"
#include "passwords.h"
#include "slapd_process.h"

#include <set>
#include <string>

using qxtest::SlapdProcess;

namespace {

const char* kWriter = "uid%3Dwriter%2Cou%3Dstaff%2Cdc%3Dexample%2Cdc%3Dorg";
const char* kBob = "uid%3Dbob%2Cou%3Dstaff%2Cdc%3Dexample%2Cdc%3Dorg";

const char* kEntries = R"(dn: uid=writer,ou=staff,dc=example,dc=org
objectClass: inetOrgPerson
uid: writer
cn: Writer
sn: Writer
userPassword: writer-secret

dn: cn=h1,ou=hosts,dc=example,dc=org
objectClass: device
cn: h1
serialNumber: S-1
l: Leeds
description: one
description: two
description: three

dn: ou=tree,dc=example,dc=org
objectClass: organizationalUnit
ou: tree

dn: ou=sub,ou=tree,dc=example,dc=org
objectClass: organizationalUnit
ou: sub

dn: cn=a,ou=sub,ou=tree,dc=example,dc=org
objectClass: device
cn: a

dn: cn=b,ou=tree,dc=example,dc=org
objectClass: device
cn: b

dn: cn=keep,ou=tree,dc=example,dc=org
objectClass: device
cn: keep
description: locked

)";

// The writer may change everything but cn=keep, which bound users may only read.
const char* kAccess =
    "access to attrs=userPassword by self write "
    "by dn.exact=\"uid=writer,ou=staff,dc=example,dc=org\" write by anonymous auth by * none\n"
    "access to dn.exact=\"cn=keep,ou=tree,dc=example,dc=org\" by * read\n"
    "access to * by dn.exact=\"uid=writer,ou=staff,dc=example,dc=org\" write by * read\n";

const char* kH1 = "/dc=example,dc=org/ou=hosts/cn=h1";

class LdapWrite : public ::testing::Test {
protected:
    static SlapdProcess* ldap;

    static void SetUpTestSuite()
    {
        ldap = new SlapdProcess;
        ASSERT_TRUE(ldap->start(
            SlapdProcess::sample_ldif() + kEntries + SlapdProcess::many_ldif("gone", 1), kAccess))
            << ldap->failure();
    }
    static void TearDownTestSuite()
    {
        delete ldap;
        ldap = nullptr;
    }
    void SetUp() override
    {
        ASSERT_NE(nullptr, ldap);
        setenv("HOME", ldap->folder().c_str(), 1);
        ASSERT_TRUE(connect(platform, kWriter, "writer-secret")) << platform.get_error_string();
    }
    void TearDown() override { platform.disconnect(); }

    bool connect(Platform& p, const char* dn, const std::string& password)
    {
        password_file(ldap->folder() + "/test.pw", password.c_str());
        return p.connect((ldap->url() + "/????bindname=" + dn).c_str(), "test", 10);
    }

    // The value of attr as the directory holds it now.
    std::string now(const std::string& fdn, const char* attr)
    {
        Image fresh(DataUnit(fdn.c_str()), DataUnit(), platform);
        if (!fresh.boot(10)) return "(" + std::string(fresh.get_error_string()) + ")";
        return fresh.get_str(attr).str();
    }
    bool exists(const std::string& fdn)
    {
        Image fresh(DataUnit(fdn.c_str()), DataUnit(), platform);
        return fresh.boot(10);
    }

    Platform platform{DataUnit("QX"), DataUnit("")};
};

SlapdProcess* LdapWrite::ldap = nullptr;

// Each case: what another client changes after the form was loaded, the user's edits, whether
// the Set goes through, and the values afterwards (or the words of the refusal).
TEST_F(LdapWrite, SetChangesExactlyWhatTheUserChanged)
{
    const std::string mod = std::string("dn: cn=h1,ou=hosts,dc=example,dc=org\nchangetype: modify\n");
    struct Case {
        const char* what;
        std::string other; // another client's change after the load, "" none
        std::vector<std::pair<const char*, const char*>> edits;
        bool ok;
        std::vector<std::pair<const char*, const char*>> after; // attribute, value or refusal words
    } cases[] = {
        {"another attribute changed meanwhile survives",
         mod + "replace: l\nl: York\n-\n",
         {{"serialNumber", "S-2"}},
         true,
         {{"serialNumber", "S-2"}, {"l", "York"}}},
        {"one value of several replaced, another added meanwhile kept",
         mod + "add: description\ndescription: four\n-\n",
         {{"description", "one\nTWO\nthree"}},
         true,
         {{"description", "one\nthree\nfour\nTWO"}}},
        {"a value taken out, an attribute emptied",
         "",
         {{"description", "one\nfour"}, {"l", ""}},
         true,
         {{"description", "one\nfour"}, {"l", ""}}},
        {"an attribute the entry has no values of given one",
         "",
         {{"l", "Leeds"}},
         true,
         {{"l", "Leeds"}}},
        {"... while another gave it one: refused",
         mod + "add: ou\nou: ops\n-\n",
         {{"ou", "dev"}},
         false,
         {{"ou", "Assertion Failed: ou"}, {"ou", "'ops'"}}},
        {"a password is not set here",
         "",
         {{"userPassword", "x"}},
         false,
         {{"userPassword", "is set by the action setPassword"}}},
        {"the changed attribute changed meanwhile: refused, naming it and its value",
         mod + "replace: serialNumber\nserialNumber: X-9\n-\n",
         {{"serialNumber", "S-3"}},
         false,
         {{"serialNumber", "Assertion Failed: serialNumber"}, {"serialNumber", "'X-9'"}}},
        {"the naming attribute emptied: the server's refusal",
         "",
         {{"cn", ""}},
         false,
         {{"cn", "Naming violation: naming attribute 'cn'"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Image form(DataUnit(kH1), DataUnit(), platform);
        ASSERT_TRUE(form.boot(10)) << form.get_error_string();
        if (!c.other.empty()) { // another client's change
            ASSERT_TRUE(ldap->change("ldapmodify", c.other));
        }
        for (auto& e : c.edits) ASSERT_TRUE(form.set_str(e.first, e.second)) << form.get_error_string();
        bool ok = form.store(10);
        ASSERT_EQ(c.ok, ok) << form.get_error_string();
        for (auto& a : c.after) {
            if (ok)
                EXPECT_EQ(a.second, now(kH1, a.first)) << a.first;
            else
                EXPECT_NE(std::string::npos, std::string(form.get_error_string()).find(a.second))
                    << form.get_error_string();
        }
        if (!ok) { // the user's edits stay, for another try
            for (auto& e : c.edits) EXPECT_STREQ(e.second, form.get_str(e.first).str()) << e.first;
        }
    }
    EXPECT_EQ("X-9", now(kH1, "serialNumber")); // the other client's, not overwritten
    // Where the bound user may not write, the server's words.
    Image keep(DataUnit("/dc=example,dc=org/ou=tree/cn=keep"), DataUnit(), platform);
    ASSERT_TRUE(keep.boot(10));
    ASSERT_TRUE(keep.set_str("description", "mine"));
    EXPECT_FALSE(keep.store(10));
    EXPECT_EQ(0u, std::string(keep.get_error_string()).find("Insufficient access"))
        << keep.get_error_string();
}

TEST_F(LdapWrite, CreatesFromAClassAndFromATemplate)
{
    struct Case {
        const char* what;
        const char* cls;
        const char* template_fdn; // nullptr: a typed class
        std::vector<std::pair<const char*, const char*>> values;
        const char* name;    // the new entry's FDN, nullptr when refused
        const char* refusal; // words of the refusal
    } cases[] = {
        {"typed class, its usual naming attribute",
         "device",
         nullptr,
         {{"cn", "h9"}, {"l", "Hull"}},
         "/dc=example,dc=org/ou=hosts/cn=h9",
         ""},
        {"an RDN of several values",
         "inetOrgPerson",
         nullptr,
         {{"namingAttribute", "cn+uid"}, {"uid", "cy2"}, {"cn", "Cy Two"}, {"sn", "Two"}},
         "/dc=example,dc=org/ou=hosts/cn=Cy Two+uid=cy2",
         ""},
        {"a MUST attribute missing",
         "inetOrgPerson",
         nullptr,
         {{"cn", "No Surname"}},
         nullptr,
         "needs a value of sn (MUST)"},
        {"from a template: its naming attribute and values",
         "inetOrgPerson",
         "/dc=example,dc=org/ou=people/uid=ann",
         {{"uid", "ann2"}},
         "/dc=example,dc=org/ou=hosts/uid=ann2",
         ""},
        {"a name taken", "device", nullptr, {{"cn", "h1"}}, nullptr, "Already exists"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Image created(NONE, DataUnit(c.cls), platform);
        ASSERT_TRUE(created.boot(10)) << created.get_error_string();
        if (c.template_fdn) {
            Image reference(DataUnit(c.template_fdn), DataUnit(), platform);
            ASSERT_TRUE(reference.boot(10));
            ASSERT_TRUE(created.set_from_ref(reference)) << created.get_error_string();
        }
        for (auto& v : c.values) ASSERT_TRUE(created.set_str(v.first, v.second)) << v.first;
        Image made;
        bool ok = created.create_within(DataUnit("/dc=example,dc=org/ou=hosts"), made, 10);
        ASSERT_EQ(c.name != nullptr, ok) << created.get_error_string();
        if (!ok) {
            EXPECT_NE(std::string::npos, std::string(created.get_error_string()).find(c.refusal))
                << created.get_error_string();
            continue;
        }
        EXPECT_STREQ(c.name, made.get_objname().str());
        EXPECT_STREQ(c.cls, now(c.name, "objectClass").substr(0, strlen(c.cls)).c_str());
    }
    EXPECT_FALSE(exists("/dc=example,dc=org/ou=hosts/cn=No Surname"));
    Image blank(NONE, DataUnit("device"), platform);
    for (auto [naming, unknown] : {std::pair{"cn+", "'(none)'"}, {"cn+nosuch", "'nosuch'"}}) {
        EXPECT_FALSE(blank.set_str("namingAttribute", naming)) << naming;
        EXPECT_NE(std::string::npos, std::string(blank.get_error_string()).find(unknown))
            << blank.get_error_string();
    }
    EXPECT_EQ("Archer", now("/dc=example,dc=org/ou=hosts/uid=ann2", "sn")); // the template's

    // The template's photo came over as its bytes, not as the size its text shows.  Bytes are
    // not typed; a stored entry's are replaced whole, unless someone changed them meanwhile.
    Image ann(DataUnit("/dc=example,dc=org/ou=people/uid=ann"), DataUnit(), platform);
    Image ann2(DataUnit("/dc=example,dc=org/ou=hosts/uid=ann2"), DataUnit(), platform);
    DUArray photo, copied;
    ASSERT_TRUE(ann.get_bytes("jpegPhoto", photo)) << ann.get_error_string();
    ASSERT_TRUE(ann2.get_bytes("jpegPhoto", copied)) << ann2.get_error_string();
    ASSERT_EQ(1, copied.count());
    EXPECT_EQ(photo[0], copied[0]);
    EXPECT_TRUE(ann2.set_str("jpegPhoto", "(40 bytes)")); // what a form shows, written back
    EXPECT_FALSE(ann2.set_str("jpegPhoto", "a photo"));
    EXPECT_EQ(KVL_ERR_SYNTAX, ann2.get_error_type());
    EXPECT_FALSE(ann2.set_bytes("cn", photo));
    EXPECT_EQ(KVL_ERR_SYNTAX, ann2.get_error_type());
    Image stale(DataUnit("/dc=example,dc=org/ou=hosts/uid=ann2"), DataUnit(), platform);
    ASSERT_TRUE(stale.get_bytes("jpegPhoto", copied));
    DUArray two;
    two.append(DataUnit("\n\0two", 5));
    two.append(DataUnit("three"));
    ASSERT_TRUE(ann2.set_bytes("jpegPhoto", two));
    ASSERT_TRUE(ann2.store(10)) << ann2.get_error_string();
    Image reread(DataUnit("/dc=example,dc=org/ou=hosts/uid=ann2"), DataUnit(), platform);
    DUArray back;
    ASSERT_TRUE(reread.get_bytes("jpegPhoto", back));
    ASSERT_EQ(2, back.count());
    EXPECT_EQ(std::set<std::string>({std::string("\n\0two", 5), "three"}),
              std::set<std::string>({std::string(back[0].str(), back[0].length()),
                                     std::string(back[1].str(), back[1].length())}));
    ASSERT_TRUE(stale.set_bytes("jpegPhoto", copied));
    EXPECT_TRUE(stale.store(10)) << stale.get_error_string(); // given back as read: no request
    DUArray other;
    other.append(DataUnit("other"));
    ASSERT_TRUE(stale.set_bytes("jpegPhoto", other));
    EXPECT_FALSE(stale.store(10));
    EXPECT_EQ(KVL_ERR_CHANGED, stale.get_error_type()) << stale.get_error_string();
    DataUnit attr, value;
    ASSERT_TRUE(stale.changed_on_server(attr, value));
    EXPECT_STREQ("jpegPhoto", attr.str());
    EXPECT_STREQ("(5 bytes)\n(5 bytes)", value.str());
    Image kept(DataUnit("/dc=example,dc=org/ou=hosts/uid=ann2"), DataUnit(), platform);
    EXPECT_TRUE(kept.get_bytes("jpegPhoto", back));
    EXPECT_EQ(2, back.count()); // the other client's photos stay
}

TEST_F(LdapWrite, DeletesSubtreesAndStopsAtARefusal)
{
    Image gone(DataUnit("/dc=example,dc=org/ou=gone"), DataUnit(), platform);
    EXPECT_TRUE(gone.destroy(10)) << gone.get_error_string();
    EXPECT_FALSE(exists("/dc=example,dc=org/ou=gone"));

    // Deepest first, several out at once: cn=keep's refusal stops the run; its parent stays,
    // the count says how many went, and nothing outside the subtree is touched.
    Image tree(DataUnit("/dc=example,dc=org/ou=tree"), DataUnit(), platform);
    EXPECT_FALSE(tree.destroy(10));
    std::string why = tree.get_error_string();
    EXPECT_NE(std::string::npos, why.find("cn=keep,ou=tree,dc=example,dc=org was refused: Insufficient access"))
        << why;
    EXPECT_FALSE(exists("/dc=example,dc=org/ou=tree/ou=sub/cn=a"));
    int went = 1;
    for (const char* left :
         {"/dc=example,dc=org/ou=tree/ou=sub", "/dc=example,dc=org/ou=tree/cn=b"})
        went += !exists(left);
    EXPECT_NE(std::string::npos, why.find(std::to_string(went) + " of 5 entries deleted")) << why;
    for (const char* left : {"/dc=example,dc=org/ou=tree/cn=keep", "/dc=example,dc=org/ou=tree",
                             "/dc=example,dc=org/ou=hosts"})
        EXPECT_TRUE(exists(left)) << left;
}

TEST_F(LdapWrite, ActionsSetAPasswordAndSayWhoIsBound)
{
    Image mdr(DataUnit(platform.get_mdr_name()), DataUnit(), platform);
    std::string person = mdr.call("getObjectClass", "inetOrgPerson", 10).str();
    EXPECT_NE(std::string::npos, person.find("actions\n    label \"setPassword\"")) << person;
    EXPECT_NE(std::string::npos, std::string(mdr.call("getObjectClass", "rootDSE", 10).str()).find("\"whoAmI\""));
    EXPECT_EQ(std::string::npos, std::string(mdr.call("getObjectClass", "device", 10).str()).find("setPassword"));

    Image root(DataUnit("/"), DataUnit(), platform);
    EXPECT_STREQ("dn:uid=writer,ou=staff,dc=example,dc=org", root.call("whoAmI", "", 10).str());

    Image bob(DataUnit("/dc=example,dc=org/ou=staff/uid=bob"), DataUnit(), platform);
    EXPECT_TRUE(bob.call("setPassword", "", 10).is_empty());
    EXPECT_FALSE(bob.call("setPassword", "new-bob-pw", 10).is_empty()) << bob.get_error_string();

    Platform as_bob{DataUnit("QX"), DataUnit("")};
    ASSERT_TRUE(connect(as_bob, kBob, "new-bob-pw")) << as_bob.get_error_string();
    Image bob_root(DataUnit("/"), DataUnit(), as_bob);
    EXPECT_STREQ("dn:uid=bob,ou=staff,dc=example,dc=org", bob_root.call("whoAmI", "", 10).str());
    as_bob.disconnect();
    Platform old{DataUnit("QX"), DataUnit("")};
    EXPECT_FALSE(connect(old, kBob, "bob-secret"));
}

} // namespace
