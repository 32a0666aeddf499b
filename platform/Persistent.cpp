#include "Persistent.h"

#include "Exceptions.h"

namespace orvelle {

void TPersistent::AssignTo(TPersistent& dest) const
{
    throw EAssignError("Cannot assign a " + ClassName() + " to a " + dest.ClassName());
}

void TPersistent::Assign(const TPersistent* source)
{
    if (source == nullptr)
        throw EAssignError("Cannot assign a nil to a " + ClassName());
    source->AssignTo(*this);
}

} // namespace orvelle
