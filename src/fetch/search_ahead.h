#pragma once

// The next keyword's first search, sent while the current keyword's pictures download. Private to
// the run (download_steps.h).

#include "fetch/sources/source.h"
#include "fetch/tool_runner.h"

#include <QElapsedTimer>
#include <QString>

#include <functional>
#include <memory>

namespace Download {
namespace Steps {

struct Run;

// The query for a keyword's first page: the start position's page, the run's page size.
Sources::PageQuery firstQuery(const Run& run, const QString& keyword);

// With more than one download at once the run asks for the next keyword's first page as soon as
// the source's spacing allows, while the current keyword's pictures still download. Searches still
// go one at a time, the spacing counted from the start of one to the start of the next (the
// source's rate). The answer waits, unread, until the run reaches that keyword, and is then read,
// retried and judged like any other: only its sending moved. An answer the run never reaches is
// dropped with its curl and counts for nothing.
class SearchAhead {
public:
    ~SearchAhead() { drop(); }

    // Whether the run searches ahead: more than one download at once, and not turned off.
    static bool on(const Run& run);

    // The run reaches keyword `k` of the list; it goes no further than `last`.
    void reach(int k, int last);

    // Any search of the run goes out now: the spacing of the next one counts from here.
    void searchStarts() { sinceStart_.start(); }
    // Since the last search went out; not started before the first.
    const QElapsedTimer& sinceStart() const { return sinceStart_; }

    // Sends the next keyword's first search when there is one, none is out, and the source's spacing
    // allows it. Called while the current keyword's downloads are under way.
    void step(Run& run);
    // The search that is out and still running, for waiting on it with the downloads; nullptr if none.
    Shell32::ToolRun* running() const;
    // The milliseconds until step() may send the next search (0 when it may now or never will).
    qint64 untilDue(const Run& run) const;

    // Waits until the search that is out has ended, its answer kept: searches go one at a time.
    void waitIdle();

    // For the current keyword's first page: when the search that went ahead is `command`, waits for
    // it, puts its answer where `command` writes and gives its exit code and output (Shell32::Stopped
    // when the run was stopped meanwhile). Otherwise drops it and returns false; so does a page
    // after the first.
    bool take(Run& run, const std::function<ToolCommand()>& command, int* exitCode, ToolOutput* output);

    // Ends the search that is out and forgets its answer.
    void drop();

private:
    std::unique_ptr<Shell32::ToolRun> tool_;
    ToolCommand command_; // as sent, writing to answerFile_
    QString answerFile_;
    QElapsedTimer sinceStart_;
    int current_ = 0; // the keyword the run works on
    int last_ = 0;
    int sentFor_ = 0; // the keyword the search out (or its answer) belongs to; 0: none
    int decided_ = 0; // the last keyword whose search was sent or could not go ahead
};

} // namespace Steps
} // namespace Download
