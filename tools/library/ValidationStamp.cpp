#include "tools/library/ValidationStamp.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cstring>
#include <sys/xattr.h>

namespace {
constexpr uint64_t prime1 = 0x9E3779B185EBCA87ull;
constexpr uint64_t prime2 = 0xC2B2AE3D27D4EB4Full;
constexpr uint64_t prime3 = 0x165667B19E3779F9ull;
const char* const attributeName = "user.zuzire.accepted";

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

namespace {
// The lock file LibraryLock uses, which every library folder the tool has written holds.
QByteArray lockFile(const QString& albumDataPath)
{
    return QFile::encodeName(QFileInfo(albumDataPath).absoluteDir().filePath(QStringLiteral(".lock")));
}

// The file's name is part of the stamp: a folder may hold more than one album data file.
QByteArray stamp(const QString& albumDataPath, QByteArrayView bytes)
{
    return QFile::encodeName(QFileInfo(albumDataPath).fileName()) + '\n' + ValidationStamp::digest(bytes);
}
} // namespace

QByteArray ValidationStamp::digest(QByteArrayView bytes)
{
    return QByteArray::number(bytes.size()) + ' ' + QByteArray::number(qulonglong(hash(bytes)), 16) + '\n';
}

bool ValidationStamp::matches(const QString& albumDataPath, QByteArrayView bytes)
{
    char value[1024];
    const ssize_t size = ::getxattr(lockFile(albumDataPath).constData(), attributeName, value, sizeof value);
    return size > 0 && QByteArrayView(value, size) == stamp(albumDataPath, bytes);
}

bool ValidationStamp::record(const QString& albumDataPath, QByteArrayView bytes)
{
    const QByteArray value = stamp(albumDataPath, bytes);
    return ::setxattr(lockFile(albumDataPath).constData(), attributeName, value.constData(),
                      size_t(value.size()), 0) == 0;
}

void ValidationStamp::forget(const QString& albumDataPath)
{
    ::removexattr(lockFile(albumDataPath).constData(), attributeName);
}
