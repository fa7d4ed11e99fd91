/*
 * The editor logging in to a real qx_mis started with users, in process
 * under X, as a reader with a password file.
 */
#include "editor_session.h"

#include <fstream>
#include <sys/stat.h>

#include "app/connection.h"
#include "app/startup.h"
#include "core/role.h"
#include "ui/config_win.h"

using namespace qxtest;

namespace {

const char kLeeds[] = "/systemId=\"leeds-core-1\"";

TEST(Login, ReaderThroughAPasswordFile)
{
    REQUIRE_GUI();
    if (!MisProcess::available()) GTEST_SKIP() << "no qx_mis";
    TempDir dir;
    const std::string users = dir.path + "/users", secret = dir.path + "/password";
    std::string out;
    ASSERT_EQ(0, MisProcess::add_user(users, "bob", "reader", "bob-pass", out)) << out;
    MisProcess mis;
    ASSERT_TRUE(mis.start({"--users", users})) << mis.failure();
    std::ofstream(secret) << "bob-pass\n";
    chmod(secret.c_str(), 0600);
    setenv("QX_PASSWORD_FILE", secret.c_str(), 1);
    free(platform_host);
    platform_host = strdup(("bob@" + mis.address()).c_str());

    ASSERT_TRUE(platform_connect()) << platform.get_error_string();
    load_first_view();
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(status_text(), "Connected to " + mis.address() + " as bob (reader)");
    EXPECT_FALSE(XtIsSensitive(main_window->mw_create_from_button));

    /* A selected object: Deselect and Get as ever, Delete and Action not. */
    DataObject* leeds = registered(kLeeds, "/");
    select_only({leeds});
    main_window->update_edit_menu();
    set_path_and_actions();
    EXPECT_TRUE(XtIsSensitive(main_window->mw_deselect_button));
    EXPECT_FALSE(XtIsSensitive(main_window->mw_delete_button));
    EXPECT_FALSE(XtIsSensitive(main_window->mw_action));

    /* An edit in the configuration window leaves Set off... */
    ConfigWin* oc = object_configuration;
    oc->get_object(leeds, main_window->mw_get_button);
    type("userLabel", "by bob");
    EXPECT_FALSE(XtIsSensitive(oc->oc_set_button));
    /* ...and a Set that reaches the server all the same is refused, with
     * its message in the usual error dialog. */
    std::string error = answered([oc] { oc->set_attributes_cb(oc->oc_set_button, oc); });
    EXPECT_TRUE(contains(error, "user bob (reader) may not set")) << error;
    EXPECT_FALSE(contains(mis.log(), "bob-pass"));

    XtUnmanageChild(oc->oc_dialog);
    platform.disconnect();
    DataObject::selected_list.clear();
    DataObject::object_list.clear_and_destroy();
    root = nullptr;
    set_connection_role("");
    unsetenv("QX_PASSWORD_FILE");
}

} // namespace
