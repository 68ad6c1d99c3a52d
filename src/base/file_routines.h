#pragma once

#include <QByteArray>
#include <QChar>
#include <QDir>
#include <QString>

class QSaveFile;

// The small file and path routines that the windows and the download machinery share.
// The path routines work with the platform's separator unless told another one, so the Windows
// rules ("\\", drive roots, network paths) and the Linux ones can both be exercised.
namespace Main {

// True when the path names something whose modification time can be read (file or folder).
bool FileExists(const QString& path);

// True when the path names an existing folder; false for files, missing paths and errors.
bool FolderExists(const QString& path);

// Processes pending window events, deletes the file, and on failure tries once more after
// clearing its read-only mark. Failures are ignored.
void RemoveFile(const QString& path);

// The whole file as text: "" when it does not exist, "empty file" when it has no bytes, UTF-16 LE
// (mark included) when it begins with byte 255 or 254, otherwise decoded with the locale's
// encoding. Throws AppError when the file cannot be read.
QString ReadWholeFile(const QString& path);

// The file's first `maxBytes` bytes (all of a shorter file); empty when it does not exist or cannot
// be opened.
QByteArray ReadFileBytes(const QString& path, qint64 maxBytes);

// Writes the bytes from the file's first byte on, creating the file when absent. An existing file is
// not truncated: a longer old file keeps its tail. Throws AppError on failure.
void SaveBytesToFile(const QByteArray& bytes, const QString& path);

// Puts the file written through `file` in the place of the old one, once every byte reached the
// disk. "" when it did; otherwise the system's reason, and the old file is left as it was.
QString CommitSaveFile(QSaveFile& file);

// The text after the last separator; the whole text when it has none.
QString LastPathPart(const QString& text, QChar separator = QDir::separator());

// "" for ""; the text before the last "." when that dot is not the first character; else the text.
QString StripExtension(const QString& text);

// The text after the last "." anywhere in the text; the whole text when it has none.
QString ExtensionOf(const QString& text);

// Doubled separators become single ones in one left-to-right pass. A leading run of separators
// becomes exactly two with "\" (a network path) and exactly one with "/" (Linux has no such paths).
QString CollapseDoubleBackslashes(const QString& path, QChar separator = QDir::separator());

// Makes the folder and any missing folders above it, each readable by its owner only (mode 0700),
// as the desktop's own folders (the trash, the thumbnail cache) are made. Folders that exist keep
// their mode. True when the path is a folder afterwards.
bool MakePrivateFolders(const QString& path);

} // namespace Main
