/*
 * attribute.h - records of edited attributes.  PUBLIC HEADER (through
 * meta/meta_api.h).
 *
 * An Attribute pairs an attribute's display name with a value, both as text.
 * Attribute::attr_list holds the edits typed into the configuration window
 * and not yet written to the server: one record per name, in the order the
 * names were first edited, each with the latest text of its field.  The list
 * owns its records.  Nothing here waits for the server.
 */
#ifndef META_ATTRIBUTE_H
#define META_ATTRIBUTE_H

#include <list>
#include <memory>

#include "kvl/kvl.h"

class Attribute;

/* A list of records in insertion order, which owns them. */
class AttributeList {
public:
    /* Appends rec. */
    void append(std::unique_ptr<Attribute> rec);
    /* The record named name (equal bytes), appended with that name and an
     * empty value when none is listed yet.  The list keeps it. */
    Attribute& find_or_emplace(const DataUnit& name);
    /* Destroys every record and empties the list. */
    void clear_and_destroy() { items_.clear(); }
    size_t entries() const { return items_.size(); }
    bool holds(const Attribute* rec) const;
    /* The first record named name (equal bytes), or null. */
    Attribute* find(const DataUnit& name) const;
    const std::list<std::unique_ptr<Attribute>>& items() const { return items_; }

private:
    std::list<std::unique_ptr<Attribute>> items_;
};

class Attribute {
public:
    /* Both fields empty. */
    Attribute() {}
    /* The name set, the value empty. */
    explicit Attribute(const DataUnit& name_) : name(name_) {}
    Attribute(const Attribute&) = delete;
    Attribute& operator=(const Attribute&) = delete;

    DataUnit get_name() const { return name; }
    DataUnit get_value() const { return value; }
    void set_name(const DataUnit& n) { name = n; }
    void set_value(const DataUnit& v) { value = v; }

    /* Records the edit of name to value in attr_list: the record of that
     * name takes the value, a new one at the end when none is listed.  The
     * way the window's fields register their text. */
    static void record(const DataUnit& name, const DataUnit& value);

    static AttributeList attr_list;

private:
    DataUnit name;  /* display name of the attribute */
    DataUnit value; /* its text, as typed */
};

#endif /* META_ATTRIBUTE_H */
