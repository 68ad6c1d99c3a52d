// libFuzzer target: any bytes as a search answer. The scanner must not crash, must end, and must
// give the same results as a plain step-by-step reading of the answer that searches every marker
// afresh (the scanner remembers earlier searches to stay linear; this checks that it never
// remembers wrong).
#include "base/conversions.h"
#include "base/error_report.h"
#include "base/file_routines.h"
#include "fetch/response_scan.h"
#include "fetch/sources/answer_fields.h"

#include <QString>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>

using CurlFunctions::ImageResult;
using CurlFunctions::ResultScanner;

namespace {

void require(bool condition) {
    if (!condition)
        std::abort();
}

qsizetype find(const QString& text, const QString& marker, qsizetype from) {
    return text.indexOf(marker, from, Qt::CaseInsensitive);
}

void plainSize(const QString& text, const QString& marker, qsizetype from, qint32& size, QString& error) {
    const qsizetype at = find(text, marker, from);
    if (at < 0)
        return;
    const qsizetype start = at + marker.size();
    const qsizetype comma = text.indexOf(QLatin1Char(','), start);
    if (comma < 0)
        return;
    const QString number = text.mid(start, comma - start).remove(QLatin1Char('"'));
    try {
        const double rounded = std::nearbyint(Conversions::ToDouble(number));
        if (!(rounded >= std::numeric_limits<qint32>::min() && rounded <= std::numeric_limits<qint32>::max()))
            throw AppError(QStringLiteral("Overflow"));
        size = static_cast<qint32>(rounded);
    } catch (const AppError& e) {
        error = e.description();
    }
}

// One step of the scan, written out plainly. Returns 0 Found, 1 Skipped, 2 Over.
int plainNext(const QString& text, qsizetype& p, ImageResult& r) {
    if (p < 0)
        return 2;
    const qsizetype url = find(text, QStringLiteral("\"url\":"), p);
    if (url < 0) {
        p = -1;
        return 2;
    }
    p = url + 7;
    const qsizetype h = find(text, QStringLiteral(",\"height"), p);
    if (h < 0)
        return 1;
    QString address = text.mid(p, h - p);
    address.replace(QStringLiteral("\\/"), QStringLiteral("/"));
    address.remove(QLatin1Char('"'));
    for (const QChar c : address)
        if (AnswerFields::isControl(c.unicode()))
            return 1;
    QString extension = Main::ExtensionOf(address);
    if (extension.indexOf(QLatin1Char('?')) >= 0)
        extension = extension.left(extension.indexOf(QLatin1Char('?')));
    if (extension.indexOf(QStringLiteral("&fm=")) >= 0)
        extension = extension.left(extension.indexOf(QStringLiteral("&fm=")));
    if (extension.isEmpty())
        return 1;
    r.address = address;
    r.stem = Main::StripExtension(address);
    r.extension = extension;
    r.downloadAddress = r.stem + QLatin1Char('.') + extension;
    r.widthError.clear();
    r.heightError.clear();
    plainSize(text, QStringLiteral("\"width\":"), h, r.width, r.widthError);
    plainSize(text, QStringLiteral("\"height\":"), h, r.height, r.heightError);
    return 0;
}

bool same(const ImageResult& a, const ImageResult& b) {
    return a.address == b.address && a.stem == b.stem && a.extension == b.extension &&
           a.downloadAddress == b.downloadAddress && a.width == b.width && a.height == b.height &&
           a.widthError == b.widthError && a.heightError == b.heightError;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));

    (void)CurlFunctions::IsImageAnswer(text);
    (void)CurlFunctions::ServiceMessage(text);
    (void)CurlFunctions::ReadTotal(text);
    if (size > 0) {
        // A key taken from the answer itself, so that found and cut values are common.
        const QString key = text.left(1 + data[0] % 12);
        const QString value = CurlFunctions::GetJSValue(text, key);
        require(!value.contains(QLatin1Char('"')) && !value.contains(QLatin1Char(':')));
        require(!value.startsWith(QLatin1Char(' ')) && !value.endsWith(QLatin1Char(' ')));
    }

    ResultScanner scan(text);
    ImageResult fast;
    ImageResult plain;
    qsizetype p = CurlFunctions::HasTotal(text)
                      ? text.indexOf(QStringLiteral("\"totalCount"), 0, Qt::CaseInsensitive) + 9
                      : -1;
    require(scan.position() == p);
    for (qsizetype steps = 0;; ++steps) {
        require(steps <= text.size() + 1); // every step moves on: the scan ends
        const qsizetype before = scan.position();
        const auto step = scan.next(fast);
        const int expected = plainNext(text, p, plain);
        require(static_cast<int>(step) == expected);
        require(scan.position() == p);
        require(same(fast, plain));
        if (step == ResultScanner::Step::Over)
            break;
        require(scan.position() > before);
        if (step == ResultScanner::Step::Found) {
            require(!fast.extension.isEmpty());
            require(!fast.extension.contains(QLatin1Char('?')));
            require(!fast.address.contains(QLatin1Char('"')));
        }
    }
    require(scan.over());
    return 0;
}
