#include "tools/library/RawLikeFile.h"

#include "tools/library/ExifOrientation.h"

#include <QBuffer>
#include <QImage>
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {
enum Type : uint16_t { Byte = 1, Ascii = 2, Short = 3, Long = 4, Undefined = 7 };

// One TIFF directory entry: numbers (SHORT or LONG), bytes (BYTE, ASCII, UNDEFINED), or LONG
// offsets of blobs or of other directories, resolved when the file is laid out.
struct Entry {
    uint16_t tag;
    uint16_t type;
    std::vector<uint32_t> numbers;
    QByteArray bytes;
    std::vector<int> blobs;
    std::vector<int> directories;
};

Entry shorts(uint16_t tag, std::vector<uint32_t> values)
{
    return {tag, Short, std::move(values), {}, {}, {}};
}

Entry longs(uint16_t tag, std::vector<uint32_t> values)
{
    return {tag, Long, std::move(values), {}, {}, {}};
}

Entry text(uint16_t tag, const char* value)
{
    return {tag, Ascii, {}, QByteArray(value, qsizetype(std::strlen(value)) + 1), {}, {}};
}

Entry data(uint16_t tag, Type type, QByteArray value)
{
    return {tag, type, {}, std::move(value), {}, {}};
}

Entry offsetOfBlob(uint16_t tag, int blob)
{
    return {tag, Long, {}, {}, {blob}, {}};
}

Entry offsetsOfDirectories(uint16_t tag, std::vector<int> directories)
{
    return {tag, Long, {}, {}, {}, std::move(directories)};
}

void put32(QByteArray& bytes, qsizetype at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = char((value >> (8 * i)) & 0xFF);
}

void append16(QByteArray& bytes, uint32_t value)
{
    bytes.append(char(value & 0xFF)).append(char((value >> 8) & 0xFF));
}

void append32(QByteArray& bytes, uint32_t value)
{
    append16(bytes, value & 0xFFFF);
    append16(bytes, value >> 16);
}

void append32BigEndian(QByteArray& bytes, uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        bytes.append(char((value >> shift) & 0xFF));
}

void append16BigEndian(QByteArray& bytes, uint32_t value)
{
    bytes.append(char((value >> 8) & 0xFF)).append(char(value & 0xFF));
}

// A little-endian TIFF structure after a given header: the blobs first, then each directory with
// the values that do not fit its entries right after it. Directories are not chained: the first
// is the one the header points at (at `firstOffsetAt`), the others are reached through offsets.
class TiffLayout {
public:
    explicit TiffLayout(QByteArray header, qsizetype firstOffsetAt = 4)
        : m_header(std::move(header))
        , m_firstOffsetAt(firstOffsetAt)
    {}

    int addBlob(QByteArray blob)
    {
        m_blobs.push_back(std::move(blob));
        return int(m_blobs.size()) - 1;
    }

    int addDirectory(std::vector<Entry> entries)
    {
        std::sort(entries.begin(), entries.end(),
                  [](const Entry& a, const Entry& b) { return a.tag < b.tag; });
        m_directories.push_back(std::move(entries));
        return int(m_directories.size()) - 1;
    }

    void replaceDirectory(int directory, std::vector<Entry> entries)
    {
        std::sort(entries.begin(), entries.end(),
                  [](const Entry& a, const Entry& b) { return a.tag < b.tag; });
        m_directories.at(size_t(directory)) = std::move(entries);
    }

    // Valid once bytes() has run.
    uint32_t directoryOffset(int directory) const { return m_directoryOffsets.at(size_t(directory)); }

    QByteArray bytes()
    {
        QByteArray out = m_header;
        std::vector<uint32_t> blobOffsets;
        for (const QByteArray& blob : m_blobs) {
            pad(out);
            blobOffsets.push_back(uint32_t(out.size()));
            out += blob;
        }
        pad(out);
        m_directoryOffsets.clear();
        uint32_t next = uint32_t(out.size());
        for (const auto& entries : m_directories) {
            m_directoryOffsets.push_back(next);
            next += uint32_t(2 + 12 * entries.size() + 4);
            for (const Entry& entry : entries) {
                const uint32_t size = valueBytes(entry, blobOffsets).size();
                if (size > 4)
                    next += size + size % 2;
            }
        }
        for (const auto& entries : m_directories) {
            QByteArray overflow;
            const uint32_t overflowAt = uint32_t(out.size() + 2 + 12 * qsizetype(entries.size()) + 4);
            append16(out, uint32_t(entries.size()));
            for (const Entry& entry : entries) {
                QByteArray value = valueBytes(entry, blobOffsets);
                append16(out, entry.tag);
                append16(out, entry.type);
                append32(out, count(entry));
                if (value.size() <= 4) {
                    out += value.leftJustified(4, '\0');
                } else {
                    append32(out, overflowAt + uint32_t(overflow.size()));
                    overflow += value;
                    pad(overflow);
                }
            }
            append32(out, 0);
            out += overflow;
        }
        put32(out, m_firstOffsetAt, m_directoryOffsets.front());
        return out;
    }

private:
    static void pad(QByteArray& bytes)
    {
        if (bytes.size() % 2)
            bytes.append('\0');
    }

    static uint32_t count(const Entry& entry)
    {
        if (!entry.blobs.empty())
            return uint32_t(entry.blobs.size());
        if (!entry.directories.empty())
            return uint32_t(entry.directories.size());
        return entry.type == Short || entry.type == Long ? uint32_t(entry.numbers.size())
                                                         : uint32_t(entry.bytes.size());
    }

    // The directory offsets are those of the layout under way (zero while it is measured).
    QByteArray valueBytes(const Entry& entry, const std::vector<uint32_t>& blobOffsets) const
    {
        QByteArray value;
        for (const int blob : entry.blobs)
            append32(value, blobOffsets.at(size_t(blob)));
        for (const int directory : entry.directories)
            append32(value, size_t(directory) < m_directoryOffsets.size()
                                ? m_directoryOffsets[size_t(directory)]
                                : 0);
        for (const uint32_t number : entry.numbers) {
            if (entry.type == Short)
                append16(value, number);
            else
                append32(value, number);
        }
        return value + entry.bytes;
    }

    QByteArray m_header;
    qsizetype m_firstOffsetAt;
    std::vector<QByteArray> m_blobs;
    std::vector<std::vector<Entry>> m_directories;
    std::vector<uint32_t> m_directoryOffsets;
};

// A few bytes in place of the sensor's data, described as an 8×8 colour-filter-array image. They
// start as the lossless JPEG that DNG and CR2 files keep their sensor data in, whose frame header
// claims more pixels than any preview has (12 bits, 6000 × 4000, one component): a reader must
// not take it for the largest preview.
const QByteArray sensorData = QByteArray::fromHex("ffd8ffc3000b0c0fa0177001011100").leftJustified(64, '\x40');
constexpr uint32_t sensorSide = 8;

// `compression`: 7 for the lossless JPEG of a DNG, 1 (none) elsewhere.
std::vector<Entry> sensorEntries(int blob, uint32_t compression = 1)
{
    return {longs(0xFE, {0}),
            longs(0x100, {sensorSide}),
            longs(0x101, {sensorSide}),
            shorts(0x102, {8}),
            shorts(0x103, {compression}),
            shorts(0x106, {32803}),
            offsetOfBlob(0x111, blob),
            shorts(0x115, {1}),
            longs(0x116, {sensorSide}),
            longs(0x117, {uint32_t(sensorData.size())})};
}

const QByteArray tiffHeader("II*\0\0\0\0\0", 8);
const QSize smallPreviewSize(160, 120);

QByteArray dng(const QByteArray& jpeg, QSize size, int orientation)
{
    TiffLayout tiff(tiffHeader);
    std::vector<Entry> first{
        text(0x10F, "Zuzire"), text(0x110, "RAW-like DNG"), shorts(0x112, {uint32_t(orientation)}),
        data(0xC612, Byte, QByteArray("\1\4\0\0", 4)), text(0xC614, "Zuzire RAW-like DNG")};
    const int sensor = tiff.addBlob(sensorData);
    tiff.addDirectory({}); // the first image, filled in below
    tiff.addDirectory(sensorEntries(sensor, 7));
    std::vector<int> subImages{1};
    if (!jpeg.isEmpty()) {
        // The small uncompressed thumbnail DNG files carry in their first image.
        constexpr uint32_t thumbWidth = 16, thumbHeight = 12;
        const int thumb = tiff.addBlob(QByteArray(thumbWidth * thumbHeight * 3, '\x80'));
        first.insert(first.end(),
                     {longs(0xFE, {1}), longs(0x100, {thumbWidth}), longs(0x101, {thumbHeight}),
                      shorts(0x102, {8, 8, 8}), shorts(0x103, {1}), shorts(0x106, {2}),
                      offsetOfBlob(0x111, thumb), shorts(0x115, {3}), longs(0x116, {thumbHeight}),
                      longs(0x117, {thumbWidth * thumbHeight * 3})});
        // A smaller preview before the large one, as some converters write: the largest is shown.
        const auto jpegImage = [&](const QByteArray& bytes, QSize pixels) {
            const int blob = tiff.addBlob(bytes);
            return std::vector<Entry>{longs(0xFE, {1}),
                                      longs(0x100, {uint32_t(pixels.width())}),
                                      longs(0x101, {uint32_t(pixels.height())}),
                                      shorts(0x102, {8, 8, 8}),
                                      shorts(0x103, {7}),
                                      shorts(0x106, {6}),
                                      offsetOfBlob(0x111, blob),
                                      shorts(0x115, {3}),
                                      longs(0x116, {uint32_t(pixels.height())}),
                                      longs(0x117, {uint32_t(bytes.size())})};
        };
        QImage small(smallPreviewSize, QImage::Format_RGB32);
        small.fill(Qt::darkGray);
        QByteArray smallJpeg;
        QBuffer buffer(&smallJpeg);
        buffer.open(QIODevice::WriteOnly);
        small.save(&buffer, "JPG", 80);
        subImages.push_back(tiff.addDirectory(jpegImage(smallJpeg, smallPreviewSize)));
        subImages.push_back(tiff.addDirectory(jpegImage(jpeg, size)));
    }
    first.push_back(offsetsOfDirectories(0x14A, subImages));
    tiff.replaceDirectory(0, std::move(first));
    return tiff.bytes();
}

// NEF keeps its preview in a sub-image, ARW in the first image; both point at the JPEG.
QByteArray nefOrArw(bool nef, const QByteArray& jpeg, QSize size, int orientation)
{
    TiffLayout tiff(tiffHeader);
    const int sensor = tiff.addBlob(sensorData);
    std::vector<Entry> previewEntries;
    if (!jpeg.isEmpty()) {
        const int preview = tiff.addBlob(jpeg);
        previewEntries = {longs(0xFE, {1}),
                          longs(0x100, {uint32_t(size.width())}),
                          longs(0x101, {uint32_t(size.height())}),
                          shorts(0x103, {6}),
                          offsetOfBlob(0x201, preview),
                          longs(0x202, {uint32_t(jpeg.size())})};
    }
    std::vector<Entry> first{text(0x10F, nef ? "NIKON CORPORATION" : "SONY"),
                             text(0x110, nef ? "RAW-like NEF" : "RAW-like ARW"),
                             shorts(0x112, {uint32_t(orientation)})};
    if (nef) {
        first.push_back(offsetsOfDirectories(0x14A, previewEntries.empty() ? std::vector<int>{1}
                                                                           : std::vector<int>{1, 2}));
        tiff.addDirectory(std::move(first));
        tiff.addDirectory(sensorEntries(sensor));
        if (!previewEntries.empty())
            tiff.addDirectory(std::move(previewEntries));
    } else {
        first.insert(first.end(), previewEntries.begin(), previewEntries.end());
        first.push_back(offsetsOfDirectories(0x14A, {1}));
        tiff.addDirectory(std::move(first));
        tiff.addDirectory(sensorEntries(sensor));
    }
    return tiff.bytes();
}

QByteArray cr2(const QByteArray& jpeg, QSize size, int orientation)
{
    // The TIFF header, then "CR", the format's version and the offset of the sensor's directory.
    TiffLayout tiff(QByteArray("II*\0\0\0\0\0CR\2\0\0\0\0\0", 16));
    std::vector<Entry> first{text(0x10F, "Canon"), text(0x110, "RAW-like CR2"),
                             shorts(0x112, {uint32_t(orientation)})};
    if (!jpeg.isEmpty()) {
        const int preview = tiff.addBlob(jpeg);
        first.insert(first.end(), {shorts(0x100, {uint32_t(size.width())}),
                                   shorts(0x101, {uint32_t(size.height())}), shorts(0x103, {6}),
                                   offsetOfBlob(0x111, preview), longs(0x117, {uint32_t(jpeg.size())})});
    }
    const int sensor = tiff.addBlob(sensorData);
    tiff.addDirectory(std::move(first));
    tiff.addDirectory(
        {shorts(0x103, {6}), offsetOfBlob(0x111, sensor), longs(0x117, {uint32_t(sensorData.size())})});
    QByteArray bytes = tiff.bytes();
    put32(bytes, 12, tiff.directoryOffset(1));
    return bytes;
}

// The camera maker's note of an ORF file: its signature, byte order and version, then a directory
// whose camera settings (a directory of their own) say where the large preview lies, after a
// small thumbnail of its own. Offsets count from the note's first byte, as the format has them.
QByteArray olympusMakerNote(const QByteArray& jpeg)
{
    QImage small(smallPreviewSize, QImage::Format_RGB32);
    small.fill(Qt::darkGray);
    QByteArray thumbnail;
    QBuffer buffer(&thumbnail);
    buffer.open(QIODevice::WriteOnly);
    small.save(&buffer, "JPG", 80);

    QByteArray note("OLYMPUS\0II\3\0", 12);
    const auto entry = [](QByteArray& to, uint16_t tag, uint16_t type, uint32_t count, uint32_t value) {
        append16(to, tag);
        append16(to, type);
        append32(to, count);
        append32(to, value);
    };
    constexpr uint32_t mainAt = 12;
    constexpr uint32_t mainEntries = 3;
    constexpr uint32_t settingsAt = mainAt + 2 + 12 * mainEntries + 4;
    constexpr uint32_t settingsEntries = 3;
    constexpr uint32_t thumbnailAt = settingsAt + 2 + 12 * settingsEntries + 4;
    const uint32_t previewAt = thumbnailAt + uint32_t(thumbnail.size() + thumbnail.size() % 2);
    append16(note, mainEntries);
    note += QByteArray("\0\0\7\0\4\0\0\0"
                       "0100",
                       12); // the note's version, 0100
    entry(note, 0x0100, Undefined, uint32_t(thumbnail.size()), thumbnailAt);
    entry(note, 0x2020, Long, 1, settingsAt); // the camera settings
    append32(note, 0);
    append16(note, settingsEntries);
    entry(note, 0x0100, Long, 1, 1); // the preview is valid
    entry(note, 0x0101, Long, 1, previewAt);
    entry(note, 0x0102, Long, 1, uint32_t(jpeg.size()));
    append32(note, 0);
    note += thumbnail;
    if (note.size() % 2)
        note.append('\0');
    return note + jpeg;
}

QByteArray orf(const QByteArray& jpeg, int orientation)
{
    TiffLayout tiff(QByteArray("IIRO\0\0\0\0", 8));
    const int sensor = tiff.addBlob(sensorData);
    std::vector<Entry> first{text(0x10F, "OLYMPUS IMAGING CORP."),
                             text(0x110, "RAW-like ORF"),
                             longs(0x100, {sensorSide}),
                             longs(0x101, {sensorSide}),
                             shorts(0x103, {1}),
                             offsetOfBlob(0x111, sensor),
                             shorts(0x112, {uint32_t(orientation)}),
                             longs(0x117, {uint32_t(sensorData.size())})};
    if (jpeg.isEmpty()) {
        tiff.addDirectory(std::move(first));
        return tiff.bytes();
    }
    // The EXIF directory holds the maker's note, which holds the preview.
    first.push_back(offsetsOfDirectories(0x8769, {1}));
    tiff.addDirectory(std::move(first));
    tiff.addDirectory({data(0x927C, Undefined, olympusMakerNote(jpeg))});
    return tiff.bytes();
}

// The preview carries the orientation in its EXIF, where RW2 and RAF readers find it.
QByteArray rw2(const QByteArray& jpeg, int orientation)
{
    TiffLayout tiff(QByteArray("IIU\0\x18\0\0\0", 8) + QByteArray(16, '\0'));
    const int sensor = tiff.addBlob(sensorData);
    std::vector<Entry> first{data(0x01, Undefined, "0200"), // the format's version
                             shorts(0x02, {sensorSide}),
                             shorts(0x03, {sensorSide}),
                             text(0x10F, "Panasonic"),
                             text(0x110, "RAW-like RW2"),
                             offsetOfBlob(0x111, sensor),
                             shorts(0x112, {uint32_t(orientation)}),
                             longs(0x117, {uint32_t(sensorData.size())})};
    if (!jpeg.isEmpty())
        first.push_back(data(0x2E, Undefined, ExifOrientation::withOrientation(jpeg, orientation)));
    tiff.addDirectory(std::move(first));
    return tiff.bytes();
}

QByteArray raf(const QByteArray& jpeg, int orientation)
{
    QByteArray bytes("FUJIFILMCCD-RAW 0201FF383501");
    bytes += QByteArray("RAW-like RAF").leftJustified(32, '\0');
    bytes += QByteArray("0100").leftJustified(24, '\0');
    const QByteArray preview =
        jpeg.isEmpty() ? QByteArray() : ExifOrientation::withOrientation(jpeg, orientation);
    // Big-endian offsets and lengths of the JPEG, the sensor's header and the sensor's data.
    const uint32_t previewAt = 108;
    const uint32_t sensorAt = previewAt + uint32_t(preview.size());
    for (const uint32_t value : {preview.isEmpty() ? 0 : previewAt, uint32_t(preview.size()), uint32_t(0),
                                 uint32_t(0), sensorAt, uint32_t(sensorData.size())})
        append32BigEndian(bytes, value);
    return bytes + preview + sensorData;
}

QByteArray box(const char* type, const QByteArray& payload)
{
    QByteArray bytes;
    append32BigEndian(bytes, uint32_t(8 + payload.size()));
    return bytes + QByteArray(type, 4) + payload;
}

QByteArray cr3(const QByteArray& jpeg, QSize size, int orientation)
{
    TiffLayout metadata(tiffHeader);
    metadata.addDirectory(
        {text(0x10F, "Canon"), text(0x110, "RAW-like CR3"), shorts(0x112, {uint32_t(orientation)})});
    const QByteArray canonBox = QByteArray::fromHex("85c0b687820f11e08111f4ce462b6a48");
    const QByteArray previewBox = QByteArray::fromHex("eaf42b5e1c984b88b9fbb7dc406e4d16");
    QByteArray bytes = box("ftyp", QByteArray("crx \0\0\0\1crx isom", 16));
    bytes += box("moov", box("uuid", canonBox + box("CNCV", "CanonCR3_001/00.09.00/00.00.00") +
                                         box("CMT1", metadata.bytes())));
    if (!jpeg.isEmpty()) {
        QByteArray prvw;
        append32BigEndian(prvw, 0);
        append16BigEndian(prvw, 1);
        append16BigEndian(prvw, uint32_t(size.width()));
        append16BigEndian(prvw, uint32_t(size.height()));
        append16BigEndian(prvw, 1);
        append32BigEndian(prvw, uint32_t(jpeg.size()));
        bytes += box("uuid", previewBox + QByteArray("\0\0\0\0\0\0\0\1", 8) + box("PRVW", prvw + jpeg));
    }
    return bytes + box("mdat", sensorData);
}
} // namespace

