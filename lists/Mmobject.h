#pragma once
// Base of the wave object and the edit lists: an update count and a change callback.
#include <cstdint>
#include <functional>

#include "platform/Persistent.h"

namespace orvelle {

class TMMObject : public TPersistent {
public:
    using TNotifyEvent = std::function<void(TMMObject* sender)>;

    // Calls SetUpdateState(true) when the count is 0, then adds 1.
    void BeginUpdate();
    // Subtracts 1; calls SetUpdateState(false) when the count reaches 0.
    void EndUpdate();
    // Calls Changed when `updating` is false.
    virtual void SetUpdateState(bool updating);
    // Calls OnChange with this object when the update count is 0 and OnChange is set.
    virtual void Changed();

    int32_t UpdateCount() const { return updateCount_; }
    TNotifyEvent OnChange;

    std::string ClassName() const override { return "TMMObject"; }

protected:
    int32_t updateCount_ = 0;
};

} // namespace orvelle
