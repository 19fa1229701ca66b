#include "QMKVOCleaner.h"

#include "QMKVOProxy.h"

QMKVOCleaner::QMKVOCleaner() = default;

QMKVOCleaner::~QMKVOCleaner()
{
    std::map<const QMKVOProxy*, std::pair<std::shared_ptr<QMKVOProxy>, Observable*>> proxyObjects;
    proxyObjects.swap(m_proxyObjects);
    for (const auto& [key, entry] : proxyObjects)
        QMKVOProxy::endRegistrationOfVanishedObserver(entry.first, entry.second);
}

void QMKVOCleaner::addProxy(std::shared_ptr<QMKVOProxy> proxy, Observable* observedObject)
{
    const QMKVOProxy* key = proxy.get();
    m_proxyObjects[key] = {std::move(proxy), observedObject};
}

void QMKVOCleaner::removeProxy(const QMKVOProxy* proxy)
{
    m_proxyObjects.erase(proxy);
}
