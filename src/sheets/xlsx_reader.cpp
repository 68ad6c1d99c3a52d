// Office Open XML workbooks (.xlsx, .xlsm): a zip package of XML parts. Only the parts the
// import needs are read: the workbook (sheet names, active sheet, date system), the shared
// strings, the styles' number formats and the active sheet.

#include "base/error_report.h"
#include "sheets/cell_text.h"
#include "sheets/workbook_formats.h"

#include "keywords/input_limits.h"
#include "sheets/bounded_xml.h"
#include <QHash>

#include <optional>
#include <vector>

namespace WorkbookFormats {

namespace {

// Text in these parts escapes characters that XML cannot carry as "_xHHHH_".
QString unescapeOoxml(const QString& text) {
    if (!text.contains(QLatin1String("_x")))
        return text;
    QString out;
    out.reserve(text.size());
    qsizetype i = 0;
    while (i < text.size()) {
        if (i + 6 < text.size() && text.at(i) == QLatin1Char('_') && text.at(i + 1) == QLatin1Char('x') &&
            text.at(i + 6) == QLatin1Char('_')) {
            bool ok = false;
            const uint code = QStringView(text).mid(i + 2, 4).toUInt(&ok, 16);
            if (ok) {
                out += QChar(static_cast<char16_t>(code));
                i += 7;
                continue;
            }
        }
        out += text.at(i);
        ++i;
    }
    return out;
}

// "xl/worksheets/sheet1.xml" for target "worksheets/sheet1.xml" of part "xl/workbook.xml".
QString resolveTarget(const QString& part, const QString& target) {
    QStringList path;
    if (!target.startsWith(QLatin1Char('/'))) {
        path = part.split(QLatin1Char('/'));
        path.removeLast();
    }
    for (const QString& piece : target.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (piece == QLatin1String(".."))
            path.isEmpty() ? void() : path.removeLast();
        else if (piece != QLatin1String("."))
            path << piece;
    }
    return path.join(QLatin1Char('/'));
}

// The relationships file of a part: id -> (type, resolved target).
struct Relationship {
    QString type;
    QString target;
};

QString relsOf(const QString& part) {
    const qsizetype slash = part.lastIndexOf(QLatin1Char('/'));
    return part.left(slash + 1) + QStringLiteral("_rels/") + part.mid(slash + 1) + QStringLiteral(".rels");
}

QHash<QString, Relationship> readRelationships(const ZipPackage& package, const QString& part) {
    QHash<QString, Relationship> result;
    const QString rels = relsOf(part);
    if (!package.contains(rels))
        return result;
    const auto member = package.open(rels);
    BoundedXml xml(member.get());
    while (!xml.atEnd()) {
        xml.readNext();
        if (!xml.isStartElement() || xml.name() != QLatin1String("Relationship"))
            continue;
        const auto a = xml.attributes();
        if (a.value(QLatin1String("TargetMode")) == QLatin1String("External"))
            continue;
        result.insert(a.value(QLatin1String("Id")).toString(),
                      Relationship{a.value(QLatin1String("Type")).toString(),
                                   resolveTarget(part, a.value(QLatin1String("Target")).toString())});
    }
    member->finish();
    return result;
}

QString findByType(const QHash<QString, Relationship>& rels, QLatin1String typeEnd) {
    for (const Relationship& r : rels)
        if (r.type.endsWith(typeEnd))
            return r.target;
    return QString();
}

void checkXml(const BoundedXml& xml, const QString& part) {
    // The reader's own limits (depth, declarations) name the file they refuse.
    if (xml.error() == QXmlStreamReader::CustomError)
        throw InputLimits::LimitExceeded(
            QStringLiteral("it is damaged or is not a workbook (%1: %2)").arg(part, xml.errorString()));
    if (xml.hasError() && xml.error() != QXmlStreamReader::PrematureEndOfDocumentError)
        throw AppError(QStringLiteral("The file is damaged or is not a workbook (%1: %2).")
                           .arg(part, xml.errorString()));
}

// The text of an <si> or <is> element, rich text runs joined, phonetic guides left out.
QString readStringItem(BoundedXml& xml) {
    QString text;
    const QString end = xml.name().toString();
    int skipDepth = 0;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement()) {
            if (skipDepth > 0 || xml.name() == QLatin1String("rPh") ||
                xml.name() == QLatin1String("phoneticPr"))
                ++skipDepth;
            else if (xml.name() == QLatin1String("t"))
                text += xml.readElementText();
        } else if (xml.isEndElement()) {
            if (skipDepth > 0)
                --skipDepth;
            else if (xml.name() == end)
                break;
        }
    }
    return unescapeOoxml(text);
}

