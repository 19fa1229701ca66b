#include "platform/audio/WaveFile.h"

#include <QtEndian>
#include <cstring>

namespace {

constexpr std::uint16_t pcmFormat = 1;
constexpr std::uint16_t extensibleFormat = 0xFFFE;
constexpr int fmtChunkSize = 16;
constexpr int headerSize = 44;

void appendTag(QByteArray& bytes, const char* tag)
{
    bytes.append(tag, 4);
}

template <typename T> void appendLittleEndian(QByteArray& bytes, T value)
{
    char buffer[sizeof(T)];
    qToLittleEndian(value, buffer);
    bytes.append(buffer, sizeof(T));
}

template <typename T> T readLittleEndian(const char* at)
{
    return qFromLittleEndian<T>(at);
}

std::optional<WaveFile> fail(QString* reason, const QString& text)
{
    if (reason)
        *reason = text;
    return std::nullopt;
}

} // namespace

QByteArray WaveFile::encode(const std::vector<std::int16_t>& samples, int sampleRate, int channels)
{
    const auto dataSize = static_cast<std::uint32_t>(samples.size() * sizeof(std::int16_t));
    const auto blockAlign = static_cast<std::uint16_t>(channels * sizeof(std::int16_t));
    QByteArray bytes;
    bytes.reserve(headerSize + static_cast<qsizetype>(dataSize));
    appendTag(bytes, "RIFF");
    appendLittleEndian<std::uint32_t>(bytes, headerSize - 8 + dataSize);
    appendTag(bytes, "WAVE");
    appendTag(bytes, "fmt ");
    appendLittleEndian<std::uint32_t>(bytes, fmtChunkSize);
    appendLittleEndian<std::uint16_t>(bytes, pcmFormat);
    appendLittleEndian<std::uint16_t>(bytes, static_cast<std::uint16_t>(channels));
    appendLittleEndian<std::uint32_t>(bytes, static_cast<std::uint32_t>(sampleRate));
    appendLittleEndian<std::uint32_t>(bytes, static_cast<std::uint32_t>(sampleRate) * blockAlign);
    appendLittleEndian<std::uint16_t>(bytes, blockAlign);
    appendLittleEndian<std::uint16_t>(bytes, 16);
    appendTag(bytes, "data");
    appendLittleEndian<std::uint32_t>(bytes, dataSize);
    for (std::int16_t sample : samples)
        appendLittleEndian<std::int16_t>(bytes, sample);
    return bytes;
}

std::optional<WaveFile> WaveFile::decode(const QByteArray& bytes, QString* reason)
{
    if (bytes.size() < 12 || std::memcmp(bytes.constData(), "RIFF", 4) != 0 ||
        std::memcmp(bytes.constData() + 8, "WAVE", 4) != 0)
        return fail(reason, QStringLiteral("not a RIFF WAVE file"));
    WaveFile file;
    bool haveFormat = false;
    bool haveData = false;
    qsizetype at = 12;
    // Chunks are walked by their declared sizes, each checked against what is left, so a
    // truncated or hostile file cannot send the reader past its end.
    while (at + 8 <= bytes.size() && !haveData) {
        const char* chunk = bytes.constData() + at;
        const auto size = static_cast<qsizetype>(readLittleEndian<std::uint32_t>(chunk + 4));
        const qsizetype body = at + 8;
        if (size > bytes.size() - body)
            return fail(reason, QStringLiteral("a chunk runs past the end of the file"));
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            if (size < fmtChunkSize)
                return fail(reason, QStringLiteral("the format chunk is too short"));
            const char* format = bytes.constData() + body;
            const auto tag = readLittleEndian<std::uint16_t>(format);
            if (tag != pcmFormat && tag != extensibleFormat)
                return fail(reason, QStringLiteral("the samples are not integer PCM"));
            file.m_channels = readLittleEndian<std::uint16_t>(format + 2);
            file.m_sampleRate = static_cast<int>(readLittleEndian<std::uint32_t>(format + 4));
            file.m_bitsPerSample = readLittleEndian<std::uint16_t>(format + 14);
            if (file.m_channels < 1 || file.m_channels > 8 || file.m_sampleRate < 1000 ||
                file.m_sampleRate > 384000 ||
                (file.m_bitsPerSample != 8 && file.m_bitsPerSample != 16 && file.m_bitsPerSample != 32))
                return fail(reason, QStringLiteral("unsupported channels, rate or sample size"));
            haveFormat = true;
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            if (!haveFormat)
                return fail(reason, QStringLiteral("the data comes before the format"));
            file.m_data = bytes.mid(body, size);
            haveData = true;
        }
        // Chunks are padded to an even size.
        at = body + size + (size & 1);
    }
    if (!haveFormat || !haveData)
        return fail(reason, QStringLiteral("no format or no data chunk"));
    return file;
}

std::int64_t WaveFile::frameCount() const
{
    const int frameSize = m_channels * m_bitsPerSample / 8;
    return frameSize > 0 ? m_data.size() / frameSize : 0;
}

double WaveFile::duration() const
{
    return m_sampleRate > 0 ? static_cast<double>(frameCount()) / m_sampleRate : 0.0;
}

std::vector<std::int16_t> WaveFile::samples16() const
{
    if (m_bitsPerSample != 16)
        return {};
    std::vector<std::int16_t> samples(static_cast<std::size_t>(m_data.size()) / sizeof(std::int16_t));
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = readLittleEndian<std::int16_t>(m_data.constData() + i * sizeof(std::int16_t));
    return samples;
}
