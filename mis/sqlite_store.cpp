// The SQLite store: one table of objects, attribute values as a JSON object per row.
#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <nlohmann/json.hpp>

#include "store.h"

namespace mis {

namespace {

class SqliteStore : public Store {
public:
    ~SqliteStore() override
    {
        sqlite3_finalize(put_);
        sqlite3_finalize(del_);
        if (db_) sqlite3_close(db_);
    }

    bool open(const std::string& path, std::string& err)
    {
        // The database is made readable by its owner alone; SQLite gives its -wal and -shm
        // files the mode of the database file. An existing file keeps the mode it has.
        if (path != ":memory:" && !path.empty()) {
            int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
            if (fd < 0) {
                err = "cannot open database " + path + ": " + std::strerror(errno);
                return false;
            }
            ::close(fd);
        }
        if (sqlite3_open_v2(path.c_str(), &db_,
                            SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                            nullptr) != SQLITE_OK)
            return fail(err, "cannot open database " + path);
        sqlite3_busy_timeout(db_, 2000);
        // WAL with synchronous=NORMAL: a committed transaction survives a crash of this
        // process (the WAL is written before the commit returns); only a power loss may
        // lose the last transactions, never corrupt the file.
        if (!exec("PRAGMA journal_mode=WAL", err) || !exec("PRAGMA synchronous=NORMAL", err) ||
            !exec("PRAGMA foreign_keys=OFF", err) ||
            !exec("CREATE TABLE IF NOT EXISTS objects ("
                  " name TEXT PRIMARY KEY, parent TEXT NOT NULL, class TEXT NOT NULL, attrs TEXT "
                  "NOT NULL)",
                  err))
            return false;
        if (sqlite3_prepare_v2(
                db_, "INSERT OR REPLACE INTO objects(name,parent,class,attrs) VALUES(?,?,?,?)", -1,
                &put_, nullptr) != SQLITE_OK ||
            sqlite3_prepare_v2(db_, "DELETE FROM objects WHERE name=?", -1, &del_, nullptr) !=
                SQLITE_OK)
            return fail(err, "cannot prepare statements");
        return true;
    }

    bool load(std::vector<StoredObject>& out, std::string& err) override
    {
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(db_, "SELECT name,parent,class,attrs FROM objects", -1, &st,
                               nullptr) != SQLITE_OK)
            return fail(err, "cannot read objects");
        int rc;
        while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
            StoredObject o;
            o.name = text(st, 0);
            o.parent = text(st, 1);
            o.cls = text(st, 2);
            // A row the server did not write (a damaged file, a hand edit) stops the load: an
            // object loaded without its values would be written back so at its next change.
            auto j = nlohmann::json::parse(text(st, 3), nullptr, false);
            std::string bad;
            if (!j.is_object()) {
                bad = "its attributes are not a JSON object";
            } else {
                for (auto& [k, v] : j.items()) {
                    if (!v.is_string()) {
                        bad = "the value of attribute " + k + " is not a string";
                        break;
                    }
                    o.attrs.emplace_back(k, v.get<std::string>());
                }
            }
            if (!bad.empty()) {
                sqlite3_finalize(st);
                err = "corrupt row for object " + o.name + " in the database: " + bad;
                return false;
            }
            out.push_back(std::move(o));
        }
        sqlite3_finalize(st);
        if (rc != SQLITE_DONE) return fail(err, "cannot read objects");
        return true;
    }

    bool apply(const Change& c, std::string& err) override
    {
        if (!exec("BEGIN IMMEDIATE", err)) return false;
        for (auto& o : c.put) {
            nlohmann::json j = nlohmann::json::object();
            for (auto& [k, v] : o.attrs) j[k] = v;
            std::string attrs = j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
            sqlite3_reset(put_);
            sqlite3_bind_text(put_, 1, o.name.data(), static_cast<int>(o.name.size()),
                              SQLITE_TRANSIENT);
            sqlite3_bind_text(put_, 2, o.parent.data(), static_cast<int>(o.parent.size()),
                              SQLITE_TRANSIENT);
            sqlite3_bind_text(put_, 3, o.cls.data(), static_cast<int>(o.cls.size()),
                              SQLITE_TRANSIENT);
            sqlite3_bind_text(put_, 4, attrs.data(), static_cast<int>(attrs.size()),
                              SQLITE_TRANSIENT);
            if (sqlite3_step(put_) != SQLITE_DONE) return rollback(err, "cannot write " + o.name);
        }
        for (auto& n : c.remove) {
            sqlite3_reset(del_);
            sqlite3_bind_text(del_, 1, n.data(), static_cast<int>(n.size()), SQLITE_TRANSIENT);
            if (sqlite3_step(del_) != SQLITE_DONE) return rollback(err, "cannot delete " + n);
        }
        if (!exec("COMMIT", err)) {
            std::string ignored;
            exec("ROLLBACK", ignored);
            return false;
        }
        return true;
    }

private:
    sqlite3* db_ = nullptr;
    sqlite3_stmt* put_ = nullptr;
    sqlite3_stmt* del_ = nullptr;

    static std::string text(sqlite3_stmt* st, int col)
    {
        const unsigned char* p = sqlite3_column_text(st, col);
        return p ? std::string(reinterpret_cast<const char*>(p), sqlite3_column_bytes(st, col))
                 : std::string();
    }
    bool fail(std::string& err, const std::string& what)
    {
        err = what + ": " + (db_ ? sqlite3_errmsg(db_) : "out of memory");
        return false;
    }
    bool rollback(std::string& err, const std::string& what)
    {
        fail(err, what);
        sqlite3_reset(put_);
        sqlite3_reset(del_);
        char* msg = nullptr;
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, &msg);
        sqlite3_free(msg);
        return false;
    }
    bool exec(const char* sql, std::string& err)
    {
        char* msg = nullptr;
        if (sqlite3_exec(db_, sql, nullptr, nullptr, &msg) != SQLITE_OK) {
            err = std::string(sql) + ": " + (msg ? msg : "failed");
            sqlite3_free(msg);
            return false;
        }
        return true;
    }
};

class MemoryStore : public Store {
public:
    bool load(std::vector<StoredObject>& out, std::string&) override
    {
        for (auto& [k, v] : rows_) out.push_back(v);
        return true;
    }
    bool apply(const Change& c, std::string&) override
    {
        for (auto& o : c.put) rows_[o.name] = o;
        for (auto& n : c.remove) rows_.erase(n);
        return true;
    }

private:
    std::map<std::string, StoredObject> rows_;
};

} // namespace

std::unique_ptr<Store> open_sqlite_store(const std::string& path, std::string& err)
{
    auto s = std::make_unique<SqliteStore>();
    if (!s->open(path, err)) return nullptr;
    return s;
}

std::unique_ptr<Store> make_memory_store()
{
    return std::make_unique<MemoryStore>();
}

} // namespace mis
