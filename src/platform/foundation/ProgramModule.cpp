#include "platform/foundation/ProgramModule.h"

#include "platform/foundation/Resources.h"

#include <QDir>
#include <QFileInfo>
#include <QLibrary>

QString ProgramModule::directory()
{
    const QString own = Resources::executableDirectory();
    const QString fromBin = QDir::cleanPath(own + QStringLiteral("/" ZUZIRE_MODULE_DIR_FROM_BIN));
    // A helper program that lies among the modules itself (the library tool's whole form, which
    // the lean one hands import and list on to) finds them beside it.
    return QFileInfo(fromBin).isDir() ? fromBin : own;
}

QString ProgramModule::path(const char* environmentVariable, const char* fileName)
{
    const QString overridden = qEnvironmentVariable(environmentVariable);
    if (!overridden.isEmpty())
        return overridden;
    return directory() + QLatin1Char('/') + QLatin1String(fileName);
}

QFunctionPointer ProgramModule::entryPoint(const QString& path, const char* name, QString* why)
{
    // The hint keeps the library loaded even when another QLibrary of the same file is unloaded:
    // what the module made must outlive that.
    QLibrary library(path);
    library.setLoadHints(QLibrary::PreventUnloadHint);
    if (!library.load()) {
        if (why)
            *why = library.errorString();
        return nullptr;
    }
    const QFunctionPointer function = library.resolve(name);
    if (!function && why)
        *why = QStringLiteral("%1 has no %2").arg(library.fileName(), QLatin1String(name));
    return function;
}
