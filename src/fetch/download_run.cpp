#include "fetch/download_run.h"

#include "build_config.h"
#include "fetch/curl_session.h"
#include "fetch/download_checks.h"
#include "fetch/download_command.h"
#include "fetch/download_target.h"
#include "fetch/pace.h"
#include "fetch/picture_fetch.h"
#include "fetch/picture_type.h"
#include "fetch/response_scan.h"
#include "fetch/run_report.h"
#include "fetch/search_request.h"
#include "fetch/tool_runner.h"
#include "keywords/keyword_list.h"
#include "base/conversions.h"
#include "base/error_report.h"
#include "base/file_routines.h"
#include "base/globals.h"
#include "base/prompts.h"
#include "base/settings_store.h"
#include "base/surface.h"
#include "base/waiting.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>
#include <QUrl>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <optional>

namespace Download {

namespace {

// The service answers one page per keyword; the run looks at no more than this many keywords.
constexpr int MaxKeywords = 100;

// A folder with less free space than this after a failed write is full: the run stops.
constexpr qint64 MinimumFreeBytes = 1024 * 1024;

void processEvents() {
    QCoreApplication::processEvents();
}

// The run's own pauses, scaled by GLIMMERFETCH_PACE.
void pause(double designedSeconds) {
    Main::PauseSeconds(Pace::seconds(designedSeconds));
}

// Clears the busy flag however the run ends, the program's end included.
struct BusyScope {
    ~BusyScope() { Globals::RunBusy = false; }
};

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

} // namespace

int CountFrom(const QString& text) {
    if (!Conversions::IsNumeric(text))
        return 5;
    return Conversions::ToInt16(Conversions::ToDouble(text));
}

int CapCount(int count) {
    if (count > 50)
        count = 50;
    if (count < 1)
        count = 5;
    return count;
}

int StartFrom(const QString& text) {
    if (!Conversions::IsNumeric(text))
        return 1;
    return Conversions::ToInt16(Conversions::ToDouble(text));
}

int CapStart(int start) {
    if (start > 150)
        start = 150;
    if (start < 1)
        start = 1;
    return start;
}

QString DoneText() {
    QString site = QUrl(QString::fromLatin1(BuildConfig::ServiceSite)).host();
    if (site.isEmpty())
        site = QString::fromLatin1(BuildConfig::ServiceSite);
    return QStringLiteral("Done.") + QStringLiteral("\r\n\r\n") +
           QStringLiteral(
               "Please note: Downloaded amount could be less than desired because of filters applied or "
               "the amount of images that could be found on ") +
           site + QLatin1Char('.');
}

QString NothingFoundText(const QString& serviceMessage) {
    return QStringLiteral("Nothing found.") + QStringLiteral("\r\n\r\n") + serviceMessage;
}

namespace {

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

    // Runs a command with the bar's text and value as they stand.
    int runShown(const ToolCommand& command, ToolOutput* output = nullptr) {
        return Shell32::RunAndWait(command, 0, &observer, observer.progressText(), observer.progressValue(),
                                   keywords.Count(), 0, output);
    }

    // Stops the run when the folder cannot take pictures any more (removed, made read-only).
    bool folderGone() {
        const QString problem = DownloadTarget::folderProblem(folder);
        if (!problem.isEmpty()) {
            report.stoppedBecause =
                RunTexts::folderUnusable(folder, problem) + QStringLiteral(" The run was stopped.");
            stopped = true;
        }
        return stopped;
    }

