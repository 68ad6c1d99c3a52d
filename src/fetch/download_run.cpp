#include "fetch/download_run.h"

#include "fetch/download_steps.h"

#include "base/conversions.h"
#include "base/error_report.h"
#include "base/file_routines.h"
#include "base/globals.h"
#include "base/settings_store.h"
#include "base/surface.h"
#include "base/waiting.h"
#include "build_config.h"
#include "fetch/curl_session.h"
#include "fetch/download_target.h"
#include "fetch/picture_fetch.h"
#include "fetch/response_scan.h"
#include "fetch/retry.h"
#include "fetch/run_report.h"
#include "fetch/search_request.h"
#include "keywords/keyword_list.h"

#include <QUrl>

#include <algorithm>
#include <cmath>
#include <optional>

namespace Download {

namespace {

// The service answers one page per keyword; the run looks at no more than this many keywords.
constexpr int MaxKeywords = 100;

// Clears the busy flag and any stop request however the run ends, the program's end included.
struct BusyScope {
    BusyScope() { RunStop::clear(); }
    ~BusyScope() {
        Globals::RunBusy = false;
        RunStop::clear();
    }
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

using namespace Steps;

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

// Asks the service for the keyword's page and reads the answer.
void searchKeyword(Run& run, Keyword& keyword) {
    ErrorTrap& trap = run.trap;
    if (!run.curl)
        return; // reported when the run started: no keyword can be searched
    const QString answerFile = run.curl->responseFile();
    int exitCode = 0;
    ToolOutput output;
    QString text;
    // A busy service or a broken connection gets a few more tries, the bar saying why it waits.
    for (int retry = 0;; ++retry) {
        trap(136, [&] { Main::RemoveFile(answerFile); });
        trap(138, [&] {
            const ToolCommand search =
                Search::SearchCommand(*run.curl, keyword.text, run.start, Search::PageSize(run.count));
            run.observer.setProgressText(keyword.finding);
            ++run.summary.searches;
            output = ToolOutput();
            exitCode = run.runShown(search, &output);
            run.observer.setProgressText(keyword.finding);
        });
        if (trap.ended() || run.stopRequested())
            return;
        text.clear();
        if (exitCode == 0 && !output.crashed)
            trap(140, [&] { text = CurlFunctions::ReadResponse(answerFile); });
        const int wait = Retry::searchWait(retry, exitCode, output, text);
        if (wait < 0)
            break;
        trap(138, [&] {
            run.observer.setProgressText(keyword.waiting);
            pause(wait);
        });
    }
    if (exitCode != 0 || output.crashed) {
        run.report.serviceProblem = PictureFetch::curlErrorText(exitCode, output);
        return;
    }
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
    keyword.waiting = processing + QStringLiteral(", waiting to retry");
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
    trap(174, [&] { run.observer.showReport(run.report.endText(), run.report.detailsText(), run.folder); });
}

} // namespace

RunSummary DownloadRun(KeywordList& keywords, RunObserver& observer, ErrorTrap& trap, const QString& folder,
                       const QString& countText, const QString& startText, const RunOptions& options) {
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
    for (int k = 1;
         k <= last && k <= keywords.Count() && !trap.ended() && !run.stopped && !run.stopRequested(); ++k)
        runKeyword(run, k);
    finish(run);
    if (!trap.ended())
        observer.ended();
    return run.summary;
}

} // namespace Download
