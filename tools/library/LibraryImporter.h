#pragma once

#include "platform/foundation/Error.h"
#include "platform/foundation/PropertyList.h"

#include <QString>
#include <QStringList>
#include <functional>

// Builds or updates a photo library from folders of photos: one album per folder, named after
// the folder, holding its photos and movies in file-name order (sub-folders are not entered).
//
// The library is a folder with the album data file (AlbumData.xml, an XML property list) and a
// Thumbnails folder of 360-pixel JPEG renditions, already turned upright. Identifiers (decimal,
// counting up) and GUIDs stay with a file, and an album with its folder, across re-imports;
// ratings and any other keys of an existing entry are kept. Re-importing a folder makes its
// album list the folder's current files; albums of folders not named are left as they are, and
// photos no album lists any more leave the library.
//
// Nothing is half-written: the album data file is written beside the old one and renamed over
// it, under the library's lock; a failure leaves the old file as it was.
class LibraryImporter {
public:
    static constexpr int thumbnailPixelSize = 360;

    explicit LibraryImporter(QString libraryFolder);

    // Called after each file with the files done and the total.
    void setProgressHandler(std::function<void(long done, long total)> handler);
    // Told about files that are skipped (unreadable images), one line each.
    void setWarningHandler(std::function<void(const QString& message)> handler);

    bool import(const QStringList& folders, Error* error = nullptr);

    QString albumDataPath() const;
    static QString albumDataPath(const QString& libraryFolder);

    // Puts the library's album data file first in the library preference (keeping the others
    // after it, without duplicates), so the program reads it.
    static bool registerLibrary(const QString& albumDataPath, Error* error = nullptr);

    // Whether the file's name marks a photo or a movie the library takes.
    static bool isPhotoFile(const QString& fileName);
    static bool isMovieFile(const QString& fileName);

private:
    struct State;
    bool readExisting(State& state, Error* error) const;
    void importFolder(State& state, const QString& folder);
    PlistPtr importFile(State& state, const QString& path);
    PlistPtr thumbnailPath(const QString& photoPath, const std::string& key);

    QString m_libraryFolder;
    std::function<void(long, long)> m_progressHandler;
    std::function<void(const QString&)> m_warningHandler;
    long m_done = 0;
    long m_total = 0;
};
