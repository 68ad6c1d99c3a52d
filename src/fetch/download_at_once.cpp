#include "fetch/download_steps.h"

#include "fetch/download_target.h"
#include "fetch/pace.h"
#include "fetch/picture_fetch.h"
#include "fetch/tool_runner.h"

#include <QElapsedTimer>
#include <QHash>
#include <QUrl>

#include <algorithm>
#include <deque>
#include <memory>
#include <vector>

// Several downloads of one keyword at once. Results are taken in answer order and each one's
// download starts as soon as a place is free; the results are settled strictly in answer order, so
// the folder, the names and the report are those of one download after the other.
namespace Download {
namespace Steps {

namespace {

// Never more downloads than this at once from one host, whatever the number of places.
constexpr int PerHost = 2;

// The longest wait between looks at the downloads, so that the window's events are handled.
constexpr int LookMilliseconds = 100;

// One result taken from the feed and not yet settled.
struct Entry {
    Candidate candidate;
    bool unusable = false; // the answer had no usable address for it
    Verdict verdict = Verdict::Download;
    // For downloads. The partial download is declared before the tool, so that a tool still
    // running is ended before its file is removed.
    PartialDownload partial;
    std::optional<PictureFetch::Fetch> fetch;
    QString host;                           // where the running command goes
    qint64 readyAt = 0;                     // the next command waits until then (a retry)
    std::unique_ptr<Shell32::ToolRun> tool; // the running command

    bool isDownload() const { return !unusable && verdict == Verdict::Download; }
    bool over() const { return fetch && fetch->over(); }
    // Waiting for a place or downloading.
    bool underWay() const { return isDownload() && !over(); }
};

class AtOnce {
public:
    AtOnce(Run& run, Keyword& keyword, ResultFeed& feed)
        : run_(run)
        , keyword_(keyword)
        , feed_(feed) {
        clock_.start();
    }

    // What is not settled when the keyword is done is dropped: running curls end, their files go,
    // and the addresses may be asked for again by a later keyword, as if they had not been seen.
    ~AtOnce() {
        for (const auto& entry : entries_)
            if (entry->isDownload())
                run_.tally.addresses.remove(entry->candidate.image.downloadAddress);
    }

    void go() {
        ErrorTrap& trap = run_.trap;
        for (;;) {
            settle();
            if (done())
                return;
            trap(144, [&] { fill(); });
            if (done())
                return;
            trap(152, [&] { start(); });
            run_.live.ahead.step(run_);
            if (done() || (entries_.empty() && feedOver_))
                return;
            if (settleable())
                continue;
            trap(152, [&] { wait(); });
            collect();
        }
    }

private:
    bool done() { return keyword_.kept >= keyword_.wanted || !run_.goesOn(); }

    int places() const { return run_.in.options.parallel; }

    // Takes results while there is room: as many downloads under way as there are places, and not
    // too far ahead of the one being settled (its file waits until the results before it are).
    void fill() {
        while (!feedOver_ && static_cast<int>(entries_.size()) < 4 * places()) {
            const auto count = [&](bool (Entry::*test)() const) {
                return static_cast<int>(std::count_if(entries_.begin(), entries_.end(),
                                                      [test](const auto& e) { return ((*e).*test)(); }));
            };
            if (count(&Entry::underWay) >= places() || count(&Entry::isDownload) >= 2 * places())
                return;
            auto entry = std::make_unique<Entry>();
            const ResultFeed::Step step = feed_.next(entry->candidate);
            if (step == ResultFeed::Step::Over || run_.trap.ended()) {
                feedOver_ = true;
                return;
            }
            if (step == ResultFeed::Step::Skipped)
                entry->unusable = true;
            else
                entry->verdict = screen(run_, entry->candidate);
            if (entry->verdict == Verdict::Ended) {
                feedOver_ = true;
                return;
            }
            entries_.push_back(std::move(entry));
        }
    }

    int running() const {
        return static_cast<int>(std::count_if(entries_.begin(), entries_.end(),
                                              [](const auto& e) { return e->tool != nullptr; }));
    }

    // Places still pausing after their download, as a download one after the other pauses.
    int cooling() {
        const qint64 now = clock_.elapsed();
        coolingUntil_.erase(std::remove_if(coolingUntil_.begin(), coolingUntil_.end(),
                                           [now](qint64 until) { return until <= now; }),
                            coolingUntil_.end());
        return static_cast<int>(coolingUntil_.size());
    }

