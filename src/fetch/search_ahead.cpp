#include "fetch/download_steps.h"

#include "base/waiting.h"
#include "fetch/download_target.h"
#include "fetch/pace.h"
#include "fetch/sources/answer_cache.h"

#include <QDir>
#include <QFile>

namespace Download {
namespace Steps {

namespace {

// Makes `command` write its answer to `to` instead of `from`. False when it does not write to `from`.
bool writeTo(ToolCommand& command, const QString& from, const QString& to) {
    const qsizetype at = command.arguments.indexOf(QStringLiteral("--output"));
    if (at < 0 || at + 1 >= command.arguments.size() || command.arguments.at(at + 1) != from)
        return false;
    command.arguments[at + 1] = to;
    return true;
}

bool same(const ToolCommand& a, const ToolCommand& b) {
    return a.program == b.program && a.arguments == b.arguments && a.standardInput == b.standardInput &&
           a.fileSizeLimit == b.fileSizeLimit && a.sharedDescriptor == b.sharedDescriptor;
}

} // namespace

Sources::PageQuery firstQuery(const Run& run, const SourceLane& lane, const QString& keyword) {
    Sources::PageQuery query;
    query.keyword = keyword;
    query.pageSize = Sources::pageSize(run.in.count);
    query.page = run.in.start;
    query.offset = (run.in.start - 1) * lane.adapter->pageSizeFor(query);
    query.licence = run.in.options.licence;
    return query;
}

// A mix takes its sources' first pages in turn, each when its results are wanted: it sends nothing
// ahead.
bool SearchAhead::on(const Run& run) {
    return run.in.options.parallel > 1 && run.in.options.searchAhead &&
           !Sources::isMix(run.in.options.source);
}

void SearchAhead::reach(int k, int last) {
    current_ = k;
    last_ = last;
    if (tool_ && sentFor_ != k)
        drop(); // its keyword was passed over
}

qint64 SearchAhead::untilDue(const Run& run) const {
    return static_cast<qint64>(Pace::seconds(spacingLeft(run.in.options.source, sinceStart_)) * 1000.0);
}

void SearchAhead::step(Run& run) {
    const int next = current_ + 1;
    if (!on(run) || tool_ || decided_ >= next || next > last_ || next > run.keywords.Count() ||
        !run.live.curl || run.tally.refused || !run.goesOn() || untilDue(run) > 0)
        return;
    decided_ = next;
    ToolCommand command;
    try {
        const QString text = run.keywords.item(next);
        if (!DownloadTarget::usableNamePart(DownloadTarget::namePart(text)))
            return; // the run passes over it without a search
        const SourceLane& lane = run.live.lanes.front();
        Sources::ImageSource& source = *lane.adapter;
        query_ = firstQuery(run, lane, text);
        query_.key = run.key();
        const Sources::SourceRequest request = source.request(query_);
        const Sources::Source which = run.in.options.source;
        if (const qint64 keep = Sources::answerKeepSeconds(which);
            keep > 0 && AnswerCache(Sources::storedName(which), keep).find(request.shownAddress))
            return; // the run takes the kept answer instead
        command = source.command(*run.live.curl, request);
    } catch (const AppError&) {
        return; // the run's own search meets the problem and reports it
    }
    const QString answerFile = QDir(run.live.curl->folder()).filePath(QStringLiteral("ahead.txt"));
    if (!writeTo(command, run.live.curl->responseFile(), answerFile))
        return;
    QFile::remove(answerFile);
    forget();
    command_ = command;
    answerFile_ = answerFile;
    sentFor_ = next;
    tool_ = std::make_unique<Shell32::ToolRun>(command);
    tool_->start();
    searchStarts();
}

Shell32::ToolRun* SearchAhead::running() const {
    return tool_ && !tool_->ended() ? tool_.get() : nullptr;
}

void SearchAhead::waitIdle() {
    while (running() && !RunStop::requested())
        Shell32::WaitForAny({tool_.get()}, Shell32::cycleMilliseconds());
}

bool SearchAhead::take(Run& run, const std::function<ToolCommand()>& command, int* exitCode,
                       ToolOutput* output) {
    if (!tool_ || sentFor_ != current_)
        return false; // none, or it is for the next keyword and this is a later page of this one
    const QString target = run.live.curl->responseFile();
    ToolCommand now;
    try {
        now = command();
    } catch (const AppError&) {
        drop();
        return false;
    }
    // The keyword, the key or anything else of the request changed since it went out.
    if (!writeTo(now, target, answerFile_) || !same(now, command_)) {
        drop();
        return false;
    }
    waitIdle();
    if (running()) { // the run was stopped meanwhile
        drop();
        *exitCode = Shell32::Stopped;
        return true;
    }
    *exitCode = outcome(output);
    tool_.reset();
    forget();
    QFile::remove(target);
    QFile::rename(answerFile_, target);
    return true;
}

void SearchAhead::drop() {
    tool_.reset();
    forget();
    if (!answerFile_.isEmpty())
        QFile::remove(answerFile_);
}

void SearchAhead::forget() {
    sentFor_ = 0;
    read_ = false;
    results_.clear();
    outcome_.reset();
}

int SearchAhead::outcome(ToolOutput* output) {
    if (!outcome_) {
        outcome_.emplace();
        outcome_->first = tool_->result(&outcome_->second);
    }
    *output = outcome_->second;
    return outcome_->first;
}

const std::vector<Candidate>& SearchAhead::earlyResults(const Run& run, int* keyword) {
    *keyword = sentFor_;
    if (!tool_ || read_ || !tool_->ended())
        return results_;
    read_ = true;
    ToolOutput output;
    const int exitCode = outcome(&output);
    const int status = output.httpStatus();
    if (exitCode != 0 || output.crashed || status < 200 || status > 299)
        return results_;
    try {
        const SourceLane& lane = run.live.lanes.front();
        const Sources::ImageSource& source = *lane.adapter;
        const Sources::SourceAnswer answer = source.read(source.readAnswerFile(answerFile_), status, query_);
        Candidate candidate;
        for (const Sources::SourceResult& result : answer.results) {
            candidateOf(result, lane.source, candidate);
            results_.push_back(candidate);
        }
        if (answer.feed)
            for (ResultFeed::Step step; (step = answer.feed->next(candidate)) != ResultFeed::Step::Over;)
                if (step == ResultFeed::Step::Found)
                    results_.push_back(candidate);
    } catch (const AppError&) {
        results_.clear(); // the run's own reading meets the problem and reports it
    }
    return results_;
}

} // namespace Steps
} // namespace Download
