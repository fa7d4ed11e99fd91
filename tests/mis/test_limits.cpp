// qx_mis under clients that try to starve others: all descriptors taken by idle or trickling
// connections, descriptors running out, replies left unread, a flood of actions, one client
// pipelining without end, and subscriptions with large filters. Each case starts its own server
// with the options it is about, and ends with a fresh client served normally.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <memory>

#include "server_test.h"

using namespace qxtest;

namespace {

size_t count(const std::string& text, const std::string& what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// Whether the server's log says `what` within `seconds`.
bool logged(const MisProcess& mis, const std::string& what, int seconds)
{
    return wait_until([&] { return mis.log().find(what) != std::string::npos; }, seconds);
}

// Connects clients until the server refuses one; returns those it serves.
std::vector<std::unique_ptr<Client>> fill(const MisProcess& mis, size_t at_most)
{
    std::vector<std::unique_ptr<Client>> served;
    while (served.size() < at_most) {
        auto c = std::make_unique<Client>(mis.port());
        json r = c->call("get", {{"name", "/"}});
        if (r.is_null()) {
            EXPECT_EQ(c->notes.empty() ? json() : c->notes.front()["error"]["code"], -32020);
            break;
        }
        served.push_back(std::move(c));
    }
    return served;
}

// A process's memory from /proc/PID/status, in KiB: "VmRSS:" resident now, "VmHWM:" its peak.
size_t memory_kib(pid_t pid, const std::string& field)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind(field, 0) == 0) return std::stoull(line.substr(field.size()));
    return 0;
}

// A subscription with a filter on the base; its reply.
json subscribe(Client& c, const std::string& base, const std::string& filter)
{
    return c.call("derive", {{"base", base}, {"filter", filter}, {"subscribe", true}});
}

// Sends n derive lines with a subscription at once and reads their replies; returns how many
// made a subscription, and the last refusal in `refusal`.
size_t subscribe_all(Client& c, const std::string& base,
                     const std::function<std::string(int)>& filter_of, int n,
                     json* refusal = nullptr)
{
    std::string lines;
    for (int i = 0; i < n; ++i)
        lines += request_line(100000 + i, "derive",
                              {{"base", base}, {"filter", filter_of(i)}, {"subscribe", true}});
    c.send_raw(lines);
    size_t made = 0;
    for (int i = 0; i < n; ++i) {
        json r = c.next(20000);
        if (r.is_null()) break;
        if (!r.contains("id")) {
            c.notes.push_back(r);
            --i;
        } else if (r.contains("result")) {
            ++made;
        } else if (refusal) {
            *refusal = r;
        }
    }
    return made;
}

// The subscriptions of these clients that heard OBJECT_CREATED / OBJECT_DESTROYED, each once,
// up to now: a request's reply comes after every notification queued for that client before.
// The raw events they heard go to `raw`, when given.
std::map<int, std::string> membership_events(const std::vector<Client*>& clients,
                                             std::vector<std::string>* raw = nullptr)
{
    std::map<int, std::string> out;
    for (Client* c : clients) {
        c->call("get", {{"name", "/"}});
        for (auto& n : c->notes) {
            if (raw && n.value("method", "") == "rawEvent") raw->push_back(n["params"]["event"]);
            if (n.value("method", "") != "event" || n["params"]["event"] == "ATTR_CHANGED")
                continue;
            EXPECT_EQ(out.count(n["params"]["subscription"]), 0u) << n.dump();
            out[n["params"]["subscription"]] = n["params"]["event"];
        }
        c->notes.clear();
    }
    return out;
}

} // namespace

class Limits : public ::testing::Test {
protected:
    TempDir dir;
    std::unique_ptr<MisProcess> server;

    MisProcess& start(std::vector<std::string> extra = {}, FileLimit files = {})
    {
        server = std::make_unique<MisProcess>(dir.path, std::move(extra), files);
        return *server;
    }
    void TearDown() override
    {
        if (!server) return;
        Client fresh(server->port());
        EXPECT_EQ(fresh.result("get", {{"name", "/"}})["class"], "root") << server->log();
    }
};
using ConnectionLimit = Limits;
using UnreadOutput = Limits;
using ActionPrograms = Limits;
using Turns = Limits;
using Filters = Limits;

