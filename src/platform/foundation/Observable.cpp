#include "Observable.h"

#include "InternalInconsistency.h"
#include "KeyPathObservation.h"
#include "KeyValueObserver.h"
#include "MainThread.h"

#include <algorithm>

Observable::Observable() = default;

Observable::~Observable()
{
    std::vector<std::shared_ptr<KeyPathObservation>> observations;
    observations.swap(m_observations);
    for (const auto& observation : observations)
        observation->cancel();
    for (const auto& observation : observations) {
        if (KeyValueObserver* observer = observation->observer())
            observer->observedObjectWillBeDestroyed(this);
    }
}

void Observable::addObserver(KeyValueObserver* observer, const std::string& keyPath,
                             KeyValueObservingOptions options, const void* context)
{
    QM_ASSERT(isMainThread(), "Main thread only!");
    QM_PARAMETER_ASSERT(observer, "observer != nil");
    QM_PARAMETER_ASSERT(!keyPath.empty(), "keyPath != nil");
    pruneVanishedObservers();
    const auto observation =
        std::make_shared<KeyPathObservation>(*this, *observer, keyPath, options, context);
    m_observations.push_back(observation);
    observation->start();
    if (options & KeyValueObservingOptions::Initial)
        observation->notifyObserver();
}

void Observable::removeObserver(KeyValueObserver* observer, const std::string& keyPath)
{
    QM_ASSERT(isMainThread(), "Main thread only!");
    QM_ASSERT(detachObserver(observer, keyPath),
              "Cannot remove an observer that is not registered for the key path " + keyPath);
}

bool Observable::hasObserver(const KeyValueObserver* observer, const std::string& keyPath) const
{
    return std::any_of(m_observations.begin(), m_observations.end(), [&](const auto& observation) {
        return observation->observer() == observer && observation->keyPath() == keyPath;
    });
}

size_t Observable::observationCount() const
{
    return size_t(std::count_if(m_observations.begin(), m_observations.end(),
                                [](const auto& observation) { return observation->observer() != nullptr; }));
}

bool Observable::detachObserver(const KeyValueObserver* observer, const std::string& keyPath)
{
    const auto it =
        std::find_if(m_observations.rbegin(), m_observations.rend(), [&](const auto& observation) {
            return observation->observer() == observer && observation->keyPath() == keyPath;
        });
    if (it == m_observations.rend())
        return false;
    const std::shared_ptr<KeyPathObservation> observation = *it;
    m_observations.erase(std::next(it).base());
    observation->cancel();
    return true;
}

void Observable::pruneVanishedObservers()
{
    std::vector<std::shared_ptr<KeyPathObservation>> vanished;
    std::erase_if(m_observations, [&vanished](const auto& observation) {
        if (observation->observer())
            return false;
        vanished.push_back(observation);
        return true;
    });
    for (const auto& observation : vanished)
        observation->cancel();
}

std::any Observable::valueForKeyPath(const std::string& keyPath) const
{
    const auto dot = keyPath.find('.');
    if (dot == std::string::npos)
        return valueForKey(keyPath);
    const Observable* next = observableForKey(keyPath.substr(0, dot));
    return next ? next->valueForKeyPath(keyPath.substr(dot + 1)) : std::any();
}

std::any Observable::valueForKey(const std::string& /*key*/) const
{
    return {};
}

Observable* Observable::observableForKey(const std::string& /*key*/) const
{
    return nullptr;
}

void Observable::didChangeValueForKey(std::string_view key)
{
    if (m_observations.empty())
        return;
    pruneVanishedObservers();
    // Handlers may add and remove registrations, so go through the ones there are now.
    std::vector<std::shared_ptr<KeyPathObservation>> affected;
    for (const auto& observation : m_observations) {
        if (observation->firstKey() == key)
            affected.push_back(observation);
    }
    for (const auto& observation : affected)
        observation->ownerDidChangeFirstKey();
}
