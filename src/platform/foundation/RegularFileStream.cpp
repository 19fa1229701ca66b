#include "platform/foundation/RegularFileStream.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

RegularFileStream::RegularFileStream(int descriptor, qint64 size)
    : m_descriptor(descriptor)
    , m_size(size)
{}

RegularFileStream::~RegularFileStream()
{
    ::close(m_descriptor);
}

std::unique_ptr<RegularFileStream> RegularFileStream::open(const QString& path, Error* error, const QUrl& url,
                                                           qint64 limit)
{
    const int descriptor = RegularFile::open(path, error, url);
    if (descriptor < 0)
        return nullptr;
    struct stat info {};
    if (::fstat(descriptor, &info) != 0 || info.st_size > limit || info.st_size > RegularFile::maximumSize) {
        const int code = info.st_size > limit || info.st_size > RegularFile::maximumSize ? EFBIG : errno;
        ::close(descriptor);
        qmSetError(error, RegularFile::error(path, code, url));
        return nullptr;
    }
    ::posix_fadvise(descriptor, 0, 0, POSIX_FADV_SEQUENTIAL);
    return std::unique_ptr<RegularFileStream>(new RegularFileStream(descriptor, info.st_size));
}

qint64 RegularFileStream::read(char* into, qint64 capacity)
{
    for (;;) {
        const ssize_t count = ::read(m_descriptor, into, size_t(capacity));
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            return -1;
        m_offset += count;
        if (m_offset > m_size || (count == 0 && m_offset != m_size))
            return -1;
        return count;
    }
}
