#pragma once

#include "platform/foundation/PropertyList.h"

#include <QUrl>
#include <string>

// A failure of the environment (a missing file, a parse error): a value passed back to the caller,
// unlike InternalInconsistency, which is a programming error.
class Error {
public:
    // The program's own domain; it also marks "no unrated photos" after a reload.
    static constexpr const char* applicationDomain = "com.quillmoss.lumendeck";
    // errno values.
    static constexpr const char* posixDomain = "NSPOSIXErrorDomain";
    // File reading and property-list failures (260 no such file, 259 not a valid file).
    static constexpr const char* cocoaDomain = "NSCocoaErrorDomain";
    // Codes of the file-reading failures in cocoaDomain.
    static constexpr int fileReadUnknownError = 256;
    static constexpr int fileReadNoPermissionError = 257;
    static constexpr int fileReadCorruptFileError = 259;
    static constexpr int fileReadNoSuchFileError = 260;

    // The failure to read the file at `path`, told by what is there now: no such file, no
    // permission, or unknown; `reason` says what went wrong. It carries `url` (the file's own
    // URL when empty) and the path under "NSFilePath".
    static Error fileReadError(const QString& path, const QString& reason, const QUrl& url = {});

    Error() = default;
    Error(std::string domain, int code, std::string description = {}, std::string failureReason = {},
          QUrl url = {});

    const std::string& domain() const { return m_domain; }
    int code() const { return m_code; }
    const std::string& localizedDescription() const { return m_description; }
    const std::string& failureReason() const { return m_failureReason; }
    const QUrl& url() const { return m_url; }

    // Further detail for logs and handlers (for instance "NSFilePath"); empty by default.
    const PlistDictionary& userInfo() const { return m_userInfo; }

    void setUrl(const QUrl& url) { m_url = url; }
    void setUserInfo(PlistDictionary userInfo) { m_userInfo = std::move(userInfo); }

    // Readable form for log lines: Error Domain=… Code=… "description" (reason) URL=… UserInfo={…}.
    std::string description() const;

    bool operator==(const Error& other) const { return m_domain == other.m_domain && m_code == other.m_code; }

private:
    std::string m_domain;
    int m_code = 0;
    std::string m_description;
    std::string m_failureReason;
    QUrl m_url;
    PlistDictionary m_userInfo;
};

// Sets *slot when the caller asked for the error.
inline void qmSetError(Error* slot, Error error)
{
    if (slot)
        *slot = std::move(error);
}
