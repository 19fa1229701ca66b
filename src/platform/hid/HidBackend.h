#pragma once

#include "platform/hid/HidMatchingIterator.h"
#include "platform/hid/HidService.h"

#include <memory>
#include <vector>

// Where input devices come from: the system's devices (LinuxHidBackend) or a simulation for
// tests (SimulatedHidBackend). Main thread only.
class HidBackend {
public:
    HidBackend();
    virtual ~HidBackend();
    HidBackend(const HidBackend&) = delete;
    HidBackend& operator=(const HidBackend&) = delete;

    // The backend the program uses: the Linux one, made on first use, unless a test set another.
    static HidBackend& system();
    // nullptr restores the Linux backend. The caller keeps `backend` alive while it is set.
    static void setSystemForTesting(HidBackend* backend);

    // Arms a first-match notification: the services present now are waiting in the iterator
    // (drain it once right away), later ones are added and announced through `callout`. The
    // iterator is armed as long as the caller keeps it.
    HidMatchingIteratorPtr addMatchingNotification(std::function<void()> callout);

    // The first present service of `className`; nullptr when there is none.
    HidServicePtr matchingService(const std::string& className) const;

    // The registry root: the console's properties and its busy-state messages.
    virtual PlistPtr rootProperty(const std::string& name) const;
    [[nodiscard]] ScopedRegistration addRootInterestNotification(HidService::InterestHandler handler);

protected:
    // Backends call these as devices come and go, and when the console's state changes.
    void serviceAppeared(const HidServicePtr& service);
    void serviceDisappeared(const HidServicePtr& service);
    void rootStateChanged();
    const std::vector<HidServicePtr>& services() const { return m_services; }

private:
    class RootService;

    std::vector<HidServicePtr> m_services;
    std::vector<std::weak_ptr<HidMatchingIterator>> m_iterators;
    std::shared_ptr<HidService> m_root;
};
