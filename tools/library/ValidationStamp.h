#pragma once

#include "platform/foundation/Error.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// Remembers, in a small file beside an album data file, a digest of contents that the program's
// own reader has accepted (or that the rating editor derived from such contents), so the next
// rating need not parse the whole file again to reach the same verdict. Any other contents
// (edited by hand, by an import, by another program) do not match and are parsed in full again.
// A stamp that is missing, damaged or stale only costs that full parse, never a wrong verdict.
//
// Any thread; callers hold the library lock around a check and the write that follows it.
class ValidationStamp {
public:
    static QString path(const QString& albumDataPath);

    // Whether `bytes` are the contents last recorded for the file.
    static bool matches(const QString& albumDataPath, QByteArrayView bytes);
    static bool record(const QString& albumDataPath, QByteArrayView bytes, Error* error = nullptr);

    // 64 bits of the contents and their length, as text.
    static QByteArray digest(QByteArrayView bytes);
};
