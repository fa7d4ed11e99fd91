// KVL against a real slapd (support/slapd_process.h), through the same Platform, Image, Album,
// Syntax and Search the editor uses: the root DSE and naming contexts, entries and their
// attributes, names with escapes, paging past the size limit, a filter, Select's searches,
// the subschema's classes and syntaxes, anonymous and bound access, refused passwords and
// password files, the server's result names, and the loss of the server. Polling waits.
#include <gtest/gtest.h>

#include "kvl/album_pages.h"
#include "kvl/image_batch.h"
#include "kvl/kvl.h"
#include "held_values.h"
#include "passwords.h"
#include "slapd_process.h"

#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

using qxtest::SlapdProcess;

namespace {

const int kMany = 1200; // past slapd's default size limit of 500


// A container holding a referral entry and an alias.
const char* kLinks = R"(dn: ou=links,dc=example,dc=org
objectClass: organizationalUnit
ou: links

dn: ou=remote,ou=links,dc=example,dc=org
objectClass: referral
objectClass: extensibleObject
ou: remote
ref: ldap://elsewhere.example.net/ou=remote,dc=example,dc=net

dn: cn=ann,ou=links,dc=example,dc=org
objectClass: alias
objectClass: extensibleObject
cn: ann
aliasedObjectName: uid=ann,ou=people,dc=example,dc=org

)";

std::string contents_of(Album& album)
{
    std::string out;
    for (AlbumImage ai = album.first_image(); ai; ai.next_image())
        out += std::string(ai.image().get_objname().str()) + " (" +
               album.member_class(ai.image().get_objname()).str() + ")\n";
    return out;
}

class LdapServer : public ::testing::Test {
protected:
    static SlapdProcess* ldap;

    static void SetUpTestSuite()
    {
        ldap = new SlapdProcess;
        ASSERT_TRUE(ldap->start(SlapdProcess::sample_ldif() + SlapdProcess::many_ldif("many", kMany) +
                                    SlapdProcess::many_ldif("busy", kMany) + kLinks,
                                SlapdProcess::bound_access()))
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
        unsetenv("QX_PASSWORD_FILE");
        setenv("HOME", ldap->folder().c_str(), 1); // no ~/.ldaprc of the user's
    }
    void TearDown() override { platform.disconnect(); }

    // A password file of the given mode in the server's folder, named by QX_PASSWORD_FILE.
    void password_file(const char* password, mode_t mode = 0600)
    {
        ::password_file(ldap->folder() + "/test.pw", password, mode);
    }

    std::string bound_url(const std::string& dn_escaped)
    {
        return ldap->url() + "/????" "bindname=" + dn_escaped;
    }

    // The entries of the staff branch, which is for bound users only; -1 when it is hidden.
    int staff_members()
    {
        Album staff(DataUnit("staff"), platform);
        if (!staff.set_derivation("/dc=example,dc=org/ou=staff/*") || !staff.derive(10)) return -1;
        return staff.num_images();
    }

    Platform platform{DataUnit("QX"), DataUnit("")};
};

SlapdProcess* LdapServer::ldap = nullptr;

