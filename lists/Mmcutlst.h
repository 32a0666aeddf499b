#pragma once
// An ordered, growable list of regions of a wave (first sample and length).
#include <cstdint>

#include "lists/Mmlistrules.h"
#include "lists/Mmobject.h"

namespace orvelle {

struct TMMCutRegion {
    int32_t StartPos; // first sample
    int32_t StartBytes; // the same in bytes; filled by the wave object
    int32_t Length; // samples
    int32_t LengthBytes; // the same in bytes; filled by the wave object
    uint32_t Reserved;
};

inline constexpr int32_t kMaxCutListSize = kMaxListSize;

class TMMCutList : public TMMObject {
public:
    TMMCutList();
    ~TMMCutList() override;
    TMMCutList(const TMMCutList&) = delete;
    TMMCutList& operator=(const TMMCutList&) = delete;

    int32_t Count() const { return items_.count(); }
    int32_t Capacity() const { return items_.capacity(); }

    int32_t Add(const TMMCutRegion& region);
    void Insert(int32_t index, const TMMCutRegion& region);
    void Delete(int32_t index);
    void Put(int32_t index, const TMMCutRegion& region);
    // A reference into the storage, valid until the capacity next changes.
    TMMCutRegion& Get(int32_t index);
    const TMMCutRegion& Get(int32_t index) const;
    TMMCutRegion& First();
    TMMCutRegion& Last();
    int32_t IndexOf(const TMMCutRegion& region) const;
    int32_t Remove(const TMMCutRegion& region);
    virtual void Clear();
    TMMCutList* Expand();
    void SetCapacity(int32_t newCapacity);
    void SetCount(int32_t newCount);
    void SetParams(int32_t index, int32_t start, int32_t length);

    // `source` must be null or a TMMCutList; anything else raises EAssignError.
    void Assign(const TPersistent* source) override;

    // BeginUpdate, EndUpdate, the update count and OnChange are TMMObject's, so that a
    // bracket or a callback set through the base acts on the list: the outermost
    // BeginUpdate sends OnChanging, the matching EndUpdate OnChange.
    void SetUpdateState(bool updating) override;
    // Calls OnChanging with the list when the update count is 0.
    virtual void Changing();

    int32_t LocateRegion(int32_t position) const;
    int32_t FindRegion(int32_t position) const;
    bool QueryRegion(int32_t position) const;
    bool AddRegion(const TMMCutRegion& region);

    TNotifyEvent OnChanging;

    std::string ClassName() const override { return "TMMCutList"; }

protected:
    // Raises EListError with the list-index message; an override may raise its own
    // exception. Should it return, the operation is refused with EListError all the same.
    virtual void Error() const;
    virtual void Grow();

private:
    [[noreturn]] void refuseIndex() const;

    ListStorage<TMMCutRegion> items_;
};

} // namespace orvelle
