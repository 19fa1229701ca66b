#pragma once

#include "platform/foundation/Error.h"

#include <QFile>
#include <QUrl>
#include <memory>

// The whole contents of an album data file, mapped privately (copy-on-write), so the XML parser
// can work in place on the mapped pages without copying a file of a hundred megabytes first and
// without ever writing to the file. Owns the mapping until destroyed.
//
// One object per read; not shared between threads.
class AlbumDataFile {
public:
    AlbumDataFile(const AlbumDataFile&) = delete;
    AlbumDataFile& operator=(const AlbumDataFile&) = delete;
    ~AlbumDataFile();

    // Opens and maps the file a local file URL names ("file:///path" or "file://localhost/path").
    // Fails with the read's own error in Error::cocoaDomain, carrying `url`: 260 no such file,
    // 257 no permission, 262 not a local file URL, 256 anything else.
    static std::unique_ptr<AlbumDataFile> open(const QUrl& url, Error* error = nullptr);

    // Writable, private to this object; size() bytes, not zero-terminated.
    char* data() { return m_data; }
    qsizetype size() const { return m_size; }
    const QUrl& url() const { return m_url; }
    // Binary property lists start with "bplist"; everything else is taken for XML.
    bool isBinary() const;

private:
    AlbumDataFile(const QUrl& url, const QString& path);
    bool load(Error* error);

    QUrl m_url;
    QFile m_file;
    char* m_data = nullptr;
    bool m_mapped = false;
    qsizetype m_size = 0;
    // Holds the bytes when the file cannot be mapped (a pipe, an empty file).
    QByteArray m_copy;
};
