#pragma once

#include "base/prompts.h"

#include <QString>

class KeywordList;

namespace List {

class EventPump;

// The file dialog of both commands, with `title`: text files first, then all files, several files
// may be chosen (the save dialog takes one and adds ".txt" to a name without an extension).
Prompts::FileRequest TextListDialog(const QString& title);

// Keyword list text files: one keyword per line, in the locale's encoding (UTF-8 here).
//
// Reading ends a line at a carriage return, at a carriage return followed by a line feed, and at a
// line feed alone (files written on Linux); the terminator is not part of the keyword. A last line
// without a terminator is still read; a file that ends with its terminator adds no empty entry, but
// every blank line does. A byte-order mark at the start stays part of the first keyword, so that a
// file loaded and saved again keeps its bytes.
//
// Appends every line of the file at `path` to the list. A missing file shows "File not found" and
// adds nothing. Throws AppError when the file cannot be opened or read; the lines read before the
// failure stay in the list.
void LoadTextList(KeywordList& list, const QString& path, Prompts& prompts, EventPump& pump);

// Writes the whole list to `path`, every keyword followed by CR LF (an empty list gives an empty
// file). The file is written beside its old version and takes its place only once everything is
// written, so a failure (no room, no permission) leaves the old file as it was. Throws AppError
// on failure. The file holds the list as it stood at one moment, even when another command removes
// entries while the window's events are processed.
void SaveTextList(const KeywordList& list, const QString& path, EventPump& pump);

} // namespace List
