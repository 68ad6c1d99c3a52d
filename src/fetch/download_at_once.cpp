#include "fetch/download_steps.h"

#include "fetch/download_target.h"
#include "fetch/pace.h"
#include "fetch/picture_fetch.h"
#include "fetch/tool_runner.h"

#include <QUrl>

#include <algorithm>
#include <array>
#include <deque>
#include <memory>
#include <vector>

// Several downloads of one keyword at once. Results are taken in answer order and each one's
// download starts as soon as a place is free; the results are settled strictly in answer order, so
// the folder, the names and the report are those of one download after the other. Places the
// keyword leaves idle download the next keyword's first results early (DownloadPlaces).
namespace Download {
namespace Steps {

namespace {

// Never more downloads than this at once from one host, whatever the number of places.
constexpr int PerHost = 2;

// The longest wait between looks at the downloads, so that the window's events are handled.
constexpr int LookMilliseconds = 100;

using Entry = DownloadEntry;
using Entries = std::deque<std::unique_ptr<Entry>>;

// Whether a result of the next keyword may be downloaded before the run reaches it: it passes what
// screen() will decide from what is known now. A comparison setting that cannot be read keeps it
// back; its box comes when the run reaches the keyword.
bool earlyWorthy(const Run& run, const Candidate& candidate) {
    const CurlFunctions::ImageResult& image = candidate.image;
    if (!candidate.licenceFits || !image.widthError.isEmpty() || !image.heightError.isEmpty() ||
        run.tally.addresses.contains(image.downloadAddress))
        return false;
    try {
        return DimensionFilter(run.in.filters, image.width, image.height, [](SettingKey key) {
            try {
                return ReadComparison(key);
            } catch (const AppError&) {
                return -1; // never passes
            }
        });
    } catch (const AppError&) {
        return false;
    }
}

} // namespace

void DownloadPlaces::dropUpTo(int k) {
    early.erase(std::remove_if(early.begin(), early.end(), [k](const auto& e) { return e->early <= k; }),
                early.end());
}

namespace {

class AtOnce {
public:
    AtOnce(Run& run, Keyword& keyword, ResultFeed& feed)
        : run_(run)
        , keyword_(keyword)
        , feed_(feed)
        , places_(run.live.places) {}

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
            trap(152, [&] { startEarly(); });
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
            if (entry->isDownload())
                takeOver(entry);
            entries_.push_back(std::move(entry));
        }
    }

    // When the keyword's result was downloaded early, its entry becomes the early one.
    void takeOver(std::unique_ptr<Entry>& entry) {
        const QString& address = entry->candidate.image.downloadAddress;
        const auto found = std::find_if(places_.early.begin(), places_.early.end(), [&](const auto& e) {
            return e->early == run_.live.ahead.current() && e->candidate.image.downloadAddress == address;
        });
        if (found == places_.early.end())
            return;
        (*found)->candidate = std::move(entry->candidate);
        (*found)->early = 0;
        entry = std::move(*found);
        places_.early.erase(found);
        ++run_.tally.summary.downloads;
    }

    // The keyword's entries, then the early ones.
    std::array<const Entries*, 2> lists() const { return {&entries_, &places_.early}; }

    // Runs `what` on every entry, the early ones included.
    template <typename What> void forAll(What what) const {
        for (const Entries* list : lists())
            for (const auto& entry : *list)
                what(*entry);
    }

    int running() const {
        int count = 0;
        forAll([&](const Entry& e) { count += e.tool != nullptr; });
        return count;
    }

    int runningTo(const QString& host) const {
        int count = 0;
        forAll([&](const Entry& e) { count += e.tool && e.host == host; });
        return count;
    }

    // Places still pausing after their download, as a download one after the other pauses.
    int cooling() {
        std::vector<qint64>& until = places_.coolingUntil;
        const qint64 now = places_.clock.elapsed();
        until.erase(std::remove_if(until.begin(), until.end(), [now](qint64 end) { return end <= now; }),
                    until.end());
        return static_cast<int>(until.size());
    }

    void cool() {
        const double seconds = Pace::seconds(1.5 * run_.in.options.pace);
        if (seconds > 0)
            places_.coolingUntil.push_back(places_.clock.elapsed() + static_cast<qint64>(seconds * 1000.0));
    }

    bool placeFree() { return running() + cooling() < places(); }

    static QString hostOf(const QString& address) { return QUrl(address).host().toLower(); }
    QString hostOf(const Entry& e) const {
        return e.fetch ? e.fetch->host() : hostOf(e.candidate.image.downloadAddress);
    }

