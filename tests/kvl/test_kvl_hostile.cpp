// KVL against a broken or hostile server (scripted_server.h): lines nested
// past any sane depth, event names of hundreds of kilobytes, a line that
// never ends, a server that stops reading.  Each case must end with the
// connection dropped and DISCONNECTED raised once, and the process alive.
// And the order of a tracked image's requests, which only a script sees.
#include <gtest/gtest.h>

#include "kvl/kvl.h"
#include "kvl/kvl_private.h"
#include "protocol/json_nesting.h"
#include "scripted_server.h"

#include <X11/Intrinsic.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

const char* const kLeeds = "/systemId=\"leeds-core-1\"";

struct Lost {
    int count = 0;
    std::string reason;
};

void lost_cb(void* client, void* call)
{
    Lost* lost = static_cast<Lost*>(client);
    CurrentEvent ev(call);
    lost->count++;
    lost->reason = ev.get_value().str();
}

std::string nested(const std::string& open, const std::string& close, int depth)
{
    std::string text;
    for (int i = 0; i < depth; i++) text += open;
    for (int i = 0; i < depth; i++) text += close;
    return text;
}

/* After the greeting: reads one request and sends `line` (a function of the
 * request's id). */
ScriptedServer::Script answer_with(std::function<std::string(long)> line)
{
    return [line](ScriptedServer::Peer& peer) {
        long id = ScriptedServer::Peer::id_of(peer.read_line());
        peer.write(line(id));
        peer.read_line(); /* until the client goes */
    };
}

struct Connected {
    Platform platform{DataUnit("QX"), DataUnit("")};
    Lost lost;
    explicit Connected(const ScriptedServer& server)
    {
        DataUnit address(server.address().c_str());
        EXPECT_TRUE(platform.connect(address, DataUnit("hostile-test"), 5))
            << platform.get_error_string();
        platform.when(DISCONNECTED, Callback(lost_cb, &lost));
    }
};

// Lines past the library's bounds drop the connection; an error message past its bound is
// cut and the connection stays.
TEST(KvlHostile, BrokenLinesDropTheConnection)
{
    const std::string deep = nested("[", "]", 100000);
    const std::string huge_name(270 * 1024, 'A');
    struct Case {
        const char* what;
        ScriptedServer::Script script;
        const char* reason; /* in the error, and in DISCONNECTED's when the connection drops */
        int error = KVL_ERR_DISCONNECTED;
    } cases[] = {
        {"a notification nested 100,000 deep", answer_with([&](long) {
             return "{\"jsonrpc\":\"2.0\",\"method\":\"event\",\"params\":" + deep + "}\n";
         }),
         "nested deeper"},
        {"an error reply nested 100,000 deep", answer_with([&](long id) {
             return "{\"jsonrpc\":\"2.0\",\"id\":" + std::to_string(id) +
                    ",\"error\":{\"code\":-32001,\"message\":\"no\",\"data\":" + deep + "}}\n";
         }),
         "nested deeper"},
        {"a raw event named by 270 KB", answer_with([&](long) {
             return "{\"jsonrpc\":\"2.0\",\"method\":\"rawEvent\",\"params\":{\"event\":\"" +
                    huge_name + "\",\"name\":\"/\"}}\n";
         }),
         "event name longer"},
        {"a line that never ends",
         [](ScriptedServer::Peer& peer) {
             peer.read_line();
             const std::string chunk(1 << 20, 'x');
             for (int mb = 0; mb < 200 && peer.write(chunk); mb++) {}
         },
         "line longer"},
        {"an error message of 300 KB", answer_with([](long id) {
             return "{\"jsonrpc\":\"2.0\",\"id\":" + std::to_string(id) +
                    ",\"error\":{\"code\":-32001,\"message\":\"" + std::string(300 * 1024, 'm') +
                    "\"}}\n";
         }),
         "mmm...", KVL_ERR_NO_OBJECT},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedServer server(c.script);
        Connected client(server);
        Image img(DataUnit(kLeeds), DataUnit(""), client.platform);
        EXPECT_FALSE(img.boot(20));
        EXPECT_EQ(c.error, img.get_error_type());
        std::string message = img.get_error_string();
        EXPECT_NE(std::string::npos, message.find(c.reason)) << message.substr(0, 200);
        EXPECT_LE(message.size(), kvl_max_message);
        bool dropped = c.error == KVL_ERR_DISCONNECTED;
        EXPECT_EQ(dropped, client.lost.count);
        if (dropped) {
            EXPECT_NE(std::string::npos, client.lost.reason.find(c.reason)) << client.lost.reason;
        }
        EXPECT_EQ(!dropped, client.platform.is_connected());
    }
}

/* A server that greets and then never reads again. */
void never_read(ScriptedServer::Peer& peer)
{
    while (!peer.stop) usleep(10000);
}

/* Queues requests of 1 MB that want no reply; false once one is refused. */
bool queue_megabytes(Platform& platform, int count)
{
    const std::string big(1 << 20, 'v');
    for (int i = 0; i < count; i++)
        if (!platform.impl_->send("validate", json{{"attribute", "userLabel"}, {"value", big}},
                                  nullptr, false))
            return false;
    return true;
}

void mark_cb(XtPointer client, XtIntervalId*)
{
    *static_cast<bool*>(client) = true;
}

struct StopsReading : ::testing::TestWithParam<bool> {};

