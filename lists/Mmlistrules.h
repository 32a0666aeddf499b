#pragma once
// What the edit lists share: the size limit, the growth rule, the list-index error, the
// entry storage and the search for an insertion point in a list ordered by a position.
#include <algorithm>
#include <cstdint>
#include <memory>

#include "platform/Exceptions.h"

namespace orvelle {

inline constexpr int32_t kMaxListSize = 134217727;

// The capacity after one growth step: +4 up to 4, +8 from 5 to 8, +16 from 9 on; the last
// step is cut short at the maximum so the final entries stay reachable.
inline int32_t grownListCapacity(int32_t capacity)
{
    const int32_t step = capacity > 8 ? 16 : (capacity > 4 ? 8 : 4);
    return std::min(capacity + step, kMaxListSize);
}

[[noreturn]] inline void raiseListIndexError() { throw EListError(SListIndexError); }

// A contiguous array of plain records with a count and a capacity. It checks nothing:
// the lists validate indexes and sizes first, so that their own Error reports a bad one.
template <typename T> class ListStorage {
public:
    int32_t count() const { return count_; }
    int32_t capacity() const { return capacity_; }
    T* data() { return items_.get(); }
    const T* data() const { return items_.get(); }
    T& operator[](int32_t index) { return items_[index]; }
    const T& operator[](int32_t index) const { return items_[index]; }

    // Reallocates to exactly `capacity` entries (0 releases), keeping those in use. An
    // allocation failure leaves everything as it was.
    void setCapacity(int32_t capacity)
    {
        if (capacity == capacity_)
            return;
        std::unique_ptr<T[]> fresh;
        if (capacity > 0) {
            fresh = std::make_unique<T[]>(static_cast<size_t>(capacity));
            std::copy_n(items_.get(), count_, fresh.get());
        }
        items_ = std::move(fresh);
        capacity_ = capacity;
    }
    // Entries added at the end are all zeros; the capacity becomes exactly `count` if short.
    void setCount(int32_t count)
    {
        if (count > capacity_)
            setCapacity(count);
        if (count > count_)
            std::fill(items_.get() + count_, items_.get() + count, T{});
        count_ = count;
    }
    // Needs a free entry (count < capacity).
    void insert(int32_t index, const T& item)
    {
        std::copy_backward(items_.get() + index, items_.get() + count_, items_.get() + count_ + 1);
        items_[index] = item;
        ++count_;
    }
    void erase(int32_t index)
    {
        std::copy(items_.get() + index + 1, items_.get() + count_, items_.get() + index);
        --count_;
    }
    void clear()
    {
        count_ = 0;
        setCapacity(0);
    }

private:
    std::unique_ptr<T[]> items_;
    int32_t count_ = 0;
    int32_t capacity_ = 0;
};

// The insertion point for `position` in entries ordered by `key(entry)`: -1 for no entries,
// `count` when the last key is at or before `position`, otherwise the lowest index whose key
// is greater (a bisection, so for an unordered list the result is whatever the probes meet).
template <typename T, typename Key>
int32_t locateInsertionPoint(const T* items, int32_t count, int32_t position, Key key)
{
    if (count == 0)
        return -1;
    if (key(items[count - 1]) <= position)
        return count;
    int32_t lo = 0;
    int32_t hi = count - 1;
    int32_t mid = hi / 2;
    while (hi > lo) {
        if (key(items[mid]) <= position)
            lo = mid + 1;
        else
            hi = mid;
        mid = (lo + hi) / 2;
    }
    return mid;
}

} // namespace orvelle
