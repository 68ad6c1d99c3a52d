#include "fetch/pace.h"

#include <QByteArray>
#include <QtGlobal>

#include <cmath>

namespace Pace {

double factor() {
    const QByteArray text = qgetenv("GLIMMERFETCH_PACE").trimmed();
    if (text.isEmpty())
        return 1.0;
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (!ok || !std::isfinite(value) || value < 0)
        return 1.0;
    return value;
}

double seconds(double designed) {
    return designed * factor();
}

} // namespace Pace