    // After a write that failed: stops the run when the folder is gone, read-only or full.
    bool folderUnwritable() {
        if (folderGone())
            return true;
        const QStorageInfo storage(folder);
        if (storage.isValid() && storage.bytesAvailable() < MinimumFreeBytes) {
            report.stoppedBecause =
                RunTexts::folderUnusable(folder, QString::fromLocal8Bit(std::strerror(ENOSPC))) +
                QStringLiteral(" The run was stopped.");
            stopped = true;
        }
        return stopped;
    }
};

// One keyword as the run works on it.
struct Keyword {
    QString text;     // as typed
    QString namePart; // as it names the files
    QString finding;  // the bar's texts
    QString downloading;
    int kept = 0;
    int wanted = 0;
};

// The three checks before anything starts, each with its own message. True when the run may go on.
bool startChecks(Run& run, const QString& folderText) {
    bool go = true;
    run.trap(100, [&] {
        if (run.keywords.Count() == 0) {
            run.observer.showMessage(QStringLiteral("No keyword/s added."));
            go = false;
        }
    });
    if (go)
        run.trap(102, [&] {
            if (!Main::FolderExists(folderText)) {
                run.observer.showMessage(
                    QStringLiteral("Folder does not exist. Please select another folder."));
                go = false;
            } else if (const QString problem = DownloadTarget::folderProblem(run.folder);
                       !problem.isEmpty()) {
                run.observer.showMessage(RunTexts::folderUnusable(run.folder, problem));
                go = false;
            }
        });
    if (go)
        run.trap(104, [&] {
            if (SettingsStore::read(SettingKey::ApiKey).isEmpty()) {
                run.observer.showMessage(QStringLiteral("Please enter API key first."));
                go = false;
            }
        });
    return go && !run.trap.ended();
}

void readInputs(Run& run, const QString& countText, const QString& startText) {
    ErrorTrap& trap = run.trap;
    trap(106, [&] { run.observer.setPointer(Surface::Hourglass); });
    trap(108, [&] { run.count = CountFrom(countText); });
    trap(110, [&] { run.count = CapCount(run.count); });
    trap(112, [&] { run.start = StartFrom(startText); });
    trap(114, [&] { run.start = CapStart(run.start); });
    // Statements 116 height switch, 118 width switch, 120 width limit, 122 height limit, each failing
    // on its own.
    run.filters = FilterSettings::read([&](FilterSettings::Part part, const std::function<void()>& read) {
        trap(116 + 2 * static_cast<int>(part), read);
    });
    trap(124, [&] { run.curl.emplace(); });
}

// Why a file that arrived is no picture, for the end report.
QString notPictureReason(const QString& path) {
    if (QFileInfo(path).size() == 0)
        return QStringLiteral("empty file");
    return IsErrorPage(path) ? QStringLiteral("error page") : QStringLiteral("not a picture");
}

// Judges the file that arrived and keeps it under the next free name when it is a picture.
void judgeDownload(Run& run, Keyword& keyword) {
    const QString type = PictureType::ofFile(run.partial.path);
    if (type.isEmpty())
        return run.report.notPicture(notPictureReason(run.partial.path));
    const QString extension = PictureType::extensionFor(run.result.extension, type);
    const QString keptPath =
        DownloadTarget::keep(run.partial.path, run.folder, keyword.namePart, keyword.kept, extension);
    if (keptPath.isEmpty()) {
        if (!run.folderGone())
            run.report.failure(QStringLiteral("could not save the file"));
        return;
    }
    run.partial.path.clear();
    ++keyword.kept;
    ++run.report.kept;
    ++run.summary.kept;
    run.summary.keptFiles << keptPath;
}

// Downloads one result that passed the filters, judges it, and pauses as designed.
void downloadResult(Run& run, Keyword& keyword) {
    ErrorTrap& trap = run.trap;
    if (run.folderGone())
        return;
    QString problem;
    run.partial.path = DownloadTarget::createPartial(run.folder, &problem);
    if (run.partial.path.isEmpty()) {
        run.report.stoppedBecause =
            RunTexts::folderUnusable(run.folder, problem) + QStringLiteral(" The run was stopped.");
        run.stopped = true;
        return;
    }
    PictureFetch::Outcome outcome;
    trap(152, [&] {
        run.observer.setProgressText(keyword.downloading);
        ++run.summary.downloads;
        outcome = PictureFetch::fetch(
            *run.curl, run.result.downloadAddress, run.partial.path,
            [&](const ToolCommand& command, ToolOutput* output) { return run.runShown(command, output); });
        run.observer.setProgressText(keyword.downloading);
    });
    trap(154, [&] {
        processEvents();
        pause(0.5);
        processEvents();
    });
    trap(156, [&] {
        if (run.partial.path.isEmpty() || !Main::FileExists(run.partial.path))
            return;
        if (!outcome.arrived) {
            if (outcome.failure != PictureFetch::WriteFailure || !run.folderUnwritable())
                run.report.failure(outcome.failure);
            return;
        }
        judgeDownload(run, keyword);
    });
    run.partial.discard();
    trap(158, [&] { pause(1); });
}

// Looks at one result: sizes that can be read, the filters, then the download.
void takeResult(Run& run, Keyword& keyword) {
    ErrorTrap& trap = run.trap;
    ++run.report.resultsSeen;
    CurlFunctions::ImageResult& result = run.result;
    if (!result.widthError.isEmpty() || !result.heightError.isEmpty()) {
        ++run.report.unreadable;
        return;
    }
    bool wanted = false;
    trap(150, [&] {
        wanted = DimensionFilter(run.filters, result.width, result.height, [&](SettingKey key) {
            int comparison = 0; // a comparison that cannot be read compares as "Greater than"
            trap(150, [&] { comparison = ReadComparison(key); });
            return comparison;
        });
    });
    if (trap.ended())
        return;
    if (!wanted) {
        ++run.report.filtered;
        return;
    }
    downloadResult(run, keyword);
}

// The results of one image answer, until enough are kept or the answer has no more.
void takeResults(Run& run, Keyword& keyword, const QString& text) {
    ErrorTrap& trap = run.trap;
    qint32 total = 0;
    trap(142, [&] { total = CurlFunctions::ReadTotal(text, &run.trap.prompts()); });
    if (total < keyword.wanted)
        keyword.wanted = total;
    if (total < 1)
        return;
    CurlFunctions::ResultScanner scanner(text);
    do {
        using Step = CurlFunctions::ResultScanner::Step;
        Step step = Step::Over;
        trap(144, [&] { step = scanner.next(run.result); });
        if (trap.ended())
            break;
        if (step == Step::Skipped) {
            ++run.report.resultsSeen;
            ++run.report.unreadable;
        } else if (step == Step::Found) {
            takeResult(run, keyword);
        }
    } while (keyword.kept < keyword.wanted && !scanner.over() && !trap.ended() && !run.stopped);
}

// Asks the service for the keyword's page and reads the answer.
void searchKeyword(Run& run, Keyword& keyword) {
    ErrorTrap& trap = run.trap;
    if (!run.curl)
        return; // reported when the run started: no keyword can be searched
    const QString answerFile = run.curl->responseFile();
    trap(136, [&] { Main::RemoveFile(answerFile); });
    int exitCode = 0;
    ToolOutput output;
    trap(138, [&] {
        const ToolCommand search =
            Search::SearchCommand(*run.curl, keyword.text, run.start, Search::PageSize(run.count));
        run.observer.setProgressText(keyword.finding);
        ++run.summary.searches;
        exitCode = run.runShown(search, &output);
        run.observer.setProgressText(keyword.finding);
    });
    if (trap.ended())
        return;
    if (exitCode != 0 || output.crashed) {
        run.report.serviceProblem = PictureFetch::curlErrorText(exitCode, output);
        return;
    }
    QString text;
    trap(140, [&] { text = CurlFunctions::ReadResponse(answerFile); });
    if (CurlFunctions::IsImageAnswer(text)) {
        if (CurlFunctions::HasTotal(text))
            takeResults(run, keyword, text);
        trap(160, [&] { pause(1.5); });
    } else if (CurlFunctions::HasServiceMessage(text)) {
        trap(162,
             [&] { run.report.serviceMessage = CurlFunctions::ServiceMessage(text, &run.trap.prompts()); });
    } else if (const int status = PictureFetch::httpStatus(output); status < 200 || status > 299) {
        run.report.serviceStatus = status;
    }
}

void runKeyword(Run& run, int k) {
    ErrorTrap& trap = run.trap;
    Keyword keyword;
    QString shown; // the keyword's last path part, for the bar
    trap(128, [&] {
        keyword.text = run.keywords.item(k);
        shown = Main::LastPathPart(keyword.text, QLatin1Char('\\'));
    });
    trap(130, [&] {
        // The share of the current keyword is shown as done already.
        const double share = static_cast<double>(k) / run.keywords.Count() * 100.0;
        run.observer.setProgressValue(static_cast<int>(std::nearbyint(share)));
    });
    const QString processing = QStringLiteral("Processing: ") + shown;
    keyword.finding = processing + QStringLiteral(", finding images...");
    keyword.downloading = processing + QStringLiteral(", downloading...");
    trap(132, [&] { run.observer.setProgressText(processing); });
    keyword.wanted = run.count;
    trap(134, [&] { processEvents(); });

    keyword.namePart = DownloadTarget::namePart(keyword.text);
    if (!DownloadTarget::usableNamePart(keyword.namePart))
        run.report.unusableKeywords << keyword.text;
    else
        searchKeyword(run, keyword);
    trap(164, [&] { processEvents(); });
}

void finish(Run& run) {
    ErrorTrap& trap = run.trap;
    run.partial.discard();
    trap(166, [&] { run.curl.reset(); });
    if (trap.ended())
        return;
    trap(168, [&] { run.observer.setPointer(Surface::Default); });
    trap(170, [&] { run.observer.setProgressValue(0); });
    trap(172, [&] { run.observer.setProgressText(QStringLiteral("Progress Bar")); });
    trap(174, [&] { run.observer.showMessage(run.report.endText()); });
}

} // namespace

RunSummary DownloadRun(KeywordList& keywords, RunObserver& observer, ErrorTrap& trap, const QString& folder,
                       const QString& countText, const QString& startText) {
    if (Globals::RunBusy)
        return RunSummary();
    Globals::RunBusy = true;
    BusyScope busy;
    Run run(keywords, observer, trap, DownloadTarget::folderPrefix(folder));
    if (!startChecks(run, folder))
        return run.summary;
    run.summary.started = true;
    readInputs(run, countText, startText);

    int last = 0;
    trap(126, [&] {
        last = std::min(keywords.Count(), MaxKeywords);
        run.report.keywordsLeftOut = keywords.Count() - last;
    });
    // The list stays editable during the run: a keyword that is gone is not read, and once the
    // list is shorter than k there is nothing left to do.
    for (int k = 1; k <= last && k <= keywords.Count() && !trap.ended() && !run.stopped; ++k)
        runKeyword(run, k);
    finish(run);
    if (!trap.ended())
        observer.ended();
    return run.summary;
}

} // namespace Download
