#pragma once

#include <QString>

class KeywordList;
class Prompts;

namespace CommandLine {

// Appends the keywords of a list file, read with the window's own readers: a workbook or CSV file
// (told by its extension: .csv, .xlsx, .xlsm, .ods, .xls) gives the first column of the sheet it
// opens at, one keyword per row; any other file is a text list, one keyword a line; "-" is a text
// list on standard input. Unlike the window, the command line trims every keyword, leaves blank
// ones out, and drops a first one that reads "keyword", "keywords" or "Keyword/s" (any case: a
// header, such as the window writes above the keywords of a saved workbook). Throws AppError,
// naming the file, when it is missing or cannot be read; the limits of the window's readers apply.
void LoadKeywordFile(KeywordList& list, const QString& path, Prompts& prompts);

// True when the name's extension is one of a workbook's or a CSV file's.
bool IsWorkbookName(const QString& path);

} // namespace CommandLine
