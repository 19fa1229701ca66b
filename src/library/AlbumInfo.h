#pragma once

#include "library/AlbumInfoClock.h"
#include "library/PendingRatings.h"
#include "library/RatingHelper.h"
#include "library/UnratedPhotoFilter.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/OperationQueue.h"
#include "platform/foundation/PropertyList.h"

#include <QImage>
#include <QUrl>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

// The photo library as the rest of the program sees it: finds the current library's album data
// file through the library preference, reads it on a serial work queue, announces the albums that
// still hold unrated photos, and decodes photos at the size they are shown at.
//
// Records handed out are immutable property-list dictionaries, shared read-only between threads:
//   album record: {"name": string, "items": [item record, ...]} (never without items);
//   item record: every key of the photo's entry in the file, plus "qm_ItemKey", the decimal
//   identifier under which the entry stands. Albums listing the same photo may share one item
//   record; the places of one album are always distinct objects.
//
// Threads: reload(), applyRating() and sharedAlbumInfo() on the main thread; reload(Error*),
// performReload(), findUnratedAlbums(), runScriptToApplyRating() and noteItemRated() on the work
// queue (the rated GUIDs are touched only there, so they need no lock); imageForItem() and
// aspectRatioForItem() from any thread, they touch no state; readAlbumInfo(),
// defaultAlbumInfoURL() and releaseRecords() from any thread; finishAtQuit() and abandonRatings()
// from the threads that quit (the ratings still to write are kept by PendingRatings, which guards
// itself).
//
// Records are never released on the main thread: the announcement of a reload leaves the work
// queue's reference as the last one when nobody takes the albums, and screens hand theirs to
// releaseRecords().
class AlbumInfo : public std::enable_shared_from_this<AlbumInfo> {
public:
    // The notification of a finished reload, posted on the main thread with this object as sender
    // and one user-info key: unratedAlbumsKey (a non-empty array of album records) or errorKey.
    static constexpr const char* didReloadNotification = "AlbumInfoDidReload";
    static constexpr const char* unratedAlbumsKey = "unratedAlbums";
    static constexpr const char* errorKey = "error";
    static constexpr const char* itemKey = "qm_ItemKey";
    // Sizes up to this many pixels come from the library's thumbnail file.
    static constexpr unsigned thumbnailPixelSize = 360;
    // A reload is never announced sooner than this after its request, so a loading status stays
    // readable; setMinimumReloadSeconds() changes it for this instance.
    static constexpr double minimumReloadSeconds = 1.0;
    // The longest minimum a caller may set, in seconds.
    static constexpr double longestMinimumReloadSeconds = 10.0;

    explicit AlbumInfo(AlbumInfoClock clock = AlbumInfoClock::system());
    ~AlbumInfo();
    AlbumInfo(const AlbumInfo&) = delete;
    AlbumInfo& operator=(const AlbumInfo&) = delete;

    // Created on first use; concurrent first calls all get the one instance that was installed.
    static std::shared_ptr<AlbumInfo> sharedAlbumInfo();

    // The first entry of the library preference "iPhotoRecentDatabases" as a URL; none when the
    // preference is missing, empty, or its first entry is no URL.
    static std::optional<QUrl> defaultAlbumInfoURL();

    // The whole album data file as a tree, XML or binary. Fails with the read's own error, or
    // with Error::cocoaDomain 259 carrying the parser's text and the file's URL.
    static PlistPtr readAlbumInfo(const QUrl& url, Error* error = nullptr);

    // Queues a reload; returns at once. Its result is posted as didReloadNotification on the main
    // thread, not sooner than minimumReloadSeconds after this call, after every operation queued
    // before it. Main thread.
    void reload();

    // Reads the current library and gives its albums with unrated photos, possibly none. Fails
    // with Error::cocoaDomain 260 when no library is recorded, with the preference file's own read
    // error when that file is there but unreadable or damaged, with 259 when the album data's root
    // is no dictionary, or as readAlbumInfo() does.
    std::optional<PlistArray> reload(Error* error);

    // The body of a queued reload: reload(Error*), then the announcement once at least
    // minimumReloadSeconds have passed since `requestTime` (seconds on the clock). Always
    // announces: a reload that throws (memory running out included) is announced as an error.
    void performReload(double requestTime);

    // The shortest time from a reload's request to its announcement, in seconds, for reloads
    // announced from now on; false (and nothing changed) outside 0...longestMinimumReloadSeconds.
    // Any thread.
    bool setMinimumReloadSeconds(double seconds);
    double minimumReloadSecondsSetting() const { return m_minimumReloadSeconds.load(); }

    // Runs `hook` at the start of every reload(Error*), on the work queue; set it before reloading.
    void setReloadHookForTesting(std::function<void()> hook);

