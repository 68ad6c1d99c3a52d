#include "cli/fetch_command.h"

#include "base/ending_signals.h"
#include "base/environment.h"
#include "base/error_report.h"
#include "base/leftovers.h"
#include "base/settings_store.h"
#include "base/waiting.h"
#include "cli/command_line.h"
#include "cli/console_observer.h"
#include "cli/console_prompts.h"
#include "cli/keyword_files.h"
#include "fetch/download_run.h"
#include "fetch/search_request.h"
#include "fetch/sources/source.h"
#include "keywords/keyword_list.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <optional>
#include <unistd.h>

namespace CommandLine {

namespace {

// The most bytes read from a key file: a key is a line of a few dozen characters.
constexpr qint64 KeyFileBytes = 4096;

// The command line's view of a usage error: thrown while the arguments are read.
struct UsageProblem {
    QString message;
};

QString sourceNames() {
    QStringList names;
    for (Sources::Source source : Sources::All)
        names << Sources::storedName(source);
    return names.join(QStringLiteral(", "));
}

Sources::Source sourceFrom(const QCommandLineParser& parser) {
    if (!parser.isSet(QStringLiteral("source")))
        return Sources::chosen();
    const QString name = parser.value(QStringLiteral("source")).trimmed().toLower();
    if (const std::optional<Sources::Source> source = Sources::named(name))
        return *source;
    throw UsageProblem{QStringLiteral("unknown source \"%1\" (the sources are %2)")
                           .arg(parser.value(QStringLiteral("source")), sourceNames())};
}

// A whole number from `least` to `most` given with option `name`.
int wholeNumber(const QCommandLineParser& parser, const QString& name, int least, int most) {
    const QString text = parser.value(name);
    bool ok = false;
    const qlonglong value = text.trimmed().toLongLong(&ok);
    if (!ok || value < least || value > most)
        throw UsageProblem{QStringLiteral("--%1 takes a whole number from %2 to %3, not \"%4\"")
                               .arg(name)
                               .arg(least)
                               .arg(most)
                               .arg(text)};
    return static_cast<int>(value);
}

// The key: GLIMMERFETCH_KEY, else the first line of --key-file, else the settings. Never an option
// of its own: the arguments of a process are visible to every user of the machine.
QString keyFor(const QCommandLineParser& parser, Sources::Source source) {
    const QString fromEnvironment = Environment::key();
    if (!fromEnvironment.isEmpty())
        return fromEnvironment;
    if (parser.isSet(QStringLiteral("key-file"))) {
        const QString path = parser.value(QStringLiteral("key-file"));
        QFile file(path == QLatin1String("-") ? QStringLiteral("/dev/stdin") : path);
        if (!file.open(QIODevice::ReadOnly))
            throw UsageProblem{
                QStringLiteral("cannot read the key file %1: %2").arg(path, file.errorString())};
        const QByteArray bytes = file.read(KeyFileBytes);
        const qsizetype lineEnd = bytes.indexOf('\n');
        // A file without a line end holds the key all the same.
        return QString::fromUtf8(lineEnd < 0 ? bytes : bytes.left(lineEnd)).trimmed();
    }
    return Sources::storedKey(source);
}

void checkKey(Sources::Source source, const QString& key) {
    if (Sources::needsKey(source) && key.isEmpty())
        throw UsageProblem{QStringLiteral("no key for %1: set GLIMMERFETCH_KEY, give --key-file FILE, or "
                                          "enter the key in the window")
                               .arg(Sources::storedName(source))};
}

void addKeyOptions(QCommandLineParser& parser) {
    parser.addOption(
        {{QStringLiteral("s"), QStringLiteral("source")},
         QStringLiteral("The image source: %1 (default: the one chosen in the window).").arg(sourceNames()),
         QStringLiteral("NAME")});
    parser.addOption({QStringLiteral("key-file"),
                      QStringLiteral("Read the source's key from the first line of FILE (\"-\" for standard "
                                     "input). GLIMMERFETCH_KEY in the environment comes first; the key in "
                                     "the settings is used when neither is given."),
                      QStringLiteral("FILE")});
}

// Parses the arguments; false after a usage error was reported (`problem` says which) or the help
// printed (`exit` says which status to end with).
bool parse(QCommandLineParser& parser, const QStringList& arguments, const QString& command,
           const QString& usage, int& exit, QString* problem = nullptr) {
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help."));
    parser.addOption(help);
    if (!parser.parse(QStringList{QStringLiteral("glimmerfetch")} + arguments)) {
        if (problem)
            *problem = parser.errorText();
        exit = UsageError(parser.errorText(), command);
        return false;
    }
    if (parser.isSet(help)) {
        QString text = parser.helpText();
        text = usage + text.mid(text.indexOf(QLatin1Char('\n')));
        std::fputs(qPrintable(text), stdout);
        exit = Kept;
        return false;
    }
    return true;
}

// What the fetch command was asked to do.
struct FetchRequest {
    QStringList keywordFiles;
    QStringList keywords;
    QString folder;
    QString countText;
    QString startText;
    Download::RunOptions options;
    ConsoleObserver::Output output = ConsoleObserver::Output::Lines;
};

FetchRequest readFetchArguments(const QCommandLineParser& parser) {
    FetchRequest request;
    request.keywordFiles = parser.values(QStringLiteral("keywords"));
    request.keywords = parser.positionalArguments();
    if (request.keywordFiles.isEmpty() && request.keywords.isEmpty())
        throw UsageProblem{QStringLiteral("no keywords: give them as arguments or with --keywords FILE")};

    request.folder = parser.isSet(QStringLiteral("folder")) ? parser.value(QStringLiteral("folder"))
                                                            : SettingsStore::read(SettingKey::SaveFolder);
    if (request.folder.trimmed().isEmpty())
        throw UsageProblem{QStringLiteral("--folder needs a folder")};
    request.folder = QDir::cleanPath(QFileInfo(request.folder).absoluteFilePath());

    // The run reads the count and the start as the window's fields; given here they are checked first.
    request.countText = parser.isSet(QStringLiteral("count"))
                            ? QString::number(wholeNumber(parser, QStringLiteral("count"), 1, 50))
                            : SettingsStore::read(SettingKey::PicturesPerKeyword);
    request.startText = parser.isSet(QStringLiteral("start"))
                            ? QString::number(wholeNumber(parser, QStringLiteral("start"), 1, 150))
                            : SettingsStore::read(SettingKey::StartPosition);

    Download::RunOptions& options = request.options;
    options.keywordLimit = 0; // every keyword, however long the list
    const Sources::Source source = sourceFrom(parser);
    options.source = source;

    // The filters: one comparison per dimension. Given here, they replace those of the settings.
    struct Dimension {
        const char* above;
        const char* below;
        bool* on;
        int* limit;
        int* comparison;
    };
    FilterSettings filters;
    filters.heightOn = filters.widthOn = false;
    bool anyFilter = false;
    const Dimension dimensions[] = {
        {"height-above", "height-below", &filters.heightOn, &filters.heightLimit, &options.heightComparison},
        {"width-above", "width-below", &filters.widthOn, &filters.widthLimit, &options.widthComparison},
    };
    for (const Dimension& d : dimensions) {
        const QString above = QString::fromLatin1(d.above);
        const QString below = QString::fromLatin1(d.below);
        if (parser.isSet(above) && parser.isSet(below))
            throw UsageProblem{QStringLiteral("--%1 and --%2 cannot be used together").arg(above, below)};
        for (const QString& name : {above, below}) {
            if (!parser.isSet(name))
                continue;
            *d.on = true;
            *d.limit = wholeNumber(parser, name, 0, std::numeric_limits<int>::max());
            *d.comparison = name == above ? 0 : 1; // 0 "Greater than", 1 "Less than"
            anyFilter = true;
        }
    }
    if (anyFilter)
        options.filters = filters;

    if (parser.isSet(QStringLiteral("pace"))) {
        bool ok = false;
        const double pace = parser.value(QStringLiteral("pace")).trimmed().toDouble(&ok);
        if (!ok || !std::isfinite(pace) || pace < 0)
            throw UsageProblem{QStringLiteral("--pace takes a number of 0 or more, not \"%1\"")
                                   .arg(parser.value(QStringLiteral("pace")))};
        options.pace = pace;
    }
    if (parser.isSet(QStringLiteral("parallel")))
        options.parallel = wholeNumber(parser, QStringLiteral("parallel"), 1, Download::MostAtOnce);

    if (parser.isSet(QStringLiteral("json")) && parser.isSet(QStringLiteral("quiet")))
        throw UsageProblem{QStringLiteral("--json and --quiet cannot be used together")};
    if (parser.isSet(QStringLiteral("json")))
        request.output = ConsoleObserver::Output::Json;
    else if (parser.isSet(QStringLiteral("quiet")))
        request.output = ConsoleObserver::Output::Quiet;
    else if (::isatty(STDOUT_FILENO))
        request.output = ConsoleObserver::Output::Status;

    if (request.keywordFiles.count(QStringLiteral("-")) > 1 ||
        (request.keywordFiles.contains(QStringLiteral("-")) &&
         parser.value(QStringLiteral("key-file")) == QLatin1String("-")))
        throw UsageProblem{QStringLiteral("standard input can be read only once")};

    // The key last: every other mistake on the command line is told first.
    const QString key = keyFor(parser, source);
    checkKey(source, key);
    if (Sources::needsKey(source))
        options.key = key;
    return request;
}

void addFetchOptions(QCommandLineParser& parser) {
    parser.addOption({{QStringLiteral("o"), QStringLiteral("folder")},
                      QStringLiteral("Save the pictures in DIR, made if missing (default: the folder in the "
                                     "settings)."),
                      QStringLiteral("DIR")});
    parser.addOption({{QStringLiteral("n"), QStringLiteral("count")},
                      QStringLiteral("Pictures per keyword, 1 to 50 (default: the settings)."),
                      QStringLiteral("N")});
    parser.addOption({QStringLiteral("start"),
                      QStringLiteral("The first result page, 1 to 150 (default: the settings)."),
                      QStringLiteral("N")});
    addKeyOptions(parser);
    parser.addOption({{QStringLiteral("k"), QStringLiteral("keywords")},
                      QStringLiteral("Read keywords from FILE: a text list (one a line), or a CSV file or "
                                     "workbook (the first column of its sheet); \"-\" reads a list from "
                                     "standard input. Repeatable; keywords given as arguments come after."),
                      QStringLiteral("FILE")});
    for (const char* dimension : {"height", "width"})
        for (const char* side : {"above", "below"})
            parser.addOption(
                {QStringLiteral("%1-%2").arg(QLatin1String(dimension), QLatin1String(side)),
                 QStringLiteral("Keep only pictures whose %1 is %2 N pixels (only one of "
                                "--%1-above and --%1-below).")
                     .arg(QLatin1String(dimension),
                          QLatin1String(std::strcmp(side, "above") == 0 ? "more than" : "less than")),
                 QStringLiteral("N")});
    parser.addOption({QStringLiteral("pace"),
                      QStringLiteral("Scale the pauses between requests by FACTOR; 0 drops them (default: "
                                     "the pace chosen in the window, as designed unless changed)."),
                      QStringLiteral("FACTOR")});
    parser.addOption({QStringLiteral("parallel"),
                      QStringLiteral("Download up to N pictures of a keyword at once, 1 to %1, at most two "
                                     "from one host (default: the number chosen in the window, 1 unless "
                                     "changed).")
                          .arg(Download::MostAtOnce),
                      QStringLiteral("N")});
    parser.addOption({QStringLiteral("json"),
                      QStringLiteral("Print one JSON object per result looked at (keyword, address, outcome, "
                                     "file, reason, source and what the source says of the picture), then "
                                     "one that ends every run: event \"end\", kept, already, skipped, exit "
                                     "and reason.")});
    parser.addOption({{QStringLiteral("q"), QStringLiteral("quiet")},
                      QStringLiteral("Print only errors and the final summary.")});
    parser.addPositionalArgument(QStringLiteral("KEYWORD"),
                                 QStringLiteral("Keywords to download pictures for."),
                                 QStringLiteral("[KEYWORD...]"));
}

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
    if (!parse(parser, arguments, QStringLiteral("fetch"),
               QStringLiteral("Usage: glimmerfetch fetch [OPTIONS] [KEYWORD...]"), end.exit, &end.reason)) {
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
    QStringList lines = observer.summary(summary.kept, summary.stopped || stopped);
    if (!summary.localProblem.isEmpty() && summary.kept > 0)
        lines << Console::plain(summary.localProblem).trimmed();
    if (!summary.creditsProblem.isEmpty())
        lines << QStringLiteral("The credits list (credits.csv) could not be written: %1.")
                     .arg(summary.creditsProblem);
    for (const QString& line : lines)
        std::fprintf(stderr, "%s\n", qPrintable(line));

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
    if (!parse(parser, arguments, QStringLiteral("test-key"),
               QStringLiteral("Usage: glimmerfetch test-key [OPTIONS]"), exit))
        return exit;
    if (!parser.positionalArguments().isEmpty())
        return UsageError(QStringLiteral("test-key takes no keywords"), QStringLiteral("test-key"));
    Sources::Source source = Sources::Source::ContextualWeb;
    QString key;
    try {
        source = sourceFrom(parser);
        key = keyFor(parser, source);
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
    const Search::KeyVerdict verdict = Search::KeyTest(observer, trap, source, key);
    if (interruption().interrupted)
        return Interrupted;
    switch (verdict) {
    case Search::KeyVerdict::Valid:
        return Kept;
    case Search::KeyVerdict::Refused:
    case Search::KeyVerdict::Unreachable:
        return Exit::Service;
    case Search::KeyVerdict::NotRun:
        break;
    }
    return Usage;
}

} // namespace CommandLine
