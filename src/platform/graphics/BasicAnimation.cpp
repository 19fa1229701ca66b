#include "BasicAnimation.h"

BasicAnimation::BasicAnimation(std::string keyPath)
    : m_keyPath(std::move(keyPath))
{}

std::shared_ptr<BasicAnimation> BasicAnimation::create(std::string keyPath)
{
    return std::make_shared<BasicAnimation>(std::move(keyPath));
}
