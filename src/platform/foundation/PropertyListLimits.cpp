#include "platform/foundation/PropertyListLimits.h"

#include "platform/foundation/PropertyListSerialization.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

namespace {
constexpr qsizetype binaryHeaderSize = 8;
constexpr qsizetype binaryTrailerSize = 32;

struct BinaryReader {
    const unsigned char* bytes;
    uint64_t size;

    // Big-endian unsigned integer of `width` bytes at `position`, or nothing beyond the end.
    std::optional<uint64_t> read(uint64_t position, unsigned width) const
    {
        if (width == 0 || width > 8 || position > size || size - position < width)
            return std::nullopt;
        uint64_t value = 0;
        for (unsigned i = 0; i < width; ++i)
            value = (value << 8) | bytes[position + i];
        return value;
    }
};

struct Trailer {
    unsigned offsetSize = 0;
    unsigned refSize = 0;
    uint64_t objectCount = 0;
    uint64_t topObject = 0;
    uint64_t offsetTable = 0;
};

// Where one container's references begin, how many there are.
struct References {
    uint64_t start = 0;
    uint64_t count = 0;
};

struct Frame {
    uint64_t object;
    References references;
    uint64_t next = 0;
    uint32_t deepestChild = 0;
    uint64_t nodeCount = 1;
};

class BinaryCheck {
public:
    BinaryCheck(const char* bytes, qsizetype size)
        : m_reader{reinterpret_cast<const unsigned char*>(bytes), static_cast<uint64_t>(size)}
    {}

    std::string run();
    bool holdsTextWithNul();

private:
    std::string readTrailer();
    std::optional<uint64_t> objectOffset(uint64_t object) const;
    // Where the contents of the object at `offset` begin and its count, from its marker's low
    // nibble or the integer after it.
    std::optional<References> sizedAt(uint64_t offset) const;
    // Nothing for scalars; an error text in m_problem for a broken container.
    std::optional<References> referencesOf(uint64_t object);
    bool enter(std::vector<Frame>& stack, uint64_t object);
    bool finish(std::vector<Frame>& stack);

