#pragma once

#include "platform/foundation/PlistDictionary.h"
#include "platform/foundation/PropertyList.h"

#include <string>

// A notification between programs of one user's session: a name, an object string that
// receivers can filter on (an address, such as a process ID), and a dictionary.
struct DistributedNotification {
    std::string name;
    std::string object;
    PlistDictionary userInfo;
};
