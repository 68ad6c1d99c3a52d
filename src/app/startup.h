#pragma once

namespace Main {

// True exactly once: on the first start for this user (the FirstTime mark is then written).
// A stored mark that reads as false counts as not yet started. Throws AppError when the stored
// mark is not a flag at all.
bool FirstTime();

} // namespace Main
