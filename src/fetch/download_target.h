#pragma once

#include <QString>

// Where the download run puts a picture. A kept picture of keyword cat with extension jpg is named
// the folder text followed by "cat 1.jpg", "cat 2.jpg" and so on. The folder text is used exactly
// as typed, so a folder without its trailing separator puts the pictures beside the folder.
namespace DownloadTarget {

// folder + keyword + " " + number + "." + extension, nothing added or removed.
QString path(const QString& folder, const QString& keyword, int number, const QString& extension);

// The name for the next kept picture: the lowest number, not below kept + 1, whose name is free.
// In a folder without earlier pictures of the keyword that is exactly kept + 1, so a run never
// overwrites a picture that was there before it.
QString freePath(const QString& folder, const QString& keyword, int kept, const QString& extension);

// A fresh name for curl to write to, hidden, in the folder that will hold `target`, so that the
// kept picture can be moved into place without copying. No file of that name exists.
QString temporaryPath(const QString& target);

// Moves a finished download to the first free name from kept + 1 on, never replacing a file.
// Returns the name it took, or "" when the download could not be moved (it is then left where it
// was, for the caller to delete).
QString keep(const QString& download, const QString& folder, const QString& keyword, int kept,
             const QString& extension);

// True when the extension cut from an address can name a file in the folder: no path separator
// and no NUL, so an answer cannot steer a download out of the folder.
bool usableExtension(const QString& extension);

} // namespace DownloadTarget
