#include "QMKVOProxy.h"

#include "QMKVOAdditions.h"
#include "QMKVOCleaner.h"
#include "QMKVOObserverClass.h"
#include "platform/foundation/InternalInconsistency.h"
#include "platform/foundation/MainThread.h"
#include "platform/foundation/Observable.h"

#include <cstdio>
#include <map>
#include <mutex>

#define QMKVO_PARAMETER_ASSERT(condition, conditionText)                                                     \
    QM_CASSERT(condition, "QMKVOProxy", std::string("Invalid parameter not satisfying: ") + (conditionText))

namespace {

using ProxiesByKey = std::map<std::string, std::shared_ptr<QMKVOProxy>>;

struct Registry {
    std::mutex lock;
    std::map<const Observable*, ProxiesByKey> proxiesByObject;
};

// Never destroyed: observed objects may outlive static destruction.
Registry& registry()
{
    static Registry* const instance = new Registry;
    return *instance;
}

// Tags the cleaner among an observer's attachments.
const char cleanerTag = 0;

std::string pointerText(const void* pointer)
{
    char text[32];
    std::snprintf(text, sizeof text, "%p", pointer);
    return text;
}

} // namespace

void QMKVOProxy::addObserverOfClass(Observable& observed, void* observer,
                                    const QMKVOObserverClass* observerClass, const std::string& keyPath,
                                    KeyValueObservingOptions options)
{
    QMKVO_PARAMETER_ASSERT(observer, "observer != nil");
    QMKVO_PARAMETER_ASSERT(observerClass, "observerClass != nil");
    QMKVO_PARAMETER_ASSERT(!keyPath.empty(), "keyPath != nil");
    // Checked before anything is registered, so that the registry and the object agree.
    QM_CASSERT(isMainThread(), "QMKVOProxy", "Main thread only!");
    QM_CASSERT(findProxiesForObserver(observer, observerClass, &observed, keyPath).empty(), "QMKVOProxy",
               "Observer is already observing " + keyPath);
    const std::shared_ptr<QMKVOProxy> proxy = create(observer, observerClass, &observed, keyPath);
    observed.addObserver(proxy.get(), keyPath, options, QMKVOObservationContext);
}

void QMKVOProxy::removeObserverOfClass(Observable& observed, void* observer,
                                       const QMKVOObserverClass* observerClass,
                                       const std::optional<std::string>& keyPath)
{
    QMKVO_PARAMETER_ASSERT(observer, "observer != nil");
    QMKVO_PARAMETER_ASSERT(observerClass, "observerClass != nil");
    const auto proxies = findProxiesForObserver(observer, observerClass, &observed, keyPath);
    QM_CASSERT(!proxies.empty(), "QMKVOProxy", "No matching observers found to remove");
    for (const auto& proxy : proxies) {
        observed.removeObserver(proxy.get(), proxy->observedKeyPath());
        proxy->unregister(&observed);
    }
}

std::shared_ptr<QMKVOProxy> QMKVOProxy::create(void* theObserver, const QMKVOObserverClass* theObserverClass,
                                               Observable* observedObject, const std::string& theKeyPath)
{
    QMKVO_PARAMETER_ASSERT(theObserver, "theObserver != nil");
    QMKVO_PARAMETER_ASSERT(theObserverClass, "theObserverClass != nil");
    QMKVO_PARAMETER_ASSERT(observedObject, "observedObject != nil");
    QMKVO_PARAMETER_ASSERT(!theKeyPath.empty(), "theKeyPath != nil");
    std::shared_ptr<QMKVOProxy> proxy(new QMKVOProxy(theObserver, theObserverClass, theKeyPath));
    registerProxy(proxy, observedObject);
    return proxy;
}

QMKVOProxy::QMKVOProxy(void* theObserver, const QMKVOObserverClass* theObserverClass,
                       const std::string& theKeyPath)
    : m_observer(theObserverClass->keyValueObserver(theObserver)->lifetime())
    , m_observerClass(theObserverClass)
    , m_observedKeyPath(theKeyPath)
    , m_originalObserverPtr(theObserver)
{}

QMKVOProxy::~QMKVOProxy() = default;

void* QMKVOProxy::observer() const
{
    return m_observer.expired() ? nullptr : m_originalObserverPtr;
}

std::string QMKVOProxy::registrationKey() const
{
    return proxyKeyForObserver(m_originalObserverPtr, m_observerClass, m_observedKeyPath);
}

void QMKVOProxy::unregister(Observable* observedObject)
{
    unregisterProxy(shared_from_this(), observedObject);
}

void QMKVOProxy::observeValueForKeyPath(const std::string& keyPath, Observable* object,
                                        const KeyValueChange& change, const void* context)
{
    if (context != QMKVOObservationContext) {
        KeyValueObserver::observeValueForKeyPath(keyPath, object, change, context);
        return;
    }
    QM_ASSERT(keyPath == m_observedKeyPath, "Unexpected key path observed (Saw change for " + keyPath +
                                                ", instead of " + m_observedKeyPath + ")");
    void* theObserver = observer();
    if (!theObserver)
        return;
    // The handler may remove this registration.
    const std::shared_ptr<QMKVOProxy> keepAlive = shared_from_this();
    m_observerClass->callHandler(theObserver, keyPath, object, change, context);
}

void QMKVOProxy::observedObjectWillBeDestroyed(Observable* object)
{
    // The registration ends with the object; the object itself must not be touched any more.
    const std::shared_ptr<QMKVOProxy> keepAlive = shared_from_this();
    forgetProxy(this, object);
}

