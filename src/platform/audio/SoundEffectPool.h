#pragma once

#include <QAudioDevice>
#include <QUrl>
#include <memory>
#include <vector>

class QSoundEffect;

// A few players of one sound file, taken in turn, so that quick presses overlap instead of
// cutting each other off: a press cuts off only a sound started `size` presses before. Main
// thread only.
class SoundEffectPool {
public:
    SoundEffectPool(const QUrl& file, const QAudioDevice& device, int size);
    ~SoundEffectPool();
    SoundEffectPool(const SoundEffectPool&) = delete;
    SoundEffectPool& operator=(const SoundEffectPool&) = delete;

    // Starts the next player in turn; returns its index.
    int play();
    bool isPlaying() const;
    void setAudioDevice(const QAudioDevice& device);

    bool completesPlaybackIfAppDies() const { return m_completePlaybackIfAppDies; }
    void setCompletePlaybackIfAppDies(bool complete) { m_completePlaybackIfAppDies = complete; }

    // The players, for waiting until they are quiet.
    const std::vector<std::unique_ptr<QSoundEffect>>& effects() const { return m_effects; }

private:
    std::vector<std::unique_ptr<QSoundEffect>> m_effects;
    std::size_t m_next = 0;
    bool m_completePlaybackIfAppDies = false;
};
