#include "tools/library/PhotoRating.h"

#include "platform/foundation/AtomicFile.h"
#include "platform/foundation/PropertyListSerialization.h"
#include "tools/library/AlbumDataRatingEditor.h"
#include "tools/library/LibraryLock.h"
#include "tools/library/RegularFileReader.h"
#include "tools/library/ValidationStamp.h"

#include <QFileInfo>

namespace {
Error failure(const QString& path, int code, const QString& text)
{
    return Error(Error::cocoaDomain, code, text.toStdString(), {}, QUrl::fromLocalFile(path));
}

// The program's own verdict on the contents.
bool isSound(const QString& path, const QByteArray& bytes, Error* error)
{
    Error parseError;
    const PlistPtr tree = PropertyListSerialization::fromData(bytes, &parseError);
    if (!tree) {
        QString reason = QString::fromStdString(parseError.localizedDescription());
        if (!parseError.failureReason().empty())
            reason += QStringLiteral(" ") + QString::fromStdString(parseError.failureReason());
        qmSetError(error, failure(path, Error::fileReadCorruptFileError,
                                  QStringLiteral("%1 is no valid album data file: %2").arg(path, reason)));
        return false;
    }
    if (!tree->isDictionary()) {
        qmSetError(error,
                   failure(path, Error::fileReadCorruptFileError,
                           QStringLiteral("%1 is no album data file: its root is no dictionary").arg(path)));
        return false;
    }
    return true;
}
} // namespace

bool PhotoRating::apply(const QString& albumDataPath, const std::string& key, int stars, Error* error)
{
    const QString path = QFileInfo(albumDataPath).absoluteFilePath();
    const QString folder = QFileInfo(path).absolutePath();
    Error lockError;
    const auto lock = LibraryLock::acquire(folder, &lockError);
    if (!lock) {
        qmSetError(error,
                   failure(path, lockError.code(),
                           QStringLiteral("cannot lock the library %1: %2")
                               .arg(folder, QString::fromStdString(lockError.localizedDescription()))));
        return false;
    }
    auto bytes = RegularFileReader::read(path, error);
    if (!bytes)
        return false;
    if (!ValidationStamp::matches(path, *bytes) && !isSound(path, *bytes, error))
        return false;

    const auto edited = AlbumDataRatingEditor::withRating(std::move(*bytes), key, stars);
    switch (edited.outcome) {
    case AlbumDataRatingEditor::Outcome::NoSuchPhoto:
        qmSetError(error,
                   failure(path, Error::fileReadCorruptFileError,
                           QStringLiteral("no photo %1 in %2").arg(QString::fromStdString(key), path)));
        return false;
    case AlbumDataRatingEditor::Outcome::Unsupported:
        qmSetError(error, failure(path, Error::fileReadCorruptFileError,
                                  QStringLiteral("cannot change the rating in %1 in place: %2")
                                      .arg(path, QString::fromStdString(edited.problem))));
        return false;
    case AlbumDataRatingEditor::Outcome::Changed:
        break;
    }
    if (!AtomicFile::write(path, edited.bytes, error))
        return false;
    // Only a shortcut for the next rating: without it, that rating parses the file in full.
    ValidationStamp::record(path, edited.bytes);
    return true;
}
