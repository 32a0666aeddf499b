#include "lists/Mmfade.h"

#include <limits>

#include "platform/Envelope.h"
#include "platform/Exceptions.h"
#include "util/Mmutils.h"

namespace orvelle {

namespace {
// Exact for any 32-bit inputs (a compiler extension of g++ and clang).
__extension__ typedef __int128 Int128;
} // namespace

TMMFadeList::~TMMFadeList() { Clear(); }

void TMMFadeList::Error() const { raiseListIndexError(); }

void TMMFadeList::refuseIndex() const
{
    Error();
    raiseListIndexError();
}

void TMMFadeList::Grow() { SetCapacity(grownListCapacity(Capacity())); }

void TMMFadeList::checkIndex(int32_t index) const
{
    if (index < 0 || index >= Count())
        refuseIndex();
}

void TMMFadeList::SetCapacity(int32_t newCapacity)
{
    if (newCapacity < Count() || newCapacity > kMaxListSize)
        refuseIndex();
    items_.setCapacity(newCapacity);
}

void TMMFadeList::SetCount(int32_t newCount)
{
    if (newCount < 0 || newCount > kMaxListSize)
        refuseIndex();
    items_.setCount(newCount);
}

int32_t TMMFadeList::Add(const TMMFadePoint& point)
{
    const int32_t index = Count();
    Insert(index, point);
    return index;
}

void TMMFadeList::Insert(int32_t index, const TMMFadePoint& point)
{
    if (index < 0 || index > Count() || Count() == kMaxListSize)
        refuseIndex();
    const TMMFadePoint copy = point; // `point` may live in the storage about to be reallocated
    if (Count() == Capacity())
        Grow();
    if (Count() == Capacity()) // a Grow override that made no room
        refuseIndex();
    items_.insert(index, copy);
}

void TMMFadeList::Delete(int32_t index)
{
    checkIndex(index);
    items_.erase(index);
}

void TMMFadeList::Put(int32_t index, const TMMFadePoint& point)
{
    checkIndex(index);
    items_[index] = point;
}

TMMFadePoint& TMMFadeList::Get(int32_t index)
{
    checkIndex(index);
    return items_[index];
}

const TMMFadePoint& TMMFadeList::Get(int32_t index) const
{
    checkIndex(index);
    return items_[index];
}

bool TMMFadeList::Selected(int32_t index) const { return Get(index).Selected != 0; }

void TMMFadeList::Clear() { items_.clear(); }

TMMFadeList* TMMFadeList::Expand()
{
    if (Count() == Capacity())
        Grow();
    return this;
}

bool TMMFadeList::QueryFadePoint(const TMMFadePoint& point) const
{
    const int32_t n = Count();
    if (n == 0)
        return true;
    if (items_[0].Position >= point.Position || items_[n - 1].Position <= point.Position)
        return false;
    for (int32_t i = 0; i < n; ++i)
        if (items_[i].Position == point.Position)
            return false;
    return true;
}

bool TMMFadeList::AddFadePoint(const TMMFadePoint& point, bool takeVolume)
{
    if (!QueryFadePoint(point))
        return false;
    TMMFadePoint copy = point;
    const int32_t i = LocateFadePoint(copy.Position);
    if (0 < i && i < Count()) {
        if (takeVolume)
            copy.Volume = CalcFadeVolume(copy.Position);
        Insert(i, copy);
    } else {
        Add(copy);
    }
    return true;
}

int32_t TMMFadeList::LocateFadePoint(int32_t position) const
{
    return locateInsertionPoint(items_.data(), Count(), position, [](const TMMFadePoint& p) { return p.Position; });
}

int32_t TMMFadeList::FindFadePoint(int32_t position) const
{
    const int32_t i = LocateFadePoint(position);
    if (i <= 0 || i > Count())
        return -1;
    return items_[i - 1].Position == position ? i - 1 : -1;
}

int32_t TMMFadeList::CalcFadeVolume(int32_t position) const
{
    int32_t i = LocateFadePoint(position);
    if (i <= 0)
        return 0;
    i = Min(i, Count() - 1);
    if (i <= 0)
        return 0;
    const TMMFadePoint& a = items_[i - 1];
    const TMMFadePoint& b = items_[i];
    if (b.Position <= a.Position)
        return 0;
    // The differences are formed in 64 bits and their product in 128, so far-apart points
    // and large values interpolate exactly instead of wrapping; only a result outside 32
    // bits (possible when extrapolating past the last point) raises.
    const Int128 step =
        Int128{int64_t{b.Volume} - a.Volume} * (int64_t{position} - a.Position) / (int64_t{b.Position} - a.Position);
    const Int128 volume = a.Volume + step;
    if (volume < std::numeric_limits<int32_t>::min() || volume > std::numeric_limits<int32_t>::max())
        throw EIntOverflow();
    return static_cast<int32_t>(volume);
}

void TMMFadeList::Sort()
{
    const int32_t n = Count();
    int32_t gap = 1;
    while (gap <= n / 9)
        gap = 3 * gap + 1;
    for (; gap > 0; gap /= 3) {
        for (int32_t i = gap; i < n; ++i) {
            const TMMFadePoint moving = items_[i];
            int32_t j = i;
            for (; j >= gap && items_[j - gap].Position > moving.Position; j -= gap)
                items_[j] = items_[j - gap];
            items_[j] = moving;
        }
    }
}

void TMMFadeList::Assign(const TPersistent* source)
{
    const auto* other = dynamic_cast<const TMMFadeList*>(source);
    if (source != nullptr && other == nullptr) {
        TPersistent::Assign(source);
        return;
    }
    if (other == this)
        return;
    Clear();
    if (other == nullptr)
        return;
    SetCapacity(other->Count());
    for (int32_t i = 0; i < other->Count(); ++i) {
        TMMFadePoint copy = other->Get(i);
        copy.Selected = 0;
        Add(copy);
    }
}

void TMMFadeList::AssignEnvelope(const TPersistent* source)
{
    const auto* envelope = dynamic_cast<const TMMEnvelope*>(source);
    if (source != nullptr && envelope == nullptr) {
        TPersistent::Assign(source);
        return;
    }
    Clear();
    if (envelope == nullptr)
        return;
    SetCapacity(envelope->PointCount());
    for (int32_t i = 0; i < envelope->PointCount(); ++i) {
        const TMMEnvelopePoint& p = envelope->Points(i);
        Add(TMMFadePoint{p.X, p.Y, 0, 0, 0});
    }
}

void TMMFadeList::AssignToEnvelope(TPersistent* target) const
{
    auto* envelope = dynamic_cast<TMMEnvelope*>(target);
    if (envelope == nullptr)
        return;
    envelope->ClearPoints();
    TMMEnvelopePoint scratch; // one point object serves every copy and goes with the scope
    for (int32_t i = 0; i < Count(); ++i) {
        scratch.X = items_[i].Position;
        scratch.Y = items_[i].Volume;
        scratch.Selected = false;
        envelope->AddPoint(scratch, false);
    }
}

} // namespace orvelle
