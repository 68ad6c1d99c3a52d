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

// The keyword as one file-name part: "/", "\" and control characters (NUL included) become "_", and
// so does a dot at the start (the file would be hidden) unless the part is "." or ".."; everything
// else stays as typed.
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
// with the system's reason in *error when it cannot be created. With `descriptor`, the file stays
// open (read and write, close-on-exec) and *descriptor holds it: whoever else writes in the folder
// may rename the name or put a link in its place, but not change which file the descriptor is.
QString createPartial(const QString& folder, QString* error = nullptr, int* descriptor = nullptr);

// The path through which the open `descriptor` itself is reached ("/dev/fd/N"), whatever became of
// the file's name; `path` where the system offers no such paths.
QString openedPath(const QString& path, int descriptor);

// True when `path` names, without following a link, the very regular file that `descriptor` holds.
bool isSameFile(const QString& path, int descriptor);

// Closes `descriptor` (when not -1) and removes `path` when it still is that file or is a link put
// in its place; another file that took the name stays.
void removePartial(const QString& path, int descriptor);

// Moves `from` to `to` unless `to` exists: renameat2 with RENAME_NOREPLACE, or on file systems
// without it a hard link and the removal of the old name. Never a copy. Returns 0 or the errno.
int moveNoReplace(const QString& from, const QString& to);

// Moves a finished download to the first free name from kept + 1 on with a primitive that never
// replaces an existing file, after checking that the name's folder is `folder` itself. With
// `descriptor` (the download's own file, held open), the download must still be that file, before
// the move and under its new name after it; a name that was swapped for another file or a link
// meanwhile is not kept. Returns the name it took, or "" when the download could not be moved (it
// is then left where it was, for the caller to delete).
QString keep(const QString& download, const QString& folder, const QString& part, int kept,
             const QString& extension, int descriptor = -1);

} // namespace DownloadTarget
