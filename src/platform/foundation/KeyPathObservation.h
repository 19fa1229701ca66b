#pragma once

#include "KeyValueObserver.h"
#include "KeyValueObservingOptions.h"

#include <memory>
#include <string>

class Observable;

// One registration of an observer for one key path on one object, owned by that object. For a
// dotted path it also observes the rest of the path on the object the first component leads to
// now, follows that component whenever it is set, and reports every change as a change of the
// whole path on its owner. Main thread only.
class KeyPathObservation final : public KeyValueObserver,
                                 public std::enable_shared_from_this<KeyPathObservation> {
public:
    KeyPathObservation(Observable& owner, KeyValueObserver& observer, std::string keyPath,
                       KeyValueObservingOptions options, const void* context);
    ~KeyPathObservation() override;

    // Null once the observer is gone.
    KeyValueObserver* observer() const;
    const std::string& keyPath() const { return m_keyPath; }
    const std::string& firstKey() const { return m_firstKey; }
    KeyValueObservingOptions options() const { return m_options; }
    bool isCancelled() const { return m_cancelled; }

    // Starts following the path (for a dotted one).
    void start();
    // Stops following the path and calling the observer; for good.
    void cancel();
    // The owner's first key was set: follow it to its new object, then tell the observer.
    void ownerDidChangeFirstKey();
    // Tells the observer, with the new value when it asked for it.
    void notifyObserver();

    // From the object in the middle of the path.
    void observeValueForKeyPath(const std::string& keyPath, Observable* object, const KeyValueChange& change,
                                const void* context) override;
    void observedObjectWillBeDestroyed(Observable* object) override;

private:
    void link();
    void unlink();

    Observable& m_owner;          // the owner holds this observation
    KeyValueObserver* m_observer; // non-owning; valid while m_observerLifetime has not expired
    std::weak_ptr<const void> m_observerLifetime;
    std::string m_keyPath;
    std::string m_firstKey;
    // Empty for a plain key.
    std::string m_restOfPath;
    KeyValueObservingOptions m_options;
    const void* m_context;
    // The object the first key leads to, observed for the rest of the path (non-owning; cleared
    // when it is destroyed).
    Observable* m_linkedObject = nullptr;
    bool m_cancelled = false;
};
