#include "lists/Mmfade.h"
#include "platform/Envelope.h"
#include "platform/Exceptions.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <vector>

namespace orvelle {
namespace {

TMMFadePoint fp(int32_t position, int32_t volume = 0, int32_t left = 0, int32_t right = 0, uint32_t selected = 0)
{
    return TMMFadePoint{position, volume, left, right, selected};
}

bool sameFields(const TMMFadePoint& a, const TMMFadePoint& b)
{
    return a.Position == b.Position && a.Volume == b.Volume && a.LeftVolume == b.LeftVolume &&
        a.RightVolume == b.RightVolume && a.Selected == b.Selected;
}

struct FadeListFixture : ::testing::Test {
    TMMFadeList list;
    int changes = 0;
    void SetUp() override
    {
        list.OnChange = [this](TMMObject*) { ++changes; };
    }
    void fill(std::initializer_list<TMMFadePoint> points)
    {
        for (const auto& p : points)
            list.Add(p);
    }
    std::vector<int32_t> positions() const
    {
        std::vector<int32_t> v;
        for (int32_t i = 0; i < list.Count(); ++i)
            v.push_back(list.Get(i).Position);
        return v;
    }
    std::vector<TMMFadePoint> snapshot() const
    {
        std::vector<TMMFadePoint> v;
        for (int32_t i = 0; i < list.Count(); ++i)
            v.push_back(list.Get(i));
        return v;
    }
};

TEST_F(FadeListFixture, CreatedEmptyWithPlayStateAtZero)
{
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(list.Capacity(), 0);
    EXPECT_EQ(list.PlayState.Index, 0);
    EXPECT_EQ(list.PlayState.Position, 0);
    EXPECT_EQ(list.PlayState.LeftVolume, 0);
    EXPECT_EQ(list.PlayState.RightVolume, 0);
}

TEST_F(FadeListFixture, AddInsertDeletePutKeepOrderAndSendNothing)
{
    EXPECT_EQ(list.Add(fp(10)), 0);
    EXPECT_EQ(list.Add(fp(30)), 1);
    list.Insert(1, fp(20));
    list.Insert(3, fp(40)); // at Count: appends
    list.Insert(0, fp(0));
    EXPECT_EQ(positions(), (std::vector<int32_t>{0, 10, 20, 30, 40}));
    list.Delete(2);
    EXPECT_EQ(positions(), (std::vector<int32_t>{0, 10, 30, 40}));
    list.Put(1, fp(15, 7, 8, 9, 1));
    EXPECT_TRUE(sameFields(list.Get(1), fp(15, 7, 8, 9, 1)));
    EXPECT_EQ(list.First().Position, 0);
    EXPECT_EQ(list.Last().Position, 40);
    EXPECT_EQ(list.Capacity(), 8); // deleting keeps the capacity
    EXPECT_EQ(changes, 0);
}

TEST_F(FadeListFixture, InsertTakesACopyOfItsOwnEntry)
{
    fill({fp(1, 11), fp(2, 22), fp(3, 33), fp(4, 44)}); // full at capacity 4
    list.Insert(0, list.Get(3));
    EXPECT_EQ(list.Capacity(), 8);
    EXPECT_TRUE(sameFields(list.Get(0), fp(4, 44)));
    list.Add(list.Get(1));
    EXPECT_TRUE(sameFields(list.Last(), fp(1, 11)));
}

TEST_F(FadeListFixture, SelectedReportsTheField)
{
    fill({fp(0), fp(1, 0, 0, 0, 1), fp(2, 0, 0, 0, 0x80000000u)});
    EXPECT_FALSE(list.Selected(0));
    EXPECT_TRUE(list.Selected(1));
    EXPECT_TRUE(list.Selected(2));
}

TEST_F(FadeListFixture, BadIndexesRaiseAndChangeNothing)
{
    fill({fp(0, 1), fp(100, 2)});
    const std::vector<TMMFadePoint> before = snapshot();
    const std::function<void()> calls[] = {
        [&] { list.Insert(3, fp(5)); },
        [&] { list.Insert(-1, fp(5)); },
        [&] { list.Delete(2); },
        [&] { list.Delete(-1); },
        [&] { list.Put(2, fp(5)); },
        [&] { list.Get(-1); },
        [&] { list.Get(2); },
        [&] { list.Selected(2); },
        [&] { list.SetCapacity(1); },
        [&] { list.SetCapacity(kMaxListSize + 1); },
        [&] { list.SetCount(-1); },
        [&] { list.SetCount(kMaxListSize + 1); },
    };
    for (size_t i = 0; i < std::size(calls); ++i) {
        EXPECT_THROW(calls[i](), EListError) << "call " << i;
        EXPECT_EQ(list.Count(), 2);
        EXPECT_EQ(list.Capacity(), 4);
        for (size_t k = 0; k < before.size(); ++k)
            EXPECT_TRUE(sameFields(list.Get(static_cast<int32_t>(k)), before[k])) << "call " << i;
    }
    try {
        list.Get(5);
    } catch (const EListError& e) {
        EXPECT_STREQ(e.what(), SListIndexError);
    }
}

TEST_F(FadeListFixture, FirstAndLastOnAnEmptyListRaise)
{
    EXPECT_THROW(list.First(), EListError);
    EXPECT_THROW(list.Last(), EListError);
}

TEST_F(FadeListFixture, CapacityGrowsLikeTheCutList)
{
    struct Case {
        int adds;
        int32_t capacity;
    };
    const Case cases[] = {{1, 4}, {4, 4}, {5, 8}, {8, 8}, {9, 16}, {17, 32}, {33, 48}};
    for (const auto& c : cases) {
        TMMFadeList fresh;
        for (int i = 0; i < c.adds; ++i)
            fresh.Add(fp(i));
        EXPECT_EQ(fresh.Capacity(), c.capacity) << c.adds << " adds";
    }
    EXPECT_EQ(list.Expand(), &list);
    EXPECT_EQ(list.Capacity(), 4);
    list.Expand(); // not full: nothing
    EXPECT_EQ(list.Capacity(), 4);
}

TEST_F(FadeListFixture, SetCountAndSetCapacity)
{
    list.SetCount(3);
    EXPECT_EQ(list.Count(), 3);
    EXPECT_EQ(list.Capacity(), 3);
    for (int32_t i = 0; i < 3; ++i)
        EXPECT_TRUE(sameFields(list.Get(i), fp(0)));
    list.Put(2, fp(9, 9, 9, 9, 9));
    list.SetCount(1);
    EXPECT_EQ(list.Capacity(), 3);
    list.SetCount(3); // regrown entries are zeros again
    EXPECT_TRUE(sameFields(list.Get(2), fp(0)));
    list.SetCapacity(10);
    EXPECT_EQ(list.Capacity(), 10);
    EXPECT_EQ(list.Count(), 3);
    EXPECT_EQ(changes, 0);
}

TEST_F(FadeListFixture, ClearEmptiesTheListButNotThePlayState)
{
    fill({fp(0), fp(8)});
    list.PlayState = {1, 4, 100, 200};
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(list.Capacity(), 0);
    EXPECT_EQ(list.PlayState.Index, 1);
    EXPECT_EQ(list.PlayState.Position, 4);
    EXPECT_EQ(list.PlayState.LeftVolume, 100);
    EXPECT_EQ(list.PlayState.RightVolume, 200);
}

TEST_F(FadeListFixture, QueryFadePointAcceptsOnlyNewInnerPositions)
{
    EXPECT_TRUE(list.QueryFadePoint(fp(500))); // empty list
    list.Add(fp(0));
    EXPECT_FALSE(list.QueryFadePoint(fp(0)));
    EXPECT_FALSE(list.QueryFadePoint(fp(500))); // one point accepts nothing
    list.Add(fp(1000));
    struct Case {
        int32_t pos;
        bool ok;
    };
    const Case cases[] = {{500, true}, {1, true}, {999, true}, {0, false}, {1000, false}, {-5, false}, {2000, false}};
    for (const auto& c : cases)
        EXPECT_EQ(list.QueryFadePoint(fp(c.pos)), c.ok) << c.pos;
    list.Insert(1, fp(500));
    EXPECT_FALSE(list.QueryFadePoint(fp(500)));
}

TEST_F(FadeListFixture, AddFadePointInsertsSortedAndMayTakeTheEnvelopesVolume)
{
    struct Case {
        bool takeVolume;
        int32_t volume;
    };
    for (const Case c : {Case{true, 500}, Case{false, 77}}) {
        TMMFadeList l;
        l.Add(fp(0, 0));
        l.Add(fp(1000, 1000));
        EXPECT_TRUE(l.AddFadePoint(fp(500, 77, 1, 2, 1), c.takeVolume));
        ASSERT_EQ(l.Count(), 3);
        EXPECT_TRUE(sameFields(l.Get(1), fp(500, c.volume, 1, 2, 1))) << c.takeVolume;
        EXPECT_TRUE(l.AddFadePoint(fp(250, 3), c.takeVolume));
        EXPECT_EQ(l.Get(1).Position, 250);
        EXPECT_FALSE(l.AddFadePoint(fp(500), c.takeVolume));
        EXPECT_FALSE(l.AddFadePoint(fp(1000), c.takeVolume));
        EXPECT_EQ(l.Count(), 4);
    }
    EXPECT_TRUE(list.AddFadePoint(fp(7, 3), true)); // empty list: appended as it came
    EXPECT_TRUE(sameFields(list.Get(0), fp(7, 3)));
}

TEST_F(FadeListFixture, LocateAndFindFadePoint)
{
    EXPECT_EQ(list.LocateFadePoint(0), -1);
    EXPECT_EQ(list.FindFadePoint(0), -1);
    fill({fp(0), fp(100)});
    struct Case {
        int32_t pos, locate, find;
    };
    const Case cases[] = {
        {-1, 0, -1}, {0, 1, 0}, {50, 1, -1}, {99, 1, -1}, {100, 2, 1}, {150, 2, -1}, {INT32_MIN, 0, -1}};
    for (const auto& c : cases) {
        EXPECT_EQ(list.LocateFadePoint(c.pos), c.locate) << c.pos;
        EXPECT_EQ(list.FindFadePoint(c.pos), c.find) << c.pos;
    }
}

TEST_F(FadeListFixture, CalcFadeVolumeInterpolatesAndExtrapolates)
{
    EXPECT_EQ(list.CalcFadeVolume(5), 0); // empty
    list.Add(fp(0, 40));
    EXPECT_EQ(list.CalcFadeVolume(5), 0); // one point
    list.Add(fp(100, 100));
    list.Put(0, fp(0, 0));
    struct Case {
        int32_t pos, volume;
    };
    for (const Case c : {Case{0, 0}, Case{50, 50}, Case{100, 100}, Case{150, 150}, Case{-1, 0}})
        EXPECT_EQ(list.CalcFadeVolume(c.pos), c.volume) << c.pos;

    TMMFadeList down;
    down.Add(fp(0, 100));
    down.Add(fp(3, 0));
    EXPECT_EQ(down.CalcFadeVolume(1), 67); // 100 - 33.3, truncated toward zero
    EXPECT_EQ(down.CalcFadeVolume(2), 34);

    TMMFadeList same; // two points at one position
    same.Add(fp(5, 1));
    same.Add(fp(5, 9));
    EXPECT_EQ(same.CalcFadeVolume(7), 0);
}

TEST_F(FadeListFixture, CalcFadeVolumeIsExactForFarApartPointsAndRaisesWhenTheResultDoesNotFit)
{
    // Differences of these do not fit 32 bits; they are taken exactly.
    fill({fp(INT32_MIN, INT32_MIN), fp(INT32_MAX, INT32_MAX)});
    EXPECT_EQ(list.CalcFadeVolume(0), 0);
    EXPECT_EQ(list.CalcFadeVolume(INT32_MAX), INT32_MAX);
    EXPECT_EQ(list.CalcFadeVolume(INT32_MIN + 1), INT32_MIN + 1);

    TMMFadeList steep; // extrapolating past the last point leaves the 32-bit range
    steep.Add(fp(0, 0));
    steep.Add(fp(1, 1000000));
    EXPECT_EQ(steep.CalcFadeVolume(2000), 2000000000);
    EXPECT_THROW(steep.CalcFadeVolume(3000), EIntOverflow);
}

TEST_F(FadeListFixture, SortOrdersByPosition)
{
    fill({fp(5), fp(3), fp(9), fp(1)});
    list.Sort();
    EXPECT_EQ(positions(), (std::vector<int32_t>{1, 3, 5, 9}));

    // Long enough for gaps above 1 (4, 13, 40 ...), with repeats and extremes.
    std::mt19937 rng(11);
    for (int n : {0, 1, 9, 10, 40, 41, 200, 1000}) {
        TMMFadeList l;
        std::vector<int32_t> expected;
        for (int i = 0; i < n; ++i) {
            const int32_t pos = i % 7 == 0 ? INT32_MIN + i : static_cast<int32_t>(rng() % 50);
            expected.push_back(pos);
            l.Add(fp(pos, pos));
        }
        l.Sort();
        std::sort(expected.begin(), expected.end());
        for (int32_t i = 0; i < n; ++i) {
            EXPECT_EQ(l.Get(i).Position, expected[static_cast<size_t>(i)]) << n;
            EXPECT_EQ(l.Get(i).Volume, l.Get(i).Position); // each point moved whole
        }
    }
}

TEST_F(FadeListFixture, AssignCopiesPointsWithoutSelection)
{
    TMMFadeList source;
    source.Add(fp(0, 1, 2, 3, 1));
    source.Add(fp(10, 4, 5, 6, 0));
    source.Add(fp(20, 7, 8, 9, 5));
    fill({fp(99), fp(98), fp(97), fp(96), fp(95)});
    list.PlayState = {2, 3, 4, 5};
    list.Assign(&source);
    ASSERT_EQ(list.Count(), 3);
    EXPECT_EQ(list.Capacity(), 3);
    for (int32_t i = 0; i < 3; ++i) {
        TMMFadePoint expected = source.Get(i);
        expected.Selected = 0;
        EXPECT_TRUE(sameFields(list.Get(i), expected)) << i;
    }
    EXPECT_EQ(list.PlayState.Position, 3);

    list.Assign(&list); // itself: nothing
    EXPECT_EQ(list.Count(), 3);
    list.Assign(nullptr);
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(changes, 0);
}

TEST_F(FadeListFixture, AssignFromAForeignClassRaisesBeforeAnyChange)
{
    fill({fp(1), fp(2)});
    TMMEnvelope envelope;
    TMMObject other;
    EXPECT_THROW(list.Assign(&envelope), EAssignError);
    EXPECT_THROW(list.Assign(&other), EAssignError);
    EXPECT_THROW(list.AssignEnvelope(&other), EAssignError);
    TMMFadeList fades;
    EXPECT_THROW(list.AssignEnvelope(&fades), EAssignError);
    EXPECT_EQ(positions(), (std::vector<int32_t>{1, 2}));
}

TEST_F(FadeListFixture, AssignEnvelopeTakesPositionsAndValues)
{
    TMMEnvelope envelope;
    envelope.AddPoint({0, 10, true}, false);
    envelope.AddPoint({50, 20, false}, false);
    envelope.AddPoint({25, 30, true}, false); // order kept as the control has it
    fill({fp(1, 1, 1, 1, 1)});
    list.AssignEnvelope(&envelope);
    ASSERT_EQ(list.Count(), 3);
    EXPECT_EQ(list.Capacity(), 3);
    EXPECT_TRUE(sameFields(list.Get(0), fp(0, 10)));
    EXPECT_TRUE(sameFields(list.Get(1), fp(50, 20)));
    EXPECT_TRUE(sameFields(list.Get(2), fp(25, 30)));
    list.AssignEnvelope(nullptr);
    EXPECT_EQ(list.Count(), 0);
}

TEST_F(FadeListFixture, AssignToEnvelopeReplacesItsPoints)
{
    TMMEnvelope envelope;
    envelope.AddPoint({7, 7, true}, false);
    fill({fp(30, 3, 1, 1, 1), fp(10, 1), fp(20, 2, 0, 0, 1)});
    list.AssignToEnvelope(&envelope);
    ASSERT_EQ(envelope.PointCount(), 3);
    const int32_t xs[] = {30, 10, 20}, ys[] = {3, 1, 2};
    for (int32_t i = 0; i < 3; ++i) {
        EXPECT_EQ(envelope.Points(i).X, xs[i]);
        EXPECT_EQ(envelope.Points(i).Y, ys[i]);
        EXPECT_FALSE(envelope.Points(i).Selected);
    }
    TMMFadeList other;
    list.AssignToEnvelope(&other); // not an envelope: ignored
    list.AssignToEnvelope(nullptr);
    EXPECT_EQ(other.Count(), 0);

    TMMFadeList empty;
    empty.AssignToEnvelope(&envelope);
    EXPECT_EQ(envelope.PointCount(), 0);
}

// An Error override that returns instead of raising: the operation still stops before it
// writes anything.
class ReturningErrorFadeList : public TMMFadeList {
public:
    mutable int errors = 0;

protected:
    void Error() const override { ++errors; }
};

TEST(TMMFadeList, ErrorThatReturnsStillStopsTheOperation)
{
    ReturningErrorFadeList list;
    list.SetCapacity(16);
    list.Add(fp(8, 1, 2, 3, 0));
    const std::pair<const char*, std::function<void()>> calls[] = {
        {"Put past Count", [&] { list.Put(3, fp(7)); }},
        {"Get past Count", [&] { (void)list.Get(10); }},
        {"Insert past Count", [&] { list.Insert(5, fp(7)); }},
        {"Delete past Count", [&] { list.Delete(2); }},
        {"Selected past Count", [&] { (void)list.Selected(4); }},
        {"SetCapacity below Count", [&] { list.SetCapacity(0); }},
        {"SetCount below 0", [&] { list.SetCount(-1); }},
    };
    for (const auto& [name, call] : calls)
        EXPECT_THROW(call(), EListError) << name;
    EXPECT_EQ(list.errors, 7);
    EXPECT_EQ(list.Count(), 1);
    EXPECT_EQ(list.Capacity(), 16);
    EXPECT_EQ(list.Get(0).Position, 8);
    EXPECT_EQ(list.Get(0).RightVolume, 3);
}

} // namespace
} // namespace orvelle
