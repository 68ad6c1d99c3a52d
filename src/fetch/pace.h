#pragma once

// The program's own pauses (after a key test, between downloads) scale with the environment
// variable GLIMMERFETCH_PACE: 1 (the default) keeps them as designed, 0.5 halves them, 0 drops
// them. Tests run with 0; demos may slow the program down with a larger number. A value that is
// not a number, negative or not finite counts as 1.
#include <QString>

namespace Pace {

// The factor from GLIMMERFETCH_PACE, read on every call so that tests can change it.
double factor();

// `designed` seconds scaled by the factor; pass the result to Main::PauseSeconds.
double seconds(double designed);

} // namespace Pace
