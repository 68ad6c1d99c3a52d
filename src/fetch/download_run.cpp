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
#include "fetch/credits_file.h"
#include "fetch/curl_session.h"
#include "fetch/download_target.h"
#include "fetch/limits.h"
#include "fetch/pace.h"
#include "fetch/picture_fetch.h"
#include "fetch/response_scan.h"
#include "fetch/retry.h"
#include "fetch/run_report.h"
#include "fetch/search_request.h"
#include "fetch/sources/answer_cache.h"
#include "fetch/sources/answer_fields.h"
#include "keywords/keyword_list.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QUrl>

#include <algorithm>
#include <cmath>
#include <optional>

namespace Download {

namespace {

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

int AtOnce(int count) {
    return std::clamp(count, 1, MostAtOnce);
}

int AtOnceFrom(const QString& stored) {
    bool ok = false;
    const int count = stored.trimmed().toInt(&ok);
    return ok ? AtOnce(count) : 1;
}

QString DoneText(const QString& sourceSite) {
    QString site =
        sourceSite.isEmpty() ? QUrl(QString::fromLatin1(BuildConfig::ServiceSite)).host() : sourceSite;
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
            if (Sources::needsKey(run.source) && run.key.isEmpty()) {
                run.observer.showMessage(QStringLiteral("Please enter API key first."));
                go = false;
            }
        });
    return go && !run.trap.ended();
}

// The source, its key and the choices of the settings that the caller did not set.
void readOptions(Run& run, const RunOptions& options) {
    run.options = options;
    run.source = options.source.value_or(Sources::chosen());
    run.adapter = Sources::adapter(run.source);
    run.report.site = Sources::site(run.source);
    run.key = options.key.value_or(Sources::storedKey(run.source));
    run.pace = options.pace.value_or(Pace::ofChoice(SettingsStore::read(SettingKey::Pace)));
    run.searchPace = options.pace.value_or(1.0);
    run.parallel = AtOnce(options.parallel.value_or(AtOnceFrom(SettingsStore::read(SettingKey::Parallel))));
    run.credits = options.credits.value_or(CreditsFile::wanted());
    if (run.source == Sources::Source::Commons)
        run.userAgent = Sources::programUserAgent();
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
    if (run.options.filters)
        run.filters = *run.options.filters;
    else
        run.filters = FilterSettings::read([&](FilterSettings::Part part, const std::function<void()>& read) {
            trap(116 + 2 * static_cast<int>(part), read);
        });
    trap(124, [&] {
        // Without its temporary folder (full, unwritable, missing) no search can be made: the run
        // ends with that reason instead of an error box and "Nothing found.".
        try {
            run.curl.emplace();
        } catch (const AppError& e) {
            run.stopLocally(QStringLiteral("Downloading could not start: ") + e.description() +
                            QLatin1Char('.'));
        }
    });
}

// A text field of one result of the original service's answer: the JSON string after "KEY":
// within `item`, decoded; "" when the item has none.
QString itemText(QStringView item, QLatin1String key) {
    const QString marker = QLatin1Char('"') + key + QStringLiteral("\":\"");
    const qsizetype start = item.indexOf(marker);
    if (start < 0)
        return {};
    qsizetype end = start + marker.size();
    while (end < item.size() && item.at(end) != QLatin1Char('"'))
        end += item.at(end) == QLatin1Char('\\') ? 2 : 1;
    if (end >= item.size())
        return {};
    const QString quoted = item.mid(start + marker.size() - 1, end - start - marker.size() + 2).toString();
    const QJsonArray decoded =
        QJsonDocument::fromJson((QLatin1Char('[') + quoted + QLatin1Char(']')).toUtf8()).array();
    return AnswerFields::text(decoded.at(0));
}

// The original service's answer, result by result, at most as many as were asked for (an answer
// may hold more). Its answer names each picture's page and title after the picture's address, for
// the credits list.
class AnswerFeed : public ResultFeed {
public:
    AnswerFeed(Run& run, const QString& text, int asked)
        : run_(run)
        , scanner_(text)
        , left_(asked) {}

    Step next(Candidate& candidate) override {
        using Scan = CurlFunctions::ResultScanner::Step;
        if (left_ <= 0)
            return Step::Over;
        --left_;
        const Scan step = scanner_.next(run_.scanned);
        if (step == Scan::Over)
            return Step::Over;
        candidate.image = run_.scanned;
        candidate.credits = Sources::Credits();
        if (step == Scan::Found && run_.credits) {
            // The result's fields run from its address to the next result's address.
            const QString& text = scanner_.text();
            const qsizetype from = scanner_.position();
            qsizetype to = text.indexOf(QLatin1String("\"url\":"), from);
            if (to < 0)
                to = text.size();
            const QStringView item = QStringView(text).mid(from, to - from);
            candidate.credits.title = itemText(item, QLatin1String("title"));
            candidate.credits.sourcePage = AnswerFields::address(itemText(item, QLatin1String("webpageUrl")));
        }
        return step == Scan::Found ? Step::Found : Step::Skipped;
    }

private:
    Run& run_;
    CurlFunctions::ResultScanner scanner_;
    int left_;
};

