#pragma once

#include "platform/audio/SystemSoundBackend.h"
#include "platform/audio/WaveFile.h"

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

// Mixes the sounds that are playing into one stream for the sound output: a sound started while
// others play is added to them, never cut off. Mixing always yields as much as asked, silence
// where nothing plays.
//
// The stream is mono 16-bit at `sampleRate`; sound files of other formats are converted when
// loaded. At most `maximumVoices` sounds play at once: a further one ends the oldest, so a flood
// of presses costs a bounded amount of work. Main thread only (the output reads on it).
class SoundMixer {
public:
    // Frames a second.
    static constexpr int sampleRate = 48000;
    static constexpr std::size_t maximumVoices = 16;

    // The samples of `file`, converted to the mixer's format.
    static std::vector<std::int16_t> convert(const WaveFile& file);

    void load(SystemSoundID id, std::vector<std::int16_t> samples);
    void unload(SystemSoundID id);
    // Starts `id` from its beginning, on top of whatever plays; false for an unknown ID.
    bool play(SystemSoundID id);

    // Whether a sound of one of `ids` is still playing.
    bool isPlaying(const std::vector<SystemSoundID>& ids) const;
    bool isSilent() const { return m_voices.empty(); }
    // Ends every sound.
    void silence() { m_voices.clear(); }

    // The next `frames` frames of the stream, as little-endian 16-bit samples.
    QByteArray mix(std::size_t frames);

private:
    struct Voice {
        SystemSoundID id;
        std::shared_ptr<const std::vector<std::int16_t>> samples;
        std::size_t position = 0;
    };

    std::map<SystemSoundID, std::shared_ptr<const std::vector<std::int16_t>>> m_sounds;
    std::vector<Voice> m_voices;
};
