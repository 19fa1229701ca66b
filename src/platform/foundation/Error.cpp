#include "platform/foundation/Error.h"

#include <QFileInfo>
#include <utility>

Error::Error(std::string domain, int code, std::string description, std::string failureReason, QUrl url)
    : m_domain(std::move(domain))
    , m_code(code)
    , m_description(std::move(description))
    , m_failureReason(std::move(failureReason))
    , m_url(std::move(url))
{}

std::string Error::description() const
{
    std::string text = "Error Domain=" + m_domain + " Code=" + std::to_string(m_code);
    if (!m_description.empty())
        text += " \"" + m_description + "\"";
    if (!m_failureReason.empty())
        text += " (" + m_failureReason + ")";
    if (!m_url.isEmpty())
        text += " URL=" + m_url.toString().toStdString();
    if (!m_userInfo.empty())
        text += " UserInfo=" + PlistValue::dictionary(m_userInfo)->description();
    return text;
}

Error Error::fileReadError(const QString& path, const QString& reason, const QUrl& url)
{
    const QFileInfo info(path);
    int code = fileReadUnknownError;
    QString text = QStringLiteral("The file \u201c%1\u201d couldn\u2019t be opened.");
    if (!info.exists()) {
        code = fileReadNoSuchFileError;
        text =
            QStringLiteral("The file \u201c%1\u201d couldn\u2019t be opened because there is no such file.");
    } else if (info.isFile() && !info.isReadable()) {
        code = fileReadNoPermissionError;
        text = QStringLiteral("The file \u201c%1\u201d couldn\u2019t be opened because you don\u2019t have "
                              "permission to view it.");
    }
    Error error(cocoaDomain, code, text.arg(info.fileName()).toStdString(), reason.toStdString(),
                url.isEmpty() ? QUrl::fromLocalFile(info.absoluteFilePath()) : url);
    error.setUserInfo({{"NSFilePath", PlistValue::string(info.absoluteFilePath().toStdString())}});
    return error;
}
