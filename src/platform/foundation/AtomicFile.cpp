#include "platform/foundation/AtomicFile.h"

#include <QDir>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <utility>

namespace {

std::optional<AtomicFile::Fault> injectedFault;

// Returns false with errno set when the test hook wants `step` to fail.
bool injected(AtomicFile::Step step)
{
    if (!injectedFault || injectedFault->step != step)
        return false;
    errno = injectedFault->code;
    return true;
}

const char* stepName(AtomicFile::Step step)
{
    switch (step) {
    case AtomicFile::Step::Open:
        return "creating the new file";
    case AtomicFile::Step::Write:
        return "writing";
    case AtomicFile::Step::Sync:
        return "flushing to disk";
    case AtomicFile::Step::Close:
        return "closing";
    case AtomicFile::Step::Rename:
        return "replacing the old file";
    case AtomicFile::Step::SyncFolder:
        return "flushing the folder";
    }
    return "writing";
}

int codeFor(int errnoValue)
{
    switch (errnoValue) {
    case ENOSPC:
    case EDQUOT:
        return AtomicFile::writeOutOfSpaceError;
    case EACCES:
    case EPERM:
        return AtomicFile::writeNoPermissionError;
    case EROFS:
        return AtomicFile::writeVolumeReadOnlyError;
    default:
        return AtomicFile::writeUnknownError;
    }
}

// The file a path finally names: a symbolic link is replaced through, not over.
QString targetOf(const QString& path)
{
    const QFileInfo info(path);
    if (!info.isSymLink())
        return info.absoluteFilePath();
    const QString target = info.canonicalFilePath();
    return target.isEmpty() ? QFileInfo(info.symLinkTarget()).absoluteFilePath() : target;
}

bool writeAll(int fd, QByteArrayView bytes)
{
    const char* next = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        if (injected(AtomicFile::Step::Write))
            return false;
        const ssize_t written = ::write(fd, next, size_t(left));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            if (written == 0)
                errno = EIO;
            return false;
        }
        next += written;
        left -= written;
    }
    return true;
}

// Folders that cannot be flushed (some file systems refuse) are no failure of ours.
bool syncFolder(const QByteArray& folder)
{
    if (injected(AtomicFile::Step::SyncFolder))
        return false;
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool synced = ::fsync(fd) == 0 || errno == EINVAL || errno == ENOTSUP;
    const int saved = errno;
    ::close(fd);
    errno = saved;
    return synced;
}

// A new file's name: short and fixed, so that it fits beside a target whose name takes the file
// system's whole limit, and so that what a killed writer left can be told from anybody else's file.
constexpr char temporaryPrefix[] = ".zuzire-write-";
constexpr int temporaryRandomLength = 6;

bool isTemporaryName(const char* name)
{
    constexpr size_t prefixLength = sizeof temporaryPrefix - 1;
    if (std::strncmp(name, temporaryPrefix, prefixLength) != 0 ||
        std::strlen(name) != prefixLength + temporaryRandomLength)
        return false;
    for (const char* c = name + prefixLength; *c; ++c)
        if (!((*c >= 'A' && *c <= 'Z') || (*c >= 'a' && *c <= 'z') || (*c >= '0' && *c <= '9')))
            return false;
    return true;
}

