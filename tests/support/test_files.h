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
