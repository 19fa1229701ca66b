#pragma once

#include "platform/foundation/Error.h"
#include "tools/library/XmpPacket.h"

#include <QString>
#include <cstdint>
#include <optional>

// A photo's rating where other photo programs keep it: the XMP property xmp:Rating in a sidecar
// file beside the photo, or in the photo file's own XMP or EXIF metadata. A rating is 1 to 5
// stars, -1 for a rejected photo, 0 for none.
//
// Every write builds the new contents in memory and replaces the file through AtomicFile, so a
// failure leaves the old file as it was. Errors are one sentence naming the file.
//
// One thread at a time: the metadata library's XMP support is set up once per process and is not
// safe to use from several threads at once.
class XmpRating {
public:
    static constexpr int rejected = -1;
    static constexpr int none = 0;

    // How a photo's sidecar is named: "IMG_0001.JPG.xmp" (the photo's whole name, the default),
    // or "IMG_0001.xmp" (the extension replaced).
    enum class Naming { WholeName, BaseName };

    static QString sidecarPath(const QString& photoPath, Naming naming);

    // Sets xmp:Rating in the photo's sidecar, creating it when it is missing. Every other property
    // of an existing sidecar is kept: byte for byte where only the rating's own text needs to
    // change, else as the same properties written anew. A sidecar that is no XMP, that is
    // read-only, or that is a symbolic link leading out of the photo's folder is an error and is
    // left as it is.
    static bool writeSidecar(const QString& photoPath, Naming naming, int rating, Error* error = nullptr);

    // What writeSidecar() writes, made ahead: reading and parsing a large sidecar takes a while,
    // which a caller about to lock its library can spend before taking the lock.
    struct FileIdentity {
        bool operator==(const FileIdentity&) const = default;
        int64_t device = -1, inode = -1, linkInode = -1, size = -1, modified = -1, changed = -1;
    };
    struct PreparedSidecar {
        QString photoPath;
        Naming naming = Naming::WholeName;
        int rating = none;
        FileIdentity seen;             // the sidecar's before it was read
        int64_t seenAt = 0;            // when, in nanoseconds since the epoch by the system's clock
        std::optional<QByteArray> old; // what it held
        // The new contents: `old` with `edit` made, else `bytes`.
        std::optional<XmpPacket::Edit> edit;
        std::optional<QByteArray> bytes;
        Error error; // why there are none
    };
    static PreparedSidecar prepareSidecar(const QString& photoPath, Naming naming, int rating);
    // Writes the prepared contents where the sidecar is still the file they were made from, else
    // makes them again first. The same file, size and times tell that alone, unless the sidecar
    // had changed so shortly before it was seen that a change within the same tick of the file
    // system's clock would keep its times: then its bytes are compared too. Checked once the new
    // contents are written, right before they replace the old, so a change made meanwhile is
    // caught as late as can be.
    static bool writePrepared(const PreparedSidecar& prepared, Error* error = nullptr);

    // Sets xmp:Rating in the photo file itself (and its EXIF rating where it has one), keeping the
    // image data as it is. Formats the metadata library cannot write XMP into are an error, and so
    // are a read-only photo and one that is a symbolic link leading out of its folder.
    static bool writeIntoPhoto(const QString& photoPath, int rating, Error* error = nullptr);

    // The rating other programs show for the photo: the sidecar's (the one named by `naming`,
    // else the other naming), else the photo's own XMP rating, else its EXIF rating; `none` when
    // none of them has one. A sidecar that cannot be read is skipped with a sentence in `problem`.
    static int read(const QString& photoPath, Naming naming, QString* problem = nullptr);

    // The rating an import keeps for a photo that has the rating `ours` in the library, whose
    // rating elsewhere (read()) is `outside` now and was `seenAtLastImport` when last imported:
    // a rating elsewhere that changed since then wins, also over a change of ours (our ratings go
    // to the sidecar as they are made, so a difference is a later change made elsewhere, or one of
    // ours whose sidecar write failed and was reported). A rating elsewhere that is gone or none
    // never removes ours.
    static int64_t reconciled(int64_t ours, int seenAtLastImport, int outside);
};
