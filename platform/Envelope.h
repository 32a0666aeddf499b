#pragma once
// The envelope control, reduced to what the fade list exchanges with it: an ordered list of
// points, each with a horizontal position, a vertical value and a selection mark. Drawing
// and editing belong to the GUI; this is the data the control holds.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/Persistent.h"

namespace orvelle {

struct TMMEnvelopePoint {
    int32_t X = 0; // horizontal position
    int32_t Y = 0; // vertical value
    bool Selected = false;
};

class TMMEnvelope : public TPersistent {
public:
    int32_t PointCount() const { return static_cast<int32_t>(points_.size()); }
    // Raises EListError for an index outside 0..PointCount() - 1.
    const TMMEnvelopePoint& Points(int32_t index) const;
    void ClearPoints() { points_.clear(); }
    // Adds a copy of `point`: with `sorted`, before the first point whose X is greater (so
    // a list in X order stays so), otherwise at the end.
    void AddPoint(const TMMEnvelopePoint& point, bool sorted);

    std::string ClassName() const override { return "TMMEnvelope"; }

private:
    std::vector<TMMEnvelopePoint> points_;
};

} // namespace orvelle
