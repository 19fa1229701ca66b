#pragma once

#include "platform/foundation/Error.h"

#include <QByteArray>
#include <QString>
#include <optional>

// Reads a whole file only when it is a regular file: a FIFO, a device, a socket or a directory is
// refused at once, before a single read could block or run for ever, and a file over the size
// limit is refused rather than exhausting memory. Read with read(2), never mapped, so a file
// truncated by another program while it is read is an error, not a fault. Any thread.
//
// Every error's description is one sentence that names the file.
//
// FIXME: the program's RegularFile (platform/foundation) makes the same checks; fold this into it
// once it can say what kind of file it found, so the tool keeps its one-line messages.
class RegularFileReader {
public:
    // In bytes.
    static constexpr qint64 maximumSize = qint64(2) << 30;

    static std::optional<QByteArray> read(const QString& path, Error* error = nullptr,
                                          qint64 limit = maximumSize);
};
