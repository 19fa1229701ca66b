#include "library/TiffDirectoryReader.h"

namespace {
enum Type : uint16_t { Byte = 1, Short = 3, Long = 4, Directory = 13 };

// More entries than any camera writes: a count beyond it is damage, not a directory.
constexpr uint32_t maximumEntries = 4096;

size_t typeSize(uint16_t type)
{
    switch (type) {
    case Byte:
        return 1;
    case Short:
        return 2;
    case Long:
    case Directory:
        return 4;
    default:
        return 0;
    }
}
} // namespace

TiffDirectoryReader::TiffDirectoryReader(const unsigned char* data, size_t size)
    : m_data(data)
    , m_size(size)
{
    if (!data || size < 8)
        return;
    if (data[0] == 'I' && data[1] == 'I')
        m_bigEndian = false;
    else if (data[0] == 'M' && data[1] == 'M')
        m_bigEndian = true;
    else
        return;
    m_valid = true;
}

uint16_t TiffDirectoryReader::read16(size_t at) const
{
    const unsigned char* p = m_data + at;
    return m_bigEndian ? uint16_t((p[0] << 8) | p[1]) : uint16_t((p[1] << 8) | p[0]);
}

uint32_t TiffDirectoryReader::read32(size_t at) const
{
    const unsigned char* p = m_data + at;
    return m_bigEndian ? (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3]
                       : (uint32_t(p[3]) << 24) | (uint32_t(p[2]) << 16) | (uint32_t(p[1]) << 8) | p[0];
}

bool TiffDirectoryReader::isDirectory(uint32_t directory) const
{
    if (!m_valid || directory < 8 || size_t(directory) > m_size - 2)
        return false;
    const uint32_t count = read16(directory);
    return count <= maximumEntries && size_t(directory) + 2 + 12 * size_t(count) + 4 <= m_size;
}

uint32_t TiffDirectoryReader::firstDirectory() const
{
    if (!m_valid)
        return 0;
    const uint32_t first = read32(4);
    return isDirectory(first) ? first : 0;
}

uint32_t TiffDirectoryReader::nextPointer(uint32_t directory) const
{
    return isDirectory(directory) ? read32(directory + 2 + 12 * size_t(read16(directory))) : 0;
}

uint32_t TiffDirectoryReader::nextDirectory(uint32_t directory) const
{
    const uint32_t next = nextPointer(directory);
    return nextPointerIsSound(directory) ? next : 0;
}

bool TiffDirectoryReader::nextPointerIsSound(uint32_t directory) const
{
    const uint32_t next = nextPointer(directory);
    // A chain that points back at itself or earlier would never end.
    return next == 0 || (next > directory && isDirectory(next));
}

std::optional<size_t> TiffDirectoryReader::entryOf(uint32_t directory, uint16_t tag) const
{
    if (!isDirectory(directory))
        return std::nullopt;
    const uint32_t count = read16(directory);
    for (uint32_t i = 0; i < count; ++i) {
        const size_t entry = directory + 2 + 12 * size_t(i);
        if (read16(entry) == tag)
            return entry;
    }
    return std::nullopt;
}

std::vector<uint32_t> TiffDirectoryReader::numbers(uint32_t directory, uint16_t tag, size_t limit) const
{
    const auto entry = entryOf(directory, tag);
    if (!entry)
        return {};
    const uint16_t type = read16(*entry + 2);
    const size_t size = typeSize(type);
    const uint32_t count = read32(*entry + 4);
    if (size == 0 || count == 0 || count > limit)
        return {};
    // Values of up to four bytes stand in the entry itself, others where it points.
    const size_t bytes = size * count;
    size_t at = *entry + 8;
    if (bytes > 4) {
        at = read32(*entry + 8);
        if (at > m_size || bytes > m_size - at)
            return {};
    }
    std::vector<uint32_t> values;
    values.reserve(count);
    for (uint32_t i = 0; i < count; ++i) {
        const size_t from = at + size * i;
        values.push_back(size == 1 ? m_data[from] : size == 2 ? read16(from) : read32(from));
    }
    return values;
}

std::optional<uint32_t> TiffDirectoryReader::number(uint32_t directory, uint16_t tag) const
{
    const std::vector<uint32_t> values = numbers(directory, tag, 1);
    if (values.size() != 1)
        return std::nullopt;
    return values.front();
}

bool TiffDirectoryReader::has(uint32_t directory, uint16_t tag) const
{
    return entryOf(directory, tag).has_value();
}
