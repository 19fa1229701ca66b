#pragma once

#include <functional>

// A registration (an observer, a callback, a subscription) that ends when this object is
// released or destroyed. Move-only; releasing twice does nothing.
class ScopedRegistration {
public:
    ScopedRegistration() = default;
    explicit ScopedRegistration(std::function<void()> unregister)
        : m_unregister(std::move(unregister))
    {}
    ~ScopedRegistration() { release(); }
    ScopedRegistration(ScopedRegistration&& other) noexcept;
    ScopedRegistration& operator=(ScopedRegistration&& other) noexcept;
    ScopedRegistration(const ScopedRegistration&) = delete;
    ScopedRegistration& operator=(const ScopedRegistration&) = delete;

    void release();
    bool isRegistered() const { return static_cast<bool>(m_unregister); }

private:
    std::function<void()> m_unregister;
};
