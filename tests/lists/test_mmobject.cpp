#include "lists/Mmobject.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace orvelle {
namespace {

// Records every SetUpdateState call, then lets the base act on it.
class RecordingObject : public TMMObject {
public:
    std::vector<bool> states;
    void SetUpdateState(bool updating) override
    {
        states.push_back(updating);
        TMMObject::SetUpdateState(updating);
    }
};

struct ObjectFixture : ::testing::Test {
    RecordingObject obj;
    int changes = 0;
    void SetUp() override
    {
        obj.OnChange = [this](TMMObject* sender) {
            EXPECT_EQ(sender, &obj);
            ++changes;
        };
    }
};

TEST_F(ObjectFixture, ChangedNotifiesOnlyOutsideUpdates)
{
    obj.Changed();
    EXPECT_EQ(changes, 1);
    obj.BeginUpdate();
    obj.Changed();
    EXPECT_EQ(changes, 1);
    obj.EndUpdate();
    EXPECT_EQ(changes, 2); // the closing EndUpdate reports the change
}

TEST_F(ObjectFixture, OnlyOutermostBracketChangesUpdateState)
{
    // Each step: call (true = BeginUpdate), expected count, expected notifications so far.
    struct Step {
        bool begin;
        int32_t count;
        int changes;
    };
    const Step steps[] = {{true, 1, 0}, {true, 2, 0}, {false, 1, 0}, {true, 2, 0}, {false, 1, 0}, {false, 0, 1}};
    for (const auto& s : steps) {
        s.begin ? obj.BeginUpdate() : obj.EndUpdate();
        EXPECT_EQ(obj.UpdateCount(), s.count);
        EXPECT_EQ(changes, s.changes);
    }
    EXPECT_EQ(obj.states, (std::vector<bool>{true, false}));
}

TEST_F(ObjectFixture, UnmatchedEndUpdateIsIgnored)
{
    obj.EndUpdate();
    EXPECT_EQ(obj.UpdateCount(), 0);
    EXPECT_TRUE(obj.states.empty());
    obj.Changed();
    EXPECT_EQ(changes, 1);
}

TEST(TMMObject, ChangedWithoutCallbackDoesNothing)
{
    TMMObject obj;
    obj.Changed();
    obj.BeginUpdate();
    obj.EndUpdate();
    EXPECT_EQ(obj.UpdateCount(), 0);
    EXPECT_EQ(obj.ClassName(), "TMMObject");
}

} // namespace
} // namespace orvelle
