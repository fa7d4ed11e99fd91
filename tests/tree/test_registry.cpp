/*
 * test_registry.cpp - the registry of DataObjects, the selection list, the
 * look-ups and the texts made from FDNs; no server, no display.
 */
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "core/globals.h"
#include "tree/data_object.h"
#include "tree/natural_order.h"
#include "tree/sorted_merge.h"

namespace {

/* Merging a list's unsorted end gives what a stable sort of the whole gives, on the path that
 * merges in place (an end of many) and on the one that places a few by binary search; keys
 * repeat, so each entry's place among its equals shows whether the merge kept their order. */
TEST(SortedMerge, MatchesAStableSortOfTheWhole)
{
    using Entry = std::pair<int, int>; /* key, the order it came in */
    auto less = [](const Entry& a, const Entry& b) { return a.first < b.first; };
    std::mt19937 random(7);
    for (size_t sorted : {0, 1, 40, 3000})
        for (size_t tail : {0, 1, 2, 5, 100}) {
            std::vector<Entry> list;
            for (size_t i = 0; i < sorted + tail; i++)
                list.emplace_back((int)(random() % (sorted / 8 + 3)), (int)i);
            std::stable_sort(list.begin(), list.begin() + (long)sorted, less);
            std::vector<Entry> expected = list;
            std::stable_sort(expected.begin(), expected.end(), less);
            merge_sorted_tail(list, sorted, less);
            EXPECT_EQ(expected, list) << sorted << " in order, " << tail << " after them";
        }
}

struct Registry : ::testing::Test {
    void TearDown() override
    {
        DataObject::selected_list.clear();
        DataObject::object_list.clear_and_destroy();
    }

    static DataObject* reg(const std::string& name, const char* parent = "")
    {
        auto* obj = new DataObject(name.c_str());
        obj->parent_name = intern_name(parent);
        DataObject::object_list.insert(obj);
        return obj;
    }