TEST_F(LdapServer, ReadsTheRootEntriesAndAttributes)
{
    ASSERT_TRUE(platform.connect(ldap->url().c_str(), "test", 10)) << platform.get_error_string();

    Image root(DataUnit("/"), DataUnit(), platform);
    ASSERT_TRUE(root.boot(10)) << root.get_error_string();
    EXPECT_STREQ("rootDSE", root.get_objclass().str());
    EXPECT_STREQ("dc=example,dc=org", root.get_str("namingContexts").str());

    Album top(DataUnit("top"), platform);
    ASSERT_TRUE(top.set_derivation("/*"));
    ASSERT_TRUE(top.derive(10)) << top.get_error_string();
    EXPECT_EQ("/dc=example,dc=org (organization)\n", contents_of(top));

    // A DN is a name too; values one per line; binary values as their size, their bytes apart;
    // no password.
    Image ann(DataUnit("uid=ann,ou=people,dc=example,dc=org"), DataUnit("person"), platform);
    ASSERT_TRUE(ann.boot(10)) << ann.get_error_string();
    EXPECT_STREQ("/dc=example,dc=org/ou=people/uid=ann", ann.get_objname().str());
    EXPECT_STREQ("uid=ann,ou=people,dc=example,dc=org", ann.get_user_name().str());
    EXPECT_STREQ("inetOrgPerson", ann.get_objclass().str());
    EXPECT_STREQ("ann@example.org\na.archer@example.org", ann.get_str("mail").str());
    EXPECT_STREQ("(40 bytes)", ann.get_str("jpegPhoto").str());
    DUArray photo;
    ASSERT_TRUE(ann.get_bytes("jpegPhoto", photo));
    ASSERT_EQ(1, photo.count());
    EXPECT_EQ("/9j/4AAQSkZJRgABAQAAAQABAAD/2wBDAAgGBgcGBQgHBwcJCQgKDA==",
              kvl_base64(std::string(photo[0].str(), photo[0].length())));
    EXPECT_FALSE(ann.get_bytes("mail", photo));
    EXPECT_EQ(0, photo.count());
    // The password is not read: it reads as an attribute without values, as any the entry lacks.
    EXPECT_TRUE(ann.get_str("userPassword").is_empty());
    EXPECT_TRUE(ann.get_str("telephoneNumber").is_empty());
    EXPECT_EQ(0, ann.get_error_type());
    // Its classes' attributes without values are listed after those with values, for a
    // form to give values to; the password is not among them.
    std::vector<std::string> listed;
    for (int i = 0; i < ann.get_attr_names(0).count(); i++)
        listed.push_back(ann.get_attr_names(0)[i].str());
    auto at = [&](const char* a) {
        return std::find(listed.begin(), listed.end(), a) - listed.begin();
    };
    EXPECT_LT(at("jpegPhoto"), at("telephoneNumber"));
    EXPECT_LT(at("telephoneNumber"), (long)listed.size());
    EXPECT_EQ((long)listed.size(), at("userPassword"));

    struct Refused {
        const char* name;
        const char* cls;
        int type;
        const char* starts;
    } refused[] = {
        {"/dc=example,dc=org/ou=people/uid=nobody", "", KVL_ERR_NO_OBJECT, "No such object"},
        {"/dc=example,dc=org/ou=people/uid=ann", "device", KVL_ERR_CLASS_CONFLICT, "the entry"},
        {"/dc=example,dc=org/ou=people/novalue", "", KVL_ERR_BAD_NAME, "'novalue,"},
    };
    for (const Refused& r : refused) {
        Image img(DataUnit(r.name), DataUnit(r.cls), platform);
        EXPECT_FALSE(img.boot(10)) << r.name;
        EXPECT_EQ(r.type, img.get_error_type()) << r.name << ": " << img.get_error_string();
        EXPECT_EQ(0, std::string(img.get_error_string()).rfind(r.starts, 0))
            << img.get_error_string();
    }
}

// A referral and an alias are rows of their own, with their classes: neither is followed nor
// dereferenced, opening them finds nothing, and their attributes say where they point.
TEST_F(LdapServer, ReferralAndAliasEntriesAreMembers)
{
    ASSERT_TRUE(platform.connect(ldap->url().c_str(), "test", 10)) << platform.get_error_string();
    Album links(DataUnit("links"), platform);
    ASSERT_TRUE(links.set_derivation("/dc=example,dc=org/ou=links/*"));
    ASSERT_TRUE(links.derive(10)) << links.get_error_string();
    EXPECT_EQ(2, links.num_images()) << contents_of(links);
    struct Row {
        const char* name;
        const char* cls;
        const char* attribute;
        const char* value;
    } rows[] = {
        {"/dc=example,dc=org/ou=links/ou=remote", "referral", "ref",
         "ldap://elsewhere.example.net/ou=remote,dc=example,dc=net"},
        {"/dc=example,dc=org/ou=links/cn=ann", "alias", "aliasedObjectName",
         "uid=ann,ou=people,dc=example,dc=org"},
    };
    for (const Row& r : rows) {
        EXPECT_STREQ(r.cls, links.member_class(DataUnit(r.name)).str()) << r.name;
        Image entry(DataUnit(r.name), DataUnit(), platform);
        ASSERT_TRUE(entry.boot(10)) << r.name << ": " << entry.get_error_string();
        EXPECT_STREQ(r.cls, entry.get_objclass().str()) << r.name;
        EXPECT_STREQ(r.value, entry.get_str(r.attribute).str()) << r.name;
        Album below(DataUnit("below"), platform);
        ASSERT_TRUE(below.set_derivation((std::string(r.name) + "/*").c_str()));
        EXPECT_TRUE(below.derive(10)) << r.name << ": " << below.get_error_string();
        EXPECT_EQ(0, below.num_images()) << r.name;
    }
    Search search(platform);
    ASSERT_TRUE(search.run("/dc=example,dc=org", "(|(objectClass=referral)(objectClass=alias))", -1,
                           0, 10))
        << search.get_error_string();
    EXPECT_EQ(2, search.count);
}

