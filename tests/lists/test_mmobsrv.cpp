#include "lists/Mmobsrv.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace orvelle {
namespace {

// Something to pass on as the notification's data.
struct Payload : TPersistent { };

// Observers named "A", "B", ... that log "name" into a shared list when notified.
struct ObserverFixture : ::testing::Test {
    TMMObservable subject;
    Payload payload;
    std::vector<std::string> log;
    std::vector<std::unique_ptr<TMMObserver>> observers;

    TMMObserver& make(const std::string& name)
    {
        observers.push_back(std::make_unique<TMMObserver>());
        TMMObserver* self = observers.back().get();
        self->OnNotify = [this, self, name](TMMObserver* sender, TPersistent* data) {
            EXPECT_EQ(sender, self);
            EXPECT_EQ(data, &payload);
            log.push_back(name);
        };
        return *self;
    }
    TMMObserver& attached(const std::string& name)
    {
        TMMObserver& o = make(name);
        subject.AddObserver(&o);
        return o;
    }
    std::vector<std::string> notifyAll()
    {
        log.clear();
        subject.NotifyObservers(&payload);
        return log;
    }
    using Names = std::vector<std::string>;
};

TEST_F(ObserverFixture, NotifiesTheLastAttachedFirst)
{
    attached("A");
    attached("B");
    attached("C");
    EXPECT_EQ(notifyAll(), (Names{"C", "B", "A"}));
}

TEST_F(ObserverFixture, AttachingTwiceKeepsOneEntryMovedToTheEnd)
{
    TMMObserver& a = attached("A");
    attached("B");
    subject.AddObserver(&a);
    EXPECT_EQ(subject.ObserverCount(), 2);
    EXPECT_EQ(notifyAll(), (Names{"A", "B"}));
}

TEST_F(ObserverFixture, ObservableLocksAreCountedAndQueueNothing)
{
    attached("A");
    attached("B");
    // Each step: lock (+1) or unlock (-1), then what one notification reaches.
    struct Step {
        int change;
        int32_t count;
        Names reached;
    };
    const Step steps[] = {
        {+1, 1, {}}, {+1, 2, {}}, {-1, 1, {}}, {-1, 0, {"B", "A"}}, {-1, -1, {}}, {+1, 0, {"B", "A"}}};
    for (const auto& s : steps) {
        s.change > 0 ? subject.Lock() : subject.Unlock();
        EXPECT_EQ(subject.LockCount(), s.count);
        EXPECT_EQ(notifyAll(), s.reached) << "lock count " << s.count;
    }
}

TEST_F(ObserverFixture, LockedObserverIsSkipped)
{
    attached("A");
    TMMObserver& b = attached("B");
    attached("C");
    b.Lock();
    b.Lock();
    EXPECT_TRUE(b.GetLocked());
    EXPECT_EQ(notifyAll(), (Names{"C", "A"}));
    b.UnLock();
    EXPECT_EQ(notifyAll(), (Names{"C", "A"}));
    b.UnLock();
    EXPECT_FALSE(b.GetLocked());
    EXPECT_EQ(notifyAll(), (Names{"C", "B", "A"}));
    // Direct calls obey the lock as well.
    b.UnLock();
    log.clear();
    b.Notify(&payload);
    EXPECT_TRUE(log.empty());
}

TEST_F(ObserverFixture, AddingMovesAnObserverFromAnotherObservable)
{
    TMMObservable other;
    TMMObserver& a = make("A");
    other.AddObserver(&a);
    subject.AddObserver(&a);
    EXPECT_EQ(a.Observable(), &subject);
    EXPECT_EQ(other.ObserverCount(), 0);
    log.clear();
    other.NotifyObservers(&payload);
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(notifyAll(), (Names{"A"}));
}

TEST_F(ObserverFixture, RemovingAForeignObserverOrNullChangesNothing)
{
    TMMObservable other;
    TMMObserver& a = make("A");
    other.AddObserver(&a);
    attached("B");
    subject.RemoveObserver(&a);
    subject.RemoveObserver(nullptr);
    subject.AddObserver(nullptr);
    EXPECT_EQ(a.Observable(), &other);
    EXPECT_EQ(subject.ObserverCount(), 1);
    log.clear();
    other.NotifyObservers(&payload);
    EXPECT_EQ(log, (Names{"A"}));
    EXPECT_EQ(notifyAll(), (Names{"B"}));
}

TEST_F(ObserverFixture, RemovedObserverIsUnattachedAndHearsNothing)
{
    TMMObserver& a = attached("A");
    attached("B");
    subject.RemoveObserver(&a);
    EXPECT_EQ(a.Observable(), nullptr);
    EXPECT_EQ(notifyAll(), (Names{"B"}));
}

TEST_F(ObserverFixture, ObserverWithoutCallbackAcceptsNotifications)
{
    TMMObserver silent;
    subject.AddObserver(&silent);
    attached("A");
    EXPECT_EQ(notifyAll(), (Names{"A"}));
}

// A callback that removes observers (itself or others) or adds one during the walk.
TEST_F(ObserverFixture, ChangesToTheListInsideACallback)
{
    struct Case {
        const char* what;
        std::vector<int> removedByC; // indexes into A, B, C, D removed when C is notified
        bool cAddsE;
        Names expected;
        int32_t countAfter;
    };
    const Case cases[] = {
        {"C removes itself", {2}, false, {"D", "C", "B", "A"}, 3},
        {"C removes A", {0}, false, {"D", "C", "B"}, 3},
        {"C removes A and B", {0, 1}, false, {"D", "C"}, 2},
        {"C removes everybody", {0, 1, 2, 3}, false, {"D", "C"}, 0},
        {"C removes D, already notified", {3}, false, {"D", "C", "B", "A"}, 3},
        {"C adds E", {}, true, {"D", "C", "B", "A"}, 5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TMMObservable local;
        observers.clear();
        std::vector<TMMObserver*> abcd;
        for (const char* name : {"A", "B", "C", "D"}) {
            abcd.push_back(&make(name));
            local.AddObserver(abcd.back());
        }
        TMMObserver& e = make("E");
        abcd[2]->OnNotify = [&, this](TMMObserver*, TPersistent*) {
            log.push_back("C");
            for (int i : c.removedByC)
                local.RemoveObserver(abcd[i]);
            if (c.cAddsE)
                local.AddObserver(&e);
        };
        log.clear();
        local.NotifyObservers(&payload);
        EXPECT_EQ(log, c.expected);
        EXPECT_EQ(local.ObserverCount(), c.countAfter);
    }
}

TEST_F(ObserverFixture, ObserverDestroyedInsideItsCallback)
{
    attached("A");
    TMMObserver& b = attached("B");
    attached("C");
    b.OnNotify = [this](TMMObserver* sender, TPersistent*) {
        log.push_back("B");
        for (auto& o : observers)
            if (o.get() == sender)
                o.reset(); // destroys the observer whose callback this is
    };
    EXPECT_EQ(notifyAll(), (Names{"C", "B", "A"}));
    EXPECT_EQ(subject.ObserverCount(), 2);
    EXPECT_EQ(notifyAll(), (Names{"C", "A"}));
}

TEST(ObserverLifetime, ObservableDestroyedFirstLeavesObserversUsable)
{
    TMMObserver a, b;
    int heard = 0;
    a.OnNotify = [&](TMMObserver*, TPersistent*) { ++heard; };
    {
        TMMObservable subject;
        subject.AddObserver(&a);
        subject.AddObserver(&b);
    }
    EXPECT_EQ(a.Observable(), nullptr);
    EXPECT_EQ(b.Observable(), nullptr);
    TMMObservable next;
    next.AddObserver(&a);
    next.NotifyObservers(nullptr);
    EXPECT_EQ(heard, 1);
}

TEST(ObserverLifetime, ObserverDestroyedFirstLeavesTheList)
{
    TMMObservable subject;
    TMMObserver keeper;
    int heard = 0;
    keeper.OnNotify = [&](TMMObserver*, TPersistent*) { ++heard; };
    subject.AddObserver(&keeper);
    {
        auto gone = std::make_unique<TMMObserver>();
        gone->OnNotify = [&](TMMObserver*, TPersistent*) { ADD_FAILURE() << "destroyed observer notified"; };
        subject.AddObserver(gone.get());
        EXPECT_EQ(subject.ObserverCount(), 2);
    }
    EXPECT_EQ(subject.ObserverCount(), 1);
    subject.NotifyObservers(nullptr);
    EXPECT_EQ(heard, 1);
}

} // namespace
} // namespace orvelle
