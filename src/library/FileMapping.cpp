#include "library/FileMapping.h"

#include <algorithm>
#include <sys/mman.h>
#include <unistd.h>

#ifndef MADV_POPULATE_READ
#define MADV_POPULATE_READ 22 // Linux 5.14 and later
#endif

std::shared_ptr<const FileMapping> FileMapping::map(int fd, size_t size)
{
    if (size == 0)
        return nullptr;
    void* data = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    if (data == MAP_FAILED)
        return nullptr;
    return std::shared_ptr<const FileMapping>(new FileMapping(static_cast<const unsigned char*>(data), size));
}

FileMapping::~FileMapping()
{
    ::munmap(const_cast<unsigned char*>(m_data), m_size);
}

void FileMapping::prefetch(size_t offset, size_t length) const
{
    if (offset >= m_size || length == 0)
        return;
    length = std::min(length, m_size - offset);
    static const size_t page = size_t(::sysconf(_SC_PAGESIZE));
    const size_t start = offset / page * page;
    // A file cut short meanwhile makes this fail (EFAULT); the read that follows finds out.
    ::madvise(const_cast<unsigned char*>(m_data) + start, offset + length - start, MADV_POPULATE_READ);
}
