/*
 * test_hostile_editor.cpp - the editor, in process under X, against a
 * scripted server that sends what X cannot show: a raw event whose name
 * would not fit in one X request ends in the lost-connection dialog, and a
 * long error text reaches the status line cut.
 */
#include <gtest/gtest.h>

#include "app/connection.h"
#include "core/globals.h"
#include "gui_fixture.h"
#include "scripted_server.h"
#include "tree/data_object.h"
#include "ui/dialogs.h"

namespace {

TEST(HostileServer, LongTextsAreCutAndAHugeEventNameEndsTheConnection)
{
    REQUIRE_GUI();
    const std::string huge_event = "{\"jsonrpc\":\"2.0\",\"method\":\"rawEvent\",\"params\":"
                                   "{\"event\":\"" +
                                   std::string(270 * 1024, 'E') + "\",\"name\":\"/\"}}\n";
    /* After the greeting, the derivation fails with a message of 300 KB (the
     * status line gets a few hundred characters of it); then the event comes,
     * and the server waits for the client to go. */
    ScriptedServer server([huge_event](ScriptedServer::Peer& peer) {
        long id = ScriptedServer::Peer::id_of(peer.read_line());
        peer.write("{\"jsonrpc\":\"2.0\",\"id\":" + std::to_string(id) +
                   ",\"error\":{\"code\":-32001,\"message\":\"" + std::string(300 * 1024, 'm') +
                   "\"}}\n");
        peer.write(huge_event);
        peer.read_line();
    });
    free(platform_host); /* gui_up's copy of the test host */
    platform_host = strdup(server.address().c_str());
    ASSERT_TRUE(platform_connect()) << platform.get_error_string();
    register_callbacks();
    setup_raw_events(true);

    auto* obj = new DataObject("/systemId=\"x\"");
    obj->parent_name = intern_name("/");
    DataObject::object_list.insert(obj);
    EXPECT_EQ(0, obj->derive(0, nullptr));
    std::string status = status_text();
    EXPECT_LE(status.size(), MAX_LABEL_TEXT);
    EXPECT_EQ("...", status.substr(status.size() - 3));
    EXPECT_EQ(0u, status.find("mmm"));

    /* Then the event no label could show: the connection is dropped, the
     * lost-connection dialog comes up, and the editor runs on. */
    ASSERT_TRUE(pump_until([] { return current_error_cb_dialog != nullptr; }, 20));
    EXPECT_EQ("Platform has Disconnected!", dialog_message(current_error_cb_dialog));
    EXPECT_FALSE(platform.is_connected());
    EXPECT_EQ(status, status_text());
    pump_settled();
    delete current_error_cb_dialog;
    DataObject::object_list.clear_and_destroy();
}

} // namespace
