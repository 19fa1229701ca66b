#include "support/QMKVOAdditions.h"

#include "platform/foundation/InternalInconsistency.h"
#include "platform/foundation/KeyValueObserver.h"
#include "support/FailureOf.h"

#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

// At file scope, so that registration keys carry the plain class names.
class Watched : public Observable {
public:
    int value() const { return m_value; }
    void setValue(int value)
    {
        m_value = value;
        didChangeValueForKey("value");
    }
    void setOther(int other)
    {
        m_other = other;
        didChangeValueForKey("other");
    }

    std::any valueForKey(const std::string& key) const override
    {
        if (key == "value")
            return m_value;
        if (key == "other")
            return m_other;
        return Observable::valueForKey(key);
    }

private:
    int m_value = 0;
    int m_other = 0;
};

// Observes its own properties, as the controllers do: registered in its constructor.
class Watcher : public Watched, public KeyValueObserver {
public:
    explicit Watcher(KeyValueObservingOptions options = KeyValueObservingOptions::New)
    {
        qm_addObserver<Watcher>(*this, this, "value", options);
    }

    void observeValueForKeyPath(const std::string& keyPath, Observable* object, const KeyValueChange& change,
                                const void* context) override
    {
        if (context != QMKVOObservationContext) {
            KeyValueObserver::observeValueForKeyPath(keyPath, object, change, context);
            return;
        }
        watcherCalls.push_back(keyPath + "=" + valueText(change));
        if (onCall)
            onCall();
    }

    static std::string valueText(const KeyValueChange& change)
    {
        return change.newValue.has_value() ? std::to_string(std::any_cast<int>(change.newValue)) : "?";
    }

    std::vector<std::string> watcherCalls;
    std::function<void()> onCall;
};

class SubWatcher : public Watcher {
public:
    SubWatcher() { qm_addObserver<SubWatcher>(*this, this, "value", KeyValueObservingOptions::New); }

    void observeValueForKeyPath(const std::string& keyPath, Observable* object, const KeyValueChange& change,
                                const void* context) override
    {
        if (context != QMKVOObservationContext) {
            Watcher::observeValueForKeyPath(keyPath, object, change, context);
            return;
        }
        subCalls.push_back(keyPath + "=" + valueText(change));
    }

    std::vector<std::string> subCalls;
};

namespace {

template <typename Class, typename Observer>
concept CanObserveAs = requires(Observable& observed, Observer* observer)
{
    qm_addObserver<Class>(observed, observer, std::string(), KeyValueObservingOptions::None);
};

// The class named must be the observer's own static type: neither a base nor a subclass.
static_assert(CanObserveAs<SubWatcher, SubWatcher>);
static_assert(!CanObserveAs<Watcher, SubWatcher>);
static_assert(!CanObserveAs<SubWatcher, Watcher>);

} // namespace

TEST(QMKVOAdditionsTest, AClassAndItsSubclassObserveIndependently)
{
    SubWatcher watcher;
    watcher.setValue(3);
    EXPECT_EQ(watcher.watcherCalls, (std::vector<std::string>{"value=3"}))
        << "the base class's registration reaches the base class's own handler";
    EXPECT_EQ(watcher.subCalls, (std::vector<std::string>{"value=3"})) << "and the subclass's its own, once";
    EXPECT_EQ(QMKVOProxy::proxyCountForTesting(&watcher), 2u);
}

TEST(QMKVOAdditionsTest, InitialDeliversAtOnceThroughTheSharedContext)
{
    // The handler records only what carries the shared context.
    Watcher watcher(KeyValueObservingOptions(5));
    EXPECT_EQ(watcher.watcherCalls, (std::vector<std::string>{"value=0"}));
    EXPECT_STREQ(QMKVOObservationContext, "NSObject+QMKVO observation context");
}

TEST(QMKVOAdditionsTest, DuplicateRegistrationsAndUnmatchedRemovalsFail)
{
    Watcher watcher;
    EXPECT_EQ(failureOf([&] {
                  qm_addObserver<Watcher>(watcher, &watcher, "value", KeyValueObservingOptions::New);
              }),
              "Observer is already observing value");
    EXPECT_EQ(failureOf([&] { qm_removeObserver<Watcher>(watcher, &watcher, std::string("other")); }),
              "No matching observers found to remove");
    EXPECT_EQ(failureOf([&] {
                  qm_addObserver<Watcher>(watcher, static_cast<Watcher*>(nullptr), "value",
                                          KeyValueObservingOptions::New);
              }),
              "Invalid parameter not satisfying: observer != nil");

    qm_removeObserver<Watcher>(watcher, &watcher, std::string("value"));
    EXPECT_EQ(failureOf([&] { qm_removeObserver<Watcher>(watcher, &watcher); }),
              "No matching observers found to remove");
    watcher.setValue(1);
    EXPECT_TRUE(watcher.watcherCalls.empty());
    qm_addObserver<Watcher>(watcher, &watcher, "value", KeyValueObservingOptions::New);
    watcher.setValue(2);
    EXPECT_EQ(watcher.watcherCalls, (std::vector<std::string>{"value=2"}))
        << "registering again after removal";
}

