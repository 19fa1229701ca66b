#pragma once

#include "platform/foundation/Error.h"

#include <QByteArray>
#include <QSize>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

// The largest preview image a camera RAW file embeds (DNG, CR2, CR3, NEF, ARW, ORF, RAF, RW2), and
// the orientation the camera recorded for the photo. A RAW file is shown through that preview:
// decoding the sensor data would cost seconds a photo, while the preview is an ordinary JPEG,
// usually as large as the screen or larger, which the scaled JPEG decode handles like any photo.
//
// The metadata library stays behind this class: nothing else in the program includes it.
//
// A file is taken as RAW by its name's suffix, and then only when its contents are of the format
// the suffix names (a JPEG renamed to .nef is refused, not shown through its thumbnail). Only a
// regular file of at most RegularFile::maximumSize bytes is opened, and the file is read in place
// (mapped), so only the parts the metadata and the preview occupy are read. The TIFF-based formats
// (DNG, NEF, ARW, CR2) are read without the metadata library where their first images say where
// the preview is and how the photo is turned (they do in the files cameras write): the library
// costs more than decoding a small preview.
//
// Any thread: every call works on its own file; the library's one-time set-up is guarded.
class RawPreview {
public:
    // The suffixes of the RAW formats shown, in lower case, without the dot.
    static const QStringList& suffixes();
    // Whether the file's name has one of those suffixes, in any case.
    static bool hasRawSuffix(const QString& fileName);

    // The largest preview of the RAW file at `path`, or nothing with `error` set: the file is not
    // a regular file or too large, its contents are not of the format its suffix names, its
    // metadata cannot be read, or it holds no preview. The error's failure reason is a short
    // phrase for messages ("no embedded preview image").
    //
    // With `sizeOnly`, the preview's bytes are left unread where its size can be had without them
    // (data() is then empty): for learning the size of many files quickly.
    static std::optional<RawPreview> read(const QString& path, Error* error = nullptr, bool sizeOnly = false);

    // The encoded preview, as stored in the file: a JPEG, or whatever image format the file holds.
    // Valid while this object lives. It may refer to the library's own copy or lie in the RAW file
    // itself, mapped: read it under a MappedReadGuard, since another program may cut the file short
    // meanwhile.
    const QByteArray& data() const { return m_data; }
    // Width and height of the preview in pixels as stored (before the orientation); invalid when
    // the file does not say.
    QSize storedSize() const { return m_storedSize; }
    // The EXIF orientation of the photo, 1 (upright) to 8; it applies to the preview, which the
    // camera stores as it stores the sensor's pixels.
    int orientation() const { return m_orientation; }

private:
    RawPreview() = default;

    std::shared_ptr<const void> m_owner; // keeps the bytes m_data refers to
    QByteArray m_data;
    QSize m_storedSize;
    int m_orientation = 1;
};
