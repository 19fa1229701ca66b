#include "library/AlbumInfo.h"

#include "library/AlbumDataFile.h"
#include "library/AlbumInfoOperation.h"
#include "library/PhotoDecoder.h"
#include "library/QMAliasAdditions.h"
#include "library/StreamedAlbumData.h"
#include "library/XmlPropertyList.h"
#include "platform/foundation/InternalInconsistency.h"
#include "platform/foundation/MainThread.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Preferences.h"
#include "platform/foundation/PropertyListSerialization.h"
#include "platform/foundation/RunLoop.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QPointer>
#include <QScopeGuard>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace {
constexpr int propertyListReadCorruptError = 259;

Error noLibraryError()
{
    return Error(Error::cocoaDomain, Error::fileReadNoSuchFileError, "Could not find current iPhoto library",
                 "No iPhoto data was found. Please make sure that an iPhoto library has been properly "
                 "configured");
}

Error noUnratedPhotosError()
{
    return Error(Error::applicationDomain, 1, "No unrated photos found",
                 "There are no unrated photos in your current iPhoto library at this time. Please try again "
                 "after importing some new photos.");
}

// A reload that failed in a way nobody foresaw (an exception, memory running out) still ends in
// the announcement, so the screen does not wait for ever.
Error unexpectedFailure(const char* what)
{
    return Error(Error::cocoaDomain, Error::fileReadUnknownError, "The album data could not be read.",
                 std::string("The reload failed: ") + what);
}

Error noDictionaryError(const QUrl& url)
{
    return Error(Error::cocoaDomain, propertyListReadCorruptError,
                 "The album data holds no dictionary at its root.", {}, url);
}

// Why no library was found: the preference file itself may be unreadable or damaged, and then
// that is the cause worth telling rather than "no library".
Error missingLibraryError()
{
    Error preferenceError;
    if (!Preferences::copyDomain(Preferences::libraryDomain, &preferenceError) &&
        preferenceError.code() != Error::fileReadNoSuchFileError)
        return preferenceError;
    return noLibraryError();
}

Error parseError(const std::string& text, const QUrl& url)
{
    return Error(Error::cocoaDomain, propertyListReadCorruptError, text, {}, url);
}

PlistPtr readBinary(AlbumDataFile& file, Error* error)
{
    Error parserError;
    PlistPtr tree =
        PropertyListSerialization::fromData(QByteArray::fromRawData(file.data(), file.size()), &parserError);
    if (!tree)
        qmSetError(error, parseError(parserError.localizedDescription(), file.url()));
    return tree;
}

std::unique_ptr<XmlPropertyList> parseXml(AlbumDataFile& file, Error* error)
{
    std::string text;
    auto xml = XmlPropertyList::parseInPlace(file.data(), size_t(file.size()), &text);
    if (!xml)
        qmSetError(error, parseError(text, file.url()));
    return xml;
}

std::string albumName(const PlistValue& album)
{
    const PlistPtr name = album.objectForKey("AlbumName");
    return name && name->isString() ? *name->asString() : std::string();
}

// Freed memory that the allocator keeps for later use stays resident: after a reload, the XML
// parser's tree and its text, more than the records handed on. Hands it back to the system.
void returnFreedMemory()
{
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}

QString pathForSize(const PlistValue& item, unsigned size)
{
    const PlistPtr path = item.objectForKey(size > AlbumInfo::thumbnailPixelSize ? "ImagePath" : "ThumbPath");
    if (!path || !path->isString() || path->asString()->empty())
        return {};
    return QString::fromStdString(*path->asString());
}
} // namespace

AlbumInfo::AlbumInfo(AlbumInfoClock clock)
    : m_clock(std::move(clock))
{}

AlbumInfo::~AlbumInfo() = default;

std::shared_ptr<AlbumInfo> AlbumInfo::sharedAlbumInfo()
{
    static std::atomic<std::shared_ptr<AlbumInfo>> shared;
    std::shared_ptr<AlbumInfo> current = shared.load();
    if (current)
        return current;
    auto created = std::make_shared<AlbumInfo>();
    // The loser of a race for the first call discards its own instance and takes the winner's.
    if (shared.compare_exchange_strong(current, created))
        return created;
    return current;
}

