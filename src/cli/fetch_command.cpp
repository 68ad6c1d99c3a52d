#include "cli/fetch_command.h"

#include "base/ending_signals.h"
#include "base/error_report.h"
#include "base/leftovers.h"
#include "base/settings_store.h"
#include "base/waiting.h"
#include "cli/command_line.h"
#include "cli/console_observer.h"
#include "cli/console_prompts.h"
#include "cli/keyword_files.h"
#include "cli/run_arguments.h"
#include "fetch/download_run.h"
#include "fetch/key_test.h"
#include "keywords/keyword_list.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>

#include <cstdio>

namespace CommandLine {

namespace {

// Ctrl-C and SIGTERM: the first stops the run the way the window's stop does (curl ended, the
// partial file removed) and the summary is still printed; a second one, or one outside the run,
// ends the program's waits at once.
struct Interruption {
    bool running = false;
    bool interrupted = false;
};

Interruption& interruption() {
    static Interruption state;
    return state;
}

void endOnSignals() {
    Lifetime::EndOnSignals([] {
        Interruption& state = interruption();
        const bool first = !state.interrupted;
        state.interrupted = true;
        if (state.running && first)
            RunStop::request();
        else
            Lifetime::end();
    });
}

} // namespace

int UsageError(const QString& message, const QString& command) {
    Console::err(message);
    const QString help = command.isEmpty() ? QStringLiteral("glimmerfetch --help")
                                           : QStringLiteral("glimmerfetch %1 --help").arg(command);
    std::fprintf(stderr, "Try '%s' for more information.\n", qPrintable(help));
    return Usage;
}

namespace {

// How a fetch ended, as the last line of its JSON output tells it.
struct FetchEnd {
    int exit = Usage;
    QString reason;
    int kept = 0;
    int already = 0;
    int skipped = 0;
    bool help = false; // only the help was printed: no end line
};

FetchEnd usageEnd(const QString& message) {
    UsageError(message, QStringLiteral("fetch"));
    return FetchEnd{Usage, message};
}

// "--json" among the options (before a "--" that ends them).
bool jsonWanted(const QStringList& arguments) {
    for (const QString& argument : arguments) {
        if (argument == QLatin1String("--"))
            return false;
        if (argument == QLatin1String("--json"))
            return true;
    }
    return false;
}

// The fields in the order a person reads them (a JSON object of Qt's would sort them).
void printEndLine(const FetchEnd& end) {
    QByteArray reason =
        QJsonDocument(QJsonArray{Console::plain(end.reason).trimmed()}).toJson(QJsonDocument::Compact);
    reason = reason.mid(1, reason.size() - 2); // the string alone, quoted and escaped
    const QByteArray line = QStringLiteral("{\"event\":\"end\",\"kept\":%1,\"already\":%2,\"skipped\":%3,"
                                           "\"exit\":%4,\"reason\":")
                                .arg(end.kept)
                                .arg(end.already)
                                .arg(end.skipped)
                                .arg(end.exit)
                                .toUtf8() +
                            reason + "}\n";
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stdout);
    std::fflush(stdout);
}

FetchEnd fetch(const QStringList& arguments) {
    QCommandLineParser parser;
    addFetchOptions(parser);
    FetchEnd end;
    if (!parseArguments(parser, arguments, QStringLiteral("fetch"),
                        QStringLiteral("Usage: glimmerfetch fetch [OPTIONS] [KEYWORD...]"), end.exit,
                        &end.reason)) {
        end.help = end.exit == Kept;
        return end;
    }
    FetchRequest request;
    try {
        request = readFetchArguments(parser);
    } catch (const UsageProblem& problem) {
        return usageEnd(problem.message);
    }

    ConsolePrompts prompts;
    SettingsStore::setFailureReporter([](const QString& text) { Console::err(text); });
    endOnSignals();
    const FetchEnd interrupted{Interrupted, QStringLiteral("interrupted")};
    KeywordList keywords;
    try {
        for (const QString& file : request.keywordFiles)
            LoadKeywordFile(keywords, file, prompts);
    } catch (const AppError& e) {
        return usageEnd(e.description());
    } catch (const ProgramEnding&) {
        return interrupted;
    }
    // Keywords typed as arguments are taken as the files' are: trimmed, blank ones left out.
    for (const QString& keyword : request.keywords)
        if (!keyword.trimmed().isEmpty())
            keywords.add(keyword.trimmed());
    if (interruption().interrupted)
        return interrupted;
    if (keywords.Count() == 0)
        return usageEnd(
            QStringLiteral("no keywords: the keyword files and arguments hold none (blank lines and "
                           "a header are left out)"));

    const QFileInfo folder(request.folder);
    if (folder.exists() && !folder.isDir())
        return usageEnd(
            QStringLiteral("%1 is a file, not a folder").arg(QDir::toNativeSeparators(request.folder)));
    if (!folder.exists()) {
        Console::err(QStringLiteral("creating the folder %1").arg(QDir::toNativeSeparators(request.folder)));
        if (!QDir().mkpath(request.folder))
            return usageEnd(QStringLiteral("the folder %1 could not be made").arg(request.folder));
    }
    // What a killed run of this program left in the folder goes, as when the window starts.
    Main::RemoveLeftovers(request.folder, QDir::tempPath());

    ConsoleObserver observer(request.output, keywords, request.folder);
    ErrorTrap trap(prompts, QStringLiteral("glimmerfetch fetch"));
    interruption().running = true;
    const Download::RunSummary summary = Download::DownloadRun(
        keywords, observer, trap, request.folder, request.countText, request.startText, request.options);
    interruption().running = false;

    end.kept = summary.kept;
    end.already = observer.alreadyThere();
    end.skipped = observer.skipped() - end.already;
    const bool stopped = interruption().interrupted;
    QStringList lines = observer.summary(summary.kept, summary.stopped || stopped, summary.unreachable);
    if (!summary.localProblem.isEmpty() && summary.kept > 0)
        lines << Console::plain(summary.localProblem).trimmed();
    if (!summary.creditsProblem.isEmpty())
        lines << QStringLiteral("The credits list (credits.csv) could not be written: %1.")
                     .arg(summary.creditsProblem);
    // When no source could be reached, the one line above says so.
    if (summary.unreachable.isEmpty())
        for (const QString& source : summary.leftOut)
            lines << QStringLiteral("Left out for the rest of the run: ") + source.trimmed();
    for (const QString& line : lines) // keywords and services' words among them
        std::fprintf(stderr, "%s\n", qPrintable(Console::plain(line)));

    using Service = Download::RunSummary::Service;
    if (stopped) {
        end.exit = Interrupted;
        end.reason = interrupted.reason;
    } else if (!summary.started) {
        end.exit = Usage;
        end.reason = observer.lastMessage();
    } else if (!summary.localProblem.isEmpty()) {
        end.exit = Local;
        end.reason = summary.localProblem;
    } else if (summary.kept > 0) {
        end.exit = Kept;
        end.reason = QStringLiteral("done");
    } else if (end.already > 0) {
        // Every picture found is in the folder already: the run has nothing left to do.
        end.exit = Kept;
        end.reason = QStringLiteral("nothing new");
    } else {
        end.exit = summary.service == Service::Refused || summary.service == Service::Unreachable
                       ? Exit::Service
                       : NothingKept;
        end.reason = observer.endText();
    }
    return end;
}

} // namespace