    static std::vector<std::string> names()
    {
        std::vector<std::string> out;
        for (size_t i = 0; i < DataObject::object_list.entries(); i++)
            out.push_back(DataObject::object_list.at(i)->name);
        return out;
    }
};

TEST_F(Registry, KeepsByteOrderWithDuplicatesInArrivalOrder)
{
    /* Arrival in no particular order, with "/b" three times and byte order
     * that differs from numeric order (10 before 9). */
    const char* arrivals[] = {"/m", "/b", "/a=10", "/z", "/b", "/a=9", "/", "/b", "/a=1"};
    std::vector<DataObject*> bs;
    for (const char* n : arrivals) {
        DataObject* o = reg(n);
        if (strcmp(n, "/b") == 0) bs.push_back(o);
    }
    EXPECT_EQ(
        (std::vector<std::string>{"/", "/a=1", "/a=10", "/a=9", "/b", "/b", "/b", "/m", "/z"}),
        names());
    /* Removal takes out the object passed, not the first of its name: taking
     * out the first once left a deleted object registered. */
    EXPECT_TRUE(DataObject::object_list.remove(bs[2]));
    EXPECT_FALSE(DataObject::object_list.remove(bs[2]));
    EXPECT_EQ(bs[0], find_album_object("/b"));
    EXPECT_EQ(8u, DataObject::object_list.entries());
    EXPECT_EQ(bs[0], DataObject::object_list.at(4));
    EXPECT_EQ(bs[1], DataObject::object_list.at(5));
    EXPECT_STREQ("/m", DataObject::object_list.at(6)->name);
    delete bs[2];
}

/* An ObjectRef answers its own object while it is registered in the same
 * generation: not a later object of the same name, not after a rebuild. */
TEST_F(Registry, ObjectRefFindsTheSameObjectOnly)
{
    DataObject* first = reg("/b");
    DataObject* second = reg("/b");
    ObjectRef ref(second);
    EXPECT_EQ(second, ref.get());
    DataObject::object_list.remove(first);
    delete first;
    EXPECT_EQ(second, ref.get()); /* the first of the equals went, not it */
    DataObject::object_list.remove(second);
    delete second;
    reg("/b"); /* a new one of the name, perhaps at the same address */
    EXPECT_EQ(nullptr, ref.get());
    EXPECT_EQ("/b", ref.name());

    DataObject* kept = reg("/k");
    DataObject own("/own"); /* not registered: its maker's */
    ObjectRef to_kept(kept), to_own(&own);
    EXPECT_EQ(&own, to_own.get());
    CurrentCookie++; /* the tree rebuilt */
    EXPECT_EQ(nullptr, to_kept.get());
    EXPECT_EQ(nullptr, to_own.get());
    EXPECT_EQ(nullptr, ObjectRef().get());
}

/* Registering many objects at once ends as registering them one by one:
 * byte order, equal names after those there before and in the order
 * given; whether the new ones sort after every entry or among them. */
TEST_F(Registry, InsertAllMatchesInsertOneByOne)
{
    using V = std::vector<std::string>;
    struct Case {
        V there, added;
    } cases[] = {
        {{"/a", "/m"}, {"/z", "/y", "/z"}},                    /* all after the entries there */
        {{"/a", "/m", "/m"}, {"/m", "/b", "/zz", "/m", "/a"}}, /* among them, equals too */
        {{"/n=5", "/n=50"}, {"/n=10", "/n=1", "/n=500", "/n=05"}},
        {{}, {"/n=120", "/n=05", "/n=139", "/n=120"}}, /* a few among many: filled below */
    };
    for (int i = 100; i < 140; i++) cases[3].there.push_back("/n=" + std::to_string(i));
    for (const Case& c : cases) {
        /* Each object carries its arrival number as its child count. */
        auto make = [](const std::string& n, int tag) {
            auto* obj = new DataObject(n.c_str());
            obj->num_children = tag;
            return obj;
        };
        auto listed = [](const DataObjectList& list) {
            std::vector<std::pair<std::string, int>> out;
            for (size_t i = 0; i < list.entries(); i++)
                out.emplace_back(list.at(i)->name, list.at(i)->num_children);
            return out;
        };
        DataObjectList one_by_one, together;
        std::vector<DataObject*> batch;
        int tag = 0;
        for (const std::string& n : c.there) {
            one_by_one.insert(make(n, tag));
            together.insert(make(n, tag++));
        }
        for (const std::string& n : c.added) {
            one_by_one.insert(make(n, tag));
            batch.push_back(make(n, tag++));
        }
        together.insert_all(batch);
        EXPECT_EQ(listed(one_by_one), listed(together)) << c.there.size() << "+" << c.added.size();
        for (const auto& [n, t] : listed(together)) {
            long at = together.find_first(n.c_str());
            ASSERT_GE(at, 0) << n;
            EXPECT_STREQ(n.c_str(), together.at((size_t)at)->name);
            EXPECT_TRUE(at == 0 || strcmp(together.at((size_t)at - 1)->name, n.c_str()) < 0);
        }
        for (size_t i = 0; i < one_by_one.entries(); i++) delete one_by_one.at(i);
        for (size_t i = 0; i < together.entries(); i++) delete together.at(i);
    }
}

/* Rows added out of sibling order are put in order before the rows are
 * listed: a few among many each in its place, many by sorting and merging;
 * equal names stay in the order they were shown, and a second burst after
 * the rows were listed is ordered again. */
TEST_F(Registry, SiblingsComeInOrderHoweverTheyArrive)
{
    struct Case {
        bool natural;
        std::vector<std::string> first, second; /* RDNs shown, then listed, then more */
    } cases[] = {
        {false, {"a", "c", "e", "b", "d"}, {"a", "f", "0"}},
        {true, {"n=1", "n=2", "n=10", "n=3"}, {}},
        {true, {}, {}},                                  /* filled below: many out of order */
        {true, {}, {"n=120", "n=05", "n=139", "n=120"}}, /* few among many: filled below */
    };
    for (int i = 100; i < 140; i++) cases[3].first.push_back("n=" + std::to_string(i));
    for (int i = 40; i > 0; i--) cases[2].first.push_back("n=" + std::to_string(i % 25));
    for (int i = 0; i < 30; i++) cases[2].second.push_back("n=" + std::to_string(i * 7 % 31));
    for (const Case& c : cases) {
        natural_order = c.natural;
        DataObject* parent = reg("/p");
        parent->display(1);
        std::vector<DataObject*> shown;
        auto show = [&](const std::vector<std::string>& rdns) {
            for (const std::string& rdn : rdns) {
                shown.push_back(reg("/p/" + rdn, "/p"));
                shown.back()->display(0);
            }
            std::vector<DataObject*> want = shown;
            std::stable_sort(want.begin(), want.end(), [&](DataObject* a, DataObject* b) {
                return c.natural ? natural_compare(a->name, b->name) < 0
                                 : strcmp(a->name, b->name) < 0;
            });
            ASSERT_EQ(want.size() + 1, row_count());
            for (size_t row = 0; row < want.size(); row++)
                EXPECT_EQ(want[row], row_object(row + 1)) << row << " " << want[row]->name;
        };
        show(c.first);
        show(c.second);
        DataObject::object_list.clear_and_destroy();
    }
    natural_order = false;
}

/* The nickname of an album and the FDN read back from it, for a name that
 * holds ".XX" itself; labels of an FDN ending in a slash, and of "/", are
 * the whole FDN.  No other test has such names.  (The derivation strings
 * made from FDNs are checked by what the navigator and the preferences
 * derive.) */
TEST(DerivationTexts, NicknamesAndLabels)
{
    char* nick = album_nickname("/systemId=\"x.XX\"/a=1", 7);
    EXPECT_STREQ("/systemId=\"x.XX\"/a=1.XXNICKYY.7", nick);
    char* parent = nickname_parent(nick);
    EXPECT_STREQ("/systemId=\"x.XX\"/a=1", parent);
    free(nick);
    free(parent);

    EXPECT_STREQ("b=2", node_label("/a=1/b=2", false));
    EXPECT_STREQ("/a=1/b=2", node_label("/a=1/b=2", true));
    EXPECT_STREQ("/", node_label("/", false));
    EXPECT_STREQ("a=1/", node_label("a=1/", false));
    EXPECT_STREQ("plain", node_label("plain", false));
}

} // namespace