std::optional<QUrl> AlbumInfo::defaultAlbumInfoURL()
{
    const PlistPtr databases = Preferences::copyValue("iPhotoRecentDatabases", Preferences::libraryDomain);
    if (!databases || !databases->isArray() || databases->asArray()->empty())
        return std::nullopt;
    const PlistPtr first = databases->asArray()->front();
    if (!first || !first->isString())
        return std::nullopt;
    const QUrl url(QString::fromStdString(*first->asString()), QUrl::StrictMode);
    if (!url.isValid() || url.isRelative())
        return std::nullopt;
    return url;
}

PlistPtr AlbumInfo::readAlbumInfo(const QUrl& url, Error* error)
{
    const auto file = AlbumDataFile::open(url, error);
    if (!file)
        return nullptr;
    if (file->isBinary())
        return readBinary(*file, error);
    const auto xml = parseXml(*file, error);
    if (!xml)
        return nullptr;
    std::string text;
    PlistPtr tree = xml->toTree(&text);
    if (!tree)
        qmSetError(error, parseError(text, url));
    return tree;
}

void AlbumInfo::reload()
{
    const double requestTime = m_clock.now();
    m_reloadTime = requestTime;
    std::weak_ptr<AlbumInfo> weakSelf = weak_from_this();
    // The shared instance lives for the whole process; an instance made by hand may go away
    // with its queue, and then its queued reload has nobody to report for.
    m_workQueue.addOperation(AlbumInfoOperation::create([weakSelf, requestTime] {
        if (const auto self = weakSelf.lock())
            self->performReload(requestTime);
    }));
}

std::optional<PlistArray> AlbumInfo::reload(Error* error)
{
    if (m_reloadHookForTesting)
        m_reloadHookForTesting();
    const auto url = defaultAlbumInfoURL();
    if (!url) {
        qmSetError(error, missingLibraryError());
        return std::nullopt;
    }
    const UnratedPhotoFilter filter(m_ratedItems);
    // Usually read in one pass, piece by piece, without holding the file or its XML tree. A file
    // that reader is unsure of (binary, spelt unusually, unsound, unreadable) is read whole below,
    // which decides and says what is wrong.
    if (const auto path = AlbumDataFile::localPath(*url)) {
        if (auto albums = StreamedAlbumData::findUnratedAlbums(*path, filter))
            return albums;
    }
    const auto file = AlbumDataFile::open(*url, error);
    if (!file)
        return std::nullopt;
    if (file->isBinary()) {
        const PlistPtr tree = readBinary(*file, error);
        if (!tree)
            return std::nullopt;
        if (!tree->isDictionary()) {
            qmSetError(error, noDictionaryError(*url));
            return std::nullopt;
        }
        return findUnratedAlbums(tree);
    }
    // Builds values only for the photos handed on: the same result as findUnratedAlbums() over
    // readAlbumInfo().
    const auto xml = parseXml(*file, error);
    if (!xml)
        return std::nullopt;
    std::string text;
    auto albums = xml->findUnratedAlbums(filter, &text);
    if (!albums)
        qmSetError(error, parseError(text, *url));
    return albums;
}

void AlbumInfo::performReload(double requestTime)
{
    NotificationUserInfo userInfo;
    const auto fail = [&userInfo](Error error) {
        userInfo.clear();
        userInfo.emplace(errorKey, std::move(error));
    };
    try {
        Error error;
        const auto albums = reload(&error);
        if (!albums)
            fail(std::move(error));
        else if (albums->empty())
            fail(noUnratedPhotosError());
        else
            userInfo.emplace(unratedAlbumsKey, PlistValue::array(*albums));
    } catch (const std::exception& exception) {
        fail(unexpectedFailure(exception.what()));
    } catch (...) {
        fail(unexpectedFailure("an unknown exception"));
    }

    const double minimum = m_minimumReloadSeconds.load();
    const double elapsed = m_clock.now() - requestTime;
    if (elapsed < minimum)
        m_clock.sleepFor(minimum - elapsed);

    // Posts a copy, so this thread keeps a reference until the observers are done: records nobody
    // took are then released here rather than on the main thread.
    RunLoop::postToMainThreadAndWait([this, &userInfo] {
        NotificationCenter::defaultCenter().post(didReloadNotification, this, userInfo);
    });
    userInfo.clear();
    returnFreedMemory();
}