// Whether the temporary file `name` in `folder` was left by a writer that is gone: old enough,
// ours, and not locked by a writer still at work (every writer locks its file while it writes).
bool isStale(int folder, const char* name, time_t now)
{
    struct stat status {};
    if (::fstatat(folder, name, &status, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(status.st_mode) ||
        status.st_uid != ::geteuid() || now - status.st_mtime < AtomicFile::staleTemporarySeconds)
        return false;
    const int fd = ::openat(folder, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool unlocked = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    ::close(fd);
    return unlocked;
}

// Best effort: a folder that cannot be read or an entry that cannot go is no failure of a write.
void removeStaleTemporaries(const QByteArray& folderPath)
{
    DIR* folder = ::opendir(folderPath.constData());
    if (!folder)
        return;
    const time_t now = std::time(nullptr);
    while (const dirent* entry = ::readdir(folder)) {
        if (isTemporaryName(entry->d_name) && isStale(::dirfd(folder), entry->d_name, now))
            ::unlinkat(::dirfd(folder), entry->d_name, 0);
    }
    ::closedir(folder);
}

bool nameTooLong(const QString& path)
{
    const QFileInfo info(path);
    const long limit = ::pathconf(QFile::encodeName(info.absolutePath()).constData(), _PC_NAME_MAX);
    return QFile::encodeName(info.fileName()).size() > (limit > 0 ? limit : 255);
}

class TemporaryFile {
public:
    explicit TemporaryFile(const QString& target)
    {
        const QByteArray folder = QFile::encodeName(QFileInfo(target).absolutePath());
        m_name = folder + '/' + temporaryPrefix + QByteArray(temporaryRandomLength, 'X');
        if (injected(AtomicFile::Step::Open))
            return;
        removeStaleTemporaries(folder);
        m_fd = ::mkostemp(m_name.data(), O_CLOEXEC);
        if (m_fd < 0)
            return;
        m_exists = true;
        // Tells the stale-file sweep of another writer that this one is still at work.
        ::flock(m_fd, LOCK_EX | LOCK_NB);
        struct stat old {};
        const mode_t mode = ::stat(QFile::encodeName(target).constData(), &old) == 0
                                ? (old.st_mode & 07777)
                                : (0666 & ~currentUmask());
        ::fchmod(m_fd, mode);
    }
    ~TemporaryFile()
    {
        const int saved = errno;
        if (m_fd >= 0)
            ::close(m_fd);
        if (m_exists && !m_kept)
            ::unlink(m_name.constData());
        errno = saved;
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    int fd() const { return m_fd; }
    const QByteArray& name() const { return m_name; }

    bool close()
    {
        const int fd = std::exchange(m_fd, -1);
        if (injected(AtomicFile::Step::Close)) {
            ::close(fd);
            return false;
        }
        return ::close(fd) == 0;
    }
    void keep() { m_kept = true; }

private:
    static mode_t currentUmask()
    {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        return mask;
    }

    QByteArray m_name;
    int m_fd = -1;
    bool m_exists = false;
    bool m_kept = false;
};

} // namespace

void AtomicFile::setFaultForTesting(std::optional<Fault> fault)
{
    injectedFault = fault;
}

bool AtomicFile::hasNoFreeInodes(const QString& folder)
{
    struct statvfs space {};
    // File systems without a fixed number of inodes report none at all.
    return ::statvfs(QFile::encodeName(folder).constData(), &space) == 0 && space.f_files > 0 &&
           space.f_favail == 0;
}

std::string AtomicFile::causeOf(int code, const QString& folder)
{
    if (code == ENOSPC && hasNoFreeInodes(folder))
        return "the file system has no free inodes left, so no new file can be made there";
    return std::strerror(code);
}

Error AtomicFile::writeError(const QString& path, Step step, int code)
{
    const QFileInfo info(path);
    const bool noInodes = code == ENOSPC && hasNoFreeInodes(info.absolutePath());
    QString description =
        QStringLiteral("The file \u201c%1\u201d couldn\u2019t be saved.").arg(info.fileName());
    if (code == ELOOP)
        description = QStringLiteral("The file \u201c%1\u201d couldn\u2019t be saved because its symbolic "
                                     "links form a loop.")
                          .arg(info.fileName());
    if (noInodes)
        description = QStringLiteral("The file \u201c%1\u201d couldn\u2019t be saved because the file "
                                     "system has no free inodes.")
                          .arg(info.fileName());
    else if (code == ENOSPC || code == EDQUOT)
        description =
            QStringLiteral("The file \u201c%1\u201d couldn\u2019t be saved because there isn\u2019t "
                           "enough space.")
                .arg(info.fileName());
    const std::string reason = std::string(stepName(step)) + " " +
                               QDir::toNativeSeparators(info.absoluteFilePath()).toStdString() + ": " +
                               causeOf(code, info.absolutePath());
    Error error(Error::cocoaDomain, codeFor(code), description.toStdString(), reason,
                QUrl::fromLocalFile(info.absoluteFilePath()));
    error.setUserInfo({{"NSFilePath", PlistValue::string(info.absoluteFilePath().toStdString())},
                       {"NSUnderlyingError", PlistValue::integer(code)}});
    return error;
}

bool AtomicFile::write(const QString& path, const QByteArray& bytes, Error* error)
{
    return write(path, bytes, error, {});
}

bool AtomicFile::write(const QString& path, const QByteArray& bytes, Error* error,
                       const std::function<bool(Error*)>& mayReplace)
{
    return write(path, std::vector<QByteArrayView>{bytes}, error, mayReplace);
}

bool AtomicFile::write(const QString& path, const std::vector<QByteArrayView>& pieces, Error* error,
                       const std::function<bool(Error*)>& mayReplace)
{
    const QString target = targetOf(path);
    const auto fail = [&](Step step) {
        qmSetError(error, writeError(target, step, errno));
        return false;
    };
    // A loop of links has no file to replace; writing over one of its links would silently break
    // the loop somewhere the user did not ask for.
    struct stat existing {};
    if (::stat(QFile::encodeName(path).constData(), &existing) != 0 && errno == ELOOP)
        return fail(Step::Open);
    // Told before anything is made: the new file's own short name would fit, and the rename
    // would then fail with a cause that names neither.
    if (nameTooLong(target)) {
        errno = ENAMETOOLONG;
        return fail(Step::Open);
    }
    TemporaryFile file(target);
    if (file.fd() < 0)
        return fail(Step::Open);
    for (const QByteArrayView piece : pieces)
        if (!writeAll(file.fd(), piece))
            return fail(Step::Write);
    if (injected(Step::Sync) || ::fsync(file.fd()) != 0)
        return fail(Step::Sync);
    if (!file.close())
        return fail(Step::Close);
    if (mayReplace && !mayReplace(error))
        return false;
    if (injected(Step::Rename) ||
        ::rename(file.name().constData(), QFile::encodeName(target).constData()) != 0)
        return fail(Step::Rename);
    file.keep();
    if (!syncFolder(QFile::encodeName(QFileInfo(target).absolutePath())))
        return fail(Step::SyncFolder);
    return true;
}
