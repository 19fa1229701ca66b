#pragma once

#include <QString>
#include <optional>
#include <string_view>

// Where a photo's file likely lies, read from an album data file without the library's lock, so
// that work on the photo's sidecar can be done before the lock is taken: the "ImagePath" string
// that follows the photo's key where it stands written as libraries write it ("<key>ID</key>"),
// in plain text. Only a guess: the file may be replaced meanwhile, the same text may stand in a
// comment. A caller compares it with what it learns under the lock. Any thread.
class PhotoPathGuess {
public:
    static std::optional<QString> read(const QString& albumDataPath, std::string_view key);
    static std::optional<QString> find(std::string_view xml, std::string_view key);
};
