// KVL against a real qx_mis, without an application context (the waits poll).
// One server serves the whole suite; tests that change the network use names
// of their own.  The sample network holds /systemId="leeds-core-1" with the
// children equipmentId="rack-1", "rack-2" and logId="alarmLog".
#include <gtest/gtest.h>

#include "kvl/image_batch.h"
#include "kvl/kvl.h"
#include "held_values.h"
#include "mis_process.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

using qxtest::MisProcess;

namespace {

const std::string kLeeds = "/systemId=\"leeds-core-1\"";
const std::string kRack1 = kLeeds + "/equipmentId=\"rack-1\"";

const std::string kAtlantis = "/systemId=\"atlantis-1\"";

bool contains(const char* text, const std::string& part)
{
    return text && std::strstr(text, part.c_str()) != nullptr;
}

// An image of fdn (NONE for a blank one) on the default platform.
Image at(const std::string& fdn, const char* cls = "")
{
    return Image(fdn == "NONE" ? NONE : DataUnit(fdn.c_str()), DataUnit(cls));
}

std::string get(Image& img, const char* attr)
{
    return img.get_str(DataUnit(attr)).str();
}

bool put(Image& img, const char* attr, const std::string& value)
{
    return img.set_str(DataUnit(attr), DataUnit(value.c_str()), REPLACE, 65542);
}

// What a fresh image reads on the server now.
std::string server_value(const std::string& fdn, const char* attr)
{
    Image fresh = at(fdn);
    if (!fresh.boot(10)) return std::string("<boot failed: ") + fresh.get_error_string() + ">";
    return get(fresh, attr);
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

// Nobody listening, no such host, and a listener that never greets: each fails with a
// message that says why, and leaves the connected default platform alone.
TEST_F(KvlServer, ConnectSucceedsAndFailsWithActionableMessages)
{
    EXPECT_TRUE(contains(Platform::def_platform.get_mdr_name(), "metaName=\"MDR\""));
    EXPECT_EQ(mis->address(), Platform::def_platform.get_host().str());
    std::string refused = "127.0.0.1:" + std::to_string(MisProcess::free_port());
    struct {
        std::string where;
        double timeout;
        std::vector<std::string> said;
    } rows[] = {
        {refused, 5, {refused, "refused"}},
        {"no-such-host.invalid", 5, {"not found"}},
        {mis->address(), 0.4, {"no greeting"}}, // stopped: the kernel accepts, nobody greets
    };
    for (auto& row : rows) {
        SCOPED_TRACE(row.where);
        Platform p(DataUnit("QX"), DataUnit(""));
        if (row.timeout < 1) mis->pause();
        EXPECT_FALSE(p.connect(DataUnit(row.where.c_str()), DataUnit("t"), row.timeout));
        mis->resume();
        EXPECT_EQ(KVL_ERR_CONNECT, p.get_error_type());
        for (auto& part : row.said) EXPECT_TRUE(contains(p.get_error_string(), part));
        EXPECT_FALSE(p.is_connected());
    }
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

// Boot reads the object in the server's form, its attributes by full and by display name;
// each boot that fails carries the error type of the server's reason.
TEST_F(KvlServer, BootReadsTheObjectOrCarriesTheServersReason)
{
    Image img = at("/ systemId = leeds-core-1 /");
    ASSERT_EQ(0, img.get_error_type()) << img.get_error_string();
    ASSERT_TRUE(img.boot(10)) << img.get_error_string();
    EXPECT_TRUE(img.exists());
    EXPECT_EQ(kLeeds, img.get_objname().str()); // the server's form
    EXPECT_STREQ("managedElement", img.get_objclass().str());
    DUArray all = img.get_attr_names(0);
    ASSERT_GT(all.count(), img.get_attr_names(1).count()); // and the writable ones
    EXPECT_TRUE(all[0] == "x721:objectClass");              // schema order, full names
    for (int i = 0; i < all.count(); i++) {
        const char* full = all[i].str();
        EXPECT_EQ(get(img, full), get(img, std::strrchr(full, ':') + 1)) << full;
    }
    EXPECT_EQ("Leeds core switch 1", get(img, "userLabel"));
    EXPECT_TRUE(img.get_str(DataUnit("noSuchAttribute")).is_null());
    EXPECT_EQ(KVL_ERR_NO_ATTRIBUTE, img.get_error_type());
    EXPECT_TRUE(contains(img.get_error_string(), "noSuchAttribute"));

    struct {
        std::string fdn;
        const char *cls, *read; // read: the class a boot reads, or a part of its error
        int error;
    } rows[] = {
        {kAtlantis, "", "atlantis-1", KVL_ERR_NO_OBJECT},
        {kLeeds, "equipmentRack", "", KVL_ERR_CLASS_CONFLICT},
        {kRack1, "equipment", "equipmentRack", 0}, // a superclass
        {"/", "", "root", 0},
        {"/systemId=\"unterminated", "", "", KVL_ERR_BAD_NAME},
        {"NONE", "unicorn", "", KVL_ERR_NO_CLASS},
        {"NONE", "", "", KVL_ERR_ARGUMENT}, // a blank image needs a class
    };
    for (auto& row : rows) {
        Image booted = at(row.fdn, row.cls);
        bool ok = booted.boot(10);
        EXPECT_EQ(row.error, booted.get_error_type()) << row.fdn << " " << booted.get_error_string();
        EXPECT_EQ(ok, booted.exists() || row.fdn == "/") << row.fdn;
        if (ok) EXPECT_STREQ(row.read, booted.get_objclass().str());
        else EXPECT_TRUE(contains(booted.get_error_string(), row.read)) << row.fdn;
    }
}

TEST_F(KvlServer, SetStrIsValidatedByTheServerAndStoreWritesChanges)
{
    Image img = at(kLeeds);
    ASSERT_TRUE(img.boot(10));
    EXPECT_TRUE(put(img, "administrativeState", "LOCKED")) << img.get_error_string();
    EXPECT_EQ("locked", get(img, "x721:administrativeState")); // canonical
    std::string label = get(img, "userLabel");
    // Refused: read-only, outside the syntax, or no UTF-8 the wire could carry.
    auto refused = [&](const char* attr, const std::string& value) {
        img.reset_error();
        EXPECT_FALSE(put(img, attr, value)) << value;
        return img.get_error_type();
    };
    EXPECT_EQ(KVL_ERR_ACCESS, refused("cpuLoad", "5"));
    EXPECT_EQ(KVL_ERR_SYNTAX, refused("administrativeState", "sleepy"));
    EXPECT_TRUE(contains(img.get_error_string(), "sleepy")) << img.get_error_string();
    for (auto bad : {"tab\there", "caf\xe9", "\xc0\xaf", "\xed\xa0\x80"})
        EXPECT_EQ(KVL_ERR_SYNTAX, refused("userLabel", bad)) << bad;
    EXPECT_EQ(KVL_ERR_SYNTAX, refused("userLabel", std::string(129, 'x')));
    EXPECT_FALSE(img.set_str(DataUnit("userLabel"), DataUnit("x"), DataUnit("ADD"), 65542));
    EXPECT_EQ("locked", get(img, "administrativeState")); // unchanged
    EXPECT_EQ(label, get(img, "userLabel"));
    img.reset_error();

    EXPECT_EQ("unlocked", server_value(kLeeds, "administrativeState")); // not stored yet
    ASSERT_TRUE(img.store(KVL_DEFAULT_TIMEOUT)) << img.get_error_string();
    EXPECT_EQ("locked", server_value(kLeeds, "administrativeState"));
    EXPECT_EQ(label, server_value(kLeeds, "userLabel"));
    EXPECT_TRUE(img.store(KVL_DEFAULT_TIMEOUT)); // nothing pending: fine
    ASSERT_TRUE(put(img, "administrativeState", "unlocked"));
    ASSERT_TRUE(img.store(KVL_DEFAULT_TIMEOUT));
}

TEST_F(KvlServer, AlbumDerivesPropertiesAndSharesItsSet)
{
    Album album(DataUnit("/systemId=\"leeds-core-1\".XXNICKYY.0"));
    ASSERT_EQ(0, album.get_error_type());
    EXPECT_STREQ("/systemId=\"leeds-core-1\".XXNICKYY.0", album.get_prop(NICKNAME).str());
    EXPECT_EQ(0, album.num_images());
    ASSERT_TRUE(album.set_derivation(DataUnit((kLeeds + "/*").c_str())));
    EXPECT_TRUE(album.set_prop(TRACKMODE, TRACK));
    ASSERT_TRUE(album.set_prop(ACTUAL_CLASS, DataUnit("managedElement")));
    Album shared;
    shared = album; // shares before the derivation too
    ASSERT_TRUE(album.derive(10)) << album.get_error_string();
    const std::vector<std::string> children = {kRack1, kLeeds + "/equipmentId=\"rack-2\"",
                                               kLeeds + "/logId=\"alarmLog\""};
    EXPECT_EQ(children, names_of(shared));
    EXPECT_STREQ("equipmentRack", album.first_image().image().get_objclass().str());

    // Each derived by itself, then all at once by derive_all, ends alike; a failed derivation
    // keeps the set of the one before.
    Album wrong(DataUnit("w")), filtered(DataUnit("f")), none(DataUnit("n")), fresh(DataUnit("g"));
    ASSERT_TRUE(wrong.set_derivation(DataUnit((kLeeds + "/*").c_str())));
    ASSERT_TRUE(wrong.set_prop(ACTUAL_CLASS, DataUnit("equipmentRack")));
    ASSERT_TRUE(filtered.set_derivation(DataUnit((kLeeds + "/*/CMISFilter(objectClass=log)").c_str())));
    ASSERT_TRUE(filtered.derive(10)) << filtered.get_error_string();
    ASSERT_TRUE(filtered.set_derivation(DataUnit((kLeeds + "/*/CMISFilter((colour=red))").c_str())));
    ASSERT_TRUE(fresh.set_derivation(DataUnit((kLeeds + "/*").c_str())));
    Album* all[] = {&wrong, &fresh, &none, &filtered};
    for (bool together : {false, true}) {
        SCOPED_TRACE(together ? "derive_all" : "derive");
        for (Album* a : all) a->reset_error();
        int derived = together ? Album::derive_all(all, 4, 10) : 0;
        for (Album* a : all) derived += together ? 0 : a->derive(10);
        EXPECT_EQ(1, derived);
        EXPECT_EQ(KVL_ERR_CLASS_CONFLICT, wrong.get_error_type());
        EXPECT_EQ(0, fresh.get_error_type());
        EXPECT_EQ(children, names_of(fresh));
        EXPECT_EQ(KVL_ERR_BAD_DERIVATION, none.get_error_type()); // no derivation string yet
        EXPECT_EQ(KVL_ERR_BAD_DERIVATION, filtered.get_error_type());
        EXPECT_EQ(1, filtered.num_images());
    }
}

namespace {

// Hears events as lines "NAME object[ attribute=value]", and for an album also what the
// callback sees from inside: " size N", and for a new object " in NICKNAME" of its first album.
struct Heard {
    Album* album = nullptr;
    std::vector<std::string> lines;
};

void heard_cb(void* client, void* call)
{
    Heard* h = static_cast<Heard*>(client);
    CurrentEvent ev(call);
    ev.do_something();
    std::string line = std::string(ev.get_name().str()) + " " + ev.get_objname().str();
    if (!ev.get_attribute().is_null())
        line += std::string(" ") + ev.get_attribute().str() + "=" + ev.get_value().str();
    if (h->album) line += " size " + std::to_string(h->album->num_images());
    if (h->album && ev.get_name() == OBJECT_CREATED)
        line += std::string(" in ") +
                Image(ev.get_objname(), DataUnit("")).first_album().get_prop(NICKNAME).str();
    h->lines.push_back(line);
}

} // namespace

// A blank image takes its defaults and becomes an object by create_within; a tracked album
// holding the new object's parent changes its members before its callbacks run, while an
// iteration under way keeps the members it started with.
TEST_F(KvlServer, BlankImageCreatedAndDestroyedUnderATrackedAlbum)
{
    Heard tracked, quiet, raw; // quiet: an untracked album, which hears nothing
    Album album(DataUnit("tracked.XXNICKYY.0")), untracked(DataUnit("untracked"));
    tracked.album = &album;
    quiet.album = &untracked;
    album.set_prop(TRACKMODE, TRACK);
    album.when(OBJECT_CREATED, Callback(SchedContext::current(), heard_cb, &tracked));
    album.when(OBJECT_DESTROYED, Callback(SchedContext::current(), heard_cb, &tracked));
    untracked.when(OBJECT_CREATED, Callback(heard_cb, &quiet));
    for (Album* a : {&album, &untracked}) {
        ASSERT_TRUE(a->set_derivation(DataUnit((kLeeds + "/*").c_str())));
        ASSERT_TRUE(a->derive(10));
    }
    const int before = album.num_images();
    Platform::def_platform.when(RAW_EVENT, Callback(heard_cb, &raw));
    AlbumImage held = album.first_image();
    auto count_from = [](AlbumImage it) {
        int n = 0;
        for (; it; it.next_image()) n += it->get_objname().length() > 0;
        return n;
    };

    Image blank = at("NONE", "equipmentRack"), created;
    ASSERT_TRUE(blank.boot(10)) << blank.get_error_string();
    EXPECT_FALSE(blank.exists());
    EXPECT_TRUE(blank.get_objname() == NONE);
    EXPECT_EQ("unlocked", get(blank, "administrativeState")); // default
    EXPECT_FALSE(blank.store(10));                            // nothing to store into yet
    ASSERT_TRUE(put(blank, "equipmentId", "rack-t1")) << blank.get_error_string(); // read-only
    ASSERT_TRUE(put(blank, "userLabel", "test rack"));
    ASSERT_TRUE(blank.create_within(DataUnit(kLeeds.c_str()), created, 10))
        << blank.get_error_string();
    const std::string name = kLeeds + "/equipmentId=\"rack-t1\"";
    EXPECT_EQ(name, blank.get_objname().str());
    EXPECT_EQ(name, created.get_objname().str());
    EXPECT_TRUE(blank.exists());
    EXPECT_EQ("test rack", server_value(name, "userLabel"));
    // Notifications come before the reply, so the callback has already run.
    const std::string added = "OBJECT_CREATED " + name + " size " + std::to_string(before + 1);
    EXPECT_EQ(tracked.lines, std::vector<std::string>{added + " in tracked.XXNICKYY.0"});
    EXPECT_EQ(before + 1, album.num_images());
    EXPECT_EQ(before, count_from(held));
    EXPECT_EQ(before + 1, count_from(album.first_image()));
    EXPECT_TRUE(quiet.lines.empty());
    EXPECT_EQ(before, untracked.num_images());

    Image victim = at(name);
    ASSERT_TRUE(victim.destroy(10)) << victim.get_error_string();
    ASSERT_EQ(2u, tracked.lines.size());
    EXPECT_EQ("OBJECT_DESTROYED " + name + " size " + std::to_string(before), tracked.lines[1]);
    EXPECT_EQ(before, count_from(held));
    Platform::def_platform.when(RAW_EVENT, Callback());
    EXPECT_NE(std::find(raw.lines.begin(), raw.lines.end(), "OBJECT_CREATED " + name),
              raw.lines.end());
    for (auto [fdn, error] :
         {std::pair<std::string, int>{name, KVL_ERR_NO_OBJECT}, {"/", KVL_ERR_ACCESS}}) {
        Image gone = at(fdn);
        EXPECT_FALSE(gone.destroy(10));
        EXPECT_EQ(error, gone.get_error_type()) << fdn;
    }
}

// No lost update: a store expects the values its image read. A change made meanwhile by another
// client (here another image) refuses it, all of it, naming the attribute and its value now; a
// tracked image that heard of the change takes it as read only when told (mark_read) or booted.
TEST_F(KvlServer, StoreRefusesToOverwriteAChangeItHasNotRead)
{
    const std::string rack = kLeeds + "/equipmentId=\"rack-2\"";
    Image mine = at(rack), theirs = at(rack);
    ASSERT_TRUE(mine.set_prop(TRACKMODE, TRACK));
    ASSERT_TRUE(mine.boot(10));
    ASSERT_TRUE(theirs.boot(10));
    Image untracked = at(rack); // tracked once, no more
    ASSERT_TRUE(untracked.boot(10));
    ASSERT_TRUE(untracked.set_prop(TRACKMODE, TRACK));
    ASSERT_TRUE(untracked.set_prop(TRACKMODE, NOTRACK));
    ASSERT_TRUE(untracked.boot(10)); // read again, and still not watched
    const std::string first = get(untracked, "userLabel");
    struct {
        const char* theirs; // their new userLabel
        bool mark_read;     // mine takes what it heard as read before editing
        bool stored;
    } rows[] = {{"theirs 1", false, false}, {"theirs 2", true, true}};
    for (auto& r : rows) {
        std::string location = server_value(rack, "locationName");
        ASSERT_TRUE(put(theirs, "userLabel", r.theirs));
        ASSERT_TRUE(theirs.store(10));
        EXPECT_EQ(r.theirs, get(mine, "userLabel")) << "heard";
        EXPECT_EQ(first, get(untracked, "userLabel")) << "an image that does not track keeps it";
        if (r.mark_read) mine.mark_read();
        ASSERT_TRUE(put(mine, "locationName", "mine: " + std::string(r.theirs)));
        ASSERT_TRUE(put(mine, "userLabel", "mine"));
        EXPECT_EQ(r.stored, mine.store(10)) << mine.get_error_string();
        DataUnit attr, value;
        EXPECT_EQ(!r.stored, mine.changed_on_server(attr, value));
        if (r.stored) {
            EXPECT_EQ("mine", server_value(rack, "userLabel"));
            continue;
        }
        EXPECT_EQ(KVL_ERR_CHANGED, mine.get_error_type());
        EXPECT_STREQ("x721:userLabel", attr.str());
        EXPECT_EQ(r.theirs, std::string(value.str()));
        EXPECT_EQ(r.theirs, server_value(rack, "userLabel"));
        EXPECT_EQ(location, server_value(rack, "locationName")) << "all or none";
        EXPECT_EQ("mine", get(mine, "userLabel")) << "the image keeps its changes";
        mine.reset_error();
        ASSERT_TRUE(mine.boot(10)); // reads theirs: nothing pending, nothing refused
        EXPECT_FALSE(mine.changed_on_server(attr, value));
        EXPECT_EQ(r.theirs, get(mine, "userLabel"));
    }
    // After its own store the image has read what it wrote.
    ASSERT_TRUE(put(mine, "userLabel", "mine again"));
    EXPECT_TRUE(mine.store(10)) << mine.get_error_string();
}

TEST_F(KvlServer, TimedOutWaitFailsAndItsLateReplyIsDropped)
{
    Image img = at(kLeeds);
    mis->pause();
    bool ok = img.boot(0.3);
    mis->resume();
    EXPECT_FALSE(ok);
    EXPECT_EQ(KVL_ERR_TIMEOUT, img.get_error_type());
    EXPECT_TRUE(contains(img.get_error_string(), mis->address().c_str())) << img.get_error_string();

    // The late reply to the boot must not be taken for the next request's.
    Image rack = at(kRack1);
    ASSERT_TRUE(rack.boot(10)) << rack.get_error_string();
    EXPECT_STREQ("equipmentRack", rack.get_objclass().str());
    EXPECT_TRUE(img.boot(10));

    // -12345.0 is the default time-out, which QX_KVL_TIMEOUT sets.
    setenv("QX_KVL_TIMEOUT", "junk", 1);
    EXPECT_EQ(30.0, kvl_default_timeout());
    setenv("QX_KVL_TIMEOUT", "0.3", 1);
    EXPECT_EQ(0.3, kvl_default_timeout());
    mis->pause();
    ok = put(img, "userLabel", "late"); // validation waits
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
    Image img(DataUnit(kLeeds.c_str()), DataUnit(""), p);
    ASSERT_TRUE(img.boot(10));
    own.kill_now();
    for (int i = 0; i < 3; i++) {
        Image again(DataUnit(kLeeds.c_str()), DataUnit(""), p);
        EXPECT_FALSE(again.boot(5));
        EXPECT_FALSE(img.store(5) && put(img, "userLabel", "x"));
    }
    kvl_poll(0); // runs what is queued; waits for nothing
    EXPECT_EQ(1, lost);
    EXPECT_FALSE(p.is_connected());
    Platform::def_platform = saved;
}

TEST_F(KvlServer, SearchNamesMatchesCountsAndRefuses)
{
    const DataUnit leeds(kLeeds.c_str());
    Search s;
    ASSERT_TRUE(s.run(leeds, DataUnit("(objectClass=equipmentRack)"), -1, 1))
        << s.get_error_string();
    EXPECT_EQ(2, s.count);
    EXPECT_TRUE(s.truncated);
    ASSERT_EQ(1, s.names.count());
    EXPECT_EQ(kRack1, s.names[0].str());
    EXPECT_STREQ("equipmentRack", s.classes[0].str());

    ASSERT_TRUE(s.run(leeds, DataUnit(""), 0, 0));
    EXPECT_EQ(1, s.count);
    EXPECT_FALSE(s.truncated);

    EXPECT_FALSE(s.run(leeds, DataUnit("(&(objectClass=x"), -1, 0));
    EXPECT_EQ(KVL_ERR_BAD_DERIVATION, s.get_error_type());
    EXPECT_NE(std::string::npos, std::string(s.get_error_string()).find("malformed filter"));
    EXPECT_EQ(0, s.names.count());
    EXPECT_FALSE(s.run(DataUnit("/systemId=\"nowhere\""), DataUnit(""), 1, 0));
    EXPECT_EQ(KVL_ERR_NO_OBJECT, s.get_error_type());

    // Matches handed over one by one with their values, until the caller says stop.
    s.values = true;
    int handed = 0;
    s.each = [&](Image&) { return ++handed < 2; };
    EXPECT_FALSE(s.run(leeds, DataUnit(""), -1, 0));
    EXPECT_EQ(KVL_ERR_ARGUMENT, s.get_error_type()) << s.get_error_string();
    EXPECT_EQ(2, handed);
}

// What deriving one level at a time with filter reaches below fdn: the count the editor's
// delete confirmation reports, which count_reachable gets in one request.
static long walk_count(const std::string& fdn, const std::string& filter)
{
    Album album(DataUnit((fdn + ".XXWALKYY").c_str()));
    std::string derivation = fdn + "/*" + (filter.empty() ? "" : "/CMISFilter(" + filter + ")");
    if (!album.set_derivation(DataUnit(derivation.c_str())) || !album.derive(10)) return -1;
    long n = 0;
    for (const std::string& child : names_of(album)) n += 1 + walk_count(child, filter);
    return n;
}

TEST_F(KvlServer, CountReachableAgreesWithALevelByLevelWalk)
{
    const std::string slot1 = kRack1 + "/shelfId=\"shelf-1\"/slotNumber=1/circuitPackId=\"ctrl\"";
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
    ASSERT_TRUE(
        unpruned.run(DataUnit(kRack1.c_str()), DataUnit("(objectClass=circuitPack)"), -1, 1));
    EXPECT_GT(unpruned.count, 0); // so the case above tests the pruning

    Search gone;
    EXPECT_FALSE(gone.count_reachable(DataUnit("/systemId=\"nowhere\""), DataUnit("")));
    EXPECT_EQ(KVL_ERR_NO_OBJECT, gone.get_error_type());
}

// Many images booted at once end as each would alone: the same class read or the same
// error, in any mix, past the window of requests out at a time; a lost server fails the
// rest with the loss and nothing else.
TEST_F(KvlServer, BootImagesEndsEachAsItsOwnBootWould)
{
    const std::vector<std::pair<std::string, const char*>> kinds = {
        {kLeeds, ""},       {kRack1, "equipment"},         {kAtlantis, ""},
        {kLeeds, "equipmentRack"}, {"/systemId=\"unterminated", ""}, {"NONE", "unicorn"},
        {"/", ""},          {kLeeds + "/logId=\"alarmLog\"", ""},
    };
    std::vector<Image> batch, alone;
    for (int i = 0; i < 3 * KVL_BOOT_WINDOW; i++) {
        const auto& k = kinds[(i * 5) % kinds.size()];
        batch.push_back(at(k.first, k.second));
        alone.push_back(at(k.first, k.second));
    }
    int ok = 0;
    for (Image& img : alone) ok += img.boot(10);
    EXPECT_EQ(ok, boot_images(batch, 10));
    for (size_t i = 0; i < batch.size(); i++) {
        EXPECT_EQ(alone[i].get_error_type(), batch[i].get_error_type())
            << i << " " << alone[i].get_objname().str() << ": " << batch[i].get_error_string();
        EXPECT_STREQ(alone[i].get_objclass().str(), batch[i].get_objclass().str()) << i;
        EXPECT_EQ(alone[i].exists(), batch[i].exists()) << i;
        if (alone[i].get_error_type() == 0) {
            EXPECT_EQ(get(alone[i], "objectClass"), get(batch[i], "objectClass")) << i;
        }
    }

    MisProcess own;
    ASSERT_TRUE(own.start()) << own.failure();
    Platform p;
    ASSERT_TRUE(p.connect(DataUnit(own.address().c_str()), DataUnit("t"), 10));
    std::vector<Image> lost;
    for (int i = 0; i < 2 * KVL_BOOT_WINDOW; i++) lost.emplace_back(DataUnit(kRack1.c_str()), DataUnit(""), p);
    own.kill_now();
    EXPECT_EQ(0, boot_images(lost, 5));
    Image after(DataUnit(kRack1.c_str()), DataUnit(""), p);
    EXPECT_FALSE(after.boot(5));
    for (Image& img : lost) {
        EXPECT_NE(0, img.get_error_type());
        EXPECT_TRUE(img.get_error_type() == after.get_error_type() ||
                    img.get_error_type() == KVL_ERR_DISCONNECTED)
            << img.get_error_string();
    }
    kvl_poll(0);
}
