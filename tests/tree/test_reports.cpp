/*
 * test_reports.cpp - the navigator following objects that another client
 * creates and deletes, against a real qx_mis, in process under X: bursts of
 * any size (handled one after the other, not nested), and creations mixed
 * with deletions.
 */
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app/globals.h"
#include "gui_fixture.h"
#include "mis_process.h"
#include "tree/build_tree.h"
#include "tree/data_object.h"
#include "tree/navigator.h"
#include "tree/selection.h"
#include "ui/main_win.h"
/* Private: the order of the rows is read from the outline's node records. */
#include "XiHierarchyP.h"

namespace {

qxtest::TempDir* dir = nullptr;
qxtest::MisProcess* mis = nullptr;

std::string system_fdn(const char* id)
{
    return std::string("/systemId=\"") + id + "\"";
}

std::string rack_fdn(const std::string& parent, const std::string& id)
{
    return parent + "/equipmentId=\"" + id + "\"";
}

/* The FDNs of the rows under obj's node, in their order in the outline. */
std::vector<std::string> rows_of(DataObject* obj)
{
    std::vector<std::string> out;
    HierarchyConstraints parent = XiHierarchyNode(obj->node);
    for (Cardinal i = 0; i < parent->hierarchy.num_children; i++) {
        DataObject* o = find_object(parent->hierarchy.children[i]->hierarchy.widget);
        out.push_back(o && o->name ? o->name : "(no object)");
    }
    return out;
}

std::vector<std::string> sorted(std::vector<std::string> v)
{
    std::sort(v.begin(), v.end(), [](const std::string& a, const std::string& b) {
        return strcmp(a.c_str(), b.c_str()) < 0;
    });
    return v;
}

/* How many registered objects are named fdn. */
size_t registered_as(const std::string& fdn)
{
    size_t n = 0;
    for (size_t i = 0; i < DataObject::object_list.entries(); i++)
        if (strcmp(DataObject::object_list.at(i)->name, fdn.c_str()) == 0)
            n++;
    return n;
}

void open_node(DataObject* obj)
{
    XtVaSetValues(obj->node, XiNnodeState, XiOpen, NULL);
    XiHierarchyNodeStateData data = {obj->node, XiOpen};
    node_state_cb(main_window->mw_navigator, nullptr, &data);
}

/* The first tree from "/" (the systems shown closed and derived), with the
 * system `id` opened. */
DataObject* open_system(const char* id)
{
    static std::string root_fdn = "/";
    default_root = const_cast<char*>(root_fdn.c_str());
    default_scope = 1;
    build_tree();
    DataObject* sys = find_album_object(system_fdn(id).c_str());
    if (sys && sys->node)
        open_node(sys);
    return sys;
}

std::string request(long id, const char* method, const qxtest::json& params)
{
    return qxtest::json{{"jsonrpc", "2.0"}, {"id", id}, {"method", method}, {"params", params}}
               .dump() + "\n";
}

std::string create_line(long id, const std::string& parent, const std::string& rack)
{
    return request(id, "create", {{"parent", parent},
                                  {"class", "equipmentRack"},
                                  {"values", {{"equipmentId", rack}}}});
}

/* Sends lines to the server on a connection of its own, all at once, and
 * counts the error replies; run on a thread while the editor's loop goes on. */
struct Pipeline {
    std::string lines;
    size_t requests = 0;
    int errors = -1;
    std::thread thread;