    // Whether the download's next command may start now: none is running, the download is not
    // over, a retry's wait has passed, and its host has room.
    bool mayGo(const Entry& e) const {
        return !e.tool && !e.over() && e.readyAt <= places_.clock.elapsed() && runningTo(hostOf(e)) < PerHost;
    }

    // Starts the next command of every download that may go: in answer order, while places are
    // free, at most PerHost at once to a host.
    void start() {
        for (const auto& entry : entries_) {
            if (!placeFree())
                return;
            Entry& e = *entry;
            if (!e.isDownload() || !mayGo(e))
                continue;
            if (!e.fetch) {
                if (run_.folderGone() || !open(e))
                    return;
                ++run_.tally.summary.downloads;
            }
            if (launch(e))
                run_.observer.setProgressText(keyword_.downloading);
        }
    }

    // Gives the places the keyword leaves idle to the first results of the next keyword, when its
    // search went ahead and its answer is in: each starts as a download of the keyword's would,
    // up to the number of pictures a keyword wants.
    void startEarly() {
        for (const auto& entry : places_.early) {
            Entry& e = *entry;
            if (!placeFree())
                return;
            if (mayGo(e))
                launch(e);
        }
        int next = 0;
        const std::vector<Candidate>& results = run_.live.ahead.earlyResults(run_, &next);
        if (next != places_.readFor) {
            places_.readFor = next;
            places_.readUpTo = 0;
        }
        const auto taken = [&] {
            return std::count_if(places_.early.begin(), places_.early.end(),
                                 [next](const auto& e) { return e->early == next; });
        };
        while (next > 0 && places_.readUpTo < static_cast<qsizetype>(results.size()) &&
               taken() < run_.in.count && placeFree()) {
            const Candidate& candidate = results.at(static_cast<std::size_t>(places_.readUpTo));
            const QString& address = candidate.image.downloadAddress;
            if (runningTo(hostOf(address)) >= PerHost)
                return; // in answer order: it waits for its host
            ++places_.readUpTo;
            bool seen = false;
            forAll([&](const Entry& e) { seen = seen || e.candidate.image.downloadAddress == address; });
            if (seen || !earlyWorthy(run_, candidate))
                continue;
            auto entry = std::make_unique<Entry>();
            entry->candidate = candidate;
            entry->early = next;
            if (!open(*entry, false))
                return;
            launch(*entry);
            places_.early.push_back(std::move(entry));
        }
    }

    // Creates the download's partial file and its fetch. False when the folder cannot take it; the
    // run then stops, unless the download is an early one (the keyword's own will meet the problem).
    bool open(Entry& e, bool stopsRun = true) {
        QString problem;
        if (!e.partial.create(run_.in.folder, &problem)) {
            if (stopsRun)
                run_.stopForFolder(problem);
            return false;
        }
        e.fetch.emplace(*run_.live.curl, e.candidate.image.downloadAddress, e.partial.contents(),
                        Sources::downloadUserAgent(e.candidate.source), e.partial.descriptor);
        return true;
    }

    // Starts the download's next command. False when there is none: the address was refused.
    bool launch(Entry& e) {
        const std::optional<ToolCommand> command = e.fetch->next();
        if (!command) {
            cool(); // nothing to download
            return false;
        }
        e.host = e.fetch->host();
        e.tool = std::make_unique<Shell32::ToolRun>(*command);
        e.tool->start();
        return true;
    }

    void wait() {
        const qint64 now = places_.clock.elapsed();
        qint64 until = now + LookMilliseconds;
        std::vector<Shell32::ToolRun*> tools;
        forAll([&](const Entry& e) {
            if (e.tool)
                tools.push_back(e.tool.get());
            else if (e.isDownload() && e.fetch && !e.over() && e.readyAt > now)
                until = std::min(until, e.readyAt);
        });
        for (const qint64 end : places_.coolingUntil)
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
        for (const Entries* list : lists())
            for (const auto& entry : *list) {
                Entry& e = *entry;
                if (!e.tool || !e.tool->ended())
                    continue;
                ToolOutput output;
                const int exitCode = e.tool->result(&output);
                e.tool.reset();
                e.fetch->ended(exitCode, output);
                if (e.fetch->over())
                    cool();
                else
                    e.readyAt =
                        places_.clock.elapsed() + static_cast<qint64>(e.fetch->waitSeconds() * 1000.0);
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
    DownloadPlaces& places_;
    bool feedOver_ = false;
    // Declared last, so that it goes first: its curls end before anything else is undone.
    Entries entries_;
};

} // namespace

void takeResultsAtOnce(Run& run, Keyword& keyword, ResultFeed& feed) {
    AtOnce(run, keyword, feed).go();
}

} // namespace Steps
} // namespace Download