TEST_F(LdapServer, PagesPastTheSizeLimitAndFilters)
{
    ASSERT_TRUE(platform.connect(ldap->url().c_str(), "test", 10)) << platform.get_error_string();
    struct Case {
        const char* derivation;
        int count;
    } cases[] = {
        {"/dc=example,dc=org/ou=many/*", kMany},
        {"/dc=example,dc=org/ou=many/*/CMISFilter((cn=e1*))", 1 + 10 + 100 + 200},
    };
    for (const Case& c : cases) {
        Album album(DataUnit("many"), platform);
        ASSERT_TRUE(album.set_derivation(c.derivation));
        ASSERT_TRUE(album.derive(30)) << c.derivation << ": " << album.get_error_string();
        EXPECT_EQ(c.count, album.num_images()) << c.derivation;
    }
    // A malformed filter, and one naming a type the subschema lacks (which
    // the directory itself would take as Undefined and match nothing).
    struct Refusal {
        const char *derivation, *why;
    } refusals[] = {
        {"/dc=example,dc=org/*/CMISFilter((cn=x)", "expected ')' at position 6 in '(cn=x'"},
        {"/dc=example,dc=org/*/CMISFilter((&(CN;lang-en=x)(colour=red)))",
         "unknown attribute 'colour' at position 18 in '(&(CN;lang-en=x)(colour=red))'"},
    };
    for (const Refusal& r : refusals) {
        Album bad(DataUnit("bad"), platform);
        ASSERT_TRUE(bad.set_derivation(r.derivation));
        EXPECT_FALSE(bad.derive(10)) << r.derivation;
        EXPECT_EQ(KVL_ERR_BAD_DERIVATION, bad.get_error_type()) << bad.get_error_string();
        EXPECT_NE(std::string::npos, std::string(bad.get_error_string()).find(r.why))
            << bad.get_error_string();
    }

    // Select searches the subtree; the report after a deletion counts it.
    Search search(platform);
    ASSERT_TRUE(search.run("/dc=example,dc=org", "(objectClass=inetOrgPerson)", -1, 0, 10))
        << search.get_error_string();
    EXPECT_EQ(4, search.count); // bob, below ou=staff, is for bound users only
    EXPECT_STREQ("/dc=example,dc=org/ou=people/cn=Smith\\, John+uid=js", search.names[0].str());
    ASSERT_TRUE(search.count_reachable("/dc=example,dc=org/ou=many", "", 30))
        << search.get_error_string();
    EXPECT_EQ(kMany, search.count);
    EXPECT_EQ(0, search.names.count());
}

TEST_F(LdapServer, ClassesAndSyntaxesFromTheSubschema)
{
    ASSERT_TRUE(platform.connect(ldap->url().c_str(), "Tarnwick", 10)) << platform.get_error_string();
    std::string mdr = "/systemId=\"" + ldap->url() + "\"/metaName=\"MDR\"";
    Image repository(DataUnit(mdr.c_str()), DataUnit(), platform);
    std::string text = repository.call("getObjectClass", "inetOrgPerson", 10).str();
    ASSERT_FALSE(text.empty()) << repository.get_error_string();
    // MUST and MAY over the chain (top, person, organizationalPerson); setPassword.
    for (const char* attr : {"objectClass", "sn", "cn", "telephoneNumber", "title", "mail", "uid"})
        EXPECT_NE(std::string::npos, text.find(std::string("label \"") + attr + "\""))
            << attr << " in\n" << text;
    EXPECT_LT(text.find("label \"sn\""), text.find("label \"telephoneNumber\""));
    EXPECT_EQ(text.size() - 32, text.find("actions\n    label \"setPassword\"\n"));
    EXPECT_TRUE(repository.call("getObjectClass", "noSuchClass", 10).is_empty());
    EXPECT_EQ(KVL_ERR_NO_CLASS, repository.get_error_type());

    Syntax mail(DataUnit("mail"), platform);
    EXPECT_NE(std::string::npos, std::string(mail.get(0).str()).find("IA5 String"))
        << mail.get(0).str();
    Image blank(NONE, DataUnit("device"), platform);
    ASSERT_TRUE(blank.boot(10)) << blank.get_error_string();
    DUArray attrs = blank.get_attr_names(0);
    ASSERT_GE(attrs.count(), 4);
    EXPECT_STREQ("kvl:namingAttribute", attrs[0].str()); // the new entry's RDN attribute
    EXPECT_STREQ("cn", blank.get_str(attrs[0]).str());
    EXPECT_STREQ("objectClass", attrs[1].str());
    EXPECT_STREQ("cn", attrs[2].str());
}

