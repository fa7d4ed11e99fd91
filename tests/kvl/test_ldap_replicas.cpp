// Two slapd providers that replicate each other (multi-provider syncrepl), each followed by a
// KVL platform of its own as two editors would: an entry created, changed and deleted through
// one provider appears, changes and goes in the tracked album and image of the other, in both
// directions. Polling waits.
#include <gtest/gtest.h>

#include "kvl/kvl.h"
#include "slapd_process.h"

#include <cstdlib>
#include <deque>
#include <string>
#include <vector>

using qxtest::SlapdProcess;

namespace {

const char* kHosts = "/dc=example,dc=org/ou=hosts";

struct Seen {
    std::vector<std::string> events;
};

void seen_cb(void* client, void* call)
{
    CurrentEvent ev(call);
    std::string name = ev.get_objname().str();
    name = name.substr(name.rfind('/') + 1);
    static_cast<Seen*>(client)->events.push_back(
        ev.get_name() == OBJECT_CREATED     ? "created " + name
        : ev.get_name() == OBJECT_DESTROYED ? "destroyed " + name
                                            : "changed " + name + " " +
                                                  ev.get_attribute().str() + "=" +
                                                  ev.get_value().str());
}

// One editor's view of ou=hosts on one provider: the tracked container and its events.
struct Follower {
    Platform platform{DataUnit("QX"), DataUnit("")};
    Album hosts{DataUnit("hosts"), platform};
    Seen seen;

    bool follow(const SlapdProcess& server, std::string& why)
    {
        if (!platform.connect(server.url().c_str(), "replica test", 10)) {
            why = platform.get_error_string();
            return false;
        }
        hosts.set_derivation((std::string(kHosts) + "/*").c_str());
        hosts.set_prop(TRACKMODE, TRACK);
        hosts.when(OBJECT_CREATED, Callback(SchedContext::current(), seen_cb, &seen));
        hosts.when(OBJECT_DESTROYED, Callback(SchedContext::current(), seen_cb, &seen));
        if (!hosts.derive(10)) why = hosts.get_error_string();
        return why.empty();
    }

    // Tracks the image of one host for ATTR_CHANGED.
    Image& watch(const std::string& cn)
    {
        images.emplace_back(DataUnit((std::string(kHosts) + "/cn=" + cn).c_str()), DataUnit(),
                            platform);
        Image& image = images.back();
        image.boot(10);
        image.set_prop(TRACKMODE, TRACK);
        image.when(ATTR_CHANGED, Callback(SchedContext::current(), seen_cb, &seen));
        return image;
    }
    std::deque<Image> images; // stay where they are as more come
};

// The number of entries below ou=hosts on server, -1 when it cannot be read (yet).
int hosts_on(const SlapdProcess& server)
{
    Platform platform{DataUnit("QX"), DataUnit("")};
    if (!platform.connect(server.url().c_str(), "replica probe", 10)) return -1;
    Album hosts(DataUnit("probe"), platform);
    hosts.set_derivation((std::string(kHosts) + "/*").c_str());
    int n = hosts.derive(10) ? hosts.num_images() : -1;
    platform.disconnect();
    return n;
}

// Until seen holds n events, or 15 s pass; replication and following both take a moment.
bool events_arrive(Seen& seen, size_t n)
{
    for (int turns = 0; turns < 300 && seen.events.size() < n; turns++) kvl_poll(0.05);
    return seen.events.size() >= n;
}

TEST(LdapReplicas, ChangesThroughEitherProviderReachTheOther)
{
    if (!SlapdProcess::available()) GTEST_SKIP() << "no slapd";
    setenv("HOME", "/nonexistent", 1); // no ~/.ldaprc of the user's
    unsetenv("QX_PASSWORD_FILE");
    SlapdProcess one, two;
    one.fix_port();
    two.fix_port();
    one.replicate_with(two.url(), 1);
    two.replicate_with(one.url(), 2);
    ASSERT_TRUE(one.start(SlapdProcess::sample_ldif())) << one.failure();
    ASSERT_TRUE(two.start("")) << two.failure(); // its entries come from the first

    // The second provider holds the first's hosts once it has caught up.
    int caught_up = -1;
    for (int tries = 0; tries < 100 && (caught_up = hosts_on(two)) != 1; tries++) kvl_poll(0.1);
    ASSERT_EQ(1, caught_up) << "the second provider did not copy the first; its log: " << two.log();
    Follower at_one, at_two;
    std::string why;
    ASSERT_TRUE(at_one.follow(one, why)) << why;
    ASSERT_TRUE(at_two.follow(two, why)) << why;
    at_one.watch("leeds");
    at_two.watch("leeds");

    const std::string dn = ",ou=hosts,dc=example,dc=org";
    auto describe = [&](const char* cn, const char* text) {
        return "dn: cn=" + std::string(cn) + dn + "\nchangetype: modify\nreplace: description\n"
               "description: " + text + "\n";
    };
    struct Step {
        SlapdProcess* through;
        Follower* elsewhere;
        const char* tool;
        std::string input;
        std::vector<std::string> args;
        std::string expect;
        int members;
    } steps[] = {
        {&one, &at_two, "ldapadd", "dn: cn=york" + dn + "\nobjectClass: device\ncn: york\n", {},
         "created cn=york", 2},
        {&two, &at_one, "ldapadd", "dn: cn=hull" + dn + "\nobjectClass: device\ncn: hull\n", {},
         "created cn=hull", 3},
        {&two, &at_one, "ldapmodify", describe("leeds", "replicated"), {},
         "changed cn=leeds description=replicated", 3},
        {&one, &at_two, "ldapmodify", describe("leeds", "and back"), {},
         "changed cn=leeds description=and back", 3},
        {&one, &at_two, "ldapdelete", "", {"cn=york" + dn}, "destroyed cn=york", 2},
        {&two, &at_one, "ldapdelete", "", {"cn=hull" + dn}, "destroyed cn=hull", 1},
    };
    for (const Step& step : steps) {
        size_t before = step.elsewhere->seen.events.size();
        ASSERT_TRUE(step.through->change(step.tool, step.input, step.args)) << step.expect;
        EXPECT_TRUE(events_arrive(step.elsewhere->seen, before + 1)) << step.expect;
        // Let a doubled report show before it is compared.
        kvl_poll(0.3);
        std::vector<std::string> got(step.elsewhere->seen.events.begin() + (long)before,
                                     step.elsewhere->seen.events.end());
        EXPECT_EQ(std::vector<std::string>{step.expect}, got);
        EXPECT_EQ(step.members, step.elsewhere->hosts.num_images()) << step.expect;
    }
    EXPECT_STREQ("and back", at_one.images.back().get_str("description").str());
    EXPECT_STREQ("and back", at_two.images.back().get_str("description").str());
}

} // namespace
