#include "platform/audio/SoundEffectPool.h"

#include <QSoundEffect>

SoundEffectPool::SoundEffectPool(const QUrl& file, const QAudioDevice& device, int size)
{
    for (int i = 0; i < size; ++i) {
        auto effect = std::make_unique<QSoundEffect>(device);
        // The file is read once, on Qt's loader thread, and shared by the players of one URL.
        effect->setSource(file);
        m_effects.push_back(std::move(effect));
    }
}

SoundEffectPool::~SoundEffectPool() = default;

int SoundEffectPool::play()
{
    if (m_effects.empty())
        return -1;
    const std::size_t index = m_next;
    m_next = (m_next + 1) % m_effects.size();
    m_effects[index]->play();
    return static_cast<int>(index);
}

bool SoundEffectPool::isPlaying() const
{
    for (const auto& effect : m_effects) {
        if (effect->isPlaying())
            return true;
    }
    return false;
}

void SoundEffectPool::setAudioDevice(const QAudioDevice& device)
{
    for (const auto& effect : m_effects)
        effect->setAudioDevice(device);
}
