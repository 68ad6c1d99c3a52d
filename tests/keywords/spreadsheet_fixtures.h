#pragma once

// Workbook files made at test time: .xlsx through libxlsxwriter, .ods and .csv written by hand.

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QPair>
#include <QString>

#include <xlsxwriter.h>
#include <zip.h>

namespace Fixtures {

// One cell of a plain sheet: (row, column) 1-based, text.
struct Cell {
    int row;
    int column;
    QString text;
};

// A one-sheet (or, with `before`, two-sheet) .xlsx whose active sheet holds the strings given.
inline bool writeXlsx(const QString& path, const QList<Cell>& cells,
                      const QString& sheetName = QStringLiteral("Words"), bool otherSheetFirst = false) {
    lxw_workbook* wb = workbook_new(QFile::encodeName(path).constData());
    if (!wb)
        return false;
    if (otherSheetFirst) {
        lxw_worksheet* other = workbook_add_worksheet(wb, "Other");
        worksheet_write_string(other, 0, 0, "not this one", nullptr);
    }
    lxw_worksheet* ws = workbook_add_worksheet(wb, sheetName.toUtf8().constData());
    for (const Cell& c : cells)
        worksheet_write_string(ws, static_cast<lxw_row_t>(c.row - 1), static_cast<lxw_col_t>(c.column - 1),
                               c.text.toUtf8().constData(), nullptr);
    worksheet_activate(ws);
    return workbook_close(wb) == LXW_NO_ERROR;
}

inline QString xmlEscape(QString text) {
    return text.replace(QLatin1Char('&'), QStringLiteral("&amp;"))
        .replace(QLatin1Char('<'), QStringLiteral("&lt;"))
        .replace(QLatin1Char('>'), QStringLiteral("&gt;"));
}

inline bool writeZip(const QString& path, const QList<QPair<QString, QByteArray>>& members) {
    zipFile zip = zipOpen64(QFile::encodeName(path).constData(), APPEND_STATUS_CREATE);
    if (!zip)
        return false;
    bool ok = true;
    for (const auto& [name, bytes] : members) {
        zip_fileinfo info{};
        ok = ok && zipOpenNewFileInZip64(zip, name.toUtf8().constData(), &info, nullptr, 0, nullptr, 0,
                                         nullptr, Z_DEFLATED, Z_DEFAULT_COMPRESSION, 0) == ZIP_OK;
        ok = ok && zipWriteInFileInZip(zip, bytes.constData(), static_cast<unsigned>(bytes.size())) == ZIP_OK;
        ok = ok && zipCloseFileInZip(zip) == ZIP_OK;
    }
    return zipClose(zip, nullptr) == ZIP_OK && ok;
}

inline QByteArray odsContent(const QString& tables) {
    return QByteArrayLiteral(
               "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
               "<office:document-content xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
               "xmlns:table=\"urn:oasis:names:tc:opendocument:xmlns:table:1.0\" "
               "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\" "
               "xmlns:dc=\"http://purl.org/dc/elements/1.1/\" office:version=\"1.2\">"
               "<office:body><office:spreadsheet>") +
           tables.toUtf8() +
           QByteArrayLiteral("</office:spreadsheet></office:body></office:document-content>");
}

inline QByteArray odsSettings(const QString& activeTable) {
    return QStringLiteral(
               "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
               "<office:document-settings xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
               "xmlns:config=\"urn:oasis:names:tc:opendocument:xmlns:config:1.0\"><office:settings>"
               "<config:config-item-set config:name=\"ooo:view-settings\"><config:config-item-map-indexed "
               "config:name=\"Views\"><config:config-item-map-entry>"
               "<config:config-item config:name=\"ActiveTable\" "
               "config:type=\"string\">%1</config:config-item>"
               "</config:config-item-map-entry></config:config-item-map-indexed></config:config-item-set>"
               "</office:settings></office:document-settings>")
        .arg(xmlEscape(activeTable))
        .toUtf8();
}

// An .ods from the XML of its tables (table:table elements) and the name of the active one.
inline bool writeOdsXml(const QString& path, const QString& tables, const QString& activeTable = QString()) {
    QList<QPair<QString, QByteArray>> members{
        {QStringLiteral("mimetype"), QByteArrayLiteral("application/vnd.oasis.opendocument.spreadsheet")},
        {QStringLiteral("content.xml"), odsContent(tables)}};
    if (!activeTable.isEmpty())
        members.append({QStringLiteral("settings.xml"), odsSettings(activeTable)});
    return writeZip(path, members);
}

// A one-table .ods holding the strings given.
inline bool writeOds(const QString& path, const QList<Cell>& cells) {
    int lastRow = 0;
    int lastColumn = 0;
    for (const Cell& c : cells) {
        lastRow = qMax(lastRow, c.row);
        lastColumn = qMax(lastColumn, c.column);
    }
    QString xml = QStringLiteral("<table:table table:name=\"Words\">");
    for (int r = 1; r <= lastRow; ++r) {
        xml += QStringLiteral("<table:table-row>");
        for (int col = 1; col <= lastColumn; ++col) {
            QString text;
            for (const Cell& c : cells)
                if (c.row == r && c.column == col)
                    text = c.text;
            xml += text.isEmpty()
                       ? QStringLiteral("<table:table-cell/>")
                       : QStringLiteral("<table:table-cell office:value-type=\"string\"><text:p>%1</text:p>"
                                        "</table:table-cell>")
                             .arg(xmlEscape(text));
        }
        // The applications write the rest of the row as one repeated empty cell.
        xml +=
            QStringLiteral("<table:table-cell table:number-columns-repeated=\"16000\"/></table:table-row>");
    }
    xml += QStringLiteral("<table:table-row table:number-rows-repeated=\"1048000\"><table:table-cell "
                          "table:number-columns-repeated=\"16384\"/></table:table-row></table:table>");
    return writeOdsXml(path, xml);
}

inline QString csvField(QString text) {
    if (text.contains(QLatin1Char(',')) || text.contains(QLatin1Char('"')) ||
        text.contains(QLatin1Char('\n')))
        return QLatin1Char('"') + text.replace(QStringLiteral("\""), QStringLiteral("\"\"")) +
               QLatin1Char('"');
    return text;
}

// A .csv holding the strings given, lines ended by CR LF.
inline bool writeCsv(const QString& path, const QList<Cell>& cells) {
    int lastRow = 0;
    int lastColumn = 0;
    for (const Cell& c : cells) {
        lastRow = qMax(lastRow, c.row);
        lastColumn = qMax(lastColumn, c.column);
    }
    QString text;
    for (int r = 1; r <= lastRow; ++r) {
        QStringList fields;
        for (int col = 1; col <= lastColumn; ++col) {
            QString field;
            for (const Cell& c : cells)
                if (c.row == r && c.column == col)
                    field = c.text;
            fields << csvField(field);
        }
        text += fields.join(QLatin1Char(',')) + QStringLiteral("\r\n");
    }
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text.toUtf8()) >= 0;
}

// The same cells as a workbook of the kind named by `format` ("xlsx", "ods" or "csv").
inline bool writeWorkbook(const QString& format, const QString& path, const QList<Cell>& cells) {
    if (format == QLatin1String("xlsx"))
        return writeXlsx(path, cells);
    if (format == QLatin1String("ods"))
        return writeOds(path, cells);
    return writeCsv(path, cells);
}

} // namespace Fixtures
