#include "fetch/response_scan.h"

#include "fetch/limits.h"
#include "fetch/sources/answer_fields.h"

#include "base/conversions.h"
#include "base/error_report.h"
#include "base/file_routines.h"

#include <QFile>

#include <algorithm>
#include <cmath>
#include <limits>

namespace CurlFunctions {

namespace {

const QString ImagesMarker = QStringLiteral("\"_type\":\"images\"");
const QString MessageMarker = QStringLiteral("\"message\":");
const QString TotalMarker = QStringLiteral("\"totalCount");
const qsizetype ValueMarkerLength = 9; // "\"value\":["

qsizetype findNoCase(const QString& text, const QString& marker, qsizetype from = 0) {
    return text.indexOf(marker, from, Qt::CaseInsensitive);
}

// A number of the answer as a 32-bit integer: halves to even; "Overflow" beyond 32 bits.
qint32 toInt32(QStringView text) {
    // The service's sizes are plain digits: read those directly, everything else as the program
    // reads any number.
    if (!text.isEmpty() && text.size() <= 9) {
        qint32 value = 0;
        bool digits = true;
        for (const QChar c : text) {
            if (c < QLatin1Char('0') || c > QLatin1Char('9')) {
                digits = false;
                break;
            }
            value = value * 10 + (c.unicode() - '0');
        }
        if (digits)
            return value;
    }
    const double rounded = std::nearbyint(Conversions::ToDouble(text.toString()));
    if (!(rounded >= std::numeric_limits<qint32>::min() && rounded <= std::numeric_limits<qint32>::max()))
        throw AppError(QStringLiteral("Overflow"));
    return static_cast<qint32>(rounded);
}

} // namespace

QByteArray ReadResponseBytes(const QString& path) {
    if (!Main::FileExists(path))
        return QByteArray();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw AppError(QStringLiteral("Permission denied"));
    // curl stops at the same size; a larger file is not the answer of this request.
    const QByteArray bytes = file.read(Limits::SearchAnswerBytes);
    if (file.error() != QFileDevice::NoError)
        throw AppError(QStringLiteral("Input past end of file"));
    if (bytes.isEmpty())
        return QByteArrayLiteral("empty file");
    return bytes;
}

QString ReadResponse(const QString& path) {
    return QString::fromUtf8(ReadResponseBytes(path));
}

QString GetJSValue(const QString& text, const QString& key, Prompts* prompts) {
    if (text.isEmpty())
        return text;
    const qsizetype at = findNoCase(text, key);
    if (at < 0 || key.isEmpty())
        return QString();
    const qsizetype start = at + key.size();
    qsizetype end = text.indexOf(QLatin1Char(','), start);
    if (end < 0)
        end = text.indexOf(QLatin1String("\" "), start);
    if (end < 0)
        end = text.indexOf(QLatin1Char('}'), start);
    if (end < 0) {
        // Nothing closes the value: it cannot be cut.
        if (prompts)
            ErrorTrap(*prompts, QStringLiteral("CurlFunctions.GetJSValue"))
                .report(110, QStringLiteral("Invalid procedure call or argument"));
        return QString();
    }
    QString value = text.mid(start, end - start);
    value.remove(QLatin1Char('"'));
    value.remove(QLatin1Char(':'));
    value.replace(QLatin1Char(','), QLatin1String(", "));
    qsizetype first = 0;
    qsizetype last = value.size();
    while (first < last && value.at(first) == QLatin1Char(' '))
        ++first;
    while (last > first && value.at(last - 1) == QLatin1Char(' '))
        --last;
    return value.mid(first, last - first);
}

bool IsImageAnswer(const QString& text) {
    return findNoCase(text, ImagesMarker) >= 0;
}

bool HasServiceMessage(const QString& text) {
    return findNoCase(text, MessageMarker) >= 0;
}

QString ServiceMessage(const QString& text, Prompts* prompts) {
    return HasServiceMessage(text)
               ? AnswerFields::message(GetJSValue(text, QStringLiteral("message"), prompts))
               : QString();
}

bool HasTotal(const QString& text) {
    return findNoCase(text, TotalMarker) >= 0;
}

qint32 ReadTotal(const QString& text, Prompts* prompts) {
    const QString value = GetJSValue(text, QStringLiteral("totalCount"), prompts);
    if (!Conversions::IsNumeric(value))
        return 0;
    const double rounded = std::nearbyint(Conversions::ToDouble(value));
    if (rounded >= std::numeric_limits<qint32>::max())
        return std::numeric_limits<qint32>::max();
    if (rounded <= std::numeric_limits<qint32>::min())
        return std::numeric_limits<qint32>::min();
    return static_cast<qint32>(rounded);
}

namespace {
const QString MarkerTexts[] = {
    QStringLiteral("\"url\":"),    // Url
    QStringLiteral(",\"height"),   // AddressEnd
    QStringLiteral("\"width\":"),  // Width
    QStringLiteral("\"height\":"), // Height
    QStringLiteral(","),           // WidthEnd
    QStringLiteral(","),           // HeightEnd
};
} // namespace

namespace {

// The character as case-insensitive searches compare it: ASCII letters in lower case, other
// characters by Unicode case folding.
inline char16_t folded(char16_t c) {
    if (c < 128)
        return c >= 'A' && c <= 'Z' ? static_cast<char16_t>(c + 32) : c;
    return QChar::toCaseFolded(c);
}

// The first place at or after `from` where `marker` stands in any case; -1 when none. The markers
// begin with a quote or a comma, which only match themselves, so the rest is compared only where
// one of those stands.
qsizetype findMarker(const QString& text, const QString& marker, qsizetype from) {
    if (marker.size() == 1)
        return text.indexOf(marker.at(0), from);
    const char16_t first = marker.at(0).unicode();
    const char16_t second = folded(marker.at(1).unicode());
    const qsizetype length = marker.size();
    const char16_t* data = reinterpret_cast<const char16_t*>(text.constData());
    const qsizetype last = text.size() - length;
    for (qsizetype at = from < 0 ? 0 : from; at <= last; ++at) {
        if (data[at] != first || folded(data[at + 1]) != second)
            continue;
        qsizetype k = 2;
        while (k < length && folded(data[at + k]) == folded(marker.at(k).unicode()))
            ++k;
        if (k == length)
            return at;
    }
    return -1;
}

} // namespace

ResultScanner::ResultScanner(QString text)
    : text_(std::move(text)) {
    const qsizetype total = findNoCase(text_, TotalMarker);
    position_ = total < 0 ? -1 : total + ValueMarkerLength;
}

qsizetype ResultScanner::find(Marker marker, qsizetype from) {
    Memo& memo = memo_[marker];
    // No occurrence lies between memo.from and memo.found, so the same answer holds for any start
    // in that stretch.
    if (memo.from >= 0 && from >= memo.from && (memo.found < 0 || from <= memo.found))
        return memo.found;
    memo.from = from;
    memo.found = findMarker(text_, MarkerTexts[marker], from);
    return memo.found;
}

bool ResultScanner::readSize(Marker marker, Marker endMarker, qsizetype from, qint32& size, QString& error) {
    const qsizetype at = find(marker, from);
    if (at < 0)
        return false;
    const qsizetype start = at + MarkerTexts[marker].size();
    const qsizetype comma = find(endMarker, start);
    if (comma < 0)
        return false;
    try {
        const QStringView number = QStringView(text_).mid(start, comma - start);
        size = number.contains(QLatin1Char('"')) ? toInt32(number.toString().remove(QLatin1Char('"')))
                                                 : toInt32(number);
    } catch (const AppError& e) {
        error = e.description();
    }
    return true;
}

ResultScanner::Step ResultScanner::next(ImageResult& result) {
    if (position_ < 0)
        return Step::Over;
    const qsizetype url = find(Url, position_);
    if (url < 0) {
        position_ = -1;
        return Step::Over;
    }
    position_ = url + MarkerTexts[Url].size() + 1; // past the marker and the address's opening quote
    const qsizetype end = find(AddressEnd, position_);
    if (end < 0)
        return Step::Skipped;

    QString address = text_.mid(position_, end - position_);
    address.replace(QLatin1String("\\/"), QLatin1String("/"));
    address.remove(QLatin1Char('"'));
    // An address with control characters is no address, and would reach the screen as it is.
    if (std::any_of(address.cbegin(), address.cend(),
                    [](QChar c) { return AnswerFields::isControl(c.unicode()); }))
        return Step::Skipped;
    QString extension = Main::ExtensionOf(address);
    const qsizetype query = extension.indexOf(QLatin1Char('?'));
    if (query >= 0)
        extension.truncate(query);
    const qsizetype format = extension.indexOf(QLatin1String("&fm="));
    if (format >= 0)
        extension.truncate(format);
    if (extension.isEmpty())
        return Step::Skipped;

    result.address = address;
    result.stem = Main::StripExtension(address);
    result.extension = extension;
    result.downloadAddress = result.stem + QLatin1Char('.') + extension;
    result.widthError.clear();
    result.heightError.clear();
    readSize(Width, WidthEnd, end, result.width, result.widthError);
    readSize(Height, HeightEnd, end, result.height, result.heightError);
    return Step::Found;
}

} // namespace CurlFunctions
