#pragma once

#include "fetch/run_options.h"
#include "fetch/run_report.h"

#include <QString>

class KeywordList;
class ErrorTrap;
class RunObserver;

// The main window's "Start Downloading": for each keyword (at most 100 from the window), pages of
// image results from the chosen source, downloaded one by one into the folder until enough pictures
// are kept or there are no more results.
namespace Download {

// The run. `folder`, `countText` and `startText` are the main window's three fields (Text1, Text2,
// Text3), used as typed; `options` are the caller's choices (RunOptions::fromSettings() for the
// window's). The keywords are read from `keywords` as the run reaches them, so the list may change
// meanwhile. Progress, the pointer and every message go to `observer`. Does nothing while another
// run or a key test holds the run gate. Failures are reported through `trap` (the caller's handler)
// and the run goes on; it always removes its files, resets the bar and the pointer, and lets the
// gate go, also when the program ends during the run.
RunSummary DownloadRun(KeywordList& keywords, RunObserver& observer, ErrorTrap& trap, const QString& folder,
                       const QString& countText, const QString& startText, const RunOptions& options);

} // namespace Download
