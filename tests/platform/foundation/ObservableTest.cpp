#include "platform/foundation/Observable.h"

#include "platform/foundation/InternalInconsistency.h"
#include "platform/foundation/KeyValueObserver.h"
#include "support/FailureOf.h"

#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace {

// An observed object with one number and one replaceable child, as a controller with a layer.
class Item : public Observable {
public:
    int value() const { return m_value; }
    void setValue(int value)
    {
        m_value = value;
        didChangeValueForKey("value");
    }
    const std::shared_ptr<Item>& child() const { return m_child; }
    void setChild(std::shared_ptr<Item> child)
    {
        m_child = std::move(child);
        didChangeValueForKey("child");
    }

    std::any valueForKey(const std::string& key) const override
    {
        if (key == "value")
            return m_value;
        if (key == "child")
            return m_child;
        return Observable::valueForKey(key);
    }
    Observable* observableForKey(const std::string& key) const override
    {
        return key == "child" ? m_child.get() : nullptr;
    }

private:
    int m_value = 0;
    std::shared_ptr<Item> m_child;
};

struct Call {
    std::string keyPath;
    Observable* object;
    std::any newValue;
    const void* context;
};

class Recorder : public KeyValueObserver {
public:
    void observeValueForKeyPath(const std::string& keyPath, Observable* object, const KeyValueChange& change,
                                const void* context) override
    {
        calls.push_back({keyPath, object, change.newValue, context});
        if (onCall)
            onCall();
    }
    void observedObjectWillBeDestroyed(Observable* object) override { destroyedObjects.push_back(object); }

    std::vector<int> values() const
    {
        std::vector<int> result;
        for (const Call& call : calls)
            result.push_back(call.newValue.has_value() ? std::any_cast<int>(call.newValue) : -1);
        return result;
    }

    std::vector<Call> calls;
    std::vector<Observable*> destroyedObjects;
    std::function<void()> onCall;
};

const char context[] = "test context";

} // namespace

TEST(ObservableTest, EverySetterCallIsAnnouncedWithTheOptionsAsked)
{
    Item item;
    Recorder withNew, plain;
    item.addObserver(&withNew, "value", KeyValueObservingOptions::New, context);
    item.addObserver(&plain, "value", KeyValueObservingOptions::None, nullptr);

    item.setValue(3);
    item.setValue(3);
    item.setChild(nullptr);

    EXPECT_EQ(withNew.values(), (std::vector<int>{3, 3})) << "unchanged values are announced too";
    ASSERT_EQ(withNew.calls.size(), 2u);
    EXPECT_EQ(withNew.calls[0].keyPath, "value");
    EXPECT_EQ(withNew.calls[0].object, &item);
    EXPECT_EQ(withNew.calls[0].context, context);
    EXPECT_EQ(plain.values(), (std::vector<int>{-1, -1})) << "no value unless asked for";

    Recorder initial;
    item.addObserver(&initial, "value", KeyValueObservingOptions(5), context);
    EXPECT_EQ(initial.values(), (std::vector<int>{3})) << "called at once, with the value";
}

TEST(ObservableTest, DottedKeyPathFollowsTheReplacedObject)
{
    Item root;
    auto first = std::make_shared<Item>();
    first->setValue(1);
    root.setChild(first);
    Recorder recorder;
    root.addObserver(&recorder, "child.value", KeyValueObservingOptions::New, context);

    first->setValue(2);
    auto second = std::make_shared<Item>();
    second->setValue(10);
    root.setChild(second);
    first->setValue(3);
    second->setValue(11);

    EXPECT_EQ(recorder.values(), (std::vector<int>{2, 10, 11}))
        << "the old child is no longer heard once replaced";
    for (const Call& call : recorder.calls) {
        EXPECT_EQ(call.keyPath, "child.value");
        EXPECT_EQ(call.object, &root);
    }
    EXPECT_EQ(first->observationCount(), 0u);
    EXPECT_EQ(second->observationCount(), 1u);

    root.setChild(nullptr);
    ASSERT_EQ(recorder.calls.size(), 4u);
    EXPECT_FALSE(recorder.calls.back().newValue.has_value()) << "a path through nothing has no value";
    second->setValue(12);
    EXPECT_EQ(recorder.calls.size(), 4u);

    root.removeObserver(&recorder, "child.value");
    root.setChild(first);
    first->setValue(4);
    EXPECT_EQ(recorder.calls.size(), 4u);
    EXPECT_EQ(first->observationCount(), 0u) << "removal stops following the path";
}