// The results of the original service's answer, as many as its total says there are.
void takeAnswer(Run& run, Keyword& keyword, const QString& text) {
    qint32 total = 0;
    run.trap(142, [&] { total = CurlFunctions::ReadTotal(text, &run.trap.prompts()); });
    if (total < keyword.wanted)
        keyword.wanted = total;
    if (total < 1)
        return;
    AnswerFeed feed(run, text, Search::PageSize(run.count));
    takeResults(run, keyword, feed);
}

// Runs one search, again while the service is busy or the connection broke, the bar saying why it
// waits. `read` reads the answer file after a search that curl finished and returns its text, for
// telling a busy service from a spent quota. False when the run was stopped or ended meanwhile.
bool searchWithRetries(Run& run, Keyword& keyword, const std::function<ToolCommand()>& command,
                       const std::function<QString()>& read, int* exitCode, ToolOutput* output) {
    ErrorTrap& trap = run.trap;
    const QString answerFile = run.curl->responseFile();
    for (int retry = 0;; ++retry) {
        trap(136, [&] { Main::RemoveFile(answerFile); });
        trap(138, [&] {
            const ToolCommand search = command();
            run.observer.setProgressText(keyword.finding);
            ++run.summary.searches;
            *output = ToolOutput();
            *exitCode = run.runShown(search, output);
            run.observer.setProgressText(keyword.finding);
        });
        run.sinceSearch.start();
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

// Asks the original service for the keyword's page and reads the answer.
void searchKeyword(Run& run, Keyword& keyword) {
    ErrorTrap& trap = run.trap;
    const QString answerFile = run.curl->responseFile();
    int exitCode = 0;
    ToolOutput output;
    QString text;
    const auto command = [&] {
        return Search::SearchCommand(*run.curl, keyword.text, run.start, Search::PageSize(run.count),
                                     run.key);
    };
    const auto read = [&] {
        text.clear();
        trap(140, [&] { text = CurlFunctions::ReadResponse(answerFile); });
        return text;
    };
    if (!searchWithRetries(run, keyword, command, read, &exitCode, &output))
        return;
    if (exitCode != 0 || output.crashed) {
        run.report.serviceProblem = PictureFetch::curlErrorText(exitCode, output);
        run.report.serviceAnswerTooLarge = Search::AnswerTooLarge(exitCode, answerFile);
        return;
    }
    // A service still busy after the retries is busy for the next keyword too: the run ends, as it
    // does for the other sources.
    run.refused = PictureFetch::httpStatus(output) == 429 && !CurlFunctions::IsImageAnswer(text);
    if (CurlFunctions::IsImageAnswer(text)) {
        ++run.answered;
        if (CurlFunctions::HasTotal(text))
            takeAnswer(run, keyword, text);
        trap(160, [&] { run.searchPause(1.5); });
    } else if (CurlFunctions::HasServiceMessage(text)) {
        trap(162,
             [&] { run.report.serviceMessage = CurlFunctions::ServiceMessage(text, &run.trap.prompts()); });
    } else if (const int status = PictureFetch::httpStatus(output); status < 200 || status > 299) {
        run.report.serviceStatus = status;
    }
}

// Waits until the source takes the next request: its published rate counts every request of the
// program, so the person's pace choice does not shorten this wait (only GLIMMERFETCH_PACE does).
void spaceSearches(Run& run) {
    const double spacing = Sources::requestSpacing(run.source);
    if (!run.sinceSearch.isValid() || spacing <= 0)
        return;
    const double left = spacing - static_cast<double>(run.sinceSearch.elapsed()) / 1000.0;
    if (left > 0)
        Main::PauseSeconds(Pace::seconds(left));
}

// Asks a source for one page. True with `answer` holding a page of results; otherwise the report
// says why not.
bool searchPage(Run& run, Keyword& keyword, const Sources::PageQuery& query, Sources::SourceAnswer* answer) {
    using Kind = Sources::SourceAnswer::Kind;
    const Sources::SourceRequest request = run.adapter->request(query);
    std::optional<AnswerCache> cache;
    if (const qint64 keep = Sources::answerKeepSeconds(run.source); keep > 0)
        cache.emplace(Sources::storedName(run.source), keep);
    const auto tookPage = [&] {
        ++run.answered;
        run.report.resultsSeen += answer->skipped;
        run.report.unreadable += answer->skipped;
        return true;
    };
    if (cache)
        if (const std::optional<QByteArray> kept = cache->find(request.shownAddress)) {
            *answer = run.adapter->read(*kept, 200, query);
            if (answer->kind == Kind::Results)
                return tookPage();
        }

    spaceSearches(run);
    int exitCode = 0;
    ToolOutput output;
    QByteArray bytes;
    const QString answerFile = run.curl->responseFile();
    const auto command = [&] { return Sources::toolCommand(*run.curl, request); };
    const auto read = [&] {
        bytes = Main::ReadFileBytes(answerFile, Limits::SearchAnswerBytes);
        return QString::fromUtf8(bytes);
    };
    if (!searchWithRetries(run, keyword, command, read, &exitCode, &output))
        return false;
    if (exitCode != 0 || output.crashed) {
        run.report.serviceProblem = PictureFetch::curlErrorText(exitCode, output);
        run.report.serviceAnswerTooLarge = Search::AnswerTooLarge(exitCode, answerFile);
        return false;
    }
    const int status = PictureFetch::httpStatus(output);
    *answer = run.adapter->read(bytes, status, query);
    if (answer->kind == Kind::Results) {
        if (cache)
            cache->keep(request.shownAddress, bytes);
        return tookPage();
    }
    if (answer->kind == Kind::Error) {
        const QString message = answer->message.isEmpty() ? RunTexts::serviceError(status) : answer->message;
        run.report.serviceMessage = Sources::shownName(run.source) + QStringLiteral(": ") + message;
        // A refused key, or requests refused for the day, are refused for every keyword alike.
        // (Pixabay answers a wrong key with 400 and says so.)
        run.refused = status == 401 || status == 403 || status == 429 ||
                      (status == 400 && message.contains(QLatin1String("key"), Qt::CaseInsensitive));
    } else {
        run.report.serviceMessage = Sources::shownName(run.source) +
                                    QStringLiteral(": the answer could not be read (HTTP %1).").arg(status);
    }
    return false;
}

// A source's results for one keyword, page after page, from the start position's page on.
class SourceFeed : public ResultFeed {
public:
    SourceFeed(Run& run, Keyword& keyword)
        : run_(run)
        , keyword_(keyword) {
        query_.keyword = keyword.text;
        query_.key = run.key;
        query_.pageSize = Search::PageSize(run.count);
        query_.page = run.start;
        query_.offset = (run.start - 1) * run.adapter->pageSizeFor(query_);
    }

    // Asks for the first page. False when it brought no results.
    bool start() { return askPage(); }
    const Sources::SourceAnswer& firstAnswer() const { return answer_; }

    Step next(Candidate& candidate) override {
        while (index_ >= answer_.results.size()) {
            if (!answer_.hasNext || pages_ >= Limits::PagesPerKeyword || run_.stopped || run_.trap.ended() ||
                run_.stopRequested())
                return Step::Over;
            query_ = Sources::nextQuery(query_, answer_);
            // A page that brings no address the keyword has not seen (an empty page, or the same page
            // again) ends the keyword, whatever it says about further pages.
            if (!askPage() || !freshPage_)
                return Step::Over;
        }
        const Sources::SourceResult& result = answer_.results.at(index_++);
        CurlFunctions::ImageResult& image = candidate.image;
        image = CurlFunctions::ImageResult();
        image.address = result.address;
        image.downloadAddress = result.address;
        image.stem = Main::StripExtension(result.address);
        image.extension = result.extension;
        image.width = result.width;
        image.height = result.height;
        candidate.credits = result.credits;
        return Step::Found;
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

// Asks a source for the keyword's pictures, page after page until enough are kept.
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
    else if (run.curl && run.adapter) // without curl the start reported why nothing can be searched
        searchSource(run, keyword);
    else if (run.curl)
        searchKeyword(run, keyword);
    trap(164, [&] { processEvents(); });
}

// How the searches went, for callers that act on it (the command line's exit status).
RunSummary::Service serviceState(const Run& run) {
    if (run.summary.searches == 0)
        return RunSummary::Service::NotAsked;
    if (run.answered > 0)
        return RunSummary::Service::Answered;
    return run.report.serviceMessage.isEmpty() ? RunSummary::Service::Unreachable
                                               : RunSummary::Service::Refused;
}

void finish(Run& run) {
    ErrorTrap& trap = run.trap;
    run.summary.service = serviceState(run);
    run.summary.stopped = RunStop::requested();
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
    readOptions(run, options);
    if (!startChecks(run, folder))
        return run.summary;
    run.summary.started = true;
    readInputs(run, countText, startText);

    int last = 0;
    trap(126, [&] {
        last = options.keywordLimit > 0 ? std::min(keywords.Count(), options.keywordLimit) : keywords.Count();
        run.report.keywordsLeftOut = keywords.Count() - last;
    });
    // The list stays editable during the run: a keyword that is gone is not read, and once the
    // list is shorter than k there is nothing left to do.
    for (int k = 1; k <= last && k <= keywords.Count() && !trap.ended() && !run.stopped && !run.refused &&
                    !run.stopRequested();
         ++k)
        runKeyword(run, k);
    finish(run);
    if (!trap.ended())
        observer.ended();
    return run.summary;
}

} // namespace Download
