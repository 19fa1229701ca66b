#include "library/QMStringFeatures.h"

#include <QFile>

namespace {
// The path without trailing slashes; the root stays "/".
QString withoutTrailingSlashes(const QString& path)
{
    qsizetype end = path.size();
    while (end > 1 && path[end - 1] == QLatin1Char('/'))
        --end;
    return path.left(end);
}

QString withoutLeadingSlashes(const QString& text)
{
    qsizetype start = 0;
    while (start < text.size() && text[start] == QLatin1Char('/'))
        ++start;
    return text.mid(start);
}

QUrl urlWithPath(const QUrl& url, const QString& path)
{
    QUrl result;
    result.setScheme(url.scheme());
    result.setHost(url.host());
    result.setPath(path);
    return result;
}
} // namespace

QString qm_lastPathComponent(const QUrl& url)
{
    const QString path = withoutTrailingSlashes(url.path());
    if (path == QLatin1String("/"))
        return path;
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

QUrl qm_URLByDeletingLastPathComponent(const QUrl& url)
{
    const QString path = withoutTrailingSlashes(url.path());
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    if (slash < 0)
        return urlWithPath(url, QString());
    if (slash == 0)
        return urlWithPath(url, QStringLiteral("/"));
    return urlWithPath(url, withoutTrailingSlashes(path.left(slash)));
}

QUrl qm_URLByAppendingPathComponent(const QUrl& url, const QString& component)
{
    const QString base = withoutTrailingSlashes(url.path());
    const QString tail = withoutTrailingSlashes(withoutLeadingSlashes(component));
    if (tail.isEmpty())
        return urlWithPath(url, base);
    if (base.isEmpty())
        // A URL with a host cannot have a relative path.
        return urlWithPath(url, url.host().isEmpty() ? tail : QLatin1Char('/') + tail);
    if (base == QLatin1String("/"))
        return urlWithPath(url, base + tail);
    return urlWithPath(url, base + QLatin1Char('/') + tail);
}

QByteArray qm_fileSystemRepresentation(const QUrl& url)
{
    return QFile::encodeName(url.path());
}
