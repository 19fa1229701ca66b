#pragma once

#include "QMKVOObserverClass.h"
#include "QMKVOProxy.h"
#include "platform/foundation/KeyValueObservingOptions.h"
#include "platform/foundation/Observable.h"

#include <concepts>
#include <optional>
#include <string>

// The context of every change delivered through qm_addObserver(). Handlers compare the context
// they receive with it by address and hand any other context on to their base class.
extern const char QMKVOObservationContext[];

// Observes `keyPath` of `observed` on behalf of `ObserverClass`: every setter call along the path
// calls ObserverClass's own observeValueForKeyPath() (the one it declares or inherits, never a
// subclass's override) on `observer`, with QMKVOObservationContext. So a class and its subclasses
// can observe the same key path of the same object independently, each in its own handler.
//
// The class is named at the call site and must be exactly the static type of `observer`, which is
// `this` in the class's own code:
//
//     qm_addObserver<RootController>(*this, this, "status", KeyValueObservingOptions(5));
//
// The observer is held weakly: when it is destroyed, its registrations end and no change reaches
// it. A second registration of the same observer, class, object and key path fails with
// "Observer is already observing %@". Main thread only.
template <typename ObserverClass, typename Observer>
requires std::same_as<ObserverClass, Observer>
void qm_addObserver(Observable& observed, Observer* observer, const std::string& keyPath,
                    KeyValueObservingOptions options)
{
    QMKVOProxy::addObserverOfClass(observed, observer, QMKVOObserverClass::of<ObserverClass>(), keyPath,
                                   options);
}

// Ends the registration of `observer` on behalf of `ObserverClass` for `keyPath` of `observed`, or
// without a key path every registration of that observer and class on `observed` (those of other
// classes stay). Fails with "No matching observers found to remove" when there is none.
template <typename ObserverClass, typename Observer>
requires std::same_as<ObserverClass, Observer>
void qm_removeObserver(Observable& observed, Observer* observer,
                       const std::optional<std::string>& keyPath = std::nullopt)
{
    QMKVOProxy::removeObserverOfClass(observed, observer, QMKVOObserverClass::of<ObserverClass>(), keyPath);
}
