#pragma once

#include <QByteArrayView>
#include <cstddef>
#include <memory>

// A read-only mapping of a whole file into memory, so that a photo's bytes reach the decoder
// without being copied: only the pages read are read from the file, and those already in the
// system's cache are shared with it rather than copied.
//
// Another program may cut the file short while it is mapped; reading a page that is gone then
// raises SIGBUS. Read the bytes under a MappedReadGuard and ask it afterwards whether that
// happened.
//
// Any thread; a mapping may be read from several at once.
class FileMapping {
public:
    // The file open as `fd` (which may be closed afterwards), of `size` bytes; null when it cannot
    // be mapped (errno says why) or is empty.
    static std::shared_ptr<const FileMapping> map(int fd, size_t size);
    ~FileMapping();
    FileMapping(const FileMapping&) = delete;
    FileMapping& operator=(const FileMapping&) = delete;

    const unsigned char* data() const { return m_data; }
    size_t size() const { return m_size; }
    QByteArrayView view(size_t offset, size_t length) const
    {
        return QByteArrayView(reinterpret_cast<const char*>(m_data) + offset, qsizetype(length));
    }

    // Maps the pages of the `length` bytes at `offset` at once, reading what the system has not
    // cached, instead of one page fault at a time as they are read: for bytes about to be read
    // whole. Only a hint: nothing happens where the system does not offer it.
    void prefetch(size_t offset, size_t length) const;

private:
    FileMapping(const unsigned char* data, size_t size)
        : m_data(data)
        , m_size(size)
    {}

    const unsigned char* m_data;
    size_t m_size;
};