    void add(const std::string& line)
    {
        lines += line;
        requests++;
    }
    void start()
    {
        thread = std::thread([this] {
            qxtest::Client client(mis->port());
            client.send_raw(lines);
            int failed = 0;
            for (size_t replies = 0; replies < requests;) {
                qxtest::json j = client.next(60000);
                if (j.is_null())
                    break;
                if (!j.contains("id"))
                    continue;
                replies++;
                if (j.contains("error"))
                    failed++;
            }
            errors = failed;
        });
    }
    void finish()
    {
        if (thread.joinable())
            thread.join();
    }
};

struct Reports : ::testing::Test {
    static void SetUpTestSuite()
    {
        if (!gui_up())
            return;
        dir = new qxtest::TempDir;
        mis = new qxtest::MisProcess(dir->path);
        std::string address = "127.0.0.1:" + std::to_string(mis->port());
        ASSERT_TRUE(platform.connect(DataUnit(address.c_str()), DataUnit("qx_tarn"), 10))
            << platform.get_error_string();
        Platform::def_platform = platform;
    }
    static void TearDownTestSuite()
    {
        reset();
        platform.disconnect();
        delete mis;
        delete dir;
        mis = nullptr;
    }
    static void reset()
    {
        DataObject::selected_list.clear();
        DataObject::object_list.clear_and_destroy();
        CurrentCookie++;
        root = nullptr;
        check_selected(0);
        pump_for(0.05);
    }
    void SetUp() override
    {
        if (!gui_up())
            GTEST_SKIP() << "no X display";
        ASSERT_TRUE(platform.is_connected());
        reset();
        fdn_name = false;
        current_filter = nullptr;
    }
};

/* Each report of a creation waits for a derivation, and the next reports
 * arrive during that wait; once they nested, a burst of about 3,500
 * overflowed the stack. */
TEST_F(Reports, SlowBurstOfTwentyThousandCreations)
{
    const int count = 20000;
    DataObject* york = open_system("york-agg-1");
    ASSERT_TRUE(york && york->node);
    std::vector<std::string> expected = rows_of(york);
    Pipeline pipe;
    for (int i = 0; i < count; i++) {
        /* Out of name order, so that each row has to find its place. */
        std::string id = "b" + std::to_string(100000 + (i * 7919) % count);
        pipe.add(create_line(i + 1, york->name, id));
        expected.push_back(rack_fdn(york->name, id));
    }
    int before = york->num_children;
    pipe.start();
    bool all = pump_until([&] { return york->num_children == before + count; }, 900);
    pipe.finish();
    ASSERT_TRUE(all) << york->num_children - before << " of " << count << " reported";
    EXPECT_EQ(0, pipe.errors);
    pump_for(0.3);
    EXPECT_EQ(sorted(expected), rows_of(york));
}

TEST_F(Reports, CreationsMixedWithDeletionsLeaveTheRightRows)
{
    DataObject* sys = open_system("manchester-core-1");
    ASSERT_TRUE(sys && sys->node);
    std::vector<std::string> expected = rows_of(sys);
    std::set<std::string> deleted;
    Pipeline pipe;
    long id = 0;
    for (int i = 0; i < 300; i++) {
        std::string rack = "m" + std::to_string(1000 + i);
        std::string fdn = rack_fdn(sys->name, rack);
        pipe.add(create_line(++id, sys->name, rack));
        if (i % 3 == 0) {       /* one in three goes again at once */
            pipe.add(request(++id, "delete", {{"name", fdn}}));
            deleted.insert(fdn);
        } else {
            expected.push_back(fdn);
        }
    }
    /* And one that was there before. */
    std::string rack1 = rack_fdn(sys->name, "rack-1");
    pipe.add(request(++id, "delete", {{"name", rack1}}));
    expected.erase(std::find(expected.begin(), expected.end(), rack1));
    int after = (int)expected.size();
    pipe.start();
    bool settled = pump_until([&] { return sys->num_children == after; }, 120);
    pipe.finish();
    EXPECT_TRUE(settled) << sys->num_children << " children, " << after << " expected";
    EXPECT_EQ(0, pipe.errors);
    pump_for(0.5);
    EXPECT_EQ(after, sys->num_children);
    EXPECT_EQ(sorted(expected), rows_of(sys));
    for (const std::string& fdn : deleted)
        EXPECT_EQ(0u, registered_as(fdn)) << fdn;
    EXPECT_EQ(0u, registered_as(rack1));
}

}  // namespace
