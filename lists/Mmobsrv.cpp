#include "lists/Mmobsrv.h"

#include <algorithm>
#include <atomic>

namespace orvelle {

namespace {
// Numbers the notification walks of every observable, so that an observer moved from one
// observable to another during a walk is never mistaken for one already reached.
std::atomic<uint64_t> walkCounter{0};
} // namespace

TMMObserver::~TMMObserver()
{
    if (observable_ != nullptr)
        observable_->RemoveObserver(this);
}

void TMMObserver::Notify(TPersistent* data)
{
    if (lockCount_ == 0)
        DoNotify(data);
}

void TMMObserver::DoNotify(TPersistent* data)
{
    if (OnNotify)
        OnNotify(this, data);
}

TMMObservable::~TMMObservable()
{
    while (!observers_.empty())
        RemoveObserver(observers_.back());
}

void TMMObservable::NotifyObservers(TPersistent* data)
{
    if (lockCount_ != 0)
        return;
    // The list is read afresh at every step, so a callback may remove observers (itself
    // included) or add some. The walk never reads past the end of a shrunken list, and the
    // stamp keeps an observer that slid down after a removal from hearing this call twice.
    const uint64_t walk = ++walkCounter;
    for (size_t i = observers_.size(); i > 0;) {
        i = std::min(i, observers_.size());
        if (i == 0)
            break;
        TMMObserver* observer = observers_[--i];
        if (observer->lastWalk_ == walk)
            continue;
        observer->lastWalk_ = walk;
        observer->Notify(data);
    }
}

void TMMObservable::AddObserver(TMMObserver* observer)
{
    if (observer == nullptr)
        return;
    // Room first, so that running out of memory leaves the observer where it was.
    if (observers_.size() == observers_.capacity())
        observers_.reserve(observers_.size() * 2 + 4);
    if (observer->observable_ != nullptr)
        observer->observable_->RemoveObserver(observer);
    observers_.push_back(observer);
    observer->observable_ = this;
}

void TMMObservable::RemoveObserver(TMMObserver* observer)
{
    if (observer == nullptr || observer->observable_ != this)
        return;
    observers_.erase(std::find(observers_.begin(), observers_.end(), observer));
    observer->observable_ = nullptr;
}

} // namespace orvelle
