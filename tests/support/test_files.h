#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

class KeywordList;

// The keywords of the list in order, for comparisons.
QStringList keywordsOf(const KeywordList& list);

// Writes the bytes as the whole file (the test fails when it cannot).
void writeBytes(const QString& path, const QByteArray& bytes);

// The whole file, or "<missing>" when it cannot be read.
QByteArray readBytes(const QString& path);

// Lays out a home folder for a fresh profile: the folders and empty files given, ".config", and
// ".config/user-dirs.dirs" with `userDirs` when that is not empty. False when something could not
// be made.
bool makeHome(const QString& home, const QStringList& folders, const QStringList& files,
              const QString& userDirs);

// A folder on a small file system of its own (tmpfs), for the cases of a full disk. Mounting needs
// root: where it cannot be done, mounted() is false and why() says so, for QSKIP. Unmounted (with
// everything on it) when it goes.
class SmallDisk {
public:
    explicit SmallDisk(const QString& folder, int kilobytes = 64);
    ~SmallDisk();
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    bool mounted() const { return mounted_; }
    const QString& why() const { return why_; }
    const QString& path() const { return folder_; }
    // Fills the disk to its last block with a file of its own.
    void fill();

private:
    QString folder_;
    QString why_;
    bool mounted_ = false;
};