// The server takes every descriptor its hard limit allows, and refuses the clients past its
// limit with one error line each (and one log line a period); a freed place is taken by the
// next client.
TEST_F(ConnectionLimit, GrowsToTheHardDescriptorLimitAndRefusesCleanly)
{
    MisProcess& mis = start({}, FileLimit{48, 160});
    auto served = fill(mis, 400);
    EXPECT_GT(served.size(),
              48u); // more clients than the soft limit it started with has descriptors
    EXPECT_LT(served.size(), 160u);
    for (int i = 0; i < 20; ++i) { // refusals in a row are logged once a period
        Client extra(mis.port());
        EXPECT_EQ(extra.next()["error"]["code"], -32020);
    }
    EXPECT_EQ(count(mis.log(), "refused 127.0.0.1"), 1u);
    // The freed place goes to the next client once the server has seen the close.
    served.pop_back();
    auto answered = [&] {
        return Client(mis.port()).call("get", {{"name", "/"}}).contains("result");
    };
    EXPECT_TRUE(wait_until(answered, 5)) << mis.log();
}

// Connections that trickle an incomplete line are dropped after its time limit, so they lock
// others out only that long; connections idle between requests stay however long they wait.
TEST_F(ConnectionLimit, IncompleteLinesTimeOutIdleConnectionsStay)
{
    MisProcess& mis = start({"--line-timeout", "1"}, FileLimit{64, 64});
    auto served = fill(mis, 200);
    ASSERT_GT(served.size(), 8u);
    std::vector<std::unique_ptr<Client>> idle(std::make_move_iterator(served.begin()),
                                              std::make_move_iterator(served.begin() + 4));
    served.erase(served.begin(), served.begin() + 4);
    std::string slow = "{\"jsonrpc\":\"2.0\",\"id\":7,\"method\":\"get\",\"params\":{}}";
    for (size_t i = 0; i < 10; ++i) { // a byte each 0.25 s: never quite silent
        for (auto& c : served) c->send_raw(slow.substr(i, 1));
        usleep(250000);
    }
    for (auto& c : served) EXPECT_TRUE(c->closed()) << mis.log();
    EXPECT_NE(mis.log().find("request line incomplete for more than 1 s"), std::string::npos);
    for (auto& c : idle) EXPECT_EQ(c->result("get", {{"name", "/"}})["name"], "/");
}

// With the descriptors gone, accepting pauses and the failure is logged once a period, not
// once for every turn of the loop.
TEST_F(ConnectionLimit, AcceptFailingForLackOfDescriptorsRestsAndLogsOnce)
{
    MisProcess& mis = start({"--max-clients", "500"}, FileLimit{48, 48});
    {
        std::vector<std::unique_ptr<Client>> waiting;
        for (int i = 0; i < 80; ++i) waiting.push_back(std::make_unique<Client>(mis.port()));
        // Time is what this case is about: six rests of the listening socket, of which only
        // the first is logged.
        usleep(1500000);
        std::string log = mis.log();
        EXPECT_EQ(count(log, "accept: Too many open files"), 1u) << log.substr(0, 2000);
        EXPECT_LT(log.size(), 20000u);
    }
    EXPECT_EQ(Client(mis.port()).result("get", {{"name", "/"}})["name"], "/");
    EXPECT_NE(mis.log().find("accepting clients again"), std::string::npos);
}

