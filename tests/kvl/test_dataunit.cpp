// DataUnit and DUArray: sharing, lifetime, equality; CurrentEvent on live,
// freed and bad event records; base64.  No server needed.
#include "kvl/base64.h"
#include "kvl/kvl.h"
#include "kvl/kvl_private.h"

#include <gtest/gtest.h>

#include <cstring>
#include <utility>

TEST(DataUnit, NullEmptyAndEqualUnits)
{
    DataUnit a, b(nullptr), c(""), d("abc", 0);
    for (const DataUnit* u : {&a, &b, &c, &d}) {
        EXPECT_TRUE(u->is_null());
        EXPECT_EQ(0u, u->length());
        EXPECT_STREQ("", u->str());
        EXPECT_FALSE(static_cast<bool>(*u));
    }
    // equality compares the length, then the bytes (past a NUL too), never the pointers
    struct {
        DataUnit x, y;
        bool equal;
    } rows[] = {{a, c, true},
                {DataUnit("rack-1"), DataUnit("rack-1"), true},
                {DataUnit("rack-1"), DataUnit("rack-12"), false},
                {DataUnit("rack-1"), DataUnit("rack-2"), false},
                {DataUnit("a\0b", 3), DataUnit("a\0c", 3), false}};
    for (auto& row : rows) EXPECT_EQ(row.equal, row.x == row.y) << row.x.str() << row.y.str();
    DataUnit r1("rack-1");
    EXPECT_TRUE(r1 == "rack-1" && "rack-1" == r1 && r1 != "rack-2");
    EXPECT_FALSE(r1.shares_with(DataUnit("rack-1")));
}

// Copies share one buffer; a fault in the counting reads freed memory here, which the
// sanitizer (or valgrind, kvl_unit_memcheck) reports.
TEST(DataUnit, CopiesShareOneBufferThatOutlivesTheOriginal)
{
    char text[] = "leeds-core-1";
    DataUnit* first = new DataUnit(text);
    text[0] = 'X'; // the unit copied the bytes
    DataUnit copy(*first), assigned;
    assigned = copy;
    EXPECT_TRUE(assigned.shares_with(*first));
    EXPECT_EQ(3, first->share_count());
    delete first; // the buffer lives on in the copies
    EXPECT_STREQ("leeds-core-1", assigned.str());
    EXPECT_EQ('\0', assigned.str()[assigned.length()]);
    DataUnit moved(std::move(assigned));
    EXPECT_TRUE(assigned.is_null());
    copy = DataUnit("other");
    // assigning a unit to itself once released the buffer before taking it
    DataUnit& same = moved;
    moved = same;
    EXPECT_STREQ("leeds-core-1", moved.str());
    EXPECT_EQ(1, moved.share_count());
}

TEST(DUArray, ResizeCopyShareAndTakeOver)
{
    DataUnit keep("first");
    DUArray arr(2);
    arr[0] = keep;
    arr.set(1, DataUnit("second"));
    arr.resize(3);
    EXPECT_EQ(3, arr.count());
    EXPECT_EQ(1, keep.share_count()); // the array let go of the old units
    EXPECT_TRUE(arr[0].is_null());
    arr.resize(0);
    EXPECT_TRUE(arr.get(0).is_null()); // out of range: a null unit, no crash
    arr.set(5, keep);                  // ignored
    EXPECT_EQ(1, keep.share_count());

    DUArray a;
    a.append(DataUnit("x721:objectClass"));
    a.append(DataUnit("x721:userLabel"));
    DUArray b(a);
    EXPECT_TRUE(b[1].shares_with(a[1]));
    b[1] = DataUnit("changed"); // elements are independent handles
    EXPECT_TRUE(a[1] == "x721:userLabel");
    DUArray c;
    c.append(DataUnit("old"));
    c.take(a);
    c.take(c); // taking from itself changes nothing
    EXPECT_EQ(0, a.count());
    EXPECT_EQ(2, c.count());
    EXPECT_TRUE(c[0] == "x721:objectClass");
    DUArray d;
    d = c;
    d = std::move(b);
    EXPECT_EQ(2, d.count());
    EXPECT_TRUE(d[1] == "changed");
}

