#include "tools/library/PhotoPathGuess.h"

#include "library/FileMapping.h"
#include "platform/foundation/MappedReadGuard.h"
#include "platform/foundation/RegularFile.h"

#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// The text between `open` and `close` at the start of `xml` (after white space), or nothing.
std::optional<std::string_view> enclosed(std::string_view xml, std::string_view open, std::string_view close)
{
    const size_t start = xml.find_first_not_of(" \t\r\n");
    if (start == std::string_view::npos || xml.substr(start, open.size()) != open)
        return std::nullopt;
    xml.remove_prefix(start + open.size());
    const size_t end = xml.find(close);
    if (end == std::string_view::npos)
        return std::nullopt;
    return xml.substr(0, end);
}
} // namespace

std::optional<QString> PhotoPathGuess::find(std::string_view xml, std::string_view key)
{
    // memmem, as a plain search stops at every '<' of the whole library.
    const std::string written = "<key>" + std::string(key) + "</key>";
    const void* entry = ::memmem(xml.data(), xml.size(), written.data(), written.size());
    if (!entry)
        return std::nullopt;
    xml.remove_prefix(size_t(static_cast<const char*>(entry) - xml.data()) + written.size());
    const auto dict = enclosed(xml, "<dict>", "</dict>");
    if (!dict)
        return std::nullopt;
    const size_t imagePath = dict->find("<key>ImagePath</key>");
    if (imagePath == std::string_view::npos)
        return std::nullopt;
    const auto path = enclosed(dict->substr(imagePath + 20), "<string>", "</string>");
    // Text with entities or markup is left to the reading under the lock.
    if (!path || path->find_first_of("&<") != std::string_view::npos)
        return std::nullopt;
    return QString::fromUtf8(path->data(), qsizetype(path->size()));
}

std::optional<QString> PhotoPathGuess::read(const QString& albumDataPath, std::string_view key)
{
    // Mapped rather than read, which costs a copy of the whole library.
    const int descriptor = RegularFile::open(albumDataPath);
    if (descriptor < 0)
        return std::nullopt;
    struct stat status {};
    const auto mapping =
        ::fstat(descriptor, &status) == 0 ? FileMapping::map(descriptor, size_t(status.st_size)) : nullptr;
    ::close(descriptor);
    if (!mapping)
        return std::nullopt;
    // One cut short meanwhile tells nothing.
    MappedReadGuard guard;
    auto found = find(std::string_view(reinterpret_cast<const char*>(mapping->data()), mapping->size()), key);
    if (guard.fileShrank())
        found.reset();
    return found;
}