    void cool() {
        const double seconds = Pace::seconds(1.5 * run_.in.options.pace);
        if (seconds > 0)
            coolingUntil_.push_back(clock_.elapsed() + static_cast<qint64>(seconds * 1000.0));
    }

    // Starts the next command of every download that may go: in answer order, while places are
    // free, at most PerHost at once to a host.
    void start() {
        for (const auto& entry : entries_) {
            if (running() + cooling() >= places())
                return;
            Entry& e = *entry;
            if (!e.isDownload() || e.tool || e.over() || e.readyAt > clock_.elapsed())
                continue;
            const QString host =
                e.fetch ? e.fetch->host() : QUrl(e.candidate.image.downloadAddress).host().toLower();
            if (perHost_.value(host) >= PerHost)
                continue;
            if (!e.fetch) {
                if (run_.folderGone())
                    return;
                QString problem;
                if (!e.partial.create(run_.in.folder, &problem))
                    return run_.stopForFolder(problem);
                e.fetch.emplace(*run_.live.curl, e.candidate.image.downloadAddress, e.partial.contents(),
                                Sources::downloadUserAgent(e.candidate.source), e.partial.descriptor);
                ++run_.tally.summary.downloads;
            }
            const std::optional<ToolCommand> command = e.fetch->next();
            if (!command) {
                cool(); // the address was refused: nothing to download
                continue;
            }
            run_.observer.setProgressText(keyword_.downloading);
            e.host = host;
            e.tool = std::make_unique<Shell32::ToolRun>(*command);
            e.tool->start();
            ++perHost_[host];
        }
    }

    void wait() {
        const qint64 now = clock_.elapsed();
        qint64 until = now + LookMilliseconds;
        std::vector<Shell32::ToolRun*> tools;
        for (const auto& entry : entries_) {
            if (entry->tool)
                tools.push_back(entry->tool.get());
            else if (entry->isDownload() && entry->fetch && !entry->over() && entry->readyAt > now)
                until = std::min(until, entry->readyAt);
        }
        for (const qint64 end : coolingUntil_)
            until = std::min(until, end);
        // The next keyword's search, out already or due soon.
        if (Shell32::ToolRun* search = run_.live.ahead.running())
            tools.push_back(search);
        else if (const qint64 due = run_.live.ahead.untilDue(run_); due > 0)
            until = std::min(until, now + due);
        Shell32::WaitForAny(tools, static_cast<int>(std::max<qint64>(0, until - now)));
    }

    // Takes note of the commands that ended.
    void collect() {
        for (const auto& entry : entries_) {
            Entry& e = *entry;
            if (!e.tool || !e.tool->ended())
                continue;
            ToolOutput output;
            const int exitCode = e.tool->result(&output);
            e.tool.reset();
            --perHost_[e.host];
            e.fetch->ended(exitCode, output);
            if (e.fetch->over())
                cool();
            else
                e.readyAt = clock_.elapsed() + static_cast<qint64>(e.fetch->waitSeconds() * 1000.0);
        }
    }

    bool settleable() const {
        if (entries_.empty())
            return false;
        const Entry& e = *entries_.front();
        return !e.isDownload() || e.over();
    }

    // Settles the results at the front, in answer order, as a download one after the other would.
    void settle() {
        while (settleable() && !done()) {
            std::unique_ptr<Entry> entry = std::move(entries_.front());
            entries_.pop_front();
            ++run_.tally.report.resultsSeen;
            if (entry->unusable)
                ++run_.tally.report.unreadable;
            else if (!entry->isDownload())
                reportSkipped(run_, keyword_, entry->candidate, entry->verdict);
            else
                settleDownload(run_, keyword_, entry->candidate, entry->partial, entry->fetch->outcome());
        }
    }

    Run& run_;
    Keyword& keyword_;
    ResultFeed& feed_;
    QElapsedTimer clock_;
    bool feedOver_ = false;
    // Declared last, so that they go first: their curls end before anything else is undone.
    std::vector<qint64> coolingUntil_;
    QHash<QString, int> perHost_;
    std::deque<std::unique_ptr<Entry>> entries_;
};

} // namespace

void takeResultsAtOnce(Run& run, Keyword& keyword, ResultFeed& feed) {
    AtOnce(run, keyword, feed).go();
}

} // namespace Steps
} // namespace Download
