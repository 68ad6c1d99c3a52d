#include "fetch/pace.h"

#include "base/environment.h"

namespace Pace {

double factor() {
    return Environment::pace();
}

double seconds(double designed) {
    return designed * factor();
}

double ofChoice(const QString& stored) {
    if (stored == QLatin1String("short"))
        return 0.1;
    if (stored == QLatin1String("none"))
        return 0;
    return 1;
}

} // namespace Pace
