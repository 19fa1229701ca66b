#include "KeyPathObservation.h"

#include "Observable.h"

KeyPathObservation::KeyPathObservation(Observable& owner, KeyValueObserver& observer, std::string keyPath,
                                       KeyValueObservingOptions options, const void* context)
    : m_owner(owner)
    , m_observer(&observer)
    , m_observerLifetime(observer.lifetime())
    , m_keyPath(std::move(keyPath))
    , m_options(options)
    , m_context(context)
{
    const auto dot = m_keyPath.find('.');
    m_firstKey = m_keyPath.substr(0, dot);
    if (dot != std::string::npos)
        m_restOfPath = m_keyPath.substr(dot + 1);
}

KeyPathObservation::~KeyPathObservation()
{
    unlink();
}

KeyValueObserver* KeyPathObservation::observer() const
{
    return m_observerLifetime.expired() ? nullptr : m_observer;
}

void KeyPathObservation::start()
{
    link();
}

void KeyPathObservation::cancel()
{
    m_cancelled = true;
    unlink();
}

void KeyPathObservation::ownerDidChangeFirstKey()
{
    if (m_cancelled)
        return;
    if (!m_restOfPath.empty()) {
        unlink();
        link();
    }
    notifyObserver();
}

void KeyPathObservation::notifyObserver()
{
    KeyValueObserver* observer = this->observer();
    if (m_cancelled || !observer)
        return;
    // The observer may remove this registration from its handler.
    const std::shared_ptr<KeyPathObservation> keepAlive = shared_from_this();
    KeyValueChange change;
    if (m_options & KeyValueObservingOptions::New)
        change.newValue = m_owner.valueForKeyPath(m_keyPath);
    observer->observeValueForKeyPath(m_keyPath, &m_owner, change, m_context);
}

void KeyPathObservation::observeValueForKeyPath(const std::string& /*keyPath*/, Observable* /*object*/,
                                                const KeyValueChange& /*change*/, const void* context)
{
    if (context == this)
        notifyObserver();
}

void KeyPathObservation::observedObjectWillBeDestroyed(Observable* object)
{
    if (object == m_linkedObject)
        m_linkedObject = nullptr;
}

void KeyPathObservation::link()
{
    if (m_cancelled || m_restOfPath.empty())
        return;
    m_linkedObject = m_owner.observableForKey(m_firstKey);
    if (m_linkedObject)
        m_linkedObject->addObserver(this, m_restOfPath, KeyValueObservingOptions::None, this);
}

void KeyPathObservation::unlink()
{
    if (!m_linkedObject)
        return;
    Observable* linked = m_linkedObject;
    m_linkedObject = nullptr;
    linked->detachObserver(this, m_restOfPath);
}
