#include "fetch/pace.h"

#include "base/environment.h"

namespace Pace {

double factor() {
    return Environment::pace();
}

double seconds(double designed) {
    return designed * factor();
}

} // namespace Pace
