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

// A run of neighbouring cells of one row that show the same text: `count` columns from `column`.
struct CellRun {
    int column = 1;
    int count = 1;
    QString text;
};

// A run of neighbouring rows that hold the same cells: `count` rows from `row`. A row that the
// file has but that shows nothing has no cells.
struct RowRun {
    int row = 1;
    int count = 1;
    std::vector<CellRun> cells; // by column, not overlapping
};

// One sheet as the user sees it: the displayed text of every cell that shows something. Only
// the cells with content are stored, and rows and columns that a file repeats are stored once
// with their count, so a sheet costs what its file holds, not what its used range spans.
class Sheet {
public:
    QString name;

    // The used range ends at the last row and column holding a non-empty cell; 0 when the sheet
    // is empty. It always starts at A1.
    int lastRow() const { return lastRow_; }
    int lastColumn() const { return lastColumn_; }
    bool isEmpty() const { return lastRow_ == 0; }

    // The displayed text of a cell; "" for empty cells and cells outside the used range.
    QString text(int row, int column) const;

    // Sets a cell's displayed text. Empty texts are ignored (the cell stays empty). Throws
    // LimitExceeded for a row or column beyond the sheet's limits, and when the sheet's text
    // would pass InputLimits::MaxWorkbookCharacters or its cells InputLimits::MaxWorkbookCells.
    void setText(int row, int column, const QString& text);

    // Records `count` rows from `row` as present in the file, each holding `cells` (texts not
    // empty, by column). Rows already recorded are not touched. Content beyond the sheet's
    // limits throws LimitExceeded; empty rows beyond them are dropped.
    void addRows(int row, int count, std::vector<CellRun> cells);

    // The recorded rows, by row number.
    const std::vector<RowRun>& rows() const {
        sortRows();
        return rows_;
    }
    // The index in rows() of the first run that ends at or after `row` (rows().size() when none).
    size_t firstRunFrom(int row) const;

    // Characters held by the cells, each run counted once.
    qint64 characters() const { return characters_; }

private:
    RowRun& runFor(int row);
    void count(const QString& text);
    // Rows and cells given out of order are appended and put in order on the next look, so a file
    // that writes them backwards costs a sort, not a move of every stored one for each.
    void sortRows() const;

    mutable std::vector<RowRun> rows_;
    mutable bool sorted_ = true;
    mutable bool cellsSorted_ = true;
    int lastRow_ = 0;
    int lastColumn_ = 0;
    qint64 characters_ = 0;
    qint64 cells_ = 0;
};

// A workbook file as the import sees it: the names of its sheets, which one the workbook marks
// active (else the first), and that active sheet's cells.
struct Workbook {
    std::vector<QString> sheetNames;
    int active = 0;
    Sheet activeSheet;
};
