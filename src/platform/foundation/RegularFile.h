#pragma once

#include "platform/foundation/Error.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QUrl>
#include <optional>

// Opens and reads files that other programs may have put anything in place of: only a regular
// file is opened (a FIFO, a device, a socket or a folder would block, never end or read as
// nothing), its size is bounded, and it is read rather than mapped, so a file cut short by another
// program while we read it is an error instead of a SIGBUS.
//
// Errors are in Error::cocoaDomain and carry the file's URL (or the one given) and "NSFilePath":
// 260 no such file, 257 no permission, 256 anything else, with a description that says which
// kind of file was found instead (a folder, a named pipe, ...).
//
// Any thread: no shared state.
class RegularFile {
public:
    // Files larger than this (2 GiB, in bytes) are refused rather than read into memory.
    static constexpr qint64 maximumSize = qint64(1) << 31;

    // An open read-only descriptor of the regular file at `path` (symbolic links followed), or -1
    // with the error set. The caller closes it.
    static int open(const QString& path, Error* error = nullptr, const QUrl& url = {});

    // The whole contents of the regular file at `path`, at most `limit` bytes. A file whose size
    // changes while it is read is an error.
    static std::optional<QByteArray> read(const QString& path, Error* error = nullptr, const QUrl& url = {},
                                          qint64 limit = maximumSize);

    // Whether the regular file at `path` holds exactly `bytes`, read a piece at a time: a check
    // that a large file is still what it was costs no copy of it. False where it cannot be read.
    static bool holds(const QString& path, QByteArrayView bytes);

    // The error for `path`, which could not be opened or read because of the errno `code`.
    static Error error(const QString& path, int code, const QUrl& url = {});

    // What stopped an open() or a read(), for callers that word their own messages: the step that
    // failed with the system's error, or what was found instead of a regular file it could read.
    enum class Failure { Open, Read, Folder, Fifo, Device, Socket, Other, TooLarge, Changed };
    struct Cause {
        Failure failure = Failure::Open;
        int code = 0; // the errno of a failed open or read, else 0
    };
    // The cause an error of open() or read() carries; none for any other error.
    static std::optional<Cause> causeOf(const Error& error);
};
