#include "platform/foundation/RegularFile.h"

#include "platform/foundation/HugePageBytes.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// Why a file that exists is not read, beyond what errno says.
enum class Refusal { None, Folder, Fifo, Device, Socket, Other, TooLarge, Changed };

const char* becauseOf(Refusal refusal)
{
    switch (refusal) {
    case Refusal::Folder:
        return " because it is a folder, not a file.";
    case Refusal::Fifo:
        return " because it is a named pipe (FIFO), not a regular file.";
    case Refusal::Device:
        return " because it is a device, not a regular file.";
    case Refusal::Socket:
        return " because it is a socket, not a regular file.";
    case Refusal::Other:
        return " because it is not a regular file.";
    case Refusal::TooLarge:
        return " because it is larger than 2 GB.";
    case Refusal::Changed:
        return " because another program changed it while it was read.";
    case Refusal::None:
        break;
    }
    return ".";
}

Refusal refusalFor(mode_t mode)
{
    if (S_ISREG(mode))
        return Refusal::None;
    if (S_ISDIR(mode))
        return Refusal::Folder;
    if (S_ISFIFO(mode))
        return Refusal::Fifo;
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return Refusal::Device;
    if (S_ISSOCK(mode))
        return Refusal::Socket;
    return Refusal::Other;
}

const char* const failureKey = "RegularFileFailure";

RegularFile::Failure failureFor(Refusal refusal, int code, bool reading)
{
    using Failure = RegularFile::Failure;
    switch (refusal) {
    case Refusal::Folder:
        return Failure::Folder;
    case Refusal::Fifo:
        return Failure::Fifo;
    case Refusal::Device:
        return Failure::Device;
    case Refusal::Socket:
        return Failure::Socket;
    case Refusal::Other:
        return Failure::Other;
    case Refusal::TooLarge:
        return Failure::TooLarge;
    case Refusal::Changed:
        return Failure::Changed;
    case Refusal::None:
        break;
    }
    if (code == EFBIG || code == EOVERFLOW)
        return Failure::TooLarge;
    if (code == EISDIR)
        return Failure::Folder;
    return reading ? Failure::Read : Failure::Open;
}

Error makeError(const QString& path, int code, Refusal refusal, const QUrl& url, bool reading = false)
{
    const QFileInfo info(path);
    const QString name = info.fileName();
    int errorCode = Error::fileReadUnknownError;
    std::string because = becauseOf(refusal);
    if (refusal == Refusal::None) {
        if (code == ENOENT || code == ENOTDIR) {
            errorCode = Error::fileReadNoSuchFileError;
            because = " because there is no such file.";
        } else if (code == EACCES || code == EPERM) {
            errorCode = Error::fileReadNoPermissionError;
            because = " because you don\u2019t have permission to view it.";
        } else if (code == ELOOP) {
            because = " because its symbolic links form a loop.";
        } else if (code == EFBIG || code == EOVERFLOW) {
            because = becauseOf(Refusal::TooLarge);
        } else if (code == EISDIR) {
            because = becauseOf(Refusal::Folder);
        }
    }
    const std::string description =
        "The file \u201c" + name.toStdString() + "\u201d couldn\u2019t be opened" + because;
    std::string reason = info.absoluteFilePath().toStdString() + ": ";
    reason += refusal == Refusal::None ? std::strerror(code) : description;
    Error error(Error::cocoaDomain, errorCode, description, reason,
                url.isEmpty() ? QUrl::fromLocalFile(info.absoluteFilePath()) : url);
    error.setUserInfo({{"NSFilePath", PlistValue::string(info.absoluteFilePath().toStdString())},
                       {"NSUnderlyingError", PlistValue::integer(code)},
                       {failureKey, PlistValue::integer(int(failureFor(refusal, code, reading)))}});
    return error;
}

// Reads up to `size` bytes at `offset`; fewer only at the end of the file.
bool readFully(int fd, char* into, qint64 size, qint64& got, qint64 offset = 0)
{
    got = 0;
    while (got < size) {
        const ssize_t count = ::pread(fd, into + got, size_t(size - got), off_t(offset + got));
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            return false;
        if (count == 0)
            break;
        got += count;
    }
    return true;
}
} // namespace

