#include "platform/foundation/ScopedRegistration.h"

#include <utility>

ScopedRegistration::ScopedRegistration(ScopedRegistration&& other) noexcept
    : m_unregister(std::exchange(other.m_unregister, nullptr))
{}

ScopedRegistration& ScopedRegistration::operator=(ScopedRegistration&& other) noexcept
{
    if (this != &other) {
        release();
        m_unregister = std::exchange(other.m_unregister, nullptr);
    }
    return *this;
}

void ScopedRegistration::release()
{
    // Cleared first: the unregistering call may destroy whatever holds this object.
    if (auto unregister = std::exchange(m_unregister, nullptr))
        unregister();
}
