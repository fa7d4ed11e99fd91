// KVL against a real qx_mis, without an application context (the waits poll).
// One server serves the whole suite; tests that change the network use names
// of their own.  The sample network holds /systemId="leeds-core-1" with the
// children equipmentId="rack-1", "rack-2" and logId="alarmLog".
#include <gtest/gtest.h>

#include "kvl/kvl.h"
#include "mis_process.h"

#include <arpa/inet.h>
#include <cstring>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

using qxtest::MisProcess;

namespace {

const char* const kLeeds = "/systemId=\"leeds-core-1\"";
const char* const kRack1 = "/systemId=\"leeds-core-1\"/equipmentId=\"rack-1\"";

// A TCP socket on the loopback address: listening on a free port when port is 0, else
// connected to that port; -1 when either fails.
int loopback_socket(int port)
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    struct sockaddr_in a;
    std::memset(&a, 0, sizeof a);
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = port ? connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0
                   : bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && listen(fd, 4) == 0;
    if (!ok) close(fd);
    return ok ? fd : -1;
}

int port_of(int fd)
{
    struct sockaddr_in a;
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    return ntohs(a.sin_port);
}

bool contains(const char* text, const char* part)
{
    return text && std::strstr(text, part) != nullptr;
}

std::vector<std::string> names_of(const Album& album)
{
    std::vector<std::string> names;
    for (AlbumImage ai = album.first_image(); ai; ai.next_image())
        names.push_back(ai.image().get_objname().str());
    return names;
}

// What a fresh image reads on the server now.
std::string server_value(const char* fdn, const char* attr)
{
    Image fresh(DataUnit(fdn), DataUnit(""), Platform::def_platform);
    if (!fresh.boot(10)) return std::string("<boot failed: ") + fresh.get_error_string() + ">";
    return fresh.get_str(DataUnit(attr)).str();
}

} // namespace

class KvlServer : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        mis = new MisProcess;
        ASSERT_TRUE(MisProcess::available()) << "no qx_mis at " << MisProcess::binary();
        ASSERT_TRUE(mis->start()) << mis->failure();
        platform = new Platform(DataUnit("QX"), DataUnit(""));
        ASSERT_TRUE(platform->connect(DataUnit(mis->address().c_str()), DataUnit("kvl-test"), 10))
            << platform->get_error_string();
    }
    static void TearDownTestSuite()
    {
        delete platform;
        platform = nullptr;
        Platform::def_platform = Platform();
        delete mis;
        mis = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(Platform::def_platform.is_connected()); }

    static MisProcess* mis;
    static Platform* platform;
};

MisProcess* KvlServer::mis = nullptr;
Platform* KvlServer::platform = nullptr;

TEST_F(KvlServer, ConnectSucceedsAndFailsWithActionableMessages)
{
    EXPECT_TRUE(Platform::def_platform.is_connected());
    EXPECT_TRUE(contains(Platform::def_platform.get_mdr_name(), "metaName=\"MDR\""));
    EXPECT_EQ(mis->address(), Platform::def_platform.get_host().str());

    // Nobody listens: refused at once, the message names host:port.
    int port = MisProcess::free_port();
    std::string where = "127.0.0.1:" + std::to_string(port);
    Platform refused(DataUnit("QX"), DataUnit(""));
    EXPECT_FALSE(refused.connect(DataUnit(where.c_str()), DataUnit("t"), 5));
    EXPECT_EQ(KVL_ERR_CONNECT, refused.get_error_type());
    EXPECT_TRUE(contains(refused.get_error_string(), where.c_str())) << refused.get_error_string();
    EXPECT_TRUE(contains(refused.get_error_string(), "refused")) << refused.get_error_string();
    EXPECT_FALSE(refused.is_connected());

    Platform unknown;
    EXPECT_FALSE(unknown.connect(DataUnit("no-such-host.invalid"), DataUnit("t"), 5));
    EXPECT_TRUE(contains(unknown.get_error_string(), "not found")) << unknown.get_error_string();

    // The failures left the connected default platform alone.
    EXPECT_TRUE(Platform::def_platform.is_connected());
    EXPECT_EQ(mis->address(), Platform::def_platform.get_host().str());

    // A host without a port takes QX_MIS_PORT.
    setenv("QX_MIS_PORT", std::to_string(mis->port()).c_str(), 1);
    Platform by_env;
    bool ok = by_env.connect(DataUnit("127.0.0.1"), DataUnit("t"), 5);
    unsetenv("QX_MIS_PORT");
    EXPECT_TRUE(ok) << by_env.get_error_string();
    EXPECT_EQ(mis->address(), by_env.get_host().str());
    by_env.disconnect();
    Platform::def_platform = *platform;
}

