#include "fetch/download_steps.h"

#include "base/file_routines.h"
#include "base/waiting.h"
#include "fetch/limits.h"
#include "fetch/pace.h"
#include "fetch/picture_fetch.h"
#include "fetch/retry.h"
#include "fetch/sources/adapters.h"
#include "fetch/sources/answer_cache.h"

#include <QUrl>

#include <algorithm>
#include <functional>
#include <optional>
#include <vector>

// The run's searches: the pages of one keyword asked of the run's source (or of each free source in
// turn), again while a source is busy, each spaced to its own rate, and read into the results the run
// takes one by one.
namespace Download {
namespace Steps {

namespace {

// Runs one search, again while the service is busy or the connection broke, the bar saying why it
// waits. `read` reads the answer file after a search that curl finished and returns its text, for
// telling a busy service from a spent quota. With `sent`, the first try went out ahead and
// `exitCode`, `output` and the answer file hold its outcome. False when the run was stopped or
// ended meanwhile.
bool searchWithRetries(Run& run, SourceLane& lane, Keyword& keyword,
                       const std::function<ToolCommand()>& command, const std::function<QString()>& read,
                       int* exitCode, ToolOutput* output, bool sent = false) {
    ErrorTrap& trap = run.trap;
    const QString answerFile = run.live.curl->responseFile();
    for (int retry = 0;; ++retry) {
        const bool ahead = sent && retry == 0;
        if (!ahead)
            trap(136, [&] { Main::RemoveFile(answerFile); });
        trap(138, [&] {
            const ToolCommand search = ahead ? ToolCommand() : command();
            run.observer.setProgressText(keyword.finding);
            ++run.tally.summary.searches;
            if (!ahead) {
                *output = ToolOutput();
                run.live.ahead.searchStarts();
                *exitCode = run.runShown(search, output);
            }
            run.observer.setProgressText(keyword.finding);
        });
        lane.sinceSearch.start();
        if (trap.ended() || run.stopRequested())
            return false;
        QString text;
        if (*exitCode == 0 && !output->crashed)
            text = read();
        // A source this run has not reached yet is not asked again: a name that does not resolve, a
        // port that refuses or a certificate that fails stays so for a while, and the person hears it
        // at once. One that answered before may have had a moment's trouble, and is tried again.
        const bool neverReached = run.tally.answered == 0 && Retry::isUnreachable(*exitCode, *output);
        const int wait = neverReached ? -1 : Retry::searchWait(retry, *exitCode, *output, text);
        if (wait < 0)
            return true;
        trap(138, [&] {
            run.observer.setProgressText(keyword.waiting);
            run.searchPause(wait);
        });
    }
}

// Waits until the source takes the next request (only GLIMMERFETCH_PACE shortens the wait).
// Searching ahead, the spacing runs from the start of one search to the start of the next.
void spaceSearches(Run& run, const SourceLane& lane) {
    const double left =
        spacingLeft(lane.source, SearchAhead::on(run) ? run.live.ahead.sinceStart() : lane.sinceSearch);
    if (left > 0)
        Main::PauseSeconds(Pace::seconds(left));
}

// A source of a mix that cannot be asked any more (it refused, could not be reached, or kept failing)
// is left out for the rest of the run; with none left, no further keyword is asked.
void leaveOut(Run& run, SourceLane& lane, const QString& why) {
    lane.leftOut = true;
    const QString line = why.startsWith(Sources::shownName(lane.source))
                             ? why
                             : Sources::shownName(lane.source) + QStringLiteral(": ") + why;
    run.tally.report.leftOut << line;
    run.tally.summary.leftOut << line;
    run.tally.refused = std::all_of(run.live.lanes.begin(), run.live.lanes.end(),
                                    [](const SourceLane& l) { return l.leftOut; });
}

// Asks the source for one page. True with `answer` holding a page of results; otherwise the report
// says why not. The key goes into `query` anew for every request.
bool searchPage(Run& run, SourceLane& lane, Keyword& keyword, Sources::PageQuery& query,
                Sources::SourceAnswer* answer) {
    using Kind = Sources::SourceAnswer::Kind;
    Sources::ImageSource& source = *lane.adapter;
    const Sources::Source which = lane.source;
    const bool mix = Sources::isMix(run.in.options.source);
    const bool credits = run.in.options.credits;
    const auto tookPage = [&] {
        ++run.tally.answered;
        run.tally.report.resultsSeen += answer->skipped;
        run.tally.report.unreadable += answer->skipped;
        return true;
    };
    std::optional<AnswerCache> cache;
    QString cached; // the request as the cache knows it
    if (const qint64 keep = Sources::answerKeepSeconds(which); keep > 0) {
        cache.emplace(Sources::storedName(which), keep);
        query.key = run.key(which);
        cached = source.request(query).shownAddress;
        if (const std::optional<QByteArray> kept = cache->find(cached)) {
            *answer = source.readInRun(*kept, 200, query, run.trap, credits);
            if (answer->kind == Kind::Results)
                return tookPage();
        }
    }

    int exitCode = 0;
    ToolOutput output;
    QByteArray bytes;
    const QString answerFile = run.live.curl->responseFile();
    const auto command = [&] {
        query.key = run.key(which);
        return source.command(*run.live.curl, source.request(query));
    };
    const auto read = [&] {
        bytes.clear();
        run.trap(140, [&] { bytes = source.readAnswerFile(answerFile); });
        return QString::fromUtf8(bytes);
    };
    // The keyword's first page may have been asked for while the keyword before downloaded.
    const bool sent = run.live.ahead.take(run, command, &exitCode, &output);
    if (!sent) {
        run.live.ahead.waitIdle();
        spaceSearches(run, lane);
    }
    if (!searchWithRetries(run, lane, keyword, command, read, &exitCode, &output, sent))
        return false;
    if (exitCode != 0 || output.crashed) {
        run.tally.report.serviceProblem = PictureFetch::curlErrorText(exitCode, output);
        run.tally.report.serviceAnswerTooLarge = Sources::answerTooLarge(exitCode, answerFile);
        if (mix)
            leaveOut(run, lane, run.tally.report.serviceProblem);
        if (Retry::isUnreachable(exitCode, output) && (!mix || run.tally.refused)) {
            // Every further keyword would fail the same way: the run ends, naming the host, with
            // curl's own words in the details.
            const Sources::SourceRequest asked = source.request(query);
            run.tally.report.unreachableHost = QUrl(asked.address).host();
            run.tally.report.lines << keyword.text + QStringLiteral(": ") + asked.shownAddress +
                                          QStringLiteral(" \u2192 ") + run.tally.report.serviceProblem;
            run.tally.refused = true;
        }
        return false;
    }
    const int status = output.httpStatus();
    *answer = source.readInRun(bytes, status, query, run.trap, credits);
    if (answer->kind == Kind::Results) {
        if (cache)
            cache->keep(cached, bytes);
        return tookPage();
    }
    const Sources::AnswerProblem problem = source.problem(*answer, status);
    if (problem.message)
        run.tally.report.serviceMessage = *problem.message;
    if (problem.httpStatus != 0)
        run.tally.report.serviceStatus = problem.httpStatus;
    if (!mix)
        run.tally.refused = problem.refusesAll;
    else if (problem.refusesAll || status >= 500 || answer->kind == Kind::Unreadable) {
        QString why = problem.message.value_or(RunTexts::serviceError(status));
        if (status != 0 && !why.contains(QLatin1String("HTTP")))
            why += QStringLiteral(" (HTTP %1)").arg(status);
        leaveOut(run, lane, why);
    }
    return false;
}

// The results of one keyword from one source, page after page, from the start position's page on.
class SourceFeed : public ResultFeed {
public:
    SourceFeed(Run& run, SourceLane& lane, Keyword& keyword)
        : run_(run)
        , lane_(lane)
        , keyword_(keyword)
        , query_(firstQuery(run, lane, keyword.text)) {}