// A batch of derives of a large container used to be answered whole: the server built every
// answer in memory before any limit applied (50 derives of 20,000 children took 601 MB, 1000 ran
// it out of memory) and then dropped the client for the line's size although it read. The
// answers are now made as the client reads: the client gets all of them, in order, on one line,
// its next request's reply after it; others are served while it does not read; and the server's
// memory grows by less than what the batch answers (it used to hold all of it, and more).
TEST_F(UnreadOutput, BatchOfLargeAnswersGoesAsFastAsTheClientReads)
{
    // AddressSanitizer keeps up to 256 MB of freed memory from reuse; without that quarantine
    // the peak shows what the server holds at once.
    std::string asan = std::getenv("ASAN_OPTIONS") ? std::getenv("ASAN_OPTIONS") : "";
    setenv("ASAN_OPTIONS", (asan + ":quarantine_size_mb=0").c_str(), 1);
    MisProcess& mis = start({"--seed", big_network(dir.path, 1000), "--max-unsent", "2"});
    setenv("ASAN_OPTIONS", asan.c_str(), 1);
    Client other(mis.port());
    other.result("derive", {{"base", BIG}});
    size_t before = memory_kib(mis.pid(), "VmHWM:");
    const int n = 100;
    std::string batch;
    for (int i = 0; i < n; ++i)
        batch += (i ? "," : "[") + request(i, "derive", {{"base", BIG}}).dump();
    Client c(mis.port());
    c.send_raw(batch + "]\n" + request_line("after", "get", {{"name", "/"}}));
    EXPECT_EQ(other.result("get", {{"name", BIG}})["name"], BIG);
    std::string line = c.next_text();
    size_t bytes = line.size();
    json answers = json::parse(line, nullptr, false);
    ASSERT_TRUE(answers.is_array()) << "dropped after " << bytes << " bytes\n" << mis.log();
    ASSERT_EQ(answers.size(), size_t(n));
    for (int i = 0; i < n; ++i) {
        EXPECT_EQ(answers[i]["id"], i);
        EXPECT_EQ(answers[i]["result"]["count"], 1000) << i;
    }
    EXPECT_EQ(c.next()["id"], "after");
    size_t grown = memory_kib(mis.pid(), "VmHWM:") - before;
    EXPECT_LT(grown * 1024, bytes) << grown << " KiB more for " << bytes << " bytes";
}

// Clients that pipeline large requests and never read are held to their share: past the
// limit on all clients' unread output, the one holding the most is dropped.
TEST_F(UnreadOutput, AllClientsTogetherStayUnderTheTotalLimit)
{
    MisProcess& mis = start({"--seed", big_network(dir.path, 16000), "--max-unsent-total", "2"});
    std::string batch;
    for (int i = 0; i < 30; ++i) batch += request_line(i, "derive", {{"base", BIG}});
    std::vector<std::unique_ptr<Client>> lazy;
    for (int i = 0; i < 3; ++i) {
        lazy.push_back(std::make_unique<Client>(mis.port()));
        lazy.back()->send_raw(batch);
    }
    // None reads until the server has dropped one: a client that reads sooner keeps its own
    // output low, and how soon the others pass the limit depends on the machine's load.
    EXPECT_TRUE(logged(mis, "unread output of all clients would pass 2 MiB", 30)) << mis.log();
    size_t dropped = 0;
    for (auto& c : lazy) dropped += c->closed(2000);
    EXPECT_GE(dropped, 1u) << mis.log();
}

// A client that pipelines requests with large answers and does not read is not served while its
// unread output is past a pause: it is neither dropped nor held in the server's memory, and gets
// every answer once it reads.  Between two answers to another client every client the server
// would serve has a turn, so after more of those answers than there are requests the lazy
// client's requests would all have been answered, far past its limit.
TEST_F(UnreadOutput, PipelinedLargeAnswersWaitUntilTheClientReads)
{
    MisProcess& mis = start({"--seed", big_network(dir.path, 16000), "--max-unsent", "4"});
    const int n = 40; // some 50 MB of answers
    std::string lines;
    for (int i = 0; i < n; ++i) lines += request_line(i, "derive", {{"base", BIG}});
    Client lazy(mis.port()), probe(mis.port());
    lazy.send_raw(lines);
    for (int i = 0; i < 2 * n; ++i) ASSERT_EQ(probe.result("get", {{"name", "/"}})["name"], "/");
    for (int i = 0; i < n; ++i) {
        json r = lazy.next(60000);
        ASSERT_EQ(r.value("id", json()), i) << mis.log();
        EXPECT_EQ(r["result"]["count"], 16000);
    }

    // A subscriber that does not read while the large subtree goes is dropped when its unread
    // output passes its limit; the client that deleted it reads and stays. Deleting 16001
    // objects takes some 10 s on a loaded machine under the sanitizer: longer than call() waits.
    Client deaf(mis.port());
    deaf.result("derive", {{"base", BIG}, {"subscribe", true}});
    probe.send_raw(request_line("gone", "delete", {{"name", BIG}}));
    json r;
    do r = probe.next(120000);
    while (!r.is_null() && r.value("id", json()) != "gone");
    EXPECT_EQ(r["result"]["count"], 16001);
    EXPECT_TRUE(logged(mis, "more than 4 MiB unread", 30)) << mis.log();
    EXPECT_TRUE(deaf.closed(5000));
    EXPECT_EQ(probe.result("get", {{"name", "/"}})["name"], "/");
}

