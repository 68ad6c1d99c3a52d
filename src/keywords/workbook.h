#pragma once

#include <QString>

#include <vector>

// A rectangle of cells in sheet numbers: rows and columns count from 1, both ends included.
struct CellRange {
    int firstRow = 1;
    int firstColumn = 1;
    int lastRow = 1;
    int lastColumn = 1;

    // "$A$1:$B$3", or "$A$1" for one cell.
    QString address() const;

    friend bool operator==(const CellRange& a, const CellRange& b) {
        return a.firstRow == b.firstRow && a.firstColumn == b.firstColumn && a.lastRow == b.lastRow &&
               a.lastColumn == b.lastColumn;
    }
    friend bool operator!=(const CellRange& a, const CellRange& b) { return !(a == b); }
};

// The size of a sheet in the spreadsheet applications of today; whole rows and whole columns
// reach to these.
namespace SheetLimits {
constexpr int Rows = 1048576;
constexpr int Columns = 16384;
} // namespace SheetLimits

// "A" for 1, "Z" for 26, "AA" for 27.
QString columnLetters(int column);
// 1 for "A", 27 for "AA", 0 for anything that is not a column name. Case does not matter.
int columnNumber(const QString& letters);

// One sheet as the user sees it: the displayed text of every cell that shows something.
class Sheet {
public:
    QString name;

    // The used range ends at the last row and column holding a non-empty cell; 0 when the sheet
    // is empty. It always starts at A1.
    int lastRow() const { return static_cast<int>(rows_.size()); }
    int lastColumn() const { return lastColumn_; }
    bool isEmpty() const { return rows_.empty(); }

    // The displayed text of a cell; "" for empty cells and cells outside the used range.
    QString text(int row, int column) const;

    // Sets a cell's displayed text. Empty texts are ignored (the cell stays empty); rows and
    // columns outside the sheet's limits are ignored too.
    void setText(int row, int column, const QString& text);

private:
    std::vector<std::vector<QString>> rows_;
    int lastColumn_ = 0;
};

// A workbook file as the import sees it: the names of its sheets, which one the workbook marks
// active (else the first), and that active sheet's cells.
struct Workbook {
    std::vector<QString> sheetNames;
    int active = 0;
    Sheet activeSheet;
};
