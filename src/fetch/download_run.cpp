#include "fetch/download_run.h"

#include "fetch/download_steps.h"

#include "base/file_routines.h"
#include "base/run_gate.h"
#include "base/surface.h"
#include "base/waiting.h"
#include "keywords/keyword_list.h"

#include <algorithm>
#include <cmath>

// The run from its start to its end: the checks, the inputs, the keywords one by one, the end.
namespace Download {

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
            } else if (const QString problem = DownloadTarget::folderProblem(run.in.folder);
                       !problem.isEmpty()) {
                run.observer.showMessage(RunTexts::folderUnusable(run.in.folder, problem));
                go = false;
            }
        });
    if (go)
        run.trap(104, [&] {
            const QString licence = Sources::licenceRefusal(run.in.options.source, run.in.options.licence);
            if (!licence.isEmpty()) {
                run.observer.showMessage(licence);
                go = false;
            } else if (Sources::needsKey(run.in.options.source) && run.key().isEmpty()) {
                run.observer.showMessage(QStringLiteral("Please enter API key first."));
                go = false;
            }
        });
    return go && !run.trap.ended();
}

// The caller's choices, and what follows from the source.
void takeOptions(Run& run, const RunOptions& options) {
    run.in.options = options;
    run.in.options.parallel = AtOnce(options.parallel);
    openLanes(run);
}

void readInputs(Run& run, const QString& countText, const QString& startText) {
    ErrorTrap& trap = run.trap;
    trap(106, [&] { run.observer.setPointer(Surface::Hourglass); });
    trap(108, [&] { run.in.count = CountFrom(countText); });
    trap(110, [&] { run.in.count = CapCount(run.in.count); });
    trap(112, [&] { run.in.start = StartFrom(startText); });
    trap(114, [&] { run.in.start = CapStart(run.in.start); });
    FilterSettings& filters = run.in.filters;
    if (run.in.options.filters) {
        filters = *run.in.options.filters;
    } else {
        trap(116, [&] { filters.readHeightSwitch(); });
        trap(118, [&] { filters.readWidthSwitch(); });
        trap(120, [&] { filters.readWidthLimit(); });
        trap(122, [&] { filters.readHeightLimit(); });
    }
    trap(124, [&] {
        // Without its temporary folder (full, unwritable, missing) no search can be made: the run
        // ends with that reason instead of an error box and "Nothing found.".
        try {
            run.live.curl.emplace();
        } catch (const AppError& e) {
            run.stopLocally(QStringLiteral("Downloading could not start: ") + e.description() +
                            QLatin1Char('.'));
        }
    });
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
    keyword.wanted = run.in.count;
    trap(134, [&] { processEvents(); });

    keyword.namePart = DownloadTarget::namePart(keyword.text);
    if (!DownloadTarget::usableNamePart(keyword.namePart))
        run.tally.report.unusableKeywords << keyword.text;
    else if (run.live.curl) // without curl the start reported why nothing can be searched
        searchSource(run, keyword);
    trap(164, [&] { processEvents(); });
}

// How the searches went, for callers that act on it (the command line's exit status).
RunSummary::Service serviceState(const Run& run) {
    if (run.tally.summary.searches == 0)
        return RunSummary::Service::NotAsked;
    if (run.tally.answered > 0)
        return RunSummary::Service::Answered;
    return run.tally.report.serviceMessage.isEmpty() ? RunSummary::Service::Unreachable
                                                     : RunSummary::Service::Refused;
}

void finish(Run& run) {
    ErrorTrap& trap = run.trap;
    run.tally.summary.service = serviceState(run);
    run.tally.summary.stopped = RunStop::requested();
    if (!run.tally.report.unreachableHost.isEmpty())
        run.tally.summary.unreachable = run.tally.report.serviceProblem;
    run.live.partial.discard();
    run.live.ahead.drop();         // a search for a keyword the run did not reach
    run.live.places.early.clear(); // and its early downloads
    trap(166, [&] { run.live.curl.reset(); });
    if (trap.ended())
        return;
    trap(168, [&] { run.observer.setPointer(Surface::Default); });
    trap(170, [&] { run.observer.setProgressValue(0); });
    trap(172, [&] { run.observer.setProgressText(QStringLiteral("Progress Bar")); });
    // The end box offers the folder only when the run put pictures into it.
    trap(174, [&] {
        run.observer.showReport(run.tally.report.endText(), run.tally.report.detailsText(),
                                run.tally.report.kept > 0 ? run.in.folder : QString());
    });
}

} // namespace

RunSummary DownloadRun(KeywordList& keywords, RunObserver& observer, ErrorTrap& trap, const QString& folder,
                       const QString& countText, const QString& startText, const RunOptions& options) {
    const RunGate gate;
    if (!gate.opened())
        return RunSummary();
    Run run(keywords, observer, trap, DownloadTarget::folderPrefix(folder));
    takeOptions(run, options);
    if (!startChecks(run, folder))
        return run.tally.summary;
    run.tally.summary.started = true;
    readInputs(run, countText, startText);

    int last = 0;
    trap(126, [&] {
        last = options.keywordLimit > 0 ? std::min(keywords.Count(), options.keywordLimit) : keywords.Count();
        run.tally.report.keywordsLeftOut = keywords.Count() - last;
    });
    // The list stays editable during the run: a keyword that is gone is not read, and once the
    // list is shorter than k there is nothing left to do.
    for (int k = 1; k <= last && k <= keywords.Count() && !run.tally.refused && run.goesOn(); ++k) {
        run.live.ahead.reach(k, last);
        runKeyword(run, k);
        run.live.places.dropUpTo(k); // what went early for it and was not taken over
    }
    finish(run);
    return run.tally.summary;
}

} // namespace Download
