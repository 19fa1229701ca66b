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

std::optional<QUrl> qm_urlByResolvingAliasFile(const QUrl& url, Error* error)
{
    const auto path = localFilePath(url);
    struct stat status {};
    if (!path || ::lstat(path->constData(), &status) != 0) {
        qmSetError(error, resolutionError(ENOENT, url));
        return std::nullopt;
    }
    if (!S_ISLNK(status.st_mode))
        return url;

    // The kernel follows the chain and stops a loop after a bounded number of links (ELOOP).
    const std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path->constData(), nullptr),
                                                               &std::free);
    if (!resolved) {
        qmSetError(error, resolutionError(errno, url));
        return std::nullopt;
    }
    return QUrl::fromLocalFile(QFile::decodeName(resolved.get()));
}
