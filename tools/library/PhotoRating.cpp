#include "tools/library/PhotoRating.h"

#include "platform/foundation/AtomicFile.h"
#include "platform/foundation/PropertyListSerialization.h"
#include "platform/foundation/XmlPlistBuilder.h"
#include "tools/library/AlbumDataRatingEditor.h"
#include "tools/library/ContentDigest.h"
#include "tools/library/LibraryLock.h"
#include "tools/library/RegularFileReader.h"
#include "tools/library/ValidationStamp.h"

#include <QFileInfo>
#include <future>
#include <stdexcept>
#include <system_error>

namespace {
Error failure(const QString& path, int code, const QString& text)
{
    return Error(Error::cocoaDomain, code, text.toStdString(), {}, QUrl::fromLocalFile(path));
}

Error unsound(const QString& path, const QString& reason)
{
    return failure(path, Error::fileReadCorruptFileError,
                   QStringLiteral("%1 is no valid album data file: %2").arg(path, reason));
}

Error notADictionary(const QString& path)
{
    return failure(path, Error::fileReadCorruptFileError,
                   QStringLiteral("%1 is no album data file: its root is no dictionary").arg(path));
}

// The program's own verdict on the contents (the reader of every property list, with the same
// rules), without building the values it would hold: empty when the program reads the file.
// `buffer` is parsed in place.
std::optional<Error> problemOf(const QString& path, std::string buffer)
{
    try {
        if (buffer.starts_with("bplist00")) {
            Error parseError;
            const PlistPtr tree = PropertyListSerialization::fromData(
                QByteArray::fromRawData(buffer.data(), qsizetype(buffer.size())), &parseError);
            if (!tree) {
                QString reason = QString::fromStdString(parseError.localizedDescription());
                if (!parseError.failureReason().empty())
                    reason += QStringLiteral(" ") + QString::fromStdString(parseError.failureReason());
                return unsound(path, reason);
            }
            return tree->isDictionary() ? std::nullopt : std::optional(notADictionary(path));
        }
        pugi::xml_document document;
        std::string problem;
        const pugi::xml_node root =
            XmlPlistBuilder::parseInPlace(document, buffer.data(), buffer.size(), &problem);
        if (root)
            problem = XmlPlistBuilder::check(root);
        if (!problem.empty())
            return unsound(path, QString::fromStdString(problem));
        if (XmlPlistBuilder::kindOf(root) != XmlPlistBuilder::Kind::Dict)
            return notADictionary(path);
        return std::nullopt;
    } catch (const std::exception& exception) {
        // Out of memory, most likely: no verdict is no permission to write.
        return unsound(
            path, QStringLiteral("it could not be checked (%1)").arg(QString::fromUtf8(exception.what())));
    }
}
} // namespace

bool PhotoRating::apply(const QString& albumDataPath, const std::string& key, int stars, Error* error,
                        std::optional<int> ratingElsewhere)
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

    // Contents a rating or an import of ours left need no second verdict, and the rating editor's
    // note of where the photos are holds for them.
    std::optional<ContentDigest> digest;
    std::optional<AlbumDataRatingEditor::Layout> layout;
    const auto stamp = ValidationStamp::recorded(path);
    if (stamp && stamp->size == bytes->size()) {
        digest.emplace(*bytes);
        if (stamp->describes(*digest))
            layout = AlbumDataRatingEditor::Layout::fromNote(stamp->note);
        else
            digest.reset();
    }
    // Any other contents get the program's verdict, on a thread of its own while the new file is
    // made and written; it replaces the old one only when the old contents are sound.
    std::future<std::optional<Error>> verdict;
    if (!digest) {
        const auto copy = [&] { return std::string(bytes->constData(), size_t(bytes->size())); };
        try {
            verdict = std::async(std::launch::async, problemOf, path, copy());
        } catch (const std::system_error&) {
            // No thread to be had: the verdict comes when it is asked for.
            verdict = std::async(std::launch::deferred, problemOf, path, copy());
        }
    }
    const auto refused = [&](Error* to) {
        if (!verdict.valid())
            return false;
        const auto problem = verdict.get();
        if (problem)
            qmSetError(to, *problem);
        return problem.has_value();
    };

    const qsizetype oldSize = bytes->size();
    const auto edited =
        AlbumDataRatingEditor::withRating(std::move(*bytes), key, stars, layout, ratingElsewhere);
    switch (edited.outcome) {
    case AlbumDataRatingEditor::Outcome::NoSuchPhoto:
        if (!refused(error))
            qmSetError(error,
                       failure(path, Error::fileReadCorruptFileError,
                               QStringLiteral("no photo %1 in %2").arg(QString::fromStdString(key), path)));
        return false;
    case AlbumDataRatingEditor::Outcome::Unsupported:
        if (!refused(error))
            qmSetError(error, failure(path, Error::fileReadCorruptFileError,
                                      QStringLiteral("cannot change the rating in %1 in place: %2")
                                          .arg(path, QString::fromStdString(edited.problem))));
        return false;
    case AlbumDataRatingEditor::Outcome::Changed:
        break;
    }
    if (!AtomicFile::write(path, edited.bytes, error, [&](Error* to) { return !refused(to); }))
        return false;
    // Only a shortcut for the next rating: without it, that rating parses the file in full.
    if (digest && digest->size() == oldSize)
        digest->update(edited.bytes, edited.changedFrom, edited.changedTo);
    else
        digest.emplace(edited.bytes);
    ValidationStamp::record(path, *digest, edited.layout ? edited.layout->toNote() : QByteArray());
    return true;
}
