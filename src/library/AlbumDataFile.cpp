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

AlbumDataFile::~AlbumDataFile()
{
    if (m_mapped)
        m_file.unmap(reinterpret_cast<uchar*>(m_data));
}

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
    const qint64 size = m_file.size();
    if (size > 0)
        m_data = reinterpret_cast<char*>(m_file.map(0, size, QFileDevice::MapPrivateOption));
    if (m_data) {
        m_mapped = true;
        m_size = static_cast<qsizetype>(size);
        return true;
    }
    m_copy = m_file.readAll();
    if (m_file.error() != QFileDevice::NoError) {
        qmSetError(error, Error::fileReadError(m_file.fileName(), m_file.errorString(), m_url));
        return false;
    }
    m_size = m_copy.size();
    m_data = m_copy.data();
    return true;
}

bool AlbumDataFile::isBinary() const
{
    return m_size >= 6 && std::memcmp(m_data, "bplist", 6) == 0;
}
