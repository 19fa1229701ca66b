#pragma once

#include "platform/foundation/KeyValueObserver.h"
#include "platform/foundation/KeyValueObservingOptions.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

class Observable;
class QMKVOObserverClass;

// The platform-level observer of one registration made through qm_addObserver(): it stands for
// one observer, on behalf of one class, on one observed object, for one key path, and hands each
// change to that class's own handler while the observer exists.
//
// The registry of proxies (observed object → registration key → proxy) is process-wide and
// guarded by one lock; every static function here takes it. A proxy's registration ends when it
// is removed, when its observed object is destroyed, or when its observer is destroyed (the
// observer's QMKVOCleaner ends it). Deliveries take no lock and run on the thread that called the
// setter, the main thread in this program.
class QMKVOProxy final : public KeyValueObserver, public std::enable_shared_from_this<QMKVOProxy> {
public:
    // The type-erased forms of qm_addObserver() and qm_removeObserver(); use those.
    // `observer` is an address taken from a pointer to `observerClass`.
    static void addObserverOfClass(Observable& observed, void* observer,
                                   const QMKVOObserverClass* observerClass, const std::string& keyPath,
                                   KeyValueObservingOptions options);
    static void removeObserverOfClass(Observable& observed, void* observer,
                                      const QMKVOObserverClass* observerClass,
                                      const std::optional<std::string>& keyPath);

    // Creates a proxy and registers it for `observedObject`.
    static std::shared_ptr<QMKVOProxy> create(void* theObserver, const QMKVOObserverClass* theObserverClass,
                                              Observable* observedObject, const std::string& theKeyPath);
    ~QMKVOProxy() override;

    // The observer, or null once it is gone.
    void* observer() const;
    const QMKVOObserverClass& observerClass() const { return *m_observerClass; }
    const std::string& observedKeyPath() const { return m_observedKeyPath; }
    // The observer's address, which still identifies the registration once the observer is gone.
    const void* originalObserverPtr() const { return m_originalObserverPtr; }
    std::string registrationKey() const;
    // Removes this proxy from the registry; it must be registered for `observedObject`.
    void unregister(Observable* observedObject);

    void observeValueForKeyPath(const std::string& keyPath, Observable* object, const KeyValueChange& change,
                                const void* context) override;
    void observedObjectWillBeDestroyed(Observable* object) override;

    // "key path -> Class-0x…" with a key path, "Class-0x…" without.
    static std::string proxyKeyForObserver(const void* observer, const QMKVOObserverClass* observerClass,
                                           const std::optional<std::string>& keyPath);
    // The proxy for these four, or without a key path every proxy of this observer and class on
    // the object; empty when none.
    static std::vector<std::shared_ptr<QMKVOProxy>>
    findProxiesForObserver(const void* anObserver, const QMKVOObserverClass* theClass,
                           const Observable* observedObject, const std::optional<std::string>& keyPath);
    static void registerProxy(const std::shared_ptr<QMKVOProxy>& theProxy, Observable* observedObject);
    static void unregisterProxy(const std::shared_ptr<QMKVOProxy>& theProxy, Observable* observedObject);
    // Ends a registration whose observer is gone: stops the observed object's notifications and
    // forgets the proxy. Quiet when either is already undone.
    static void endRegistrationOfVanishedObserver(const std::shared_ptr<QMKVOProxy>& proxy,
                                                  Observable* observedObject);

    // The registrations held for `observedObject`.
    static size_t proxyCountForTesting(const Observable* observedObject);

private:
    QMKVOProxy(void* theObserver, const QMKVOObserverClass* theObserverClass, const std::string& theKeyPath);

    // Removes the proxy from the registry and from its observer's cleaner; false when it was not
    // registered for the object. Takes the lock.
    static bool forgetProxy(const QMKVOProxy* proxy, const Observable* observedObject);

    std::weak_ptr<const void> m_observer;
    const QMKVOObserverClass* m_observerClass;
    std::string m_observedKeyPath;
    void* m_originalObserverPtr;
};
