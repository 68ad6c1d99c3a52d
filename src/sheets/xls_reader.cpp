// The binary Excel format (.xls), read through FreeXL. FreeXL tells dates from numbers by their
// formats and gives them in ISO form; it does not say which sheet was active, so the first
// sheet is read.

#include "base/error_report.h"
#include "keywords/event_pump.h"
#include "sheets/cell_text.h"
#include "sheets/workbook_formats.h"

#include <QFile>

#include <freexl.h>

namespace WorkbookFormats {

namespace {

class FreeXlHandle {
public:
    ~FreeXlHandle() {
        if (handle)
            freexl_close(handle);
    }
    const void* handle = nullptr;
};

AppError damaged(int code) {
    return AppError(
        QStringLiteral("The file is damaged or is not a workbook (binary workbook error %1).").arg(code));
}

} // namespace

Workbook readXls(const QString& path) {
    FreeXlHandle xls;
    const QByteArray name = QFile::encodeName(path);
    int rc = freexl_open(name.constData(), &xls.handle);
    if (rc != FREEXL_OK)
        throw damaged(rc);
    unsigned int info = 0;
    if (freexl_get_info(xls.handle, FREEXL_BIFF_PASSWORD, &info) == FREEXL_OK &&
        info == FREEXL_BIFF_OBFUSCATED)
        throw AppError(QStringLiteral("The workbook is protected by a password."));
    unsigned int sheets = 0;
    rc = freexl_get_info(xls.handle, FREEXL_BIFF_SHEET_COUNT, &sheets);
    if (rc != FREEXL_OK)
        throw damaged(rc);
    if (sheets == 0)
        throw AppError(QStringLiteral("The workbook has no sheets."));

    Workbook book;
    for (unsigned int i = 0; i < sheets && i < 65535; ++i) {
        const char* sheetName = nullptr;
        if (freexl_get_worksheet_name(xls.handle, static_cast<unsigned short>(i), &sheetName) == FREEXL_OK &&
            sheetName)
            book.sheetNames.push_back(QString::fromUtf8(sheetName));
        else
            book.sheetNames.push_back(QString());
    }
    book.active = 0;
    book.activeSheet.name = book.sheetNames.front();
    rc = freexl_select_active_worksheet(xls.handle, 0);
    if (rc != FREEXL_OK)
        throw damaged(rc);
    unsigned int rows = 0;
    unsigned short columns = 0;
    rc = freexl_worksheet_dimensions(xls.handle, &rows, &columns);
    if (rc != FREEXL_OK)
        throw damaged(rc);
    List::EventPump pump;
    for (unsigned int r = 0; r < rows && r < static_cast<unsigned int>(SheetLimits::Rows); ++r) {
        pump.poll();
        bool rowSeen = false;
        for (unsigned short c = 0; c < columns; ++c) {
            FreeXL_CellValue cell;
            if (freexl_get_cell_value(xls.handle, r, c, &cell) != FREEXL_OK || cell.type == FREEXL_CELL_NULL)
                continue;
            if (!rowSeen) {
                book.activeSheet.addRows(static_cast<int>(r) + 1, 1, {}); // the row is in the file
                rowSeen = true;
            }
            QString text;
            switch (cell.type) {
            case FREEXL_CELL_INT:
                text = QString::number(cell.value.int_value);
                break;
            case FREEXL_CELL_DOUBLE:
                text = CellText::generalNumber(cell.value.double_value);
                break;
            case FREEXL_CELL_TEXT:
            case FREEXL_CELL_SST_TEXT:
            case FREEXL_CELL_DATE:
            case FREEXL_CELL_DATETIME:
            case FREEXL_CELL_TIME:
                if (cell.value.text_value)
                    text = QString::fromUtf8(cell.value.text_value);
                break;
            default:
                break;
            }
            book.activeSheet.setText(static_cast<int>(r) + 1, c + 1, text);
        }
    }
    return book;
}

} // namespace WorkbookFormats
