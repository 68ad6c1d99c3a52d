// Comma separated values: one sheet, every field shown as written. The separator is the one of
// comma, semicolon and tab that the first line uses most (regional spreadsheet settings write
// semicolons); fields may be quoted with doubled quotes inside.

#include "keywords/workbook_formats.h"
#include "shell/error_report.h"

#include <QFile>
#include <QStringDecoder>

namespace WorkbookFormats {

namespace {

QString decode(const QByteArray& bytes) {
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return QString::fromUtf8(bytes.mid(3));
    if (bytes.startsWith("\xFF\xFE")) {
        QStringDecoder utf16(QStringDecoder::Utf16LE);
        return utf16(bytes.mid(2));
    }
    if (bytes.startsWith("\xFE\xFF")) {
        QStringDecoder utf16(QStringDecoder::Utf16BE);
        return utf16(bytes.mid(2));
    }
    QStringDecoder utf8(QStringDecoder::Utf8);
    QString text = utf8(bytes);
    if (!utf8.hasError())
        return text;
    // Not UTF-8: the 8-bit code page that spreadsheet applications on Windows write.
    QStringDecoder windows("windows-1252");
    if (windows.isValid())
        return windows(bytes);
    return QString::fromLatin1(bytes);
}

QChar separatorOf(const QString& text) {
    int comma = 0, semicolon = 0, tab = 0;
    bool quoted = false;
    for (const QChar c : text) {
        if (c == QLatin1Char('"'))
            quoted = !quoted;
        else if (!quoted && (c == QLatin1Char('\n') || c == QLatin1Char('\r')))
            break;
        else if (!quoted && c == QLatin1Char(','))
            ++comma;
        else if (!quoted && c == QLatin1Char(';'))
            ++semicolon;
        else if (!quoted && c == QLatin1Char('\t'))
            ++tab;
    }
    if (semicolon > comma && semicolon >= tab)
        return QLatin1Char(';');
    if (tab > comma && tab > semicolon)
        return QLatin1Char('\t');
    return QLatin1Char(',');
}

} // namespace

Workbook readCsv(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw AppError(QStringLiteral("The file cannot be opened: ") + file.errorString());
    const QString text = decode(file.readAll());
    const QChar separator = separatorOf(text);

    Workbook book;
    book.sheetNames.push_back(QStringLiteral("Sheet1"));
    book.activeSheet.name = book.sheetNames.front();
    Sheet& sheet = book.activeSheet;
    int row = 1;
    int column = 1;
    QString field;
    bool quoted = false;
    bool fieldStarted = false;
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text.at(i);
        if (quoted) {
            if (c == QLatin1Char('"')) {
                if (i + 1 < n && text.at(i + 1) == QLatin1Char('"')) {
                    field += c;
                    ++i;
                } else {
                    quoted = false;
                }
            } else {
                field += c;
            }
        } else if (c == QLatin1Char('"') && !fieldStarted) {
            quoted = true;
            fieldStarted = true;
        } else if (c == separator) {
            sheet.setText(row, column, field);
            field.clear();
            fieldStarted = false;
            ++column;
        } else if (c == QLatin1Char('\r') || c == QLatin1Char('\n')) {
            sheet.setText(row, column, field);
            field.clear();
            fieldStarted = false;
            if (c == QLatin1Char('\r') && i + 1 < n && text.at(i + 1) == QLatin1Char('\n'))
                ++i;
            ++row;
            column = 1;
        } else {
            field += c;
            fieldStarted = true;
        }
    }
    sheet.setText(row, column, field);
    return book;
}

} // namespace WorkbookFormats
