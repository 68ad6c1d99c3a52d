// OpenDocument spreadsheets (.ods): a zip package whose content.xml holds the tables. A cell
// carries the text its application displays (text:p), which is what the import shows; the typed
// value serves only when a cell has no text of its own.

#include "base/error_report.h"
#include "sheets/cell_text.h"
#include "sheets/workbook_formats.h"

#include "keywords/input_limits.h"
#include "sheets/bounded_xml.h"
#include <QRegularExpression>

#include <cmath>
#include <utility>
#include <vector>

namespace WorkbookFormats {

namespace {

void checkXml(const BoundedXml& xml, const QString& part) {
    // The reader's own limits (depth, declarations) name the file they refuse.
    if (xml.error() == QXmlStreamReader::CustomError)
        throw InputLimits::LimitExceeded(
            QStringLiteral("it is damaged or is not a workbook (%1: %2)").arg(part, xml.errorString()));
    if (xml.hasError() && xml.error() != QXmlStreamReader::PrematureEndOfDocumentError)
        throw AppError(QStringLiteral("The file is damaged or is not a workbook (%1: %2).")
                           .arg(part, xml.errorString()));
}

// The name of the table the document was showing when it was saved; "" when it does not say.
QString activeTableName(const ZipPackage& package) {
    if (!package.contains(QStringLiteral("settings.xml")))
        return QString();
    const auto member = package.open(QStringLiteral("settings.xml"));
    BoundedXml xml(member.get());
    QString name;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement() && xml.name() == QLatin1String("config-item") &&
            xml.attributes().value(QLatin1String("config:name")) == QLatin1String("ActiveTable")) {
            name = xml.readElementText();
            break;
        }
    }
    member->finish();
    return name;
}

void checkLength(const QString& text) {
    if (text.size() > InputLimits::MaxWorkbookCharacters)
        throw InputLimits::LimitExceeded(
            QStringLiteral("a cell holds more than %L1 characters").arg(InputLimits::MaxWorkbookCharacters));
}

// The text of a paragraph element (text:p, text:h), spans and links inside it included; ends on
// the paragraph's end element.
void appendParagraphText(BoundedXml& xml, QString& text) {
    const int end = xml.depth() - 1;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isCharacters()) {
            text += xml.text();
            checkLength(text);
        } else if (xml.isStartElement()) {
            const auto name = xml.name();
            if (name == QLatin1String("s")) {
                bool ok = false;
                const int count = xml.attributes().value(QLatin1String("text:c")).toInt(&ok);
                text += QString(ok && count > 0 ? qMin(count, 10000) : 1, QLatin1Char(' '));
                checkLength(text);
                xml.skipCurrentElement();
            } else if (name == QLatin1String("tab")) {
                text += QLatin1Char('\t');
                xml.skipCurrentElement();
            } else if (name == QLatin1String("line-break")) {
                text += QLatin1Char('\n');
                xml.skipCurrentElement();
            } else if (name == QLatin1String("note") || name == QLatin1String("annotation") ||
                       name == QLatin1String("bookmark-start") || name == QLatin1String("bookmark-end")) {
                xml.skipCurrentElement();
            }
            // span, a, ...: the loop goes on inside them, their text counts
        } else if (xml.isEndElement() && xml.depth() == end) {
            return;
        }
    }
}

// "PT12H30M05S" -> "12:30:05".
QString durationText(const QString& duration) {
    static const QRegularExpression form(
        QStringLiteral(R"(^-?P(?:(\d+)D)?T?(?:(\d+)H)?(?:(\d+)M)?(?:([\d.]+)S)?$)"));
    const auto m = form.match(duration);
    if (!m.hasMatch())
        return duration;
    const qint64 hours = m.captured(1).toLongLong() * 24 + m.captured(2).toLongLong();
    const qint64 seconds = std::llround(m.captured(4).toDouble());
    return QStringLiteral("%1:%2:%3")
        .arg(hours, 2, 10, QLatin1Char('0'))
        .arg(m.captured(3).toLongLong(), 2, 10, QLatin1Char('0'))
        .arg(seconds, 2, 10, QLatin1Char('0'));
}

// A typed value shown without the application's text.
QString valueText(const QXmlStreamAttributes& a) {
    const auto type = a.value(QLatin1String("office:value-type"));
    if (type == QLatin1String("float") || type == QLatin1String("percentage") ||
        type == QLatin1String("currency")) {
        bool ok = false;
        const double v = a.value(QLatin1String("office:value")).toDouble(&ok);
        return ok ? CellText::generalNumber(v) : QString();
    }
    if (type == QLatin1String("date")) {
        QString v = a.value(QLatin1String("office:date-value")).toString();
        v.replace(QLatin1Char('T'), QLatin1Char(' '));
        return v.endsWith(QLatin1String(" 00:00:00")) ? v.left(10) : v;
    }
    if (type == QLatin1String("time"))
        return durationText(a.value(QLatin1String("office:time-value")).toString());
    if (type == QLatin1String("boolean")) {
        const auto v = a.value(QLatin1String("office:boolean-value"));
        return v == QLatin1String("true") || v == QLatin1String("1") ? QStringLiteral("TRUE")
                                                                     : QStringLiteral("FALSE");
    }
    if (type == QLatin1String("string"))
        return a.value(QLatin1String("office:string-value")).toString();
    return QString();
}

