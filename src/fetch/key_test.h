#pragma once

#include "fetch/sources/source.h"

#include <QString>

class ErrorTrap;
class RunObserver;

namespace Search {

// The key dialog's "Test API Key" (and the command line's test-key): one small search of `source`
// ("city", the first page, 4 results) with `key`, the verdict through `observer` (only its pointer
// and messages are used). `keyFieldText` is what the person typed: a source that needs a key is not
// asked when it is empty. For a source without a key the test tells whether the source answers.
// Refuses to start while a run or another test holds the run gate; errors are reported through
// `trap`. Pauses one (paced) second before the verdict.
Sources::KeyVerdict KeyTest(RunObserver& observer, ErrorTrap& trap, Sources::Source source,
                            const QString& keyFieldText, const QString& key);

} // namespace Search
