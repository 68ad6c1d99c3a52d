#include "keywords/workbook.h"

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

QString Sheet::text(int row, int column) const {
    if (row < 1 || row > lastRow() || column < 1)
        return QString();
    const auto& cells = rows_[static_cast<size_t>(row - 1)];
    if (column > static_cast<int>(cells.size()))
        return QString();
    return cells[static_cast<size_t>(column - 1)];
}

void Sheet::setText(int row, int column, const QString& text) {
    if (text.isEmpty() || row < 1 || row > SheetLimits::Rows || column < 1 || column > SheetLimits::Columns)
        return;
    if (row > lastRow())
        rows_.resize(static_cast<size_t>(row));
    auto& cells = rows_[static_cast<size_t>(row - 1)];
    if (column > static_cast<int>(cells.size()))
        cells.resize(static_cast<size_t>(column));
    cells[static_cast<size_t>(column - 1)] = text;
    if (column > lastColumn_)
        lastColumn_ = column;
}