std::vector<QString> readSharedStrings(const ZipPackage& package, const QString& part) {
    std::vector<QString> strings;
    if (part.isEmpty() || !package.contains(part))
        return strings;
    const auto member = package.open(part);
    BoundedXml xml(member.get());
    qint64 characters = 0;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement()) {
            if (xml.name() == QLatin1String("sst")) {
                // The count is only a hint: a hostile one must not reserve gigabytes.
                bool ok = false;
                const qsizetype count = xml.attributes().value(QLatin1String("uniqueCount")).toInt(&ok);
                if (ok && count > 0)
                    strings.reserve(static_cast<size_t>(qMin<qsizetype>(count, 1'000'000)));
            } else if (xml.name() == QLatin1String("si")) {
                strings.push_back(readStringItem(xml));
                characters += strings.back().size();
                if (characters > InputLimits::MaxWorkbookCharacters)
                    throw InputLimits::LimitExceeded(
                        QStringLiteral("its shared strings hold more than %L1 characters")
                            .arg(InputLimits::MaxWorkbookCharacters));
            }
        }
    }
    member->finish();
    checkXml(xml, part);
    return strings;
}

// For each cell format (the "s" index of a cell): the date format code it shows dates with ("" =
// ISO form), or nothing when it shows no date.
std::vector<std::optional<QString>> readDateStyles(const ZipPackage& package, const QString& part) {
    std::vector<std::optional<QString>> styles;
    if (part.isEmpty() || !package.contains(part))
        return styles;
    QHash<int, QString> custom;
    const auto member = package.open(part);
    BoundedXml xml(member.get());
    bool inCellXfs = false;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement()) {
            const auto a = xml.attributes();
            if (xml.name() == QLatin1String("numFmt")) {
                custom.insert(a.value(QLatin1String("numFmtId")).toInt(),
                              a.value(QLatin1String("formatCode")).toString());
            } else if (xml.name() == QLatin1String("cellXfs")) {
                inCellXfs = true;
            } else if (inCellXfs && xml.name() == QLatin1String("xf")) {
                const int id = a.value(QLatin1String("numFmtId")).toInt();
                std::optional<QString> date;
                if (custom.contains(id)) {
                    if (CellText::isDateFormat(custom.value(id)))
                        date = custom.value(id);
                } else {
                    date = CellText::builtInDateFormat(id);
                }
                styles.push_back(date);
            }
        } else if (xml.isEndElement() && xml.name() == QLatin1String("cellXfs")) {
            inCellXfs = false;
        }
    }
    member->finish();
    checkXml(xml, part);
    return styles;
}

// "AB12" -> column 28, row 12. Either part may be missing. A number beyond the sheet's limits
// comes back as one past the limit.
void parseReference(QStringView ref, int& row, int& column) {
    qsizetype i = 0;
    int c = 0;
    while (i < ref.size() && ref.at(i).isLetter()) {
        c = qMin(c * 26 + (ref.at(i).toUpper().unicode() - u'A' + 1), SheetLimits::Columns + 1);
        ++i;
    }
    if (c > 0)
        column = c;
    const QStringView digits = ref.mid(i);
    if (digits.isEmpty())
        return;
    bool ok = false;
    const qlonglong r = digits.toLongLong(&ok);
    if (ok && r > 0)
        row = static_cast<int>(qMin<qlonglong>(r, SheetLimits::Rows + 1));
    else if (!ok && !digits.isEmpty() && digits.front().isDigit())
        row = SheetLimits::Rows + 1; // too many digits for any row
}

double serialOf(const QDateTime& when) {
    const qint64 days = QDate(1899, 12, 30).daysTo(when.date());
    return static_cast<double>(days) + when.time().msecsSinceStartOfDay() / 86400000.0;
}

struct SheetContext {
    const std::vector<QString>& strings;
    const std::vector<std::optional<QString>>& dateStyles;
    bool date1904;
};

QString cellText(const SheetContext& ctx, QStringView type, int style, const QString& value,
                 const QString& inlineText) {
    if (type == QLatin1String("inlineStr"))
        return inlineText;
    if (type == QLatin1String("s")) {
        bool ok = false;
        const int index = value.toInt(&ok);
        if (!ok || index < 0 || index >= static_cast<int>(ctx.strings.size()))
            return QString();
        return ctx.strings[static_cast<size_t>(index)];
    }
    if (value.isEmpty())
        return inlineText;
    if (type == QLatin1String("b"))
        return value.trimmed() == QLatin1String("0") ? QStringLiteral("FALSE") : QStringLiteral("TRUE");
    if (type == QLatin1String("str") || type == QLatin1String("e"))
        return unescapeOoxml(value);
    const std::optional<QString>* date = nullptr;
    if (style >= 0 && style < static_cast<int>(ctx.dateStyles.size()) &&
        ctx.dateStyles[static_cast<size_t>(style)])
        date = &ctx.dateStyles[static_cast<size_t>(style)];
    if (type == QLatin1String("d")) {
        const QDateTime when = QDateTime::fromString(value, Qt::ISODateWithMs);
        if (!when.isValid())
            return value;
        return CellText::dateText(serialOf(when), date ? **date : QString(), false);
    }
    bool ok = false;
    const double number = value.toDouble(&ok);
    if (!ok)
        return value;
    if (date)
        return CellText::dateText(number, **date, ctx.date1904);
    return CellText::generalNumber(number);
}

