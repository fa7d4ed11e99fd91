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

/* The list of pending edits: Attribute pointers in insertion order, owned. */
class AttributeList {
public:
    /* Appends rec, which the list then owns. */
    void append(Attribute* rec);
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
    /* Both fields empty; the record is not listed. */
    Attribute() {}
    /* Sets both fields, then registers the edit: appended to attr_list (which
     * then owns this record, so make it with new) unless a record of that
     * name is listed already, which then takes this value instead. */
    Attribute(const DataUnit& name, const DataUnit& value);
    ~Attribute() {}
    Attribute(const Attribute&) = delete;
    Attribute& operator=(const Attribute&) = delete;

    DataUnit get_name() const { return name; }
    DataUnit get_value() const { return value; }
    void set_name(const DataUnit& n) { name = n; }
    void set_value(const DataUnit& v) { value = v; }
    /* 1 when attr_list holds a record of this name (which is handed this
     * record's value), else 0. */
    int is_hashed();

    /* Records the edit of name to value in attr_list: the way the window's
     * fields register their text, without a record left to dispose of. */
    static void record(const DataUnit& name, const DataUnit& value);

    static AttributeList attr_list;

private:
    DataUnit name;  /* display name of the attribute */
    DataUnit value; /* its text, as typed */
};

#endif /* META_ATTRIBUTE_H */
