#include "platform/Envelope.h"

#include <algorithm>

#include "platform/Exceptions.h"

namespace orvelle {

const TMMEnvelopePoint& TMMEnvelope::Points(int32_t index) const
{
    if (index < 0 || index >= PointCount())
        throw EListError(SListIndexError);
    return points_[static_cast<size_t>(index)];
}

void TMMEnvelope::AddPoint(const TMMEnvelopePoint& point, bool sorted)
{
    auto at = points_.end();
    if (sorted)
        at = std::find_if(points_.begin(), points_.end(), [&](const TMMEnvelopePoint& p) { return p.X > point.X; });
    points_.insert(at, point);
}

} // namespace orvelle