void readSheet(const ZipPackage& package, const QString& part, const SheetContext& ctx, Sheet& sheet) {
    const auto member = package.open(part);
    BoundedXml xml(member.get());
    int row = 0;
    int column = 0;
    while (!xml.atEnd()) {
        xml.readNext();
        if (!xml.isStartElement())
            continue;
        if (xml.name() == QLatin1String("row")) {
            int r = row + 1;
            int unused = 0;
            parseReference(xml.attributes().value(QLatin1String("r")), r, unused);
            if (r > SheetLimits::Rows)
                sheet.setText(r, 1, QString()); // beyond the limits: refused
            // The row is in the file, even when none of its cells shows anything.
            sheet.addRows(r, 1, {});
            row = r;
            column = 0;
        } else if (xml.name() == QLatin1String("c")) {
            const auto a = xml.attributes();
            int r = row > 0 ? row : 1;
            int c = column + 1;
            parseReference(a.value(QLatin1String("r")), r, c);
            const QString type = a.value(QLatin1String("t")).toString();
            bool ok = false;
            int style = a.value(QLatin1String("s")).toInt(&ok);
            if (!ok)
                style = 0;
            QString value;
            QString inlineText;
            while (!xml.atEnd()) {
                xml.readNext();
                if (xml.isStartElement()) {
                    if (xml.name() == QLatin1String("v"))
                        value = xml.readElementText();
                    else if (xml.name() == QLatin1String("is"))
                        inlineText = readStringItem(xml);
                    else
                        xml.skipCurrentElement();
                } else if (xml.isEndElement()) {
                    break; // </c>
                }
            }
            sheet.setText(r, c, cellText(ctx, type, style, value, inlineText));
            row = r;
            column = c;
        }
    }
    member->finish();
    checkXml(xml, part);
}

} // namespace

Workbook readXlsx(const QString& path) {
    ZipPackage package(path);
    QString workbookPart =
        findByType(readRelationships(package, QStringLiteral("")), QLatin1String("/officeDocument"));
    if (workbookPart.isEmpty())
        workbookPart = QStringLiteral("xl/workbook.xml");
    if (workbookPart.endsWith(QLatin1String(".bin"), Qt::CaseInsensitive))
        throw AppError(
            QStringLiteral("Binary workbooks (.xlsb) cannot be read. Save the workbook as .xlsx, .ods "
                           "or .xls and load that file."));
    if (!package.contains(workbookPart))
        throw AppError(QStringLiteral("The file is damaged or is not a workbook (it has no workbook part)."));

    Workbook book;
    bool date1904 = false;
    std::vector<QString> sheetIds;
    {
        const auto member = package.open(workbookPart);
        BoundedXml xml(member.get());
        while (!xml.atEnd()) {
            xml.readNext();
            if (!xml.isStartElement())
                continue;
            const auto a = xml.attributes();
            if (xml.name() == QLatin1String("workbookPr")) {
                const auto v = a.value(QLatin1String("date1904"));
                date1904 = v == QLatin1String("1") || v == QLatin1String("true");
            } else if (xml.name() == QLatin1String("workbookView")) {
                bool ok = false;
                const int tab = a.value(QLatin1String("activeTab")).toInt(&ok);
                if (ok)
                    book.active = tab;
            } else if (xml.name() == QLatin1String("sheet")) {
                QString id;
                for (const QXmlStreamAttribute& attr : a)
                    if (attr.name() == QLatin1String("id") && !attr.prefix().isEmpty())
                        id = attr.value().toString();
                book.sheetNames.push_back(a.value(QLatin1String("name")).toString());
                sheetIds.push_back(id);
            }
        }
        member->finish();
        checkXml(xml, workbookPart);
    }
    if (book.sheetNames.empty())
        throw AppError(QStringLiteral("The workbook has no sheets."));
    if (book.active < 0 || book.active >= static_cast<int>(book.sheetNames.size()))
        book.active = 0;

    const auto rels = readRelationships(package, workbookPart);
    const auto strings = readSharedStrings(package, findByType(rels, QLatin1String("/sharedStrings")));
    const auto styles = readDateStyles(package, findByType(rels, QLatin1String("/styles")));

    const QString sheetPart = rels.value(sheetIds[static_cast<size_t>(book.active)]).target;
    if (sheetPart.isEmpty() || !package.contains(sheetPart))
        throw AppError(
            QStringLiteral("The file is damaged or is not a workbook (the active sheet is missing)."));
    book.activeSheet.name = book.sheetNames[static_cast<size_t>(book.active)];
    readSheet(package, sheetPart, SheetContext{strings, styles, date1904}, book.activeSheet);
    return book;
}

} // namespace WorkbookFormats
