#include "fetch/download_run.h"

#include "build_config.h"
#include "fetch/download_checks.h"
#include "fetch/download_command.h"
#include "fetch/download_target.h"
#include "fetch/pace.h"
#include "fetch/response_scan.h"
#include "fetch/search_request.h"
#include "fetch/tool_runner.h"
#include "keywords/keyword_list.h"
#include "shell/conversions.h"
#include "shell/error_report.h"
#include "shell/file_routines.h"
#include "shell/globals.h"
#include "shell/prompts.h"
#include "shell/settings_store.h"
#include "shell/surface.h"
#include "shell/waiting.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <algorithm>
#include <cmath>

namespace Download {

namespace {

// The service answers one page per keyword; the run looks at no more than this many keywords.
constexpr int MaxKeywords = 100;

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

RunSummary DownloadRun(KeywordList& keywords, Surface& surface, Prompts& prompts, const QString& folder,
                       const QString& countText, const QString& startText) {
    RunSummary summary;
    if (Globals::RunBusy)
        return summary;
    Globals::RunBusy = true;
    BusyScope busy;
    CurlFunctions::CurlScope curl;
    PartialDownload partial;

    ErrorTrap trap(prompts, QStringLiteral("Form1.PushButton2_Click"));
    bool go = true;
    trap(100, [&] {
        if (keywords.Count() == 0) {
            prompts.tell(QStringLiteral("No keyword/s added."));
            go = false;
        }
    });
    if (go)
        trap(102, [&] {
            if (!Main::FolderExists(folder)) {
                prompts.tell(QStringLiteral("Folder does not exist. Please select another folder."));
                go = false;
            }
        });
    if (go)
        trap(104, [&] {
            if (SettingsStore::read(QStringLiteral("SID")).isEmpty()) {
                prompts.tell(QStringLiteral("Please enter API key first."));
                go = false;
            }
        });
    if (!go || trap.ended())
        return summary;
    summary.started = true;

    int count = 0;
    int start = 0;
    FilterSettings filters;
    trap(106, [&] { surface.setPointer(Surface::Hourglass); });
    trap(108, [&] { count = CountFrom(countText); });
    trap(110, [&] { count = CapCount(count); });
    trap(112, [&] { start = StartFrom(startText); });
    trap(114, [&] { start = CapStart(start); });
    trap(116,
         [&] { filters.heightOn = SettingsStore::read(QStringLiteral("Option2")) == QLatin1String("4"); });
    trap(118,
         [&] { filters.widthOn = SettingsStore::read(QStringLiteral("Option3")) == QLatin1String("6"); });
    trap(120, [&] {
        filters.widthLimit = FilterSettings::limitFrom(SettingsStore::read(QStringLiteral("Text5")));
    });
    trap(122, [&] {
        filters.heightLimit = FilterSettings::limitFrom(SettingsStore::read(QStringLiteral("Text6")));
    });
    trap(124, [&] { CurlFunctions::ExtractCurl(); });

    int last = 0;
    trap(126, [&] { last = std::min(keywords.Count(), MaxKeywords); });

    bool anyAttempt = false;
    QString serviceMessage;
    CurlFunctions::ImageResult result; // width and height carry over from result to result

    // The bar's text and value as RunAndWait is given them.
    const auto runShown = [&](const ToolCommand& command) {
        return Shell32::RunAndWait(command, 0, &surface, surface.progressText(), surface.progressValue(),
                                   keywords.Count());
    };

    for (int k = 1; k <= last && !trap.ended(); ++k) {
        // The list stays editable during the run: a keyword that is gone is not read, and once the
        // list is shorter than k there is nothing left to do.
        if (k > keywords.Count())
            break;
        QString keyword;
        QString shown; // the keyword's last path part, for the bar
        trap(128, [&] {
            keyword = keywords.item(k);
            shown = Main::LastPathPart(keyword, QLatin1Char('\\'));
        });
        trap(130, [&] {
            // The share of the current keyword is shown as done already.
            const double share = static_cast<double>(k) / keywords.Count() * 100.0;
            surface.setProgressValue(static_cast<int>(std::nearbyint(share)));
        });
        const QString processing = QStringLiteral("Processing: ") + shown;
        const QString finding = processing + QStringLiteral(", finding images...");
        const QString downloading = processing + QStringLiteral(", downloading...");
        trap(132, [&] { surface.setProgressText(processing); });

        int kept = 0;
        int wanted = count;
        trap(134, [&] { processEvents(); });
        trap(136, [&] { Main::RemoveFile(CurlFunctions::ResponseFile); });
        trap(138, [&] {
            const ToolCommand search = Search::SearchCommand(keyword, start, Search::PageSize(count));
            surface.setProgressText(finding);
            ++summary.searches;
            runShown(search);
            surface.setProgressText(finding);
        });

        QString text;
        trap(140, [&] { text = CurlFunctions::ReadResponse(CurlFunctions::ResponseFile); });
        if (CurlFunctions::IsImageAnswer(text)) {
            if (CurlFunctions::HasTotal(text)) {
                qint32 total = 0;
                trap(142, [&] { total = CurlFunctions::ReadTotal(text, &prompts); });
                if (total < wanted)
                    wanted = total;
                if (total >= 1) {
                    CurlFunctions::ResultScanner scanner(text);
                    do {
                        using Step = CurlFunctions::ResultScanner::Step;
                        Step step = Step::Over;
                        trap(144, [&] { step = scanner.next(result); });
                        if (trap.ended())
                            break;
                        if (step != Step::Found)
                            continue;
                        // A size that is not a number keeps the previous result's value.
                        if (!result.widthError.isEmpty())
                            trap.report(146, result.widthError);
                        if (!result.heightError.isEmpty())
                            trap.report(148, result.heightError);

                        bool wantedResult = false;
                        trap(150, [&] {
                            wantedResult = DimensionFilter(
                                filters, result.width, result.height, [&](const QString& key) {
                                    int comparison =
                                        0; // a comparison that cannot be read compares as "Greater than"
                                    trap(150, [&] { comparison = ReadComparison(key); });
                                    return comparison;
                                });
                        });
                        if (!wantedResult || trap.ended())
                            continue;
                        // An extension with a path separator would put the picture outside the
                        // folder; such a result is passed over like one without an extension.
                        if (!DownloadTarget::usableExtension(result.extension))
                            continue;

                        anyAttempt = true;
                        int exitCode = -1;
                        trap(152, [&] {
                            partial.path = DownloadTarget::temporaryPath(
                                DownloadTarget::path(folder, keyword, kept + 1, result.extension));
                            const ToolCommand download =
                                DownloadCommand(result.downloadAddress, partial.path);
                            surface.setProgressText(downloading);
                            ++summary.downloads;
                            exitCode = runShown(download);
                            surface.setProgressText(downloading);
                        });
                        trap(154, [&] {
                            processEvents();
                            pause(0.5);
                            processEvents();
                        });
                        trap(156, [&] {
                            if (!Main::FileExists(partial.path))
                                return;
                            // A transfer that curl gave up on (time-out, connection cut) may have left
                            // part of a file: it is no picture.
                            if (exitCode != 0)
                                return partial.discard();
                            struct Discard {
                                PartialDownload& p;
                                ~Discard() { p.discard(); }
                            } discardUnlessKept{partial};
                            if (IsErrorPage(partial.path))
                                return;
                            const QString keptPath =
                                DownloadTarget::keep(partial.path, folder, keyword, kept, result.extension);
                            if (keptPath.isEmpty())
                                return;
                            partial.path.clear();
                            ++kept;
                            ++summary.kept;
                            summary.keptFiles << keptPath;
                        });
                        partial.discard();
                        trap(158, [&] { pause(1); });
                    } while (kept < wanted && !scanner.over() && !trap.ended());
                }
            }
            trap(160, [&] { pause(1.5); });
        } else if (CurlFunctions::HasServiceMessage(text)) {
            trap(162, [&] { serviceMessage = CurlFunctions::ServiceMessage(text, &prompts); });
        }
        trap(164, [&] { processEvents(); });
    }

    partial.discard();
    trap(166, [&] { CurlFunctions::RemoveCurl(); });
    if (trap.ended())
        return summary;
    trap(168, [&] { surface.setPointer(Surface::Default); });
    trap(170, [&] { surface.setProgressValue(0); });
    trap(172, [&] { surface.setProgressText(QStringLiteral("Progress Bar")); });
    trap(174, [&] { prompts.tell(anyAttempt ? DoneText() : NothingFoundText(serviceMessage)); });
    return summary;
}

} // namespace Download
