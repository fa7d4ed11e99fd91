/*
 * class_info.h - class metadata: the actions and attributes of a managed
 * object class, read from the server's metadata repository.  PUBLIC HEADER
 * (through meta/meta_api.h).
 *
 * A ClassInfo asks the repository object (ClassInfo::mdr) for the class's
 * description with the action "getObjectClass" and reads the names from it:
 * every `label "` after the first "actions" names an action; every
 * `labels {` after the first "attributes" opens an attribute entry named by
 * the first `label "` that follows it.  A name is the word after the label's
 * double quote, less its last character (the closing quote of a one-word
 * label), at most 62 characters.  Users build a record, read its lists and
 * drop it, so each use asks the repository again.
 *
 * ClassInfo::class_list is a cache of records that insert() fills; the
 * editor itself never inserts, so get_class() and is_hashed() answer null
 * and 0 at run time.
 *
 * EVENT-LOOP RULE: both constructors, get_class() and is_hashed() wait for
 * the server while the Xt loop runs, so any callback may run inside them;
 * they touch nothing of the editor's tree, and a record is the caller's own
 * until they return.  initialize(), the parsers and the accessors never wait.
 */
#ifndef META_CLASS_INFO_H
#define META_CLASS_INFO_H

#include <list>
#include <memory>

#include "kvl/kvl.h"

class ClassInfo;

/* The class cache: ClassInfo pointers in insertion order, owned. */
class ClassInfoList {
public:
    void append(ClassInfo* rec) { items_.emplace_back(rec); }
    /* The first record whose class_name equals cls, or null. */
    ClassInfo* find(const DataUnit& cls) const;
    size_t entries() const { return items_.size(); }
    void clear_and_destroy() { items_.clear(); }

private:
    std::list<std::unique_ptr<ClassInfo>> items_;
};

class ClassInfo {
public:
    /* The record of the class named class_name; empty for an empty name
     * (without a request).  Waits. */
    explicit ClassInfo(const DataUnit& class_name);
    /* The record of the class of the object named object_name; empty when
     * the object cannot be read.  Waits (twice: the object, then its class). */
    explicit ClassInfo(const char* object_name);
    ~ClassInfo() {}
    ClassInfo(const ClassInfo&) = delete;
    ClassInfo& operator=(const ClassInfo&) = delete;

    /* Replace actions / attributes by the names read from a class description. */
    void parse_actions(const DataUnit& reply);
    void parse_attributes(const DataUnit& reply);

    /* Makes mdr the (unbooted) image of the repository object of the host
     * platform_host: 1 when it was made without an error, else 0. */
    static int initialize();

    /* The lists; callers may take their contents over (DUArray::take). */
    DUArray& get_actions() { return actions; }
    DUArray& get_attributes() { return attributes; }
    /* Always 1: every attribute may be offered for editing. */
    int is_modifiable(char*, char*) { return 1; }

    /* The cached record of the class of the object named, or null.  Waits. */
    static ClassInfo* get_class(const DataUnit& object_name);
    /* 1 when the class of the object named has a cached record, else 0
     * (also when the object cannot be read).  Waits. */
    static int is_hashed(const DataUnit& object_name);
    /* Appends this record (made with new) to class_list, which owns it; 1. */
    int insert();

    static Image mdr;
    static ClassInfoList class_list;

    DataUnit class_name; /* empty when the record was not filled */
    DUArray actions;     /* action names, in the order of the description */
    DUArray attributes;  /* full attribute names, in the order of the description */

private:
    /* Asks the repository for class_name's description and parses it. */
    void fill();
};

#endif /* META_CLASS_INFO_H */
