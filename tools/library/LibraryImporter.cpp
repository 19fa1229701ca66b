#include "tools/library/LibraryImporter.h"

#include "library/PhotoDecoder.h"
#include "library/RawPreview.h"
#include "platform/foundation/AtomicFile.h"
#include "platform/foundation/Preferences.h"
#include "platform/foundation/PropertyListSerialization.h"
#include "platform/foundation/RegularFile.h"
#include "tools/library/BinaryAlbumDataRating.h"
#include "tools/library/LibraryLock.h"
#include "tools/library/RatingElsewhere.h"
#include "tools/library/ValidationStamp.h"

#include <QBuffer>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>
#include <QUuid>
#include <algorithm>
#include <cstring>
#include <dirent.h>
#include <limits>
#include <map>
#include <optional>
#include <set>
#include <sys/stat.h>
#include <sys/statvfs.h>

struct LibraryImporter::State {
    PlistDictionary top;
    // A tree while photos are added one by one (a dictionary value keeps an array, which makes
    // that quadratic for a large library).
    std::map<std::string, PlistPtr> master;
    PlistArray albums;
    // Canonical file path -> identifier of its entry.
    std::map<QString, std::string> keyByPath;
    // The highest identifiers in use; new ones count up from them.
    int64_t lastPhotoId = 0;
    int64_t lastAlbumId = 0;
    // An existing library written as a binary list stays one: so its dates keep their fractions
    // and rate keeps writing it as it found it (BinaryAlbumDataRating).
    PropertyListSerialization::Format format = PropertyListSerialization::Format::Xml;
};

namespace {
const char* const thumbnailFolderName = "Thumbnails";
constexpr int64_t referenceDateOffset = 978307200; // 2001-01-01 in Unix time

Error importError(const QString& text)
{
    return Error(Error::applicationDomain, 2, text.toStdString());
}

std::string newGuid()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper().toStdString();
}

PlistPtr string(const QString& text)
{
    return PlistValue::string(text.toStdString());
}

// The decimal identifier an entry stands under; 0 for keys written by hand that are no number.
int64_t keyNumber(const std::string& key)
{
    bool ok = false;
    const qlonglong value = QString::fromStdString(key).toLongLong(&ok);
    return ok && value > 0 ? value : 0;
}

// The identifier after `last`, or none when the 64-bit range is used up.
std::optional<int64_t> following(int64_t last)
{
    if (last == std::numeric_limits<int64_t>::max())
        return std::nullopt;
    return last + 1;
}

double referenceSeconds(const QDateTime& time)
{
    return double(time.toSecsSinceEpoch() - referenceDateOffset);
}

// A name as bytes, with what is not printable ASCII escaped, for messages about names that are
// no text.
QString escapedName(const QByteArray& name)
{
    QString text;
    for (const char c : name) {
        if (uchar(c) >= 0x20 && uchar(c) < 0x7F)
            text += QLatin1Char(c);
        else
            text += QStringLiteral("\\x%1").arg(uint(uchar(c)), 2, 16, QLatin1Char('0'));
    }
    return text;
}

