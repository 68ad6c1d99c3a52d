#pragma once

#include <QString>

// Where the download run puts a picture. A kept picture of keyword cat with extension jpg is named
// the folder followed by "cat 1.jpg", "cat 2.jpg" and so on. Every name is made from one safe part,
// is checked to stand directly in the chosen folder, and is created without replacing anything.
namespace DownloadTarget {

// The folder field as a prefix: the text with one "/" added when it does not end in one, so a
// folder typed without its trailing separator means that folder.
QString folderPrefix(const QString& folderText);

// Why the folder cannot take pictures ("" when it can): it must be an existing folder that this
// user may write into. The reason is the system's ("No such file or directory").
QString folderProblem(const QString& folder);

// The keyword as one file-name part: "/", "\" and control characters (NUL included) become "_";
// everything else stays as typed.
QString namePart(const QString& keyword);

// False for a name part that names no file of its own: empty, "." or "..".
bool usableNamePart(const QString& part);

// folder + part + " " + number + "." + extension. The part is cut (never inside a character) so
// that the name stays within the file systems' 255 bytes.
QString path(const QString& folder, const QString& part, int number, const QString& extension);

// The name for the next kept picture: the lowest number, not below kept + 1, whose name is free.
QString freePath(const QString& folder, const QString& part, int kept, const QString& extension);

// Creates a fresh, empty, hidden file for curl to write to in `folder`
// (".glimmerfetch-PID-RANDOM.part"), so that the kept picture can be moved into place without
// copying. The file is created exclusively: nothing that was there is opened or replaced. Returns ""
// with the system's reason in *error when it cannot be created.
QString createPartial(const QString& folder, QString* error = nullptr);

// Moves `from` to `to` unless `to` exists: renameat2 with RENAME_NOREPLACE, or on file systems
// without it a hard link and the removal of the old name. Never a copy. Returns 0 or the errno.
int moveNoReplace(const QString& from, const QString& to);

// Moves a finished download to the first free name from kept + 1 on with a primitive that never
// replaces an existing file, after checking that the name's folder is `folder` itself. Returns the
// name it took, or "" when the download could not be moved (it is then left where it was, for the
// caller to delete).
QString keep(const QString& download, const QString& folder, const QString& part, int kept,
             const QString& extension);

} // namespace DownloadTarget
