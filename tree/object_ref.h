/*
 * object_ref.h - finding a DataObject again after a wait.  PUBLIC HEADER
 * (through tree/tree_api.h for config/, objects/ and prefs/).
 *
 * Every wait for the server, and every blocking message dialog, runs the Xt
 * loop, and during it a report of an object's destruction may delete that
 * object (remove_object), or a rebuild of the tree may delete all of them
 * (the default preferences).  A DataObject pointer held across such a wait
 * may therefore dangle afterwards.  The rule: before the wait take an
 * ObjectRef of the object; after it, touch the object only through what
 * get() answers, and stop when it answers null.
 *
 *     ObjectRef ref(obj);
 *     image.boot(DeriveTimeout);               // waits
 *     DataObject* live = ref.get();
 *     if (!live) return;                       // gone: touch nothing of it
 *     live->num_children = ...;
 *
 * EVENT-LOOP RULE: nothing here waits.
 */
#ifndef TREE_OBJECT_REF_H
#define TREE_OBJECT_REF_H

#include <string>

class DataObject;

/* A way back to one DataObject across waits.  It remembers the object's
 * name, its serial number (DataObject::serial) and the tree generation
 * (CurrentCookie) when it is made.  get() answers the object while it is
 * registered under that name in that generation, and null once a rebuild
 * of the tree or its removal took it out of the registry (it may have been
 * deleted: the remembered pointer is never followed then).  An object that
 * is not registered when the ObjectRef is made (one made for the delete
 * command's count, a new root before it is registered) belongs to whoever
 * made it, which keeps it alive: get() answers it while the generation
 * holds.  Copyable; a default-made ObjectRef answers null. */
class ObjectRef {
public:
    ObjectRef() = default;
    explicit ObjectRef(DataObject* obj);

    /* The object, or null when it is gone or the tree was rebuilt.  A
     * binary search of the registry; never waits. */
    DataObject* get() const;
    /* The name the object had when the ObjectRef was made ("" for none):
     * what the server knows it by, also once it is gone here. */
    const std::string& name() const { return name_; }

private:
    DataObject* obj_ = nullptr;
    std::string name_;
    unsigned long serial_ = 0;
    unsigned int cookie_ = 0;
    bool registered_ = false; /* in the registry when made, else its maker's */
};

#endif /* TREE_OBJECT_REF_H */
