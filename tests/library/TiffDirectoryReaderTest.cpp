#include "library/TiffDirectoryReader.h"

#include <QByteArray>
#include <gtest/gtest.h>

namespace {
// A big-endian structure: a first directory with an orientation (SHORT), two sub-directory
// offsets (LONG, stored apart) and a next pointer, then that next directory.
QByteArray bigEndianTiff(uint32_t nextPointer)
{
    QByteArray bytes = QByteArray::fromHex("4d4d002a00000008"
                                           "0002"
                                           "011200030000000100060000"
                                           "014a0004000000020000003a"
                                           "00000000"
                                           "0000"
                                           "0001"
                                           "010300030000000100070000"
                                           "00000000"
                                           "00000008000000260000");
    // The first directory's next pointer, at 8 + 2 + 24.
    for (int i = 0; i < 4; ++i)
        bytes[34 + i] = char((nextPointer >> (24 - 8 * i)) & 0xFF);
    return bytes;
}

const unsigned char* data(const QByteArray& bytes)
{
    return reinterpret_cast<const unsigned char*>(bytes.constData());
}
} // namespace

TEST(TiffDirectoryReaderTest, ReadsNumbersAndTheChainOfEitherByteOrder)
{
    const QByteArray bytes = bigEndianTiff(40);
    const TiffDirectoryReader tiff(data(bytes), size_t(bytes.size()));
    ASSERT_TRUE(tiff.isValid());
    EXPECT_EQ(tiff.magic(), 42);
    const uint32_t first = tiff.firstDirectory();
    EXPECT_EQ(first, 8u);
    EXPECT_EQ(tiff.number(first, 0x0112), 6u);
    EXPECT_EQ(tiff.numbers(first, 0x014A), (std::vector<uint32_t>{8, 38}));
    // Two values are not one.
    EXPECT_FALSE(tiff.number(first, 0x014A));
    EXPECT_FALSE(tiff.has(first, 0x0103));
    EXPECT_EQ(tiff.nextDirectory(first), 40u);
    EXPECT_EQ(tiff.number(40, 0x0103), 7u);
    EXPECT_EQ(tiff.nextDirectory(40), 0u);
    EXPECT_TRUE(tiff.nextPointerIsSound(40));

    const QByteArray little = QByteArray::fromHex("49492a0008000000"
                                                  "0100"
                                                  "120103000100000003000000"
                                                  "00000000");
    const TiffDirectoryReader littleTiff(data(little), size_t(little.size()));
    EXPECT_EQ(littleTiff.number(littleTiff.firstDirectory(), 0x0112), 3u);
}

TEST(TiffDirectoryReaderTest, ADamagedStructureGivesNothingRatherThanAReadOutside)
{
    // A chain pointing back at itself, or past the end, ends it and is told apart from an end.
    for (const uint32_t next : {8u, 4u, 1000u}) {
        const QByteArray bytes = bigEndianTiff(next);
        const TiffDirectoryReader tiff(data(bytes), size_t(bytes.size()));
        EXPECT_EQ(tiff.nextDirectory(8), 0u) << next;
        EXPECT_FALSE(tiff.nextPointerIsSound(8)) << next;
    }
    // Values stored apart beyond the end, a count beyond the bytes, a directory that does not fit.
    QByteArray bytes = bigEndianTiff(0);
    bytes[31] = char(0x10); // the sub-directories' offsets, stored apart
    const TiffDirectoryReader outside(data(bytes), size_t(bytes.size()));
    EXPECT_TRUE(outside.numbers(8, 0x014A).empty());
    bytes = bigEndianTiff(0);
    bytes[8] = char(0x7F);
    const TiffDirectoryReader tooMany(data(bytes), size_t(bytes.size()));
    EXPECT_EQ(tooMany.firstDirectory(), 0u);
    EXPECT_FALSE(tooMany.number(8, 0x0112));
    for (const qsizetype size : {0, 7, 12})
        EXPECT_EQ(TiffDirectoryReader(data(bytes), size_t(size)).firstDirectory(), 0u) << size;
    EXPECT_FALSE(TiffDirectoryReader(data(QByteArray("PK\3\4xxxxxx")), 10).isValid());
}
