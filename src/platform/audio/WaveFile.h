#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

// A RIFF WAVE file of integer PCM frames, the one sound file format the sound device plays.
// Reading checks only what playing needs (the chunks, the format and that the data is whole);
// writing makes 16-bit files.
class WaveFile {
public:
    // 16-bit signed samples, channels interleaved, at `sampleRate` frames a second.
    static QByteArray encode(const std::vector<std::int16_t>& samples, int sampleRate, int channels);

    // The file's format and frames; nullopt with the reason in `reason` when `bytes` is no WAVE
    // file of integer PCM that can be played.
    static std::optional<WaveFile> decode(const QByteArray& bytes, QString* reason = nullptr);

    int channels() const { return m_channels; }
    // Frames a second.
    int sampleRate() const { return m_sampleRate; }
    int bitsPerSample() const { return m_bitsPerSample; }
    std::int64_t frameCount() const;
    // Seconds.
    double duration() const;
    // The frames as stored: little-endian samples, channels interleaved.
    const QByteArray& data() const { return m_data; }
    // The samples of a 16-bit file, channels interleaved; empty for other sample sizes.
    std::vector<std::int16_t> samples16() const;

private:
    int m_channels = 0;
    int m_sampleRate = 0;
    int m_bitsPerSample = 0;
    QByteArray m_data;
};
