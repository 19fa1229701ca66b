#include "platform/foundation/MappedReadGuard.h"

#include <QTemporaryDir>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace {
// A file of two pages of 'x', mapped, then cut to nothing as another program might.
class ShrunkMapping {
public:
    explicit ShrunkMapping(const QTemporaryDir& folder)
    {
        m_size = 2 * static_cast<size_t>(sysconf(_SC_PAGESIZE));
        const std::string path = folder.filePath("photo.raw").toStdString();
        m_fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        const std::string contents(m_size, 'x');
        EXPECT_EQ(::write(m_fd, contents.data(), m_size), static_cast<ssize_t>(m_size));
        m_bytes = static_cast<volatile const char*>(mmap(nullptr, m_size, PROT_READ, MAP_SHARED, m_fd, 0));
        EXPECT_NE(m_bytes, MAP_FAILED);
        EXPECT_EQ(m_bytes[0], 'x');
        EXPECT_EQ(ftruncate(m_fd, 0), 0);
    }
    ~ShrunkMapping()
    {
        munmap(const_cast<char*>(m_bytes), m_size);
        ::close(m_fd);
    }
    char at(size_t offset) const { return m_bytes[offset]; }
    size_t size() const { return m_size; }

private:
    int m_fd = -1;
    size_t m_size = 0;
    volatile const char* m_bytes = nullptr;
};
} // namespace

TEST(MappedReadGuardTest, AFileCutShortUnderAGuardReadsAsZerosAndIsReported)
{
    QTemporaryDir folder;
    ShrunkMapping mapping(folder);
    MappedReadGuard guard;
    EXPECT_FALSE(guard.fileShrank());
    EXPECT_EQ(mapping.at(0), 0);
    EXPECT_EQ(mapping.at(mapping.size() - 1), 0);
    EXPECT_TRUE(guard.fileShrank());
    {
        MappedReadGuard inner;
        EXPECT_FALSE(inner.fileShrank()) << "the pages already replaced fault no more";
    }
}

TEST(MappedReadGuardTest, WithoutAGuardTheProcessStillDies)
{
    QTemporaryDir folder;
    {
        // A guard made and gone leaves the handler installed but passing the signal on.
        MappedReadGuard earlier;
    }
    EXPECT_DEATH(
        {
            ShrunkMapping mapping(folder);
            (void)mapping.at(0);
        },
        "");
}