TEST_F(LdapServer, AnonymousAndBoundAccess)
{
    const std::string bob = "uid%3Dbob%2Cou%3Dstaff%2Cdc%3Dexample%2Cdc%3Dorg";
    struct Case {
        const char* what;
        std::string url;
        const char* password; // null: no password file
        mode_t mode;
        bool connects;
        int staff; // entries below ou=staff, -1: the branch is hidden
        const char* message;
    } cases[] = {
        {"anonymous", ldap->url(), nullptr, 0600, true, -1, ""},
        {"bound", bound_url(bob), "bob-secret", 0600, true, 1, ""},
        {"critical bindname", ldap->url() + "/????" "!bindname=" + bob, "bob-secret", 0600, true, 1, ""},
        {"wrong password", bound_url(bob), "guess", 0600, false, 0, "Invalid credentials"},
        {"others may read the file", bound_url(bob), "bob-secret", 0644, false, 0,
         "others can read it (mode 0644)"},
        {"no password file", bound_url(bob), nullptr, 0600, false, 0, "QX_PASSWORD_FILE"},
    };
    for (const Case& c : cases) {
        password_file(c.password, c.mode);
        bool ok = platform.connect(c.url.c_str(), "test", 10);
        EXPECT_EQ(c.connects, ok) << c.what << ": " << platform.get_error_string();
        if (!ok) {
            EXPECT_NE(std::string::npos, std::string(platform.get_error_string()).find(c.message))
                << c.what << ": " << platform.get_error_string();
            // the password never shows in a message
            EXPECT_EQ(std::string::npos, std::string(platform.get_error_string()).find("secret"));
            continue;
        }
        EXPECT_EQ(c.staff, staff_members()) << c.what;
        platform.disconnect();
    }

    // BINDDN from ~/.ldaprc when the URL names none.
    std::ofstream(ldap->folder() + "/.ldaprc") << "# test\nBINDDN uid=bob,ou=staff,dc=example,dc=org\n";
    password_file("bob-secret");
    ASSERT_TRUE(platform.connect(ldap->url().c_str(), "test", 10)) << platform.get_error_string();
    EXPECT_EQ(1, staff_members());
    unlink((ldap->folder() + "/.ldaprc").c_str());
}

TEST_F(LdapServer, PasswordSourceIsAskedUpToThreeTimes)
{
    const std::string dn = "uid=bob,ou=staff,dc=example,dc=org";
    const std::string url = bound_url("uid%3Dbob%2Cou%3Dstaff%2Cdc%3Dexample%2Cdc%3Dorg");
    struct Case {
        const char* what;
        std::vector<const char*> answers;
        bool file; // a password file is set as well
        bool connects;
        size_t asked;
        std::vector<const char*> message; // pieces of the error
    } cases[] = {
        {"wrong then right", {"guess", "bob-secret"}, false, true, 2, {}},
        {"three wrong", {"a", "b", "c", "bob-secret"}, false, false, 3,
         {"the bind as uid=bob,ou=staff,dc=example,dc=org failed: Invalid credentials", "3 passwords"}},
        {"cancel", {nullptr}, false, false, 1, {"as uid=bob,ou=staff", "cancelled"}},
        {"cancel after a refusal", {"guess", nullptr}, false, false, 2,
         {"cancelled", "last refusal: Invalid credentials"}},
        {"an empty password", {"", "bob-secret"}, false, true, 2, {}},
        {"the file wins", {"guess"}, true, true, 0, {}},
    };
    for (const Case& c : cases) {
        ScriptedSource source;
        source.answers = c.answers;
        kvl_set_password_source(&source);
        password_file(c.file ? "bob-secret" : nullptr);
        bool ok = platform.connect(url.c_str(), "test", 10);
        kvl_set_password_source(nullptr);
        std::string error = platform.get_error_string();
        EXPECT_EQ(c.connects, ok) << c.what << ": " << error;
        ASSERT_EQ(c.asked, source.told.size()) << c.what;
        for (const char* piece : c.message)
            EXPECT_NE(std::string::npos, error.find(piece)) << c.what << ": " << error;
        EXPECT_EQ(std::string::npos, error.find("secret")) << c.what;
        // The first ask names the bind and the server; a later one the refusal before it.
        if (c.asked > 0) {
            EXPECT_EQ("1/3 " + dn + " " + ldap->url() + " []", source.told[0]);
        }
        if (c.asked > 1) {
            EXPECT_EQ(0u, source.told[1].find("2/3 " + dn + " " + ldap->url() +
                                              (*c.answers[0] ? " [Invalid credentials]" : " [")))
                << c.what << ": " << source.told[1];
        }
        EXPECT_EQ(ok ? 1 : -1, staff_members()) << c.what; // nothing is read without a bind
        platform.disconnect();
    }
}

