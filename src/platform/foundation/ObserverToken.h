#pragma once

#include <cstdint>
#include <memory>

class NotificationRegistry;

// The registration of one observer. Removing it, destroying it or assigning over it unregisters
// the observer, and its handler is never called again, not even by a post already running: keep
// the token as a member of the object whose handler it registered. Move-only; main thread only.
class ObserverToken {
public:
    ObserverToken() = default;
    ~ObserverToken();
    ObserverToken(ObserverToken&& other) noexcept;
    ObserverToken& operator=(ObserverToken&& other) noexcept;
    ObserverToken(const ObserverToken&) = delete;
    ObserverToken& operator=(const ObserverToken&) = delete;

    // Unregisters; does nothing when already removed or when the centre is gone.
    void remove();
    bool isRegistered() const;

private:
    friend class NotificationCenter;
    ObserverToken(std::weak_ptr<NotificationRegistry> registry, uint64_t id);

    std::weak_ptr<NotificationRegistry> m_registry;
    uint64_t m_id = 0;
};
