#include "platform/audio/WaveFile.h"

#include <QtEndian>
#include <gtest/gtest.h>

namespace {
QByteArray chunk(const char* tag, const QByteArray& body)
{
    QByteArray bytes(tag, 4);
    char size[4];
    qToLittleEndian<std::uint32_t>(static_cast<std::uint32_t>(body.size()), size);
    bytes.append(size, 4);
    bytes.append(body);
    if (body.size() % 2)
        bytes.append('\0');
    return bytes;
}

QByteArray riff(const QByteArray& chunks)
{
    return chunk("RIFF", QByteArray("WAVE") + chunks);
}

// The format chunk of an encoded file, and its data chunk.
const QByteArray encoded = WaveFile::encode({0, 1000, -1000, 32767, -32768, 5}, 22050, 2);
const QByteArray formatChunk = encoded.mid(12, 24);
const QByteArray dataChunk = encoded.mid(36);
} // namespace

TEST(WaveFileTest, EncodedSamplesDecodeAsTheyWereWritten)
{
    ASSERT_EQ(encoded.size(), 44 + 12);
    QString reason;
    const auto file = WaveFile::decode(encoded, &reason);
    ASSERT_TRUE(file) << reason.toStdString();
    EXPECT_EQ(file->channels(), 2);
    EXPECT_EQ(file->sampleRate(), 22050);
    EXPECT_EQ(file->bitsPerSample(), 16);
    EXPECT_EQ(file->frameCount(), 3);
    EXPECT_DOUBLE_EQ(file->duration(), 3.0 / 22050);
    EXPECT_EQ(file->samples16(), (std::vector<std::int16_t>{0, 1000, -1000, 32767, -32768, 5}));
}

TEST(WaveFileTest, ChunksBeforeTheDataAreSkippedWithTheirPadding)
{
    const auto file = WaveFile::decode(riff(formatChunk + chunk("LIST", "odd") + dataChunk));
    ASSERT_TRUE(file);
    EXPECT_EQ(file->frameCount(), 3);
}

TEST(WaveFileTest, FilesThatCannotBePlayedAreRefusedWithAReason)
{
    QByteArray floatFormat = formatChunk;
    qToLittleEndian<std::uint16_t>(3, floatFormat.data() + 8);
    QByteArray oddSampleSize = formatChunk;
    qToLittleEndian<std::uint16_t>(12, oddSampleSize.data() + 22);
    const QByteArray truncated = encoded.left(encoded.size() - 2);
    const QByteArray hugeChunk = riff(formatChunk + QByteArray("data\xff\xff\xff\x7f", 8));

    for (const QByteArray& bytes :
         {QByteArray("RIFF\0\0\0\0WAVX", 12), QByteArray("RIF"), truncated, hugeChunk,
          riff(dataChunk + formatChunk), riff(floatFormat + dataChunk), riff(oddSampleSize + dataChunk),
          riff(formatChunk), riff(formatChunk.left(16))}) {
        QString reason;
        EXPECT_FALSE(WaveFile::decode(bytes, &reason)) << bytes.toHex().toStdString();
        EXPECT_FALSE(reason.isEmpty());
    }
}
