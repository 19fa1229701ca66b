#pragma once

#include "platform/foundation/Error.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// Replaces a file's whole contents in one step that readers and crashes cannot split: the bytes go
// to a new file in the same folder, which is written in full, flushed to disk and closed, each
// step checked, and only then renamed over the old name; the folder is flushed last so the rename
// survives a power cut. Any failing step leaves the old file exactly as it was, removes the new
// file, and reports which step failed and why (a full disk is told apart from other failures).
//
// A path that is a symbolic link replaces the link's target, so the link itself stays. A new file
// gets the permissions the umask allows; a replaced file keeps its own.
//
// The new file's name is short and fixed (".zuzire-write-" and six random characters), so it fits
// beside any name the file system allows. A writer killed before the rename leaves it behind: every
// write removes such files from the folder it writes into once they are older than
// staleTemporarySeconds and no writer holds them (each writer locks its own while it writes).
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

    // How old a new file left behind must be before a later write removes it.
    static constexpr int staleTemporarySeconds = 600;

    static bool write(const QString& path, const QByteArray& bytes, Error* error = nullptr);
    // As write(), asking `mayReplace` once the new file is complete, flushed and closed, right
    // before it replaces the old one: when that returns false (having set the error it is given),
    // the new file is removed and the old one stays as it was. Lets a caller check the old
    // contents while the new ones are written.
    static bool write(const QString& path, const QByteArray& bytes, Error* error,
                      const std::function<bool(Error*)>& mayReplace);
    // The same, the new contents being `pieces` one after the other: a caller changing a few bytes
    // of a large file need not copy it whole first.
    static bool write(const QString& path, const std::vector<QByteArrayView>& pieces, Error* error,
                      const std::function<bool(Error*)>& mayReplace);

    // Makes `step` of every later write fail with the errno `code`, until cleared with nullopt.
    struct Fault {
        Step step;
        int code;
    };
    static void setFaultForTesting(std::optional<Fault> fault);

    // The error for a write of `path` that failed at `step` with the errno `code`.
    static Error writeError(const QString& path, Step step, int code);
    // Why a file in `folder` failed with the errno `code`, in words: a full disk that still has
    // space but no inodes left says so, since "no space left" would send a user looking for space.
    static std::string causeOf(int code, const QString& folder);
    static bool hasNoFreeInodes(const QString& folder);
};
