#pragma once

// What the download run's steps share: the run in three parts (what it is given, what it has done,
// what it holds while it works) and the keyword being worked on. Private to the run
// (download_run.cpp, download_search.cpp, download_results.cpp, download_at_once.cpp and
// search_ahead.cpp).

#include "base/error_report.h"
#include "base/surface.h"
#include "fetch/curl_session.h"
#include "fetch/download_checks.h"
#include "fetch/download_target.h"
#include "fetch/folder_pictures.h"
#include "fetch/picture_fetch.h"
#include "fetch/run_options.h"
#include "fetch/run_report.h"
#include "fetch/sources/source.h"
#include "fetch/tool_runner.h"
#include "keywords/keyword_list.h"

#include <QElapsedTimer>
#include <QSet>
#include <QString>

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace Download {
namespace Steps {

using Sources::Candidate;
using Sources::ResultFeed;

// Processes the window's pending events.
void processEvents();

// The download curl is writing or has written and that is not yet kept. Removed on every way out,
// so neither a failed download nor the program's end leaves it in the user's folder. The run holds
// the file open from its creation on: curl writes into that very file, and it is judged and kept
// only while its name still is that file, so whoever else may write in the folder cannot have a
// download written through a link or a link kept in its place.
struct PartialDownload {
    QString path;
    int descriptor = -1;
    // Creates the file in the folder; false with the system's reason in *problem when it cannot.
    bool create(const QString& folder, QString* problem) {
        path = DownloadTarget::createPartial(folder, problem, &descriptor);
        return !path.isEmpty();
    }
    // The file's contents, through the descriptor, whatever became of its name.
    QString contents() const { return DownloadTarget::openedPath(path, descriptor); }
    void discard() {
        if (!path.isEmpty() || descriptor >= 0)
            DownloadTarget::removePartial(path, descriptor);
        path.clear();
        descriptor = -1;
    }
    // After the file was kept under another name: only the descriptor is left to close.
    void kept() {
        path.clear();
        discard();
    }
    ~PartialDownload() { discard(); }
};

struct Keyword;
struct Run;

// The query for a keyword's first page: the start position's page, the run's page size.
struct SourceLane;

// The query for a keyword's first page from a source: the start position's page, the run's page size
// and licence choice.
Sources::PageQuery firstQuery(const Run& run, const SourceLane& lane, const QString& keyword);

// A result of a source's page as the run judges it.
void candidateOf(const Sources::SourceResult& result, Sources::Source source, Candidate& candidate);

// The next keyword's first search (search_ahead.cpp). With more than one download at once the run
// asks for the next keyword's first page as soon as the source's spacing allows, while the current
// keyword's pictures still download. Searches still go one at a time, the spacing counted from the
// start of one to the start of the next (the source's rate). The answer waits until the run reaches
// that keyword, and is then read, retried and judged like any other: only its sending moved (its
// first results may be downloaded early, see DownloadPlaces). An answer the run never reaches is
// dropped with its curl and counts for nothing.
class SearchAhead {
public:
    ~SearchAhead() { drop(); }

    // Whether the run searches ahead: more than one download at once, and not turned off.
    static bool on(const Run& run);

    // The run reaches keyword `k` of the list; it goes no further than `last`.
    void reach(int k, int last);

    // Any search of the run goes out now: the spacing of the next one counts from here.
    void searchStarts() { sinceStart_.start(); }
    // Since the last search went out; not started before the first.
    const QElapsedTimer& sinceStart() const { return sinceStart_; }

    // Sends the next keyword's first search when there is one, none is out, and the source's spacing
    // allows it. Called while the current keyword's downloads are under way.
    void step(Run& run);
    // The search that is out and still running, for waiting on it with the downloads; nullptr if none.
    Shell32::ToolRun* running() const;
    // The milliseconds until step() may send the next search (0 when it may now or never will).
    qint64 untilDue(const Run& run) const;

    // Waits until the search that is out has ended, its answer kept: searches go one at a time.
    void waitIdle();

    // For the current keyword's first page: when the search that went ahead is `command`, waits for
    // it, puts its answer where `command` writes and gives its exit code and output (Shell32::Stopped
    // when the run was stopped meanwhile). A search for another request is dropped: false. For a
    // later page of the keyword before, the search that went ahead stays: false.
    bool take(Run& run, const std::function<ToolCommand()>& command, int* exitCode, ToolOutput* output);

    // Ends the search that is out and forgets its answer.
    void drop();

    // The keyword the run works on.
    int current() const { return current_; }
    // The results of the search that went ahead, once its answer has arrived as a page of them, for
    // downloading the first of them early (DownloadPlaces); `*keyword` says whose they are. Empty until
    // then. Read apart from the run's own reading of the same answer, which alone counts.
    const std::vector<Candidate>& earlyResults(const Run& run, int* keyword);

private:
    void forget();
    // The ended search's exit code and output; read from its curl once, as reading them consumes them.
    int outcome(ToolOutput* output);

    std::unique_ptr<Shell32::ToolRun> tool_;
    ToolCommand command_; // as sent, writing to answerFile_
    Sources::PageQuery query_;
    bool read_ = false; // earlyResults() has read the answer
    std::vector<Candidate> results_;
    std::optional<std::pair<int, ToolOutput>> outcome_;
    QString answerFile_;
    QElapsedTimer sinceStart_;
    int current_ = 0; // the keyword the run works on
    int last_ = 0;
    int sentFor_ = 0; // the keyword the search out (or its answer) belongs to; 0: none
    int decided_ = 0; // the last keyword whose search was sent or could not go ahead
};

// What a run is given, fixed once its start has read it.
struct RunInputs {
    QString folder;     // the folder field with its trailing "/"
    RunOptions options; // the caller's choices
    int count = 0;      // pictures per keyword
    int start = 0;      // the first page asked for
    FilterSettings filters;
};

// What the run has done so far: the report of its end, the summary for its caller, and what
// decides whether it goes on.
struct RunTally {
    RunReport report;
    RunSummary summary;
    int answered = 0;                // searches that got a page of results
    bool refused = false;            // no source is left to ask (one refused the key or requests,
                                     // or was out of reach): no further keyword
    bool stopped = false;            // a local problem or the person ended the run
    bool comparisonReported = false; // a comparison setting that cannot be read is reported once a run
    QSet<QString> addresses;         // every address this run downloaded
};

// One source the run asks (the chosen one, or each of the free sources): its own adapter, and the
// time since its last search, which spaces its requests to its own rate.
struct SourceLane {
    explicit SourceLane(Sources::Source which);
    Sources::Source source;
    std::unique_ptr<Sources::ImageSource> adapter;
    QElapsedTimer sinceSearch; // since its last search ended; not started before the first
    bool leftOut = false;      // one of a mix that refused or could not be reached: not asked again
};

// The seconds, as designed, until `source` takes its next request, counted from `since` (0: now, or
// before the first). Its published rate counts every request of the program, so the person's pace
// choice does not shorten it.
double spacingLeft(Sources::Source source, const QElapsedTimer& since);

// What becomes of a result before any download.
enum class Verdict {
    Download,   // it passed: download it (its address is now one this run asked for)
    Licence,    // its licence does not fit the choice
    Unreadable, // its width or height could not be read
    Filtered,   // the width or height filter left it out
    Repeated,   // this run asked for the same address before
    Ended,      // the handler's trap ended the run
};
// One result a run with several downloads at once has taken, from its screening until it is settled
// (download_at_once.cpp).
struct DownloadEntry {
    Candidate candidate;
    bool unusable = false; // the answer had no usable address for it
    Verdict verdict = Verdict::Download;
    int early = 0; // downloaded before its keyword was reached: that keyword's number in the list
    // The partial download is declared before the tool, so that a tool still running is ended
    // before its file is removed.
    PartialDownload partial;
    std::optional<PictureFetch::Fetch> fetch;
    QString host;                           // where the running command goes
    qint64 readyAt = 0;                     // the next command waits until then (a retry)
    std::unique_ptr<Shell32::ToolRun> tool; // the running command

    bool isDownload() const { return !unusable && verdict == Verdict::Download; }
    bool over() const { return fetch && fetch->over(); }
    // Waiting for a place or downloading.
    bool underWay() const { return isDownload() && !over(); }
};

// The download places of a run with several downloads at once, from one keyword to the next
// (download_at_once.cpp). Places the keyword being settled leaves idle download the first results
// of the next keyword, read early from its search that went ahead. When the run reaches that
// keyword, a result of the same address takes its download over; the others are dropped unseen.
// Only when the downloads happen moves: what is kept, and what the end says, is decided as
// without them.
struct DownloadPlaces {
    DownloadPlaces() { clock.start(); }
    // Drops the early downloads of keyword `k` and of those before it.
    void dropUpTo(int k);

    QElapsedTimer clock;              // the times below count from here
    std::vector<qint64> coolingUntil; // places still pausing after their download
    int readFor = 0;                  // the keyword whose early results are looked at
    qsizetype readUpTo = 0;           // how many of them were looked at
    // Declared last, so that their curls end first.
    std::deque<std::unique_ptr<DownloadEntry>> early;
};

// What the run holds while it works; all of it goes when the run ends, the program's end included.
struct RunLive {
    explicit RunLive(const QString& folder)
        : pictures(folder) {}
    std::vector<SourceLane> lanes; // the sources asked, in the order their results are taken
    FolderPictures pictures;       // what the folder holds, to keep no copy twice
    PartialDownload partial;
    std::optional<CurlSession> curl; // none when the temporary folder could not take it
    DownloadPlaces places;           // ends before the curl session goes
    SearchAhead ahead;               // the next keyword's search; ends before the curl session goes
};

// One run: where it reports (the keyword list it reads, its observer and its handler's trap) and its
// three parts.
struct Run {
    Run(KeywordList& list, RunObserver& watcher, ErrorTrap& errors, const QString& folderPrefix)
        : keywords(list)
        , observer(watcher)
        , trap(errors)
        , live(folderPrefix) {
        in.folder = folderPrefix;
        tally.report.folder = folderPrefix;
    }

    KeywordList& keywords;
    RunObserver& observer;
    ErrorTrap& trap;
    RunInputs in;
    RunTally tally;
    RunLive live;

    // Runs a command with the bar's text and value as they stand.
    int runShown(const ToolCommand& command, ToolOutput* output = nullptr);

    // Stops the run when the folder cannot take pictures any more (removed, made read-only).
    bool folderGone();

    // After a write that failed: stops the run when the folder is gone, read-only or full.
    bool folderUnwritable();

    // Stops the run for a local problem, `text` saying which (the end message and the summary).
    void stopLocally(const QString& text);
    // The same for the folder, which cannot take pictures for `problem`.
    void stopForFolder(const QString& problem);

    // The details line of a result that was not kept, told to the observer too.
    void skip(const Keyword& keyword, const Candidate& candidate, const QString& reason);

    // The run's pauses between downloads: as designed, scaled by the run's pace and GLIMMERFETCH_PACE.
    void pause(double designedSeconds);
    // The pauses around searches, scaled by the search pace and GLIMMERFETCH_PACE.
    void searchPause(double designedSeconds);

    // True, and the run marked as stopped, once the user asked to stop it.
    bool stopRequested();

    // The key the run sends to a source: the caller's for the source chosen, else the one the
    // settings keep for the source, read anew each time.
    QString key(Sources::Source source) const;
    QString key() const { return key(in.options.source); }

    // True when the run goes on with its next step: no end of the program, no stop.
    bool goesOn() { return !trap.ended() && !tally.stopped && !stopRequested(); }
};

// One keyword as the run works on it.
struct Keyword {
    QString text;     // as typed
    QString namePart; // as it names the files
    QString finding;  // the bar's texts
    QString downloading;
    QString waiting;
    int kept = 0;
    int wanted = 0;
};

// The lanes of the run's sources (download_search.cpp): the chosen one, or the free sources that
// can be asked (those that need a key only where one is kept); the end names their sites.
void openLanes(Run& run);

// Asks the run's sources for the keyword's pictures, page after page until enough are kept, taking
// one result of each source in turn (download_search.cpp).
void searchSource(Run& run, Keyword& keyword);

// The results of a keyword, until enough are kept or there are no more (download_results.cpp).
void takeResults(Run& run, Keyword& keyword, ResultFeed& feed);

// The same with up to run.in.options.parallel downloads at once (download_at_once.cpp): what is
// kept, under which name, and what the report says are what takeResults gives for the same outcomes.
void takeResultsAtOnce(Run& run, Keyword& keyword, ResultFeed& feed);

Verdict screen(Run& run, const Candidate& candidate);
// The details line and the count of a result that was not downloaded.
void reportSkipped(Run& run, const Keyword& keyword, const Candidate& candidate, Verdict verdict);
// Judges a finished download (failure, not a picture, a copy, or kept under the keyword's next
// name) and removes what is not kept.
void settleDownload(Run& run, Keyword& keyword, const Candidate& candidate, PartialDownload& partial,
                    const PictureFetch::Outcome& outcome);

} // namespace Steps
} // namespace Download
