/*
 * The connection and the platform's events, in process under X against a
 * real qx_mis: the error dialogs, the exit through OK, and the status line
 * that shows raw events only while raw-event display is on.
 */
#include "tests/ui/gui_fixture.h"

#include <Xm/MessageB.h>

#include "app/connection.h"
#include "tests/kvl/mis_fixture.h"
#include "ui/dialogs.h"

namespace {

std::string dialog_message(AppsDialogBox* box)
{
    return xmstring_resource(*box->getwidget(), XmNmessageString);
}

std::string dialog_title(AppsDialogBox* box)
{
    char* title = nullptr;
    XtVaGetValues(XtParent(*box->getwidget()), XtNtitle, &title, NULL);
    return title ? title : "";
}

void press_ok(AppsDialogBox* box)
{
    XmPushButtonCallbackStruct cbs = {};
    cbs.reason = XmCR_ACTIVATE;
    XtCallCallbacks(XmMessageBoxGetChild(*box->getwidget(), XmDIALOG_OK_BUTTON),
                    XmNactivateCallback, &cbs);
}

const char connecting[] = "Connecting to Platform...";

TEST(Connection, RefusedConnectionShowsTheErrorDialogWhoseOkExits0)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    REQUIRE_GUI();
    std::string host = "127.0.0.1:" + std::to_string(MisServer::free_port());
    platform_host = strdup(host.c_str());

    EXPECT_FALSE(platform_connect());
    EXPECT_EQ(status_text(), connecting);
    ErrDialogBox* box = current_error_cb_dialog;
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(dialog_message(box), "Can't connect to MIS!");
    EXPECT_EQ(dialog_title(box), "Tarnwick: Error");
    EXPECT_TRUE(XtIsManaged(*box->getwidget()));

    EXPECT_EXIT(press_ok(box), ::testing::ExitedWithCode(0), "");
    delete box;
}

TEST(Connection, RawEventsShowOnlyWhileOnAndALostServerIsReported)
{
    REQUIRE_GUI();
    if (!MisServer::available())
        GTEST_SKIP() << "no qx_mis";
    MisServer mis;
    ASSERT_TRUE(mis.start("--simulate 1")) << mis.failure();
    platform_host = strdup(mis.address().c_str());

    ASSERT_TRUE(platform_connect()) << platform.get_error_string();
    EXPECT_EQ(current_error_cb_dialog, nullptr);
    register_callbacks();

    /* While the first view loads, events are dropped. */
    setup_raw_events(false);
    pump_for(2.5);
    EXPECT_EQ(status_text(), connecting);

    setup_raw_events(true);
    EXPECT_TRUE(pump_until([] { return status_text() != connecting; }, 10))
        << "no raw event reached the status line";
    EXPECT_FALSE(status_text().empty());

    mis.kill_now();
    ASSERT_TRUE(pump_until([] { return current_error_cb_dialog != nullptr; }, 10));
    EXPECT_EQ(dialog_message(current_error_cb_dialog), "Platform has Disconnected!");
    delete current_error_cb_dialog;
}

} // namespace
