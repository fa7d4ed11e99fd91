/*
 * sorted_merge.h - putting the unsorted end of a sorted list in order:
 * the registry and the sibling lists take a container's children that way.
 * PRIVATE to tree/.
 */
#ifndef TREE_SORTED_MERGE_H
#define TREE_SORTED_MERGE_H

#include <algorithm>
#include <cstddef>
#include <vector>

/* list[0, in_order) is in the order of less and list[in_order, end) in any
 * order: sorts the end and merges it in, stably (equal entries keep their
 * order, those of the first part before those of the end).  Every entry
 * moves at most once more than the sort needs.  A few entries among many
 * find their places by binary search, so a burst of 100 into a million
 * costs a few thousand comparisons, not a million. */
template <class T, class Less>
void merge_sorted_tail(std::vector<T>& list, size_t in_order, Less less)
{
    if (in_order >= list.size()) return;
    auto mid = list.begin() + (long)in_order;
    if (!std::is_sorted(mid, list.end(), less)) std::stable_sort(mid, list.end(), less);
    if (in_order == 0 || !less(*mid, *(mid - 1))) return; /* all after the first part */
    size_t tail = list.size() - in_order;
    if (tail > in_order / 16) {
        std::inplace_merge(list.begin(), mid, list.end(), less);
        return;
    }
    /* From the last new entry down: the entries of the first part that
     * sort after it move up past the new ones still to place, once. */
    std::vector<T> fresh(mid, list.end());
    auto first = list.begin();
    size_t end = in_order;    /* the first part not yet moved is [0, end) */
    size_t dst = list.size(); /* everything from dst on is in place */
    for (size_t j = tail; j-- > 0;) {
        size_t pos = (size_t)(std::upper_bound(first, first + (long)end, fresh[j], less) - first);
        std::move_backward(first + (long)pos, first + (long)end, first + (long)dst);
        dst -= end - pos;
        end = pos;
        list[--dst] = fresh[j];
    }
}

#endif /* TREE_SORTED_MERGE_H */
