#include "library/QMAliasAdditions.h"

#include <QFile>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>
#include <sys/stat.h>
#include <system_error>

namespace {
// The path of a URL naming a file on this machine, or none.
std::optional<QByteArray> localFilePath(const QUrl& url)
{
    if (!url.isLocalFile() || !(url.host().isEmpty() || url.host() == QLatin1String("localhost")))
        return std::nullopt;
    const QString path = url.path();
    if (path.isEmpty())
        return std::nullopt;
    return QFile::encodeName(path);
}

Error resolutionError(int code, const QUrl& url)
{
    return Error(Error::posixDomain, code, std::generic_category().message(code), {}, url);
}
} // namespace

namespace {
// The path at the end of the chain of links starting at `path`, which names a local file: empty when
// `path` is no link (it is then its own end); nothing with the system's error code when it names no
// file or the chain cannot be followed.
std::optional<QByteArray> resolvedPath(const QByteArray& path, int& code)
{
    struct stat status {};
    if (path.isEmpty() || ::lstat(path.constData(), &status) != 0) {
        code = ENOENT;
        return std::nullopt;
    }
    if (!S_ISLNK(status.st_mode))
        return QByteArray();

    // The kernel follows the chain and stops a loop after a bounded number of links (ELOOP).
    const std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.constData(), nullptr),
                                                               &std::free);
    if (!resolved) {
        code = errno;
        return std::nullopt;
    }
    return QByteArray(resolved.get());
}
} // namespace

std::optional<QUrl> qm_urlByResolvingAliasFile(const QUrl& url, Error* error)
{
    const auto path = localFilePath(url);
    int code = ENOENT;
    const auto resolved = path ? resolvedPath(*path, code) : std::nullopt;
    if (!resolved) {
        qmSetError(error, resolutionError(code, url));
        return std::nullopt;
    }
    if (resolved->isEmpty())
        return url;
    return QUrl::fromLocalFile(QFile::decodeName(*resolved));
}

std::optional<QString> qm_pathByResolvingAliasFile(const QString& path, Error* error)
{
    const QByteArray name = QFile::encodeName(path);
    int code = ENOENT;
    const auto resolved = resolvedPath(name, code);
    if (!resolved) {
        qmSetError(error, resolutionError(code, QUrl::fromLocalFile(path)));
        return std::nullopt;
    }
    if (resolved->isEmpty())
        return path;
    return QFile::decodeName(*resolved);
}
