#include "lists/Mmcutlst.h"

#include <algorithm>
#include <utility>

#include "platform/Exceptions.h"

namespace orvelle {

TMMCutList::TMMCutList() = default;

TMMCutList::~TMMCutList()
{
    OnChange = nullptr;
    OnChanging = nullptr;
    Clear();
}

void TMMCutList::Error() const { throw EListError(SListIndexError); }

void TMMCutList::refuseIndex() const
{
    Error();
    throw EListError(SListIndexError);
}

void TMMCutList::Grow()
{
    int32_t step = 4;
    if (capacity_ > 8)
        step = 16;
    else if (capacity_ > 4)
        step = 8;
    // The last step is cut short at the maximum so the final entries stay reachable.
    SetCapacity(std::min(capacity_ + step, kMaxCutListSize));
}

void TMMCutList::SetCapacity(int32_t newCapacity)
{
    if (newCapacity < count_ || newCapacity > kMaxCutListSize)
        refuseIndex();
    if (newCapacity == capacity_)
        return;
    std::unique_ptr<TMMCutRegion[]> fresh;
    if (newCapacity > 0) {
        fresh = std::make_unique<TMMCutRegion[]>(static_cast<size_t>(newCapacity)); // may throw; nothing changed yet
        std::copy_n(items_.get(), count_, fresh.get());
    }
    items_ = std::move(fresh);
    capacity_ = newCapacity;
}

void TMMCutList::SetCount(int32_t newCount)
{
    if (newCount < 0 || newCount > kMaxCutListSize)
        refuseIndex();
    if (newCount > capacity_)
        SetCapacity(newCount);
    if (newCount > count_)
        std::fill(items_.get() + count_, items_.get() + newCount, TMMCutRegion{});
    count_ = newCount;
}

int32_t TMMCutList::Add(const TMMCutRegion& region)
{
    const int32_t index = count_;
    Insert(index, region);
    return index;
}

void TMMCutList::Insert(int32_t index, const TMMCutRegion& region)
{
    // A full list at the maximum size is refused before anything is sent.
    if (index < 0 || index > count_ || count_ == kMaxCutListSize)
        refuseIndex();
    const TMMCutRegion copy = region; // `region` may live in the storage about to be reallocated
    Changing();
    if (count_ == capacity_)
        Grow();
    if (count_ == capacity_) // a Grow override that made no room
        refuseIndex();
    std::copy_backward(items_.get() + index, items_.get() + count_, items_.get() + count_ + 1);
    items_[index] = copy;
    ++count_;
    Changed();
}

void TMMCutList::Delete(int32_t index)
{
    if (index < 0 || index >= count_)
        refuseIndex();
    Changing();
    --count_;
    std::copy(items_.get() + index + 1, items_.get() + count_ + 1, items_.get() + index);
    Changed();
}

void TMMCutList::Put(int32_t index, const TMMCutRegion& region)
{
    if (index < 0 || index >= count_)
        refuseIndex();
    const TMMCutRegion copy = region;
    Changing();
    items_[index] = copy;
    Changed();
}

TMMCutRegion& TMMCutList::Get(int32_t index)
{
    if (index < 0 || index >= count_)
        refuseIndex();
    return items_[index];
}

const TMMCutRegion& TMMCutList::Get(int32_t index) const
{
    if (index < 0 || index >= count_)
        refuseIndex();
    return items_[index];
}

TMMCutRegion& TMMCutList::First() { return Get(0); }

TMMCutRegion& TMMCutList::Last() { return Get(count_ - 1); }

int32_t TMMCutList::IndexOf(const TMMCutRegion& region) const
{
    for (int32_t i = 0; i < count_; ++i)
        if (items_[i].StartPos == region.StartPos && items_[i].Length == region.Length)
            return i;
    return -1;
}

int32_t TMMCutList::Remove(const TMMCutRegion& region)
{
    const int32_t index = IndexOf(region);
    if (index >= 0)
        Delete(index);
    return index;
}

void TMMCutList::Clear()
{
    Changing();
    count_ = 0;
    SetCapacity(0);
    Changed();
}

TMMCutList* TMMCutList::Expand()
{
    if (count_ == capacity_)
        Grow();
    return this;
}

void TMMCutList::SetParams(int32_t index, int32_t start, int32_t length)
{
    if (index < 0 || index >= count_)
        refuseIndex();
    BeginUpdate();
    try {
        TMMCutRegion& entry = Get(index);
        entry.StartPos = start;
        entry.Length = length;
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

void TMMCutList::Assign(const TPersistent* source)
{
    const auto* other = dynamic_cast<const TMMCutList*>(source);
    if (source != nullptr && other == nullptr) {
        TPersistent::Assign(source);
        return;
    }
    if (other == this)
        return;
    BeginUpdate();
    try {
        Clear();
        for (int32_t i = 0; other != nullptr && i < other->Count(); ++i)
            Add(other->Get(i));
    } catch (...) {
        EndUpdate();
        throw;
    }
    EndUpdate();
}

void TMMCutList::SetUpdateState(bool updating)
{
    if (updating)
        Changing();
    else
        Changed();
}

void TMMCutList::Changing()
{
    if (updateCount_ == 0 && OnChanging)
        OnChanging(this);
}

int32_t TMMCutList::LocateRegion(int32_t position) const
{
    if (count_ == 0)
        return -1;
    if (items_[count_ - 1].StartPos <= position)
        return count_;
    int32_t lo = 0;
    int32_t hi = count_ - 1;
    int32_t mid = hi / 2;
    while (hi > lo) {
        if (items_[mid].StartPos <= position)
            lo = mid + 1;
        else
            hi = mid;
        mid = (lo + hi) / 2;
    }
    return mid;
}

int32_t TMMCutList::FindRegion(int32_t position) const
{
    const int32_t i = LocateRegion(position);
    if (i <= 0 || i > count_)
        return -1;
    const TMMCutRegion& candidate = items_[i - 1];
    // The end is formed in 64 bits: StartPos + Length may not fit 32.
    const int64_t last = int64_t{candidate.StartPos} + candidate.Length - 1;
    return (candidate.StartPos <= position && position <= last) ? i - 1 : -1;
}

bool TMMCutList::QueryRegion(int32_t position) const { return FindRegion(position) == -1; }

bool TMMCutList::AddRegion(const TMMCutRegion& region)
{
    if (!QueryRegion(region.StartPos))
        return false;
    const int32_t i = LocateRegion(region.StartPos);
    if (i < 0 || i >= count_)
        Add(region);
    else
        Insert(i, region);
    return true;
}

} // namespace orvelle
