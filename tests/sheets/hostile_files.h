#pragma once

// Hostile keyword files, made where they are needed (tests and the hostile-file benchmark) by
// small generators instead of being checked in: deep XML, zip members that inflate beyond their
// limits, sheets with far-away or endlessly repeated cells.

#include "spreadsheet_fixtures.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <zlib.h>

namespace Hostile {

inline QByteArray xlsxSheet(const QByteArray& sheetData) {
    return QByteArrayLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                             "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
                             "<sheetData>") +
           sheetData + QByteArrayLiteral("</sheetData></worksheet>");
}

// The parts of a one-sheet .xlsx around its sheet part (xl/worksheets/sheet1.xml).
inline QList<QPair<QString, QByteArray>> xlsxFrame() {
    return {
        {QStringLiteral("[Content_Types].xml"),
         QByteArrayLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Types "
                           "xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\"/>")},
        {QStringLiteral("_rels/.rels"),
         QByteArrayLiteral(
             "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Relationships "
             "xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\"><Relationship "
             "Id=\"rId1\" "
             "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument\" "
             "Target=\"xl/workbook.xml\"/></Relationships>")},
        {QStringLiteral("xl/workbook.xml"),
         QByteArrayLiteral(
             "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<workbook "
             "xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
             "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\">"
             "<sheets><sheet name=\"Words\" sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>")},
        {QStringLiteral("xl/_rels/workbook.xml.rels"),
         QByteArrayLiteral(
             "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Relationships "
             "xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\"><Relationship "
             "Id=\"rId1\" "
             "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet\" "
             "Target=\"worksheets/sheet1.xml\"/></Relationships>")},
    };
}

// A one-sheet .xlsx whose sheet part holds `sheetData` (the rows).
inline bool writeXlsxRows(const QString& path, const QByteArray& sheetData) {
    auto members = xlsxFrame();
    members.append({QStringLiteral("xl/worksheets/sheet1.xml"), xlsxSheet(sheetData)});
    return Fixtures::writeZip(path, members);
}

// Cell A1 holding "deep" inside `depth` nested elements of its text.
inline bool writeDeepXlsx(const QString& path, int depth) {
    return writeXlsxRows(path, QByteArrayLiteral("<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>") +
                                   QByteArray("<x>").repeated(depth) + "deep" +
                                   QByteArray("</x>").repeated(depth) +
                                   QByteArrayLiteral("</t></is></c></row>"));
}

// Cell A1 of an .ods holding "deep" inside `depth` nested spans.
inline bool writeDeepOds(const QString& path, int depth) {
    return Fixtures::writeOdsXml(
        path,
        QStringLiteral("<table:table table:name=\"Words\"><table:table-row><table:table-cell><text:p>") +
            QStringLiteral("<text:span>").repeated(depth) + QStringLiteral("deep") +
            QStringLiteral("</text:span>").repeated(depth) +
            QStringLiteral("</text:p></table:table-cell></table:table-row></table:table>"));
}

// Raw deflate of `bytes` repeated `times` times, and the CRC of the whole.
inline QByteArray deflateRepeated(const QByteArray& bytes, qint64 times, uLong& crc) {
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    QByteArray out;
    QByteArray buffer(1 << 16, Qt::Uninitialized);
    crc = crc32(0L, Z_NULL, 0);
    for (qint64 k = 0; k <= times; ++k) {
        const bool last = k == times;
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.constData()));
        z.avail_in = last ? 0 : static_cast<uInt>(bytes.size());
        if (!last)
            crc = crc32(crc, reinterpret_cast<const Bytef*>(bytes.constData()),
                        static_cast<uInt>(bytes.size()));
        do {
            z.next_out = reinterpret_cast<Bytef*>(buffer.data());
            z.avail_out = static_cast<uInt>(buffer.size());
            deflate(&z, last ? Z_FINISH : Z_NO_FLUSH);
            out.append(buffer.constData(), buffer.size() - z.avail_out);
        } while (z.avail_out == 0);
    }
    deflateEnd(&z);
    return out;
}

// An .xlsx whose sheet part is `filler` repeated `times` times (already compressed), and whose
// archive says that part inflates to `declared` bytes.
inline bool writeInflatingXlsx(const QString& path, const QByteArray& filler, qint64 times,
                               quint64 declared) {
    if (!Fixtures::writeZip(path, xlsxFrame()))
        return false;
    uLong crc = 0;
    const QByteArray packed = deflateRepeated(filler, times, crc);
    zipFile zip = zipOpen64(QFile::encodeName(path).constData(), APPEND_STATUS_ADDINZIP);
    if (!zip)
        return false;
    zip_fileinfo info{};
    bool ok = zipOpenNewFileInZip2_64(zip, "xl/worksheets/sheet1.xml", &info, nullptr, 0, nullptr, 0, nullptr,
                                      Z_DEFLATED, 1, 1, 1) == ZIP_OK;
    ok = ok && zipWriteInFileInZip(zip, packed.constData(), static_cast<unsigned>(packed.size())) == ZIP_OK;
    ok = ok && zipCloseFileInZipRaw64(zip, declared, crc) == ZIP_OK;
    return zipClose(zip, nullptr) == ZIP_OK && ok;
}

