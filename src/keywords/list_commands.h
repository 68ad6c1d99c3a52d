#pragma once

#include <QString>

class KeywordList;
class Prompts;
class Surface;

// The commands that edit the keyword list directly. The main window's handlers only ask the person
// and call these; the window is reached through the Surface (pointer and progress bar).
namespace List {

// Removes every entry whose text contains `text` (a plain, case-sensitive substring search).
// Positions are collected in one scan and removed from the end, a run of neighbouring positions
// at a time; very many scattered runs go in one pass instead. The progress bar follows the scan
// and is 0 at the end. The window's events are processed as the
// routine goes, so other commands can run meanwhile; should one of them remove entries, the
// routine starts over on the list as it then is rather than remove the wrong entries. Failures
// are reported with the routine's own error report and the routine goes on.
void RemoveItemsWith(KeywordList& list, const QString& text, Surface& surface, Prompts& prompts);

// The same for every entry whose text does not contain `text`.
void RemoveItemsWithout(KeywordList& list, const QString& text, Surface& surface, Prompts& prompts);

// The three sample keywords, appended after the entries already listed.
void AddSamples(KeywordList& list);

// Removes every entry, unless the window shows the hourglass (a long command is working).
void ClearUnlessBusy(KeywordList& list, const Surface& surface);

// Removes the entry at `position` (0 for none selected), unless the window shows the hourglass.
void RemoveSelectedUnlessBusy(KeywordList& list, const Surface& surface, int position);

} // namespace List
