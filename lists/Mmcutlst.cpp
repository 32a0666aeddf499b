#include "lists/Mmcutlst.h"

namespace orvelle {

TMMCutList::TMMCutList() = default;

TMMCutList::~TMMCutList()
{
    OnChange = nullptr;
    OnChanging = nullptr;
    Clear();
}

void TMMCutList::Error() const { raiseListIndexError(); }

void TMMCutList::refuseIndex() const
{
    Error();
    raiseListIndexError();
}

void TMMCutList::Grow() { SetCapacity(grownListCapacity(Capacity())); }

void TMMCutList::SetCapacity(int32_t newCapacity)
{
    if (newCapacity < Count() || newCapacity > kMaxListSize)
        refuseIndex();
    items_.setCapacity(newCapacity);
}

void TMMCutList::SetCount(int32_t newCount)
{
    if (newCount < 0 || newCount > kMaxListSize)
        refuseIndex();
    items_.setCount(newCount);
}

int32_t TMMCutList::Add(const TMMCutRegion& region)
{
    const int32_t index = Count();
    Insert(index, region);
    return index;
}

void TMMCutList::Insert(int32_t index, const TMMCutRegion& region)
{
    // A full list at the maximum size is refused before anything is sent.
    if (index < 0 || index > Count() || Count() == kMaxListSize)
        refuseIndex();
    const TMMCutRegion copy = region; // `region` may live in the storage about to be reallocated
    Changing();
    if (Count() == Capacity())
        Grow();
    if (Count() == Capacity()) // a Grow override that made no room
        refuseIndex();
    items_.insert(index, copy);
    Changed();
}

void TMMCutList::Delete(int32_t index)
{
    if (index < 0 || index >= Count())
        refuseIndex();
    Changing();
    items_.erase(index);
    Changed();
}

void TMMCutList::Put(int32_t index, const TMMCutRegion& region)
{
    if (index < 0 || index >= Count())
        refuseIndex();
    const TMMCutRegion copy = region;
    Changing();
    items_[index] = copy;
    Changed();
}

TMMCutRegion& TMMCutList::Get(int32_t index)
{
    if (index < 0 || index >= Count())
        refuseIndex();
    return items_[index];
}

const TMMCutRegion& TMMCutList::Get(int32_t index) const
{
    if (index < 0 || index >= Count())
        refuseIndex();
    return items_[index];
}

TMMCutRegion& TMMCutList::First() { return Get(0); }

TMMCutRegion& TMMCutList::Last() { return Get(Count() - 1); }

int32_t TMMCutList::IndexOf(const TMMCutRegion& region) const
{
    for (int32_t i = 0; i < Count(); ++i)
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
    items_.clear();
    Changed();
}

TMMCutList* TMMCutList::Expand()
{
    if (Count() == Capacity())
        Grow();
    return this;
}

void TMMCutList::SetParams(int32_t index, int32_t start, int32_t length)
{
    if (index < 0 || index >= Count())
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
    return locateInsertionPoint(items_.data(), Count(), position, [](const TMMCutRegion& r) { return r.StartPos; });
}

int32_t TMMCutList::FindRegion(int32_t position) const
{
    const int32_t i = LocateRegion(position);
    if (i <= 0 || i > Count())
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
    if (i < 0 || i >= Count())
        Add(region);
    else
        Insert(i, region);
    return true;
}

} // namespace orvelle
