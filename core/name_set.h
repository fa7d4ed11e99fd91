/*
 * name_set.h - a set of names that only grows, for runs that remember every
 * object they have passed (an export, to write a parent before its
 * children).  The names are copied end to end into large blocks and found
 * through an open-addressed table of their hashes, so adding one costs no
 * allocation of its own: a node per name, as a std::unordered_set makes,
 * costs more than the rest of the export's own work on an entry.
 */
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

class NameSet {
public:
    /* True when name was added before. */
    bool contains(std::string_view name) const;
    /* Adds name (a copy of it); nothing when it is there already. */
    void insert(std::string_view name);
    size_t size() const { return used_; }

private:
    struct Slot {
        const char* at = nullptr; /* the copy in a block; null: a free slot */
        uint32_t size = 0;
        uint64_t hash = 0;
    };
    /* The slot holding name, or the free one where it belongs. */
    size_t find(std::string_view name, uint64_t hash) const;
    void grow();

    std::vector<Slot> slots_; /* a power of two of them, at most half used */
    size_t used_ = 0;
    std::vector<std::unique_ptr<char[]>> blocks_;
    char* free_at_ = nullptr; /* in the last block */
    size_t free_left_ = 0;
};
