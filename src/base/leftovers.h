#pragma once

#include <QString>

// What a Glimmerfetch process that was killed could not remove: the partial download in the save
// folder (".glimmerfetch-<pid>-<16 hex digits>.part") and its private folder for curl in the
// temporary location ("glimmerfetch-<pid>-<6 letters or digits>"). Both names carry the process id,
// so a later start can tell the leftovers of a process that is gone from the files of one that runs.
namespace Main {

// The process id in a partial download's or private folder's name, or 0 when the name is not
// exactly of that form.
qint64 PartialDownloadPid(const QString& name);
qint64 PrivateFolderPid(const QString& name);

// True while a process with this id exists (also one of another user).
bool ProcessRuns(qint64 pid);

// Removes, from `saveFolder`, the partial downloads of processes that no longer run, and from
// `tempFolder` their private folders with the files in them. Only entries of the current user are
// touched: a partial download must be a regular file and a private folder a real directory (never a
// symbolic link, which is not followed either); a private folder that holds anything but files
// stays. Reports nothing; an empty folder text is skipped.
void RemoveLeftovers(const QString& saveFolder, const QString& tempFolder);

} // namespace Main
