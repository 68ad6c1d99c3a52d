#include "fetch/download_checks.h"

#include "base/conversions.h"
#include "base/error_report.h"
#include "base/settings_store.h"

#include <QFile>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr int fallbackLimit = 500;

} // namespace

int FilterSettings::limitFrom(const QString& text) {
    if (!Conversions::IsNumeric(text))
        return fallbackLimit;
    // Whole numbers with halves to even, like every other number the program reads.
    const double value = std::nearbyint(Conversions::ToDouble(text));
    if (value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max())
        throw AppError(QStringLiteral("Overflow"));
    const int limit = static_cast<int>(value);
    return limit < 0 ? fallbackLimit : limit;
}

void FilterSettings::readHeightSwitch() {
    heightOn = SettingsStore::read(SettingKey::HeightFilter) == QLatin1String("4");
}

void FilterSettings::readWidthSwitch() {
    widthOn = SettingsStore::read(SettingKey::WidthFilter) == QLatin1String("6");
}

void FilterSettings::readWidthLimit() {
    widthLimit = limitFrom(SettingsStore::read(SettingKey::WidthLimit));
}

void FilterSettings::readHeightLimit() {
    heightLimit = limitFrom(SettingsStore::read(SettingKey::HeightLimit));
}

FilterSettings FilterSettings::read() {
    FilterSettings f;
    f.readHeightSwitch();
    f.readWidthSwitch();
    f.readWidthLimit();
    f.readHeightLimit();
    return f;
}

int ReadComparison(SettingKey key) {
    const double value = Conversions::ToDouble(SettingsStore::read(key));
    // Only the list positions mean anything; a fraction or a huge number matches neither.
    if (value == 0)
        return 0;
    if (value == 1)
        return 1;
    return -1;
}

bool DimensionPasses(int value, int limit, int comparison) {
    switch (comparison) {
    case 0:
        return value > limit;
    case 1:
        return value < limit;
    default:
        return false;
    }
}

bool DimensionFilter(const FilterSettings& filters, int width, int height,
                     const ComparisonReader& readComparison) {
    // Each switched-on filter reads its comparison for every result, also when the other filter has
    // already rejected it, so a comparison that cannot be read is reported every time.
    const auto comparison = [&](const std::optional<int>& given, SettingKey key) {
        return given ? *given : readComparison(key);
    };
    const bool heightPasses = !filters.heightOn || DimensionPasses(height, filters.heightLimit,
                                                                   comparison(filters.heightComparison,
                                                                              SettingKey::HeightComparison));
    const bool widthPasses =
        !filters.widthOn || DimensionPasses(width, filters.widthLimit,
                                            comparison(filters.widthComparison, SettingKey::WidthComparison));
    return heightPasses && widthPasses;
}

namespace RFTSFSO {

QStringList ReadTextLines(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw AppError(file.error() == QFileDevice::OpenError && !file.exists()
                           ? QStringLiteral("File not found")
                           : QStringLiteral("Permission denied"));
    const QByteArray bytes = file.readAll();
    QStringList lines;
    qsizetype start = 0;
    const qsizetype n = bytes.size();
    while (start < n) {
        qsizetype end = start;
        while (end < n && bytes[end] != '\n' && bytes[end] != '\r')
            ++end;
        lines << QString::fromLocal8Bit(bytes.mid(start, end - start));
        if (end < n && bytes[end] == '\r' && end + 1 < n && bytes[end + 1] == '\n')
            ++end;
        start = end + 1;
    }
    if (lines.isEmpty())
        lines << QString();
    return lines;
}

} // namespace RFTSFSO

const QStringList& ErrorPageSignatures() {
    static const QStringList signatures{
        QStringLiteral("DOCTYPE html"),
        QStringLiteral("<html"),
        QStringLiteral("xml version"),
        QStringLiteral("The page cannot be displayed"),
        QStringLiteral("The resource you are looking for has been removed"),
        QStringLiteral("temporarily unavailable"),
        QStringLiteral("Too many redirects"),
        QStringLiteral("error"),
        QStringLiteral("cannot complete"),
    };
    return signatures;
}

bool IsErrorPageLine(const QString& firstLine) {
    for (const QString& signature : ErrorPageSignatures())
        if (firstLine.contains(signature, Qt::CaseInsensitive))
            return true;
    return false;
}

bool IsErrorPage(const QString& path) {
    // Only the first line matters: read up to the first line break instead of the whole picture.
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return IsErrorPageLine(RFTSFSO::ReadTextLines(path).value(0)); // reports why it cannot be read
    QByteArray line;
    while (!file.atEnd()) {
        const QByteArray chunk = file.read(4096);
        if (chunk.isEmpty())
            break;
        const qsizetype lf = chunk.indexOf('\n');
        const qsizetype cr = chunk.indexOf('\r');
        const qsizetype end = lf < 0 ? cr : (cr < 0 ? lf : std::min(lf, cr));
        if (end >= 0) {
            line += chunk.left(end);
            break;
        }
        line += chunk;
    }
    return IsErrorPageLine(QString::fromLocal8Bit(line));
}