TEST_F(KvlServer, ConnectTimesOutAgainstAListenerThatNeverAnswers)
{
    int fd = loopback_socket(0);
    ASSERT_GE(fd, 0);
    std::string where = "127.0.0.1:" + std::to_string(port_of(fd));

    Platform silent;
    EXPECT_FALSE(silent.connect(DataUnit(where.c_str()), DataUnit("t"), 0.4));
    EXPECT_EQ(KVL_ERR_CONNECT, silent.get_error_type());
    EXPECT_TRUE(contains(silent.get_error_string(), "no greeting")) << silent.get_error_string();
    close(fd);
}

TEST_F(KvlServer, BootReadsObjectAndDisplayAndFullNamesAgree)
{
    Image img(DataUnit("/ systemId = leeds-core-1 /"), DataUnit(""), Platform::def_platform);
    ASSERT_EQ(0, img.get_error_type()) << img.get_error_string();
    ASSERT_TRUE(img.boot(10)) << img.get_error_string();
    EXPECT_TRUE(img.exists());
    EXPECT_STREQ(kLeeds, img.get_objname().str()); // the server's form
    EXPECT_STREQ("managedElement", img.get_objclass().str());

    DUArray all = img.get_attr_names(0);
    DUArray writable = img.get_attr_names(1);
    ASSERT_GT(all.count(), writable.count());
    EXPECT_TRUE(all[0] == "x721:objectClass"); // schema order, full names
    for (int i = 0; i < all.count(); i++) {
        const char* full = all[i].str();
        const char* display = std::strrchr(full, ':') + 1;
        EXPECT_TRUE(img.get_str(all[i], 65542) == img.get_str(DataUnit(display), 65542)) << full;
    }
    EXPECT_STREQ("Leeds core switch 1", img.get_str(DataUnit("userLabel")).str());

    EXPECT_TRUE(img.get_str(DataUnit("noSuchAttribute")).is_null());
    EXPECT_EQ(KVL_ERR_NO_ATTRIBUTE, img.get_error_type());
    EXPECT_TRUE(contains(img.get_error_string(), "noSuchAttribute"));
}

TEST_F(KvlServer, BootFailuresCarryTheServersReason)
{
    Image missing(DataUnit("/systemId=\"atlantis-1\""), DataUnit(""), Platform::def_platform);
    EXPECT_FALSE(missing.boot(10));
    EXPECT_EQ(KVL_ERR_NO_OBJECT, missing.get_error_type());
    EXPECT_TRUE(contains(missing.get_error_string(), "atlantis-1")) << missing.get_error_string();
    EXPECT_FALSE(missing.exists());

    Image wrong_class(DataUnit(kLeeds), DataUnit("equipmentRack"), Platform::def_platform);
    EXPECT_FALSE(wrong_class.boot(10));
    EXPECT_EQ(KVL_ERR_CLASS_CONFLICT, wrong_class.get_error_type());

    Image superclass(DataUnit(kRack1), DataUnit("equipment"), Platform::def_platform);
    EXPECT_TRUE(superclass.boot(10)) << superclass.get_error_string();

    Image malformed(DataUnit("/systemId=\"unterminated"), DataUnit(""), Platform::def_platform);
    EXPECT_FALSE(malformed.boot(10));
    EXPECT_EQ(KVL_ERR_BAD_NAME, malformed.get_error_type());

    Image root(DataUnit("/"), DataUnit(""), Platform::def_platform);
    EXPECT_TRUE(root.boot(10));
    EXPECT_STREQ("root", root.get_objclass().str());
}

TEST_F(KvlServer, UnbootedImageFetchesItsValuesOnceWhenFirstRead)
{
    Image lazy(DataUnit(kRack1), DataUnit(""), Platform::def_platform);
    EXPECT_STREQ("equipmentRack", lazy.get_objclass().str()); // first read fetches
    std::string before = lazy.get_str(DataUnit("x721:userLabel")).str();

    Image writer(DataUnit(kRack1), DataUnit(""), Platform::def_platform);
    ASSERT_TRUE(writer.boot(10));
    ASSERT_TRUE(writer.set_str(DataUnit("userLabel"), DataUnit("relabelled"), REPLACE, 65542));
    ASSERT_TRUE(writer.store(10)) << writer.get_error_string();

    EXPECT_EQ(before, lazy.get_str(DataUnit("userLabel")).str()); // no second fetch
    ASSERT_TRUE(lazy.boot(10));                                   // an explicit boot reads again
    EXPECT_STREQ("relabelled", lazy.get_str(DataUnit("userLabel")).str());
}