Error RegularFile::error(const QString& path, int code, const QUrl& url)
{
    return makeError(path, code, Refusal::None, url);
}

std::optional<RegularFile::Cause> RegularFile::causeOf(const Error& error)
{
    const auto failure = error.userInfo().find(failureKey);
    const auto code = error.userInfo().find("NSUnderlyingError");
    if (failure == error.userInfo().end() || code == error.userInfo().end() || !failure->second ||
        !failure->second->asInteger() || !code->second || !code->second->asInteger())
        return std::nullopt;
    return Cause{Failure(*failure->second->asInteger()), int(*code->second->asInteger())};
}

int RegularFile::open(const QString& path, Error* error, const QUrl& url)
{
    const QByteArray name = QFile::encodeName(path);
    // Looked at before opening: opening a FIFO for reading waits for a writer, and a socket cannot
    // be opened at all, so neither would say what it is.
    struct stat info {};
    if (::stat(name.constData(), &info) != 0) {
        qmSetError(error, makeError(path, errno, Refusal::None, url));
        return -1;
    }
    if (const Refusal refusal = refusalFor(info.st_mode); refusal != Refusal::None) {
        qmSetError(error, makeError(path, 0, refusal, url));
        return -1;
    }
    // Non-blocking, in case a FIFO took the file's place since: it then opens at once and is
    // refused below.
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        qmSetError(error, makeError(path, errno, Refusal::None, url));
        return -1;
    }
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        const int code = errno;
        ::close(fd);
        qmSetError(error, makeError(path, code,
                                    S_ISREG(info.st_mode) ? Refusal::None : refusalFor(info.st_mode), url));
        return -1;
    }
    // Back to blocking reads: a regular file never blocks, but a descriptor handed to other code
    // should behave as an ordinary one.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

std::optional<QByteArray> RegularFile::read(const QString& path, Error* error, const QUrl& url, qint64 limit)
{
    const int fd = open(path, error, url);
    if (fd < 0)
        return std::nullopt;
    const auto fail = [&](int code, Refusal refusal, bool reading = false) -> std::optional<QByteArray> {
        ::close(fd);
        qmSetError(error, makeError(path, code, refusal, url, reading));
        return std::nullopt;
    };
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        return fail(errno, Refusal::None);
    const qint64 size = info.st_size;
    if (size > limit || size > maximumSize)
        return fail(EFBIG, Refusal::TooLarge);
    // Uninitialised: the read overwrites every byte, and clearing a hundred megabytes first would
    // cost as much again. One byte more than the size, to see whether the file grew meanwhile.
    QByteArray contents = HugePageBytes::uninitialized(static_cast<qsizetype>(size) + 1);
    qint64 got = 0;
    if (!readFully(fd, contents.data(), size + 1, got))
        return fail(errno, Refusal::None, true);
    ::close(fd);
    if (got != size) {
        qmSetError(error, makeError(path, 0, Refusal::Changed, url));
        return std::nullopt;
    }
    contents.truncate(static_cast<qsizetype>(size));
    return contents;
}

bool RegularFile::holds(const QString& path, QByteArrayView bytes)
{
    const int fd = open(path);
    if (fd < 0)
        return false;
    // Small enough to stay in the processor's cache, large enough for few reads.
    constexpr qint64 pieceSize = qint64(256) << 10;
    QByteArray piece(pieceSize, Qt::Uninitialized);
    const qint64 size = bytes.size();
    bool same = true;
    // Up to one byte past the expected end, to see a file that is longer.
    for (qint64 at = 0; same && at <= size;) {
        const qint64 wanted = std::min(pieceSize, size + 1 - at);
        const qint64 expected = std::min(wanted, size - at);
        qint64 got = 0;
        same = readFully(fd, piece.data(), wanted, got, at) && got == expected &&
               (expected == 0 || std::memcmp(piece.constData(), bytes.data() + at, size_t(expected)) == 0);
        at += wanted;
    }
    ::close(fd);
    return same;
}
