#include "tools/library/ValidationStamp.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <sys/xattr.h>

namespace {
const char* const attributeName = "user.zuzire.accepted";

// The lock file LibraryLock uses, which every library folder the tool has written holds.
QByteArray lockFile(const QString& albumDataPath)
{
    return QFile::encodeName(QFileInfo(albumDataPath).absoluteDir().filePath(QStringLiteral(".lock")));
}

// The file's name is part of the stamp: a folder may hold more than one album data file.
QByteArray nameLine(const QString& albumDataPath)
{
    return QFile::encodeName(QFileInfo(albumDataPath).fileName()) + '\n';
}
} // namespace

bool ValidationStamp::Recorded::describes(const ContentDigest& contents) const
{
    return size == contents.size() && digest == contents.value();
}

std::optional<ValidationStamp::Recorded> ValidationStamp::recorded(const QString& albumDataPath)
{
    char value[1024];
    const ssize_t size = ::getxattr(lockFile(albumDataPath).constData(), attributeName, value, sizeof value);
    if (size <= 0)
        return std::nullopt;
    const QByteArrayView text(value, size);
    const QByteArray name = nameLine(albumDataPath);
    if (!text.startsWith(name))
        return std::nullopt;
    const QByteArrayView rest = text.sliced(name.size());
    const qsizetype lineEnd = rest.indexOf('\n');
    if (lineEnd < 0)
        return std::nullopt;
    const QList<QByteArray> fields = rest.first(lineEnd).toByteArray().split(' ');
    bool sizeOk = false;
    bool digestOk = false;
    Recorded recorded;
    if (fields.size() == 2) {
        recorded.size = fields[0].toLongLong(&sizeOk);
        recorded.digest = fields[1].toULongLong(&digestOk, 16);
    }
    if (!sizeOk || !digestOk)
        return std::nullopt;
    recorded.note = rest.sliced(lineEnd + 1).toByteArray();
    return recorded;
}

bool ValidationStamp::record(const QString& albumDataPath, const ContentDigest& digest, QByteArrayView note)
{
    const QByteArray value = nameLine(albumDataPath) + QByteArray::number(digest.size()) + ' ' +
                             QByteArray::number(qulonglong(digest.value()), 16) + '\n' + note.toByteArray();
    return ::setxattr(lockFile(albumDataPath).constData(), attributeName, value.constData(),
                      size_t(value.size()), 0) == 0;
}

void ValidationStamp::forget(const QString& albumDataPath)
{
    ::removexattr(lockFile(albumDataPath).constData(), attributeName);
}

bool ValidationStamp::matches(const QString& albumDataPath, QByteArrayView bytes)
{
    const auto stamp = recorded(albumDataPath);
    return stamp && stamp->size == bytes.size() && stamp->describes(ContentDigest(bytes));
}

bool ValidationStamp::record(const QString& albumDataPath, QByteArrayView bytes)
{
    return record(albumDataPath, ContentDigest(bytes));
}
