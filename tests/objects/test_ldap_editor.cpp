/*
 * test_ldap_editor.cpp - the editor's own commands against a real slapd, in
 * process under X: File > Import... creates the file's entries in the
 * directory, named by their DNs; the action window types setPassword's
 * parameter as stars and sends the password itself; a refused subtree
 * delete reports how many entries went and which one stopped it.
 */
#include "gui_fixture.h"

#include <Xm/TextF.h>
#include <sys/stat.h>

#include <fstream>
#include <string>

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
        std::string pw = ldap->folder() + "/admin.pw";
        std::ofstream(pw) << SlapdProcess::kManagerPassword;
        chmod(pw.c_str(), 0600);
        setenv("QX_PASSWORD_FILE", pw.c_str(), 1);
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
    static bool exists(const char* fdn)
    {
        Image image(DataUnit(fdn), DataUnit(), platform);
        return image.boot(10);
    }
};

TEST_F(LdapEditor, ImportCreatesTheFilesEntriesNamedByTheirDNs)
{
    std::string path = ldap->folder() + "/in.ldif";
    std::ofstream(path) << "dn: ou=imported,dc=example,dc=org\nobjectClass: organizationalUnit\n"
                           "ou: imported\n\n"
                           "dn: uid=zed,ou=imported,dc=example,dc=org\nobjectClass: inetOrgPerson\n"
                           "uid: zed\ncn: Zed\nsn: Zed\nmail: z@example.org\nmail: zed@example.org\n";
    DataObject::selected_list.clear();
    EXPECT_EQ(2, main_window->import_ldif(path)) << status_text();
    Image zed(DataUnit("/dc=example,dc=org/ou=imported/uid=zed"), DataUnit(), platform);
    ASSERT_TRUE(zed.boot(10)) << zed.get_error_string();
    EXPECT_STREQ("z@example.org\nzed@example.org", zed.get_str("mail").str());
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