TEST_F(KvlServer, SetStrIsValidatedByTheServerAndStoreWritesChanges)
{
    Image img(DataUnit(kLeeds), DataUnit(""), Platform::def_platform);
    ASSERT_TRUE(img.boot(10));

    EXPECT_TRUE(img.set_str(DataUnit("administrativeState"), DataUnit("LOCKED"), REPLACE, 65542))
        << img.get_error_string();
    EXPECT_STREQ("locked", img.get_str(DataUnit("x721:administrativeState")).str()); // canonical

    EXPECT_FALSE(img.set_str(DataUnit("cpuLoad"), DataUnit("5"), REPLACE, 65542)); // read-only
    EXPECT_EQ(KVL_ERR_ACCESS, img.get_error_type());

    std::string label = img.get_str(DataUnit("userLabel")).str();
    EXPECT_FALSE(img.set_str(DataUnit("administrativeState"), DataUnit("sleepy"), REPLACE, 65542));
    EXPECT_EQ(KVL_ERR_SYNTAX, img.get_error_type());
    EXPECT_TRUE(contains(img.get_error_string(), "sleepy")) << img.get_error_string();
    EXPECT_STREQ("locked", img.get_str(DataUnit("administrativeState")).str()); // unchanged
    EXPECT_FALSE(img.set_str(DataUnit("userLabel"), DataUnit("x"), DataUnit("ADD"), 65542));
    // Text the syntax refuses, or that is no UTF-8 the wire could carry: a syntax error.
    const std::string too_long(129, 'x');
    for (const std::string& bad :
         {std::string("tab\there"), std::string("caf\xe9"), std::string("\xc0\xaf"),
          std::string("\xed\xa0\x80"), too_long}) {
        img.reset_error();
        EXPECT_FALSE(img.set_str(DataUnit("userLabel"), DataUnit(bad.c_str()), REPLACE, 65542));
        EXPECT_EQ(KVL_ERR_SYNTAX, img.get_error_type()) << img.get_error_string();
    }
    EXPECT_EQ(label, img.get_str(DataUnit("userLabel")).str());
    img.reset_error();

    EXPECT_EQ("unlocked", server_value(kLeeds, "administrativeState")); // not stored yet
    ASSERT_TRUE(img.store(KVL_DEFAULT_TIMEOUT)) << img.get_error_string();
    EXPECT_EQ("locked", server_value(kLeeds, "administrativeState"));
    EXPECT_EQ(label, server_value(kLeeds, "userLabel"));
    EXPECT_TRUE(img.store(KVL_DEFAULT_TIMEOUT)); // nothing pending: fine

    ASSERT_TRUE(img.set_str(DataUnit("administrativeState"), DataUnit("unlocked"), REPLACE, 65542));
    ASSERT_TRUE(img.store(KVL_DEFAULT_TIMEOUT));
}

TEST_F(KvlServer, BlankImageCreateWithinAndDestroy)
{
    Image no_class(NONE, DataUnit(""), Platform::def_platform);
    EXPECT_FALSE(no_class.boot(10));
    Image bad_class(NONE, DataUnit("unicorn"), Platform::def_platform);
    EXPECT_FALSE(bad_class.boot(10));
    EXPECT_EQ(KVL_ERR_NO_CLASS, bad_class.get_error_type());

    Image blank(NONE, DataUnit("equipmentRack"), Platform::def_platform);
    ASSERT_TRUE(blank.boot(10)) << blank.get_error_string();
    EXPECT_FALSE(blank.exists());
    EXPECT_TRUE(blank.get_objname() == NONE);
    EXPECT_STREQ("unlocked", blank.get_str(DataUnit("administrativeState")).str()); // default
    EXPECT_FALSE(blank.store(10)); // nothing to store into yet

    ASSERT_TRUE(blank.set_str(DataUnit("equipmentId"), DataUnit("rack-t1"), REPLACE, 65542))
        << blank.get_error_string(); // read-only is settable before creation
    ASSERT_TRUE(blank.set_str(DataUnit("userLabel"), DataUnit("test rack"), REPLACE, 65542));
    Image created;
    ASSERT_TRUE(blank.create_within(DataUnit(kLeeds), created, 10)) << blank.get_error_string();
    std::string name = std::string(kLeeds) + "/equipmentId=\"rack-t1\"";
    EXPECT_EQ(name, blank.get_objname().str());
    EXPECT_EQ(name, created.get_objname().str());
    EXPECT_TRUE(blank.exists());
    EXPECT_EQ("test rack", server_value(name.c_str(), "userLabel"));

    Image again(NONE, DataUnit("equipmentRack"), Platform::def_platform);
    ASSERT_TRUE(again.boot(10));
    ASSERT_TRUE(again.set_str(DataUnit("equipmentId"), DataUnit("rack-t1"), REPLACE, 65542));
    Image unused;
    EXPECT_FALSE(again.create_within(DataUnit(kLeeds), unused, 10));
    EXPECT_EQ(KVL_ERR_DUPLICATE, again.get_error_type());
    EXPECT_FALSE(again.create_within(DataUnit("/"), unused, 10));
    EXPECT_EQ(KVL_ERR_NAME_BINDING, again.get_error_type());
    EXPECT_FALSE(again.create_within(DataUnit("/systemId=\"atlantis-1\""), unused, 10));
    EXPECT_EQ(KVL_ERR_NO_OBJECT, again.get_error_type());

    Image victim(DataUnit(name.c_str()), DataUnit(""), Platform::def_platform);
    ASSERT_TRUE(victim.destroy(10)) << victim.get_error_string();
    EXPECT_FALSE(victim.destroy(10));
    EXPECT_EQ(KVL_ERR_NO_OBJECT, victim.get_error_type());
    Image root(DataUnit("/"), DataUnit(""), Platform::def_platform);
    EXPECT_FALSE(root.destroy(10));
    EXPECT_EQ(KVL_ERR_ACCESS, root.get_error_type());
}

