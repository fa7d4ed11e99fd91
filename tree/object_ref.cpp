/*
 * object_ref.cpp - ObjectRef: a DataObject found again by name, serial
 * number and tree generation after a wait.
 */
#include "tree/object_ref.h"

#include "core/globals.h"
#include "tree/data_object.h"

/* The registered object named name whose serial number is serial, or null.
 * Objects of equal names sit side by side in the registry. */
static DataObject* registered_as(const std::string& name, unsigned long serial)
{
    DataObjectList& list = DataObject::object_list;
    long pos = list.find_first(name.c_str());
    if (pos < 0) return nullptr;
    /* Places emptied by removals stay until the list is counted. */
    for (size_t i = (size_t)pos; i < list.slots(); i++) {
        DataObject* at = list.at(i);
        if (!at) continue;
        if (!at->name || name != at->name) break;
        if (at->serial == serial) return at;
    }
    return nullptr;
}

ObjectRef::ObjectRef(DataObject* obj)
    : obj_(obj), name_(obj && obj->name ? obj->name : ""), serial_(obj ? obj->serial : 0),
      cookie_(CurrentCookie)
{
    /* Registered objects always have a name (creators register only named
     * ones), so an unnamed object is its maker's. */
    registered_ = obj && obj->name && registered_as(name_, serial_) == obj;
}

DataObject* ObjectRef::get() const
{
    if (!obj_ || CurrentCookie != cookie_) return nullptr;
    if (!registered_) return obj_;
    return registered_as(name_, serial_);
}
