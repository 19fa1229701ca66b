#pragma once

#include <QDir>
#include <QFile>
#include <sys/types.h>

// Whether any process of process group `group` still runs. A zombie does not count: a process
// whose parent has gone may wait to be reaped by a process that never does. Header-only.
inline bool processGroupRuns(pid_t group)
{
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& entry : entries) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        if (!entry.front().isDigit() || !stat.open(QIODevice::ReadOnly))
            continue;
        // "pid (name) state parent group ...": the name may hold spaces and parentheses.
        const QByteArray line = stat.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 2 && fields[0] != "Z" && fields[2].toLongLong() == group)
            return true;
    }
    return false;
}
