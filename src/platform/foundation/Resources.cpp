#include "platform/foundation/Resources.h"

#include <QCoreApplication>
#include <QDir>

QString Resources::directory()
{
    const QString overridden = qEnvironmentVariable("ZUZIRE_RESOURCE_DIR");
    if (!overridden.isEmpty())
        return overridden;
    return QDir::cleanPath(executableDirectory() + QStringLiteral("/../share/zuzire"));
}

QString Resources::path(const QString& name)
{
    return directory() + QLatin1Char('/') + name;
}

QString Resources::executableDirectory()
{
    return QCoreApplication::applicationDirPath();
}