// `rows` rows of `columns` cells, each a one-digit number (`<c><v>7</v></c>`), as tightly as the
// format allows. Each row repeats the one before but for every 32nd cell, so the sheet packs about
// 75 times smaller: within the limit on how much a part may inflate.
inline bool writeManyCellsXlsx(const QString& path, int rows, int columns) {
    if (!Fixtures::writeZip(path, xlsxFrame()))
        return false;
    z_stream z{};
    deflateInit2(&z, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    QByteArray packed;
    QByteArray buffer(1 << 16, Qt::Uninitialized);
    uLong crc = crc32(0L, Z_NULL, 0);
    quint64 size = 0;
    const auto pack = [&](const QByteArray& bytes, bool last) {
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.constData()));
        z.avail_in = static_cast<uInt>(bytes.size());
        crc = crc32(crc, reinterpret_cast<const Bytef*>(bytes.constData()), static_cast<uInt>(bytes.size()));
        size += static_cast<quint64>(bytes.size());
        do {
            z.next_out = reinterpret_cast<Bytef*>(buffer.data());
            z.avail_out = static_cast<uInt>(buffer.size());
            deflate(&z, last ? Z_FINISH : Z_NO_FLUSH);
            packed.append(buffer.constData(), buffer.size() - z.avail_out);
        } while (z.avail_out == 0);
    };
    const QByteArray sheet = xlsxSheet("@");
    const qsizetype at = sheet.indexOf('@');
    pack(sheet.left(at), false);
    QByteArray row = "<row>" + QByteArray("<c><v>0</v></c>").repeated(columns) + "</row>";
    quint32 seed = 1;
    for (int r = 0; r < rows; ++r) {
        for (int c = r % 32; c < columns; c += 32) {
            seed = seed * 1103515245u + 12345u;
            row[5 + c * 15 + 6] = static_cast<char>('0' + (seed >> 16) % 10);
        }
        pack(row, false);
    }
    pack(sheet.mid(at + 1), true);
    deflateEnd(&z);
    zipFile zip = zipOpen64(QFile::encodeName(path).constData(), APPEND_STATUS_ADDINZIP);
    if (!zip)
        return false;
    zip_fileinfo info{};
    bool ok = zipOpenNewFileInZip2_64(zip, "xl/worksheets/sheet1.xml", &info, nullptr, 0, nullptr, 0, nullptr,
                                      Z_DEFLATED, 6, 1, 1) == ZIP_OK;
    ok = ok && zipWriteInFileInZip(zip, packed.constData(), static_cast<unsigned>(packed.size())) == ZIP_OK;
    ok = ok && zipCloseFileInZipRaw64(zip, size, crc) == ZIP_OK;
    return zipClose(zip, nullptr) == ZIP_OK && ok;
}

// `rows` rows, each with one cell in the last column (XFD).
inline bool writeFarColumnXlsx(const QString& path, int rows) {
    QByteArray data;
    for (int r = 1; r <= rows; ++r)
        data += QStringLiteral("<row r=\"%1\"><c r=\"XFD%1\" t=\"inlineStr\"><is><t>w%1</t></is></c></row>")
                    .arg(r)
                    .toUtf8();
    return writeXlsxRows(path, data);
}

// `rows` rows written from the last to the first, each with one cell in column A.
inline bool writeBackwardsXlsx(const QString& path, int rows) {
    QByteArray data;
    for (int r = rows; r >= 1; --r)
        data += QStringLiteral("<row r=\"%1\"><c r=\"A%1\" t=\"inlineStr\"><is><t>w%1</t></is></c></row>")
                    .arg(r)
                    .toUtf8();
    return writeXlsxRows(path, data);
}

// A1 and the sheet's very last cell, XFD1048576.
inline bool writeLastCellXlsx(const QString& path) {
    return writeXlsxRows(
        path, QByteArrayLiteral("<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>first</t></is></c></row>"
                                "<row r=\"1048576\"><c r=\"XFD1048576\" t=\"inlineStr\"><is><t>last</t>"
                                "</is></c></row>"));
}

// Every cell of the sheet, 1,048,576 rows by 16,384 columns, shows "x": a few hundred bytes.
inline bool writeRepeatedOds(const QString& path) {
    return Fixtures::writeOdsXml(
        path, QStringLiteral(
                  "<table:table table:name=\"Words\"><table:table-row "
                  "table:number-rows-repeated=\"1048576\"><table:table-cell "
                  "table:number-columns-repeated=\"16384\" office:value-type=\"string\"><text:p>x</text:p>"
                  "</table:table-cell></table:table-row></table:table>"));
}

} // namespace Hostile
