#pragma once

#include "platform/foundation/Error.h"
#include "platform/foundation/PropertyList.h"

#include <QString>
#include <string>

// Per-user preference domains, one property-list file each:
// ${XDG_CONFIG_HOME:-~/.config}/zuzire/<domain>.plist, a dictionary at its root.
// Every call reads the file afresh, so a change made by another program (the library service
// registering a library) is seen at the next look-up. Any thread.
class Preferences {
public:
    // The domain of the program's own defaults and the domain of the library preference.
    static constexpr const char* applicationDomain = "com.quillmoss.lumendeck";
    static constexpr const char* libraryDomain = "com.apple.iApps";

    // The folder holding the domain files; XDG_CONFIG_HOME counts only when absolute.
    static QString directoryPath();
    // The domain's file. A domain is a plain name: empty names and names with '/' are a
    // programming error.
    static QString domainFilePath(const std::string& domain);

    // The stored value, or nullptr when the file is missing, unreadable, no dictionary, or
    // lacks the key.
    static PlistPtr copyValue(const std::string& key, const std::string& domain);

    // The whole domain, or nullptr as above (a missing file gives nullptr, not an empty domain).
    static PlistPtr copyDomain(const std::string& domain, Error* error = nullptr);

    // Stores `value` under `key` (nullptr removes the key) and rewrites the file atomically as XML,
    // which people can read and edit. A file that exists but cannot be read or is no dictionary
    // is left alone and reported, rather than replaced and its other settings lost.
    static bool setValue(const std::string& key, const PlistPtr& value, const std::string& domain,
                         Error* error = nullptr);
};
