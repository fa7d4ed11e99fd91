// Derivations in pages: KVL against a real qx_mis seeded with containers of a few sizes, pages of
// 100 members (QX_KVL_PAGE_SIZE), and another client changing the set during a derivation.
#include <gtest/gtest.h>

#include "kvl/album_pages.h"
#include "kvl/kvl.h"
#include "held_values.h"
#include "mis_process.h"
#include "scripted_server.h"

#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <vector>

using qxtest::Client;
using qxtest::MisProcess;
using qxtest::TempDir;
using nlohmann::json;

namespace {

const std::string kBase = "/systemId=\"pg\"";

std::string log_of(int n)
{
    return kBase + "/logId=\"n" + std::to_string(n) + "\"";
}

std::string record(int n, int i)
{
    return log_of(n) + "/logRecordId=" + std::to_string(i);
}

// A network with one log of n records for each n of sizes.
std::string paged_network(const std::string& dir, const std::vector<int>& sizes)
{
    std::string path = dir + "/paged.txt";
    std::ofstream out(path);
    out << "object " << kBase << " managedElement\n";
    for (int n : sizes) {
        out << "object " << log_of(n) << " log\n";
        for (int i = 1; i <= n; ++i) out << "object " << record(n, i) << " alarmRecord\n";
    }
    return path;
}

// What a page callback saw.
struct Seen {
    std::vector<std::string> names;
    int pages = 0;
    long of = -1, received = 0;
    bool done = false;
    int stop_after = 0;                  // pages after which to stop; 0: never
    std::function<void(int page)> after; // runs after each page
};

bool seen_cb(void* client, const AlbumPage& page)
{
    Seen& s = *static_cast<Seen*>(client);
    for (AlbumImage ai = page.first; ai; ai.next_image())
        s.names.push_back(ai.image().get_objname().str());
    s.pages++;
    s.of = page.of;
    s.received = page.received;
    s.done = page.done;
    if (s.after) s.after(s.pages);
    return s.stop_after == 0 || s.pages < s.stop_after;
}

void count_cb(void* client, void*)
{
    ++*static_cast<int*>(client);
}

class KvlPaging : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        setenv("QX_KVL_PAGE_SIZE", "100", 1);
        dir = new TempDir;
        mis = new MisProcess(dir->path, {"--seed", paged_network(dir->path, {0, 1, 100, 101, 3000})});
        platform = new Platform(DataUnit("QX"), DataUnit(""));
        ASSERT_TRUE(platform->connect(DataUnit(mis->address().c_str()), DataUnit("paging"), 10))
            << platform->get_error_string();
    }
    static void TearDownTestSuite()
    {
        delete platform;
        Platform::def_platform = Platform();
        delete mis;
        delete dir;
        unsetenv("QX_KVL_PAGE_SIZE");
    }

    Album album_of(const std::string& base, bool track = false)
    {
        Album a(DataUnit((base + ".nick").c_str()));
        EXPECT_TRUE(a.set_derivation(DataUnit((base + "/*").c_str())));
        if (track) a.set_prop(TRACKMODE, TRACK);
        return a;
    }

    static inline TempDir* dir = nullptr;
    static inline MisProcess* mis = nullptr;
    static inline Platform* platform = nullptr;
};

// Empty, one, a page, a page and one: every member comes once, in the server's order, in as
// many pages as it takes, and derive() returns with the whole set.
TEST_F(KvlPaging, PagesBringEverySizeWholeAndOnce)
{
    struct Case {
        int n, pages;
    } cases[] = {{0, 1}, {1, 1}, {100, 1}, {101, 2}, {3000, 30}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.n);
        Album a = album_of(log_of(c.n));
        Seen seen;
        set_page_callback(a, seen_cb, &seen);
        ASSERT_TRUE(a.derive(30)) << a.get_error_string();
        EXPECT_EQ(c.n, a.num_images());
        EXPECT_EQ(c.pages, seen.pages);
        EXPECT_EQ(c.n, seen.of);
        EXPECT_EQ(c.n, seen.received);
        EXPECT_TRUE(seen.done);
        EXPECT_EQ(names_of(a), seen.names);
        EXPECT_EQ(size_t(c.n), std::set<std::string>(seen.names.begin(), seen.names.end()).size());
        EXPECT_EQ(0u, album_removals(a)) << "nothing left the set";
    }
}