// Actions beyond those running at once wait their turn, and their time limit starts with
// them; beyond the waiting places they are refused.
TEST_F(ActionPrograms, FloodIsQueuedAndBounded)
{
    std::ifstream in(QX_SAMPLE_SCHEMA);
    std::ofstream schema(dir.path + "/schema.txt");
    for (std::string line; std::getline(in, line);)
        schema << (line.find("action loopbackTest program") != std::string::npos
                       ? "    action loopbackTest program qx_test_action timeout 3"
                       : line)
               << "\n";
    schema.close();
    // The program's path is absolute, so ${0%/*} is this folder.
    std::ofstream(dir.path + "/qx_test_action") << R"(#!/bin/sh
case "$3" in
  nap) sleep 0.3; echo rested ;;
  env) echo "PATH=$PATH LANG=$LANG HOME=$HOME SECRET=${QX_TEST_SECRET-none}" ;;
  spawn) sleep 30 & echo $! > "${0%/*}/child.pid"; sleep 30 ;;
  daemon) sleep 30 & echo $! > "${0%/*}/daemon.pid"; echo started ;;
esac
)";
    chmod((dir.path + "/qx_test_action").c_str(), 0755);
    setenv("QX_TEST_SECRET", "kept from actions", 1);
    MisProcess& mis = start(
        {"--schema", dir.path + "/schema.txt", "--max-actions", "2", "--max-queued-actions", "22"});
    unsetenv("QX_TEST_SECRET");
    Client c(mis.port());
    auto test = [](const char* parameter) {
        return json{{"name", PORT1}, {"action", "loopbackTest"}, {"parameter", parameter}};
    };

    // 2 run, 22 wait (12 rounds of 0.3 s, past the 3 s limit), 6 are refused; each program
    // runs well inside its limit, so a loaded machine does not push it past
    std::string batch;
    for (int i = 1; i <= 30; ++i) batch += request_line(i, "action", test("nap"));
    c.send_raw(batch);
    int rested = 0, refused = 0;
    for (int i = 0; i < 30; ++i) {
        json r = c.next(10000);
        ASSERT_FALSE(r.is_null()) << "answered " << i << "\n" << mis.log();
        if (r.contains("result") && r["result"]["reply"] == "rested\n")
            ++rested;
        else if (qxtest::refused(r, -32010, "waiting"))
            ++refused;
        else
            ADD_FAILURE() << r.dump();
    }
    EXPECT_EQ(rested, 24);
    EXPECT_EQ(refused, 6);

    // the program sees a fixed environment, not the server's
    const char* home = std::getenv("HOME");
    EXPECT_EQ(c.result("action", test("env"))["reply"],
              "PATH=/usr/bin:/bin LANG=C HOME=" + std::string(home && *home ? home : "/") +
                  " SECRET=none\n");

    // a program that exits 0 while a child it left holds its output succeeds as it exits; it
    // used to fail at its time limit
    EXPECT_EQ(c.result("action", test("daemon"))["reply"], "started\n");
    std::ifstream daemon_pid(dir.path + "/daemon.pid");
    pid_t daemon = 0;
    if (daemon_pid >> daemon) kill(daemon, SIGKILL);

    // past its time limit the program goes with the child it started
    json late = c.call("action", test("spawn"));
    EXPECT_EQ(late["error"]["code"], -32010) << late.dump();
    std::ifstream pidfile(dir.path + "/child.pid");
    pid_t child = 0;
    ASSERT_TRUE(pidfile >> child);
    auto gone = [&] {
        std::string s = read_file("/proc/" + std::to_string(child) + "/stat");
        size_t paren = s.rfind(')');
        return s.empty() || (paren != std::string::npos && s.compare(paren + 2, 1, "Z") == 0);
    };
    EXPECT_TRUE(wait_until(gone, 2))
        << "the action's child " << child << " outlived its time limit";
    if (!gone()) kill(child, SIGKILL);

    // a client that sends an action and shuts its side at once (as nc does) still gets the reply
    Client brief(mis.port());
    brief.send_raw(request_line(1, "action", test("nap")));
    brief.finish_sending();
    json r = brief.next(10000);
    ASSERT_TRUE(r.contains("result")) << "no reply to a client that shut its side: " << r.dump();
    EXPECT_EQ(r["result"]["reply"], "rested\n");
}

