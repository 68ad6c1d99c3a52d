#include "fetch/limits.h"

namespace Limits {

namespace {
int currentStallSeconds = StallSeconds;
} // namespace

int stallSeconds() {
    return currentStallSeconds;
}

void setStallSeconds(int seconds) {
    currentStallSeconds = seconds > 0 ? seconds : StallSeconds;
}

} // namespace Limits
