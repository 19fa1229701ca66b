#pragma once

#include "platform/foundation/Error.h"

#include <QByteArray>
#include <QString>
#include <optional>

// Replaces a file's whole contents in one step that readers and crashes cannot split: the bytes go
// to a new file in the same folder, which is written in full, flushed to disk and closed, each
// step checked, and only then renamed over the old name; the folder is flushed last so the rename
// survives a power cut. Any failing step leaves the old file exactly as it was, removes the new
// file, and reports which step failed and why (a full disk is told apart from other failures).
//
// A path that is a symbolic link replaces the link's target, so the link itself stays. A new file
// gets the permissions the umask allows; a replaced file keeps its own.
//
// Any thread: every call works on its own data, except the fault hook, which is for
// single-threaded tests.
class AtomicFile {
public:
    enum class Step { Open, Write, Sync, Close, Rename, SyncFolder };

    // The codes of write failures in Error::cocoaDomain.
    static constexpr int writeUnknownError = 512;
    static constexpr int writeNoPermissionError = 513;
    static constexpr int writeOutOfSpaceError = 640;
    static constexpr int writeVolumeReadOnlyError = 642;

    static bool write(const QString& path, const QByteArray& bytes, Error* error = nullptr);

    // Makes `step` of every later write fail with the errno `code`, until cleared with nullopt.
    struct Fault {
        Step step;
        int code;
    };
    static void setFaultForTesting(std::optional<Fault> fault);

    // The error for a write of `path` that failed at `step` with the errno `code`.
    static Error writeError(const QString& path, Step step, int code);
};
