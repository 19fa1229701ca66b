#pragma once

#include "platform/foundation/Error.h"
#include "platform/foundation/RegularFile.h"

#include <QByteArray>
#include <QString>
#include <optional>

// The program's RegularFile read (regular files alone, bounded, read rather than mapped), with the
// tool's own wording: every error's description is one sentence that names the file and says
// what was found there ("PATH is a named pipe, not a regular file"). Any thread.
class RegularFileReader {
public:
    // `limit` in bytes.
    static std::optional<QByteArray> read(const QString& path, Error* error = nullptr,
                                          qint64 limit = RegularFile::maximumSize);
};
