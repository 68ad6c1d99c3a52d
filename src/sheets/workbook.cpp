#include "sheets/workbook.h"

#include "keywords/input_limits.h"

#include <algorithm>
#include <climits>

QString columnLetters(int column) {
    QString letters;
    while (column > 0) {
        const int digit = (column - 1) % 26;
        letters.prepend(QLatin1Char(static_cast<char>('A' + digit)));
        column = (column - 1) / 26;
    }
    return letters;
}

int columnNumber(const QString& letters) {
    if (letters.isEmpty() || letters.size() > 3)
        return 0;
    int column = 0;
    for (const QChar c : letters) {
        const char16_t u = c.toUpper().unicode();
        if (u < u'A' || u > u'Z')
            return 0;
        column = column * 26 + (u - u'A' + 1);
    }
    return column;
}

QString CellRange::address() const {
    auto cell = [](int row, int column) {
        return QLatin1Char('$') + columnLetters(column) + QLatin1Char('$') + QString::number(row);
    };
    const QString first = cell(firstRow, firstColumn);
    if (firstRow == lastRow && firstColumn == lastColumn)
        return first;
    return first + QLatin1Char(':') + cell(lastRow, lastColumn);
}

namespace {

int endOf(const RowRun& r) {
    return r.row + r.count - 1;
}
int endOf(const CellRun& c) {
    return c.column + c.count - 1;
}

// The first run that ends at or after `at`.
template <typename Run>
typename std::vector<Run>::const_iterator firstEndingFrom(const std::vector<Run>& runs, int at) {
    return std::lower_bound(runs.begin(), runs.end(), at,
                            [](const Run& run, int value) { return endOf(run) < value; });
}

template <typename Run> typename std::vector<Run>::iterator firstEndingFrom(std::vector<Run>& runs, int at) {
    return std::lower_bound(runs.begin(), runs.end(), at,
                            [](const Run& run, int value) { return endOf(run) < value; });
}

// Cells by column; of cells given twice, the later one. Cells come in order from every reader
// but a hostile one, so the usual cost is one pass.
void sortCells(std::vector<CellRun>& cells) {
    const auto byColumn = [](const CellRun& a, const CellRun& b) { return a.column < b.column; };
    if (std::is_sorted(cells.begin(), cells.end(), byColumn) &&
        std::adjacent_find(cells.begin(), cells.end(), [](const CellRun& a, const CellRun& b) {
            return a.column == b.column;
        }) == cells.end())
        return;
    std::stable_sort(cells.begin(), cells.end(), byColumn);
    std::vector<CellRun> unique;
    unique.reserve(cells.size());
    for (CellRun& c : cells) {
        if (!unique.empty() && unique.back().column == c.column)
            unique.back() = std::move(c);
        else
            unique.push_back(std::move(c));
    }
    cells = std::move(unique);
}

void beyondLimits(int row, int column) {
    throw InputLimits::LimitExceeded(
        QStringLiteral("it has a cell at row %1, column %2, beyond the sheet's %3 rows and %4 columns")
            .arg(row)
            .arg(column)
            .arg(SheetLimits::Rows)
            .arg(SheetLimits::Columns));
}

} // namespace

void Sheet::sortRows() const {
    if (sorted_ && cellsSorted_)
        return;
    if (sorted_) {
        for (RowRun& run : rows_)
            sortCells(run.cells);
        cellsSorted_ = true;
        return;
    }
    std::stable_sort(rows_.begin(), rows_.end(),
                     [](const RowRun& a, const RowRun& b) { return a.row < b.row; });
    // The same row given more than once becomes one, its cells by column (a later text of a cell
    // replacing an earlier one). Readers repeat rows only in order, so runs of several rows never
    // overlap here.
    std::vector<RowRun> merged;
    merged.reserve(rows_.size());
    for (RowRun& run : rows_) {
        if (!merged.empty() && merged.back().row == run.row && merged.back().count == 1 && run.count == 1) {
            auto& cells = merged.back().cells;
            cells.insert(cells.end(), std::make_move_iterator(run.cells.begin()),
                         std::make_move_iterator(run.cells.end()));
        } else {
            merged.push_back(std::move(run));
        }
    }
    rows_ = std::move(merged);
    for (RowRun& run : rows_)
        sortCells(run.cells);
    sorted_ = true;
    cellsSorted_ = true;
}

size_t Sheet::firstRunFrom(int row) const {
    sortRows();
    return static_cast<size_t>(firstEndingFrom(rows_, row) - rows_.begin());
}

