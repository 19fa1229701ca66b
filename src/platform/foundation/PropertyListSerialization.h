#pragma once

#include "platform/foundation/Error.h"
#include "platform/foundation/PropertyList.h"

#include <QByteArray>
#include <QString>

// Reads and writes whole property lists, binary or XML, to and from our own value tree. XML is
// read by XmlPlistBuilder, the reader of every XML property list here, and written by
// XmlPlistWriter; binary lists go through libplist.
// Any thread: every call works on its own data.
//
// Input is treated as hostile: malformed, truncated, cyclic, too deeply nested or explosively
// shared data gives an Error with the domain Error::cocoaDomain and code 259, never a crash.
class PropertyListSerialization {
public:
    enum class Format { Xml, Binary };

    // Containers nested deeper than this are refused (the root is level 1).
    static constexpr int maximumDepth = 512;
    // A binary list may share one object from many places; expanded into a tree it must stay below
    // this many nodes (dictionary keys included), so a small file cannot exhaust memory.
    static constexpr uint64_t maximumNodeCount = uint64_t(1) << 25;

    // Parses binary or XML data, told apart by their first bytes.
    static PlistPtr fromData(const QByteArray& data, Error* error = nullptr);

    // Reads the whole regular file and parses it. A file that cannot be read gives the file errors
    // of RegularFile (260 no such file, 257 no permission, 256 other, a folder or a FIFO among
    // them); unparsable contents 259. Both carry the file's URL.
    static PlistPtr readFile(const QString& path, Error* error = nullptr);

    // Empty on failure (a null node, a string holding NUL, a date outside the format's range).
    static QByteArray toData(const PlistPtr& value, Format format, Error* error = nullptr);

    // Writes beside the file and renames over it, so readers see the old or the new file, never a
    // half-written one; on failure the old file is left as it was.
    static bool writeFile(const QString& path, const PlistPtr& value, Format format, Error* error = nullptr);
};
