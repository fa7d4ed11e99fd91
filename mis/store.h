// Public within qx_mis: where the management information base keeps its objects between
// runs. The model holds everything in memory and writes each change through a Store in one
// transaction before the change is acknowledged. A new kind of store (say, a database shared
// by several servers) is a new implementation of this interface.
#pragma once
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace mis {

struct StoredObject {
    std::string name;   // canonical FDN
    std::string parent; // canonical FDN of the parent ("/" for top-level objects)
    std::string cls;
    std::vector<std::pair<std::string, std::string>> attrs; // full attribute name, value text
};

// One change: objects written (inserted or replaced) and objects removed, all or nothing.
struct Change {
    std::vector<StoredObject> put;
    std::vector<std::string> remove;
};

class Store {
public:
    virtual ~Store() = default;
    // Every stored object, in no particular order.
    virtual bool load(std::vector<StoredObject>& out, std::string& err) = 0;
    // Applies the change in one transaction that is committed (durable against a crash of
    // the server) when this returns true; on false nothing of it was applied.
    virtual bool apply(const Change& c, std::string& err) = 0;
};

// SQLite in WAL mode; creates the database file when missing.
std::unique_ptr<Store> open_sqlite_store(const std::string& path, std::string& err);

// Keeps nothing between runs: for tests and fuzzing.
std::unique_ptr<Store> make_memory_store();

} // namespace mis
