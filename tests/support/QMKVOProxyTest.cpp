#include "support/QMKVOProxy.h"

#include "platform/foundation/InternalInconsistency.h"
#include "platform/foundation/Observable.h"
#include "support/QMKVOAdditions.h"
#include "support/QMKVOObserverClass.h"

#include <gtest/gtest.h>

class RootController : public Observable, public KeyValueObserver {
public:
    void observeValueForKeyPath(const std::string& /*keyPath*/, Observable* /*object*/,
                                const KeyValueChange& /*change*/, const void* /*context*/) override
    {
        ++calls;
    }
    int calls = 0;
};

class Controller : public Observable, public KeyValueObserver {};

TEST(QMKVOProxyTest, RegistrationKeysNameKeyPathClassAndAddress)
{
    RootController controller;
    const auto* observerClass = QMKVOObserverClass::of<RootController>();
    EXPECT_EQ(observerClass->name(), "RootController");
    const std::string key =
        QMKVOProxy::proxyKeyForObserver(&controller, observerClass, std::string("status"));
    const std::string prefix = "status -> RootController-0x";
    ASSERT_EQ(key.substr(0, prefix.size()), prefix);
    const std::string digits = key.substr(prefix.size());
    EXPECT_FALSE(digits.empty());
    EXPECT_EQ(digits.find_first_not_of("0123456789abcdef"), std::string::npos) << key;
    EXPECT_EQ(key, "status -> " + QMKVOProxy::proxyKeyForObserver(&controller, observerClass, std::nullopt));
}

TEST(QMKVOProxyTest, FindingWithoutKeyPathDoesNotConfuseClassesWhoseNamesEndAlike)
{
    RootController controller;
    void* observer = &controller;
    const auto* root = QMKVOObserverClass::of<RootController>();
    const auto* plain = QMKVOObserverClass::of<Controller>();
    const auto proxy = QMKVOProxy::create(observer, root, &controller, "status");

    EXPECT_EQ(QMKVOProxy::findProxiesForObserver(observer, root, &controller, std::nullopt).size(), 1u);
    EXPECT_TRUE(QMKVOProxy::findProxiesForObserver(observer, plain, &controller, std::nullopt).empty())
        << "\"Controller-0x…\" ends \"RootController-0x…\" but is another class";
    proxy->unregister(&controller);
    EXPECT_TRUE(QMKVOProxy::findProxiesForObserver(observer, root, &controller, std::nullopt).empty());
}

TEST(QMKVOProxyTest, RegistryReportsDoubleAndMissingRegistrations)
{
    RootController controller;
    const auto* root = QMKVOObserverClass::of<RootController>();
    const auto proxy = QMKVOProxy::create(&controller, root, &controller, "status");
    try {
        QMKVOProxy::registerProxy(proxy, &controller);
        ADD_FAILURE() << "registered twice";
    } catch (const InternalInconsistency& failure) {
        EXPECT_STREQ(failure.what(), "Observer is already observing status");
    }
    proxy->unregister(&controller);
    try {
        proxy->unregister(&controller);
        ADD_FAILURE() << "unregistered twice";
    } catch (const InternalInconsistency& failure) {
        EXPECT_STREQ(failure.what(), "Observer was not observing status");
    }
    EXPECT_THROW(QMKVOProxy::create(&controller, root, &controller, ""), InternalInconsistency);
}

TEST(QMKVOProxyTest, DeliversOnlyItsOwnContextAndKeyPath)
{
    RootController controller;
    const auto proxy =
        QMKVOProxy::create(&controller, QMKVOObserverClass::of<RootController>(), &controller, "status");

    proxy->observeValueForKeyPath("status", &controller, {}, nullptr);
    EXPECT_EQ(controller.calls, 0) << "a foreign context goes to the base class, which ignores it";
    proxy->observeValueForKeyPath("status", &controller, {}, QMKVOObservationContext);
    EXPECT_EQ(controller.calls, 1);
    try {
        proxy->observeValueForKeyPath("position", &controller, {}, QMKVOObservationContext);
        ADD_FAILURE() << "a change of another key path was accepted";
    } catch (const InternalInconsistency& failure) {
        EXPECT_STREQ(failure.what(),
                     "Unexpected key path observed (Saw change for position, instead of status)");
    }
    proxy->unregister(&controller);
}
