#pragma once
// A minimal subject/observer pair. Neither side owns the other; each detaches the other when
// it is destroyed, so the two may be destroyed in either order.
#include <cstdint>
#include <functional>
#include <vector>

#include "platform/Persistent.h"

namespace orvelle {

class TMMObservable;
class TMMObserver;

// Sender is the observer that forwards the notification, Data what the observable passed on.
using TMMObsNotifyEvent = std::function<void(TMMObserver* Sender, TPersistent* Data)>;

class TMMObserver {
public:
    TMMObserver() = default;
    virtual ~TMMObserver();
    TMMObserver(const TMMObserver&) = delete;
    TMMObserver& operator=(const TMMObserver&) = delete;

    // Calls DoNotify unless the observer is locked.
    virtual void Notify(TPersistent* data);
    void Lock() { ++lockCount_; }
    void UnLock() { --lockCount_; }
    bool GetLocked() const { return lockCount_ != 0; }
    // The observable whose list holds this observer, or null.
    TMMObservable* Observable() const { return observable_; }

    TMMObsNotifyEvent OnNotify;

protected:
    void DoNotify(TPersistent* data);

private:
    friend class TMMObservable;
    TMMObservable* observable_ = nullptr;
    int32_t lockCount_ = 0;
    uint64_t lastWalk_ = 0; // the notification walk that last reached this observer
};

class TMMObservable {
public:
    TMMObservable() = default;
    virtual ~TMMObservable();
    TMMObservable(const TMMObservable&) = delete;
    TMMObservable& operator=(const TMMObservable&) = delete;

    // Unless locked: Notify(data) on every observer, the last attached first.
    void NotifyObservers(TPersistent* data);
    // Moves `observer` from any observable it is attached to (this one too) to the end of this list.
    void AddObserver(TMMObserver* observer);
    // Detaches `observer` if it is attached to this observable; otherwise nothing.
    void RemoveObserver(TMMObserver* observer);
    void Lock() { ++lockCount_; }
    void Unlock() { --lockCount_; }
    int32_t LockCount() const { return lockCount_; }
    int32_t ObserverCount() const { return static_cast<int32_t>(observers_.size()); }

private:
    std::vector<TMMObserver*> observers_;
    int32_t lockCount_ = 0;
};

} // namespace orvelle