// A turn is bounded in time as well as in lines: 60 searches of the whole tree, each costly
// but short, do not all go in one turn, so another client's set is served between them and
// the later searches see it.  The tree holds 20,000 objects, so that each search costs more
// than a turn on any machine: on a fast one, 60 searches of the sample network end before the
// set comes.
TEST_F(Turns, CostlyRequestsLetOthersInBetween)
{
    MisProcess& mis = start({"--seed", big_network(dir.path, 20000)});
    Client busy(mis.port()), other(mis.port());
    const json search = {{"base", "/"}, {"filter", "(userLabel=marked-between)"}, {"limit", 0}};
    std::string lines;
    for (int i = 1; i <= 60; ++i) lines += request_line(i, "search", search);
    busy.send_raw(lines);
    ASSERT_EQ(busy.next()["result"]["count"], 0);
    other.result("set",
                 {{"name", "/systemId=\"big\""}, {"values", {{"userLabel", "marked-between"}}}});
    json last;
    do last = busy.next(60000);
    while (!last.is_null() && last.value("id", 0) != 60);
    EXPECT_EQ(last["result"]["count"], 1) << "the set waited for all 60 searches";
}

// Every kind of filter sees what its set gains and loses, whether it is filed under its
// equality terms or looked at for every change: each change is checked against what a derive
// with the same filter answers before and after it, and a set that moves an object in or out
// of a set reports no creation or deletion as a raw event.
TEST_F(Filters, SubscriptionsOfEveryKindHearExactlyTheirChanges)
{
    MisProcess& mis = start();
    Client writer(mis.port()), sub(mis.port());
    std::vector<std::string> filters = {
        "",
        "(userLabel=L1)",
        "(x721:userLabel=L1)", // the same filter again: held once, heard by both subscriptions
        "(|(userLabel=L1)(userLabel=L2))",
        "(&(objectClass=equipmentRack)(userLabel=L2))",
        "(objectClass=equipment)",
        "(!(userLabel=L1))",
        "(userLabel=L*)",
        "(&(userLabel=L2)(administrativeState=locked))",
        "(|(administrativeState=locked)(userLabel=L1))",
        "(|(userLabel=a)(userLabel=b)(userLabel=c)(userLabel=d)(userLabel=e)(userLabel=f)"
        "(userLabel=g)(userLabel=h)(userLabel=L3))", // more terms than a filter is filed under
        "(vendorName=Halden Photonics)",
    };
    std::map<int, std::string> by_id;
    for (auto& f : filters) {
        json r = f.empty() ? sub.call("derive", {{"base", LEEDS}, {"subscribe", true}})
                           : subscribe(sub, LEEDS, f);
        ASSERT_TRUE(r.contains("result")) << f << ": " << r.dump();
        by_id[r["result"]["subscription"]] = f;
    }
    auto members = [&](const std::string& name) {
        std::map<int, bool> in;
        for (auto& [id, f] : by_id) {
            json params = {{"base", LEEDS}};
            if (!f.empty()) params["filter"] = f;
            auto names = names_of(writer.result("derive", params));
            in[id] = std::find(names.begin(), names.end(), name) != names.end();
        }
        return in;
    };
    const std::string SPARE = LEEDS + "/equipmentId=\"spare\"";
    std::vector<std::pair<std::string, json>> steps = {
        {"set", {{"name", RACK1}, {"values", {{"userLabel", "L1"}}}}},
        {"set", {{"name", RACK1}, {"values", {{"userLabel", "L2"}}}}},
        {"set", {{"name", RACK1}, {"values", {{"administrativeState", "locked"}}}}},
        {"set", {{"name", RACK1}, {"values", {{"userLabel", "L3"}}}}},
        {"set",
         {{"name", RACK1}, {"values", {{"userLabel", "x"}, {"administrativeState", "unlocked"}}}}},
        {"create",
         {{"parent", LEEDS},
          {"class", "equipmentRack"},
          {"values", {{"equipmentId", "spare"}, {"userLabel", "L2"}}}}},
        {"delete", {{"name", SPARE}}},
    };
    for (auto& [method, params] : steps) {
        std::string name = method == "set" ? RACK1 : SPARE;
        auto was = members(name);
        writer.result(method, params);
        auto is = members(name);
        std::vector<std::string> raw;
        auto heard = membership_events({&sub}, &raw);
        // An object entering or leaving a set was not created or destroyed: the raw events of
        // a set tell only of the values it changed.
        if (method == "set") {
            EXPECT_FALSE(raw.empty()) << params.dump();
            for (auto& r : raw) EXPECT_EQ(r, "ATTR_CHANGED") << params.dump();
        }
        for (auto& [id, f] : by_id) {
            std::string want = was[id] == is[id] ? ""
                               : is[id]          ? "OBJECT_CREATED"
                                                 : "OBJECT_DESTROYED";
            EXPECT_EQ(heard.count(id) ? heard[id] : "", want)
                << method << " " << params.dump() << "\n  " << f;
        }
    }
}