QString Sheet::text(int row, int column) const {
    if (row < 1 || row > lastRow_ || column < 1 || column > lastColumn_)
        return QString();
    sortRows();
    const auto r = firstEndingFrom(rows_, row);
    if (r == rows_.end() || r->row > row)
        return QString();
    const auto c = firstEndingFrom(r->cells, column);
    if (c == r->cells.end() || c->column > column)
        return QString();
    return c->text;
}

void Sheet::count(const QString& text) {
    if (++cells_ > InputLimits::MaxWorkbookCells)
        throw InputLimits::LimitExceeded(
            QStringLiteral("its sheet holds more than %L1 cells").arg(InputLimits::MaxWorkbookCells));
    characters_ += text.size();
    if (characters_ > InputLimits::MaxWorkbookCharacters)
        throw InputLimits::LimitExceeded(QStringLiteral("its sheet holds more than %L1 characters")
                                             .arg(InputLimits::MaxWorkbookCharacters));
}

RowRun& Sheet::runFor(int row) {
    if (rows_.empty() || endOf(rows_.back()) < row) {
        rows_.push_back(RowRun{row, 1, {}});
        return rows_.back();
    }
    if (rows_.back().row > row || !sorted_) {
        // Out of order: appended now, put in place when the rows are next looked at.
        if (rows_.back().row != row || rows_.back().count != 1) {
            rows_.push_back(RowRun{row, 1, {}});
            sorted_ = false;
        }
        return rows_.back();
    }
    auto it = firstEndingFrom(rows_, row);
    if (it->row > row)
        return *rows_.insert(it, RowRun{row, 1, {}});
    if (it->count == 1)
        return *it;
    // A row inside a repeated run: the run is cut around it.
    const RowRun whole = *it;
    std::vector<RowRun> pieces;
    if (row > whole.row)
        pieces.push_back(RowRun{whole.row, row - whole.row, whole.cells});
    pieces.push_back(RowRun{row, 1, whole.cells});
    if (row < endOf(whole))
        pieces.push_back(RowRun{row + 1, endOf(whole) - row, whole.cells});
    const auto at = it - rows_.begin();
    it = rows_.erase(it);
    rows_.insert(it, pieces.begin(), pieces.end());
    return rows_[static_cast<size_t>(at + (row > whole.row ? 1 : 0))];
}

void Sheet::setText(int row, int column, const QString& text) {
    if (row < 1 || row > SheetLimits::Rows || column < 1 || column > SheetLimits::Columns)
        beyondLimits(row, column);
    if (text.isEmpty())
        return;
    count(text);
    auto& cells = runFor(row).cells;
    if (cells.empty() || endOf(cells.back()) < column) {
        cells.push_back(CellRun{column, 1, text});
    } else if (cells.back().column > column) {
        // Out of order: put in place when the cells are next looked at.
        cells.push_back(CellRun{column, 1, text});
        cellsSorted_ = false;
    } else if (cells.back().count == 1) {
        cells.back().text = text;
    } else {
        const CellRun whole = cells.back();
        cells.pop_back();
        if (column > whole.column)
            cells.push_back(CellRun{whole.column, column - whole.column, whole.text});
        cells.push_back(CellRun{column, 1, text});
        if (column < endOf(whole))
            cells.push_back(CellRun{column + 1, endOf(whole) - column, whole.text});
    }
    lastRow_ = qMax(lastRow_, row);
    lastColumn_ = qMax(lastColumn_, column);
}

void Sheet::addRows(int row, int count, std::vector<CellRun> cells) {
    if (count < 1)
        return;
    const qint64 end = static_cast<qint64>(row) + count - 1;
    for (const CellRun& c : cells)
        if (row < 1 || end > SheetLimits::Rows || c.column < 1 || c.count < 1 ||
            static_cast<qint64>(c.column) + c.count - 1 > SheetLimits::Columns)
            beyondLimits(static_cast<int>(qMin<qint64>(end, INT_MAX)), c.column + c.count - 1);
    if (row < 1 || row > SheetLimits::Rows)
        return; // empty rows past the sheet's end: nothing to keep
    count = static_cast<int>(qMin<qint64>(end, SheetLimits::Rows) - row + 1);
    if (!rows_.empty() && endOf(rows_.back()) >= row) {
        // Out of order (files write their rows in order, and repeat rows only in order): cell by
        // cell into the existing runs.
        for (int r = row; r < row + count; ++r) {
            runFor(r);
            for (const CellRun& c : cells)
                for (int k = 0; k < c.count; ++k)
                    setText(r, c.column + k, c.text);
        }
        return;
    }
    for (const CellRun& c : cells) {
        Sheet::count(c.text);
        lastColumn_ = qMax(lastColumn_, endOf(c));
    }
    if (!cells.empty())
        lastRow_ = qMax(lastRow_, row + count - 1);
    rows_.push_back(RowRun{row, count, std::move(cells)});
}
