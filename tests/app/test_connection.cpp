/*
 * The connection and the platform's events, in process under X against a
 * real qx_mis.
 */
#include "tests/ui/gui_fixture.h"

#include "app/connection.h"
#include "app/startup.h"
#include "meta/meta_api.h"
#include "mis_process.h"
#include "tree/tree_api.h"
#include "ui/dialogs.h"

using qxtest::MisProcess;

namespace {

static const char connecting[] = "Connecting to Platform...";

int raw_events = 0; /* the events that reached the editor */
void count_event(void* client, void* event)
{
    raw_events++;
    process_event_cb(client, event);
}

TEST(Connection, FirstViewRawEventsAndALostServer)
{
    REQUIRE_GUI();
    if (!MisProcess::available()) GTEST_SKIP() << "no qx_mis";
    MisProcess mis;
    ASSERT_TRUE(mis.start({"--simulate", "1"})) << mis.failure();
    free(platform_host); /* gui_up's copy of the test host */
    platform_host = strdup(mis.address().c_str());

    ASSERT_TRUE(platform_connect()) << platform.get_error_string();
    EXPECT_EQ(current_error_cb_dialog, nullptr);
    EXPECT_EQ(status_text(), connecting);
    load_first_view();
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(std::string(ClassInfo::mdr.get_objname().str()),
              "/systemId=\"" + mis.address() + "\"/metaName=\"MDR\"");

    /* While a view loads, events are dropped. */
    setup_raw_events(false);
    platform.when(RAW_EVENT, Callback(count_event));
    global.update_label(main_window->mw_message_label, connecting);
    EXPECT_TRUE(pump_until([] { return raw_events >= 2; }, 10)) << "no raw event came";
    EXPECT_EQ(status_text(), connecting);

    setup_raw_events(true);
    EXPECT_TRUE(pump_until([] { return status_text() != connecting; }, 10))
        << "no raw event reached the status line";
    EXPECT_FALSE(status_text().empty());

    testing::internal::CaptureStdout();
    mis.kill_now();
    ASSERT_TRUE(pump_until([] { return current_error_cb_dialog != nullptr; }, 10));
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(dialog_message(current_error_cb_dialog), "Platform has Disconnected!");
    /* The host:port, then the reason: "closed by the server" or the socket's error. */
    std::string lost = "Platform has Disconnected! " + mis.address() + ": ";
    EXPECT_EQ(status_text().find(lost), 0u) << status_text();
    EXPECT_GT(status_text().size(), lost.size()) << "no reason given";
    EXPECT_TRUE(qxtest::contains(out, status_text())) << out;
    delete current_error_cb_dialog;
    DataObject::selected_list.clear();
    DataObject::object_list.clear_and_destroy();
    root = nullptr;
}

} // namespace