TEST(ObservableTest, ThreeComponentPathsAndVanishingIntermediates)
{
    Item root;
    root.setChild(std::make_shared<Item>());
    root.child()->setChild(std::make_shared<Item>());
    Recorder recorder;
    root.addObserver(&recorder, "child.child.value", KeyValueObservingOptions::New, context);

    root.child()->child()->setValue(5);
    root.child()->setChild(std::make_shared<Item>());
    root.child()->child()->setValue(6);
    EXPECT_EQ(recorder.values(), (std::vector<int>{5, 0, 6}));

    // The middle object goes away while still observed: nothing may dangle.
    std::weak_ptr<Item> middle = root.child();
    root.setChild(nullptr);
    EXPECT_TRUE(middle.expired());
    root.setChild(std::make_shared<Item>());
    EXPECT_EQ(recorder.calls.size(), 5u);
}

TEST(ObservableTest, VanishedObserversAreSkippedAndForgotten)
{
    Item item;
    auto gone = std::make_unique<Recorder>();
    Recorder stays;
    item.addObserver(gone.get(), "value", KeyValueObservingOptions::New, context);
    item.addObserver(&stays, "value", KeyValueObservingOptions::New, context);
    gone.reset();

    EXPECT_EQ(item.observationCount(), 1u);
    item.setValue(1);
    EXPECT_EQ(stays.values(), (std::vector<int>{1}));
}

TEST(ObservableTest, ObserversHearTheObjectGo)
{
    Recorder recorder;
    Observable* address = nullptr;
    {
        Item item;
        address = &item;
        item.addObserver(&recorder, "value", KeyValueObservingOptions::None, nullptr);
        item.addObserver(&recorder, "child.value", KeyValueObservingOptions::None, nullptr);
    }
    EXPECT_EQ(recorder.destroyedObjects, (std::vector<Observable*>{address, address}));
}

TEST(ObservableTest, HandlersMayRemoveRegistrationsWhileBeingCalled)
{
    Item item;
    Recorder first, second;
    first.onCall = [&] {
        item.removeObserver(&first, "value");
        item.removeObserver(&second, "value");
    };
    item.addObserver(&first, "value", KeyValueObservingOptions::None, nullptr);
    item.addObserver(&second, "value", KeyValueObservingOptions::None, nullptr);

    item.setValue(1);
    item.setValue(2);
    EXPECT_EQ(first.calls.size(), 1u);
    EXPECT_EQ(second.calls.size(), 0u) << "removed before its turn";
}

TEST(ObservableTest, RemovingWhatIsNotRegisteredFails)
{
    Item item;
    Recorder recorder;
    item.addObserver(&recorder, "value", KeyValueObservingOptions::None, nullptr);
    EXPECT_THROW(item.removeObserver(&recorder, "child"), InternalInconsistency);
    EXPECT_TRUE(item.hasObserver(&recorder, "value"));
    item.removeObserver(&recorder, "value");
    EXPECT_FALSE(item.hasObserver(&recorder, "value"));
    EXPECT_THROW(item.removeObserver(&recorder, "value"), InternalInconsistency);
    EXPECT_THROW(item.addObserver(nullptr, "value", KeyValueObservingOptions::None, nullptr),
                 InternalInconsistency);
}

TEST(ObservableTest, RegisteringAndRemovingOffTheMainThreadFailAndChangeNothing)
{
    Item item;
    Recorder recorder;
    EXPECT_EQ(failureOffTheMainThread(
                  [&] { item.addObserver(&recorder, "value", KeyValueObservingOptions::None, nullptr); }),
              "Main thread only!");
    EXPECT_EQ(item.observationCount(), 0u);
    item.setValue(1);
    EXPECT_TRUE(recorder.calls.empty());

    item.addObserver(&recorder, "value", KeyValueObservingOptions::None, nullptr);
    EXPECT_EQ(failureOffTheMainThread([&] { item.removeObserver(&recorder, "value"); }), "Main thread only!");
    EXPECT_TRUE(item.hasObserver(&recorder, "value"));
    item.setValue(2);
    EXPECT_EQ(recorder.calls.size(), 1u);
}