    // Asks for the first page. False when it brought no results.
    bool start() {
        started_ = true;
        return askPage();
    }
    const Sources::SourceAnswer& firstAnswer() const { return answer_; }

    Step next(Candidate& candidate) override {
        // A feed of a mix asks for its first page when its first result is wanted.
        if (!started_ && !start())
            return Step::Over;
        for (;;) {
            if (answer_.feed) {
                const Step step = answer_.feed->next(candidate);
                candidate.source = lane_.source;
                if (step != Step::Over)
                    return step;
            } else if (index_ < answer_.results.size()) {
                candidateOf(answer_.results.at(index_++), lane_.source, candidate);
                return Step::Found;
            }
            if (!answer_.hasNext || pages_ >= Limits::PagesPerKeyword || lane_.leftOut || !run_.goesOn())
                return Step::Over;
            query_ = Sources::nextQuery(query_, answer_);
            // A page that brings no address the keyword has not seen (an empty page, or the same page
            // again) ends the keyword, whatever it says about further pages.
            if (!askPage() || !freshPage_)
                return Step::Over;
        }
    }

private:
    bool askPage() {
        index_ = 0;
        ++pages_;
        if (!searchPage(run_, lane_, keyword_, query_, &answer_))
            return false;
        freshPage_ = false;
        for (const Sources::SourceResult& result : answer_.results)
            if (!seen_.contains(result.address)) {
                seen_.insert(result.address);
                freshPage_ = true;
            }
        return true;
    }