// What the callbacks of a live-changes test saw: "created <name>", "destroyed <name>",
// "changed <attribute>=<value>", and how many raw events.
struct Seen {
    std::vector<std::string> events;
    int raw = 0;
};

void seen_cb(void* client, void* call)
{
    CurrentEvent ev(call);
    std::string name = ev.get_objname().str();
    static_cast<Seen*>(client)->events.push_back(
        ev.get_name() == OBJECT_CREATED     ? "created " + name
        : ev.get_name() == OBJECT_DESTROYED ? "destroyed " + name
                                            : std::string("changed ") + ev.get_attribute().str() +
                                                  "=" + ev.get_value().str());
}
void raw_cb(void* client, void*)
{
    static_cast<Seen*>(client)->raw++;
}

// Takes notifications until seen holds n events (or 10 s pass).
bool events_arrive(Seen& seen, size_t n)
{
    for (int turns = 0; turns < 200 && seen.events.size() < n; turns++) kvl_poll(0.05);
    return seen.events.size() >= n;
}

// Each change by another client reaches the tracked album of its parent; an album with a
// filter hears of an entry as it starts or stops matching the filter, as qx_mis tells it.
TEST_F(LdapServer, LiveChangesByAnotherClient)
{
    ASSERT_TRUE(platform.connect(ldap->url().c_str(), "test", 10)) << platform.get_error_string();
    Seen seen, racked;
    platform.when(RAW_EVENT, Callback(SchedContext::current(), raw_cb, &seen));
    Album hosts(DataUnit("hosts"), platform), in_racks(DataUnit("in racks"), platform);
    ASSERT_TRUE(hosts.set_derivation("/dc=example,dc=org/ou=hosts/*"));
    ASSERT_TRUE(in_racks.set_derivation("/dc=example,dc=org/ou=hosts/*/CMISFilter((description=*rack*))"));
    for (auto [album, to] : {std::pair<Album*, Seen*>{&hosts, &seen}, {&in_racks, &racked}}) {
        album->set_prop(TRACKMODE, TRACK);
        album->when(OBJECT_CREATED, Callback(SchedContext::current(), seen_cb, to));
        album->when(OBJECT_DESTROYED, Callback(SchedContext::current(), seen_cb, to));
        ASSERT_TRUE(album->derive(10)) << album->get_error_string();
    }
    ASSERT_EQ(1, hosts.num_images());
    ASSERT_EQ(0, in_racks.num_images());
    Image leeds(DataUnit("/dc=example,dc=org/ou=hosts/cn=leeds"), DataUnit(), platform);
    ASSERT_TRUE(leeds.boot(10)) << leeds.get_error_string();
    leeds.set_prop(TRACKMODE, TRACK);
    leeds.when(ATTR_CHANGED, Callback(SchedContext::current(), seen_cb, &seen));

    const std::string host = "/dc=example,dc=org/ou=hosts/cn=";
    auto describe = [](const char* cn, const char* text) {
        return std::string("dn: cn=") + cn + ",ou=hosts,dc=example,dc=org\nchangetype: modify\n"
               "replace: description\ndescription: " + text + "\n";
    };
    struct Step {
        const char* tool;
        std::string input;
        std::vector<std::string> args;
        std::vector<std::string> expect, expect_racked;
        int members, members_racked;
    } steps[] = {
        {"ldapadd", "dn: cn=york,ou=hosts,dc=example,dc=org\nobjectClass: device\ncn: york\n", {},
         {"created " + host + "york"}, {}, 2, 0},
        {"ldapmodify", describe("leeds", "moved to rack 7"), {},
         {"changed description=moved to rack 7"}, {"created " + host + "leeds"}, 2, 1},
        {"ldapmodrdn", "", {"-r", "cn=york,ou=hosts,dc=example,dc=org", "cn=hull"},
         {"destroyed " + host + "york", "created " + host + "hull"}, {}, 2, 1},
        {"ldapmodify", describe("hull", "rack 9"), {}, {}, {"created " + host + "hull"}, 2, 2},
        {"ldapmodify", describe("leeds", "in the cellar"), {},
         {"changed description=in the cellar"}, {"destroyed " + host + "leeds"}, 2, 1},
        {"ldapdelete", "", {"cn=hull,ou=hosts,dc=example,dc=org"}, {"destroyed " + host + "hull"},
         {"destroyed " + host + "hull"}, 1, 0},
    };
    // All so far: an event too many shows at the next step.
    std::vector<std::string> expect, expect_racked;
    for (const Step& step : steps) {
        int raw_before = seen.raw;
        ASSERT_TRUE(ldap->change(step.tool, step.input, step.args)) << step.tool;
        expect.insert(expect.end(), step.expect.begin(), step.expect.end());
        expect_racked.insert(expect_racked.end(), step.expect_racked.begin(), step.expect_racked.end());
        EXPECT_TRUE(events_arrive(seen, expect.size()) && events_arrive(racked, expect_racked.size()))
            << step.tool;
        EXPECT_EQ(expect, seen.events) << step.tool;
        EXPECT_EQ(expect_racked, racked.events) << step.tool;
        EXPECT_EQ(step.members, hosts.num_images()) << step.tool;
        EXPECT_EQ(step.members_racked, in_racks.num_images()) << step.tool;
        EXPECT_GT(seen.raw, raw_before) << step.tool;
    }
    EXPECT_STREQ("in the cellar", leeds.get_str("description").str());
}