// Another client deletes a member already received and one not yet received, and creates one,
// while the pages come: the set ends as the server holds it, the new member comes by its report
// alone, and no page names a member twice or a deleted one.
TEST_F(KvlPaging, ChangesByAnotherClientMeanwhileAreNeitherLostNorDoubled)
{
    Client other(mis->port());
    const std::string early = record(3000, 1), late = record(3000, 999),
                      made = record(3000, 5000);
    Album a = album_of(log_of(3000), true);
    int created = 0, destroyed = 0;
    a.when(OBJECT_CREATED, Callback(count_cb, &created));
    a.when(OBJECT_DESTROYED, Callback(count_cb, &destroyed));
    Seen seen;
    unsigned long removals_before = 0;
    seen.after = [&](int page) {
        if (page != 1) return;
        removals_before = album_removals(a);
        other.result("delete", {{"name", early}});
        other.result("delete", {{"name", late}});
        other.result("create", {{"parent", log_of(3000)},
                                {"class", "alarmRecord"},
                                {"values", {{"logRecordId", "5000"}}}});
    };
    set_page_callback(a, seen_cb, &seen);
    ASSERT_TRUE(a.derive(30)) << a.get_error_string();
    std::set<std::string> now;
    json current = other.result("derive", {{"base", log_of(3000)}});
    for (auto& o : current["objects"]) now.insert(o["name"].get<std::string>());
    std::vector<std::string> held;
    auto settled = [&] { // the reports that came after the last page taken in
        held = names_of(a);
        return created == 1 && destroyed == 2 &&
               now == std::set<std::string>(held.begin(), held.end());
    };
    for (int i = 0; i < 100 && !settled(); i++) kvl_poll(0.1);
    EXPECT_EQ(now, std::set<std::string>(held.begin(), held.end()));
    EXPECT_EQ(now.size(), held.size());
    std::set<std::string> paged(seen.names.begin(), seen.names.end());
    EXPECT_EQ(paged.size(), seen.names.size()) << "a page named a member twice";
    EXPECT_FALSE(paged.count(made)) << "a page named a member made after the derivation began";
    EXPECT_EQ(1, created);
    EXPECT_EQ(2, destroyed);
    // The member received and then deleted left the set: a caller holding earlier pages learns
    // that it has to look its members up again.
    EXPECT_GT(album_removals(a), removals_before);

    // Put back for the other tests.
    other.result("delete", {{"name", made}});
    other.result("create", {{"parent", log_of(3000)}, {"class", "alarmRecord"}, {"values", {{"logRecordId", "1"}}}});
    other.result("create", {{"parent", log_of(3000)}, {"class", "alarmRecord"}, {"values", {{"logRecordId", "999"}}}});
}

// A page callback that says stop: derive() fails with KVL_ERR_STOPPED, the album keeps the
// members of the pages seen, the server sends no more of them, and the next derivation of the
// same album brings the whole set.
TEST_F(KvlPaging, StoppedDerivationKeepsItsPagesAndCanBeDoneAgain)
{
    Album a = album_of(log_of(3000), true);
    Seen seen;
    seen.stop_after = 3;
    set_page_callback(a, seen_cb, &seen);
    EXPECT_FALSE(a.derive(30));
    EXPECT_EQ(KVL_ERR_STOPPED, a.get_error_type());
    EXPECT_EQ(300, a.num_images());
    EXPECT_EQ(names_of(a), seen.names);

    Image probe(DataUnit(log_of(3000).c_str()), DataUnit(""));
    EXPECT_TRUE(probe.boot(10)) << probe.get_error_string();
    set_page_callback(a, nullptr, nullptr);
    a.reset_error();
    ASSERT_TRUE(a.derive(30)) << a.get_error_string();
    EXPECT_EQ(3000, a.num_images());
}

