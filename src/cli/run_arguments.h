#pragma once

#include "cli/console_observer.h"
#include "fetch/run_options.h"

#include <QString>
#include <QStringList>

#include <optional>

class QCommandLineParser;

// What the `fetch` and `test-key` commands read from their arguments. Every choice they leave out
// comes from the settings, as the window's run takes it (Download::RunOptions::fromSettings()).
namespace CommandLine {

// A usage error: thrown while the arguments are read.
struct UsageProblem {
    QString message;
};

// Parses the arguments after the command's name; false after a usage error was reported (`problem`
// says which) or the help printed (`exit` says which status to end with).
bool parseArguments(QCommandLineParser& parser, const QStringList& arguments, const QString& command,
                    const QString& usage, int& exit, QString* problem = nullptr);

// --source and --key-file, for both commands.
void addKeyOptions(QCommandLineParser& parser);

// The source: --source, else the one chosen in the window. Throws UsageProblem for an unknown name.
Sources::Source sourceFrom(const QCommandLineParser& parser);

// The key given to the command: GLIMMERFETCH_KEY, else the first line of --key-file; nothing when
// neither is given (the settings' key is used then). Never an option of its own: the arguments of a
// process are visible to every user of the machine. Throws UsageProblem when the file cannot be read.
std::optional<QString> keyFrom(const QCommandLineParser& parser);

// Throws UsageProblem when the source needs a key and `key` is empty.
void checkKey(Sources::Source source, const QString& key);

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

void addFetchOptions(QCommandLineParser& parser);

// The fetch command's request; throws UsageProblem, the key's last so that every other mistake on
// the command line is told first.
FetchRequest readFetchArguments(const QCommandLineParser& parser);

} // namespace CommandLine
