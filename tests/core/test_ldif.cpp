/* test_ldif.cpp - LDIF text: writing and reading back, malformed input, names. */
#include <gtest/gtest.h>

#include "core/ldif.h"

namespace {

std::vector<LdifRecord> read_all(const std::string& text, std::string* error = nullptr,
                                 int* line = nullptr)
{
    LdifReader r(text);
    std::vector<LdifRecord> out;
    LdifRecord rec;
    int got;
    while ((got = r.next(rec)) == 1) out.push_back(rec);
    if (error) *error = got < 0 ? r.error() : "";
    if (line) *line = r.error_line();
    return out;
}

TEST(Ldif, ValuesRoundTripAsSafeTextOrBase64WithinSeventySixColumns)
{
    struct Case {
        std::string value;
        bool base64;
    } cases[] = {
        {"Leeds core switch 1", false},
        {"", false},
        {" leading space", true},
        {":leading colon", true},
        {"<leading angle", true},
        {"trailing space ", true},
        {"inner: colon < and : fine", false},
        {"Zürich, Bahnhofstraße", true},
        {"tab\there", true},
        {"line\nbreak", true},
        {"carriage\rreturn", true},
        {std::string("nul\0byte", 8), true},
        {"\x01 control", true},
        {std::string(200, 'x'), false},
        {std::string(70, 'z'), false}, // "note: " and 70: one full line
        {std::string(71, 'z'), false}, // one byte folded
        {"日本語のテキスト" + std::string(60, 'y'), true},
    };
    for (const Case& c : cases) {
        std::string text = ldif_entry("cn=a\\,b,dc=org", {{"objectClass", "top"}, {"note", c.value}});
        EXPECT_EQ(c.base64, text.find("note::") != std::string::npos) << text;
        for (size_t at = 0, nl; (nl = text.find('\n', at)) != std::string::npos; at = nl + 1)
            EXPECT_LE(nl - at, 76u) << text;
        std::string error;
        auto recs = read_all("version: 1\n\n" + text + text, &error);
        ASSERT_EQ(2u, recs.size()) << error << "\n" << text;
        EXPECT_EQ("cn=a\\,b,dc=org", recs[1].dn);
        ASSERT_EQ(2u, recs[1].values.size());
        EXPECT_EQ(c.value, recs[1].values[1].value) << text;
    }
}

TEST(Ldif, ReaderJoinsFoldsSkipsCommentsAndReadsChangeRecords)
{
    const std::string text = "# exported\r\n"
                             "version: 1\r\n"
                             "\r\n"
                             "dn: equipmentId=rack-1,\r\n"
                             " systemId=leeds\r\n"
                             "# a comment that is\n"
                             "  folded too\n"
                             "objectClass: equipmentRack\n"
                             "userLabel:: TERTIHJhY2stMQ==\n"
                             "userLabel:\n"
                             "\n\n"
                             "dn: cn=x,dc=org\n"
                             "changetype: modify\n"
                             "add: mail\n"
                             "mail: a@x\n"
                             "mail: b@x\n"
                             "-\n"
                             "delete: phone\n"
                             "-\n"
                             "replace: sn\n"
                             "sn: X\n"
                             "-\n"
                             "\n"
                             "dn: cn=y,dc=org\n"
                             "changetype: delete\n"
                             "\n"
                             "dn: cn=z,dc=org\n"
                             "changetype: add\n"
                             "objectClass: person\n"
                             "sn: Z\n";
    std::string error;
    auto recs = read_all(text, &error);
    ASSERT_EQ(4u, recs.size()) << error;
    EXPECT_EQ("equipmentId=rack-1,systemId=leeds", recs[0].dn);
    EXPECT_EQ(4, recs[0].line);
    EXPECT_EQ(LdifRecord::CONTENT, recs[0].kind);
    EXPECT_EQ((std::vector<std::string>{"LDS rack-1", ""}), recs[0].values_of("USERLABEL"));

    EXPECT_EQ(LdifRecord::MODIFY, recs[1].kind);
    EXPECT_EQ(13, recs[1].line);
    ASSERT_EQ(3u, recs[1].changes.size());
    EXPECT_EQ(LdifChange::ADD, recs[1].changes[0].op);
    EXPECT_EQ((std::vector<std::string>{"a@x", "b@x"}), recs[1].changes[0].values);
    EXPECT_EQ(LdifChange::DELETE, recs[1].changes[1].op);
    EXPECT_TRUE(recs[1].changes[1].values.empty());
    EXPECT_EQ(LdifChange::REPLACE, recs[1].changes[2].op);
    EXPECT_EQ("sn", recs[1].changes[2].attribute);

    EXPECT_EQ(LdifRecord::DELETE, recs[2].kind);
    EXPECT_EQ(LdifRecord::ADD, recs[3].kind);
    EXPECT_EQ((std::vector<std::string>{"Z"}), recs[3].values_of("sn"));
}

TEST(Ldif, MalformedInputStopsWithItsLineAndReason)
{
    struct Case {
        std::string text;
        size_t good; /* records read before the error */
        int line;
        const char* why;
    } cases[] = {
        {"objectClass: top\n", 0, 1, "starts with 'dn:'"},
        {"version: 2\ndn: cn=a\nsn: a\n", 0, 1, "version 2"},
        {"dn: cn=a\nsn: a\n\ndn: cn=b\nsn:: ###\n", 1, 5, "not valid base64"},
        {"dn: cn=a\nsn a\n", 0, 2, "expected 'name: value'"},
        {"dn: cn=a\nbad_name: a\n", 0, 2, "not an attribute name"},
        {"dn: cn=a\njpegPhoto:< file:///x.jpg\n", 0, 2, "URL"},
        {"dn: cn=a\nchangetype: rename\n", 0, 2, "unknown changetype"},
        {"dn: cn=a\nchangetype: modrdn\nnewrdn: cn=b\n", 0, 2, "not supported"},
        {"dn: cn=a\nchangetype: delete\nsn: a\n", 0, 3, "nothing after"},
        {"dn: cn=a\nchangetype: modify\nreplace: sn\nsn: a\n", 0, 3, "not ended by a line '-'"},
        {"dn: cn=a\nchangetype: modify\nreplace: sn\ncn: a\n-\n", 0, 4, "inside the replace: of sn"},
        {"dn: cn=a\nchangetype: modify\nincrement: n\n-\n", 0, 3, "expected 'add:'"},
        {"dn: cn=a\nchangetype: modify\nadd: sn\n-\n", 0, 3, "gives no value"},
        {"dn: cn=a\nsn: a\ndn: cn=b\n", 0, 3, "blank line missing"},
        {"dn: cn=a\n\n", 0, 1, "has no attributes"},
    };
    for (const Case& c : cases) {
        std::string error;
        int line = 0;
        auto recs = read_all(c.text, &error, &line);
        EXPECT_EQ(c.good, recs.size()) << c.text;
        EXPECT_EQ(c.line, line) << c.text;
        EXPECT_NE(std::string::npos, error.find(c.why)) << c.text << " -> " << error;
    }
}

TEST(Ldif, FdnsMapToDnsByReversingTheirRdnsAndBack)
{
    struct Case {
        const char* fdn;
        const char* dn;
        const char* back; /* the FDN the DN maps to */
    } cases[] = {
        {"/", "", "/"},
        {"/systemId=\"a\"/equipmentId=\"b\"", "equipmentId=b,systemId=a",
         "/systemId=\"a\"/equipmentId=\"b\""},
        {"/ systemId = leeds /slotNumber=1", "slotNumber=1,systemId=leeds",
         "/systemId=\"leeds\"/slotNumber=\"1\""},
        {"/systemId=\"a,b+c;d<e>f\"", "systemId=a\\,b\\+c\\;d\\<e\\>f",
         "/systemId=\"a,b+c;d<e>f\""},
        {"/systemId=\"q\\\"uote\\\\back\"", "systemId=q\\\"uote\\\\back",
         "/systemId=\"q\\\"uote\\\\back\""},
        {"/systemId=\" lead and trail \"", "systemId=\\ lead and trail\\ ",
         "/systemId=\" lead and trail \""},
        {"/systemId=\"#hash/slash=eq\"", "systemId=\\#hash/slash=eq", "/systemId=\"#hash/slash=eq\""},
        {"/systemId=\"Zürich\"", "systemId=Zürich", "/systemId=\"Zürich\""},
    };
    for (const Case& c : cases) {
        std::string dn, fdn, why;
        ASSERT_TRUE(ldif_fdn_to_dn(c.fdn, dn, why)) << c.fdn << ": " << why;
        EXPECT_EQ(c.dn, dn) << c.fdn;
        ASSERT_TRUE(ldif_dn_to_fdn(dn, fdn, why)) << dn << ": " << why;
        EXPECT_EQ(c.back, fdn) << dn;
    }
    /* Hex pairs and blanks after commas, as other tools write DNs. */
    std::string fdn, why;
    ASSERT_TRUE(ldif_dn_to_fdn("equipmentId=r\\2C1, systemId=Z\\C3\\BCrich", fdn, why)) << why;
    EXPECT_EQ("/systemId=\"Zürich\"/equipmentId=\"r,1\"", fdn);

    for (const char* bad : {"cn=a+sn=b,dc=org", "cn=\"quoted\"", "cn=#04024869", "cn", "cn=a\\",
                            "bad_attr=x"}) {
        EXPECT_FALSE(ldif_dn_to_fdn(bad, fdn, why)) << bad;
        EXPECT_FALSE(why.empty());
    }
    std::string dn;
    for (const char* bad : {"systemId=a", "/systemId=\"open", "/systemId=\"a\"x", "/noequals"})
        EXPECT_FALSE(ldif_fdn_to_dn(bad, dn, why)) << bad;
}

TEST(Ldif, RebasingMovesOnlyNamesBelowTheOldParent)
{
    struct Case {
        const char *dn, *from, *to;
        const char* out; /* null: refused */
    } cases[] = {
        {"shelfId=s,equipmentId=r,systemId=a", "systemId=a", "systemId=b",
         "shelfId=s,equipmentId=r,systemId=b"},
        {"equipmentId=r,systemId=a", "SYSTEMID=a", "equipmentId=x,systemId=b",
         "equipmentId=r,equipmentId=x,systemId=b"},
        {"systemId=a", "", "systemId=b", "systemId=a,systemId=b"},
        {"equipmentId=r,systemId=a", "systemId=A", "systemId=b", nullptr},
        {"systemId=a", "equipmentId=r,systemId=a", "systemId=b", nullptr},
        {"cn=a+uid=1,dc=org", "dc=org", "dc=com", "cn=a+uid=1,dc=com"},
    };
    for (const Case& c : cases) {
        std::string out;
        EXPECT_EQ(c.out != nullptr, ldif_rebase_dn(c.dn, c.from, c.to, out)) << c.dn;
        if (c.out) {
            EXPECT_EQ(c.out, out);
        }
    }
}

} // namespace