QString RawLikeFile::suffix(Format format)
{
    switch (format) {
    case Format::Dng:
        return QStringLiteral("DNG");
    case Format::Nef:
        return QStringLiteral("NEF");
    case Format::Arw:
        return QStringLiteral("ARW");
    case Format::Cr2:
        return QStringLiteral("CR2");
    case Format::Orf:
        return QStringLiteral("ORF");
    case Format::Rw2:
        return QStringLiteral("RW2");
    case Format::Raf:
        return QStringLiteral("RAF");
    case Format::Cr3:
        return QStringLiteral("CR3");
    }
    return {};
}

QByteArray RawLikeFile::make(Format format, const QByteArray& previewJpeg, QSize previewSize, int orientation)
{
    switch (format) {
    case Format::Dng:
        return dng(previewJpeg, previewSize, orientation);
    case Format::Nef:
        return nefOrArw(true, previewJpeg, previewSize, orientation);
    case Format::Arw:
        return nefOrArw(false, previewJpeg, previewSize, orientation);
    case Format::Cr2:
        return cr2(previewJpeg, previewSize, orientation);
    case Format::Orf:
        return orf(previewJpeg, orientation);
    case Format::Rw2:
        return rw2(previewJpeg, orientation);
    case Format::Raf:
        return raf(previewJpeg, orientation);
    case Format::Cr3:
        return cr3(previewJpeg, previewSize, orientation);
    }
    return {};
}
