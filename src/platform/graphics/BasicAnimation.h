#pragma once

#include "Animation.h"

// An animation of one layer property (by key path) between two values.
class BasicAnimation : public Animation {
public:
    explicit BasicAnimation(std::string keyPath);

    static std::shared_ptr<BasicAnimation> create(std::string keyPath);

    const std::string& keyPath() const { return m_keyPath; }

    const std::any& fromValue() const { return m_fromValue; }
    void setFromValue(std::any value) { m_fromValue = std::move(value); }
    const std::any& toValue() const { return m_toValue; }
    void setToValue(std::any value) { m_toValue = std::move(value); }

private:
    std::string m_keyPath;
    std::any m_fromValue;
    std::any m_toValue;
};
