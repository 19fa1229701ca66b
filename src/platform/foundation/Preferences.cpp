#include "platform/foundation/Preferences.h"

#include "platform/foundation/AtomicFile.h"
#include "platform/foundation/InternalInconsistency.h"
#include "platform/foundation/PropertyListSerialization.h"

#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QUrl>
#include <cerrno>
#include <cstring>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {
constexpr int fileWriteUnknownError = 512;
// Writers of one domain (the program, the library service) wait this long for each other.
constexpr int lockTimeoutMilliseconds = 5000;
// Why the lock beside `path` could not be taken: held by another program, or not even made (a
// full disk, a read-only folder), which must not be blamed on another program.
Error lockError(const QLockFile& lock, const QString& path)
{
    const QString lockPath = path + QStringLiteral(".lock");
    if (lock.error() == QLockFile::LockFailedError)
        return Error(
            Error::cocoaDomain, fileWriteUnknownError,
            "The preferences file \u201c" + path.toStdString() + "\u201d is locked by another program.",
            "The lock file \u201c" + lockPath.toStdString() + "\u201d is held.", QUrl::fromLocalFile(path));
    struct statvfs space {};
    const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath());
    int code = EIO;
    if (::statvfs(folder.constData(), &space) == 0 &&
        (space.f_bavail == 0 || AtomicFile::hasNoFreeInodes(QFileInfo(path).absolutePath())))
        code = ENOSPC;
    else if (::access(folder.constData(), W_OK) != 0)
        code = errno;
    else if (lock.error() == QLockFile::PermissionError)
        code = EACCES;
    Error error = AtomicFile::writeError(path, AtomicFile::Step::Open, code);
    return Error(error.domain(), error.code(), error.localizedDescription(),
                 "making the lock file " + lockPath.toStdString() + ": " +
                     AtomicFile::causeOf(code, QFileInfo(path).absolutePath()),
                 QUrl::fromLocalFile(path));
}
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
    const QString path = domainFilePath(domain);
    Error readError;
    auto root = PropertyListSerialization::readFile(path, &readError);
    if (!root && readError.code() == Error::fileReadCorruptFileError) {
        // The parser's text alone does not say which file; a person needs to know.
        const QString name = QFileInfo(path).absoluteFilePath();
        const std::string text = QFileInfo(path).size() == 0
                                     ? "The preferences file \u201c" + name.toStdString() + "\u201d is empty."
                                     : "The preferences file \u201c" + name.toStdString() +
                                           "\u201d is damaged: " + readError.localizedDescription();
        readError = Error(Error::cocoaDomain, Error::fileReadCorruptFileError, text,
                          readError.localizedDescription(), QUrl::fromLocalFile(name));
    }
    if (!root) {
        qmSetError(error, std::move(readError));
        return nullptr;
    }
    if (!root->isDictionary()) {
        qmSetError(error,
                   Error(Error::cocoaDomain, Error::fileReadCorruptFileError,
                         "The preferences file \u201c" + QFileInfo(path).absoluteFilePath().toStdString() +
                             "\u201d holds no dictionary.",
                         {}, QUrl::fromLocalFile(path)));
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
        qmSetError(error, lockError(lock, path));
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
