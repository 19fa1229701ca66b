#include "tools/library/RegularFileReader.h"

#include <QFileInfo>
#include <cerrno>
#include <cstring>

namespace {
QString systemError(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

// The sentence for what stopped the read, with %1 for the file.
QString wordingOf(const RegularFile::Cause& cause, const QString& path, qint64 limit)
{
    using Failure = RegularFile::Failure;
    switch (cause.failure) {
    case Failure::Open:
        switch (cause.code) {
        case ENOENT:
            return QStringLiteral("%1 does not exist");
        case EACCES:
            return QStringLiteral("no permission to read %1");
        case ELOOP:
            return QStringLiteral("%1 is a loop of symbolic links");
        default:
            return QStringLiteral("cannot open %1: ") + systemError(cause.code);
        }
    case Failure::Read:
        return QStringLiteral("cannot read %1: ") + systemError(cause.code);
    case Failure::Folder:
        return QStringLiteral("%1 is a folder, not a file");
    case Failure::Fifo:
        return QStringLiteral("%1 is a named pipe, not a regular file");
    case Failure::Device:
        return QStringLiteral("%1 is a device, not a regular file");
    case Failure::Socket:
        return QStringLiteral("%1 is a socket, not a regular file");
    case Failure::Other:
        return QStringLiteral("%1 is not a regular file");
    case Failure::TooLarge:
        return QStringLiteral("%1 is too large (") + QString::number(QFileInfo(path).size()) +
               QStringLiteral(" bytes; at most ") + QString::number(limit) + QStringLiteral(" are read)");
    case Failure::Changed:
        return QStringLiteral("%1 changed while it was read");
    }
    return QStringLiteral("cannot read %1");
}
} // namespace

std::optional<QByteArray> RegularFileReader::read(const QString& path, Error* error, qint64 limit)
{
    Error failure;
    auto bytes = RegularFile::read(path, &failure, {}, limit);
    if (bytes)
        return bytes;
    const auto cause = RegularFile::causeOf(failure);
    const QString wording =
        cause ? wordingOf(*cause, path, limit)
              : QStringLiteral("cannot read %1: ") + QString::fromStdString(failure.localizedDescription());
    qmSetError(error, Error(Error::cocoaDomain, failure.code(), wording.arg(path).toStdString(), {},
                            QUrl::fromLocalFile(path)));
    return std::nullopt;
}
