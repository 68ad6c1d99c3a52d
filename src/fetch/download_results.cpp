#include "fetch/download_steps.h"

#include "base/file_routines.h"
#include "base/waiting.h"
#include "fetch/credits_file.h"
#include "fetch/download_target.h"
#include "fetch/embedded_credits.h"
#include "fetch/pace.h"
#include "fetch/picture_fetch.h"
#include "fetch/picture_type.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QStorageInfo>

#include <cerrno>
#include <cstring>

// The results of an answer, one by one: sizes that can be read, the filters, the download, and
// whether what arrived is a picture to keep.
namespace Download {
namespace Steps {

namespace {

const QString AlreadyThere = QStringLiteral("already in the folder");
const QString ReplacedMeanwhile = QStringLiteral("the file was replaced during the download");

// A folder with less free space than this after a failed write is full: the run stops.
constexpr qint64 MinimumFreeBytes = 1024 * 1024;

// What the observer is told of a result, its outcome aside.
RunObserver::Result resultOf(const Keyword& keyword, const Candidate& candidate) {
    RunObserver::Result result;
    result.keyword = keyword.text;
    result.address = candidate.image.address;
    result.source = Sources::storedName(candidate.source);
    const Sources::Credits& credits = candidate.credits;
    result.title = credits.title;
    result.creator = credits.creator;
    result.licence = credits.licence;
    result.licenceAddress = credits.licenceAddress;
    result.sourcePage = credits.sourcePage;
    return result;
}

// Why a file that arrived is no picture, for the end report.
QString notPictureReason(const QString& path) {
    if (QFileInfo(path).size() == 0)
        return QStringLiteral("empty file");
    return IsErrorPage(path) ? QStringLiteral("error page") : QStringLiteral("not a picture");
}

// The kept picture's credits.
CreditsFile::Line creditsLine(const Keyword& keyword, const Candidate& candidate, const QString& file) {
    return {file,
            keyword.text,
            candidate.source,
            candidate.image.address,
            candidate.credits,
            QDateTime::currentDateTimeUtc()};
}

// Adds the kept picture's line to the folder's credits list, when the user keeps one.
void addCredits(Run& run, const CreditsFile::Line& line) {
    if (!run.in.options.credits || !run.tally.report.creditsProblem.isEmpty())
        return;
    run.tally.report.creditsProblem = CreditsFile::append(run.in.folder, line);
    run.tally.summary.creditsProblem = run.tally.report.creditsProblem;
}

// Writes the credits into the kept picture when the user wants them there, before anyone is shown
// the picture; the folder's pictures learn its bytes as they arrived, so a later copy is still
// found. Returns what the details add to the picture's line ("" when nothing).
QString embedCredits(Run& run, const QString& keptPath, const CreditsFile::Line& line) {
    if (!run.in.options.embedCredits) {
        run.live.pictures.add(keptPath);
        return QString();
    }
    const EmbeddedCredits::Outcome outcome = EmbeddedCredits::write(keptPath, line);
    run.live.pictures.add(keptPath, outcome.asArrived);
    return outcome.note;
}

// Judges the file that arrived and keeps it under the next free name when it is a picture.
void judgeDownload(Run& run, Keyword& keyword, const Candidate& candidate, PartialDownload& partial) {
    if (!DownloadTarget::isSameFile(partial.path, partial.descriptor)) {
        // Someone else who writes in the folder put another file or a link in its place.
        run.skip(keyword, candidate, ReplacedMeanwhile);
        return run.tally.report.failure(ReplacedMeanwhile);
    }
    const QString contents = partial.contents();
    const QString type = PictureType::ofFile(contents);
    if (type.isEmpty()) {
        const QString reason = notPictureReason(contents);
        run.skip(keyword, candidate, reason);
        return run.tally.report.notPicture(reason);
    }
    if (run.live.pictures.holdsCopyOf(contents)) {
        run.skip(keyword, candidate, AlreadyThere);
        ++run.tally.report.alreadyThere;
        return;
    }
    const QString extension = PictureType::extensionFor(candidate.image.extension, type);
    const QString keptPath = DownloadTarget::keep(partial.path, run.in.folder, keyword.namePart, keyword.kept,
                                                  extension, partial.descriptor);
    if (keptPath.isEmpty()) {
        run.skip(keyword, candidate, QStringLiteral("could not save the file"));
        if (!run.folderGone())
            run.tally.report.failure(QStringLiteral("could not save the file"));
        return;
    }
    partial.kept();
    const QString file = QFileInfo(keptPath).fileName();
    const CreditsFile::Line line = creditsLine(keyword, candidate, file);
    const QString note = embedCredits(run, keptPath, line);
    run.tally.report.keptAs(keyword.text, candidate.image.address,
                            note.isEmpty() ? file : file + QStringLiteral(" (") + note + QLatin1Char(')'));
    RunObserver::Result result = resultOf(keyword, candidate);
    result.file = file;
    run.observer.resultDone(result);
    addCredits(run, line);
    ++keyword.kept;
    ++run.tally.report.kept;
    ++run.tally.summary.kept;
    run.tally.summary.keptFiles << keptPath;
}

// Downloads one result that passed the filters, judges it, and pauses as designed.
void downloadResult(Run& run, Keyword& keyword, const Candidate& candidate) {
    ErrorTrap& trap = run.trap;
    if (run.folderGone())
        return;
    QString problem;
    if (!run.live.partial.create(run.in.folder, &problem))
        return run.stopForFolder(problem);
    PictureFetch::Outcome outcome;
    trap(152, [&] {
        run.observer.setProgressText(keyword.downloading);
        ++run.tally.summary.downloads;
        outcome = PictureFetch::fetch(
            *run.live.curl, candidate.image.downloadAddress, run.live.partial.contents(),
            [&](const ToolCommand& command, ToolOutput* output) { return run.runShown(command, output); },
            Sources::downloadUserAgent(candidate.source), run.live.partial.descriptor);
        run.observer.setProgressText(keyword.downloading);
    });
    if (run.stopRequested())
        return run.live.partial.discard(); // what curl had written is not judged
    trap(154, [&] {
        processEvents();
        run.pause(0.5);
        processEvents();
    });
    settleDownload(run, keyword, candidate, run.live.partial, outcome);
    trap(158, [&] { run.pause(1); });
}

// Looks at one result: sizes that can be read, the filters, then the download.
void takeResult(Run& run, Keyword& keyword, const Candidate& candidate) {
    ++run.tally.report.resultsSeen;
    const Verdict verdict = screen(run, candidate);
    if (verdict == Verdict::Download)
        downloadResult(run, keyword, candidate);
    else
        reportSkipped(run, keyword, candidate, verdict);
}

} // namespace

Verdict screen(Run& run, const Candidate& candidate) {
    ErrorTrap& trap = run.trap;
    const CurlFunctions::ImageResult& result = candidate.image;
    if (!candidate.licenceFits)
        return Verdict::Licence;
    if (!result.widthError.isEmpty() || !result.heightError.isEmpty())
        return Verdict::Unreadable;
    bool wanted = false;
    trap(150, [&] {
        wanted = DimensionFilter(run.in.filters, result.width, result.height, [&](SettingKey key) {
            int comparison = 0; // a comparison that cannot be read compares as "Greater than"
            if (!run.tally.comparisonReported) {
                run.tally.comparisonReported = !trap(150, [&] { comparison = ReadComparison(key); });
                return comparison;
            }
            try {
                comparison = ReadComparison(key);
            } catch (const AppError&) {
                // reported already: one box a run, not one a result
            }
            return comparison;
        });
    });
    if (trap.ended())
        return Verdict::Ended;
    if (!wanted)
        return Verdict::Filtered;
    // The same address twice in one run brings the same picture twice.
    if (run.tally.addresses.contains(result.downloadAddress))
        return Verdict::Repeated;
    run.tally.addresses.insert(result.downloadAddress);
    return Verdict::Download;
}

void reportSkipped(Run& run, const Keyword& keyword, const Candidate& candidate, Verdict verdict) {
    switch (verdict) {
    case Verdict::Licence:
        run.skip(keyword, candidate, QStringLiteral("licence"));
        ++run.tally.report.licence;
        break;
    case Verdict::Unreadable:
        run.skip(keyword, candidate, QStringLiteral("width or height could not be read"));
        ++run.tally.report.unreadable;
        break;
    case Verdict::Filtered:
        run.skip(keyword, candidate, QStringLiteral("filtered by width or height"));
        ++run.tally.report.filtered;
        break;
    case Verdict::Repeated:
        run.skip(keyword, candidate, AlreadyThere);
        ++run.tally.report.alreadyThere;
        break;
    case Verdict::Download:
    case Verdict::Ended:
        break;
    }
}

void settleDownload(Run& run, Keyword& keyword, const Candidate& candidate, PartialDownload& partial,
                    const PictureFetch::Outcome& outcome) {
    run.trap(156, [&] {
        if (partial.path.isEmpty() || !Main::FileExists(partial.path))
            return;
        if (!outcome.arrived) {
            if (outcome.failure != PictureFetch::writeFailure() || !run.folderUnwritable())
                run.tally.report.failure(outcome.failure);
            run.skip(keyword, candidate, outcome.failure);
            return;
        }
        judgeDownload(run, keyword, candidate, partial);
    });
    partial.discard();
}

void processEvents() {
    QCoreApplication::processEvents();
}

void Run::pause(double designedSeconds) {
    Main::PauseSeconds(Pace::seconds(designedSeconds * in.options.pace));
}

void Run::searchPause(double designedSeconds) {
    Main::PauseSeconds(Pace::seconds(designedSeconds * in.options.searchPace));
}

QString Run::key(Sources::Source source) const {
    return in.options.key && source == in.options.source ? *in.options.key : Stored::key(source);
}

int Run::runShown(const ToolCommand& command, ToolOutput* output) {
    return Shell32::RunAndWait(command, 0, &observer, observer.progressText(), observer.progressValue(),
                               keywords.Count(), 0, output);
}

bool Run::folderGone() {
    const QString problem = DownloadTarget::folderProblem(in.folder);
    if (!problem.isEmpty())
        stopForFolder(problem);
    return tally.stopped;
}

void Run::stopLocally(const QString& text) {
    tally.report.stoppedBecause = text;
    tally.summary.localProblem = text;
    tally.stopped = true;
}

void Run::stopForFolder(const QString& problem) {
    stopLocally(RunTexts::folderUnusable(in.folder, problem) + QStringLiteral(" The run was stopped."));
}

void Run::skip(const Keyword& keyword, const Candidate& candidate, const QString& reason) {
    tally.report.skipped(keyword.text, candidate.image.address, reason);
    RunObserver::Result result = resultOf(keyword, candidate);
    result.reason = reason;
    result.alreadyThere = reason == AlreadyThere;
    observer.resultDone(result);
}

bool Run::stopRequested() {
    if (RunStop::requested() && !tally.stopped) {
        tally.report.stoppedBecause = QStringLiteral("Downloading was stopped.");
        tally.stopped = true;
    }
    return RunStop::requested();
}

bool Run::folderUnwritable() {
    if (folderGone())
        return true;
    const QStorageInfo storage(in.folder);
    if (storage.isValid() && storage.bytesAvailable() < MinimumFreeBytes)
        stopForFolder(QString::fromLocal8Bit(std::strerror(ENOSPC)));
    return tally.stopped;
}

void takeResults(Run& run, Keyword& keyword, ResultFeed& feed) {
    if (run.in.options.parallel > 1)
        return takeResultsAtOnce(run, keyword, feed);
    ErrorTrap& trap = run.trap;
    Candidate candidate;
    while (keyword.kept < keyword.wanted && run.goesOn()) {
        using Step = ResultFeed::Step;
        Step step = Step::Over;
        trap(144, [&] { step = feed.next(candidate); });
        if (trap.ended() || step == Step::Over)
            break;
        if (step == Step::Skipped) {
            ++run.tally.report.resultsSeen;
            ++run.tally.report.unreadable;
        } else {
            takeResult(run, keyword, candidate);
        }
    }
}

} // namespace Steps
} // namespace Download