// A registration tried on another thread fails before anything is registered, and a removal
// tried there leaves the registration as it was: the registry and the observed object agree.
TEST(QMKVOAdditionsTest, OffTheMainThreadRegistrationAndRemovalFailAndChangeNothing)
{
    Watcher watcher;
    Watched watched;
    EXPECT_EQ(failureOffTheMainThread([&] {
                  qm_addObserver<Watcher>(watched, &watcher, "value", KeyValueObservingOptions::New);
              }),
              "Main thread only!");
    EXPECT_EQ(QMKVOProxy::proxyCountForTesting(&watched), 0u);
    EXPECT_EQ(watched.observationCount(), 0u);

    // The same registration on the main thread is a first one, not a duplicate.
    EXPECT_EQ(failureOf([&] {
                  qm_addObserver<Watcher>(watched, &watcher, "value", KeyValueObservingOptions::New);
              }),
              "");
    watched.setValue(4);
    EXPECT_EQ(watcher.watcherCalls, (std::vector<std::string>{"value=4"}));

    EXPECT_EQ(failureOffTheMainThread([&] { qm_removeObserver<Watcher>(watched, &watcher); }),
              "Main thread only!");
    EXPECT_EQ(QMKVOProxy::proxyCountForTesting(&watched), 1u);
    watched.setValue(5);
    EXPECT_EQ(watcher.watcherCalls, (std::vector<std::string>{"value=4", "value=5"}));
    EXPECT_EQ(failureOf([&] { qm_removeObserver<Watcher>(watched, &watcher); }), "");
    EXPECT_EQ(QMKVOProxy::proxyCountForTesting(&watched), 0u);
    EXPECT_EQ(watched.observationCount(), 0u);
}

TEST(QMKVOAdditionsTest, RemovalWithoutKeyPathTakesEveryKeyPathOfThatClassOnly)
{
    SubWatcher watcher;
    qm_addObserver<SubWatcher>(watcher, &watcher, "other", KeyValueObservingOptions::New);
    qm_removeObserver<SubWatcher>(watcher, &watcher);

    watcher.setValue(1);
    watcher.setOther(2);
    EXPECT_TRUE(watcher.subCalls.empty());
    EXPECT_EQ(watcher.watcherCalls, (std::vector<std::string>{"value=1"}));
    EXPECT_EQ(QMKVOProxy::proxyCountForTesting(&watcher), 1u);
    EXPECT_EQ(watcher.observationCount(), 1u);
}

TEST(QMKVOAdditionsTest, AVanishedObserverLosesItsRegistrations)
{
    Watched watched;
    auto watcher = std::make_unique<Watcher>();
    qm_addObserver<Watcher>(watched, watcher.get(), "value", KeyValueObservingOptions::New);
    qm_addObserver<Watcher>(watched, watcher.get(), "other", KeyValueObservingOptions::New);
    EXPECT_EQ(QMKVOProxy::proxyCountForTesting(&watched), 2u);
    auto calls = std::make_shared<int>(0);
    watcher->onCall = [calls] { ++*calls; };
    watched.setValue(1);
    EXPECT_EQ(*calls, 1);

    watcher.reset();
    EXPECT_EQ(QMKVOProxy::proxyCountForTesting(&watched), 0u);
    EXPECT_EQ(watched.observationCount(), 0u);
    watched.setValue(2);
    EXPECT_EQ(*calls, 1) << "nothing reaches the observer that is gone";
}

TEST(QMKVOAdditionsTest, AVanishedObservedObjectLeavesNothingBehind)
{
    Watcher watcher;
    auto watched = std::make_unique<Watched>();
    const Observable* address = watched.get();
    qm_addObserver<Watcher>(*watched, &watcher, "value", KeyValueObservingOptions::New);
    watched.reset();
    EXPECT_EQ(QMKVOProxy::proxyCountForTesting(address), 0u);

    // A new object at any address can be observed afresh.
    Watched another;
    qm_addObserver<Watcher>(another, &watcher, "value", KeyValueObservingOptions::New);
    another.setValue(4);
    EXPECT_EQ(watcher.watcherCalls, (std::vector<std::string>{"value=4"}));
}

TEST(QMKVOAdditionsTest, AHandlerMayEndItsOwnRegistration)
{
    Watcher watcher;
    watcher.onCall = [&] { qm_removeObserver<Watcher>(watcher, &watcher, std::string("value")); };
    watcher.setValue(1);
    watcher.setValue(2);
    EXPECT_EQ(watcher.watcherCalls, (std::vector<std::string>{"value=1"}));
    EXPECT_EQ(QMKVOProxy::proxyCountForTesting(&watcher), 0u);
}