void AlbumInfo::releaseRecords(PlistArray records)
{
    if (!records.empty())
        releaseRecords(std::make_shared<const PlistArray>(std::move(records)));
}

void AlbumInfo::releaseRecords(std::shared_ptr<const PlistArray> records)
{
    if (!records || records->empty())
        return;
    // The operation may be copied; it holds one reference, dropped on the release queue.
    auto held = std::make_shared<std::shared_ptr<const PlistArray>>(std::move(records));
    m_releaseQueue.addOperation(AlbumInfoOperation::create([held] {
        held->reset();
        returnFreedMemory();
    }));
}

bool AlbumInfo::setMinimumReloadSeconds(double seconds)
{
    // Written as a range test so NaN fails it too.
    if (!(seconds >= 0 && seconds <= longestMinimumReloadSeconds))
        return false;
    m_minimumReloadSeconds.store(seconds);
    return true;
}

void AlbumInfo::setReloadHookForTesting(std::function<void()> hook)
{
    m_reloadHookForTesting = std::move(hook);
}

PlistArray AlbumInfo::findUnratedAlbums(const PlistPtr& tree) const
{
    if (!tree)
        return {};
    const PlistPtr master = tree->objectForKey("Master Image List");
    const PlistPtr albums = tree->objectForKey("List of Albums");
    if (!master || !master->isDictionary() || !albums || !albums->isArray())
        return {};
    const UnratedPhotoFilter filter(m_ratedItems);
    PlistArray result;
    for (const PlistPtr& album : *albums->asArray()) {
        const PlistPtr keyList = album ? album->objectForKey("KeyList") : nullptr;
        if (!keyList || !keyList->isArray())
            continue;
        PlistArray items;
        for (const PlistPtr& key : *keyList->asArray()) {
            if (!key || !key->isString())
                continue;
            const PlistPtr entry = master->objectForKey(*key->asString());
            if (!entry || !entry->isDictionary() || !filter.accepts(*entry))
                continue;
            PlistDictionary record = *entry->asDictionary();
            record.insert_or_assign(itemKey, key);
            items.push_back(PlistValue::dictionary(std::move(record)));
        }
        if (items.empty())
            continue;
        result.push_back(PlistValue::dictionary({{"name", PlistValue::string(albumName(*album))},
                                                 {"items", PlistValue::array(std::move(items))}}));
    }
    return result;
}

std::function<QImage()> AlbumInfo::imageWorkForItem(std::shared_ptr<const AlbumInfo> albumInfo, PlistPtr item,
                                                    unsigned size)
{
    return [albumInfo = std::move(albumInfo), item = std::move(item), size] {
        return albumInfo->imageForItem(item, size);
    };
}

QImage AlbumInfo::imageForItem(const PlistPtr& item, unsigned size) const
{
    if (!item)
        return {};
    const QString path = pathForSize(*item, size);
    if (path.isEmpty())
        return {};
    const auto resolved = qm_pathByResolvingAliasFile(path);
    if (!resolved)
        return {};
    return PhotoDecoder::decode(*resolved, size);
}

double AlbumInfo::aspectRatioForItem(const PlistPtr& item) const
{
    const PlistPtr ratio = item ? item->objectForKey("Aspect Ratio") : nullptr;
    return ratio ? ratio->asReal().value_or(0.0) : 0.0;
}

void AlbumInfo::finish()
{
    if (isMainThread())
        finishOnMainThread();
    else
        m_workQueue.waitUntilAllOperationsAreFinished();
    // Releases never wait for the main thread, so blocking on them is safe anywhere.
    m_releaseQueue.waitUntilAllOperationsAreFinished();
}

