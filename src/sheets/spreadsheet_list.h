#pragma once

#include "sheets/workbook.h"

#include <QString>

#include <optional>

class ErrorTrap;
class KeywordList;
class Prompts;
class Surface;

// A workbook as OpenWorkbook hands it over: opened, or the reason why it could not be.
struct OpenedWorkbook {
    std::optional<Workbook> workbook;
    QString failure;
};

namespace List {

// True when this build carries the spreadsheet layer (it always does on this platform). Without
// it, says that the spreadsheet application is missing and returns false.
bool ExcelAvailable(Prompts& prompts);

// Opens the workbook at `path`. Nothing when the spreadsheet layer is missing (after saying so);
// otherwise the workbook, or the reason it could not be opened, which this routine does not show.
std::optional<OpenedWorkbook> OpenWorkbook(const QString& path, Prompts& prompts);

// Lets the user highlight a block of the workbook's active sheet and appends one keyword per
// block row: " " + text for every non-empty cell, left to right; an empty row gives the empty
// keyword. The block is clipped to the sheet's used range. Sets the hourglass while it works.
void ExcelToListview(KeywordList& list, const QString& path, Prompts& prompts, Surface& surface);

} // namespace List

// The two commands of the main window's spreadsheet buttons, statement by statement under the
// handler's trap.
namespace SpreadsheetCommands {

// The open dialog's title and filters.
QString openTitle();
QString openFilter();
// The prompt of the block choice.
QString blockPrompt();

// "Load List From Excel File": asks for one workbook file, then ExcelToListview.
void LoadListFromExcelFile(KeywordList& list, Prompts& prompts, Surface& surface, ErrorTrap& trap);

// "Save List To Excel File": nothing for an empty list; otherwise asks where to save, writes the
// keyword workbook and opens it in the desktop's spreadsheet application.
void SaveListToExcelFile(const KeywordList& list, Prompts& prompts, ErrorTrap& trap);

} // namespace SpreadsheetCommands
