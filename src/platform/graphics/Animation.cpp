#include "Animation.h"

Animation::~Animation() = default;

std::shared_ptr<Animation> Animation::create()
{
    return std::make_shared<Animation>();
}

std::any Animation::value(const std::string& key) const
{
    const auto it = m_values.find(key);
    return it == m_values.end() ? std::any() : it->second;
}

void Animation::setValue(const std::string& key, std::any value)
{
    if (!value.has_value()) {
        m_values.erase(key);
        return;
    }
    m_values[key] = std::move(value);
}