void disconnected_cb(void* client, void*)
{
    ++*static_cast<int*>(client);
}

TEST_F(LdapServer, ServerLossIsDisconnected)
{
    ASSERT_TRUE(platform.connect(ldap->url().c_str(), "test", 10)) << platform.get_error_string();
    int lost = 0;
    platform.when(DISCONNECTED, Callback(SchedContext::current(), disconnected_cb, &lost));
    ldap->kill_now();
    Album album(DataUnit("after"), platform);
    ASSERT_TRUE(album.set_derivation("/dc=example,dc=org/*"));
    EXPECT_FALSE(album.derive(10));
    EXPECT_TRUE(album.get_error_type() == KVL_ERR_DISCONNECTED ||
                album.get_error_type() == KVL_ERR_NOT_CONNECTED)
        << album.get_error_string();
    EXPECT_EQ(1, lost);
    EXPECT_FALSE(platform.is_connected());
    ASSERT_TRUE(ldap->restart()) << ldap->failure();
}

// A URL's base DN is the root to show, and a DN typed where a name is asked for is an FDN; a
// base that is not a DN stops the connection, and so does a server that is not there.
TEST_F(LdapServer, UrlBaseAndTypedDnsBecomeFdns)
{
    std::string url = ldap->url() + "/ou=people,dc=example,dc=org";
    ASSERT_TRUE(platform.connect(url.c_str(), "test", 10)) << platform.get_error_string();
    EXPECT_STREQ("/dc=example,dc=org/ou=people", platform.get_default_root().str());
    const char* rows[][2] = {
        {"uid=ann,ou=people,dc=example,dc=org", "/dc=example,dc=org/ou=people/uid=ann"},
        {"uid=ann, ou=people, dc=example, dc=org", "/dc=example,dc=org/ou=people/uid=ann"},
        {"cn=Smith\\, John+uid=js,ou=people,dc=example,dc=org",
         "/dc=example,dc=org/ou=people/cn=Smith\\, John+uid=js"},
        {"/dc=example,dc=org/ou=hosts", "/dc=example,dc=org/ou=hosts"},
        {"not a dn", ""},
    };
    for (auto& row : rows) EXPECT_STREQ(row[1], platform.to_fdn(DataUnit(row[0])).str()) << row[0];
    // And back, for the path line and tool tips; the root DSE has no DN to show.
    for (int i : {0, 2}) EXPECT_STREQ(rows[i][0], platform.user_name(DataUnit(rows[i][1])).str());
    EXPECT_STREQ("/", platform.user_name(DataUnit("/")).str());
    platform.disconnect();

    ASSERT_TRUE(platform.connect(ldap->url().c_str(), "test", 10));
    EXPECT_STREQ("", platform.get_default_root().str());
    platform.disconnect();
    std::string bad = ldap->url() + "/not%20a%20dn";
    EXPECT_FALSE(platform.connect(bad.c_str(), "test", 10));
    EXPECT_EQ(KVL_ERR_BAD_NAME, platform.get_error_type()) << platform.get_error_string();
    // Nobody listening is a connect error, in the library's words.
    std::string none = "ldap://127.0.0.1:" + std::to_string(qxtest::MisProcess::free_port());
    EXPECT_FALSE(platform.connect(none.c_str(), "test", 5));
    EXPECT_EQ(KVL_ERR_CONNECT, platform.get_error_type());
    EXPECT_NE(std::string::npos,
              std::string(platform.get_error_string()).find("Can't contact LDAP server"))
        << platform.get_error_string();
}

