#pragma once

#include <QString>
#include <QTemporaryDir>

// A small tmpfs mounted on a fresh temporary folder for the life of the object, so a test can fill
// a real file system to the last byte. Mounting needs root (or the capability); where it is
// refused, isMounted() is false and whyNot() says why, for the test's skip message.
class TmpfsMount {
public:
    // `kibibytes` is the file system's size; `inodes`, when above 0, how many files it can hold.
    explicit TmpfsMount(int kibibytes, int inodes = 0);
    ~TmpfsMount();
    TmpfsMount(const TmpfsMount&) = delete;
    TmpfsMount& operator=(const TmpfsMount&) = delete;

    bool isMounted() const { return m_mounted; }
    const QString& whyNot() const { return m_whyNot; }
    QString path() const { return m_folder.path(); }

    // Fills the file system with a file of its own until a write fails for lack of space, then
    // gives back `keepBytes` (rounded to whole pages by the file system). False when it never
    // filled up.
    bool fill(qint64 keepBytes = 0);
    // Makes empty files until no inode is left. False when it never ran out.
    bool useUpInodes();

private:
    QTemporaryDir m_folder;
    bool m_mounted = false;
    QString m_whyNot;
};