int repeatOf(const QXmlStreamAttributes& a, QLatin1String attribute) {
    bool ok = false;
    const int n = a.value(attribute).toInt(&ok);
    return ok && n > 1 ? n : 1;
}

// One table:table-cell or table:covered-table-cell, positioned on its start element.
QString readCell(BoundedXml& xml) {
    const QXmlStreamAttributes a = xml.attributes();
    QString text;
    bool hasParagraph = false;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement()) {
            if (xml.name() == QLatin1String("p") || xml.name() == QLatin1String("h")) {
                if (hasParagraph)
                    text += QLatin1Char('\n');
                hasParagraph = true;
                appendParagraphText(xml, text);
            } else {
                xml.skipCurrentElement(); // comments, pictures, sub-tables
            }
        } else if (xml.isEndElement()) {
            break;
        }
    }
    return hasParagraph ? text : valueText(a);
}

// One table:table-row, positioned on its start element; records `row` and its repeats, with
// repeated cells kept as one run each.
void readRow(BoundedXml& xml, int row, int repeat, Sheet* sheet) {
    std::vector<CellRun> cells;
    int column = 1;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement()) {
            if (xml.name() == QLatin1String("table-cell") ||
                xml.name() == QLatin1String("covered-table-cell")) {
                const int span = repeatOf(xml.attributes(), QLatin1String("table:number-columns-repeated"));
                const QString text = readCell(xml);
                if (!text.isEmpty())
                    cells.push_back(CellRun{column, span, text}); // the sheet refuses it past the limits
                column = static_cast<int>(
                    qMin<qint64>(static_cast<qint64>(column) + span, SheetLimits::Columns + 1));
            } else {
                xml.skipCurrentElement();
            }
        } else if (xml.isEndElement()) {
            break;
        }
    }
    if (sheet)
        sheet->addRows(row, repeat, std::move(cells));
}

} // namespace

Workbook readOds(const QString& path) {
    ZipPackage package(path);
    if (!package.contains(QStringLiteral("content.xml")))
        throw AppError(QStringLiteral("The file is damaged or is not a workbook (it has no content)."));
    const QString activeName = activeTableName(package);

    // One pass over the tables: the first is kept until the one named active comes.
    Workbook book;
    const auto member = package.open(QStringLiteral("content.xml"));
    BoundedXml xml(member.get());
    bool inSpreadsheet = false;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement() && xml.name() == QLatin1String("spreadsheet")) {
            inSpreadsheet = true;
        } else if (inSpreadsheet && xml.isStartElement() && xml.name() == QLatin1String("table")) {
            const QString name = xml.attributes().value(QLatin1String("table:name")).toString();
            const int index = static_cast<int>(book.sheetNames.size());
            book.sheetNames.push_back(name);
            const bool keep = index == 0 || (!activeName.isEmpty() && name == activeName);
            if (keep && index > 0)
                book.active = index;
            Sheet sheet;
            sheet.name = name;
            int row = 1;
            // Rows may sit inside header-row and row-group containers.
            int depth = 1;
            while (!xml.atEnd() && depth > 0) {
                xml.readNext();
                if (xml.isStartElement()) {
                    if (xml.name() == QLatin1String("table-row")) {
                        const int repeat =
                            repeatOf(xml.attributes(), QLatin1String("table:number-rows-repeated"));
                        readRow(xml, row, repeat, keep ? &sheet : nullptr);
                        row = static_cast<int>(
                            qMin<qint64>(static_cast<qint64>(row) + repeat, SheetLimits::Rows + 1));
                    } else if (xml.name() == QLatin1String("table-header-rows") ||
                               xml.name() == QLatin1String("table-row-group") ||
                               xml.name() == QLatin1String("table-rows")) {
                        ++depth;
                    } else {
                        xml.skipCurrentElement();
                    }
                } else if (xml.isEndElement()) {
                    --depth;
                }
            }
            if (keep)
                book.activeSheet = std::move(sheet);
        }
    }
    member->finish();
    checkXml(xml, QStringLiteral("content.xml"));
    if (book.sheetNames.empty())
        throw AppError(QStringLiteral("The file is not a spreadsheet (it has no tables)."));
    return book;
}

} // namespace WorkbookFormats
