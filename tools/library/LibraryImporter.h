#pragma once

#include "platform/foundation/Error.h"
#include "platform/foundation/PropertyList.h"
#include "tools/library/XmpRating.h"

#include <QDir>
#include <QString>
#include <QStringList>
#include <functional>

// Builds or updates a photo library from folders of photos: one album per folder, named after
// the folder, holding its photos and movies in file-name order. Sub-folders are entered only when
// asked (setRecursive): then every folder below that holds photos is an album of its own.
//
// The library is a folder with the album data file (AlbumData.xml, an XML property list, or a
// binary one where the existing file is binary) and a Thumbnails folder of 360-pixel JPEG
// renditions, already turned upright. Identifiers (decimal, counting up) and GUIDs stay with a
// file, and an album with its folder, across re-imports; ratings and any other keys of an
// existing entry are kept, except that a rating given in another photo program (its XMP sidecar,
// or the photo's own metadata) is taken as RatingElsewhere says.
// Re-importing a folder makes its album list the folder's current files; albums of folders not
// named are left as they are, and photos no album lists any more leave the library.
// A named folder that holds no photos (with setRecursive: nor any folder below) and has no album
// yet makes none, with a warning; an import that makes or updates no album at all fails and
// writes nothing.
//
// Nothing is half-written: the album data file and every thumbnail are encoded in memory and
// written through AtomicFile, under the library's lock; a failure (a full disk) stops the import
// and leaves every old file as it was.
//
// The album data file can only record UTF-8 paths: a photo or folder whose name is not UTF-8 is
// left out with a warning, never recorded under a different name.
class LibraryImporter {
public:
    static constexpr int thumbnailPixelSize = 360;

    // What one import did, for its summary line.
    struct Summary {
        long albums = 0;  // albums written (one per folder that was imported)
        long added = 0;   // photos and movies new to the library
        long kept = 0;    // already in the library, kept with their identifiers and ratings
        long skipped = 0; // files left out, each with a warning
    };

    explicit LibraryImporter(QString libraryFolder);

    void setRecursive(bool recursive);
    // Where photos' sidecars are looked for first (see RatingElsewhere::adopt).
    void setSidecarNaming(XmpRating::Naming naming) { m_sidecarNaming = naming; }

    // Called after each file with the files done and the total.
    void setProgressHandler(std::function<void(long done, long total)> handler);
    // Told about files that are skipped (unreadable images), one line each.
    void setWarningHandler(std::function<void(const QString& message)> handler);

    // Errors are one sentence naming the file or folder concerned.
    bool import(const QStringList& folders, Error* error = nullptr);
    const Summary& summary() const { return m_summary; }

    QString albumDataPath() const;
    // Inline, so that the commands which only find the file need none of the importer's code.
    static QString albumDataPath(const QString& libraryFolder)
    {
        return QDir(libraryFolder).filePath(QStringLiteral("AlbumData.xml"));
    }

    // Puts the library's album data file first in the library preference (keeping the others
    // after it, without duplicates), so the program reads it.
    static bool registerLibrary(const QString& albumDataPath, Error* error = nullptr);

    // Whether the file's name marks a photo or a movie the library takes. Camera RAW files are
    // photos (see RawPreview): their contents must be of the format their suffix names, and they
    // are shown, and their thumbnails made, through their largest embedded preview.
    static bool isPhotoFile(const QString& fileName);
    static bool isMovieFile(const QString& fileName);

private:
    struct State;
    bool readExisting(State& state, Error* error) const;
    QStringList albumFolders(const QStringList& folders);
    void collectFolders(const QString& folder, QStringList& found, QStringList& visited);
    QStringList filesOf(const QString& folder, bool report);
    static PlistArray::iterator albumOf(State& state, const QString& folder);
    void warn(const QString& message);
    bool importFolder(State& state, const QString& folder, const QStringList& files, Error* error);
    PlistPtr importFile(State& state, const QString& path, Error* error);
    PlistPtr thumbnailPath(const QString& photoPath, const std::string& key, Error* error);

    QString m_libraryFolder;
    std::function<void(long, long)> m_progressHandler;
    std::function<void(const QString&)> m_warningHandler;
    bool m_recursive = false;
    XmpRating::Naming m_sidecarNaming = XmpRating::Naming::WholeName;
    long m_done = 0;
    long m_total = 0;
    Summary m_summary;
};
