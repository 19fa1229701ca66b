#pragma once

#include "tools/library/ContentDigest.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <optional>

// Remembers the digest (ContentDigest) of album data contents that the program's own reader has
// accepted (or that the rating editor derived from such contents), so the next rating need not
// parse the whole file again to reach the same verdict. Any other contents (edited by hand or by
// another program) do not match and are parsed in full again. A stamp that is missing, stale or
// unsupported only costs that full parse, never a wrong verdict. Beside the digest it keeps a
// short note of the caller's about those very contents (the rating editor's map of where the
// photos are), valid exactly as long as the digest matches.
//
// The stamp is an extended attribute of the library's lock file ("user.zuzire.accepted"): the
// system replaces it whole in one step, so it needs no file of its own and no flush to disk (a
// stamp lost in a crash is only a stale one). File systems without user attributes keep none.
//
// Any thread; callers hold the library lock around a check and the write that follows it.
class ValidationStamp {
public:
    struct Recorded {
        qsizetype size = 0; // of the contents, in bytes
        uint64_t digest = 0;
        QByteArray note;

        bool describes(const ContentDigest& digest) const;
    };

    // The stamp of the file, when there is one that can be read.
    static std::optional<Recorded> recorded(const QString& albumDataPath);
    static bool record(const QString& albumDataPath, const ContentDigest& digest, QByteArrayView note = {});
    static void forget(const QString& albumDataPath);

    // Whether `bytes` are the contents last recorded for the file, and recording them, each with a
    // digest of its own.
    static bool matches(const QString& albumDataPath, QByteArrayView bytes);
    static bool record(const QString& albumDataPath, QByteArrayView bytes);
};
