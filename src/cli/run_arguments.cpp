#include "cli/run_arguments.h"

#include "base/environment.h"
#include "base/settings_store.h"
#include "cli/command_line.h"
#include "cli/fetch_command.h"
#include "fetch/download_checks.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <unistd.h>

namespace CommandLine {

namespace {

// The most bytes read from a key file: a key is a line of a few dozen characters.
constexpr qint64 KeyFileBytes = 4096;

QString sourceNames() {
    QStringList names;
    for (Sources::Source source : Sources::Choices)
        names << Sources::storedName(source);
    return names.join(QStringLiteral(", "));
}

QString licenceNames() {
    QStringList names;
    for (Sources::LicenceChoice choice : Sources::AllLicenceChoices)
        names << Sources::storedName(choice);
    return names.join(QLatin1Char('|'));
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

} // namespace

Sources::Source sourceFrom(const QCommandLineParser& parser) {
    if (!parser.isSet(QStringLiteral("source")))
        return Download::Stored::source();
    const QString name = parser.value(QStringLiteral("source")).trimmed().toLower();
    if (const std::optional<Sources::Source> source = Sources::named(name))
        return *source;
    throw UsageProblem{QStringLiteral("unknown source \"%1\" (the sources are %2)")
                           .arg(parser.value(QStringLiteral("source")), sourceNames())};
}

std::optional<QString> keyFrom(const QCommandLineParser& parser) {
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
    return std::nullopt;
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

bool parseArguments(QCommandLineParser& parser, const QStringList& arguments, const QString& command,
                    const QString& usage, int& exit, QString* problem) {
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
    options = Download::RunOptions::fromSettings();
    options.keywordLimit = 0; // every keyword, however long the list
    options.source = sourceFrom(parser);

    // The filters: one comparison per dimension. Given here, they replace those of the settings.
    struct Dimension {
        const char* above;
        const char* below;
        bool* on;
        int* limit;
        std::optional<int>* comparison;
    };
    FilterSettings filters;
    bool anyFilter = false;
    const Dimension dimensions[] = {
        {"height-above", "height-below", &filters.heightOn, &filters.heightLimit, &filters.heightComparison},
        {"width-above", "width-below", &filters.widthOn, &filters.widthLimit, &filters.widthComparison},
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
        options.searchPace = pace;
    }
    if (parser.isSet(QStringLiteral("parallel")))
        options.parallel = wholeNumber(parser, QStringLiteral("parallel"), 1, Download::MostAtOnce);

    if (parser.isSet(QStringLiteral("licence"))) {
        const QString name = parser.value(QStringLiteral("licence"));
        const std::optional<Sources::LicenceChoice> choice = Sources::licenceNamed(name.trimmed().toLower());
        if (!choice)
            throw UsageProblem{QStringLiteral("--licence takes %1, not \"%2\"").arg(licenceNames(), name)};
        options.licence = *choice;
    }
    if (const QString refusal = Sources::licenceRefusal(options.source, options.licence); !refusal.isEmpty())
        throw UsageProblem{refusal};
    if (parser.isSet(QStringLiteral("embed-credits")))
        options.embedCredits = true;

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
    const std::optional<QString> key = keyFrom(parser);
    checkKey(options.source, key.value_or(Download::Stored::key(options.source)));
    if (Sources::needsKey(options.source))
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
    parser.addOption({QStringLiteral("licence"),
                      QStringLiteral("Keep only pictures whose licence allows the use: any, commercial "
                                     "(commercial use), modify (commercial use and changes) or nocredit (no "
                                     "credit needed) (default: the choice in the window, any unless "
                                     "changed). The original service tells no licence: any only."),
                      QStringLiteral("any|commercial|modify|nocredit")});
    parser.addOption({QStringLiteral("embed-credits"),
                      QStringLiteral("Write the credits (title, creator, licence, source) into each JPEG, "
                                     "PNG, WebP and TIFF picture kept, as XMP (default: the choice in the "
                                     "window).")});
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

} // namespace CommandLine
