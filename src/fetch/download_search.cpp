#include "fetch/download_steps.h"

#include "base/file_routines.h"
#include "base/waiting.h"
#include "fetch/limits.h"
#include "fetch/pace.h"
#include "fetch/picture_fetch.h"
#include "fetch/retry.h"
#include "fetch/sources/answer_cache.h"

#include <functional>
#include <optional>

// The run's searches: the pages of one keyword asked of the run's source, again while the source is
// busy, spaced to its rate, and read into the results the run takes one by one.
namespace Download {
namespace Steps {

namespace {

// Runs one search, again while the service is busy or the connection broke, the bar saying why it
// waits. `read` reads the answer file after a search that curl finished and returns its text, for
// telling a busy service from a spent quota. With `sent`, the first try went out ahead and
// `exitCode`, `output` and the answer file hold its outcome. False when the run was stopped or
// ended meanwhile.
bool searchWithRetries(Run& run, Keyword& keyword, const std::function<ToolCommand()>& command,
                       const std::function<QString()>& read, int* exitCode, ToolOutput* output,
                       bool sent = false) {
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
        run.live.sinceSearch.start();
        if (trap.ended() || run.stopRequested())
            return false;
        QString text;
        if (*exitCode == 0 && !output->crashed)
            text = read();
        const int wait = Retry::searchWait(retry, *exitCode, *output, text);
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
// Searching ahead, the spacing runs from the start of one search to the start of the next.
void spaceSearches(Run& run) {
    const double spacing = Sources::requestSpacing(run.in.options.source);
    const QElapsedTimer& since = SearchAhead::on(run) ? run.live.ahead.sinceStart() : run.live.sinceSearch;
    if (!since.isValid() || spacing <= 0)
        return;
    const double left = spacing - static_cast<double>(since.elapsed()) / 1000.0;
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
    // The keyword's first page may have been asked for while the keyword before downloaded.
    const bool sent = run.live.ahead.take(run, command, &exitCode, &output);
    if (!sent) {
        run.live.ahead.waitIdle();
        spaceSearches(run);
    }
    if (!searchWithRetries(run, keyword, command, read, &exitCode, &output, sent))
        return false;
    if (exitCode != 0 || output.crashed) {
        run.tally.report.serviceProblem = PictureFetch::curlErrorText(exitCode, output);
        run.tally.report.serviceAnswerTooLarge = Sources::answerTooLarge(exitCode, answerFile);
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
        , keyword_(keyword)
        , query_(firstQuery(run, keyword.text)) {}

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
