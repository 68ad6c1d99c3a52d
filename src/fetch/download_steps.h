#pragma once

// What the download run's steps share: the run's inputs and what it has done so far, and the
// keyword being worked on. Private to the run (download_run.cpp and download_results.cpp).

#include "base/error_report.h"
#include "base/surface.h"
#include "fetch/curl_session.h"
#include "fetch/download_checks.h"
#include "fetch/download_run.h"
#include "fetch/download_target.h"
#include "fetch/folder_pictures.h"
#include "fetch/picture_fetch.h"
#include "fetch/response_scan.h"
#include "fetch/run_report.h"
#include "fetch/sources/source.h"
#include "fetch/tool_runner.h"
#include "keywords/keyword_list.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QSet>
#include <QString>

#include <optional>

namespace Download {
namespace Steps {

// Processes the window's pending events.
void processEvents();

// One result of an answer as the run judges it.
struct Candidate {
    CurlFunctions::ImageResult image; // the address to download, its extension and the sizes
    Sources::Credits credits;         // who made it and on which terms, where the answer says
};

// The results of one keyword in answer order, page after page where the source has pages.
class ResultFeed {
public:
    enum class Step {
        Found,   // `candidate` holds the next result
        Skipped, // an entry without a usable address: nothing to download
        Over,    // no more results
    };
    virtual ~ResultFeed() = default;
    virtual Step next(Candidate& candidate) = 0;
};

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

// One run's inputs and what it has done so far.
struct Run {
    Run(KeywordList& list, RunObserver& watcher, ErrorTrap& errors, const QString& folderPrefix)
        : keywords(list)
        , observer(watcher)
        , trap(errors)
        , folder(folderPrefix) {
        report.folder = folderPrefix;
    }

    KeywordList& keywords;
    RunObserver& observer;
    ErrorTrap& trap;
    QString folder; // the folder field with its trailing "/"
    int count = 0;
    int start = 0;
    FilterSettings filters;
    RunOptions options;
    Sources::Source source = Sources::Source::ContextualWeb;
    const Sources::ImageSource* adapter = nullptr; // nullptr for the original service
    QString key;
    double pace = 1;           // scales the pauses between downloads (GLIMMERFETCH_PACE scales them again)
    double searchPace = 1;     // scales the pauses around searches
    int parallel = 1;          // downloads of a keyword at once
    int answered = 0;          // searches that got a page of results
    bool refused = false;      // a source refused the key or the requests: no further keyword is asked
    QElapsedTimer sinceSearch; // since the last search ended; not started before the first
    bool credits = true;
    QString userAgent;      // for downloads: the source's wish, else curl's usual one
    double lastSearch = -1; // when the last search ended (seconds, steady clock); -1 before the first
    RunSummary summary;
    RunReport report;
    PartialDownload partial;
    // The original service's results as scanned: a size its answer leaves out keeps the value it had.
    CurlFunctions::ImageResult scanned;
    std::optional<CurlSession> curl;
    bool stopped = false;
    bool comparisonReported = false; // a comparison setting that cannot be read is reported once a run
    FolderPictures pictures{folder}; // what the folder holds, to keep no copy twice
    QSet<QString> addresses;         // every address this run downloaded

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

// The results of a keyword, until enough are kept or there are no more (download_results.cpp).
void takeResults(Run& run, Keyword& keyword, ResultFeed& feed);

// The same with up to run.parallel downloads at once (download_at_once.cpp): what is kept, under
// which name, and what the report says are what takeResults gives for the same outcomes.
void takeResultsAtOnce(Run& run, Keyword& keyword, ResultFeed& feed);

// What becomes of a result before any download.
enum class Verdict {
    Download,   // it passed: download it (its address is now one this run asked for)
    Unreadable, // its width or height could not be read
    Filtered,   // the width or height filter left it out
    Repeated,   // this run asked for the same address before
    Ended,      // the handler's trap ended the run
};
Verdict screen(Run& run, const Candidate& candidate);
// The details line and the count of a result that was not downloaded.
void reportSkipped(Run& run, const Keyword& keyword, const Candidate& candidate, Verdict verdict);
// Judges a finished download (failure, not a picture, a copy, or kept under the keyword's next
// name) and removes what is not kept.
void settleDownload(Run& run, Keyword& keyword, const Candidate& candidate, PartialDownload& partial,
                    const PictureFetch::Outcome& outcome);

} // namespace Steps
} // namespace Download
