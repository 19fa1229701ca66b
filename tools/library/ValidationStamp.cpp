#include "tools/library/ValidationStamp.h"

#include "platform/foundation/AtomicFile.h"
#include "tools/library/RegularFileReader.h"

#include <QFileInfo>
#include <cstring>

namespace {
constexpr uint64_t prime1 = 0x9E3779B185EBCA87ull;
constexpr uint64_t prime2 = 0xC2B2AE3D27D4EB4Full;
constexpr uint64_t prime3 = 0x165667B19E3779F9ull;
const QByteArray header = "zuzire-library: contents accepted by the album data reader\n";

uint64_t rotateLeft(uint64_t value, int bits)
{
    return (value << bits) | (value >> (64 - bits));
}

uint64_t word(const char* at)
{
    uint64_t value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

// Four independent lanes, so the multiplications of one step overlap: the digest has to keep pace
// with reading a file of a hundred megabytes.
uint64_t hash(QByteArrayView bytes)
{
    const char* p = bytes.data();
    const size_t size = size_t(bytes.size());
    uint64_t lanes[4] = {prime1 + prime2, prime2, 0, 0 - prime1};
    size_t offset = 0;
    for (; offset + 32 <= size; offset += 32)
        for (int lane = 0; lane < 4; ++lane)
            lanes[lane] = rotateLeft(lanes[lane] + word(p + offset + 8 * size_t(lane)) * prime2, 31) * prime1;
    uint64_t h = rotateLeft(lanes[0], 1) + rotateLeft(lanes[1], 7) + rotateLeft(lanes[2], 12) +
                 rotateLeft(lanes[3], 18) + size;
    for (; offset < size; ++offset)
        h = rotateLeft(h ^ (uint64_t(uchar(p[offset])) * prime3), 11) * prime1;
    h ^= h >> 33;
    h *= prime2;
    h ^= h >> 29;
    h *= prime3;
    h ^= h >> 32;
    return h;
}
} // namespace

QString ValidationStamp::path(const QString& albumDataPath)
{
    const QFileInfo info(albumDataPath);
    return info.absolutePath() + QStringLiteral("/.") + info.fileName() + QStringLiteral(".checked");
}

QByteArray ValidationStamp::digest(QByteArrayView bytes)
{
    return QByteArray::number(bytes.size()) + ' ' + QByteArray::number(qulonglong(hash(bytes)), 16) + '\n';
}

bool ValidationStamp::matches(const QString& albumDataPath, QByteArrayView bytes)
{
    const auto stamp = RegularFileReader::read(path(albumDataPath), nullptr, 4096);
    return stamp && *stamp == header + digest(bytes);
}

bool ValidationStamp::record(const QString& albumDataPath, QByteArrayView bytes, Error* error)
{
    return AtomicFile::write(path(albumDataPath), header + digest(bytes), error);
}