// The names an album holds.
std::set<std::string> names_in(Album& album)
{
    std::vector<std::string> names = names_of(album);
    return {names.begin(), names.end()};
}

// Another client deletes and adds entries of a container while tracked derivations of it are
// read page by page: once the changes have come, every album holds what the server holds.
TEST_F(LdapServer, ChangesWhileAPagedReadRunsAreKept)
{
    ASSERT_TRUE(platform.connect(ldap->url().c_str(), "test", 10)) << platform.get_error_string();
    const std::string busy = "/dc=example,dc=org/ou=busy";
    std::string ldif;
    for (int i = 0; i < 300; i++) {
        std::string n = std::to_string(i);
        ldif += "dn: cn=e" + n + ",ou=busy,dc=example,dc=org\nchangetype: delete\n\n";
        ldif += "dn: cn=n" + n + ",ou=busy,dc=example,dc=org\nchangetype: add\n"
                "objectClass: device\ncn: n" + n + "\n\n";
    }
    std::atomic<bool> written{false}, writing{true};
    std::thread writer([&] {
        written = ldap->change("ldapmodify", ldif);
        writing = false;
    });
    std::vector<std::unique_ptr<Album>> albums;
    for (int i = 0; i < 40 && (writing || albums.empty()); i++) {
        albums.push_back(std::make_unique<Album>(DataUnit("busy"), platform));
        Album& a = *albums.back();
        ASSERT_TRUE(a.set_derivation((busy + "/*").c_str()));
        a.set_prop(TRACKMODE, TRACK);
        ASSERT_TRUE(a.derive(30)) << a.get_error_string();
    }
    writer.join();
    ASSERT_TRUE(written);
    Album now(DataUnit("now"), platform);
    ASSERT_TRUE(now.set_derivation((busy + "/*").c_str()));
    ASSERT_TRUE(now.derive(30)) << now.get_error_string();
    const std::set<std::string> truth = names_in(now);
    ASSERT_EQ(static_cast<size_t>(kMany), truth.size());
    auto all_agree = [&] {
        for (auto& a : albums)
            if (a->num_images() != kMany || names_in(*a) != truth) return false;
        return true;
    };
    for (int turns = 0; turns < 200 && !all_agree(); turns++) kvl_poll(0.05);
    for (size_t i = 0; i < albums.size(); i++)
        EXPECT_EQ(truth, names_in(*albums[i])) << "album " << i << " of " << albums.size();
}


// What a page callback saw of a derivation; stop_after pages, it stops it.
struct PagesSeen {
    std::vector<long> received;
    std::vector<bool> done;
    std::set<std::string> names;
    long of = -1;
    size_t stop_after = 0;
};

bool see_page(void* data, const AlbumPage& page)
{
    PagesSeen& s = *static_cast<PagesSeen*>(data);
    s.received.push_back(page.received);
    s.done.push_back(page.done);
    s.of = page.of;
    for (AlbumImage ai = page.first; ai; ai.next_image()) s.names.insert(ai->get_objname().str());
    return s.stop_after == 0 || s.received.size() < s.stop_after;
}

