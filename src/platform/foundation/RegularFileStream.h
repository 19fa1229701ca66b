#pragma once

#include "platform/foundation/Error.h"
#include "platform/foundation/RegularFile.h"

#include <QString>
#include <QUrl>
#include <memory>

// Reads a regular file from start to end piece by piece, for readers that need not hold it whole.
// Opened as RegularFile opens (only a regular file, at most `limit` bytes, with the same errors).
// A file whose size changes while it is read fails the read.
//
// One object per read; not shared between threads.
class RegularFileStream {
public:
    static std::unique_ptr<RegularFileStream> open(const QString& path, Error* error = nullptr,
                                                   const QUrl& url = {},
                                                   qint64 limit = RegularFile::maximumSize);
    ~RegularFileStream();
    RegularFileStream(const RegularFileStream&) = delete;
    RegularFileStream& operator=(const RegularFileStream&) = delete;

    // The size when opened, in bytes.
    qint64 size() const { return m_size; }

    // Reads the next bytes, at most `capacity`, and gives how many: 0 at the end of the file,
    // -1 when the read fails or the file turns out longer or shorter than when it was opened.
    qint64 read(char* into, qint64 capacity);

private:
    RegularFileStream(int descriptor, qint64 size);

    int m_descriptor;
    qint64 m_size;
    qint64 m_offset = 0;
};