// A server that stops reading: requests queue without blocking the caller,
// the wait goes on serving the loop (with Xt) and honours its time-out, and
// then the server counts as lost.
TEST_P(StopsReading, WaitsServeTheLoopAndTheServerIsLostAtTheTimeOut)
{
    bool with_xt = GetParam();
    XtAppContext app = nullptr;
    if (with_xt) {
        XtToolkitInitialize();
        app = XtCreateApplicationContext();
        set_app_context(app);
    }
    {
        ScriptedServer server(never_read, 64 * 1024);
        Connected client(server);
        /* More than the sockets hold, less than the library's bound. */
        ASSERT_TRUE(queue_megabytes(client.platform, 6));
        bool timer_ran = false;
        if (app) XtAppAddTimeOut(app, 50, mark_cb, &timer_ran);
        Image img(DataUnit(kLeeds), DataUnit(""), client.platform);
        EXPECT_FALSE(img.boot(1.0));
        EXPECT_EQ(KVL_ERR_DISCONNECTED, img.get_error_type()) << img.get_error_string();
        EXPECT_NE(std::string::npos, std::string(img.get_error_string()).find("took none"))
            << img.get_error_string();
        EXPECT_EQ(with_xt, timer_ran);
        if (app) { /* DISCONNECTED runs from the loop */
            XtAppAddTimeOut(app, 50, mark_cb, &timer_ran);
            timer_ran = false;
            while (!timer_ran) XtAppProcessEvent(app, XtIMAll);
        } else {
            kvl_poll(0);
        }
        EXPECT_EQ(1, client.lost.count);
        EXPECT_FALSE(client.platform.is_connected());
    }
    if (app) {
        set_app_context(nullptr);
        XtDestroyApplicationContext(app);
    }
}

INSTANTIATE_TEST_SUITE_P(KvlHostile, StopsReading, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& p) {
                             return p.param ? std::string("Xt") : std::string("Polling");
                         });

TEST(KvlHostile, OutputPastTheBoundDropsTheConnection)
{
    ScriptedServer server(never_read, 64 * 1024);
    Connected client(server);
    EXPECT_FALSE(queue_megabytes(client.platform, 2 * static_cast<int>(kvl_max_unsent >> 20)));
    kvl_poll(0);
    EXPECT_EQ(1, client.lost.count);
    EXPECT_NE(std::string::npos, client.lost.reason.find("unread")) << client.lost.reason;
}

TEST(KvlHostile, NestingScan)
{
    struct {
        const char* text;
        int limit;
        bool deeper;
    } cases[] = {
        {"{\"a\":[1,{\"b\":[]}]}", 4, false},
        {"{\"a\":[1,{\"b\":[]}]}", 3, true},
        {"{\"a\":\"[[[[[[\"}", 1, false},   /* brackets in strings do not count */
        {"{\"a\":\"\\\"[[[[\"}", 1, false}, /* nor after an escaped quote */
        {"[][][][][]", 1, false},
    };
    for (auto& c : cases)
        EXPECT_EQ(c.deeper, protocol::nested_deeper(c.text, strlen(c.text), c.limit)) << c.text;
}

// A tracked image asks to be watched before it reads the object, so that a change made right
// after the read is never missed.
TEST(KvlScripted, TrackedImageIsWatchedBeforeItIsRead)
{
    std::vector<std::string> methods;
    {
        ScriptedServer server([&](ScriptedServer::Peer& peer) {
            for (std::string line = peer.read_line(); !line.empty(); line = peer.read_line()) {
                nlohmann::json j = nlohmann::json::parse(line, nullptr, false);
                methods.push_back(j.value("method", ""));
                if (methods.back() != "get") continue;
                nlohmann::json object = {
                    {"name", kLeeds}, {"class", "managedElement"}, {"attributes", nlohmann::json::array()}};
                peer.write(nlohmann::json{{"jsonrpc", "2.0"}, {"id", j["id"]}, {"result", object}}.dump() +
                           "\n");
            }
        });
        Connected c(server);
        Image image(DataUnit(kLeeds), DataUnit(), c.platform);
        ASSERT_TRUE(image.set_prop(TRACKMODE, TRACK));
        ASSERT_TRUE(image.boot(10)) << image.get_error_string();
    } // the client goes, and the script ends with it
    ASSERT_GE(methods.size(), 2u);
    EXPECT_EQ("watch", methods[0]);
    EXPECT_EQ("get", methods[1]);
}

// An image made but not booted reads its object once, at its first use: when that read fails,
// the later reads of its values answer from what it has instead of asking the server again.
TEST(KvlScripted, UnbootedImageFetchesOnce)
{
    int gets = 0;
    {
        ScriptedServer server([&](ScriptedServer::Peer& peer) {
            for (std::string line = peer.read_line(); !line.empty(); line = peer.read_line()) {
                nlohmann::json j = nlohmann::json::parse(line, nullptr, false);
                if (j.value("method", "") != "get") continue;
                gets++;
                nlohmann::json error = {{"code", -32001}, {"message", "no such object"}};
                peer.write(
                    nlohmann::json{{"jsonrpc", "2.0"}, {"id", j["id"]}, {"error", error}}.dump() +
                    "\n");
            }
        });
        Connected c(server);
        Image image(DataUnit(kLeeds), DataUnit(), c.platform);
        EXPECT_TRUE(image.get_str(DataUnit("userLabel")).is_null());
        EXPECT_EQ(0, image.get_attr_names(0).count());
        EXPECT_FALSE(image.set_str(DataUnit("userLabel"), DataUnit("x"), REPLACE));
        EXPECT_FALSE(image.exists());
    }
    EXPECT_EQ(1, gets);
}

} // namespace
