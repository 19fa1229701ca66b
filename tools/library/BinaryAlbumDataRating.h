#pragma once

#include "platform/foundation/Error.h"
#include "tools/library/PhotoRating.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <string>

// The rating change for an album data file written as a binary property list, which stays binary.
//
// A binary list shares values between places and addresses them by offsets, so one value cannot be
// changed where it stands: libplist decodes the list, the photo's entries are changed there (every
// entry of the photo, every "Rating" in it), and libplist encodes the whole again, keeping the
// order of keys and every value as the program reads it. Before the new contents replace the old,
// the program's reader reads them back, and they must read exactly as the old ones with the new
// rating; otherwise the old file stays. No ValidationStamp: every rating gives the full verdict.
//
// The caller holds the library's lock and has read the file. Any thread.
class BinaryAlbumDataRating {
public:
    // The program's own test (AlbumDataFile): contents that start so are read as a binary list, and
    // refused when they are no sound one.
    static bool isBinary(QByteArrayView bytes);

    // As PhotoRating::apply(), `bytes` being the contents of the file at the absolute `path`: the
    // photo's file is told to `beforeWriting` once the program reads the contents and finds the
    // photo's entry, and the file is replaced through AtomicFile.
    static bool apply(const QString& path, const QByteArray& bytes, const std::string& key, int stars,
                      Error* error, const PhotoRating::BeforeWriting& beforeWriting);
};
