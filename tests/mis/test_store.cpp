// What the SQLite store makes of rows it did not write.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include "child_process.h"
#include "store.h"

namespace {

// A row whose attributes are damaged stops the load with an error naming the object and, when
// one value is at fault, the attribute; a sound row loads with its values.
TEST(SqliteStore, ACorruptAttributeRowIsReportedNotLoadedEmpty)
{
    struct Case {
        const char* attrs;
        const char* error; // part of the error; "" when the row loads
    } cases[] = {
        {R"({"userLabel":"rack one"})", ""},
        {R"({"userLabel":5})", "object /r=\"1\" in the database: the value of attribute userLabel"},
        {R"({"userLabel":"a","location":null})", "attribute location is not a string"},
        {"not json at all", "object /r=\"1\" in the database: its attributes are not a JSON object"},
        {R"(["userLabel","x"])", "its attributes are not a JSON object"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.attrs);
        qxtest::TempDir dir;
        std::string db = dir.path + "/mib.db", err;
        {
            auto store = mis::open_sqlite_store(db, err);
            ASSERT_TRUE(store) << err;
            mis::Change ch;
            ch.put.push_back({"/r=\"1\"", "/", "rack", {{"userLabel", "x"}}});
            ASSERT_TRUE(store->apply(ch, err)) << err;
        }
        sqlite3* h = nullptr;
        ASSERT_EQ(sqlite3_open(db.c_str(), &h), SQLITE_OK);
        std::string sql = std::string("UPDATE objects SET attrs='") + c.attrs + "'";
        EXPECT_EQ(sqlite3_exec(h, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(h);

        auto store = mis::open_sqlite_store(db, err);
        ASSERT_TRUE(store) << err;
        std::vector<mis::StoredObject> rows;
        bool loaded = store->load(rows, err);
        if (*c.error) {
            EXPECT_FALSE(loaded);
            EXPECT_NE(err.find(c.error), std::string::npos) << err;
        } else {
            ASSERT_TRUE(loaded) << err;
            ASSERT_EQ(rows.size(), 1u);
            ASSERT_EQ(rows[0].attrs.size(), 1u);
            EXPECT_EQ(rows[0].attrs[0].second, "rack one");
        }
    }
}

} // namespace
