#include "tools/library/LibraryImporter.h"

#include "library/PhotoDecoder.h"
#include "platform/foundation/Preferences.h"
#include "platform/foundation/PropertyListSerialization.h"
#include "tools/library/LibraryLock.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QUrl>
#include <QUuid>
#include <algorithm>
#include <map>
#include <set>

struct LibraryImporter::State {
    PlistDictionary top;
    // A tree while photos are added one by one (a dictionary value keeps an array, which makes
    // that quadratic for a large library).
    std::map<std::string, PlistPtr> master;
    PlistArray albums;
    // Canonical file path -> identifier of its entry.
    std::map<QString, std::string> keyByPath;
    int64_t nextPhotoId = 1;
    int64_t nextAlbumId = 1;
};

namespace {
const char* const albumDataName = "AlbumData.xml";
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

double referenceSeconds(const QDateTime& time)
{
    return double(time.toSecsSinceEpoch() - referenceDateOffset);
}

QStringList filesOf(const QString& folder)
{
    QStringList files;
    const QDir dir(folder);
    for (const QFileInfo& info : dir.entryInfoList(QDir::Files | QDir::NoDotAndDotDot, QDir::Name)) {
        if (LibraryImporter::isPhotoFile(info.fileName()) || LibraryImporter::isMovieFile(info.fileName()))
            files << info.canonicalFilePath();
    }
    return files;
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

QString LibraryImporter::albumDataPath(const QString& libraryFolder)
{
    return QDir(libraryFolder).filePath(QString::fromLatin1(albumDataName));
}

bool LibraryImporter::isPhotoFile(const QString& fileName)
{
    static const QStringList suffixes = {"jpg", "jpeg", "png", "tif", "tiff", "webp", "gif", "bmp"};
    return suffixes.contains(QFileInfo(fileName).suffix().toLower());
}

bool LibraryImporter::isMovieFile(const QString& fileName)
{
    static const QStringList suffixes = {"mov", "mp4", "m4v", "avi", "mkv", "webm", "mpg", "mpeg"};
    return suffixes.contains(QFileInfo(fileName).suffix().toLower());
}

bool LibraryImporter::import(const QStringList& folders, Error* error)
{
    QStringList canonicalFolders;
    for (const QString& folder : folders) {
        const QFileInfo info(folder);
        if (!info.isDir()) {
            qmSetError(error, importError(QStringLiteral("no such folder: %1").arg(folder)));
            return false;
        }
        canonicalFolders << info.canonicalFilePath();
    }
    if (!QDir().mkpath(QDir(m_libraryFolder).filePath(QString::fromLatin1(thumbnailFolderName)))) {
        qmSetError(error,
                   importError(QStringLiteral("cannot create the library folder %1").arg(m_libraryFolder)));
        return false;
    }
    const auto lock = LibraryLock::acquire(m_libraryFolder, error);
    if (!lock)
        return false;
    State state;
    if (!readExisting(state, error))
        return false;

    m_done = 0;
    m_total = 0;
    for (const QString& folder : canonicalFolders)
        m_total += filesOf(folder).size();
    for (const QString& folder : canonicalFolders)
        importFolder(state, folder);

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
    return PropertyListSerialization::writeFile(albumDataPath(), PlistValue::dictionary(std::move(state.top)),
                                                PropertyListSerialization::Format::Xml, error);
}

bool LibraryImporter::readExisting(State& state, Error* error) const
{
    if (!QFileInfo::exists(albumDataPath()))
        return true;
    Error readError;
    const PlistPtr tree = PropertyListSerialization::readFile(albumDataPath(), &readError);
    if (!tree || !tree->isDictionary()) {
        qmSetError(error,
                   importError(QStringLiteral("the existing album data file %1 is unreadable, "
                                              "left as it is: %2")
                                   .arg(albumDataPath(),
                                        QString::fromStdString(tree ? "no dictionary at its root"
                                                                    : readError.localizedDescription()))));
        return false;
    }
    state.top = *tree->asDictionary();
    if (const PlistPtr master = tree->objectForKey("Master Image List"); master && master->isDictionary())
        state.master = {master->asDictionary()->begin(), master->asDictionary()->end()};
    if (const PlistPtr albums = tree->objectForKey("List of Albums"); albums && albums->isArray())
        state.albums = *albums->asArray();
    for (const auto& [key, entry] : state.master) {
        state.nextPhotoId = std::max(state.nextPhotoId, keyNumber(key) + 1);
        const PlistPtr path = entry ? entry->objectForKey("ImagePath") : nullptr;
        if (path && path->isString())
            state.keyByPath.emplace(QString::fromStdString(*path->asString()), key);
    }
    for (const PlistPtr& album : state.albums) {
        const PlistPtr id = album ? album->objectForKey("AlbumId") : nullptr;
        if (id && id->asInteger())
            state.nextAlbumId = std::max(state.nextAlbumId, *id->asInteger() + 1);
    }
    return true;
}

void LibraryImporter::importFolder(State& state, const QString& folder)
{
    PlistArray keys;
    for (const QString& path : filesOf(folder)) {
        if (const PlistPtr key = importFile(state, path))
            keys.push_back(key);
        ++m_done;
        if (m_progressHandler)
            m_progressHandler(m_done, m_total);
    }
    const PlistPtr folderPath = string(folder);
    auto existing = std::find_if(state.albums.begin(), state.albums.end(), [&](const PlistPtr& album) {
        return album && PlistValue::equal(album->objectForKey("FolderPath"), folderPath);
    });
    PlistDictionary album;
    if (existing != state.albums.end() && (*existing)->isDictionary())
        album = *(*existing)->asDictionary();
    album.try_emplace("AlbumId", PlistValue::integer(state.nextAlbumId++));
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
}

PlistPtr LibraryImporter::importFile(State& state, const QString& path)
{
    const QFileInfo info(path);
    const bool movie = isMovieFile(path);
    QSize size;
    if (!movie) {
        size = PhotoDecoder::displayedSize(path);
        if (!size.isValid()) {
            if (m_warningHandler)
                m_warningHandler(QStringLiteral("skipped %1: no readable image").arg(path));
            return nullptr;
        }
    }
    std::string key;
    PlistDictionary entry;
    if (const auto found = state.keyByPath.find(path); found != state.keyByPath.end()) {
        key = found->second;
        if (const auto old = state.master.find(key);
            old != state.master.end() && old->second && old->second->isDictionary())
            entry = *old->second->asDictionary();
    } else {
        key = std::to_string(state.nextPhotoId++);
        state.keyByPath.emplace(path, key);
    }
    entry.try_emplace("GUID", PlistValue::string(newGuid()));
    entry.try_emplace("Rating", PlistValue::integer(0));
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
        if (const PlistPtr thumb = thumbnailPath(path, key))
            entry.insert_or_assign("ThumbPath", thumb);
        else
            entry.erase("ThumbPath");
    }
    state.master.insert_or_assign(key, PlistValue::dictionary(std::move(entry)));
    return PlistValue::string(key);
}

PlistPtr LibraryImporter::thumbnailPath(const QString& photoPath, const std::string& key)
{
    const QString thumbPath = QDir(m_libraryFolder)
                                  .filePath(QString::fromLatin1(thumbnailFolderName) + QLatin1Char('/') +
                                            QString::fromStdString(key) + QStringLiteral(".jpg"));
    const QFileInfo thumbInfo(thumbPath);
    if (thumbInfo.exists() && thumbInfo.lastModified() >= QFileInfo(photoPath).lastModified())
        return string(QFileInfo(thumbPath).absoluteFilePath());
    const QImage thumbnail = PhotoDecoder::decode(photoPath, thumbnailPixelSize);
    QSaveFile file(thumbPath);
    if (thumbnail.isNull() || !file.open(QIODevice::WriteOnly) || !thumbnail.save(&file, "JPG", 85) ||
        !file.commit()) {
        if (m_warningHandler)
            m_warningHandler(QStringLiteral("no thumbnail for %1").arg(photoPath));
        return nullptr;
    }
    return string(QFileInfo(thumbPath).absoluteFilePath());
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
    return Preferences::setValue("iPhotoRecentDatabases", PlistValue::array(std::move(databases)),
                                 Preferences::libraryDomain, error);
}
