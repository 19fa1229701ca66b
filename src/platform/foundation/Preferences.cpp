#include "platform/foundation/Preferences.h"

#include "platform/foundation/InternalInconsistency.h"
#include "platform/foundation/PropertyListSerialization.h"

#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QUrl>

namespace {
constexpr int fileWriteUnknownError = 512;
// Writers of one domain (the program, the library service) wait this long for each other.
constexpr int lockTimeoutMilliseconds = 5000;
} // namespace

QString Preferences::directoryPath()
{
    const QString configHome = qEnvironmentVariable("XDG_CONFIG_HOME");
    const QString base =
        QDir::isAbsolutePath(configHome) ? configHome : QDir::homePath() + QStringLiteral("/.config");
    return QDir::cleanPath(base + QStringLiteral("/zuzire"));
}

QString Preferences::domainFilePath(const std::string& domain)
{
    QM_CASSERT(!domain.empty() && domain.find('/') == std::string::npos && domain != "." && domain != "..",
               "Preferences", "Invalid parameter not satisfying: domain is a plain name");
    return directoryPath() + QLatin1Char('/') + QString::fromStdString(domain) + QStringLiteral(".plist");
}

PlistPtr Preferences::copyDomain(const std::string& domain, Error* error)
{
    auto root = PropertyListSerialization::readFile(domainFilePath(domain), error);
    if (root && !root->isDictionary()) {
        qmSetError(error, Error(Error::cocoaDomain, Error::fileReadCorruptFileError,
                                "The preferences file holds no dictionary.", {},
                                QUrl::fromLocalFile(domainFilePath(domain))));
        return nullptr;
    }
    return root;
}

PlistPtr Preferences::copyValue(const std::string& key, const std::string& domain)
{
    const auto root = copyDomain(domain);
    return root ? root->objectForKey(key) : nullptr;
}

bool Preferences::setValue(const std::string& key, const PlistPtr& value, const std::string& domain,
                           Error* error)
{
    const QString path = domainFilePath(domain);
    if (!QDir().mkpath(directoryPath())) {
        qmSetError(error, Error(Error::cocoaDomain, fileWriteUnknownError,
                                "The preferences folder could not be made.", {},
                                QUrl::fromLocalFile(directoryPath())));
        return false;
    }
    QLockFile lock(path + QStringLiteral(".lock"));
    if (!lock.tryLock(lockTimeoutMilliseconds)) {
        qmSetError(error, Error(Error::cocoaDomain, fileWriteUnknownError,
                                "The preferences file is locked by another program.", {},
                                QUrl::fromLocalFile(path)));
        return false;
    }
    Error readError;
    auto root = copyDomain(domain, &readError);
    if (!root && readError.code() != Error::fileReadNoSuchFileError) {
        qmSetError(error, std::move(readError));
        return false;
    }
    PlistDictionary entries = root ? *root->asDictionary() : PlistDictionary();
    if (value)
        entries[key] = value;
    else
        entries.erase(key);
    return PropertyListSerialization::writeFile(path, PlistValue::dictionary(std::move(entries)),
                                                PropertyListSerialization::Format::Xml, error);
}
