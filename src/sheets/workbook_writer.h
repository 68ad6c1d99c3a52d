#pragma once

#include <QString>

#include <vector>

// Writes keyword workbooks (.xlsx).
namespace WorkbookWriter {

// Writes a workbook with one sheet: `header` in A1 unless the first keyword is empty, keyword k
// in A(k+1) as text (a keyword such as "=1+1" or "007" stays the text it is), an empty keyword
// leaving its row empty; column A is as wide as its longest text. The file is written beside
// `path` and then moved over it, so an existing file is either replaced whole or left as it was.
// Throws AppError when the workbook cannot be written.
void writeKeywords(const std::vector<QString>& keywords, const QString& header, const QString& path);

// The width of column A (in characters of the default font) for these texts.
double fittedWidth(const std::vector<QString>& texts);

} // namespace WorkbookWriter