    // The albums of `tree` with the photos that still need rating, in the file's order.
    PlistArray findUnratedAlbums(const PlistPtr& tree) const;

    // The photo decoded so that its longer side, as displayed, is at most `size` pixels; 0 for
    // full resolution. Sizes up to thumbnailPixelSize read the "ThumbPath" file, larger ones the
    // "ImagePath" file, following symbolic links. A null image when the file is missing or
    // unreadable. Any thread.
    QImage imageForItem(const PlistPtr& item, unsigned size) const;
    // imageForItem() as work to run later on any thread; it holds the album info and the record.
    static std::function<QImage()> imageWorkForItem(std::shared_ptr<const AlbumInfo> albumInfo, PlistPtr item,
                                                    unsigned size);

    // Width over height as displayed ("Aspect Ratio"); 0 when absent.
    double aspectRatioForItem(const PlistPtr& item) const;

    OperationQueue& workQueue() { return m_workQueue; }

    // Queues the writing of `rating` stars for the photo of `item` behind everything queued so
    // far, then its bookkeeping, and returns at once. Writes run one at a time, in the order of
    // the calls; a reload requested later sees the photo as rated once its write succeeded. A
    // failed write leaves the photo unrated, so a later reload offers it again. Refuses a rating
    // of 0 ("Un-rating not supported.") and a record whose "qm_ItemKey" is no decimal number
    // other than 0 ("Item must have non-zero qm_ItemKey"); nothing is queued then. Main thread.
    void applyRating(unsigned rating, const PlistPtr& item);

    // Runs the RateItem script for one photo and waits for it to end, at most `timeLimit`; `stop`
    // may stop it. A failure is logged. A missing script is a programming error ("Helper script
    // not found") and starts nothing. Work queue.
    static RatingHelper::Outcome
    runScriptToApplyRating(unsigned rating, unsigned long long itemID,
                           std::chrono::milliseconds timeLimit = RatingHelper::defaultTimeLimit,
                           HelperStop* stop = nullptr);

    // How long one write may take before it counts as stuck; for writes queued afterwards.
    void setRatingTimeLimitForTesting(std::chrono::milliseconds limit) { m_ratingTimeLimit = limit; }

    // Queues the release of `records` on a release queue of its own, then hands the memory that
    // freed back to the system. Dropping a reload's records takes tens of milliseconds, too long
    // for the main thread: screens that let go of records pass them here with the last
    // references they hold. Records still shared elsewhere merely lose this reference. Releases
    // never wait for the work queue, so the records of a finished album are gone while the next
    // reload runs, not after it. Any thread.
    void releaseRecords(PlistArray records);
    void releaseRecords(std::shared_ptr<const PlistArray> records);

    // Blocks until every operation queued so far, releases included, has finished. From the main
    // thread the announcements of queued reloads are still delivered while it waits.
    void finish();
    // finish() as the program quits: once a helper has timed out, the ratings queued after it are
    // not written (each is logged, then how many were not written). Not on the main thread.
    void finishAtQuit();
    // For a quit that cannot wait: stops the helper writing now (the failure says so) and starts
    // no other, then returns the number of queued ratings not written. Waits a few seconds at
    // most for that helper to end. Any thread but the work queue's.
    std::size_t abandonRatings();
    // Whether a rating was written successfully in this run. Read it after finish().
    bool didRateItems() const;
    // Remembers the record's "GUID" as rated, so later reloads leave the photo out, and that a
    // rating was written. Work queue, after the photo's write succeeded.
    void noteItemRated(const PlistPtr& item);

private:
    void finishOnMainThread();
    // One queued write, as far as quitting lets it run; true when the rating was written.
    bool writeRating(unsigned rating, unsigned long long itemID, std::chrono::milliseconds timeLimit);

    AlbumInfoClock m_clock;
    std::atomic<double> m_minimumReloadSeconds{minimumReloadSeconds};
    UnratedPhotoFilter::GuidSet m_ratedItems;
    // Also read outside the work queue (at quit, by tests), hence atomic.
    std::atomic<bool> m_didRateItems = false;
    // The latest request; read and written on the main thread only (each queued reload carries
    // its own request time to the work queue).
    std::optional<double> m_reloadTime;
    // Main thread; each queued write carries its own copy.
    std::chrono::milliseconds m_ratingTimeLimit = RatingHelper::defaultTimeLimit;
    std::function<void()> m_reloadHookForTesting;
    // Outlives the work queue, whose writes use it.
    PendingRatings m_pendingRatings;
    // Its operations use nothing of this object.
    OperationQueue m_releaseQueue{1};
    // Last: destroyed first, so no queued operation outlives the state it uses.
    OperationQueue m_workQueue{1};
};
