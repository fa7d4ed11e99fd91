// Test support: the sample network's names and a fixture with a fresh server and one client.
#pragma once
#include <gtest/gtest.h>

#include "mis_process.h"

namespace qxtest {

const std::string LEEDS = "/systemId=\"leeds-core-1\"";
const std::string LOG = LEEDS + "/logId=\"alarmLog\"";
const std::string RACK1 = LEEDS + "/equipmentId=\"rack-1\"";
const std::string PORT1 =
    RACK1 + "/shelfId=\"shelf-1\"/slotNumber=3/circuitPackId=\"stm16-lr\"/tTPId=\"port-1\"";

// The names of the objects of a derive or search result, in order.
inline std::vector<std::string> names_of(const json& result)
{
    std::vector<std::string> out;
    for (auto& o : result["objects"]) out.push_back(o["name"]);
    return out;
}

// Whether reply is an error of code whose message holds text.
inline ::testing::AssertionResult refused(const json& reply, int code, const std::string& text)
{
    json e = reply.is_object() ? reply.value("error", json::object()) : json::object();
    if (e.value("code", 0) == code && contains(e.value("message", ""), text))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << reply.dump().substr(0, 300);
}

class ServerTest : public ::testing::Test {
protected:
    TempDir dir;
    MisProcess mis{dir.path};
    Client c{mis.port()};

    // The server still answers after whatever a test sent it.
    void TearDown() override
    {
        Client probe(mis.port());
        EXPECT_EQ(probe.result("get", {{"name", "/"}})["class"], "root") << mis.log();
    }
};

} // namespace qxtest
