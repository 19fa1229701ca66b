#include "platform/foundation/Error.h"

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
