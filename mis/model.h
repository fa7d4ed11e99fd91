// Public within qx_mis: the containment tree of managed objects, held in memory and written
// through a Store. Every change is checked completely before anything is written, written in
// one store transaction, and only then applied in memory; a failure changes nothing and ends
// in a Fault.
#pragma once
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "schema.h"
#include "store.h"

namespace mis {

struct MObject {
    std::string name;          // canonical FDN
    MObject* parent = nullptr; // null for the root and for virtual objects
    const ClassDef* cls = nullptr;
    std::vector<std::string> values;          // in the order of cls->attrs
    std::map<std::string, MObject*> children; // by canonical name
    bool is_virtual = false;                  // the repository object: answers, never stored
    // The order objects were made in, this run: a later object has a larger serial. A paged
    // derivation lists only objects made before it began.
    unsigned long long serial = 0;

    const std::string& value(const AttributeDef* a) const;
};

// Attribute name (full or display) and value text, as a client gives them.
using ValueList = std::vector<std::pair<std::string, std::string>>;

class Model {
public:
    Model(const Schema& schema, Store& store);
    ~Model();

    // Loads the objects of the store; when the store is empty, seeds it from the network file
    // (docs/schema.md) in one transaction. err is "file:line: what" or a store error.
    bool open(const std::string& network_path, std::string& err);

    const Schema& schema() const { return schema_; }
    MObject& root() { return *root_; }
    size_t size() const { return objects_.size(); }
    // The serial of the last object made (MObject::serial).
    static unsigned long long last_serial();

    // The object of a canonical name, or null. Also answers the repository object under
    // /systemId="H"/metaName="MDR" for any H.
    MObject* find(const std::string& canonical);
    // Reads a name as a person types it: Fault E_BAD_NAME or E_NO_OBJECT.
    std::string canonical(const std::string& text) const;
    MObject& resolve(const std::string& text);

    // Creates an object of class c beneath parent with the given initial values.
    MObject& create(MObject& parent, const ClassDef& c, const ValueList& values);
    // Replaces values; enforce_access refuses read-only attributes (the simulation of the
    // network itself does not). Returns the positions (in cls->attrs) that changed, and
    // fills old_values with the values before the change.
    std::vector<size_t> set(MObject& o, const ValueList& values, bool enforce_access,
                            std::vector<std::string>* old_values = nullptr);
    // Deletes o and its subtree; returns the removed objects, deepest first, detached from
    // the tree (their parent pointers still name their former parents' objects only while
    // those live: use them only for their names, classes and values).
    std::vector<std::unique_ptr<MObject>> remove(MObject& o);

    // Canonical value of one attribute of class c (Fault E_NO_ATTRIBUTE or E_SYNTAX).
    std::pair<size_t, std::string> check_value(const ClassDef& c, const std::string& attr,
                                               const std::string& text) const;

private:
    const Schema& schema_;
    Store& store_;
    std::unordered_map<std::string, std::unique_ptr<MObject>> objects_;
    std::unordered_map<std::string, std::unique_ptr<MObject>> virtuals_;
    MObject* root_ = nullptr;

    bool load(const std::vector<StoredObject>& rows, std::string& err);
    bool seed(const std::string& text, const std::string& origin, std::string& err);
    std::string seed_object(const std::string& line, MObject*& made);
    std::string seed_value(MObject& o, const std::string& line);
    MObject* make_virtual(const std::string& canonical);
    StoredObject stored(const MObject& o) const;
    void check_binding(const MObject& parent, const ClassDef& c) const;
};

} // namespace mis
