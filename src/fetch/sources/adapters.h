#pragma once

#include "fetch/sources/source.h"

#include <memory>

namespace Sources {

// A new adapter of the source, for one run or one key test (or a reading of answers); none for Free,
// which is asked through the adapters of its members().
std::unique_ptr<ImageSource> makeAdapter(Source source);

} // namespace Sources