TEST_F(KvlServer, SetFromRefCopiesTheTemplatesValues)
{
    Image tmpl(DataUnit(kRack1), DataUnit(""), Platform::def_platform); // not booted
    Image fresh(NONE, DataUnit("equipmentRack"), Platform::def_platform);
    ASSERT_TRUE(fresh.boot(10));
    ASSERT_TRUE(fresh.set_from_ref(tmpl)) << fresh.get_error_string();
    EXPECT_TRUE(fresh.get_str(DataUnit("vendorName")) == tmpl.get_str(DataUnit("vendorName")));
    EXPECT_TRUE(fresh.get_str(DataUnit("equipmentId")) == "rack-1");
    ASSERT_TRUE(fresh.set_str(DataUnit("equipmentId"), DataUnit("rack-t2"), REPLACE, 65542));
    Image unused;
    ASSERT_TRUE(fresh.create_within(DataUnit(kLeeds), unused, 10)) << fresh.get_error_string();
    std::string name = std::string(kLeeds) + "/equipmentId=\"rack-t2\"";
    EXPECT_EQ(server_value(kRack1, "vendorName"), server_value(name.c_str(), "vendorName"));
    EXPECT_TRUE(fresh.get_str(DataUnit("equipmentId")) == "rack-t2");
    EXPECT_TRUE(fresh.destroy(10));

    Image empty;
    Image target(NONE, DataUnit("equipmentRack"), Platform::def_platform);
    EXPECT_FALSE(target.set_from_ref(empty));
    Image gone(DataUnit("/systemId=\"atlantis-1\""), DataUnit(""), Platform::def_platform);
    EXPECT_FALSE(target.set_from_ref(gone));
    EXPECT_TRUE(contains(target.get_error_string(), "atlantis-1")) << target.get_error_string();
}

TEST_F(KvlServer, CallRunsActionsAndReportsFailures)
{
    Image leeds(DataUnit(kLeeds), DataUnit(""), Platform::def_platform);
    DataUnit report = leeds.call(DataUnit("selfTest"), DataUnit(""), KVL_DEFAULT_TIMEOUT);
    EXPECT_FALSE(report.is_null()) << leeds.get_error_string();

    EXPECT_TRUE(leeds.call(DataUnit("fly"), DataUnit(""), KVL_DEFAULT_TIMEOUT).is_null());
    EXPECT_EQ(KVL_ERR_NO_ACTION, leeds.get_error_type());

    Image mdr(Platform::def_platform.get_mdr_name(), DataUnit(""), Platform::def_platform);
    DataUnit cls =
        mdr.call(DataUnit("getObjectClass"), DataUnit("equipmentRack"), KVL_DEFAULT_TIMEOUT);
    EXPECT_TRUE(contains(cls, "labels {")) << mdr.get_error_string();
    EXPECT_TRUE(contains(cls, "actions"));
    EXPECT_TRUE(
        mdr.call(DataUnit("getObjectClass"), DataUnit("unicorn"), KVL_DEFAULT_TIMEOUT).is_null());
    EXPECT_EQ(KVL_ERR_NO_CLASS, mdr.get_error_type());

    // A port, whose class runs loopbackTest as an external program.
    Album cps(DataUnit("cps"), Platform::def_platform);
    ASSERT_TRUE(cps.set_derivation(
        DataUnit("/systemId=\"leeds-core-1\"/equipmentId=\"rack-1\"/shelfId=\"shelf-1\"/"
                 "slotNumber=3/circuitPackId=\"stm16-lr\"/*")));
    ASSERT_TRUE(cps.derive(10)) << cps.get_error_string();
    ASSERT_GT(cps.num_images(), 0);
    Image port = cps.first_image().image();
    DataUnit loop = port.call(DataUnit("loopbackTest"), DataUnit("terminal prbs23"), 10);
    EXPECT_FALSE(loop.is_null()) << port.get_error_string();
    EXPECT_TRUE(port.call(DataUnit("loopbackTest"), DataUnit("sideways"), 10).is_null());
    EXPECT_EQ(KVL_ERR_ACTION_FAILED, port.get_error_type());
    EXPECT_TRUE(contains(port.get_error_string(), "sideways")) << port.get_error_string();
}

