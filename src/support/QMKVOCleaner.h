#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <utility>

class Observable;
class QMKVOProxy;

// Ends an observer's registrations when the observer ends. The observer keeps its cleaner (as an
// attachment of its KeyValueObserver base) while it has registrations through the proxies; the
// cleaner is destroyed once the observer is gone, and then removes each remaining registration
// from its observed object and from the registry.
//
// Changed only under the proxy registry's lock; its destructor runs when nothing else can reach it.
class QMKVOCleaner {
public:
    QMKVOCleaner();
    ~QMKVOCleaner();
    QMKVOCleaner(const QMKVOCleaner&) = delete;
    QMKVOCleaner& operator=(const QMKVOCleaner&) = delete;

    // `observedObject` is non-owning: the registry forgets the proxy before the object goes.
    void addProxy(std::shared_ptr<QMKVOProxy> proxy, Observable* observedObject);
    void removeProxy(const QMKVOProxy* proxy);
    size_t proxyCount() const { return m_proxyObjects.size(); }

private:
    std::map<const QMKVOProxy*, std::pair<std::shared_ptr<QMKVOProxy>, Observable*>> m_proxyObjects;
};
