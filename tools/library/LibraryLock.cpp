#include "tools/library/LibraryLock.h"

#include "platform/foundation/AtomicFile.h"

#include <QDir>
#include <QFile>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <system_error>
#include <unistd.h>

LibraryLock::~LibraryLock()
{
    ::flock(m_descriptor, LOCK_UN);
    ::close(m_descriptor);
}

std::unique_ptr<LibraryLock> LibraryLock::acquire(const QString& libraryFolder, Error* error)
{
    const QByteArray path = QFile::encodeName(QDir(libraryFolder).filePath(QStringLiteral(".lock")));
    const int descriptor = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (descriptor < 0) {
        const int code = errno;
        qmSetError(error, Error(Error::posixDomain, code, AtomicFile::causeOf(code, libraryFolder)));
        return nullptr;
    }
    int status;
    do
        status = ::flock(descriptor, LOCK_EX);
    while (status != 0 && errno == EINTR);
    if (status != 0) {
        const int code = errno;
        ::close(descriptor);
        qmSetError(error, Error(Error::posixDomain, code, std::generic_category().message(code)));
        return nullptr;
    }
    return std::unique_ptr<LibraryLock>(new LibraryLock(descriptor));
}
