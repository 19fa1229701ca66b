#pragma once

#include "platform/foundation/Error.h"

#include <QFile>
#include <QUrl>
#include <memory>

// The whole contents of an album data file in a buffer of its own, which the XML parser may modify
// in place. Read rather than mapped: parsing in place writes to every page, and a private mapping
// then takes two faults and a page copy per page, which measured slower than one read into memory
// the allocator usually has at hand from the previous reload.
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
    char* data() { return m_contents.data(); }
    qsizetype size() const { return m_contents.size(); }
    const QUrl& url() const { return m_url; }
    // Binary property lists start with "bplist"; everything else is taken for XML.
    bool isBinary() const;

private:
    AlbumDataFile(const QUrl& url, const QString& path);
    bool load(Error* error);

    bool readKnownSize(qint64 size);

    QUrl m_url;
    QFile m_file;
    QByteArray m_contents;
};