TEST_F(KvlServer, SyntaxDescribesAnAttributeByEitherName)
{
    Syntax byDisplay(DataUnit("operationalState"), Platform::def_platform);
    Syntax byFull(DataUnit("x721:operationalState"), Platform::def_platform);
    EXPECT_TRUE(contains(byDisplay.get(0), "OperationalState")) << byDisplay.get_error_string();
    EXPECT_TRUE(byDisplay.get(0) == byFull.get(0));
    EXPECT_STREQ("disabled | enabled", byDisplay.get(1).str());
    EXPECT_TRUE(byDisplay.get(7).is_null());
    Syntax exp = byDisplay.expansion();
    EXPECT_TRUE(contains(exp.get(0), "ENUMERATED"));
    EXPECT_TRUE(contains(exp.get(0), "\n")); // the whole text, several lines
    EXPECT_STREQ("OperationalState ::= ENUMERATED {", exp.get(1).str());

    Syntax unknown(DataUnit("colour"), Platform::def_platform);
    EXPECT_TRUE(unknown.get(0).is_null());
    EXPECT_EQ(KVL_ERR_NO_ATTRIBUTE, unknown.get_error_type());
    EXPECT_TRUE(unknown.expansion().get(0).is_null());
}

TEST_F(KvlServer, AlbumDerivesPropertiesAndSharesItsSet)
{
    Album album(DataUnit("/systemId=\"leeds-core-1\".XXNICKYY.0"), Platform::def_platform);
    ASSERT_EQ(0, album.get_error_type());
    EXPECT_STREQ("/systemId=\"leeds-core-1\".XXNICKYY.0", album.get_prop(NICKNAME).str());
    EXPECT_EQ(0, album.num_images());
    EXPECT_FALSE(album.derive(10)); // no derivation string yet

    EXPECT_FALSE(album.set_derivation(DataUnit("leeds")));
    EXPECT_EQ(KVL_ERR_BAD_DERIVATION, album.get_error_type());
    EXPECT_FALSE(album.set_derivation(DataUnit("/systemId=\"leeds-core-1\"/*/CMISFilter(")));
    ASSERT_TRUE(album.set_derivation(DataUnit("/systemId=\"leeds-core-1\"/*")));
    EXPECT_TRUE(album.set_prop(TRACKMODE, TRACK));
    EXPECT_FALSE(album.set_prop(DataUnit("COLOUR"), DataUnit("red")));
    EXPECT_FALSE(album.set_prop(ACTUAL_CLASS, DataUnit("")));
    ASSERT_TRUE(album.set_prop(ACTUAL_CLASS, DataUnit("managedElement")));

    Album shared;
    shared = album; // shares before the derivation too
    ASSERT_TRUE(album.derive(10)) << album.get_error_string();
    std::vector<std::string> expect = {std::string(kRack1),
                                       std::string(kLeeds) + "/equipmentId=\"rack-2\"",
                                       std::string(kLeeds) + "/logId=\"alarmLog\""};
    EXPECT_EQ(expect, names_of(album));
    EXPECT_EQ(3, shared.num_images());
    EXPECT_STREQ("equipmentRack", album.first_image().image().get_objclass().str());

    Album wrong(DataUnit("w"), Platform::def_platform);
    ASSERT_TRUE(wrong.set_derivation(DataUnit("/systemId=\"leeds-core-1\"/*")));
    ASSERT_TRUE(wrong.set_prop(ACTUAL_CLASS, DataUnit("equipmentRack")));
    EXPECT_FALSE(wrong.derive(10));
    EXPECT_EQ(KVL_ERR_CLASS_CONFLICT, wrong.get_error_type());

    Album filtered(DataUnit("f"), Platform::def_platform);
    ASSERT_TRUE(filtered.set_derivation(
        DataUnit("/systemId=\"leeds-core-1\"/*/CMISFilter(objectClass=log)")));
    ASSERT_TRUE(filtered.derive(10)) << filtered.get_error_string();
    EXPECT_EQ(1, filtered.num_images());
    ASSERT_TRUE(
        filtered.set_derivation(DataUnit("/systemId=\"leeds-core-1\"/*/CMISFilter((colour=red))")));
    EXPECT_FALSE(filtered.derive(10));
    EXPECT_EQ(KVL_ERR_BAD_DERIVATION, filtered.get_error_type());
    EXPECT_EQ(1, filtered.num_images()); // a failed derivation keeps the old set

    Image child(DataUnit(kRack1), DataUnit(""), Platform::def_platform);
    Album holder = child.first_album(); // the newest album holding it
    EXPECT_EQ(0, holder.get_error_type());
    EXPECT_TRUE(holder.get_prop(NICKNAME) == album.get_prop(NICKNAME));
    Image stranger(DataUnit("/systemId=\"york-agg-1\""), DataUnit(""), Platform::def_platform);
    EXPECT_NE(0, stranger.first_album().get_error_type());

    /* Several at once: each ends as its own derive() would leave it. */
    Album fresh(DataUnit("g"), Platform::def_platform), none(DataUnit("n"), Platform::def_platform);
    ASSERT_TRUE(fresh.set_derivation(DataUnit("/systemId=\"leeds-core-1\"/*")));
    wrong.reset_error();
    filtered.reset_error();
    Album* all[] = {&wrong, &fresh, &none, &filtered};
    EXPECT_EQ(1, Album::derive_all(all, 4, 10));
    EXPECT_EQ(KVL_ERR_CLASS_CONFLICT, wrong.get_error_type());
    EXPECT_EQ(0, fresh.get_error_type());
    EXPECT_EQ(expect, names_of(fresh));
    EXPECT_EQ(KVL_ERR_BAD_DERIVATION, none.get_error_type());
    EXPECT_EQ(KVL_ERR_BAD_DERIVATION, filtered.get_error_type());
    EXPECT_EQ(1, filtered.num_images());
}

