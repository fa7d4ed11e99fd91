// KVL waits on the Xt event loop (after set_app_context), against a real
// qx_mis.  Run under Xvfb: the application context also has a display open,
// as the editor's has.  Each test starts its own server, as some kill it.
#include <gtest/gtest.h>

#include "kvl/kvl.h"
#include "mis_process.h"

#include <X11/Intrinsic.h>

#include <cstring>
#include <string>

using qxtest::MisProcess;

namespace {

const char* const kLeeds = "/systemId=\"leeds-core-1\"";

struct Flags {
    MisProcess* mis = nullptr;
    bool timer_ran = false;
    int disconnected = 0;
    std::string disconnected_name;
    std::string disconnected_host;
    bool inner_ok = true;
    int inner_type = 0;
};

void kill_timer_cb(XtPointer client, XtIntervalId*)
{
    Flags* f = static_cast<Flags*>(client);
    f->timer_ran = true;
    f->mis->kill_now();
}

// Starts a second wait while the first is still pending.
void nested_boot_cb(XtPointer client, XtIntervalId*)
{
    Flags* f = static_cast<Flags*>(client);
    Image img(DataUnit(kLeeds), DataUnit(""), Platform::def_platform);
    f->inner_ok = img.boot(10);
    f->inner_type = img.get_error_type();
}

void disconnected_cb(void* client, void* call)
{
    Flags* f = static_cast<Flags*>(client);
    CurrentEvent ev(call);
    f->disconnected++;
    f->disconnected_name = ev.get_name().str();
    f->disconnected_host = ev.get_objname().str();
}

} // namespace

class KvlXt : public ::testing::Test {
protected:
    void SetUp() override
    {
        XtToolkitInitialize();
        app = XtCreateApplicationContext();
        int argc = 0;
        display =
            XtOpenDisplay(app, nullptr, "kvl_xt_test", "KvlXtTest", nullptr, 0, &argc, nullptr);
        set_app_context(app);
        flags.mis = &mis;
        ASSERT_TRUE(MisProcess::available()) << "no qx_mis at " << MisProcess::binary();
        ASSERT_TRUE(mis.start()) << mis.failure();
        platform = Platform(DataUnit("QX"), DataUnit(""));
        ASSERT_TRUE(platform.connect(DataUnit(mis.address().c_str()), DataUnit("kvl-xt-test"), 10))
            << platform.get_error_string();
    }
    void TearDown() override
    {
        // A loss leaves a zero-delay timer that dispatches its notice; it runs
        // before the context goes, or its closure is never freed.
        while (XtAppPending(app) & XtIMTimer) XtAppProcessEvent(app, XtIMTimer);
        mis.resume();
        platform.disconnect();
        set_app_context(nullptr);
        if (display) XtCloseDisplay(display);
        XtDestroyApplicationContext(app);
        mis.stop();
    }

    XtAppContext app = nullptr;
    Display* display = nullptr;
    MisProcess mis;
    Platform platform;
    Flags flags;
};

TEST_F(KvlXt, KillingTheServerFailsPendingWaitsAndRaisesDisconnectedOnce)
{
    Platform::def_platform.when(DISCONNECTED, Callback(disconnected_cb, &flags));
    Album album(DataUnit("a"), Platform::def_platform);
    ASSERT_TRUE(album.set_derivation(DataUnit("/systemId=\"leeds-core-1\"/*")));

    mis.pause(); // nothing will be answered
    XtAppAddTimeOut(app, 50, nested_boot_cb, &flags);
    XtAppAddTimeOut(app, 200, kill_timer_cb, &flags);
    EXPECT_FALSE(album.derive(20));

    EXPECT_TRUE(flags.timer_ran);
    EXPECT_EQ(KVL_ERR_DISCONNECTED, album.get_error_type()); // the loss, not the time-out
    std::string lost = "connection to " + mis.address() + " lost";
    EXPECT_STREQ(lost.c_str(), album.get_error_string());
    EXPECT_FALSE(flags.inner_ok); // the nested wait failed too
    EXPECT_EQ(KVL_ERR_DISCONNECTED, flags.inner_type);
    EXPECT_EQ(1, flags.disconnected);
    EXPECT_EQ("DISCONNECTED", flags.disconnected_name);
    EXPECT_EQ(mis.address(), flags.disconnected_host);
    EXPECT_FALSE(Platform::def_platform.is_connected());
}

namespace {
struct Repoint {
    Image* image;
    MisProcess* mis;
};
void repoint_cb(XtPointer client, XtIntervalId*)
{
    Repoint* r = static_cast<Repoint*>(client);
    *r->image = Image(DataUnit("/"), DataUnit(""), Platform::def_platform);
    r->mis->resume();
}
} // namespace

// A callback that points the waiting image's handle at another object (as
// the editor does with its configuration image) once left the wait working
// on a freed record.
TEST_F(KvlXt, ImageRepointedDuringItsOwnBootFinishesSafely)
{
    Image shown(DataUnit(kLeeds), DataUnit(""), Platform::def_platform);
    Repoint r = {&shown, &mis};
    mis.pause();
    XtAppAddTimeOut(app, 50, repoint_cb, &r);
    EXPECT_TRUE(shown.boot(10)) << shown.get_error_string();
    EXPECT_STREQ("/", shown.get_objname().str());
    EXPECT_STREQ("root", shown.get_objclass().str());
}