// A callback that keeps the call data and wraps it again later.
TEST(CurrentEvent, LiveFreedAndBadRecords)
{
    kvl_exception_clear();

    KvlEvent* ev = kvl_event_new();
    ev->name = OBJECT_CREATED;
    ev->objname = DataUnit("/systemId=\"a\"");
    {
        CurrentEvent wrap(ev);
        EXPECT_FALSE(wrap.is_empty());
        EXPECT_EQ(2, ev->refcount); // wrapping adds a reference
        EXPECT_TRUE(wrap.get_name() == "OBJECT_CREATED");
        EXPECT_TRUE(wrap.get_objname() == "/systemId=\"a\"");
        EXPECT_EQ(1, wrap.do_something());
        CurrentEvent second(wrap);
        EXPECT_EQ(3, ev->refcount);
    }
    EXPECT_EQ(1, ev->refcount); // the wrappers released theirs
    EXPECT_EQ(0, kvl_exception_count());

    kvl_event_unref(ev);   // the dispatcher is done with it
    CurrentEvent late(ev); // the record sits freed in the pool
    EXPECT_TRUE(late.is_empty());
    EXPECT_TRUE(late.get_name().is_null());
    EXPECT_EQ(0, late.do_something());
    EXPECT_STREQ("CurrentEvent freed before callback!!!", kvl_exception_message());

    uint32_t junk[8] = {1, 0x12345678u, 0, 0, 0, 0, 0, 0};
    CurrentEvent bad(junk);
    EXPECT_TRUE(bad.is_empty());
    EXPECT_STREQ("Attempt to initialize CurrentEvent with bad pointer", kvl_exception_message());
    EXPECT_EQ(1u, junk[0]); // nothing written into foreign memory

    CurrentEvent none(nullptr);
    EXPECT_TRUE(none.is_empty());
    EXPECT_EQ(2, kvl_exception_count()); // null records no message
    kvl_exception_clear();
    EXPECT_STREQ("", kvl_exception_message());

    KvlEvent* reused = kvl_event_new(); // the pool hands out a live record again
    CurrentEvent again(reused);
    EXPECT_FALSE(again.is_empty());
    EXPECT_TRUE(again.get_name().is_null());
    kvl_event_unref(reused);
}

static int entry_calls = 0;
static void count_entry(Error*)
{
    entry_calls++;
}

TEST(Error, SetCallsEntryCallbackAndResetClears)
{
    Error e;
    Error::error_entry_callback = count_entry;
    e.set_error(KVL_ERR_SYNTAX, "value 'x' refused", -32006);
    Error::error_entry_callback = nullptr;
    EXPECT_EQ(1, entry_calls);
    EXPECT_EQ(KVL_ERR_SYNTAX, e.get_error_type());
    EXPECT_EQ(-32006, e.get_server_code());
    EXPECT_STREQ("value 'x' refused", e.get_error_string());
    e.reset_error();
    EXPECT_EQ(0, e.get_error_type());
    EXPECT_STREQ("", e.get_error_string());
}

TEST(Platform, UnconnectedObjectsReportWhyInsteadOfWaiting)
{
    Platform p(DataUnit("QX"), DataUnit(""));
    Image img(DataUnit("/"), DataUnit(""), p);
    EXPECT_EQ(KVL_ERR_NOT_CONNECTED, img.get_error_type());
    EXPECT_NE(nullptr, std::strstr(img.get_error_string(), "not connected"));
    EXPECT_FALSE(img.boot(1));
    Album album(DataUnit("x.XXNICKYY.0"), p);
    EXPECT_NE(0, album.get_error_type());
    EXPECT_EQ(0, album.num_images());
    Image empty;
    EXPECT_TRUE(empty.get_objname().is_null());
    EXPECT_FALSE(empty.boot(1));
    EXPECT_FALSE(Album().first_image().is_valid());
}

TEST(Base64, MatchesTheStandardVectorsAndRefusesBrokenText)
{
    const char* vectors[][2] = {{"", ""},
                                {"f", "Zg=="},
                                {"fo", "Zm8="},
                                {"foo", "Zm9v"},
                                {"foob", "Zm9vYg=="},
                                {"fooba", "Zm9vYmE="},
                                {"foobar", "Zm9vYmFy"}};
    for (auto& v : vectors) {
        EXPECT_EQ(v[1], kvl_base64(v[0]));
        std::string back;
        EXPECT_TRUE(kvl_unbase64(v[1], back));
        EXPECT_EQ(v[0], back);
    }
    for (const char* bad : {"Zg=", "Zm9v!", "Zg==Zg==", "Zh==", "Z"}) {
        std::string back;
        EXPECT_FALSE(kvl_unbase64(bad, back)) << bad;
    }
}

// An album takes <FDN>/* or <FDN>/*/CMISFilter(<filter>) before any server sees it: an empty
// filter is refused, not sent as a derivation of every child.
TEST(Album, DerivationStringsOfTheRightForm)
{
    Platform p(DataUnit("QX"), DataUnit(""));
    Album album(DataUnit("x.XXNICKYY.0"), p);
    struct {
        const char* derivation;
        bool taken;
    } rows[] = {{"/*", true},     {"/a=1/*/CMISFilter((x=1))", true}, {"", false},
                {"a=1/*", false}, {"/a=1/*/CMISFilter()", false},     {"/a=1/*x", false}};
    for (auto& r : rows) {
        EXPECT_EQ(r.taken, album.set_derivation(DataUnit(r.derivation))) << r.derivation;
        if (!r.taken) {
            EXPECT_EQ(KVL_ERR_BAD_DERIVATION, album.get_error_type()) << r.derivation;
        }
    }
}