std::string QMKVOProxy::proxyKeyForObserver(const void* observer, const QMKVOObserverClass* observerClass,
                                            const std::optional<std::string>& keyPath)
{
    QMKVO_PARAMETER_ASSERT(observerClass, "theClass != nil");
    const std::string shortKey = observerClass->name() + "-" + pointerText(observer);
    return keyPath ? *keyPath + " -> " + shortKey : shortKey;
}

std::vector<std::shared_ptr<QMKVOProxy>>
QMKVOProxy::findProxiesForObserver(const void* anObserver, const QMKVOObserverClass* theClass,
                                   const Observable* observedObject,
                                   const std::optional<std::string>& keyPath)
{
    QMKVO_PARAMETER_ASSERT(anObserver, "anObserver != nil");
    QMKVO_PARAMETER_ASSERT(theClass, "theClass != nil");
    QMKVO_PARAMETER_ASSERT(observedObject, "observedObject != nil");
    std::vector<std::shared_ptr<QMKVOProxy>> result;
    const std::string key = keyPath ? proxyKeyForObserver(anObserver, theClass, keyPath) : std::string();
    std::lock_guard guard(registry().lock);
    const auto dictionary = registry().proxiesByObject.find(observedObject);
    if (dictionary == registry().proxiesByObject.end())
        return result;
    if (keyPath) {
        if (const auto it = dictionary->second.find(key); it != dictionary->second.end())
            result.push_back(it->second);
        return result;
    }
    // By the proxy's own fields rather than by the end of its key: "Controller-0x…" is also the end
    // of "RootController-0x…", a subclass's registration on the same object.
    for (const auto& [proxyKey, proxy] : dictionary->second) {
        if (proxy->m_originalObserverPtr == anObserver && proxy->m_observerClass->name() == theClass->name())
            result.push_back(proxy);
    }
    return result;
}

void QMKVOProxy::registerProxy(const std::shared_ptr<QMKVOProxy>& theProxy, Observable* observedObject)
{
    QMKVO_PARAMETER_ASSERT(theProxy, "theProxy != nil");
    QMKVO_PARAMETER_ASSERT(observedObject, "observedObject != nil");
    const std::string key = theProxy->registrationKey();
    std::lock_guard guard(registry().lock);
    ProxiesByKey& dictionary = registry().proxiesByObject[observedObject];
    QM_CASSERT(!dictionary.contains(key), "QMKVOProxy",
               "Observer is already observing " + theProxy->m_observedKeyPath);
    dictionary.emplace(key, theProxy);
    if (theProxy->observer()) {
        KeyValueObserver* observer =
            theProxy->m_observerClass->keyValueObserver(theProxy->m_originalObserverPtr);
        auto cleaner = std::static_pointer_cast<QMKVOCleaner>(observer->attachment(&cleanerTag));
        if (!cleaner) {
            cleaner = std::make_shared<QMKVOCleaner>();
            observer->setAttachment(&cleanerTag, cleaner);
        }
        cleaner->addProxy(theProxy, observedObject);
    }
}

void QMKVOProxy::unregisterProxy(const std::shared_ptr<QMKVOProxy>& theProxy, Observable* observedObject)
{
    QMKVO_PARAMETER_ASSERT(theProxy, "theProxy != nil");
    QMKVO_PARAMETER_ASSERT(observedObject, "observedObject != nil");
    QM_CASSERT(forgetProxy(theProxy.get(), observedObject), "QMKVOProxy",
               "Observer was not observing " + theProxy->m_observedKeyPath);
}

void QMKVOProxy::endRegistrationOfVanishedObserver(const std::shared_ptr<QMKVOProxy>& proxy,
                                                   Observable* observedObject)
{
    if (!proxy || !observedObject)
        return;
    if (observedObject->hasObserver(proxy.get(), proxy->m_observedKeyPath))
        observedObject->removeObserver(proxy.get(), proxy->m_observedKeyPath);
    forgetProxy(proxy.get(), observedObject);
}

bool QMKVOProxy::forgetProxy(const QMKVOProxy* proxy, const Observable* observedObject)
{
    // Whatever goes is released after the lock: a cleaner's destructor takes it again.
    std::shared_ptr<QMKVOProxy> removed;
    std::shared_ptr<void> emptyCleaner;
    std::lock_guard guard(registry().lock);
    auto& proxiesByObject = registry().proxiesByObject;
    const auto dictionary = proxiesByObject.find(observedObject);
    if (dictionary == proxiesByObject.end())
        return false;
    const auto it = dictionary->second.find(proxy->registrationKey());
    if (it == dictionary->second.end() || it->second.get() != proxy)
        return false;
    removed = std::move(it->second);
    dictionary->second.erase(it);
    if (dictionary->second.empty())
        proxiesByObject.erase(dictionary);
    if (proxy->observer()) {
        KeyValueObserver* observer = proxy->m_observerClass->keyValueObserver(proxy->m_originalObserverPtr);
        if (auto cleaner = std::static_pointer_cast<QMKVOCleaner>(observer->attachment(&cleanerTag))) {
            cleaner->removeProxy(proxy);
            if (cleaner->proxyCount() == 0) {
                emptyCleaner = cleaner;
                observer->setAttachment(&cleanerTag, nullptr);
            }
        }
    }
    return true;
}

size_t QMKVOProxy::proxyCountForTesting(const Observable* observedObject)
{
    std::lock_guard guard(registry().lock);
    const auto dictionary = registry().proxiesByObject.find(observedObject);
    return dictionary == registry().proxiesByObject.end() ? 0 : dictionary->second.size();
}