namespace {

struct AlbumWatch {
    Album* album = nullptr;
    std::vector<std::string> created, destroyed;
    std::vector<int> sizes;             // num_images seen inside the callback
    std::vector<std::string> nicknames; // first_album of the new object, seen inside
};

void created_cb(void* client, void* call)
{
    AlbumWatch* w = static_cast<AlbumWatch*>(client);
    CurrentEvent ev(call);
    ev.do_something();
    w->created.push_back(ev.get_objname().str());
    w->sizes.push_back(w->album->num_images());
    Image img(ev.get_objname(), DataUnit(""), Platform::def_platform);
    w->nicknames.push_back(img.first_album().get_prop(NICKNAME).str());
}

void destroyed_cb(void* client, void* call)
{
    AlbumWatch* w = static_cast<AlbumWatch*>(client);
    CurrentEvent ev(call);
    w->destroyed.push_back(ev.get_objname().str());
    w->sizes.push_back(w->album->num_images());
}

struct AttrWatch {
    std::vector<std::string> names, attributes, values;
};

void attr_cb(void* client, void* call)
{
    AttrWatch* w = static_cast<AttrWatch*>(client);
    CurrentEvent ev(call);
    w->names.push_back(ev.get_name().str());
    w->attributes.push_back(ev.get_attribute().str());
    w->values.push_back(ev.get_value().str());
}

void raw_cb(void* client, void* call)
{
    CurrentEvent ev(call);
    static_cast<std::vector<std::string>*>(client)->push_back(std::string(ev.get_name().str()) +
                                                              " " + ev.get_objname().str());
}

} // namespace

TEST_F(KvlServer, TrackedAlbumUpdatesMembershipBeforeItsCallbacks)
{
    AlbumWatch watch;
    Album album(DataUnit("tracked.XXNICKYY.0"), Platform::def_platform);
    watch.album = &album;
    album.set_prop(TRACKMODE, TRACK);
    album.when(OBJECT_CREATED, Callback(SchedContext::current(), created_cb, &watch));
    album.when(OBJECT_DESTROYED, Callback(SchedContext::current(), destroyed_cb, &watch));
    ASSERT_TRUE(album.set_derivation(DataUnit("/systemId=\"leeds-core-1\"/*")));
    ASSERT_TRUE(album.derive(10));
    int before = album.num_images();

    AlbumWatch quiet; // untracked: hears nothing
    Album untracked(DataUnit("untracked"), Platform::def_platform);
    quiet.album = &untracked;
    untracked.when(OBJECT_CREATED, Callback(created_cb, &quiet));
    ASSERT_TRUE(untracked.set_derivation(DataUnit("/systemId=\"leeds-core-1\"/*")));
    ASSERT_TRUE(untracked.derive(10));

    std::vector<std::string> raw;
    Platform::def_platform.when(RAW_EVENT, Callback(raw_cb, &raw));
    AlbumImage held = album.first_image(); // an iteration under way keeps its members
    auto count_from = [](AlbumImage it) {
        int n = 0;
        for (; it; it.next_image()) n += it->get_objname().length() > 0;
        return n;
    };

    Image blank(NONE, DataUnit("equipmentRack"), Platform::def_platform);
    ASSERT_TRUE(blank.boot(10));
    ASSERT_TRUE(blank.set_str(DataUnit("equipmentId"), DataUnit("rack-t3"), REPLACE, 0));
    Image unused;
    ASSERT_TRUE(blank.create_within(DataUnit(kLeeds), unused, 10));
    std::string name = blank.get_objname().str();
    // Notifications come before the reply, so the callback has already run.
    ASSERT_EQ(1u, watch.created.size());
    EXPECT_EQ(name, watch.created[0]);
    EXPECT_EQ(before + 1, watch.sizes[0]);
    EXPECT_EQ("tracked.XXNICKYY.0", watch.nicknames[0]);
    EXPECT_EQ(before + 1, album.num_images());
    EXPECT_EQ(before, count_from(held));
    EXPECT_EQ(before + 1, count_from(album.first_image()));
    EXPECT_TRUE(quiet.created.empty());
    EXPECT_EQ(before, untracked.num_images());

    ASSERT_TRUE(blank.destroy(10));
    ASSERT_EQ(1u, watch.destroyed.size());
    EXPECT_EQ(name, watch.destroyed[0]);
    EXPECT_EQ(before, watch.sizes[1]);
    EXPECT_EQ(before, count_from(held));
    Platform::def_platform.when(RAW_EVENT, Callback());

    bool saw_created = false;
    for (const std::string& r : raw)
        if (r == "OBJECT_CREATED " + name) saw_created = true;
    EXPECT_TRUE(saw_created);
}

