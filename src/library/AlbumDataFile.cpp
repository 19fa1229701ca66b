#include "library/AlbumDataFile.h"

#include "platform/foundation/RegularFile.h"

#include <cstring>

namespace {
constexpr int fileReadUnsupportedSchemeError = 262;

} // namespace

std::optional<QString> AlbumDataFile::localPath(const QUrl& url)
{
    if (!url.isLocalFile() || !(url.host().isEmpty() || url.host() == QLatin1String("localhost")))
        return std::nullopt;
    if (url.path().isEmpty())
        return std::nullopt;
    return url.path();
}

AlbumDataFile::AlbumDataFile(const QUrl& url, const QString& path)
    : m_url(url)
    , m_path(path)
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
    auto contents = RegularFile::read(m_path, error, m_url);
    if (!contents)
        return false;
    m_contents = std::move(*contents);
    return true;
}

bool AlbumDataFile::isBinary() const
{
    return m_contents.size() >= 6 && std::memcmp(m_contents.constData(), "bplist", 6) == 0;
}
