#include "platform/Envelope.h"
#include "platform/Exceptions.h"

#include <gtest/gtest.h>

#include <vector>

namespace orvelle {
namespace {

std::vector<int32_t> xPositions(const TMMEnvelope& e)
{
    std::vector<int32_t> v;
    for (int32_t i = 0; i < e.PointCount(); ++i)
        v.push_back(e.Points(i).X);
    return v;
}

TEST(Envelope, AddPointAppendsOrKeepsXOrder)
{
    struct Case {
        bool sorted;
        std::vector<int32_t> expected;
    };
    const Case cases[] = {{false, {10, 30, 20, 30}}, {true, {10, 20, 30, 30}}};
    for (const auto& c : cases) {
        TMMEnvelope e;
        e.AddPoint({10, 1, false}, false);
        e.AddPoint({30, 3, true}, false);
        e.AddPoint({20, 2, false}, c.sorted);
        e.AddPoint({30, 4, false}, c.sorted); // an equal X goes after the one already there
        EXPECT_EQ(xPositions(e), c.expected) << "sorted " << c.sorted;
        EXPECT_EQ(e.Points(3).Y, 4);
        EXPECT_TRUE(e.Points(c.sorted ? 2 : 1).Selected);
    }
}

TEST(Envelope, PointsOutsideTheListRaiseAndClearEmpties)
{
    TMMEnvelope e;
    e.AddPoint({1, 2, false}, false);
    EXPECT_THROW(e.Points(1), EListError);
    EXPECT_THROW(e.Points(-1), EListError);
    e.ClearPoints();
    EXPECT_EQ(e.PointCount(), 0);
    EXPECT_THROW(e.Points(0), EListError);
}

} // namespace
} // namespace orvelle
