#include "base/conversions.h"

#include "base/error_report.h"

#include <QRegularExpression>

#include <cmath>

namespace Conversions {

bool IsNumeric(const QString& text) {
    static const QRegularExpression number(
        QStringLiteral(R"(^\s*[+-]?(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?\s*$)"));
    if (!number.match(text).hasMatch())
        return false;
    bool ok = false;
    const double v = text.trimmed().toDouble(&ok);
    return ok && std::isfinite(v);
}

double ToDouble(const QString& text) {
    if (!IsNumeric(text))
        throw AppError(QStringLiteral("Type mismatch"));
    return text.trimmed().toDouble();
}

int ToInt16(double value) {
    const double rounded = std::nearbyint(value); // the default rounding mode sends halves to even
    if (!(rounded >= -32768.0 && rounded <= 32767.0))
        throw AppError(QStringLiteral("Overflow"));
    return static_cast<int>(rounded);
}

bool ToBool(const QString& text) {
    const QString t = text.trimmed();
    if (t.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0)
        return true;
    if (t.compare(QLatin1String("False"), Qt::CaseInsensitive) == 0)
        return false;
    if (IsNumeric(t))
        return ToDouble(t) != 0.0;
    throw AppError(QStringLiteral("Type mismatch"));
}

} // namespace Conversions
