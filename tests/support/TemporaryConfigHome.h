#pragma once

#include <QByteArray>
#include <QTemporaryDir>

// Points XDG_CONFIG_HOME at a fresh temporary folder for the life of the object, so tests never
// read or write the real user's configuration; the previous value comes back afterwards.
class TemporaryConfigHome {
public:
    TemporaryConfigHome();
    ~TemporaryConfigHome();
    TemporaryConfigHome(const TemporaryConfigHome&) = delete;
    TemporaryConfigHome& operator=(const TemporaryConfigHome&) = delete;

    QString path() const { return m_folder.path(); }

private:
    QTemporaryDir m_folder;
    QByteArray m_previous;
    bool m_wasSet;
};