TEST_F(KvlServer, TrackedImageHearsAttributeChanges)
{
    Image shown(DataUnit(kRack1), DataUnit(""), Platform::def_platform);
    AttrWatch w;
    ASSERT_TRUE(shown.set_prop(TRACKMODE, TRACK));
    ASSERT_TRUE(shown.when(ATTR_CHANGED, Callback(attr_cb, &w)));
    ASSERT_TRUE(shown.boot(10));

    Image writer(DataUnit(kRack1), DataUnit(""), Platform::def_platform);
    ASSERT_TRUE(writer.boot(10));
    ASSERT_TRUE(writer.set_str(DataUnit("userLabel"), DataUnit("seen by watchers"), REPLACE, 0));
    ASSERT_TRUE(writer.store(10));
    ASSERT_EQ(1u, w.names.size());
    EXPECT_EQ("userLabel", w.names[0]); // the event names the attribute
    EXPECT_EQ("x721:userLabel", w.attributes[0]);
    EXPECT_EQ("seen by watchers", w.values[0]);
    EXPECT_STREQ("seen by watchers", shown.get_str(DataUnit("userLabel")).str()); // updated locally

    shown.when(ATTR_CHANGED, Callback()); // switched off, as the editor does during a store
    ASSERT_TRUE(writer.set_str(DataUnit("userLabel"), DataUnit("unheard"), REPLACE, 0));
    ASSERT_TRUE(writer.store(10));
    EXPECT_EQ(1u, w.names.size());

    shown.when(ATTR_CHANGED, Callback(attr_cb, &w));
    ASSERT_TRUE(shown.set_prop(TRACKMODE, NOTRACK));
    ASSERT_TRUE(writer.set_str(DataUnit("userLabel"), DataUnit("untracked"), REPLACE, 0));
    ASSERT_TRUE(writer.store(10));
    kvl_poll(0.2);
    EXPECT_EQ(1u, w.names.size());
}

TEST_F(KvlServer, TimedOutWaitFailsAndItsLateReplyIsDropped)
{
    Image img(DataUnit(kLeeds), DataUnit(""), Platform::def_platform);
    mis->pause();
    bool ok = img.boot(0.3);
    mis->resume();
    EXPECT_FALSE(ok);
    EXPECT_EQ(KVL_ERR_TIMEOUT, img.get_error_type());
    EXPECT_TRUE(contains(img.get_error_string(), mis->address().c_str())) << img.get_error_string();

    // The late reply to the boot must not be taken for the next request's.
    Image rack(DataUnit(kRack1), DataUnit(""), Platform::def_platform);
    ASSERT_TRUE(rack.boot(10)) << rack.get_error_string();
    EXPECT_STREQ("equipmentRack", rack.get_objclass().str());
    EXPECT_TRUE(img.boot(10));

    // -12345.0 is the default time-out, which QX_KVL_TIMEOUT sets.
    setenv("QX_KVL_TIMEOUT", "junk", 1);
    EXPECT_EQ(30.0, kvl_default_timeout());
    setenv("QX_KVL_TIMEOUT", "0.3", 1);
    EXPECT_EQ(0.3, kvl_default_timeout());
    mis->pause();
    ok = img.set_str(DataUnit("userLabel"), DataUnit("late"), REPLACE, 0); // validation waits
    mis->resume();
    unsetenv("QX_KVL_TIMEOUT");
    EXPECT_FALSE(ok);
    EXPECT_EQ(KVL_ERR_TIMEOUT, img.get_error_type());
}

namespace {
void count_cb(void* client, void* call)
{
    CurrentEvent ev(call);
    if (ev.get_name() == DISCONNECTED) ++*static_cast<int*>(client);
}
} // namespace

// Without an application context: a server that dies while nothing waits is
// noticed by the next operations (no SIGPIPE), and DISCONNECTED runs once.
TEST(KvlServerLoss, PollingClientNoticesTheLossOnce)
{
    MisProcess own;
    ASSERT_TRUE(own.start()) << own.failure();
    Platform saved = Platform::def_platform;
    Platform p;
    ASSERT_TRUE(p.connect(DataUnit(own.address().c_str()), DataUnit("t"), 10));
    int lost = 0;
    p.when(DISCONNECTED, Callback(count_cb, &lost));
    Image img(DataUnit(kLeeds), DataUnit(""), p);
    ASSERT_TRUE(img.boot(10));
    own.kill_now();
    for (int i = 0; i < 3; i++) {
        Image again(DataUnit(kLeeds), DataUnit(""), p);
        EXPECT_FALSE(again.boot(5));
        EXPECT_FALSE(img.store(5) && img.set_str(DataUnit("userLabel"), DataUnit("x"), REPLACE, 0));
    }
    kvl_poll(0.1);
    EXPECT_EQ(1, lost);
    EXPECT_FALSE(p.is_connected());
    Platform::def_platform = saved;
}