    BinaryReader m_reader;
    Trailer m_trailer;
    std::string m_problem;
    // 0 unseen, 1 on the current path, 2 done.
    std::vector<uint8_t> m_state;
    std::vector<uint32_t> m_depth;
    std::vector<uint64_t> m_nodes;
};

std::string BinaryCheck::readTrailer()
{
    const uint64_t size = m_reader.size;
    if (size < binaryHeaderSize + binaryTrailerSize)
        return "The binary property list is truncated.";
    const uint64_t trailer = size - binaryTrailerSize;
    m_trailer.offsetSize = m_reader.bytes[trailer + 6];
    m_trailer.refSize = m_reader.bytes[trailer + 7];
    m_trailer.objectCount = *m_reader.read(trailer + 8, 8);
    m_trailer.topObject = *m_reader.read(trailer + 16, 8);
    m_trailer.offsetTable = *m_reader.read(trailer + 24, 8);
    const bool sizesValid = m_trailer.offsetSize >= 1 && m_trailer.offsetSize <= 8 &&
                            m_trailer.refSize >= 1 && m_trailer.refSize <= 8;
    if (!sizesValid || m_trailer.objectCount == 0 || m_trailer.topObject >= m_trailer.objectCount)
        return "The binary property list has a damaged trailer.";
    if (m_trailer.offsetTable < binaryHeaderSize || m_trailer.offsetTable > trailer ||
        m_trailer.objectCount > (trailer - m_trailer.offsetTable) / m_trailer.offsetSize)
        return "The binary property list is truncated.";
    return {};
}

std::optional<uint64_t> BinaryCheck::objectOffset(uint64_t object) const
{
    const auto offset =
        m_reader.read(m_trailer.offsetTable + object * m_trailer.offsetSize, m_trailer.offsetSize);
    if (!offset || *offset < binaryHeaderSize || *offset >= m_reader.size - binaryTrailerSize)
        return std::nullopt;
    return offset;
}

std::optional<References> BinaryCheck::sizedAt(uint64_t offset) const
{
    const unsigned marker = m_reader.bytes[offset];
    if ((marker & 0xF) != 0xF)
        return References{offset + 1, marker & 0xF};
    const auto lengthMarker = m_reader.read(offset + 1, 1);
    const unsigned width = lengthMarker ? 1u << (*lengthMarker & 0xF) : 0;
    const auto count = (lengthMarker && (*lengthMarker >> 4) == 1 && width <= 8)
                           ? m_reader.read(offset + 2, width)
                           : std::nullopt;
    if (!count)
        return std::nullopt;
    return References{offset + 2 + width, *count};
}

std::optional<References> BinaryCheck::referencesOf(uint64_t object)
{
    const auto offset = objectOffset(object);
    if (!offset) {
        m_problem = "The binary property list refers outside its data.";
        return std::nullopt;
    }
    const unsigned kind = m_reader.bytes[*offset] >> 4;
    if (kind != 0xA && kind != 0xC && kind != 0xD)
        return References{};
    auto references = sizedAt(*offset);
    if (!references) {
        m_problem = "The binary property list has a damaged container.";
        return std::nullopt;
    }
    if (kind == 0xD)
        references->count = references->count > m_reader.size ? references->count : references->count * 2;
    const uint64_t end = m_reader.size - binaryTrailerSize;
    if (references->count > end || references->start > end ||
        references->count * m_trailer.refSize > end - references->start) {
        m_problem = "The binary property list is truncated.";
        return std::nullopt;
    }
    return references;
}

bool BinaryCheck::enter(std::vector<Frame>& stack, uint64_t object)
{
    if (stack.size() >= static_cast<size_t>(PropertyListSerialization::maximumDepth)) {
        m_problem = "The property list is nested too deeply.";
        return false;
    }
    const auto references = referencesOf(object);
    if (!references)
        return false;
    m_state[object] = 1;
    stack.push_back(Frame{object, *references});
    return true;
}

// Records the finished top frame and hands its totals to its parent.
bool BinaryCheck::finish(std::vector<Frame>& stack)
{
    const Frame done = stack.back();
    stack.pop_back();
    m_state[done.object] = 2;
    m_depth[done.object] = done.deepestChild + 1;
    m_nodes[done.object] = done.nodeCount;
    if (stack.empty())
        return true;
    Frame& parent = stack.back();
    parent.deepestChild = std::max(parent.deepestChild, m_depth[done.object]);
    parent.nodeCount += done.nodeCount;
    if (parent.deepestChild + stack.size() > static_cast<size_t>(PropertyListSerialization::maximumDepth)) {
        m_problem = "The property list is nested too deeply.";
        return false;
    }
    if (parent.nodeCount > PropertyListSerialization::maximumNodeCount) {
        m_problem = "The property list is too large.";
        return false;
    }
    return true;
}

std::string BinaryCheck::run()
{
    if (auto problem = readTrailer(); !problem.empty())
        return problem;
    m_state.assign(m_trailer.objectCount, 0);
    m_depth.assign(m_trailer.objectCount, 0);
    m_nodes.assign(m_trailer.objectCount, 0);
    std::vector<Frame> stack;
    if (!enter(stack, m_trailer.topObject))
        return m_problem;
    while (!stack.empty()) {
        Frame& frame = stack.back();
        if (frame.next == frame.references.count) {
            if (!finish(stack))
                return m_problem;
            continue;
        }
        const auto child =
            m_reader.read(frame.references.start + frame.next * m_trailer.refSize, m_trailer.refSize);
        ++frame.next;
        if (!child || *child >= m_trailer.objectCount)
            return "The binary property list refers to a missing object.";
        if (m_state[*child] == 1)
            return "The binary property list contains itself.";
        if (m_state[*child] == 0 && !enter(stack, *child))
            return m_problem;
        if (m_state[*child] == 2) {
            // Shared object already measured: count it again as the parser will copy it.
            m_state[*child] = 1;
            stack.push_back(Frame{*child, References{}, 0, m_depth[*child] - 1, m_nodes[*child]});
        }
    }
    return {};
}

bool BinaryCheck::holdsTextWithNul()
{
    if (!readTrailer().empty())
        return false;
    const uint64_t end = m_reader.size - binaryTrailerSize;
    for (uint64_t object = 0; object < m_trailer.objectCount; ++object) {
        const auto offset = objectOffset(object);
        const unsigned kind = offset ? m_reader.bytes[*offset] >> 4 : 0;
        const auto text = kind == 0x5 || kind == 0x6 ? sizedAt(*offset) : std::nullopt;
        // 0x5 ASCII, one byte a character; 0x6 UTF-16, two.
        const uint64_t width = kind == 0x6 ? 2 : 1;
        if (!text || text->start > end || text->count > (end - text->start) / width)
            continue;
        for (uint64_t at = text->start; at < text->start + text->count * width; at += width)
            if (m_reader.bytes[at] == 0 && (width == 1 || m_reader.bytes[at + 1] == 0))
                return true;
    }
    return false;
}

} // namespace

bool PropertyListLimits::holdsTextWithNul(const char* bytes, qsizetype size)
{
    return BinaryCheck(bytes, size).holdsTextWithNul();
}

std::string PropertyListLimits::checkBinary(const char* bytes, qsizetype size)
{
    return BinaryCheck(bytes, size).run();
}
