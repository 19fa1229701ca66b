#include "platform/foundation/Notification.h"

PlistPtr Notification::plistForKey(const std::string& key) const
{
    const auto found = userInfo.find(key);
    if (found == userInfo.end())
        return nullptr;
    const auto* value = std::get_if<PlistPtr>(&found->second);
    return value ? *value : nullptr;
}

const Error* Notification::errorForKey(const std::string& key) const
{
    const auto found = userInfo.find(key);
    return found == userInfo.end() ? nullptr : std::get_if<Error>(&found->second);
}
