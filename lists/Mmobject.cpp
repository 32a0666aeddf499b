#include "lists/Mmobject.h"

namespace orvelle {

void TMMObject::BeginUpdate()
{
    if (updateCount_ == 0)
        SetUpdateState(true);
    ++updateCount_;
}

void TMMObject::EndUpdate()
{
    // An unmatched EndUpdate is ignored: a negative count would silence every later change.
    if (updateCount_ <= 0)
        return;
    if (--updateCount_ == 0)
        SetUpdateState(false);
}

void TMMObject::SetUpdateState(bool updating)
{
    if (!updating)
        Changed();
}

void TMMObject::Changed()
{
    if (updateCount_ == 0 && OnChange)
        OnChange(this);
}

} // namespace orvelle
