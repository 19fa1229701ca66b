#pragma once

#include <QByteArray>
#include <QSize>
#include <QtGlobal>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// What RawPreview asks of the metadata library about a RAW file whose own structure does not say
// where its preview is. The library lives in a module of its own (RawMetadataModule), loaded the
// first time a file needs it, so the program does not load it at start-up; this interface is all
// the two share. Implementations are used from any thread: every call works on its own file.
class RawMetadataReader {
public:
    // The container a RAW format is to the library; DNG, NEF and ARW are TIFF files to it.
    enum class Container { Tiff, Cr2, Bmff, Orf, Raf, Rw2 };

    // Where a JPEG may lie in the file, in bytes from its start, as the metadata says: possibly
    // nonsense, which the caller checks against the file.
    struct Place {
        qint64 offset = 0;
        qint64 length = 0;
    };

    // The largest preview as the library itself lists and copies it, a JPEG wrapped in a TIFF
    // unwrapped; `data` lies in memory `owner` keeps.
    struct ListedPreview {
        std::shared_ptr<const void> owner;
        QByteArray data;
        QSize size; // invalid when the library does not say
    };

    // One file's metadata, read whole when opened.
    class File {
    public:
        virtual ~File() = default;
        // The places cameras store a whole JPEG preview at: the format's native previews, and
        // each TIFF image's JPEGInterchangeFormat and single JPEG strip.
        virtual std::vector<Place> storedJpegs() const = 0;
        // Made only when no stored JPEG is found: the listing copies every preview it lists.
        virtual std::optional<ListedPreview> largestListedPreview() const = 0;
        // The EXIF orientation as recorded, or nothing.
        virtual std::optional<long> orientation() const = 0;
    };

    virtual ~RawMetadataReader() = default;

    // Opens the file at `name` (a path the library may open by name) and reads its metadata:
    // nullptr when its contents are of no format the library knows or not of `container`; throws
    // a std::exception when the metadata cannot be read.
    virtual std::unique_ptr<File> open(const std::string& name, Container container) = 0;
};