// The entries of a folder as the system has them, so a name that is no UTF-8 is seen as such
// rather than decoded into a different name.
std::vector<QByteArray> rawEntries(const QString& folder)
{
    std::vector<QByteArray> names;
    DIR* dir = ::opendir(QFile::encodeName(folder).constData());
    if (!dir)
        return names;
    while (const dirent* entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (name != "." && name != "..")
            names.push_back(name);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

// The name as text when it is UTF-8 that survives the round trip, else nothing.
std::optional<QString> utf8Name(const QByteArray& name)
{
    const QString text = QString::fromUtf8(name);
    if (text.toUtf8() != name || QFile::encodeName(text) != name)
        return std::nullopt;
    return text;
}
} // namespace

LibraryImporter::LibraryImporter(QString libraryFolder)
    : m_libraryFolder(std::move(libraryFolder))
{}

void LibraryImporter::setProgressHandler(std::function<void(long, long)> handler)
{
    m_progressHandler = std::move(handler);
}

void LibraryImporter::setWarningHandler(std::function<void(const QString&)> handler)
{
    m_warningHandler = std::move(handler);
}

QString LibraryImporter::albumDataPath() const
{
    return albumDataPath(m_libraryFolder);
}

bool LibraryImporter::isPhotoFile(const QString& fileName)
{
    static const QStringList suffixes = {"jpg", "jpeg", "png", "tif", "tiff", "webp", "gif", "bmp"};
    return suffixes.contains(QFileInfo(fileName).suffix().toLower()) || RawPreview::hasRawSuffix(fileName);
}

bool LibraryImporter::isMovieFile(const QString& fileName)
{
    static const QStringList suffixes = {"mov", "mp4", "m4v", "avi", "mkv", "webm", "mpg", "mpeg"};
    return suffixes.contains(QFileInfo(fileName).suffix().toLower());
}

void LibraryImporter::setRecursive(bool recursive)
{
    m_recursive = recursive;
}

void LibraryImporter::warn(const QString& message)
{
    if (m_warningHandler)
        m_warningHandler(message);
}

bool LibraryImporter::import(const QStringList& folders, Error* error)
{
    m_summary = {};
    QStringList canonicalFolders;
    for (const QString& folder : folders) {
        const QFileInfo info(folder);
        if (!info.exists()) {
            qmSetError(error, importError(QStringLiteral("no such folder: %1").arg(folder)));
            return false;
        }
        if (!info.isDir()) {
            qmSetError(error,
                       importError(QStringLiteral("%1 is a file, not a folder of photos").arg(folder)));
            return false;
        }
        canonicalFolders << info.canonicalFilePath();
    }
    if (QFileInfo(m_libraryFolder).exists() && !QFileInfo(m_libraryFolder).isDir()) {
        qmSetError(error,
                   importError(
                       QStringLiteral("the library folder %1 is a file, not a folder").arg(m_libraryFolder)));
        return false;
    }
    const QString thumbnails = QDir(m_libraryFolder).filePath(QString::fromLatin1(thumbnailFolderName));
    if (!QDir().mkpath(thumbnails)) {
        qmSetError(error, importError(QStringLiteral("cannot create the folder %1").arg(thumbnails)));
        return false;
    }
    Error lockError;
    const auto lock = LibraryLock::acquire(m_libraryFolder, &lockError);
    if (!lock) {
        qmSetError(error, importError(QStringLiteral("cannot lock the library %1: %2")
                                          .arg(m_libraryFolder,
                                               QString::fromStdString(lockError.localizedDescription()))));
        return false;
    }
    State state;
    if (!readExisting(state, error))
        return false;

    const QStringList albums = albumFolders(canonicalFolders);
    std::vector<QStringList> files;
    m_done = 0;
    m_total = 0;
    for (const QString& folder : albums) {
        files.push_back(filesOf(folder, true));
        m_total += files.back().size();
    }
    for (qsizetype i = 0; i < albums.size(); ++i) {
        // An album already made keeps being updated, emptied too, so its gone photos leave it.
        if (files[size_t(i)].isEmpty() && albumOf(state, albums.at(i)) == state.albums.end()) {
            warn(QStringLiteral("%1 holds no photos; no album made").arg(albums.at(i)));
            continue;
        }
        if (!importFolder(state, albums.at(i), files[size_t(i)], error))
            return false;
    }
    if (m_summary.albums == 0) {
        qmSetError(error, importError(QStringLiteral("nothing imported; the library is left as it was")));
        return false;
    }

    // Photos that no album lists any more (their files are gone from a re-imported folder).
    std::set<std::string> listed;
    for (const PlistPtr& album : state.albums) {
        const PlistPtr keys = album->objectForKey("KeyList");
        for (const PlistPtr& key : keys && keys->isArray() ? *keys->asArray() : PlistArray())
            if (key && key->isString())
                listed.insert(*key->asString());
    }
    std::erase_if(state.master, [&](const auto& entry) { return !listed.contains(entry.first); });

    state.top.insert_or_assign("Master Image List", PlistValue::dictionary(PlistDictionary::fromEntries(
                                                        {state.master.begin(), state.master.end()})));
    state.top.insert_or_assign("List of Albums", PlistValue::array(std::move(state.albums)));
    state.top.insert_or_assign("Archive Path", string(QFileInfo(m_libraryFolder).absoluteFilePath()));
    state.top.insert_or_assign("Application Version", PlistValue::string("zuzire-library 1"));
    state.top.try_emplace("Major Version", PlistValue::integer(2));
    state.top.try_emplace("Minor Version", PlistValue::integer(0));
    const QByteArray bytes =
        PropertyListSerialization::toData(PlistValue::dictionary(std::move(state.top)), state.format, error);
    if (bytes.isEmpty() || !AtomicFile::write(albumDataPath(), bytes, error))
        return false;
    // The first rating after an import need not parse the whole file again, once the program's
    // reader has accepted what was written.
    if (state.format == PropertyListSerialization::Format::Xml && PropertyListSerialization::fromData(bytes))
        ValidationStamp::record(albumDataPath(), bytes);
    return true;
}

QStringList LibraryImporter::albumFolders(const QStringList& folders)
{
    if (!m_recursive)
        return folders;
    QStringList found, visited;
    for (const QString& folder : folders) {
        const qsizetype before = found.size();
        const bool seen = visited.contains(folder);
        collectFolders(folder, found, visited);
        if (found.size() == before && !seen)
            warn(QStringLiteral("%1 holds no photos, nor do its folders; no album made").arg(folder));
    }
    return found;
}

PlistArray::iterator LibraryImporter::albumOf(State& state, const QString& folder)
{
    const PlistPtr folderPath = string(folder);
    return std::find_if(state.albums.begin(), state.albums.end(), [&](const PlistPtr& album) {
        return album && PlistValue::equal(album->objectForKey("FolderPath"), folderPath);
    });
}

// The folder, then its sub-folders depth first in name order; only those holding photos become
// albums. A folder reached twice (through a link) is taken once, which also ends link loops.
void LibraryImporter::collectFolders(const QString& folder, QStringList& found, QStringList& visited)
{
    if (visited.contains(folder))
        return;
    visited << folder;
    if (!filesOf(folder, false).isEmpty())
        found << folder;
    for (const QByteArray& raw : rawEntries(folder)) {
        const QString path = QDir(folder).filePath(QString::fromUtf8(raw));
        const auto name = utf8Name(raw);
        if (!name) {
            struct stat status {};
            if (::stat((QFile::encodeName(folder) + '/' + raw).constData(), &status) == 0 &&
                S_ISDIR(status.st_mode))
                warn(QStringLiteral("skipped the folder %1/%2: its name is not UTF-8, which the album data "
                                    "file cannot record")
                         .arg(folder, escapedName(raw)));
            continue;
        }
        const QFileInfo info(path);
        if (info.isDir() && !raw.startsWith('.'))
            collectFolders(info.canonicalFilePath(), found, visited);
    }
}
bool LibraryImporter::readExisting(State& state, Error* error) const
{
    if (!QFileInfo::exists(albumDataPath()))
        return true;
    Error readError;
    const auto bytes = RegularFile::read(albumDataPath(), &readError);
    const PlistPtr tree = bytes ? PropertyListSerialization::fromData(*bytes, &readError) : nullptr;
    if (!tree || !tree->isDictionary()) {
        qmSetError(error,
                   importError(QStringLiteral("the existing album data file %1 is unreadable, "
                                              "left as it is: %2")
                                   .arg(albumDataPath(),
                                        QString::fromStdString(tree ? "no dictionary at its root"
                                                                    : readError.localizedDescription()))));
        return false;
    }
    if (BinaryAlbumDataRating::isBinary(*bytes))
        state.format = PropertyListSerialization::Format::Binary;
    state.top = *tree->asDictionary();
    if (const PlistPtr master = tree->objectForKey("Master Image List"); master && master->isDictionary())
        state.master = {master->asDictionary()->begin(), master->asDictionary()->end()};
    if (const PlistPtr albums = tree->objectForKey("List of Albums"); albums && albums->isArray())
        state.albums = *albums->asArray();
    for (const auto& [key, entry] : state.master) {
        state.lastPhotoId = std::max(state.lastPhotoId, keyNumber(key));
        const PlistPtr path = entry ? entry->objectForKey("ImagePath") : nullptr;
        if (path && path->isString())
            state.keyByPath.emplace(QString::fromStdString(*path->asString()), key);
    }
    for (const PlistPtr& album : state.albums) {
        const PlistPtr id = album ? album->objectForKey("AlbumId") : nullptr;
        if (id && id->asInteger())
            state.lastAlbumId = std::max(state.lastAlbumId, *id->asInteger());
    }
    return true;
}

QStringList LibraryImporter::filesOf(const QString& folder, bool report)
{
    QStringList files;
    for (const QByteArray& raw : rawEntries(folder)) {
        const auto name = utf8Name(raw);
        if (!name) {
            const QString shown = QStringLiteral("%1/%2").arg(folder, escapedName(raw));
            if (report && (isPhotoFile(shown) || isMovieFile(shown))) {
                warn(QStringLiteral("skipped %1: its name is not UTF-8, which the album data file cannot "
                                    "record; rename it to import it")
                         .arg(shown));
                ++m_summary.skipped;
            }
            continue;
        }
        const QFileInfo info(QDir(folder).filePath(*name));
        if (info.isFile() && (isPhotoFile(*name) || isMovieFile(*name)))
            files << info.canonicalFilePath();
    }
    return files;
}

bool LibraryImporter::importFolder(State& state, const QString& folder, const QStringList& files,
                                   Error* error)
{
    PlistArray keys;
    for (const QString& path : files) {
        Error fileError;
        const PlistPtr key = importFile(state, path, &fileError);
        if (key)
            keys.push_back(key);
        else if (fileError.code() != 0) {
            qmSetError(error, std::move(fileError));
            return false;
        }
        ++m_done;
        if (m_progressHandler)
            m_progressHandler(m_done, m_total);
    }
    const PlistPtr folderPath = string(folder);
    const auto existing = albumOf(state, folder);
    PlistDictionary album;
    if (existing != state.albums.end() && (*existing)->isDictionary())
        album = *(*existing)->asDictionary();
    if (!album.contains("AlbumId")) {
        const auto id = following(state.lastAlbumId);
        if (!id) {
            qmSetError(error,
                       importError(QStringLiteral("no album identifier is left in %1: the highest in use "
                                                  "is %2")
                                       .arg(albumDataPath())
                                       .arg(state.lastAlbumId)));
            return false;
        }
        state.lastAlbumId = *id;
        album.insert_or_assign("AlbumId", PlistValue::integer(*id));
    }
    album.try_emplace("GUID", PlistValue::string(newGuid()));
    album.try_emplace("Album Type", PlistValue::string("Regular"));
    album.insert_or_assign("AlbumName", string(QFileInfo(folder).fileName()));
    album.insert_or_assign("FolderPath", folderPath);
    album.insert_or_assign("PhotoCount", PlistValue::integer(int64_t(keys.size())));
    album.insert_or_assign("KeyList", PlistValue::array(std::move(keys)));
    if (existing != state.albums.end())
        *existing = PlistValue::dictionary(std::move(album));
    else
        state.albums.push_back(PlistValue::dictionary(std::move(album)));
    ++m_summary.albums;
    return true;
}

PlistPtr LibraryImporter::importFile(State& state, const QString& path, Error* error)
{
    const QFileInfo info(path);
    const bool movie = isMovieFile(path);
    QSize size;
    if (!movie) {
        Error decodeError;
        size = PhotoDecoder::displayedSize(path, &decodeError);
        if (!size.isValid()) {
            // A RAW file is shown through its embedded preview: say why it has none to show.
            if (RawPreview::hasRawSuffix(path))
                warn(QStringLiteral("skipped %1: no usable embedded preview (%2)")
                         .arg(path, QString::fromStdString(decodeError.failureReason().empty()
                                                               ? decodeError.localizedDescription()
                                                               : decodeError.failureReason())));
            else
                warn(QStringLiteral("skipped %1: no readable image").arg(path));
            ++m_summary.skipped;
            return nullptr;
        }
    }
    std::string key;
    PlistDictionary entry;
    const auto found = state.keyByPath.find(path);
    if (found != state.keyByPath.end()) {
        key = found->second;
        if (const auto old = state.master.find(key);
            old != state.master.end() && old->second && old->second->isDictionary())
            entry = *old->second->asDictionary();
    } else {
        const auto id = following(state.lastPhotoId);
        if (!id) {
            qmSetError(error,
                       importError(QStringLiteral("no photo identifier is left in %1 for %2: the highest "
                                                  "in use is %3")
                                       .arg(albumDataPath(), path)
                                       .arg(state.lastPhotoId)));
            return nullptr;
        }
        key = std::to_string(*id);
    }
    PlistPtr thumb;
    if (!movie) {
        Error thumbError;
        thumb = thumbnailPath(path, key, &thumbError);
        if (!thumb) {
            if (thumbError.code() != 0)
                qmSetError(error, std::move(thumbError));
            else
                ++m_summary.skipped;
            return nullptr;
        }
    }
    if (found == state.keyByPath.end()) {
        state.lastPhotoId = keyNumber(key);
        state.keyByPath.emplace(path, key);
        ++m_summary.added;
    } else {
        ++m_summary.kept;
    }
    entry.try_emplace("GUID", PlistValue::string(newGuid()));
    entry.try_emplace("Rating", PlistValue::integer(0));
    // Photos rated in other programs are rated here too, and are not offered again.
    if (!movie)
        RatingElsewhere::adopt(entry, path, m_sidecarNaming,
                               [this](const QString& message) { warn(message); });
    entry.try_emplace("Caption", string(info.completeBaseName()));
    entry.try_emplace("Comment", PlistValue::string(""));
    entry.insert_or_assign("MediaType", PlistValue::string(movie ? "Movie" : "Image"));
    entry.insert_or_assign("ImagePath", string(path));
    entry.insert_or_assign("DateAsTimerInterval",
                           PlistValue::real(referenceSeconds(
                               info.birthTime().isValid() ? info.birthTime() : info.lastModified())));
    entry.insert_or_assign("ModDateAsTimerInterval", PlistValue::real(referenceSeconds(info.lastModified())));
    if (!movie) {
        entry.insert_or_assign("Aspect Ratio",
                               PlistValue::real(double(size.width()) / double(size.height())));
        entry.insert_or_assign("ThumbPath", thumb);
    }
    state.master.insert_or_assign(key, PlistValue::dictionary(std::move(entry)));
    return PlistValue::string(key);
}

// The photo's thumbnail, made anew unless one newer than the photo is there. A photo whose pixels
// cannot be decoded gets a warning and no entry (an error left unset); a thumbnail that cannot be
// written (a full disk) is an error that ends the import.
PlistPtr LibraryImporter::thumbnailPath(const QString& photoPath, const std::string& key, Error* error)
{
    const QString thumbPath = QDir(m_libraryFolder)
                                  .filePath(QString::fromLatin1(thumbnailFolderName) + QLatin1Char('/') +
                                            QString::fromStdString(key) + QStringLiteral(".jpg"));
    const QFileInfo thumbInfo(thumbPath);
    if (thumbInfo.isFile() && thumbInfo.size() > 0 &&
        thumbInfo.lastModified() >= QFileInfo(photoPath).lastModified())
        return string(thumbInfo.absoluteFilePath());
    const QImage thumbnail = PhotoDecoder::decode(photoPath, thumbnailPixelSize);
    if (thumbnail.isNull()) {
        warn(RawPreview::hasRawSuffix(photoPath)
                 ? QStringLiteral("skipped %1: no usable embedded preview (it cannot be decoded)")
                       .arg(photoPath)
                 : QStringLiteral("skipped %1: its pixels cannot be decoded").arg(photoPath));
        return nullptr;
    }
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    if (!thumbnail.save(&buffer, "JPG", 85)) {
        qmSetError(error, importError(QStringLiteral("cannot encode the thumbnail %1").arg(thumbPath)));
        return nullptr;
    }
    if (!AtomicFile::write(thumbPath, jpeg, error))
        return nullptr;
    return string(thumbInfo.absoluteFilePath());
}

bool LibraryImporter::registerLibrary(const QString& albumDataPath, Error* error)
{
    const std::string url = QUrl::fromLocalFile(QFileInfo(albumDataPath).absoluteFilePath())
                                .toString(QUrl::FullyEncoded)
                                .toStdString();
    PlistArray databases{PlistValue::string(url)};
    const PlistPtr existing = Preferences::copyValue("iPhotoRecentDatabases", Preferences::libraryDomain);
    for (const PlistPtr& entry : existing && existing->isArray() ? *existing->asArray() : PlistArray()) {
        if (entry && !(entry->isString() && *entry->asString() == url))
            databases.push_back(entry);
    }
    Error setError;
    if (Preferences::setValue("iPhotoRecentDatabases", PlistValue::array(std::move(databases)),
                              Preferences::libraryDomain, &setError))
        return true;
    // The preference writer reports some failures without the file or the cause (a full disk makes
    // its lock fail, which it reports as held by another program): say both.
    const QString file = Preferences::domainFilePath(Preferences::libraryDomain);
    QString cause = QString::fromStdString(setError.localizedDescription());
    if (!setError.failureReason().empty())
        cause += QStringLiteral(" (") + QString::fromStdString(setError.failureReason()) + QLatin1Char(')');
    struct statvfs space {};
    if (::statvfs(QFile::encodeName(Preferences::directoryPath()).constData(), &space) == 0 &&
        space.f_bavail == 0)
        cause = QString::fromLocal8Bit(std::strerror(ENOSPC));
    qmSetError(error,
               Error(setError.domain(), setError.code(),
                     QStringLiteral("cannot write the library preference file %1: %2; it is left as it was")
                         .arg(file, cause)
                         .toStdString()));
    return false;
}
