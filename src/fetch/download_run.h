#pragma once

#include "fetch/download_checks.h"
#include "fetch/sources/source.h"

#include <QString>
#include <QStringList>

#include <optional>

class KeywordList;
class ErrorTrap;
class RunObserver;

// The main window's "Start Downloading": for each keyword (at most 100), one page of image results
// from the search service, downloaded one by one into the folder until enough pictures are kept or
// the page has no more results.
namespace Download {

// What the run did, for the benchmark and for tests that need more than the final box.
struct RunSummary {
    bool started = false;  // the three checks passed
    int searches = 0;      // search requests made
    int downloads = 0;     // downloads started
    int kept = 0;          // pictures kept, over all keywords
    QStringList keptFiles; // their paths, in the order they were kept
    // How the searches went: Answered when at least one search got a page of results; Refused when
    // none did and the service refused (a wrong key, a spent quota); Unreachable when none reached it.
    enum class Service { NotAsked, Answered, Refused, Unreachable };
    Service service = Service::NotAsked;
    bool stopped = false; // the person (or a signal) stopped the run
    // Why a local problem ended the run (the folder gone or full, the temporary folder unusable):
    // the run's own words; "" when none did.
    QString localProblem;
    QString creditsProblem; // why the credits list could not be written ("" while it could)
};

// What a caller may set for one run instead of the settings (the command line). Everything left
// unset is read from the settings as the window's run reads it.
struct RunOptions {
    std::optional<Sources::Source> source; // the image source
    std::optional<QString> key;            // the source's key
    // The width and height filters and their comparisons (0 "Greater than", 1 "Less than").
    std::optional<FilterSettings> filters;
    int heightComparison = 0;
    int widthComparison = 0;
    // Keywords the run looks at: the window's run stops at 100; 0 means every keyword.
    int keywordLimit = 100;
    std::optional<double> pace;  // scales the run's pauses (1 as designed, 0 none)
    std::optional<int> parallel; // downloads at once
    std::optional<bool> credits; // keep credits.csv in the folder
};

// The count of pictures per keyword from the main window's text: not numeric 5; else a 16-bit
// whole number with halves to even (AppError "Overflow" beyond). CapCount then brings it into
// 1..50: above 50 gives 50, below 1 gives 5.
int CountFrom(const QString& text);
int CapCount(int count);

// The start position (the page number asked for): not numeric 1; else a 16-bit whole number.
// CapStart: above 150 gives 150, below 1 gives 1.
int StartFrom(const QString& text);
int CapStart(int start);

// Downloads of one keyword at once: 1 to MostAtOnce. AtOnceFrom reads the stored setting (a whole
// number; anything else is 1) and brings it into that range; AtOnce does the same for a number.
inline constexpr int MostAtOnce = 8;
int AtOnce(int count);
int AtOnceFrom(const QString& stored);

// The final message when something was sent to download. It names the original service's site, or
// `site` for another source.
QString DoneText(const QString& site = QString());
// The final message when nothing was, with the last message of the service.
QString NothingFoundText(const QString& serviceMessage);

// The run. `folder`, `countText` and `startText` are the main window's three fields (Text1, Text2,
// Text3), used as typed. The keywords are read from `keywords` as the run reaches them, so the list
// may change meanwhile. Progress, the pointer and every message go to `observer`. Does nothing while
// another run or a key test is under way. Failures are reported through `trap` (the caller's handler)
// and the run goes on; it always removes its files, resets the bar and the pointer, and clears
// Globals::RunBusy, also when the program ends during the run.
RunSummary DownloadRun(KeywordList& keywords, RunObserver& observer, ErrorTrap& trap, const QString& folder,
                       const QString& countText, const QString& startText, const RunOptions& options = {});

} // namespace Download
