/*
 * name_set.cpp - the grow-only set of names: linear probing over a table
 * kept at most half full, the names' bytes in blocks of 1 MiB (a longer name
 * gets a block of its own).
 */
#include "core/name_set.h"

#include <cstring>
#include <functional>

namespace {
constexpr size_t kBlock = size_t(1) << 20;
}

size_t NameSet::find(std::string_view name, uint64_t hash) const
{
    size_t mask = slots_.size() - 1;
    for (size_t i = hash & mask;; i = (i + 1) & mask) {
        const Slot& s = slots_[i];
        if (!s.at || (s.hash == hash && s.size == name.size() &&
                      std::memcmp(s.at, name.data(), name.size()) == 0))
            return i;
    }
}

bool NameSet::contains(std::string_view name) const
{
    if (used_ == 0) return false;
    return slots_[find(name, std::hash<std::string_view>()(name))].at != nullptr;
}

void NameSet::insert(std::string_view name)
{
    if ((used_ + 1) * 2 > slots_.size()) grow();
    uint64_t hash = std::hash<std::string_view>()(name);
    Slot& s = slots_[find(name, hash)];
    if (s.at) return;
    if (name.size() > free_left_) {
        size_t size = name.size() > kBlock ? name.size() : kBlock;
        blocks_.emplace_back(new char[size]);
        free_at_ = blocks_.back().get();
        free_left_ = size;
    }
    if (name.empty()) {
        s.at = ""; /* an address that is not null: a used slot */
    } else {
        s.at = free_at_;
        std::memcpy(free_at_, name.data(), name.size());
        free_at_ += name.size();
        free_left_ -= name.size();
    }
    s.size = static_cast<uint32_t>(name.size());
    s.hash = hash;
    used_++;
}

void NameSet::grow()
{
    std::vector<Slot> old(slots_.empty() ? 64 : slots_.size() * 2);
    old.swap(slots_);
    size_t mask = slots_.size() - 1;
    for (const Slot& s : old) {
        if (!s.at) continue;
        size_t i = s.hash & mask;
        while (slots_[i].at) i = (i + 1) & mask;
        slots_[i] = s;
    }
}
