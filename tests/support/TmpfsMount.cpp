#include "support/TmpfsMount.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

TmpfsMount::TmpfsMount(int kibibytes, int inodes)
{
    QByteArray options = "size=" + QByteArray::number(kibibytes) + "k,mode=0700";
    if (inodes > 0)
        options += ",nr_inodes=" + QByteArray::number(inodes);
    if (!m_folder.isValid()) {
        m_whyNot = QStringLiteral("no temporary folder to mount on");
        return;
    }
    if (::mount("tmpfs", QFile::encodeName(m_folder.path()).constData(), "tmpfs", 0, options.constData()) !=
        0) {
        m_whyNot = QStringLiteral("mounting a tmpfs was refused (%1); run as root to test a full disk")
                       .arg(QString::fromLocal8Bit(std::strerror(errno)));
        return;
    }
    m_mounted = true;
}

TmpfsMount::~TmpfsMount()
{
    if (m_mounted)
        ::umount2(QFile::encodeName(m_folder.path()).constData(), MNT_DETACH);
}

bool TmpfsMount::fill(qint64 keepBytes)
{
    const QByteArray name = QFile::encodeName(m_folder.path() + QStringLiteral("/.filler"));
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    const QByteArray block(4096, 'f');
    qint64 size = 0;
    bool full = false;
    for (;;) {
        const ssize_t written = ::write(fd, block.constData(), size_t(block.size()));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            full = written < 0 && errno == ENOSPC;
            break;
        }
        size += written;
    }
    if (full && keepBytes > 0)
        full = ::ftruncate(fd, off_t(std::max<qint64>(0, size - keepBytes))) == 0;
    ::close(fd);
    return full;
}

bool TmpfsMount::useUpInodes()
{
    for (int made = 0; made < 1000000; ++made) {
        const QByteArray name = QFile::encodeName(m_folder.path() + QStringLiteral("/.inode%1").arg(made));
        const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0)
            return errno == ENOSPC;
        ::close(fd);
    }
    return false;
}
