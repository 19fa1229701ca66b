#include "tools/library/PhotoRating.h"

#include "platform/foundation/AtomicFile.h"
#include "platform/foundation/XmlPlistBuilder.h"
#include "tools/library/AlbumDataFault.h"
#include "tools/library/AlbumDataPhotoPath.h"
#include "tools/library/AlbumDataPhotoSearch.h"
#include "tools/library/AlbumDataRatingEditor.h"
#include "tools/library/BinaryAlbumDataRating.h"
#include "tools/library/ContentDigest.h"
#include "tools/library/LibraryLock.h"
#include "tools/library/RegularFileReader.h"
#include "tools/library/ValidationStamp.h"

#include <QFileInfo>
#include <algorithm>
#include <cstring>
#include <future>
#include <memory>
#include <stdexcept>
#include <system_error>

namespace {
using AlbumDataFault::failure;
using AlbumDataFault::notADictionary;
using AlbumDataFault::unsound;

// The program's own verdict on XML contents (the reader of every XML property list, with the same
// rules), without building the values it would hold: empty when the program reads the file.
// `buffer` is parsed in place.
std::optional<Error> problemOf(const QString& path, std::string buffer)
{
    try {
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

// Runs `work` on a thread of its own; where no thread is to be had, when its result is asked for.
// `work` is copied, so it is whole for the second try: it should hold nothing large.
template <typename Work> auto inParallel(const Work& work)
{
    try {
        return std::async(std::launch::async, work);
    } catch (const std::system_error&) {
        return std::async(std::launch::deferred, work);
    }
}

// Where the photo's key stands written "<key>ID</key>", as libraries write it: only a guess, the
// same text may stand inside a comment or another entry.
std::optional<qsizetype> plainKeyOffset(const QByteArray& bytes, const std::string& key)
{
    const std::string plain = "<key>" + key + "</key>";
    const void* hit = memmem(bytes.constData(), size_t(bytes.size()), plain.data(), plain.size());
    if (!hit)
        return std::nullopt;
    return static_cast<const char*>(hit) - bytes.constData();
}
// Whether the next element from `from` on is the one at `at`: the pass notes where it began to
// look for a key, before the line break and indent that precede it.
bool startsAt(QByteArrayView bytes, qsizetype from, qsizetype at)
{
    if (from > at || at > bytes.size())
        return false;
    const QByteArrayView between = bytes.sliced(from, at - from);
    return std::all_of(between.begin(), between.end(),
                       [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; });
}
} // namespace

bool PhotoRating::apply(const QString& albumDataPath, const std::string& key, int stars, Error* error,
                        const BeforeWriting& beforeWriting)
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
    if (BinaryAlbumDataRating::isBinary(*bytes))
        return BinaryAlbumDataRating::apply(path, *bytes, key, stars, error, beforeWriting);

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
    // Any other contents get the program's verdict. One pass gives it, finds the photo and learns
    // the layout for the next rating (AlbumDataPhotoSearch), on a thread of its own: meanwhile the
    // photo's key where it stands written the usual way is taken for a guess, and the file rated
    // there is written, to replace the old one only if the pass vouches for the old contents and
    // finds the photo there alone. Otherwise the rating is made again where the pass found it, or,
    // for contents it cannot vouch for, by a walk of the whole file while the one reader gives the
    // verdict on another thread; the new file then replaces the old one only when that is sound.
    const qsizetype oldSize = bytes->size();
    std::optional<AlbumDataPhotoSearch::Found> found;
    std::future<std::optional<Error>> verdict;
    std::optional<AlbumDataRatingEditor::Result> edited;
    // The photo's file, for what must be written before the library: from its entry where the
    // photo list is known to hold it once, else by a scan as the program's reader sees it. What
    // the rating is written to there is recorded as the one seen elsewhere, in the same write;
    // where it could not be written, that record is left as it was, so the next import does not
    // take the older rating still standing there for a change made elsewhere.
    bool told = !beforeWriting;
    std::optional<int> elsewhere = beforeWriting ? std::optional(stars) : std::nullopt;
    const auto tellPhoto = [&](const AlbumDataRatingEditor::Result* located, bool oneList,
                               QByteArrayView scanned) {
        if (told)
            return;
        told = true;
        std::optional<QString> photo;
        if (located && located->outcome != AlbumDataRatingEditor::Outcome::Changed)
            photo.reset(); // a photo the file does not hold, or contents that cannot be edited
        else if (oneList && located && located->entries == 1)
            photo = QString::fromStdString(located->imagePath.value_or(std::string()));
        else
            photo = AlbumDataPhotoPath::find(scanned, key);
        if (!photo || !beforeWriting(*photo))
            elsewhere.reset();
    };
    // Whether the photo's file is there to have the rating written beside it: only a guess, made
    // before the library's new file is written, so that it is written once, recording the rating
    // as seen elsewhere or not, while the photo is told. A photo whose file is gone (a rating of
    // a photo on a disk that is not connected) then costs one write, not two; where the guess is
    // wrong, the file is written again to match the answer.
    const auto photoLikelyThere = [](const AlbumDataRatingEditor::Result& located) {
        return located.imagePath && !located.imagePath->empty() &&
               QFileInfo::exists(QString::fromStdString(*located.imagePath));
    };
    // The change `edit(recorded)` describes, recording the rating as seen elsewhere only where the
    // photo's file is likely there; `recordsElsewhere` says whether it does.
    const auto splicedForPhoto = [&](const auto& edit, bool& recordsElsewhere) {
        AlbumDataRatingEditor::Result result = edit(elsewhere);
        recordsElsewhere = elsewhere.has_value();
        if (recordsElsewhere && result.outcome == AlbumDataRatingEditor::Outcome::Changed &&
            result.entries == 1 && !photoLikelyThere(result)) {
            result = edit(std::nullopt);
            recordsElsewhere = false;
        }
        return result;
    };
    // A new file written from the old bytes and a splice stands: the old bytes become the new ones,
    // once nothing reads them any more.
    const auto adoptSplice = [&](AlbumDataRatingEditor::Result& result,
                                 const AlbumDataRatingEditor::Splice& splice) {
        if (splice.with.size() == splice.to - splice.from)
            std::memcpy(bytes->data() + splice.from, splice.with.constData(), size_t(splice.with.size()));
        else
            bytes->replace(splice.from, splice.to - splice.from, splice.with);
        result.bytes = std::move(*bytes);
        edited = std::move(result);
    };
    if (!digest) {
        auto searching = inParallel(
            [view = QByteArrayView(*bytes), &key] { return AlbumDataPhotoSearch::search(view, key); });
        const auto guess = plainKeyOffset(*bytes, key);
        // The change only described: the pass reads the old bytes meanwhile, and the new file is
        // written from them and the changed piece, without a copy of the whole.
        AlbumDataRatingEditor::Splice splice;
        bool splicedElsewhere = false;
        auto guessed = guess ? splicedForPhoto(
                                   [&](std::optional<int> recorded) {
                                       return AlbumDataRatingEditor::splicedAt(*bytes, key, stars, {*guess},
                                                                               splice, recorded);
                                   },
                                   splicedElsewhere)
                             : AlbumDataRatingEditor::Result();
        const QByteArrayView old(*bytes);
        const auto confirms = [&](const std::optional<AlbumDataPhotoSearch::Found>& pass) {
            return guessed.outcome == AlbumDataRatingEditor::Outcome::Changed && pass &&
                   pass->entries.size() == 1 && startsAt(old, pass->entries.front(), *guess);
        };
        // Once the pass confirms the guess, the photo is told at once, on a thread of its own: what
        // must stand before the library is replaced (the sidecar, flushed to disk) is then written
        // while the library's new file is written and flushed, instead of after that.
        auto passed = beforeWriting && guessed.outcome == AlbumDataRatingEditor::Outcome::Changed
                          ? inParallel([&] {
                                auto pass = searching.get();
                                if (confirms(pass))
                                    tellPhoto(&guessed, pass->lists == 1, old);
                                return pass;
                            })
                          : std::move(searching);
        if (guessed.outcome == AlbumDataRatingEditor::Outcome::Changed) {
            // The digest for the stamp, on a thread of its own too: made while this one waits for
            // the new file to reach the disk.
            auto digesting = inParallel([old] { return ContentDigest(old); });
            bool confirmed = false;
            const bool written = AtomicFile::write(
                path, {old.first(splice.from), splice.with, old.sliced(splice.to)}, error, [&](Error*) {
                    digest.emplace(digesting.get());
                    found = passed.get();
                    // The photo was told as the pass confirmed the guess.
                    confirmed = confirms(found);
                    // Written recording the rating as seen elsewhere or not, as the photo's answer
                    // was guessed: made again below where the answer is the other one.
                    if (confirmed)
                        confirmed = elsewhere.has_value() == splicedElsewhere;
                    return confirmed;
                });
            if (confirmed && !written)
                return false;
            if (confirmed) {
                guessed.layout = found->layout;
                if (guessed.layout)
                    guessed.layout->photosEnd += splice.with.size() - (splice.to - splice.from);
                adoptSplice(guessed, splice);
            } else {
                digest.reset();
            }
        }
        if (passed.valid())
            found = passed.get();
        if (!found && !edited) {
            verdict = inParallel(
                [&path, copy = std::make_shared<std::string>(bytes->constData(), size_t(bytes->size()))] {
                    return problemOf(path, std::move(*copy));
                });
            // Whatever the verdict: a rating that reaches the photo's sidecar is not lost with a
            // library that cannot take it, the next import finds it there.
            tellPhoto(nullptr, false, *bytes);
        }
    } else if (layout && beforeWriting) {
        // Contents the stamp vouches for, the photo found through their layout: what must stand
        // before the library is replaced (the sidecar, flushed to disk) is written on a thread of
        // its own while the library's new file is written and flushed, from the old bytes and the
        // changed piece. Where the answer is not the one guessed (photoLikelyThere), the library is
        // written again below to match it.
        AlbumDataRatingEditor::Splice splice;
        bool splicedElsewhere = false;
        auto spliced = splicedForPhoto(
            [&](std::optional<int> recorded) {
                return AlbumDataRatingEditor::splicedIn(*bytes, key, stars, *layout, splice, recorded);
            },
            splicedElsewhere);
        if (spliced.outcome == AlbumDataRatingEditor::Outcome::Changed && spliced.entries == 1) {
            const QByteArrayView old(*bytes);
            auto telling = inParallel([&] { tellPhoto(&spliced, true, old); });
            bool reached = false;
            const bool written = AtomicFile::write(
                path, {old.first(splice.from), splice.with, old.sliced(splice.to)}, error, [&](Error*) {
                    telling.get();
                    reached = elsewhere.has_value() == splicedElsewhere;
                    return reached;
                });
            if (telling.valid())
                telling.get();
            if (reached && !written)
                return false;
            if (reached)
                adoptSplice(spliced, splice);
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

    const bool written = edited.has_value();
    if (!edited) {
        // Told before the edit, which then records what the rating reached.
        const bool oneList = found ? found->lists == 1 : layout.has_value();
        if (!told && oneList) {
            const auto located = AlbumDataRatingEditor::located(
                *bytes, key, found ? &found->entries : nullptr, found ? found->layout : layout);
            tellPhoto(&located, true, *bytes);
        } else {
            tellPhoto(nullptr, false, *bytes);
        }
        edited = found ? AlbumDataRatingEditor::withRatingAt(std::move(*bytes), key, stars, found->entries,
                                                             found->layout, elsewhere)
                       : AlbumDataRatingEditor::withRating(std::move(*bytes), key, stars, layout, elsewhere);
    }
    switch (edited->outcome) {
    case AlbumDataRatingEditor::Outcome::NoSuchPhoto:
        if (!refused(error))
            qmSetError(error, AlbumDataFault::noSuchPhoto(path, key));
        return false;
    case AlbumDataRatingEditor::Outcome::Unsupported:
        if (!refused(error))
            qmSetError(error, failure(path, Error::fileReadCorruptFileError,
                                      QStringLiteral("cannot change the rating in %1 in place: %2")
                                          .arg(path, QString::fromStdString(edited->problem))));
        return false;
    case AlbumDataRatingEditor::Outcome::Changed:
        break;
    }
    if (!written) {
        if (!AtomicFile::write(path, edited->bytes, error, [&](Error* to) { return !refused(to); }))
            return false;
    }
    // Only a shortcut for the next rating: without it, that rating parses the file in full.
    if (digest && digest->size() == oldSize)
        digest->update(edited->bytes, edited->changedFrom, edited->changedTo);
    else
        digest.emplace(edited->bytes);
    ValidationStamp::record(path, *digest, edited->layout ? edited->layout->toNote() : QByteArray());
    return true;
}
