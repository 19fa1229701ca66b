#pragma once

#include "platform/foundation/Error.h"
#include "platform/foundation/PropertyList.h"

#include <map>
#include <string>
#include <variant>

// A user-info value is a property-list value or an Error: a reload reports either its albums or
// why it failed, under different keys of one dictionary.
using NotificationValue = std::variant<PlistPtr, Error>;
using NotificationUserInfo = std::map<std::string, NotificationValue>;

// One posted notification, handed to each observer by const reference for the length of the call.
struct Notification {
    std::string name;
    // The sender. Compared by address only, never dereferenced; nullptr for none.
    const void* object = nullptr;
    NotificationUserInfo userInfo;

    // The property-list value under `key`; nullptr when absent or when it holds an Error.
    PlistPtr plistForKey(const std::string& key) const;
    // The Error under `key`; nullptr when absent or when it holds a property-list value.
    const Error* errorForKey(const std::string& key) const;
};
