#pragma once

#include "platform/foundation/InternalInconsistency.h"
#include "platform/foundation/KeyValueChange.h"
#include "platform/foundation/KeyValueObserver.h"

#include <string>
#include <type_traits>
#include <typeinfo>

class Observable;

// The class on whose behalf an object observes through the observation proxies: its name (for
// registration keys and messages), the observation handler that class itself has, and the way
// from an observer's address to its lifetime. The handler is called without virtual dispatch, so
// an override in a subclass never receives what its base class registered for. One per class,
// from of<Class>().
class QMKVOObserverClass {
public:
    template <typename Class> static const QMKVOObserverClass* of();

    QMKVOObserverClass(const QMKVOObserverClass&) = delete;
    QMKVOObserverClass& operator=(const QMKVOObserverClass&) = delete;

    const std::string& name() const { return m_name; }

    // `observer` must be an address taken from a pointer to this class.
    void callHandler(void* observer, const std::string& keyPath, Observable* object,
                     const KeyValueChange& change, const void* context) const;
    KeyValueObserver* keyValueObserver(void* observer) const;

private:
    using Handler = void (*)(void* observer, const std::string& keyPath, Observable* object,
                             const KeyValueChange& change, const void* context);
    using Upcast = KeyValueObserver* (*)(void* observer);

    QMKVOObserverClass(std::string name, Handler handler, Upcast upcast);

    std::string m_name;
    Handler m_handler;
    Upcast m_upcast;
};

template <typename Class> const QMKVOObserverClass* QMKVOObserverClass::of()
{
    static_assert(std::is_base_of_v<KeyValueObserver, Class>,
                  "an observing class must be a KeyValueObserver");
    static const QMKVOObserverClass observerClass(
        qmClassName(typeid(Class)),
        [](void* observer, const std::string& keyPath, Observable* object, const KeyValueChange& change,
           const void* context) {
            // Qualified, so that it is the handler this class declares or inherits.
            static_cast<Class*>(observer)->Class::observeValueForKeyPath(keyPath, object, change, context);
        },
        [](void* observer) -> KeyValueObserver* { return static_cast<Class*>(observer); });
    return &observerClass;
}
