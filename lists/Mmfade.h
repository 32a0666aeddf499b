#pragma once
// An ordered, growable list of fade points: a volume envelope over a wave, with the play
// state that the fade routines read and advance while the wave's data streams past.
#include <cstdint>

#include "lists/Mmlistrules.h"
#include "lists/Mmobject.h"

namespace orvelle {

struct TMMFadePoint {
    int32_t Position; // byte offset in the stream of sample data, on a frame boundary
    int32_t Volume; // envelope value, in the envelope control's units
    int32_t LeftVolume; // gain of the first channel; 16384 is unity
    int32_t RightVolume; // gain of the second channel
    uint32_t Selected; // non-zero when selected in an editor
};

// Where the fade routines stand: the point they ramp towards, the byte position reached and
// the gains reached there. Whoever reads through the list sets it before reading from a new
// position; list edits leave it alone.
struct TMMFadePlayState {
    int32_t Index = 0;
    int32_t Position = 0;
    int32_t LeftVolume = 0;
    int32_t RightVolume = 0;
};

// The list sends no change notifications.
class TMMFadeList : public TMMObject {
public:
    TMMFadeList() = default;
    ~TMMFadeList() override;
    TMMFadeList(const TMMFadeList&) = delete;
    TMMFadeList& operator=(const TMMFadeList&) = delete;

    int32_t Count() const { return items_.count(); }
    int32_t Capacity() const { return items_.capacity(); }

    int32_t Add(const TMMFadePoint& point);
    void Insert(int32_t index, const TMMFadePoint& point);
    void Delete(int32_t index);
    void Put(int32_t index, const TMMFadePoint& point);
    // A reference into the storage, valid until the capacity next changes.
    TMMFadePoint& Get(int32_t index);
    const TMMFadePoint& Get(int32_t index) const;
    TMMFadePoint& First() { return Get(0); }
    TMMFadePoint& Last() { return Get(Count() - 1); }
    bool Selected(int32_t index) const;
    void Clear();
    TMMFadeList* Expand();
    void SetCapacity(int32_t newCapacity);
    void SetCount(int32_t newCount);

    // True when `point` lies strictly inside the envelope and no point has its position; an
    // empty list accepts any point, a list of one none.
    bool QueryFadePoint(const TMMFadePoint& point) const;
    // Sorted insertion of an inner point; with `takeVolume` its Volume is taken from the
    // envelope, so that the envelope keeps its shape.
    bool AddFadePoint(const TMMFadePoint& point, bool takeVolume);
    int32_t LocateFadePoint(int32_t position) const;
    int32_t FindFadePoint(int32_t position) const;
    // The envelope's Volume at `position`, on the line through the two points around it.
    int32_t CalcFadeVolume(int32_t position) const;
    void Sort();

    // `source` must be null or a TMMFadeList; anything else raises EAssignError.
    void Assign(const TPersistent* source) override;
    // `source` must be null or a TMMEnvelope; anything else raises EAssignError.
    virtual void AssignEnvelope(const TPersistent* source);
    // Copies the points into `target` when it is a TMMEnvelope; anything else is ignored.
    virtual void AssignToEnvelope(TPersistent* target) const;

    TMMFadePlayState PlayState;

    std::string ClassName() const override { return "TMMFadeList"; }

protected:
    // Raises EListError with the list-index message; an override may raise its own
    // exception. Should it return, the operation is refused with EListError all the same.
    virtual void Error() const;
    virtual void Grow();

private:
    [[noreturn]] void refuseIndex() const;
    void checkIndex(int32_t index) const;
    ListStorage<TMMFadePoint> items_;
};

} // namespace orvelle
