#pragma once

// What the download run's steps share: the run's inputs and what it has done so far, and the
// keyword being worked on. Private to the run (download_run.cpp and download_results.cpp).

#include "base/error_report.h"
#include "base/surface.h"
#include "fetch/curl_session.h"
#include "fetch/download_checks.h"
#include "fetch/download_run.h"
#include "fetch/folder_pictures.h"
#include "fetch/response_scan.h"
#include "fetch/run_report.h"
#include "fetch/tool_runner.h"
#include "keywords/keyword_list.h"

#include <QFile>
#include <QSet>
#include <QString>

#include <optional>

namespace Download {
namespace Steps {

// Processes the window's pending events.
void processEvents();

// The run's own pauses, scaled by GLIMMERFETCH_PACE.
void pause(double designedSeconds);

// The download curl is writing or has written and that is not yet kept. Removed on every way out,
// so neither a failed download nor the program's end leaves it in the user's folder.
struct PartialDownload {
    QString path;
    void discard() {
        if (!path.isEmpty())
            QFile::remove(path);
        path.clear();
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
    RunSummary summary;
    RunReport report;
    PartialDownload partial;
    CurlFunctions::ImageResult result;
    std::optional<CurlSession> curl;
    bool stopped = false;
    FolderPictures pictures{folder}; // what the folder holds, to keep no copy twice
    QSet<QString> addresses;         // every address this run downloaded

    // Runs a command with the bar's text and value as they stand.
    int runShown(const ToolCommand& command, ToolOutput* output = nullptr);

    // Stops the run when the folder cannot take pictures any more (removed, made read-only).
    bool folderGone();

    // After a write that failed: stops the run when the folder is gone, read-only or full.
    bool folderUnwritable();

    // The details line of the current result.
    void skip(const Keyword& keyword, const QString& reason);

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

// The results of one image answer, until enough are kept or the answer has no more
// (download_results.cpp).
void takeResults(Run& run, Keyword& keyword, const QString& text);

} // namespace Steps
} // namespace Download