// The directory's pages reach the album's page callback as they come, and a
// stop after the first keeps its entries, ends the search, and leaves the
// album following the container.
TEST_F(LdapServer, PagesReachTheCallbackAsTheyComeAndAStopKeepsThem)
{
    ASSERT_TRUE(platform.connect(ldap->url().c_str(), "test", 10)) << platform.get_error_string();
    const std::string many = "/dc=example,dc=org/ou=many";
    {
        Album whole(DataUnit("whole"), platform);
        ASSERT_TRUE(whole.set_derivation((many + "/*").c_str()));
        whole.set_prop(TRACKMODE, TRACK);
        PagesSeen seen;
        set_page_callback(whole, see_page, &seen);
        ASSERT_TRUE(whole.derive(30)) << whole.get_error_string();
        EXPECT_EQ((std::vector<long>{500, 1000, kMany}), seen.received);
        EXPECT_EQ((std::vector<bool>{false, false, true}), seen.done);
        EXPECT_EQ(static_cast<size_t>(kMany), seen.names.size());
        EXPECT_EQ(0, seen.of); // slapd gives no estimate
        EXPECT_EQ(kMany, whole.num_images());
    }

    Album stopped(DataUnit("stopped"), platform);
    ASSERT_TRUE(stopped.set_derivation((many + "/*").c_str()));
    stopped.set_prop(TRACKMODE, TRACK);
    PagesSeen seen;
    seen.stop_after = 1;
    set_page_callback(stopped, see_page, &seen);
    EXPECT_FALSE(stopped.derive(30));
    EXPECT_EQ(KVL_ERR_STOPPED, stopped.get_error_type()) << stopped.get_error_string();
    EXPECT_EQ((std::vector<long>{500}), seen.received);
    EXPECT_EQ(500, stopped.num_images());
    EXPECT_EQ(seen.names, names_in(stopped));

    // The search ended: the connection answers the next request, and no
    // page of the stopped one reaches the album afterwards.
    Search search(platform);
    ASSERT_TRUE(search.count_reachable(many.c_str(), "", 30)) << search.get_error_string();
    EXPECT_EQ(kMany, search.count);
    for (int i = 0; i < 10; i++) kvl_poll(0.05);
    EXPECT_EQ(500, stopped.num_images());

    // Still followed: an entry made by another client joins, and leaves again.
    ASSERT_TRUE(ldap->change("ldapadd", "dn: cn=late,ou=many,dc=example,dc=org\n"
                                        "objectClass: device\ncn: late\n\n"));
    for (int turns = 0; turns < 200 && stopped.num_images() == 500; turns++) kvl_poll(0.05);
    EXPECT_EQ(501, stopped.num_images());
    EXPECT_TRUE(names_in(stopped).count(many + "/cn=late"));
    ASSERT_TRUE(ldap->change("ldapdelete", "cn=late,ou=many,dc=example,dc=org\n"));
    for (int turns = 0; turns < 200 && stopped.num_images() == 501; turns++) kvl_poll(0.05);
    EXPECT_EQ(500, stopped.num_images());

    // Deriving again brings the whole set.
    set_page_callback(stopped, nullptr, nullptr);
    ASSERT_TRUE(stopped.derive(30)) << stopped.get_error_string();
    EXPECT_EQ(kMany, stopped.num_images());
}

// A search with values hands out its matches booted, each as its own boot leaves it (read
// after the connection is gone), below an entry and below the root DSE alike; handed over as
// they come instead, until the caller says stop.
TEST_F(LdapServer, SearchWithValuesBootsItsMatches)
{
    ASSERT_TRUE(platform.connect(ldap->url().c_str(), "test", 10)) << platform.get_error_string();
    const char* filter = "(!(cn=e*))";
    std::vector<Image> found, alone;
    for (const char* base : {"/dc=example,dc=org", "/"}) {
        Search full(platform);
        full.values = true;
        ASSERT_TRUE(full.run(base, filter, -1, 5000, 30)) << full.get_error_string();
        ASSERT_GT(full.images.size(), 5u) << base;
        for (Image& image : full.images)
            alone.emplace_back(image.get_objname(), DataUnit(), platform);
        found.insert(found.end(), full.images.begin(), full.images.end());
    }
    EXPECT_EQ(static_cast<int>(alone.size()), boot_images(alone, 30));
    int handed = 0;
    Search each(platform);
    each.values = true;
    each.each = [&](Image&) { return ++handed < 3; };
    EXPECT_FALSE(each.run("/", filter, -1, 5000, 30));
    EXPECT_EQ(KVL_ERR_ARGUMENT, each.get_error_type()) << each.get_error_string();
    EXPECT_EQ(3, handed);
    platform.disconnect();
    // A get lists the attributes without values too (for a form); the values are the same.
    auto with_values = [](Image& image) {
        std::vector<std::string> held = held_values(image);
        held.erase(std::remove_if(held.begin(), held.end(),
                                  [](const std::string& h) {
                                      return h.size() > 3 && h.compare(h.size() - 3, 3, " = ") == 0;
                                  }),
                   held.end());
        return held;
    };
    for (size_t i = 0; i < found.size(); i++)
        EXPECT_EQ(with_values(alone[i]), with_values(found[i])) << found[i].get_objname().str();
}

} // namespace
