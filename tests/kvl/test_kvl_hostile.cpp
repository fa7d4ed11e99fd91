// KVL against a broken or hostile server (scripted_server.h): lines nested
// past any sane depth, event names of hundreds of kilobytes, a line that
// never ends, a server that stops reading.  Each case must end with the
// connection dropped and DISCONNECTED raised once, and the process alive.
// And the requests of images and syntaxes, in an order only a script sees.
#include <gtest/gtest.h>

#include "kvl/album_pages.h"
#include "kvl/image_batch.h"
#include "kvl/kvl.h"
#include "kvl/kvl_private.h"
#include "protocol/json_nesting.h"
#include "scripted_server.h"

#include <X11/Intrinsic.h>

#include <algorithm>
#include <cstring>
#include <functional>
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
    const std::string deep = std::string(100000, '[') + std::string(100000, ']');
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

/* A server that records the method of every request and answers each with answer(method,
 * how many of that method came before), an error when it returns one with "code". */
ScriptedServer::Script recording(std::vector<std::string>& methods,
                                 std::function<nlohmann::json(const std::string&, int)> answer)
{
    return [&methods, answer](ScriptedServer::Peer& peer) {
        for (std::string line = peer.read_line(); !line.empty(); line = peer.read_line()) {
            nlohmann::json j = nlohmann::json::parse(line, nullptr, false);
            std::string method = j.value("method", "");
            int before = (int)std::count(methods.begin(), methods.end(), method);
            methods.push_back(method);
            if (!j.contains("id")) continue;
            nlohmann::json a = answer(method, before),
                           reply = {{"jsonrpc", "2.0"}, {"id", j["id"]}};
            reply[a.contains("code") ? "error" : "result"] = a;
            peer.write(reply.dump() + "\n");
        }
    };
}

/* Boots image as Image::boot() does, or in a batch of its own. */
bool boot(Image& image, bool batched)
{
    std::vector<Image> batch{image};
    return batched ? boot_images(batch, 10) == 1 : image.boot(10);
}

// The requests of an image and of a syntax, in the order a script sees them: a tracked image
// is watched before it is read, so that a change made right after the read is never missed; an
// image made but not booted reads its object once, at its first use, and a syntax its
// description once; an image whose object went is no longer there; a derivation its page
// callback stops is cancelled. Booting in a batch asks as booting alone does.
TEST(KvlScripted, RequestsOfImagesAndSyntaxes)
{
    const nlohmann::json object = {
        {"name", kLeeds}, {"class", "managedElement"}, {"attributes", nlohmann::json::array()}};
    const nlohmann::json refused = {{"code", -32001}, {"message", "no such object"}};
    const nlohmann::json syntax = {{"name", "UserLabel"},
                                   {"description", "text"},
                                   {"rule", "text of 0..128 bytes"},
                                   {"expansion", {"UserLabel ::= GraphicString"}}};
    const nlohmann::json first_page = {
        {"base", kLeeds},
        {"count", 1},
        {"objects", {{{"name", std::string(kLeeds) + "/logId=\"a\""}, {"class", "log"}}}},
        {"done", false},
        {"of", 3},
        {"page", 1},
        {"sent", 1}};
    struct {
        const char* what;
        bool boots; /* booted alone and in a batch */
        std::function<nlohmann::json(const std::string&, int)> answer;
        std::function<void(Platform&, bool batched)> uses;
        std::vector<std::string> methods;
    } rows[] = {
        {"a tracked image booted",
         true,
         [&](const std::string&, int) { return object; },
         [](Platform& p, bool batched) {
             Image image(DataUnit(kLeeds), DataUnit(), p);
             ASSERT_TRUE(image.set_prop(TRACKMODE, TRACK));
             EXPECT_TRUE(boot(image, batched)) << image.get_error_string();
         },
         {"watch", "get"}},
        {"an image read but not booted",
         false,
         [&](const std::string&, int) { return refused; },
         [](Platform& p, bool) {
             Image image(DataUnit(kLeeds), DataUnit(), p);
             EXPECT_TRUE(image.get_str(DataUnit("userLabel")).is_null());
             EXPECT_EQ(0, image.get_attr_names(0).count());
             EXPECT_FALSE(image.set_str(DataUnit("userLabel"), DataUnit("x"), REPLACE));
             EXPECT_FALSE(image.exists());
         },
         {"get"}},
        {"an image booted again once its object went",
         true,
         [&](const std::string&, int before) { return before ? refused : object; },
         [](Platform& p, bool batched) {
             Image image(DataUnit(kLeeds), DataUnit(), p);
             ASSERT_TRUE(boot(image, batched)) << image.get_error_string();
             EXPECT_TRUE(image.exists());
             EXPECT_FALSE(boot(image, batched));
             EXPECT_FALSE(image.exists());
         },
         {"get", "get"}},
        {"a syntax",
         false,
         [&](const std::string&, int) { return syntax; },
         [](Platform& p, bool) {
             Syntax s(DataUnit("userLabel"), p);
             EXPECT_EQ(2, s.count());
             EXPECT_STREQ("UserLabel: text", s.get(0).str());
             EXPECT_STREQ("text of 0..128 bytes", s.get(1).str());
             EXPECT_STREQ("UserLabel ::= GraphicString", s.expansion().get(1).str());
         },
         {"syntax"}},
        {"a derivation its page callback stops at the first of three pages",
         false,
         [&](const std::string& method, int) { return method == "derive" ? first_page : object; },
         [](Platform& p, bool) {
             Album album(DataUnit("leeds"), p);
             ASSERT_TRUE(album.set_derivation(DataUnit((std::string(kLeeds) + "/*").c_str())));
             set_page_callback(
                 album, [](void*, const AlbumPage&) { return false; }, nullptr);
             EXPECT_FALSE(album.derive(10));
             EXPECT_EQ(KVL_ERR_STOPPED, album.get_error_type());
             /* A request after it: its answer means the script has read the cancel. */
             EXPECT_TRUE(Image(DataUnit(kLeeds), DataUnit(), p).boot(10));
         },
         {"derive", "cancel", "get"}},
    };
    for (auto& row : rows)
        for (bool batched : {false, true}) {
            if (batched && !row.boots) continue;
            SCOPED_TRACE(std::string(row.what) + (batched ? " in a batch" : ""));
            std::vector<std::string> methods;
            {
                ScriptedServer server(recording(methods, row.answer));
                Connected c(server);
                row.uses(c.platform, batched);
            } // the client goes, and the script ends with it
            /* The unwatch of an image that goes with the client may not be sent before it. */
            while (!methods.empty() && methods.back() == "unwatch") methods.pop_back();
            EXPECT_EQ(row.methods, methods);
        }
}

} // namespace
