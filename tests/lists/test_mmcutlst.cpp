#include "lists/Mmcutlst.h"
#include "platform/Exceptions.h"

#include <gtest/gtest.h>

#include <functional>
#include <new>
#include <string>
#include <utility>
#include <vector>

namespace orvelle {
namespace {

TMMCutRegion region(
    int32_t start, int32_t length, int32_t startBytes = 0, int32_t lengthBytes = 0, uint32_t reserved = 0)
{
    return TMMCutRegion{start, startBytes, length, lengthBytes, reserved};
}

bool sameFields(const TMMCutRegion& a, const TMMCutRegion& b)
{
    return a.StartPos == b.StartPos && a.StartBytes == b.StartBytes && a.Length == b.Length &&
        a.LengthBytes == b.LengthBytes && a.Reserved == b.Reserved;
}

// A list with both notifications logged as "changing" / "change".
struct CutListFixture : ::testing::Test {
    TMMCutList list;
    std::vector<std::string> log;
    void SetUp() override
    {
        list.OnChanging = [this](TMMObject* s) {
            EXPECT_EQ(s, &list);
            log.push_back("changing");
        };
        list.OnChange = [this](TMMObject* s) {
            EXPECT_EQ(s, &list);
            log.push_back("change");
        };
    }
    void fill(std::initializer_list<TMMCutRegion> regions)
    {
        for (const auto& r : regions)
            list.Add(r);
        log.clear();
    }
    std::vector<int32_t> startPositions() const
    {
        std::vector<int32_t> v;
        for (int32_t i = 0; i < list.Count(); ++i)
            v.push_back(list.Get(i).StartPos);
        return v;
    }
    const std::vector<std::string> pair{"changing", "change"};
};

TEST_F(CutListFixture, LocateAndFindOnTwoRegions)
{
    EXPECT_EQ(list.LocateRegion(0), -1);
    EXPECT_EQ(list.FindRegion(0), -1);
    fill({region(0, 10), region(100, 10)});
    struct Case {
        int32_t pos, locate, find;
    };
    const Case cases[] = {
        {-1, 0, -1},
        {0, 1, 0},
        {5, 1, 0},
        {9, 1, 0},
        {10, 1, -1},
        {50, 1, -1},
        {99, 1, -1},
        {100, 2, 1},
        {109, 2, 1},
        {110, 2, -1},
        {INT32_MAX, 2, -1},
        {INT32_MIN, 0, -1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(list.LocateRegion(c.pos), c.locate) << c.pos;
        EXPECT_EQ(list.FindRegion(c.pos), c.find) << c.pos;
        EXPECT_EQ(list.QueryRegion(c.pos), c.find == -1) << c.pos;
    }
}

TEST_F(CutListFixture, LocateSkipsPastEqualStartsInLongerList)
{
    fill({region(0, 1), region(10, 1), region(10, 1), region(10, 1), region(20, 1), region(30, 1), region(40, 1)});
    struct Case {
        int32_t pos, locate;
    };
    const Case cases[] = {{-5, 0}, {0, 1}, {9, 1}, {10, 4}, {19, 4}, {20, 5}, {35, 6}, {40, 7}};
    for (const auto& c : cases)
        EXPECT_EQ(list.LocateRegion(c.pos), c.locate) << c.pos;
}

TEST_F(CutListFixture, FindHandlesEndsBeyondInt32)
{
    fill({region(INT32_MAX - 5, INT32_MAX)});
    EXPECT_EQ(list.FindRegion(INT32_MAX), 0);
    EXPECT_EQ(list.FindRegion(INT32_MAX - 6), -1);
}

TEST_F(CutListFixture, AddRegionKeepsOrderAndRefusesStartsInside)
{
    struct Case {
        int32_t start;
        bool accepted;
        std::vector<int32_t> starts;
    };
    const Case cases[] = {
        {5, false, {0, 100}},
        {9, false, {0, 100}},
        {50, true, {0, 50, 100}},
        {-20, true, {-20, 0, 100}},
        {200, true, {0, 100, 200}},
        {110, true, {0, 100, 110}},
    };
    for (const auto& c : cases) {
        list.Clear();
        fill({region(0, 10), region(100, 10)});
        EXPECT_EQ(list.AddRegion(region(c.start, 5)), c.accepted) << c.start;
        EXPECT_EQ(startPositions(), c.starts) << c.start;
        EXPECT_EQ(log, c.accepted ? pair : std::vector<std::string>{}) << c.start;
    }
}

TEST_F(CutListFixture, AddRegionIntoEmptyAndAfterZeroLength)
{
    EXPECT_TRUE(list.AddRegion(region(7, 3)));
    EXPECT_EQ(startPositions(), std::vector<int32_t>{7});
    list.Clear();
    fill({region(0, 0)});
    EXPECT_TRUE(list.AddRegion(region(0, 4)));
    ASSERT_EQ(list.Count(), 2);
    EXPECT_EQ(list.Get(0).Length, 0);
    EXPECT_EQ(list.Get(1).Length, 4);
}

TEST(TMMCutList, CapacityGrowsInSteps)
{
    struct Case {
        int adds;
        int32_t capacity;
    };
    const Case cases[] = {{1, 4}, {4, 4}, {5, 8}, {8, 8}, {9, 16}, {16, 16}, {17, 32}, {33, 48}, {49, 64}};
    for (const auto& c : cases) {
        TMMCutList list;
        for (int i = 0; i < c.adds; ++i)
            EXPECT_EQ(list.Add(region(i, 1, i * 4)), i);
        EXPECT_EQ(list.Capacity(), c.capacity) << c.adds;
        for (int32_t i = 0; i < list.Count(); ++i)
            EXPECT_TRUE(sameFields(list.Get(i), region(i, 1, i * 4))) << i;
    }
}

TEST(TMMCutList, ExpandGrowsOnlyWhenFull)
{
    TMMCutList list;
    EXPECT_EQ(list.Expand(), &list);
    EXPECT_EQ(list.Capacity(), 4);
    list.Add(region(1, 1));
    list.Expand();
    EXPECT_EQ(list.Capacity(), 4);
}

TEST_F(CutListFixture, InsertDeletePutKeepOrderAndNotifyOnce)
{
    fill({region(1, 1), region(2, 1)});
    list.Insert(2, region(3, 1));
    EXPECT_EQ(startPositions(), (std::vector<int32_t>{1, 2, 3}));
    list.Insert(0, region(0, 1));
    list.Insert(2, region(9, 1));
    EXPECT_EQ(startPositions(), (std::vector<int32_t>{0, 1, 9, 2, 3}));
    list.Delete(2);
    EXPECT_EQ(startPositions(), (std::vector<int32_t>{0, 1, 2, 3}));
    EXPECT_EQ(list.Capacity(), 8);
    list.Put(1, region(5, 6, 7, 8, 9));
    EXPECT_TRUE(sameFields(list.Get(1), region(5, 6, 7, 8, 9)));
    EXPECT_EQ(log.size(), 10u); // one pair for each of the five changes
    for (size_t i = 0; i < log.size(); ++i)
        EXPECT_EQ(log[i], pair[i % 2]);
}

TEST_F(CutListFixture, IndexOfComparesStartAndLengthOnly)
{
    fill({region(0, 10, 1), region(5, 5), region(0, 10, 2)});
    EXPECT_EQ(list.IndexOf(region(0, 10, 99, 99, 99)), 0);
    EXPECT_EQ(list.IndexOf(region(5, 6)), -1);
    EXPECT_EQ(list.Remove(region(0, 10)), 0);
    EXPECT_EQ(list.Get(1).StartBytes, 2);
    EXPECT_EQ(list.Remove(region(7, 7)), -1);
    EXPECT_EQ(log, pair);
    EXPECT_EQ(&list.First(), &list.Get(0));
    EXPECT_EQ(&list.Last(), &list.Get(1));
}

TEST_F(CutListFixture, BadIndexesRaiseAndChangeNothing)
{
    const std::vector<std::pair<const char*, std::function<void(TMMCutList&)>>> ops = {
        {"Insert(Count+1)", [](TMMCutList& l) { l.Insert(l.Count() + 1, region(1, 1)); }},
        {"Insert(-1)", [](TMMCutList& l) { l.Insert(-1, region(1, 1)); }},
        {"Delete(Count)", [](TMMCutList& l) { l.Delete(l.Count()); }},
        {"Delete(-1)", [](TMMCutList& l) { l.Delete(-1); }},
        {"Put(Count)", [](TMMCutList& l) { l.Put(l.Count(), region(1, 1)); }},
        {"Get(-1)", [](TMMCutList& l) { l.Get(-1); }},
        {"Get(Count)", [](TMMCutList& l) { l.Get(l.Count()); }},
        {"const Get(Count)", [](TMMCutList& l) { std::as_const(l).Get(l.Count()); }},
        {"SetParams(Count)", [](TMMCutList& l) { l.SetParams(l.Count(), 1, 1); }},
        {"SetCapacity(Count-1)", [](TMMCutList& l) { l.SetCapacity(l.Count() - 1); }},
        {"SetCapacity(max+1)", [](TMMCutList& l) { l.SetCapacity(kMaxCutListSize + 1); }},
        {"SetCount(-1)", [](TMMCutList& l) { l.SetCount(-1); }},
        {"SetCount(max+1)", [](TMMCutList& l) { l.SetCount(kMaxCutListSize + 1); }},
    };
    fill({region(1, 2, 3, 4, 5), region(6, 7, 8, 9, 10)});
    for (const auto& [name, op] : ops) {
        try {
            op(list);
            ADD_FAILURE() << name << " did not raise";
        } catch (const EListError& e) {
            EXPECT_STREQ(e.what(), SListIndexError) << name;
        }
        EXPECT_TRUE(log.empty()) << name;
        ASSERT_EQ(list.Count(), 2) << name;
        EXPECT_EQ(list.Capacity(), 4) << name;
        EXPECT_TRUE(sameFields(list.Get(0), region(1, 2, 3, 4, 5))) << name;
        EXPECT_TRUE(sameFields(list.Get(1), region(6, 7, 8, 9, 10))) << name;
    }
}

TEST_F(CutListFixture, FirstAndLastOnEmptyRaise)
{
    EXPECT_THROW(list.First(), EListError);
    EXPECT_THROW(list.Last(), EListError);
    EXPECT_TRUE(log.empty());
}

TEST_F(CutListFixture, SetCountAndCapacityResizeSilently)
{
    list.SetCount(3);
    EXPECT_EQ(list.Count(), 3);
    EXPECT_EQ(list.Capacity(), 3);
    for (int32_t i = 0; i < 3; ++i)
        EXPECT_TRUE(sameFields(list.Get(i), region(0, 0))) << i;
    list.Put(2, region(1, 2, 3, 4, 5));
    log.clear();
    list.SetCount(1);
    list.SetCount(3); // entries coming back at the end are zeros again
    EXPECT_EQ(list.Capacity(), 3);
    EXPECT_TRUE(sameFields(list.Get(2), region(0, 0)));
    list.SetCapacity(10);
    EXPECT_EQ(list.Capacity(), 10);
    list.SetCount(0);
    list.SetCapacity(0);
    EXPECT_EQ(list.Capacity(), 0);
    EXPECT_TRUE(log.empty());
}

TEST_F(CutListFixture, UpdateBracketSendsOnePair)
{
    list.BeginUpdate();
    EXPECT_EQ(log, std::vector<std::string>{"changing"});
    list.BeginUpdate();
    for (int i = 0; i < 3; ++i)
        list.Add(region(i, 1));
    list.EndUpdate();
    EXPECT_EQ(log, std::vector<std::string>{"changing"});
    list.EndUpdate();
    EXPECT_EQ(log, pair);
    EXPECT_EQ(list.Count(), 3);
    list.EndUpdate(); // unmatched: ignored, later changes still notify
    log.clear();
    list.Delete(0);
    EXPECT_EQ(log, pair);
}

TEST_F(CutListFixture, ClearSendsPairAndReleasesStorage)
{
    fill({region(1, 1), region(2, 1)});
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(list.Capacity(), 0);
    EXPECT_EQ(log, pair);
}

TEST_F(CutListFixture, SetParamsChangesStartAndLengthOnly)
{
    fill({region(1, 2, 3, 4, 5)});
    list.SetParams(0, 10, 20);
    EXPECT_TRUE(sameFields(list.Get(0), region(10, 20, 3, 4, 5)));
    EXPECT_EQ(log, pair);
}

TEST_F(CutListFixture, AssignNullEmptiesWithOnePair)
{
    fill({region(1, 1), region(2, 1), region(3, 1)});
    list.Assign(nullptr);
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(log, pair);
}

TEST_F(CutListFixture, AssignToItselfDoesNothing)
{
    fill({region(1, 1), region(2, 1)});
    list.Assign(&list);
    EXPECT_EQ(list.Count(), 2);
    EXPECT_TRUE(log.empty());
}

TEST_F(CutListFixture, AssignCopiesEveryFieldWithOnePair)
{
    TMMCutList source;
    for (int32_t i = 0; i < 6; ++i)
        source.Add(region(i * 10, i + 1, i * 40, i * 4 + 4, 0xA0u + static_cast<uint32_t>(i)));
    fill({region(99, 1)});
    list.Assign(&source);
    ASSERT_EQ(list.Count(), 6);
    for (int32_t i = 0; i < 6; ++i)
        EXPECT_TRUE(sameFields(list.Get(i), source.Get(i))) << i;
    EXPECT_EQ(log, pair);
}

TEST_F(CutListFixture, AssignFromForeignClassRaisesFirst)
{
    fill({region(1, 1)});
    TPersistent foreign;
    EXPECT_THROW(list.Assign(&foreign), EAssignError);
    EXPECT_EQ(list.Count(), 1);
    EXPECT_TRUE(log.empty());
}

TEST(TMMCutList, DestroyingSendsNothing)
{
    int calls = 0;
    {
        TMMCutList list;
        list.Add(region(1, 1));
        list.OnChange = [&](TMMObject*) { ++calls; };
        list.OnChanging = [&](TMMObject*) { ++calls; };
    }
    EXPECT_EQ(calls, 0);
}

TEST(TMMCutList, AddAndInsertOwnEntryWhileGrowing)
{
    TMMCutList list;
    for (int32_t i = 0; i < 4; ++i)
        list.Add(region(i, 1, i, i, static_cast<uint32_t>(i)));
    ASSERT_EQ(list.Capacity(), 4);
    EXPECT_EQ(list.Add(list.Get(1)), 4); // storage is reallocated under the reference
    EXPECT_TRUE(sameFields(list.Get(4), region(1, 1, 1, 1, 1)));
    for (int32_t i = 5; i < 8; ++i)
        list.Add(region(i, 1));
    ASSERT_EQ(list.Capacity(), 8);
    list.Insert(0, list.Last());
    EXPECT_EQ(list.Get(0).StartPos, 7);
    EXPECT_EQ(list.Get(8).StartPos, 7);
}

// A list whose growth fails, as when memory runs out.
class FailingGrowList : public TMMCutList {
protected:
    void Grow() override { throw std::bad_alloc(); }
};

TEST(TMMCutList, FailedGrowthKeepsEntries)
{
    FailingGrowList list;
    list.SetCapacity(1);
    list.Add(region(1, 2, 3, 4, 5));
    std::vector<std::string> log;
    list.OnChanging = [&](TMMObject*) { log.push_back("changing"); };
    list.OnChange = [&](TMMObject*) { log.push_back("change"); };
    EXPECT_THROW(list.Add(region(9, 9)), std::bad_alloc);
    EXPECT_THROW(list.Insert(0, region(9, 9)), std::bad_alloc);
    EXPECT_EQ(list.Count(), 1);
    EXPECT_EQ(list.Capacity(), 1);
    EXPECT_TRUE(sameFields(list.Get(0), region(1, 2, 3, 4, 5)));
    EXPECT_EQ(log, (std::vector<std::string>{"changing", "changing"}));
}

// Through the base class, the bracket and the notification are the list's own: a bracket
// opened or closed through a TMMObject& holds back the list's notifications.
TEST_F(CutListFixture, BracketAndNotificationThroughTheBase)
{
    TMMObject& base = list;
    base.BeginUpdate();
    list.Add(region(1, 1));
    list.Add(region(5, 1));
    list.Delete(0);
    EXPECT_EQ(log, std::vector<std::string>{"changing"});
    EXPECT_EQ(base.UpdateCount(), 1);
    base.EndUpdate();
    EXPECT_EQ(log, pair);

    log.clear();
    list.BeginUpdate(); // opened on the list, closed through the base
    list.Add(region(9, 1));
    base.EndUpdate();
    EXPECT_EQ(log, pair);

    log.clear();
    int seen = 0;
    base.OnChange = [&](TMMObject* s) {
        EXPECT_EQ(s, &list);
        ++seen;
    };
    list.Add(region(20, 1)); // the callback set through the base is the list's
    EXPECT_EQ(seen, 1);
    base.Changed();
    EXPECT_EQ(seen, 2);
}

// An Error override that returns instead of raising: the operation still stops, before
// any write and any notification.
class ReturningErrorList : public TMMCutList {
public:
    mutable int errors = 0;

protected:
    void Error() const override { ++errors; }
};

TEST(TMMCutList, ErrorThatReturnsStillStopsTheOperation)
{
    ReturningErrorList list;
    list.SetCapacity(16);
    list.Add(region(1, 1, 2, 2, 3));
    int notifications = 0;
    list.OnChange = [&](TMMObject*) { ++notifications; };
    list.OnChanging = [&](TMMObject*) { ++notifications; };
    const std::pair<const char*, std::function<void()>> calls[] = {
        {"Put past Count", [&] { list.Put(3, region(7, 7)); }},
        {"Get past Count", [&] { (void)list.Get(10); }},
        {"Insert past Count", [&] { list.Insert(5, region(7, 7)); }},
        {"Delete past Count", [&] { list.Delete(2); }},
        {"SetCapacity below Count", [&] { list.SetCapacity(0); }},
        {"SetCount below 0", [&] { list.SetCount(-1); }},
        {"SetParams past Count", [&] { list.SetParams(4, 0, 0); }},
    };
    for (const auto& [name, call] : calls)
        EXPECT_THROW(call(), EListError) << name;
    EXPECT_EQ(list.errors, 7);
    EXPECT_EQ(notifications, 0);
    EXPECT_EQ(list.Count(), 1);
    EXPECT_EQ(list.Capacity(), 16);
    EXPECT_TRUE(sameFields(list.Get(0), region(1, 1, 2, 2, 3)));
}

} // namespace
} // namespace orvelle
