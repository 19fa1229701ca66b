#include "tools/library/RegularFileReader.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
Error readError(const QString& path, int code, const QString& description)
{
    const int cocoaCode = code == ENOENT   ? Error::fileReadNoSuchFileError
                          : code == EACCES ? Error::fileReadNoPermissionError
                                           : Error::fileReadUnknownError;
    return Error(Error::cocoaDomain, cocoaCode, description.arg(path).toStdString(), {},
                 QUrl::fromLocalFile(path));
}

QString openFailure(int code)
{
    switch (code) {
    case ENOENT:
        return QStringLiteral("%1 does not exist");
    case EACCES:
        return QStringLiteral("no permission to read %1");
    case ELOOP:
        return QStringLiteral("%1 is a loop of symbolic links");
    case EISDIR:
        return QStringLiteral("%1 is a folder, not a file");
    default:
        return QStringLiteral("cannot open %1: ") + QString::fromLocal8Bit(std::strerror(code));
    }
}

// Why a file of this type cannot be read as a file, or empty for a regular file.
QString typeProblem(mode_t mode)
{
    if (S_ISREG(mode))
        return {};
    if (S_ISDIR(mode))
        return QStringLiteral("%1 is a folder, not a file");
    if (S_ISFIFO(mode))
        return QStringLiteral("%1 is a named pipe, not a regular file");
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return QStringLiteral("%1 is a device, not a regular file");
    if (S_ISSOCK(mode))
        return QStringLiteral("%1 is a socket, not a regular file");
    return QStringLiteral("%1 is not a regular file");
}

class Descriptor {
public:
    explicit Descriptor(int fd)
        : m_fd(fd)
    {}
    ~Descriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int fd() const { return m_fd; }

private:
    int m_fd;
};
} // namespace

std::optional<QByteArray> RegularFileReader::read(const QString& path, Error* error, qint64 limit)
{
    // Non-blocking, so opening a FIFO without a writer returns at once instead of waiting.
    const Descriptor file(
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (file.fd() < 0) {
        const int code = errno;
        qmSetError(error, readError(path, code, openFailure(code)));
        return std::nullopt;
    }
    struct stat info {};
    if (::fstat(file.fd(), &info) != 0) {
        const int code = errno;
        qmSetError(error, readError(path, code, openFailure(code)));
        return std::nullopt;
    }
    if (const QString problem = typeProblem(info.st_mode); !problem.isEmpty()) {
        qmSetError(error, readError(path, 0, problem));
        return std::nullopt;
    }
    if (info.st_size > limit) {
        qmSetError(error, readError(path, 0,
                                    QStringLiteral("%1 is too large (") + QString::number(info.st_size) +
                                        QStringLiteral(" bytes; at most ") + QString::number(limit) +
                                        QStringLiteral(" are read)")));
        return std::nullopt;
    }
    QByteArray bytes(qsizetype(info.st_size), Qt::Uninitialized);
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t got = ::read(file.fd(), bytes.data() + done, size_t(bytes.size() - done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            const int code = errno;
            qmSetError(error, readError(path, code,
                                        QStringLiteral("cannot read %1: ") +
                                            QString::fromLocal8Bit(std::strerror(code))));
            return std::nullopt;
        }
        if (got == 0) {
            qmSetError(error, readError(path, 0, QStringLiteral("%1 became shorter while it was read")));
            return std::nullopt;
        }
        done += got;
    }
    return bytes;
}
