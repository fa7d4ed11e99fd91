/*
 * event.cpp - event records, CurrentEvent and the library's exception state.
 *
 * A record is made with count 1 for one dispatch; the dispatcher drops its
 * reference when the callbacks have run.  At count 0 the record is marked
 * freed and kept in a small pool for reuse, so that a callback that looks at
 * a record it kept too long finds the freed marker instead of random memory.
 */
#include "kvl/kvl_private.h"

#include <string>

namespace {

/* Records kept for reuse; beyond this many, released records go back to the heap. */
const int POOL_LIMIT = 64;

KvlEvent* pool_head = nullptr;
int pool_size = 0;

std::string exception_message;
int exception_count = 0;

void clear_fields(KvlEvent* ev)
{
    ev->name = DataUnit();
    ev->objname = DataUnit();
    ev->objclass = DataUnit();
    ev->attribute = DataUnit();
    ev->value = DataUnit();
    ev->subscription = 0;
    ev->handled = 0;
}

} // namespace

KvlEvent* kvl_event_new()
{
    KvlEvent* ev;
    if (pool_head) {
        ev = pool_head;
        pool_head = ev->next_free;
        pool_size--;
    } else {
        ev = new KvlEvent();
    }
    clear_fields(ev);
    ev->refcount = 1;
    ev->marker = KVL_EVENT_LIVE;
    ev->next_free = nullptr;
    return ev;
}

void kvl_event_ref(KvlEvent* ev)
{
    ev->refcount++;
}

void kvl_event_unref(KvlEvent* ev)
{
    if (--ev->refcount > 0) return;
    clear_fields(ev);
    ev->marker = KVL_EVENT_FREED;
    if (pool_size < POOL_LIMIT) {
        ev->next_free = pool_head;
        pool_head = ev;
        pool_size++;
    } else {
        delete ev;
    }
}

void kvl_exception_record(const char* message)
{
    exception_message = message;
    exception_count++;
}

const char* kvl_exception_message()
{
    return exception_message.c_str();
}

int kvl_exception_count()
{
    return exception_count;
}

void kvl_exception_clear()
{
    exception_message.clear();
    exception_count = 0;
}

/* -------------------------------------------------------------- CurrentEvent */

CurrentEvent::CurrentEvent(void* call_data) : ev_(nullptr)
{
    if (!call_data) return;
    const uint32_t* words = static_cast<const uint32_t*>(call_data);
    uint32_t marker = words[1];
    if (marker == KVL_EVENT_LIVE) {
        ev_ = static_cast<KvlEvent*>(call_data);
        kvl_event_ref(ev_);
    } else if (marker == KVL_EVENT_FREED) {
        kvl_exception_record("CurrentEvent freed before callback!!!");
    } else {
        kvl_exception_record("Attempt to initialize CurrentEvent with bad pointer");
    }
}

CurrentEvent::CurrentEvent(const CurrentEvent& o) : ev_(o.ev_)
{
    if (ev_) kvl_event_ref(ev_);
}

CurrentEvent& CurrentEvent::operator=(const CurrentEvent& o)
{
    if (o.ev_) kvl_event_ref(o.ev_);
    if (ev_) kvl_event_unref(ev_);
    ev_ = o.ev_;
    return *this;
}

CurrentEvent::~CurrentEvent()
{
    if (ev_) kvl_event_unref(ev_);
}

DataUnit CurrentEvent::get_name() const
{
    return ev_ ? ev_->name : DataUnit();
}
DataUnit CurrentEvent::get_objname() const
{
    return ev_ ? ev_->objname : DataUnit();
}
DataUnit CurrentEvent::get_objclass() const
{
    return ev_ ? ev_->objclass : DataUnit();
}
DataUnit CurrentEvent::get_attribute() const
{
    return ev_ ? ev_->attribute : DataUnit();
}
DataUnit CurrentEvent::get_value() const
{
    return ev_ ? ev_->value : DataUnit();
}

int CurrentEvent::do_something()
{
    if (!ev_) return 0;
    ev_->handled++;
    return 1;
}
