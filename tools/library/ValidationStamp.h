#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// Remembers a digest of album data contents that the program's own reader has accepted (or that
// the rating editor derived from such contents), so the next rating need not parse the whole file
// again to reach the same verdict. Any other contents (edited by hand or by another program) do
// not match and are parsed in full again. A stamp that is missing, stale or unsupported only costs
// that full parse, never a wrong verdict.
//
// The stamp is an extended attribute of the library's lock file ("user.zuzire.accepted"): the
// system replaces it whole in one step, so it needs no file of its own and no flush to disk (a
// stamp lost in a crash is only a stale one). File systems without user attributes keep none.
//
// Any thread; callers hold the library lock around a check and the write that follows it.
class ValidationStamp {
public:
    // Whether `bytes` are the contents last recorded for the file.
    static bool matches(const QString& albumDataPath, QByteArrayView bytes);
    static bool record(const QString& albumDataPath, QByteArrayView bytes);
    static void forget(const QString& albumDataPath);

    // 64 bits of the contents and their length, as text.
    static QByteArray digest(QByteArrayView bytes);
};
