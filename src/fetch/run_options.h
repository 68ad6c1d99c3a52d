#pragma once

#include "fetch/download_checks.h"
#include "fetch/sources/source.h"

#include <QString>
#include <QStringList>

#include <optional>

// What a download run is given besides the main window's fields, and what it gives back. The
// callers (the window, the command line) own the settings: RunOptions::fromSettings() reads every
// choice a run takes from them. The run itself reads only the filters when it starts (their switches
// and limits, and their comparisons for every result) and the source's key for every request, each
// in a statement of its own.
namespace Download {

// Downloads of one keyword at once: 1 to MostAtOnce.
inline constexpr int MostAtOnce = 8;

struct RunOptions {
    Sources::Source source = Sources::Source::ContextualWeb;
    // The source's key. Unset: the key the settings keep for the source, read when the run starts
    // (no run starts without one) and again for every request.
    std::optional<QString> key;
    // The width and height filters. Unset: those of the filter dialog, read from the settings when
    // the run starts.
    std::optional<FilterSettings> filters;
    // Keywords the run looks at: the window's run stops at 100; 0 means every keyword.
    int keywordLimit = 100;
    double pace = 1;       // scales the pauses between downloads (1 as designed, 0 none)
    double searchPace = 1; // scales the pauses around searches
    int parallel = 1;      // downloads of a keyword at once, 1 to MostAtOnce
    // With more than one at once, the next keyword's search goes out while the current keyword's
    // pictures download. False keeps every search after the downloads before it (for comparisons).
    bool searchAhead = true;
    bool credits = true; // keep credits.csv in the folder
    // The pictures the user may use: a result whose licence does not fit is skipped ("licence").
    Sources::LicenceChoice licence = Sources::LicenceChoice::Any;
    bool embedCredits = false; // write the credits into each kept picture (XMP)

    // The choices the window's run takes: the source, the licence and the credits choices of the key
    // dialog, the pause and the downloads at once of the filter dialog (the searches keep their
    // pauses).
    static RunOptions fromSettings();
};

// What the run did, for the command line, the benchmark and tests that need more than the final box.
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
    QString unreachable;    // curl's words when a search could not reach the source and ended the run
    // The sources of a mix that were left out for the rest of the run, each line saying why.
    QStringList leftOut;
};

// The pause choices of the filter dialog, in its list's order: the text stored under Pace and the
// factor of the pauses between downloads.
struct PaceChoice {
    const char* stored;
    double factor;
};
inline constexpr PaceChoice PaceChoices[] = {{"designed", 1}, {"short", 0.1}, {"none", 0}};

// The choices the settings keep for runs, read here alone: the dialogs show them, fromSettings()
// hands them to a run.
namespace Stored {

// The image source (Source): an empty or unknown name means the original service.
Sources::Source source();
// The key kept for the source (Sources::keySetting()); "" for the sources without a key.
QString key(Sources::Source source);
// Credits: on unless it reads as false ("False" in any case, or 0); a text that is no flag at all
// leaves it on, the default.
bool credits();
// EmbedCredits: on only when it reads as true ("True" in any case, or a number but 0).
bool embedCredits();
// Licence: an empty or unknown name means `any`.
Sources::LicenceChoice licence();
// Parallel: a whole number brought into 1..MostAtOnce; anything else is 1.
int parallel();
// Pace: the position of the stored text in PaceChoices; anything else is the first, as designed.
int paceChoice();

} // namespace Stored

// Downloads at once brought into 1..MostAtOnce.
int AtOnce(int count);

// The count of pictures per keyword from the main window's text: not numeric 5; else a 16-bit
// whole number with halves to even (AppError "Overflow" beyond). CapCount then brings it into
// 1..50: above 50 gives 50, below 1 gives 5.
int CountFrom(const QString& text);
int CapCount(int count);

// The start position (the page number asked for): not numeric 1; else a 16-bit whole number.
// CapStart: above 150 gives 150, below 1 gives 1.
int StartFrom(const QString& text);
int CapStart(int start);

} // namespace Download