int Fetch(const QStringList& arguments) {
    const FetchEnd end = fetch(arguments);
    if (jsonWanted(arguments) && !end.help)
        printEndLine(end);
    return end.exit;
}

int TestKey(const QStringList& arguments) {
    QCommandLineParser parser;
    addKeyOptions(parser);
    int exit = Usage;
    if (!parseArguments(parser, arguments, QStringLiteral("test-key"),
                        QStringLiteral("Usage: glimmerfetch test-key [OPTIONS]"), exit))
        return exit;
    if (!parser.positionalArguments().isEmpty())
        return UsageError(QStringLiteral("test-key takes no keywords"), QStringLiteral("test-key"));
    Sources::Source source = Sources::Source::ContextualWeb;
    QString key;
    try {
        source = sourceFrom(parser);
        key = keyFrom(parser).value_or(Download::Stored::key(source));
        checkKey(source, key);
    } catch (const UsageProblem& problem) {
        return UsageError(problem.message, QStringLiteral("test-key"));
    }
    ConsolePrompts prompts;
    endOnSignals();
    interruption().running = false; // a key test is short: a signal ends it at once
    KeywordList none;
    // The verdict is what the command is for: it goes to standard output.
    class VerdictObserver : public ConsoleObserver {
    public:
        using ConsoleObserver::ConsoleObserver;
        void showMessage(const QString& text) override { Console::out(Console::plain(text)); }
    } observer(ConsoleObserver::Output::Quiet, none, QString());
    ErrorTrap trap(prompts, QStringLiteral("glimmerfetch test-key"));
    const Sources::KeyVerdict verdict = Search::KeyTest(observer, trap, source, key, key);
    if (interruption().interrupted)
        return Interrupted;
    switch (verdict) {
    case Sources::KeyVerdict::Valid:
        return Kept;
    case Sources::KeyVerdict::Refused:
    case Sources::KeyVerdict::Unreachable:
        return Exit::Service;
    case Sources::KeyVerdict::NotRun:
        break;
    }
    return Usage;
}

} // namespace CommandLine
