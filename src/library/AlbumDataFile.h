#pragma once

#include "platform/foundation/Error.h"

#include <QByteArray>
#include <QString>
#include <QUrl>
#include <memory>
#include <optional>

// The whole contents of an album data file in a buffer of its own, which the XML parser may modify
// in place. Only a regular file of at most RegularFile::maximumSize bytes is read (see
// RegularFile): a FIFO, a device, a socket or a folder is an error at once. Read rather than
// mapped, which also keeps a file cut short meanwhile from ending the program with SIGBUS: parsing in place
// writes to every page, and a private mapping then takes two faults and a page copy per page, which measured
// slower than one read into memory the allocator usually has at hand from the previous reload.
//
// One object per read; not shared between threads.
class AlbumDataFile {
public:
    AlbumDataFile(const AlbumDataFile&) = delete;
    AlbumDataFile& operator=(const AlbumDataFile&) = delete;
    ~AlbumDataFile();

    // Reads the file a local file URL names ("file:///path" or "file://localhost/path").
    // Fails with the read's own error in Error::cocoaDomain, carrying `url`: 260 no such file,
    // 257 no permission, 262 not a local file URL, 256 anything else (a folder, a FIFO, a file
    // over 2 GB, one changed while read), the description saying which.
    static std::unique_ptr<AlbumDataFile> open(const QUrl& url, Error* error = nullptr);
    // The path a local file URL names; none for any other URL.
    static std::optional<QString> localPath(const QUrl& url);

    // Writable, private to this object; size() bytes, not zero-terminated.
    char* data() { return m_contents.data(); }
    qsizetype size() const { return m_contents.size(); }
    const QUrl& url() const { return m_url; }
    // Binary property lists start with "bplist"; everything else is taken for XML.
    bool isBinary() const;

private:
    AlbumDataFile(const QUrl& url, const QString& path);
    bool load(Error* error);

    QUrl m_url;
    QString m_path;
    QByteArray m_contents;
};
