#pragma once

// Workbook files made at test time: .xlsx through libxlsxwriter, .ods, .xls and .csv written by hand.

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <cstring>

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

// A binary workbook (.xls, BIFF8 in a compound file) built byte by byte: one sheet "Words" whose
// strings come from the shared string table, plus the numbers given.
struct NumberCell {
    int row;
    int column;
    double value;
};

inline void putLe(QByteArray& out, quint64 value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out.append(static_cast<char>((value >> (8 * i)) & 0xFF));
}

inline QByteArray biffRecord(quint16 type, const QByteArray& body) {
    QByteArray r;
    putLe(r, type, 2);
    putLe(r, static_cast<quint64>(body.size()), 2);
    return r + body;
}

inline QByteArray biffBof(quint16 kind) {
    QByteArray b;
    putLe(b, 0x0600, 2);
    putLe(b, kind, 2);
    putLe(b, 0x0DBB, 2);
    putLe(b, 0x07CC, 2);
    putLe(b, 0, 4);
    putLe(b, 6, 4);
    return biffRecord(0x0809, b);
}

inline bool writeXls(const QString& path, const QList<Cell>& cells, const QList<NumberCell>& numbers = {}) {
    // The shared strings: the cells' texts, then fillers that make the stream long enough to live
    // in ordinary sectors (streams under 4096 bytes would need the compound file's mini stream).
    QStringList strings;
    for (const Cell& c : cells)
        if (!strings.contains(c.text))
            strings << c.text;
    const qsizetype used = strings.size();
    for (int i = 0; i < 420; ++i)
        strings << QStringLiteral("filler%1").arg(i, 3, 10, QLatin1Char('0'));
    QByteArray sst;
    putLe(sst, static_cast<quint64>(used), 4);
    putLe(sst, static_cast<quint64>(strings.size()), 4);
    // The texts in UTF-16, the fillers in 8 bits, so that the table stays within one record.
    for (qsizetype k = 0; k < strings.size(); ++k) {
        const QString& t = strings.at(k);
        putLe(sst, static_cast<quint64>(t.size()), 2);
        sst.append(k < used ? '\x01' : '\x00');
        for (const QChar ch : t)
            putLe(sst, ch.unicode(), k < used ? 2 : 1);
    }
    if (sst.size() > 8224)
        return false;

    QByteArray sheet = biffBof(0x0010);
    int lastRow = 0, lastColumn = 0;
    for (const Cell& c : cells) {
        lastRow = qMax(lastRow, c.row);
        lastColumn = qMax(lastColumn, c.column);
    }
    for (const NumberCell& n : numbers) {
        lastRow = qMax(lastRow, n.row);
        lastColumn = qMax(lastColumn, n.column);
    }
    QByteArray dimensions;
    putLe(dimensions, 0, 4);
    putLe(dimensions, static_cast<quint64>(lastRow), 4);
    putLe(dimensions, 0, 2);
    putLe(dimensions, static_cast<quint64>(lastColumn), 2);
    putLe(dimensions, 0, 2);
    sheet += biffRecord(0x0200, dimensions);
    for (const Cell& c : cells) {
        QByteArray label;
        putLe(label, static_cast<quint64>(c.row - 1), 2);
        putLe(label, static_cast<quint64>(c.column - 1), 2);
        putLe(label, 15, 2);
        putLe(label, static_cast<quint64>(strings.indexOf(c.text)), 4);
        sheet += biffRecord(0x00FD, label);
    }
    for (const NumberCell& n : numbers) {
        QByteArray number;
        putLe(number, static_cast<quint64>(n.row - 1), 2);
        putLe(number, static_cast<quint64>(n.column - 1), 2);
        putLe(number, 15, 2);
        quint64 bits = 0;
        std::memcpy(&bits, &n.value, sizeof bits);
        putLe(number, bits, 8);
        sheet += biffRecord(0x0203, number);
    }
    sheet += biffRecord(0x000A, QByteArray());

    // Workbook globals: version, code page, date system, 16 style formats and one cell format
    // (index 15, format 0 = General), the sheet, the strings.
    QByteArray globals = biffBof(0x0005);
    globals += biffRecord(0x0042, QByteArray("\xB0\x04", 2));
    globals += biffRecord(0x0022, QByteArray(2, '\0'));
    QByteArray font;
    putLe(font, 200, 2);
    putLe(font, 0, 2);
    putLe(font, 0x7FFF, 2);
    putLe(font, 400, 2);
    putLe(font, 0, 2);
    putLe(font, 0, 1);
    putLe(font, 0, 1);
    putLe(font, 0, 1);
    putLe(font, 0, 1);
    putLe(font, 5, 1);
    putLe(font, 1, 1);
    font += QByteArray("Arial", 5);
    for (int i = 0; i < 4; ++i)
        globals += biffRecord(0x0031, font);
    for (int i = 0; i < 16; ++i) {
        QByteArray xf;
        putLe(xf, 0, 2);                        // font
        putLe(xf, 0, 2);                        // format: General
        putLe(xf, i < 15 ? 0xFFF5 : 0x0001, 2); // style or cell format
        xf.append(QByteArray(14, '\0'));
        globals += biffRecord(0x00E0, xf);
    }
    const QByteArray sheetName("Words");
    QByteArray boundSheet;
    putLe(boundSheet, 0, 4); // the sheet's offset, set below
    putLe(boundSheet, 0, 2);
    putLe(boundSheet, static_cast<quint64>(sheetName.size()), 1);
    putLe(boundSheet, 0, 1);
    boundSheet += sheetName;
    const qsizetype boundAt = globals.size() + 4;
    globals += biffRecord(0x0085, boundSheet);
    globals += biffRecord(0x00FC, sst);
    globals += biffRecord(0x000A, QByteArray());
    const quint32 sheetOffset = static_cast<quint32>(globals.size());
    for (int i = 0; i < 4; ++i)
        globals[boundAt + i] = static_cast<char>((sheetOffset >> (8 * i)) & 0xFF);
    const QByteArray stream = globals + sheet;
    if (stream.size() < 4096)
        return false;

    // The compound file: header, one FAT sector, the stream's sectors, one directory sector.
    const quint32 streamSectors = static_cast<quint32>((stream.size() + 511) / 512);
    const quint32 directorySector = 1 + streamSectors;
    QByteArray file;
    file += QByteArray::fromHex("D0CF11E0A1B11AE1");
    file += QByteArray(16, '\0');
    putLe(file, 0x003E, 2);
    putLe(file, 0x0003, 2);
    putLe(file, 0xFFFE, 2);
    putLe(file, 9, 2);
    putLe(file, 6, 2);
    file += QByteArray(6, '\0');
    putLe(file, 0, 4);               // directory sectors (version 3: 0)
    putLe(file, 1, 4);               // FAT sectors
    putLe(file, directorySector, 4); // first directory sector
    putLe(file, 0, 4);
    putLe(file, 4096, 4);
    putLe(file, 0xFFFFFFFE, 4); // no mini FAT
    putLe(file, 0, 4);
    putLe(file, 0xFFFFFFFE, 4); // no DIFAT sectors
    putLe(file, 0, 4);
    putLe(file, 0, 4); // the FAT is sector 0
    for (int i = 1; i < 109; ++i)
        putLe(file, 0xFFFFFFFF, 4);

    QByteArray fat;
    putLe(fat, 0xFFFFFFFD, 4);
    for (quint32 s = 1; s <= streamSectors; ++s)
        putLe(fat, s == streamSectors ? 0xFFFFFFFE : s + 1, 4);
    putLe(fat, 0xFFFFFFFE, 4);
    while (fat.size() < 512)
        putLe(fat, 0xFFFFFFFF, 4);
    if (fat.size() > 512)
        return false;
    file += fat;
    QByteArray padded = stream;
    padded.append(QByteArray(static_cast<qsizetype>(streamSectors) * 512 - stream.size(), '\0'));
    file += padded;

    auto entry = [](const QString& name, int type, quint32 child, quint32 start, quint64 size) {
        QByteArray e;
        for (const QChar ch : name)
            putLe(e, ch.unicode(), 2);
        e.append(QByteArray(64 - e.size(), '\0'));
        putLe(e, name.isEmpty() ? 0 : static_cast<quint64>((name.size() + 1) * 2), 2);
        putLe(e, static_cast<quint64>(type), 1);
        putLe(e, 1, 1); // black
        putLe(e, 0xFFFFFFFF, 4);
        putLe(e, 0xFFFFFFFF, 4);
        putLe(e, child, 4);
        e.append(QByteArray(16 + 4 + 8 + 8, '\0'));
        putLe(e, start, 4);
        putLe(e, size, 8);
        return e;
    };
    file += entry(QStringLiteral("Root Entry"), 5, 1, 0xFFFFFFFE, 0);
    file += entry(QStringLiteral("Workbook"), 2, 0xFFFFFFFF, 1, static_cast<quint64>(stream.size()));
    file += entry(QString(), 0, 0xFFFFFFFF, 0, 0);
    file += entry(QString(), 0, 0xFFFFFFFF, 0, 0);

    QFile out(path);
    return out.open(QIODevice::WriteOnly | QIODevice::Truncate) && out.write(file) == file.size();
}

// The same cells as a workbook of the kind named by `format` ("xlsx", "ods", "xls" or "csv").
inline bool writeWorkbook(const QString& format, const QString& path, const QList<Cell>& cells) {
    if (format == QLatin1String("xlsx"))
        return writeXlsx(path, cells);
    if (format == QLatin1String("ods"))
        return writeOds(path, cells);
    if (format == QLatin1String("xls"))
        return writeXls(path, cells);
    return writeCsv(path, cells);
}

} // namespace Fixtures
