#include "base/environment.h"

#include <QByteArray>
#include <QtGlobal>

#include <cmath>

namespace Environment {

QString serviceHost() {
    return qEnvironmentVariable("GLIMMERFETCH_SERVICE_HOST").trimmed().toLower();
}

QString caBundle() {
    return qEnvironmentVariable("GLIMMERFETCH_CA_BUNDLE");
}

double pace() {
    const QByteArray text = qgetenv("GLIMMERFETCH_PACE").trimmed();
    if (text.isEmpty())
        return 1.0;
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (!ok || !std::isfinite(value) || value < 0)
        return 1.0;
    return value;
}

QString key() {
    return qEnvironmentVariable("GLIMMERFETCH_KEY").trimmed();
}

} // namespace Environment
