#include "fetch/download_steps.h"

#include "base/file_routines.h"
#include "base/waiting.h"
#include "fetch/limits.h"
#include "fetch/pace.h"
#include "fetch/picture_fetch.h"
#include "fetch/retry.h"
#include "fetch/sources/answer_cache.h"

#include <QUrl>

#include <functional>
#include <optional>

// The run's searches: the pages of one keyword asked of the run's source, again while the source is
// busy, spaced to its rate, and read into the results the run takes one by one.
namespace Download {
namespace Steps {

namespace {

// Runs one search, again while the service is busy or the connection broke, the bar saying why it
// waits. `read` reads the answer file after a search that curl finished and returns its text, for
// telling a busy service from a spent quota. False when the run was stopped or ended meanwhile.
bool searchWithRetries(Run& run, Keyword& keyword, const std::function<ToolCommand()>& command,
                       const std::function<QString()>& read, int* exitCode, ToolOutput* output) {
    ErrorTrap& trap = run.trap;
    const QString answerFile = run.live.curl->responseFile();
    for (int retry = 0;; ++retry) {
        trap(136, [&] { Main::RemoveFile(answerFile); });
        trap(138, [&] {
            const ToolCommand search = command();
            run.observer.setProgressText(keyword.finding);
            ++run.tally.summary.searches;
            *output = ToolOutput();
            *exitCode = run.runShown(search, output);
            run.observer.setProgressText(keyword.finding);
        });
        run.live.sinceSearch.start();
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

// Waits until the source takes the next request: its published rate counts every request of the
// program, so the person's pace choice does not shorten this wait (only GLIMMERFETCH_PACE does).
void spaceSearches(Run& run) {
    const double spacing = Sources::requestSpacing(run.in.options.source);
    if (!run.live.sinceSearch.isValid() || spacing <= 0)
        return;
    const double left = spacing - static_cast<double>(run.live.sinceSearch.elapsed()) / 1000.0;
    if (left > 0)
        Main::PauseSeconds(Pace::seconds(left));
}

// Asks the source for one page. True with `answer` holding a page of results; otherwise the report
// says why not. The key goes into `query` anew for every request.
bool searchPage(Run& run, Keyword& keyword, Sources::PageQuery& query, Sources::SourceAnswer* answer) {
    using Kind = Sources::SourceAnswer::Kind;
    Sources::ImageSource& source = *run.live.source;
    const Sources::Source which = run.in.options.source;
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
        query.key = run.key();
        cached = source.request(query).shownAddress;
        if (const std::optional<QByteArray> kept = cache->find(cached)) {
            *answer = source.readInRun(*kept, 200, query, run.trap, credits);
            if (answer->kind == Kind::Results)
                return tookPage();
        }
    }

    spaceSearches(run);
    int exitCode = 0;
    ToolOutput output;
    QByteArray bytes;
    const QString answerFile = run.live.curl->responseFile();
    const auto command = [&] {
        query.key = run.key();
        return source.command(*run.live.curl, source.request(query));
    };
    const auto read = [&] {
        bytes.clear();
        run.trap(140, [&] { bytes = source.readAnswerFile(answerFile); });
        return QString::fromUtf8(bytes);
    };
    if (!searchWithRetries(run, keyword, command, read, &exitCode, &output))
        return false;
    if (exitCode != 0 || output.crashed) {
        run.tally.report.serviceProblem = PictureFetch::curlErrorText(exitCode, output);
        run.tally.report.serviceAnswerTooLarge = Sources::answerTooLarge(exitCode, answerFile);
        if (Retry::isUnreachable(exitCode, output)) {
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
    run.tally.refused = problem.refusesAll;
    return false;
}

// A result of a source's page as the run judges it.
void candidateOf(const Sources::SourceResult& result, Candidate& candidate) {
    CurlFunctions::ImageResult& image = candidate.image;
    image = CurlFunctions::ImageResult();
    image.address = result.address;
    image.downloadAddress = result.address;
    image.stem = Main::StripExtension(result.address);
    image.extension = result.extension;
    image.width = result.width;
    image.height = result.height;
    candidate.credits = result.credits;
}

// The results of one keyword, page after page, from the start position's page on.
class SourceFeed : public ResultFeed {
public:
    SourceFeed(Run& run, Keyword& keyword)
        : run_(run)
        , keyword_(keyword) {
        query_.keyword = keyword.text;
        query_.pageSize = Sources::pageSize(run.in.count);
        query_.page = run.in.start;
        query_.offset = (run.in.start - 1) * run.live.source->pageSizeFor(query_);
    }

    // Asks for the first page. False when it brought no results.
    bool start() { return askPage(); }
    const Sources::SourceAnswer& firstAnswer() const { return answer_; }

    Step next(Candidate& candidate) override {
        for (;;) {
            if (answer_.feed) {
                const Step step = answer_.feed->next(candidate);
                if (step != Step::Over)
                    return step;
            } else if (index_ < answer_.results.size()) {
                candidateOf(answer_.results.at(index_++), candidate);
                return Step::Found;
            }
            if (!answer_.hasNext || pages_ >= Limits::PagesPerKeyword || !run_.goesOn())
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
        if (!searchPage(run_, keyword_, query_, &answer_))
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
    Keyword& keyword_;
    Sources::PageQuery query_;
    Sources::SourceAnswer answer_;
    qsizetype index_ = 0;
    int pages_ = 0;
    bool freshPage_ = false;
    QSet<QString> seen_; // the addresses of the keyword's pages so far
};

} // namespace

void searchSource(Run& run, Keyword& keyword) {
    SourceFeed feed(run, keyword);
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
