#pragma once

#include "platform/foundation/Error.h"

#include <QString>
#include <memory>

// An exclusive lock on a library folder, held for as long as the object lives, so two runs of
// the library tool (an import and a rating script, two rating scripts) never write the album
// data file at the same time. Waits for a lock held by another process. Advisory (flock) on the
// file ".lock" in the folder.
class LibraryLock {
public:
    ~LibraryLock();
    LibraryLock(const LibraryLock&) = delete;
    LibraryLock& operator=(const LibraryLock&) = delete;

    // Fails (posix domain) when the lock file cannot be created.
    static std::unique_ptr<LibraryLock> acquire(const QString& libraryFolder, Error* error = nullptr);

private:
    explicit LibraryLock(int descriptor)
        : m_descriptor(descriptor)
    {}
    int m_descriptor;
};
