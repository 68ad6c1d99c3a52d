#include "sheets/cell_text.h"

#include <QList>

#include <cmath>

namespace CellText {

QString generalNumber(double value) {
    if (std::isnan(value))
        return QStringLiteral("#NUM!");
    if (std::isinf(value))
        return value > 0 ? QStringLiteral("#NUM!") : QStringLiteral("-#NUM!");
    if (value == 0)
        return QStringLiteral("0");
    if (std::fabs(value) < 1e15 && value == std::trunc(value))
        return QString::number(static_cast<qint64>(value));
    // Fifteen significant digits: what the workbook stores reliably; Qt drops trailing zeros.
    QString text = QString::number(value, 'g', 15);
    text.replace(QStringLiteral("e+"), QStringLiteral("E+"));
    text.replace(QStringLiteral("e-"), QStringLiteral("E-"));
    return text;
}

std::optional<QString> builtInDateFormat(int id) {
    switch (id) {
    case 14:
        return QStringLiteral("m/d/yyyy");
    case 15:
        return QStringLiteral("d-mmm-yy");
    case 16:
        return QStringLiteral("d-mmm");
    case 17:
        return QStringLiteral("mmm-yy");
    case 18:
        return QStringLiteral("h:mm AM/PM");
    case 19:
        return QStringLiteral("h:mm:ss AM/PM");
    case 20:
        return QStringLiteral("h:mm");
    case 21:
        return QStringLiteral("h:mm:ss");
    case 22:
        return QStringLiteral("m/d/yyyy h:mm");
    case 45:
        return QStringLiteral("mm:ss");
    case 46:
        return QStringLiteral("[h]:mm:ss");
    case 47:
        return QStringLiteral("mmss.0");
    default:
        break;
    }
    if ((id >= 27 && id <= 36) || (id >= 50 && id <= 58))
        return QString();
    return std::nullopt;
}

namespace {

enum class Kind {
    Literal,
    Year,
    Month,
    Minute,
    Day,
    Hour,
    Second,
    AmPm,
    Fraction,
    ElapsedH,
    ElapsedM,
    ElapsedS
};

struct Token {
    Kind kind;
    int count = 0; // letters in the run, or digits of a fraction; 1 = "A/P", 2 = "AM/PM"
    QString text;  // literal text
};

bool isDateKind(Kind k) {
    return k != Kind::Literal;
}

// The first section of a format code as tokens; nothing when the code has number placeholders or
// parts this renderer does not know.
std::optional<QList<Token>> tokenize(const QString& code) {
    QList<Token> tokens;
    auto literal = [&](const QString& text) {
        if (!tokens.isEmpty() && tokens.last().kind == Kind::Literal)
            tokens.last().text += text;
        else
            tokens.append(Token{Kind::Literal, 0, text});
    };
    const qsizetype n = code.size();
    qsizetype i = 0;
    while (i < n) {
        const QChar c = code.at(i);
        const QChar lower = c.toLower();
        if (c == QLatin1Char(';'))
            break;
        if (c == QLatin1Char('"')) {
            const qsizetype end = code.indexOf(QLatin1Char('"'), i + 1);
            if (end < 0)
                return std::nullopt;
            literal(code.mid(i + 1, end - i - 1));
            i = end + 1;
            continue;
        }
        if (c == QLatin1Char('\\')) {
            if (i + 1 < n)
                literal(code.mid(i + 1, 1));
            i += 2;
            continue;
        }
        if (c == QLatin1Char('_')) {
            literal(QStringLiteral(" "));
            i += 2;
            continue;
        }
        if (c == QLatin1Char('*')) {
            i += 2;
            continue;
        }
        if (c == QLatin1Char('[')) {
            const qsizetype end = code.indexOf(QLatin1Char(']'), i + 1);
            if (end < 0)
                return std::nullopt;
            const QString inner = code.mid(i + 1, end - i - 1).toLower();
            i = end + 1;
            if (!inner.isEmpty() && inner.count(inner.at(0)) == inner.size() &&
                (inner.at(0) == QLatin1Char('h') || inner.at(0) == QLatin1Char('m') ||
                 inner.at(0) == QLatin1Char('s'))) {
                const Kind k = inner.at(0) == QLatin1Char('h')   ? Kind::ElapsedH
                               : inner.at(0) == QLatin1Char('m') ? Kind::ElapsedM
                                                                 : Kind::ElapsedS;
                tokens.append(Token{k, static_cast<int>(inner.size()), QString()});
            } else if (inner.startsWith(QLatin1Char('$'))) {
                // A currency or locale tag: "[$€-407]" shows the symbol, "[$-409]" nothing.
                const QString symbol = inner.mid(1).section(QLatin1Char('-'), 0, 0);
                if (!symbol.isEmpty())
                    literal(code.mid(end - inner.size() + 1, symbol.size()));
            }
            // Colours and conditions show nothing.
            continue;
        }
        if (code.mid(i, 5).compare(QLatin1String("AM/PM"), Qt::CaseInsensitive) == 0) {
            tokens.append(Token{Kind::AmPm, 2, QString()});
            i += 5;
            continue;
        }
        if (code.mid(i, 3).compare(QLatin1String("A/P"), Qt::CaseInsensitive) == 0) {
            tokens.append(Token{Kind::AmPm, 1, QString()});
            i += 3;
            continue;
        }
        if (lower == QLatin1Char('y') || lower == QLatin1Char('m') || lower == QLatin1Char('d') ||
            lower == QLatin1Char('h') || lower == QLatin1Char('s')) {
            qsizetype j = i;
            while (j < n && code.at(j).toLower() == lower)
                ++j;
            const int count = static_cast<int>(j - i);
            const Kind k = lower == QLatin1Char('y')   ? Kind::Year
                           : lower == QLatin1Char('m') ? Kind::Month
                           : lower == QLatin1Char('d') ? Kind::Day
                           : lower == QLatin1Char('h') ? Kind::Hour
                                                       : Kind::Second;
            tokens.append(Token{k, count, QString()});
            i = j;
            continue;
        }
        if (c == QLatin1Char('.') && i + 1 < n && code.at(i + 1) == QLatin1Char('0') && !tokens.isEmpty() &&
            (tokens.last().kind == Kind::Second || tokens.last().kind == Kind::ElapsedS)) {
            qsizetype j = i + 1;
            while (j < n && code.at(j) == QLatin1Char('0'))
                ++j;
            tokens.append(Token{Kind::Fraction, static_cast<int>(qMin<qsizetype>(j - i - 1, 3)), QString()});
            i = j;
            continue;
        }
        if (c == QLatin1Char('0') || c == QLatin1Char('#') || c == QLatin1Char('?') ||
            c == QLatin1Char('@') || c == QLatin1Char('%') || lower == QLatin1Char('e') ||
            lower == QLatin1Char('g') || lower == QLatin1Char('b'))
            return std::nullopt;
        literal(QString(c));
        ++i;
    }
    // "m" means minutes right after hours or right before seconds.
    for (qsizetype t = 0; t < tokens.size(); ++t) {
        if (tokens[t].kind != Kind::Month || tokens[t].count > 2)
            continue;
        qsizetype before = t - 1;
        while (before >= 0 && tokens[before].kind == Kind::Literal)
            --before;
        qsizetype after = t + 1;
        while (after < tokens.size() && tokens[after].kind == Kind::Literal)
            ++after;
        if ((before >= 0 && (tokens[before].kind == Kind::Hour || tokens[before].kind == Kind::ElapsedH)) ||
            (after < tokens.size() &&
             (tokens[after].kind == Kind::Second || tokens[after].kind == Kind::ElapsedS)))
            tokens[t].kind = Kind::Minute;
    }
    bool any = false;
    for (const Token& t : tokens)
        any = any || isDateKind(t.kind);
    if (!any)
        return std::nullopt;
    return tokens;
}

QString pad(qint64 value, int width) {
    return QString::number(value).rightJustified(width, QLatin1Char('0'));
}

const char* const MonthNames[] = {"January", "February", "March",     "April",   "May",      "June",
                                  "July",    "August",   "September", "October", "November", "December"};
const char* const DayNames[] = {"Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday", "Sunday"};

} // namespace

bool isDateFormat(const QString& code) {
    return tokenize(code).has_value();
}

std::optional<QDateTime> serialToDateTime(double serial, bool date1904) {
    if (!std::isfinite(serial) || serial < 0 || serial > 2958466.0)
        return std::nullopt;
    const qint64 totalMs = std::llround(serial * 86400000.0);
    const qint64 days = totalMs / 86400000;
    const qint64 msInDay = totalMs % 86400000;
    QDate date;
    if (date1904)
        date = QDate(1904, 1, 1).addDays(days);
    else if (days >= 61)
        date = QDate(1899, 12, 30).addDays(days); // past the workbook's invented 29 February 1900
    else
        date = QDate(1899, 12, 31).addDays(days);
    if (date.year() > 9999)
        return std::nullopt;
    return QDateTime(date, QTime::fromMSecsSinceStartOfDay(static_cast<int>(msInDay)), Qt::UTC);
}

std::optional<QString> formatDateTime(const QDateTime& when, double serial, const QString& code) {
    const auto tokens = tokenize(code);
    if (!tokens)
        return std::nullopt;
    bool twelveHour = false;
    int fractionDigits = 0;
    for (const Token& t : *tokens) {
        twelveHour = twelveHour || t.kind == Kind::AmPm;
        if (t.kind == Kind::Fraction)
            fractionDigits = t.count;
    }
    // Shown seconds are rounded to the digits the format shows.
    qint64 unit = 1000;
    for (int d = 0; d < fractionDigits; ++d)
        unit /= 10;
    const qint64 totalMs = std::llround(serial * 86400000.0 / static_cast<double>(unit)) * unit;
    QDateTime t = when;
    const qint64 shift = totalMs - std::llround(serial * 86400000.0);
    t = t.addMSecs(shift);
    const QDate d = t.date();
    const QTime tm = t.time();

    QString out;
    for (const Token& tok : *tokens) {
        switch (tok.kind) {
        case Kind::Literal:
            out += tok.text;
            break;
        case Kind::Year:
            out += tok.count <= 2 ? pad(d.year() % 100, 2) : pad(d.year(), 4);
            break;
        case Kind::Month:
            if (tok.count == 1)
                out += QString::number(d.month());
            else if (tok.count == 2)
                out += pad(d.month(), 2);
            else if (tok.count == 3)
                out += QString::fromLatin1(MonthNames[d.month() - 1]).left(3);
            else if (tok.count == 5)
                out += QString::fromLatin1(MonthNames[d.month() - 1]).left(1);
            else
                out += QString::fromLatin1(MonthNames[d.month() - 1]);
            break;
        case Kind::Minute:
            out += tok.count == 1 ? QString::number(tm.minute()) : pad(tm.minute(), 2);
            break;
        case Kind::Day:
            if (tok.count == 1)
                out += QString::number(d.day());
            else if (tok.count == 2)
                out += pad(d.day(), 2);
            else if (tok.count == 3)
                out += QString::fromLatin1(DayNames[d.dayOfWeek() - 1]).left(3);
            else
                out += QString::fromLatin1(DayNames[d.dayOfWeek() - 1]);
            break;
        case Kind::Hour: {
            int h = tm.hour();
            if (twelveHour) {
                h %= 12;
                if (h == 0)
                    h = 12;
            }
            out += tok.count == 1 ? QString::number(h) : pad(h, 2);
            break;
        }
        case Kind::Second:
            out += tok.count == 1 ? QString::number(tm.second()) : pad(tm.second(), 2);
            break;
        case Kind::AmPm:
            if (tok.count == 1)
                out += tm.hour() < 12 ? QStringLiteral("A") : QStringLiteral("P");
            else
                out += tm.hour() < 12 ? QStringLiteral("AM") : QStringLiteral("PM");
            break;
        case Kind::Fraction:
            out += QLatin1Char('.') + pad(tm.msec(), 3).left(tok.count);
            break;
        case Kind::ElapsedH:
            out += pad(totalMs / 3600000, tok.count);
            break;
        case Kind::ElapsedM:
            out += pad(totalMs / 60000, tok.count);
            break;
        case Kind::ElapsedS:
            out += pad(totalMs / 1000, tok.count);
            break;
        }
    }
    return out;
}

QString isoDateTime(const QDateTime& when, double serial) {
    const QDateTime t = when.addMSecs(500).addMSecs(-((when.time().msec() + 500) % 1000));
    const QString time = t.time().toString(QStringLiteral("HH:mm:ss"));
    if (serial < 1)
        return time;
    const QString date = t.date().toString(QStringLiteral("yyyy-MM-dd"));
    if (t.time() == QTime(0, 0))
        return date;
    return date + QLatin1Char(' ') + time;
}

QString dateText(double serial, const QString& code, bool date1904) {
    const auto when = serialToDateTime(serial, date1904);
    if (!when)
        return generalNumber(serial);
    if (!code.isEmpty())
        if (const auto shown = formatDateTime(*when, serial, code))
            return *shown;
    return isoDateTime(*when, serial);
}

} // namespace CellText