// A client asking the old way: the whole set in one reply while it fits, else the limit's
// error, which names the pages.  Pages list what was there when the derivation began, and
// asked for pages, the same container comes whole.
TEST(KvlPagingLimits, OneReplyWhenItFitsTheNamedErrorWhenNot)
{
    TempDir dir;
    MisProcess small(dir.path, {"--seed", paged_network(dir.path, {3000, 10000}), "--max-unsent", "1"});
    Client c(small.port());
    EXPECT_EQ(3000, c.result("derive", {{"base", log_of(3000)}})["count"]);
    json refused = c.call("derive", {{"base", log_of(10000)}});
    EXPECT_EQ(-32014, refused["error"]["code"]);
    EXPECT_NE(std::string::npos,
              refused["error"]["message"].get<std::string>().find("\"paged\": true"))
        << refused;
    EXPECT_EQ(100, c.result("search",
                            {{"base", log_of(3000)}, {"limit", 100}, {"values", true}})["objects"]
                       .size());
    json r;
    // A child made while the pages go out is not in them (it sorts last): they list what was
    // there when the derivation began, and the create's report tells of the rest.
    const std::string made = record(3000, 5000);
    c.send_raw(qxtest::request_line("q", "derive",
                                    {{"base", log_of(3000)}, {"paged", true}, {"page_size", 1}}) +
               qxtest::request_line("made", "create",
                                    {{"parent", log_of(3000)},
                                     {"class", "alarmRecord"},
                                     {"values", {{"logRecordId", "5000"}}}}));
    size_t listed = 0;
    bool created = false, done = false;
    while (!(done && created) && !(r = c.next(10000)).is_null()) {
        if (r["id"] == "made") created = r.contains("result");
        if (r["id"] != "q") continue;
        done = r["result"]["done"].get<bool>();
        for (auto& o : r["result"]["objects"]) listed += o["name"] == made ? 1000000 : 1;
    }
    EXPECT_TRUE(created && done);
    EXPECT_EQ(3000u, listed) << "a page listed " << made << ", made after the derivation began";

    setenv("QX_KVL_PAGE_SIZE", "500", 1);
    Platform p;
    ASSERT_TRUE(p.connect(DataUnit(small.address().c_str()), DataUnit("paging"), 10));
    Album a(DataUnit("big.nick"), p);
    a.set_derivation(DataUnit((log_of(10000) + "/*").c_str()));
    EXPECT_TRUE(a.derive(60)) << a.get_error_string();
    EXPECT_EQ(10000, a.num_images());

    // The server lost part way: a server that sends the first page and goes, so that the
    // loss surely comes before the last page. derive() fails with the loss.
    ScriptedServer gone([](ScriptedServer::Peer& peer) {
        std::string line;
        while (!(line = peer.read_line()).empty() && line.find("\"derive\"") == std::string::npos) {
        }
        const std::string base = log_of(9);
        json page = {{"jsonrpc", "2.0"},
                     {"id", ScriptedServer::Peer::id_of(line)},
                     {"result",
                      {{"base", base},
                       {"count", 1},
                       {"objects", json::array({{{"name", base + "/logRecordId=1"}, {"class", "alarmRecord"}}})},
                       {"done", false},
                       {"of", 9},
                       {"page", 1},
                       {"sent", 1}}}};
        peer.write(page.dump() + "\n");
        shutdown(peer.fd, SHUT_RDWR);
    });
    Platform q;
    ASSERT_TRUE(q.connect(DataUnit(gone.address().c_str()), DataUnit("paging"), 10))
        << q.get_error_string();
    Album lost(DataUnit("lost.nick"), q);
    lost.set_derivation(DataUnit((log_of(9) + "/*").c_str()));
    Seen seen;
    set_page_callback(lost, seen_cb, &seen);
    EXPECT_FALSE(lost.derive(30));
    EXPECT_NE(std::string::npos, std::string(lost.get_error_string()).find("lost"))
        << lost.get_error_string();
    EXPECT_LE(seen.pages, 1); /* the page, when it was taken before the loss */
    EXPECT_EQ(0, lost.num_images());
    EXPECT_FALSE(q.is_connected());
    setenv("QX_KVL_PAGE_SIZE", "100", 1);
}

} // namespace
