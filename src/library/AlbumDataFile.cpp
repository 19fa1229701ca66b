#include "library/AlbumDataFile.h"

#include <QFileInfo>
#include <cstring>

namespace {
constexpr int fileReadUnsupportedSchemeError = 262;

std::optional<QString> localPath(const QUrl& url)
{
    if (!url.isLocalFile() || !(url.host().isEmpty() || url.host() == QLatin1String("localhost")))
        return std::nullopt;
    if (url.path().isEmpty())
        return std::nullopt;
    return url.path();
}

} // namespace

AlbumDataFile::AlbumDataFile(const QUrl& url, const QString& path)
    : m_url(url)
    , m_file(path)
{}

AlbumDataFile::~AlbumDataFile() = default;

std::unique_ptr<AlbumDataFile> AlbumDataFile::open(const QUrl& url, Error* error)
{
    const auto path = localPath(url);
    if (!path) {
        qmSetError(error, Error(Error::cocoaDomain, fileReadUnsupportedSchemeError,
                                "The file couldn\u2019t be opened because the specified URL type isn\u2019t "
                                "supported.",
                                {}, url));
        return nullptr;
    }
    std::unique_ptr<AlbumDataFile> file(new AlbumDataFile(url, *path));
    if (!file->load(error))
        return nullptr;
    return file;
}

bool AlbumDataFile::load(Error* error)
{
    if (QFileInfo(m_file.fileName()).isDir() || !m_file.open(QIODevice::ReadOnly)) {
        qmSetError(error, Error::fileReadError(m_file.fileName(), m_file.errorString(), m_url));
        return false;
    }
    // A file that reports no size (a pipe, a file in /proc) is read to its end instead.
    const qint64 size = m_file.isSequential() ? 0 : m_file.size();
    if (size <= 0 || !readKnownSize(size))
        m_contents = m_file.readAll();
    if (m_file.error() != QFileDevice::NoError) {
        qmSetError(error, Error::fileReadError(m_file.fileName(), m_file.errorString(), m_url));
        return false;
    }
    return true;
}

bool AlbumDataFile::readKnownSize(qint64 size)
{
    // Uninitialised: the read overwrites every byte, and clearing a hundred megabytes first
    // would cost as much as a page copy.
    m_contents = QByteArray(static_cast<qsizetype>(size), Qt::Uninitialized);
    const qint64 read = m_file.read(m_contents.data(), size);
    if (read == size && m_file.atEnd())
        return true;
    // The file changed while it was read: start over and take whatever it holds now.
    m_contents.clear();
    m_file.seek(0);
    return false;
}

bool AlbumDataFile::isBinary() const
{
    return m_contents.size() >= 6 && std::memcmp(m_contents.constData(), "bplist", 6) == 0;
}
