#pragma once

#include "library/ItemStatus.h"
#include "platform/foundation/PropertyList.h"

#include <cstddef>
#include <memory>
#include <vector>

// The working list of one rating pass: a fixed, ordered list of item records and one status per
// item, all neutral at first. A set never grows, shrinks or reorders; the next pass gets a new one.
//
// Threads: statuses are read and written on the main thread only. The items never change after
// construction, so count() and itemAtIndex() may also be called from the photo-loading threads
// without a lock.
class RateSet {
public:
    // Keeps its own copy of `items`: later changes to the caller's array do not reach the set.
    explicit RateSet(PlistArray items);
    // Shares `items`, which nobody changes (an album's list of photos): an album of tens of
    // thousands of photos is not copied on the main thread. Null is an empty list.
    explicit RateSet(std::shared_ptr<const PlistArray> items);
    static std::shared_ptr<RateSet> rateSetWithItems(PlistArray items);
    static std::shared_ptr<RateSet> rateSetSharingItems(std::shared_ptr<const PlistArray> items);

    std::size_t count() const { return m_items->size(); }

    // An index at or past the end is a programming error (std::out_of_range).
    const PlistPtr& itemAtIndex(std::size_t index) const { return m_items->at(index); }

    // An index at or past the end is a programming error ("Index out of range (%lu >= %lu)");
    // nothing is read or written then.
    ItemStatus itemStatusAtIndex(std::size_t index) const;
    void setItemStatus(ItemStatus status, std::size_t index);

    // Every item whose status is `status`, in the order of the pass; a fresh array that later
    // status changes do not touch.
    PlistArray itemsWithStatus(ItemStatus status) const;

private:
    // Raises the out-of-range failure in the name of `operation`.
    void checkIndex(std::size_t index, const char* operation) const;

    // Never null.
    const std::shared_ptr<const PlistArray> m_items;
    // Entry i belongs to item i.
    std::vector<ItemStatus> m_itemStates;
};