void AlbumInfo::finishOnMainThread()
{
    // A queued reload waits for the main thread to deliver its announcement, so blocking the main
    // thread here would never end. Instead a last operation wakes the event loop once everything
    // queued before it has run, and the loop delivers the announcements meanwhile.
    if (m_workQueue.operationCount() == 0)
        return;
    QEventLoop loop;
    QPointer<QEventLoop> guard(&loop);
    m_workQueue.addOperation(AlbumInfoOperation::create([guard] {
        RunLoop::postToMainThread([guard] {
            if (guard)
                guard->quit();
        });
    }));
    loop.exec();
}

void AlbumInfo::finishAtQuit()
{
    m_pendingRatings.beginQuitting();
    finish();
    // A second signal may have stopped the writing meanwhile; that quit says what it lost.
    if (!m_pendingRatings.isGivenUp())
        return;
    const std::size_t notWritten = m_pendingRatings.notWritten();
    qWarning("A rating helper timed out while quitting: %zu queued rating%s not written", notWritten,
             notWritten == 1 ? " was" : "s were");
}

std::size_t AlbumInfo::abandonRatings()
{
    // Long enough for a helper to clean up after itself; the user asked for an end at once.
    constexpr std::chrono::milliseconds grace{1000};
    return m_pendingRatings.stop(grace);
}

bool AlbumInfo::didRateItems() const
{
    return m_didRateItems.load();
}

void AlbumInfo::noteItemRated(const PlistPtr& item)
{
    // A photo without a GUID cannot be left out of later reloads, but its rating was written all
    // the same, and the library should come forward at quit.
    m_didRateItems.store(true);
    const PlistPtr guid = item ? item->objectForKey("GUID") : nullptr;
    if (guid && guid->isString())
        m_ratedItems.insert(*guid->asString());
}

void AlbumInfo::applyRating(unsigned rating, const PlistPtr& item)
{
    QM_ASSERT(rating != 0, "Un-rating not supported.");
    const PlistPtr key = item ? item->objectForKey(itemKey) : nullptr;
    const unsigned long long itemID =
        key && key->isString() ? RatingHelper::itemIdentifier(*key->asString()) : 0;
    QM_ASSERT(itemID != 0, "Item must have non-zero qm_ItemKey");

    // The write tells its bookkeeping whether it succeeded; the serial queue runs the two in turn.
    // `this` outlives both operations: the queue is destroyed first, and it finishes or drops its
    // operations before it goes.
    auto written = std::make_shared<std::atomic<bool>>(false);
    m_pendingRatings.queued();
    m_workQueue.addOperation(
        AlbumInfoOperation::create([this, rating, itemID, written, limit = m_ratingTimeLimit] {
            written->store(writeRating(rating, itemID, limit));
        }));
    m_workQueue.addOperation(AlbumInfoOperation::create([this, item, written] {
        if (written->load())
            noteItemRated(item);
    }));
}

bool AlbumInfo::writeRating(unsigned rating, unsigned long long itemID, std::chrono::milliseconds timeLimit)
{
    if (!m_pendingRatings.beginWrite()) {
        qWarning("Could not rate photo %llu with %u stars: not started, as the program quits without it",
                 itemID, rating);
        return false;
    }
    // A missing script throws, which ends this write as a failure on its own.
    auto outcome = RatingHelper::Outcome::Failed;
    const auto ended = qScopeGuard([&] { m_pendingRatings.endWrite(outcome); });
    outcome = runScriptToApplyRating(rating, itemID, timeLimit, &m_pendingRatings.helperStop());
    return outcome == RatingHelper::Outcome::Written;
}

RatingHelper::Outcome AlbumInfo::runScriptToApplyRating(unsigned rating, unsigned long long itemID,
                                                        std::chrono::milliseconds timeLimit, HelperStop* stop)
{
    const QString script = RatingHelper::scriptPath();
    QM_CASSERT(!script.isEmpty(), "AlbumInfo", "Helper script not found");
    return RatingHelper::run(script, itemID, rating, timeLimit, stop);
}