    Run& run_;
    SourceLane& lane_;
    Keyword& keyword_;
    Sources::PageQuery query_;
    Sources::SourceAnswer answer_;
    qsizetype index_ = 0;
    int pages_ = 0;
    bool freshPage_ = false;
    bool started_ = false;
    QSet<QString> seen_; // the addresses of the keyword's pages so far
};

// The results of one keyword from several sources: one of each in turn, a source that has no more
// making room for the others.
class MixFeed : public ResultFeed {
public:
    MixFeed(Run& run, Keyword& keyword) {
        for (SourceLane& lane : run.live.lanes)
            if (!lane.leftOut)
                feeds_.push_back(std::make_unique<SourceFeed>(run, lane, keyword));
    }

    Step next(Candidate& candidate) override {
        while (!feeds_.empty()) {
            turn_ %= feeds_.size();
            const Step step = feeds_[turn_]->next(candidate);
            if (step == Step::Over) {
                feeds_.erase(feeds_.begin() + static_cast<std::ptrdiff_t>(turn_));
                continue;
            }
            ++turn_;
            return step;
        }
        return Step::Over;
    }

private:
    std::vector<std::unique_ptr<SourceFeed>> feeds_;
    std::size_t turn_ = 0;
};

} // namespace

void candidateOf(const Sources::SourceResult& result, Sources::Source source, Candidate& candidate) {
    CurlFunctions::ImageResult& image = candidate.image;
    image = CurlFunctions::ImageResult();
    image.address = result.address;
    image.downloadAddress = result.address;
    image.stem = Main::StripExtension(result.address);
    image.extension = result.extension;
    image.width = result.width;
    image.height = result.height;
    candidate.credits = result.credits;
    candidate.source = source;
    candidate.licenceFits = result.licenceFits;
}

SourceLane::SourceLane(Sources::Source which)
    : source(which)
    , adapter(Sources::makeAdapter(which)) {}

double spacingLeft(Sources::Source source, const QElapsedTimer& since) {
    const double spacing = Sources::requestSpacing(source);
    if (!since.isValid() || spacing <= 0)
        return 0;
    return std::max(0.0, spacing - static_cast<double>(since.elapsed()) / 1000.0);
}

void openLanes(Run& run) {
    const Sources::Source chosen = run.in.options.source;
    QStringList sites;
    for (const Sources::Source source : Sources::members(chosen)) {
        if (Sources::isMix(chosen) && Sources::needsKey(source) && run.key(source).trimmed().isEmpty())
            continue;
        run.live.lanes.emplace_back(source);
        sites << Sources::site(source);
    }
    run.tally.report.site = sites.join(QStringLiteral(", "));
}

void searchSource(Run& run, Keyword& keyword) {
    if (Sources::isMix(run.in.options.source)) {
        MixFeed feed(run, keyword);
        takeResults(run, keyword, feed);
        run.trap(160, [&] { run.searchPause(1.5); });
        return;
    }
    SourceFeed feed(run, run.live.lanes.front(), keyword);
    if (!feed.start())
        return;
    const qint64 total = feed.firstAnswer().total;
    if (total >= 0 && total < keyword.wanted)
        keyword.wanted = static_cast<int>(total);
    takeResults(run, keyword, feed);
    run.trap(160, [&] { run.searchPause(1.5); });
}

} // namespace Steps
} // namespace Download
