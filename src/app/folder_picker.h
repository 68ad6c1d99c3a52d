#pragma once

#include <QString>

class Prompts;

// The folder picker behind the "..." button of the save-folder field.
namespace AddFolder {

// Shows the modal folder chooser with `prompt` as its caption, opened at `startFolder` (the
// chooser's own default when that folder does not exist). Returns the chosen folder as an absolute
// path without a trailing "/" (the root stays "/"), or "" when the person cancelled or chose
// something that is not an existing folder.
QString BrowseForFolder(Prompts& prompts, const QString& prompt, const QString& startFolder);

} // namespace AddFolder
