#pragma once

#include "KeyValueChange.h"
#include "KeyValueObservingOptions.h"

#include <any>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class KeyPathObservation;
class KeyValueObserver;

// An object whose properties can be observed. Its setters announce every call, whether the value
// changed or not, by calling didChangeValueForKey() once the new value is stored; the observers of
// that key are then called synchronously, in the order they registered.
//
// Key paths may be dotted ("layer.bounds"). Every component but the last must name a property
// whose value is itself Observable (observableForKey()). The observer hears a setter call on any
// object along the path, always with the path it registered and the object it registered with;
// when a component is set, the observation moves on to the object it now leads to.
//
// Values are read through valueForKey(), which subclasses override for their properties (see
// KeyValueChange for how values are carried). Observers are held weakly: one that was destroyed
// without removing itself is skipped. When this object is destroyed, each remaining observer is
// told through observedObjectWillBeDestroyed().
//
// Main thread only: registering and removing assert it, and delivery happens on the thread that
// called the setter. An observer must not destroy the object it is told about from its handler.
class Observable {
public:
    Observable();
    virtual ~Observable();
    Observable(const Observable&) = delete;
    Observable& operator=(const Observable&) = delete;

    // `observer` is non-owning. With the option Initial it is called once at once, before this
    // returns. An observer may register for the same key path more than once; each registration
    // is called.
    void addObserver(KeyValueObserver* observer, const std::string& keyPath, KeyValueObservingOptions options,
                     const void* context);
    // Removes the latest registration of `observer` for `keyPath`; it must exist.
    void removeObserver(KeyValueObserver* observer, const std::string& keyPath);
    bool hasObserver(const KeyValueObserver* observer, const std::string& keyPath) const;
    // Registrations whose observer still exists.
    size_t observationCount() const;

    // The value at the end of `keyPath`; empty when a component leads nowhere.
    std::any valueForKeyPath(const std::string& keyPath) const;
    // The value of one property, with exactly the type of its getter; empty for unknown keys.
    virtual std::any valueForKey(const std::string& key) const;
    // The object a property leads to, for the middle of dotted key paths (non-owning); null for
    // unknown keys and for properties that hold no observable object.
    virtual Observable* observableForKey(const std::string& key) const;

protected:
    // Call after storing a property's value, on every setter call.
    void didChangeValueForKey(std::string_view key);

private:
    friend class KeyPathObservation;

    // Removes without complaint; false when there was nothing to remove.
    bool detachObserver(const KeyValueObserver* observer, const std::string& keyPath);
    void pruneVanishedObservers();

    std::vector<std::shared_ptr<KeyPathObservation>> m_observations;
};
