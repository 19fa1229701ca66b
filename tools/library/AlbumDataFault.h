#pragma once

#include "platform/foundation/Error.h"

#include <QString>
#include <string>

// The rating change's errors about an album data file, worded alike whatever the file's format:
// one sentence naming the file, in Error::cocoaDomain, carrying the file's URL.
namespace AlbumDataFault {
Error failure(const QString& path, int code, const QString& text);
// Contents the program's reader refuses, `reason` being its own words.
Error unsound(const QString& path, const QString& reason);
Error notADictionary(const QString& path);
Error noSuchPhoto(const QString& path, const std::string& key);
} // namespace AlbumDataFault
