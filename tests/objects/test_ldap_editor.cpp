/*
 * test_ldap_editor.cpp - the editor's own commands against a real slapd, in
 * process under X: LDIF import and export, and setPassword's parameter.
 */
#include "editor_session.h"

#include <Xm/TextF.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "../kvl/held_values.h"
#include "../kvl/passwords.h"
#include "slapd_process.h"
#include "tree/data_object.h"
#include "tree/selection.h"
#include "ui/action_win.h"

using qxtest::SlapdProcess;

namespace {

struct LdapEditor : ::testing::Test {
    static inline SlapdProcess* ldap = nullptr;

    static void SetUpTestSuite()
    {
        if (!gui_up()) return;
        ldap = new SlapdProcess;
        ASSERT_TRUE(ldap->start(SlapdProcess::sample_ldif(),
                                "access to dn.exact=\"cn=leeds,ou=hosts,dc=example,dc=org\" by * read\n"
                                "access to * by * write\n"))
            << ldap->failure();
        password_file(ldap->folder() + "/admin.pw", SlapdProcess::kManagerPassword);
        setenv("HOME", ldap->folder().c_str(), 1);
        std::string url = ldap->url() + "/????bindname=cn%3Dadmin%2Cdc%3Dexample%2Cdc%3Dorg";
        ASSERT_TRUE(platform.connect(DataUnit(url.c_str()), DataUnit("qx_tarn"), 10))
            << platform.get_error_string();
        Platform::def_platform = platform;
    }
    static void TearDownTestSuite()
    {
        if (ldap) platform.disconnect();
        DataObject::selected_list.clear();
        delete ldap;
        ldap = nullptr;
    }
    void SetUp() override
    {
        if (!gui_up()) GTEST_SKIP() << "no X display";
        ASSERT_TRUE(platform.is_connected());
    }
};

TEST_F(LdapEditor, ImportCreatesTheFilesEntriesNamedByTheirDNs)
{
    std::string path = ldap->folder() + "/in.ldif";
    std::ofstream(path)
        << "dn: ou=imported,dc=example,dc=org\nobjectClass: organizationalUnit\n"
           "ou: imported\n\n"
           "dn: uid=zed,ou=imported,dc=example,dc=org\nobjectClass: inetOrgPerson\n"
           "uid: zed\ncn: Zed\nsn: Zed\nmail: z@example.org\nmail: zed@example.org\n"
           "jpegPhoto:: AAEK\n\n"
           // A photo added and the first taken away: its bytes replaced whole.
           // Attributes zed has no values of yet, text and bytes, given some.
           "dn: uid=zed,ou=imported,dc=example,dc=org\nchangetype: modify\n"
           "add: jpegPhoto\njpegPhoto:: CgAB\n-\n"
           "delete: jpegPhoto\njpegPhoto:: AAEK\n-\n"
           "add: telephoneNumber\ntelephoneNumber: +44 1\n-\n"
           "replace: audio\naudio:: AAo=\n-\n";
    DataObject::selected_list.clear();
    EXPECT_EQ(3, main_window->import_ldif(path)) << status_text();
    Image zed(DataUnit("/dc=example,dc=org/ou=imported/uid=zed"), DataUnit(), platform);
    ASSERT_TRUE(zed.boot(10)) << zed.get_error_string();
    EXPECT_STREQ("z@example.org\nzed@example.org", zed.get_str("mail").str());
    DUArray photos;
    ASSERT_TRUE(zed.get_bytes("jpegPhoto", photos));
    ASSERT_EQ(1, photos.count());
    EXPECT_EQ(std::string("\n\0\1", 3), std::string(photos[0].str(), photos[0].length()));
    EXPECT_STREQ("+44 1", zed.get_str("telephoneNumber").str());
    ASSERT_TRUE(zed.get_bytes("audio", photos));
    ASSERT_EQ(1, photos.count());
    EXPECT_EQ(std::string("\0\n", 2), std::string(photos[0].str(), photos[0].length()));
}

// Each entry below base with what its image holds (in name order: a directory keeps
// no order of attributes), by its name relative to base.
std::map<std::string, std::vector<std::string>> subtree(const std::string& base)
{
    Search all(platform);
    all.values = true;
    EXPECT_TRUE(all.run(DataUnit(base.c_str()), DataUnit(), -1, 1000, 10))
        << all.get_error_string();
    std::map<std::string, std::vector<std::string>> out;
    for (Image& image : all.images) {
        std::vector<std::string> held = held_values(image);
        std::sort(held.begin() + 1, held.end());
        out[std::string(image.get_objname().str()).substr(base.size())] = held;
    }
    return out;
}

TEST_F(LdapEditor, ExportThenImportBeneathAnotherParentGivesTheSameSubtree)
{
    // Beside the sample's escaped, UTF-8 and multi-valued names and values: two photos, one with
    // a newline and a NUL among its bytes, a value starting with a space, an auxiliary class; and
    // an entry moved beneath a later one, which the directory sends before its new parent.
    std::string photo;
    ASSERT_TRUE(kvl_unbase64("/9j/4AAQSkZJRgABAQAAAQABAAD/2wBDAAgGBgcGBQgHBwcJCQgKDA==", photo));
    ASSERT_TRUE(ldap->change(
        "ldapadd", "dn: uid=pix,ou=people,dc=example,dc=org\nobjectClass: inetOrgPerson\n"
                   "objectClass: domainRelatedObject\nassociatedDomain: pix.example.org\n"
                   "uid: pix\ncn:: " +
                       kvl_base64(" Pix") + "\nsn: Pix\nuserPassword: pix-secret\njpegPhoto:: " +
                       kvl_base64(photo + std::string("\n\0\n", 3)) +
                       "\njpegPhoto:: " + kvl_base64(photo) +
                       "\n\ndn: ou=copy,dc=example,dc=org\n"
                       "objectClass: organizationalUnit\nou: copy\n\n"
                       "dn: ou=late,ou=people,dc=example,dc=org\n"
                       "objectClass: organizationalUnit\nou: late\n"));
    ASSERT_TRUE(ldap->change("ldapmodrdn", "",
                             {"-s", "ou=late,ou=people,dc=example,dc=org",
                              "uid=pix,ou=people,dc=example,dc=org", "uid=pix"}));
    const std::string people = "/dc=example,dc=org/ou=people", copy = "/dc=example,dc=org/ou=copy";
    DataObject from(people.c_str()), to(copy.c_str());
    std::string path = ldap->folder() + "/people.ldif";
    qxtest::select_only({&from});
    long written = 0;
    EXPECT_EQ("", qxtest::answered([&] { written = main_window->export_ldif(path); })); /* waits */
    EXPECT_EQ(7, written) << status_text();
    qxtest::select_only({&to});
    EXPECT_EQ("", qxtest::answered([&] {
                  EXPECT_EQ(written, main_window->import_ldif(path)) << status_text(); /* waits */
              }));
    DataObject::selected_list.clear();

    struct stat st;
    ASSERT_EQ(0, stat(path.c_str(), &st));
    EXPECT_EQ(0600u, st.st_mode & 0777); // it holds passwords

    auto before = subtree(people), after = subtree(copy + "/ou=people");
    EXPECT_EQ(6u, before.size()); // below ou=people
    EXPECT_EQ(before, after);
    auto pix = after.find("/ou=late/uid=pix");
    ASSERT_NE(after.end(), pix);
    EXPECT_NE(pix->second.end(), std::find(pix->second.begin(), pix->second.end(),
                                           "jpegPhoto (rw) = (43 bytes)\n(40 bytes) " +
                                               kvl_base64(photo + std::string("\n\0\n", 3)) + " " +
                                               kvl_base64(photo)));
    // The copy's password came too: its user logs in with it.
    password_file(ldap->folder() + "/pix.pw", "pix-secret");
    Platform as_pix{DataUnit("QX"), DataUnit("")};
    EXPECT_TRUE(as_pix.connect(
        DataUnit((ldap->url() + "/????bindname=uid%3Dpix%2Cou%3Dlate%2Cou%3Dpeople%2Cou%3Dcopy%2C"
                                "dc%3Dexample%2Cdc%3Dorg")
                     .c_str()),
        DataUnit("test"), 10))
        << as_pix.get_error_string();
    as_pix.disconnect();
    setenv("QX_PASSWORD_FILE", (ldap->folder() + "/admin.pw").c_str(), 1);
}

TEST_F(LdapEditor, SetPasswordsParameterIsTypedAsStars)
{
    ActionWin* aw = action_window;
    XmTextFieldSetString(aw->aw_action, (char*)"setPassword");
    XmTextFieldSetString(aw->aw_parameter, (char*)"n\xc3\xbc-pw");
    XmTextFieldInsert(aw->aw_parameter, 4, (char*)"2");
    char* shown = XmTextFieldGetString(aw->aw_parameter);
    EXPECT_STREQ("******", shown);
    XtFree(shown);
    EXPECT_EQ("n\xc3\xbc-p2w", aw->parameter_text());
    // Another action: the field is emptied and shows what is typed.
    XmTextFieldSetString(aw->aw_action, (char*)"whoAmI");
    EXPECT_EQ("", aw->parameter_text());
    XmTextFieldSetString(aw->aw_parameter, (char*)"plain");
    EXPECT_EQ("plain", aw->parameter_text());
    XmTextFieldSetString(aw->aw_parameter, (char*)"");
}

} // namespace
