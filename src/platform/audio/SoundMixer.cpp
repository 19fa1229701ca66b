#include "platform/audio/SoundMixer.h"

#include <QtEndian>
#include <algorithm>
#include <cmath>

namespace {

// One frame of `file`'s data, channels averaged, as a 16-bit sample.
double frameAt(const QByteArray& data, int channels, int bits, std::int64_t frame)
{
    const int bytes = bits / 8;
    const char* at = data.constData() + frame * channels * bytes;
    double sum = 0;
    for (int channel = 0; channel < channels; ++channel, at += bytes) {
        if (bits == 8)
            sum += (static_cast<unsigned char>(*at) - 128) * 256.0;
        else if (bits == 16)
            sum += qFromLittleEndian<std::int16_t>(at);
        else
            sum += qFromLittleEndian<std::int32_t>(at) / 65536.0;
    }
    return sum / channels;
}

} // namespace

std::vector<std::int16_t> SoundMixer::convert(const WaveFile& file)
{
    const std::int64_t frames = file.frameCount();
    if (frames == 0)
        return {};
    const double step = static_cast<double>(file.sampleRate()) / sampleRate;
    const auto count = static_cast<std::size_t>(std::floor((frames - 1) / step)) + 1;
    std::vector<std::int16_t> samples(count);
    // Linear interpolation is plenty for short interface sounds.
    for (std::size_t i = 0; i < count; ++i) {
        const double source = i * step;
        const auto left = static_cast<std::int64_t>(source);
        const std::int64_t right = std::min(left + 1, frames - 1);
        const double fraction = source - left;
        const double value =
            frameAt(file.data(), file.channels(), file.bitsPerSample(), left) * (1 - fraction) +
            frameAt(file.data(), file.channels(), file.bitsPerSample(), right) * fraction;
        samples[i] = static_cast<std::int16_t>(std::clamp(std::lround(value), -32768L, 32767L));
    }
    return samples;
}

void SoundMixer::load(SystemSoundID id, std::vector<std::int16_t> samples)
{
    m_sounds[id] = std::make_shared<const std::vector<std::int16_t>>(std::move(samples));
}

void SoundMixer::unload(SystemSoundID id)
{
    m_sounds.erase(id);
    std::erase_if(m_voices, [id](const Voice& voice) { return voice.id == id; });
}

bool SoundMixer::play(SystemSoundID id)
{
    const auto sound = m_sounds.find(id);
    if (sound == m_sounds.end())
        return false;
    if (m_voices.size() >= maximumVoices)
        m_voices.erase(m_voices.begin());
    m_voices.push_back({id, sound->second, 0});
    return true;
}

bool SoundMixer::isPlaying(const std::vector<SystemSoundID>& ids) const
{
    return std::any_of(m_voices.begin(), m_voices.end(), [&ids](const Voice& voice) {
        return std::find(ids.begin(), ids.end(), voice.id) != ids.end();
    });
}

QByteArray SoundMixer::mix(std::size_t frames)
{
    QByteArray bytes(static_cast<qsizetype>(frames * 2), Qt::Uninitialized);
    for (std::size_t frame = 0; frame < frames; ++frame) {
        int sum = 0;
        for (Voice& voice : m_voices) {
            if (voice.position < voice.samples->size())
                sum += (*voice.samples)[voice.position++];
        }
        qToLittleEndian(static_cast<std::int16_t>(std::clamp(sum, -32768, 32767)), bytes.data() + frame * 2);
    }
    std::erase_if(m_voices, [](const Voice& voice) { return voice.position >= voice.samples->size(); });
    return bytes;
}
