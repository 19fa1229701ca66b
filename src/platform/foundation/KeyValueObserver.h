#pragma once

#include "KeyValueChange.h"

#include <map>
#include <memory>
#include <string>

class Observable;

// Something that can be told about property changes of an Observable. Subclasses override
// observeValueForKeyPath() and hand every call they do not recognise (by its context) on to their
// base class, so that each level of a class hierarchy can observe for its own reasons.
//
// Observed objects hold their observers weakly through lifetime(): once an observer is destroyed
// it is never called again. Main thread only.
class KeyValueObserver {
public:
    KeyValueObserver();
    virtual ~KeyValueObserver();
    KeyValueObserver(const KeyValueObserver&) = delete;
    KeyValueObserver& operator=(const KeyValueObserver&) = delete;

    // `object` is the object the observer registered with (for a dotted key path the first object
    // of the path) and `keyPath` the path it registered; `context` is the one it registered with.
    // The base ignores the call.
    virtual void observeValueForKeyPath(const std::string& keyPath, Observable* object,
                                        const KeyValueChange& change, const void* context);

    // An object this observer is registered with is being destroyed, and the registration ends
    // with it. Only the object's address may be used. Called once per registration; the base does
    // nothing.
    virtual void observedObjectWillBeDestroyed(Observable* object);

    // A handle that expires when this observer is destroyed. It expires only once the subclasses'
    // destructors have run: an observer must not cause the changes it observes while it is being
    // destroyed.
    std::weak_ptr<const void> lifetime() const { return m_lifetime; }

    // Bookkeeping another facility keeps about this observer, under a tag of its own (the address
    // of one of its statics). It lives as long as the observer and is released after lifetime()
    // has expired, so its destructor can undo what the observer registered. Null when none.
    std::shared_ptr<void> attachment(const void* tag) const;
    // A null attachment removes the tag.
    void setAttachment(const void* tag, std::shared_ptr<void> attachment);

private:
    std::shared_ptr<const char> m_lifetime;
    std::map<const void*, std::shared_ptr<void>> m_attachments;
};
