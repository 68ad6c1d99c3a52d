#pragma once

#include "sheets/workbook.h"

#include <QString>

// Opens workbook files of the common spreadsheet formats: .xlsx and .xlsm, .ods, .xls and .csv.
// The kind is told from the file's first bytes, so a workbook with an unusual name still opens.
namespace WorkbookReader {

// The workbook with every cell's displayed text. Throws AppError (with a description for the
// user) when the file is missing or cannot be read as a workbook.
Workbook read(const QString& path);

} // namespace WorkbookReader
