/*
 * dataunit.cpp - DataUnit, DUArray, the constant names and the Error state.
 */
#include "kvl/kvl_private.h"

#include <cstdlib>
#include <cstring>
#include <new>

/* ------------------------------------------------------------------ DataUnit */

static DUBuffer* buffer_new(const char* s, size_t n)
{
    DUBuffer* b = static_cast<DUBuffer*>(std::malloc(offsetof(DUBuffer, bytes) + n + 1));
    if (!b) throw std::bad_alloc();
    b->refs = 1;
    b->size = n;
    std::memcpy(b->bytes, s, n);
    b->bytes[n] = '\0';
    return b;
}

DataUnit::DataUnit(const char* s) : buf_(nullptr), data_(nullptr), len_(0)
{
    if (s && *s) {
        buf_ = buffer_new(s, std::strlen(s));
        data_ = buf_->bytes;
        len_ = buf_->size;
    }
}

DataUnit::DataUnit(const char* s, size_t n) : buf_(nullptr), data_(nullptr), len_(0)
{
    if (s && n) {
        buf_ = buffer_new(s, n);
        data_ = buf_->bytes;
        len_ = n;
    }
}

DataUnit::DataUnit(const DataUnit& o) : buf_(o.buf_), data_(o.data_), len_(o.len_)
{
    if (buf_) ++buf_->refs;
}

DataUnit::DataUnit(DataUnit&& o) noexcept : buf_(o.buf_), data_(o.data_), len_(o.len_)
{
    o.buf_ = nullptr;
    o.data_ = nullptr;
    o.len_ = 0;
}

DataUnit& DataUnit::operator=(const DataUnit& o)
{
    DUBuffer* buf = o.buf_; /* o may be *this: take its fields first */
    const char* data = o.data_;
    size_t len = o.len_;
    if (buf) ++buf->refs;
    release();
    buf_ = buf;
    data_ = data;
    len_ = len;
    return *this;
}

DataUnit& DataUnit::operator=(DataUnit&& o) noexcept
{
    if (this != &o) {
        release();
        buf_ = o.buf_;
        data_ = o.data_;
        len_ = o.len_;
        o.buf_ = nullptr;
        o.data_ = nullptr;
        o.len_ = 0;
    }
    return *this;
}

DataUnit::~DataUnit()
{
    release();
}

void DataUnit::release()
{
    if (buf_ && --buf_->refs == 0) std::free(buf_);
    buf_ = nullptr;
    data_ = nullptr;
    len_ = 0;
}

bool DataUnit::operator==(const DataUnit& o) const
{
    if (len_ != o.len_) return false;
    if (len_ == 0 || data_ == o.data_) return true;
    return std::memcmp(data_, o.data_, len_) == 0;
}

int DataUnit::share_count() const
{
    return buf_ ? buf_->refs : 0;
}

bool DataUnit::shares_with(const DataUnit& o) const
{
    return buf_ != nullptr && buf_ == o.buf_;
}

/* ------------------------------------------------------------------- DUArray */

DUArray::DUArray(int n) : units_(nullptr), count_(0)
{
    resize(n);
}

DUArray::DUArray(const DUArray& o) : units_(nullptr), count_(0)
{
    resize(o.count_);
    for (int i = 0; i < count_; i++) units_[i] = o.units_[i];
}

DUArray::DUArray(DUArray&& o) noexcept : units_(o.units_), count_(o.count_)
{
    o.units_ = nullptr;
    o.count_ = 0;
}

DUArray& DUArray::operator=(const DUArray& o)
{
    if (this != &o) {
        DUArray copy(o);
        take(copy);
    }
    return *this;
}

DUArray& DUArray::operator=(DUArray&& o) noexcept
{
    if (this != &o) {
        delete[] units_;
        units_ = o.units_;
        count_ = o.count_;
        o.units_ = nullptr;
        o.count_ = 0;
    }
    return *this;
}

DUArray::~DUArray()
{
    delete[] units_;
}

void DUArray::resize(int n)
{
    delete[] units_;
    units_ = nullptr;
    count_ = 0;
    if (n > 0) {
        units_ = new DataUnit[n];
        count_ = n;
    }
}

DataUnit DUArray::get(int i) const
{
    if (i < 0 || i >= count_) return DataUnit();
    return units_[i];
}

void DUArray::set(int i, const DataUnit& u)
{
    if (i >= 0 && i < count_) units_[i] = u;
}

void DUArray::append(const DataUnit& u)
{
    DataUnit* grown = new DataUnit[count_ + 1];
    for (int i = 0; i < count_; i++) grown[i] = std::move(units_[i]);
    grown[count_] = u;
    delete[] units_;
    units_ = grown;
    count_++;
}

void DUArray::take(DUArray& from)
{
    if (this == &from) return;
    delete[] units_;
    units_ = from.units_;
    count_ = from.count_;
    from.units_ = nullptr;
    from.count_ = 0;
}

/* ------------------------------------------------------------ constant names */

#define KVL_NAME(var, text) const DataUnit var(DataUnit::Static(), text, sizeof(text) - 1)
KVL_NAME(RAW_EVENT, "RAW_EVENT");
KVL_NAME(DISCONNECTED, "DISCONNECTED");
KVL_NAME(KVL_ERROR, "KVL_ERROR");
KVL_NAME(OBJECT_CREATED, "OBJECT_CREATED");
KVL_NAME(OBJECT_DESTROYED, "OBJECT_DESTROYED");
KVL_NAME(ATTR_CHANGED, "ATTR_CHANGED");
KVL_NAME(TRACKMODE, "TRACKMODE");
KVL_NAME(TRACK, "TRACK");
KVL_NAME(NOTRACK, "NOTRACK");
KVL_NAME(ACTUAL_CLASS, "ACTUAL_CLASS");
KVL_NAME(NICKNAME, "NICKNAME");
KVL_NAME(DERIVATION, "DERIVATION");
KVL_NAME(REPLACE, "REPLACE");
KVL_NAME(NONE, "NONE");

/* --------------------------------------------------------------------- Error */

Error::EntryProc Error::error_entry_callback = nullptr;

void Error::reset_error()
{
    type_ = KVL_OK;
    message_ = DataUnit();
    server_code_ = 0;
}

void Error::set_error(int type, const DataUnit& message, int server_code)
{
    type_ = type;
    message_ = message;
    server_code_ = server_code;
    if (error_entry_callback) error_entry_callback(this);
}

