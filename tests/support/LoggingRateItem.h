#pragma once

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <string>
#include <utility>
#include <vector>

// Puts a RateItem of its own in place for as long as it lives (through ZUZIRE_RESOURCE_DIR): it
// writes a line "ID STARS" for every rating, in the order they are written, and exits 0.
// Header-only.
class LoggingRateItem {
public:
    // `before` runs first, in the script's shell, where "$here" is the script's folder.
    explicit LoggingRateItem(const QByteArray& before = {})
    {
        m_previous = qgetenv("ZUZIRE_RESOURCE_DIR");
        copyResources(QString::fromLocal8Bit(m_previous));
        qputenv("ZUZIRE_RESOURCE_DIR", m_folder.path().toUtf8());
        QFile script(m_folder.filePath("RateItem"));
        m_ready = script.open(QIODevice::WriteOnly) &&
                  script.write("#!/bin/sh\nhere=$(dirname -- \"$0\")\n" + before +
                               "\necho \"$1 $2\" >> \"$here/ratings\"\n") > 0 &&
                  script.flush() &&
                  script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    ~LoggingRateItem() { qputenv("ZUZIRE_RESOURCE_DIR", m_previous); }
    LoggingRateItem(const LoggingRateItem&) = delete;
    LoggingRateItem& operator=(const LoggingRateItem&) = delete;

    bool isReady() const { return m_ready && m_folder.isValid(); }

    // A file in the script's folder.
    QString filePath(const QString& name) const { return m_folder.filePath(name); }

    // (identifier, stars) of every rating written so far, in order.
    std::vector<std::pair<std::string, int>> ratings() const
    {
        std::vector<std::pair<std::string, int>> written;
        QFile log(m_folder.filePath("ratings"));
        if (!log.open(QIODevice::ReadOnly))
            return written;
        for (const QByteArray& line : log.readAll().split('\n')) {
            const QList<QByteArray> words = line.split(' ');
            if (words.size() == 2)
                written.emplace_back(words[0].toStdString(), words[1].toInt());
        }
        return written;
    }

private:
    // The rest of the program's resources (its sounds, the help page) stay where it looks for them.
    void copyResources(const QString& from)
    {
        const QDir source(from);
        for (const QString& name : source.entryList(QDir::Files)) {
            if (name != QLatin1String("RateItem"))
                QFile::copy(source.filePath(name), m_folder.filePath(name));
        }
    }

    QTemporaryDir m_folder;
    QByteArray m_previous;
    bool m_ready = false;
};