// Parsed filters are limited by the bytes they take, those of one client and those of all
// together: past either a subscription is refused with a message naming the limit, a filter
// another client holds already costs the server nothing, and a client that leaves frees its
// share for others.
TEST_F(Filters, ParsedFiltersAreBoundPerClientAndForAll)
{
    MisProcess& mis = start({"--max-client-filter-memory", "1", "--max-filter-memory", "2"});
    // About 8 KiB of terms that no reduction shortens: some 60 KB parsed.
    auto costly = [](const std::string& who) {
        return [who](int i) {
            std::string f = "(|";
            for (int j = 0; j < 400; ++j)
                f += "(userLabel=" + who + std::to_string(i) + "-" + std::to_string(j) + ")";
            return f + ")";
        };
    };
    auto a = std::make_unique<Client>(mis.port());
    Client b(mis.port()), c(mis.port()), d(mis.port());
    json refusal;
    size_t made = subscribe_all(*a, LEEDS, costly("a"), 40, &refusal);
    EXPECT_GT(made, 5u);
    EXPECT_LT(made, 40u);
    EXPECT_TRUE(
        refused(refusal, -32014, "a client's subscriptions hold at most 1048576 bytes of filters"));
    // a filter it holds already costs it nothing more; small ones still fit
    EXPECT_TRUE(subscribe(*a, LEEDS, costly("a")(0)).contains("result"));
    EXPECT_EQ(subscribe_all(b, LEEDS, costly("b"), 40), made);

    // all clients together: the third client finds the rest of the room taken
    refusal = json();
    EXPECT_LT(subscribe_all(c, LEEDS, costly("c"), 40, &refusal), made);
    EXPECT_TRUE(refused(refusal, -32014,
                        "the subscriptions of all clients hold at most 2097152 bytes of filters"));
    EXPECT_TRUE(subscribe(d, LEEDS, costly("a")(1)).contains("result")); // held by a: shared
    a.reset();
    // until the server has seen a leave
    wait_until([&] { return subscribe(c, LEEDS, costly("c")(99)).contains("result"); }, 2);
    EXPECT_GT(subscribe_all(c, LEEDS, costly("c2-"), 5), 3u);
}
