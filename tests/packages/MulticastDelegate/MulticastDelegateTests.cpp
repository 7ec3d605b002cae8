#include "MulticastDelegate/MulticastDelegate.hpp"

#include <functional>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <memory>
#include <new>
#include <string>
#include <vector>

using namespace velmora;
using ::testing::UnorderedElementsAre;
using ::testing::UnorderedElementsAreArray;

namespace {

class ChangeDelegate {
public:
    virtual ~ChangeDelegate() = default;
    virtual void didChange(int value) = 0;
};

using Log = std::vector<std::string>;

class Subscriber : public ChangeDelegate {
public:
    Subscriber(std::string name, Log& log) : name_(std::move(name)), log_(log) {}
    ~Subscriber() override { name_ = "<released>"; }
    void didChange(int value) override {
        log_.push_back(name_ + ":" + std::to_string(value));
        if (onCall) {
            onCall();
        }
    }
    std::function<void()> onCall;

private:
    std::string name_;
    Log& log_;
};

using List = MulticastDelegate<ChangeDelegate>;

void announce(List& list, int value) {
    list | [value](ChangeDelegate& d) { d.didChange(value); };
}

TEST(MulticastDelegate, MembershipTable) {
    Log log;
    auto a = std::make_shared<Subscriber>("a", log);
    auto b = std::make_shared<Subscriber>("b", log);
    const struct {
        const char* name;
        std::function<void(List&)> edit;
        bool empty;
        bool containsA;
        std::vector<std::string> calls;
    } cases[] = {
        {"new list", [](List&) {}, true, false, {}},
        {"added twice is called once",
         [&](List& l) {
             l += a;
             l += a;
         },
         false,
         true,
         {"a:1"}},
        {"added twice, removed once",
         [&](List& l) {
             l += a;
             l += a;
             l -= a;
         },
         true,
         false,
         {}},
        {"removing a stranger changes nothing",
         [&](List& l) {
             l += a;
             l -= b;
         },
         false,
         true,
         {"a:1"}},
        {"two members",
         [&](List& l) {
             l += b;
             l += a;
         },
         false,
         true,
         {"a:1", "b:1"}},
        {"null is ignored", [&](List& l) { l += nullptr; }, true, false, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (bool strong : {false, true}) {
            List list(strong);
            c.edit(list);
            log.clear();
            announce(list, 1);
            EXPECT_EQ(list.isEmpty(), c.empty);
            EXPECT_EQ(list.containsDelegate(a), c.containsA);
            EXPECT_THAT(log, UnorderedElementsAreArray(c.calls));
        }
    }
}

TEST(MulticastDelegate, ReleasedMembersDropOutOfAWeakList) {
    Log log;
    List list;
    auto a = std::make_shared<Subscriber>("a", log);
    auto b = std::make_shared<Subscriber>("b", log);
    list += a;
    list += b;
    a.reset();
    announce(list, 1);
    EXPECT_THAT(log, UnorderedElementsAre("b:1"));
    b.reset();
    EXPECT_TRUE(list.isEmpty());
    announce(list, 2);
    EXPECT_THAT(log, UnorderedElementsAre("b:1"));
}

TEST(MulticastDelegate, StrongListKeepsMembersUntilRemoved) {
    Log log;
    List list(List::Options::strongMemory);
    auto a = std::make_shared<Subscriber>("a", log);
    std::weak_ptr<Subscriber> watch = a;
    list += a;
    a.reset();
    EXPECT_FALSE(watch.expired());
    announce(list, 1);
    EXPECT_THAT(log, UnorderedElementsAre("a:1"));
    list -= watch.lock();
    EXPECT_TRUE(watch.expired());
    EXPECT_TRUE(list.isEmpty());
}

// A new subscriber built in the very storage of a released one must count as a
// different member.
TEST(MulticastDelegate, NewObjectAtAReleasedMembersAddressIsAStranger) {
    Log log;
    List list;
    alignas(Subscriber) unsigned char storage[sizeof(Subscriber)];
    const auto destroyInPlace = [](Subscriber* s) { s->~Subscriber(); };

    std::shared_ptr<Subscriber> first(new (storage) Subscriber("first", log), destroyInPlace);
    list += first;
    first.reset();

    std::shared_ptr<Subscriber> second(new (storage) Subscriber("second", log), destroyInPlace);
    ASSERT_EQ(static_cast<void*>(second.get()), static_cast<void*>(storage));
    EXPECT_FALSE(list.containsDelegate(second));
    EXPECT_TRUE(list.isEmpty());
    list += second;
    EXPECT_TRUE(list.containsDelegate(second));
    announce(list, 7);
    EXPECT_THAT(log, UnorderedElementsAre("second:7"));
    second.reset();
    EXPECT_TRUE(list.isEmpty());
}

TEST(MulticastDelegate, ReAddedSubscriberIsCalledAgain) {
    Log log;
    List list;
    auto a = std::make_shared<Subscriber>("a", log);
    list += a;
    list -= a;
    announce(list, 1);
    list += a;
    announce(list, 2);
    EXPECT_THAT(log, UnorderedElementsAre("a:2"));
}

TEST(MulticastDelegate, EditsDuringAPassAffectOnlyTheNextPass) {
    Log log;
    List list;
    auto a = std::make_shared<Subscriber>("a", log);
    auto b = std::make_shared<Subscriber>("b", log);
    auto c = std::make_shared<Subscriber>("c", log);
    auto late = std::make_shared<Subscriber>("late", log);
    list += a;
    list += b;
    list += c;
    // Each removes itself and the others too, and brings in a newcomer.
    for (auto* s : {a.get(), b.get(), c.get()}) {
        s->onCall = [&] {
            list -= a;
            list -= b;
            list += late;
        };
    }
    announce(list, 1);
    EXPECT_THAT(log, UnorderedElementsAre("a:1", "b:1", "c:1"));
    log.clear();
    announce(list, 2);
    EXPECT_THAT(log, UnorderedElementsAre("c:2", "late:2"));
}

TEST(MulticastDelegate, MemberReleasedDuringAPassIsNeverUsedAfterFree) {
    Log log;
    List list;
    auto a = std::make_shared<Subscriber>("a", log);
    auto b = std::make_shared<Subscriber>("b", log);
    std::weak_ptr<Subscriber> watchA = a, watchB = b;
    // Whoever is called first lets go of both subscribers.
    const auto releaseBoth = [&] {
        a.reset();
        b.reset();
    };
    a->onCall = releaseBoth;
    b->onCall = releaseBoth;
    list += a;
    list += b;
    announce(list, 3);
    EXPECT_THAT(log, UnorderedElementsAre("a:3", "b:3"));
    EXPECT_TRUE(watchA.expired());
    EXPECT_TRUE(watchB.expired());
    EXPECT_TRUE(list.isEmpty());
}

TEST(MulticastDelegate, OwnerReleasedDuringAPass) {
    struct Owner {
        List delegates;
    };
    Log log;
    auto owner = std::make_shared<Owner>();
    auto a = std::make_shared<Subscriber>("a", log);
    auto b = std::make_shared<Subscriber>("b", log);
    a->onCall = [&] { owner.reset(); };
    b->onCall = [&] { owner.reset(); };
    owner->delegates += a;
    owner->delegates += b;
    announce(owner->delegates, 4);
    EXPECT_EQ(owner, nullptr);
    EXPECT_THAT(log, UnorderedElementsAre("a:4", "b:4"));
}

} // namespace