// A full server answers with one error line that no request owns, then
// closes: connect fails with the server's reason. The server is told to
// serve 256 clients; by default it serves as many as its descriptors allow.
TEST(KvlServerLoss, ConnectToAFullServerSaysWhy)
{
    MisProcess own;
    ASSERT_TRUE(own.start({"--max-clients", "256"})) << own.failure();
    std::vector<int> clients;
    for (int i = 0; i < 256; i++) {
        clients.push_back(loopback_socket(own.port()));
        ASSERT_GE(clients.back(), 0);
    }
    Platform saved = Platform::def_platform;
    Platform p;
    EXPECT_FALSE(p.connect(DataUnit(own.address().c_str()), DataUnit("t"), 5));
    EXPECT_EQ(KVL_ERR_CONNECT, p.get_error_type());
    EXPECT_TRUE(contains(p.get_error_string(), "full")) << p.get_error_string();
    for (int fd : clients) close(fd);
    Platform::def_platform = saved;
}

TEST_F(KvlServer, SearchNamesMatchesCountsAndRefuses)
{
    const char* leeds = "/systemId=\"leeds-core-1\"";
    Search s;
    ASSERT_TRUE(s.run(DataUnit(leeds), DataUnit("(objectClass=equipmentRack)"), -1, 1))
        << s.get_error_string();
    EXPECT_EQ(2, s.count);
    EXPECT_TRUE(s.truncated);
    ASSERT_EQ(1, s.names.count());
    EXPECT_STREQ("/systemId=\"leeds-core-1\"/equipmentId=\"rack-1\"", s.names[0].str());
    EXPECT_STREQ("equipmentRack", s.classes[0].str());

    ASSERT_TRUE(s.run(DataUnit(leeds), DataUnit(""), 0, 0));
    EXPECT_EQ(1, s.count);
    EXPECT_FALSE(s.truncated);

    EXPECT_FALSE(s.run(DataUnit(leeds), DataUnit("(&(objectClass=x"), -1, 0));
    EXPECT_EQ(KVL_ERR_BAD_DERIVATION, s.get_error_type());
    EXPECT_NE(std::string::npos, std::string(s.get_error_string()).find("malformed filter"));
    EXPECT_EQ(0, s.names.count());
    EXPECT_FALSE(s.run(DataUnit("/systemId=\"nowhere\""), DataUnit(""), 1, 0));
    EXPECT_EQ(KVL_ERR_NO_OBJECT, s.get_error_type());
}

// What deriving one level at a time with filter reaches below fdn: the count the editor's
// delete confirmation reports, which count_reachable gets in one request.
static long walk_count(const std::string& fdn, const std::string& filter)
{
    Album album(DataUnit((fdn + ".XXWALKYY").c_str()), Platform::def_platform);
    std::string derivation = fdn + "/*" + (filter.empty() ? "" : "/CMISFilter(" + filter + ")");
    if (!album.set_derivation(DataUnit(derivation.c_str())) || !album.derive(10)) return -1;
    long n = 0;
    for (const std::string& child : names_of(album)) n += 1 + walk_count(child, filter);
    return n;
}

TEST_F(KvlServer, CountReachableAgreesWithALevelByLevelWalk)
{
    const std::string shelf = std::string(kRack1) + "/shelfId=\"shelf-1\"";
    const std::string slot1 = shelf + "/slotNumber=1/circuitPackId=\"ctrl\"";
    struct {
        std::string base, filter;
    } cases[] = {
        {kLeeds, ""},
        {kLeeds, "(!(objectClass=slot))"},     // the slots hide what they hold
        {kRack1, "(objectClass=circuitPack)"}, // refused at the first level: nothing below
        {slot1, ""},                           // a leaf
    };
    for (auto& k : cases) {
        Search s;
        ASSERT_TRUE(s.count_reachable(DataUnit(k.base.c_str()), DataUnit(k.filter.c_str())))
            << k.base << " " << s.get_error_string();
        EXPECT_EQ(walk_count(k.base, k.filter), s.count) << k.base << " " << k.filter;
        EXPECT_EQ(0, s.names.count());
    }
    Search unpruned;
    ASSERT_TRUE(unpruned.run(DataUnit(kRack1), DataUnit("(objectClass=circuitPack)"), -1, 1));
    EXPECT_GT(unpruned.count, 0); // so the case above tests the pruning

    Search gone;
    EXPECT_FALSE(gone.count_reachable(DataUnit("/systemId=\"nowhere\""), DataUnit("")));
    EXPECT_EQ(KVL_ERR_NO_OBJECT, gone.get_error_type());
}
