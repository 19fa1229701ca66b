#include "tools/library/AlbumDataFault.h"

#include <QUrl>

Error AlbumDataFault::failure(const QString& path, int code, const QString& text)
{
    return Error(Error::cocoaDomain, code, text.toStdString(), {}, QUrl::fromLocalFile(path));
}

Error AlbumDataFault::unsound(const QString& path, const QString& reason)
{
    return failure(path, Error::fileReadCorruptFileError,
                   QStringLiteral("%1 is no valid album data file: %2").arg(path, reason));
}

Error AlbumDataFault::notADictionary(const QString& path)
{
    return failure(path, Error::fileReadCorruptFileError,
                   QStringLiteral("%1 is no album data file: its root is no dictionary").arg(path));
}

Error AlbumDataFault::noSuchPhoto(const QString& path, const std::string& key)
{
    return failure(path, Error::fileReadCorruptFileError,
                   QStringLiteral("no photo %1 in %2").arg(QString::fromStdString(key), path));
}
