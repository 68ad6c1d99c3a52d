#include "cli/command_line.h"

#include "build_config.h"
#include "cli/console_prompts.h"
#include "cli/fetch_command.h"

#include <QCoreApplication>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace CommandLine {

namespace {

QString helpText() {
    QString text = QStringLiteral(
        "Usage: glimmerfetch COMMAND [OPTIONS]\n"
        "\n"
        "Downloads pictures by keyword from an image search service.\n"
        "\n"
        "Commands:\n"
        "  fetch [OPTIONS] [KEYWORD...]   download pictures for every keyword, without a window\n"
        "  test-key [--source NAME]       test the key of an image source\n"
        "\n"
        "Options:\n"
        "  -h, --help      show this help; \"glimmerfetch COMMAND --help\" shows a command's options\n"
        "  -v, --version   show the version\n"
        "\n"
        "Exit status: 0 pictures kept, nothing new to keep, or a valid key; 1 no picture kept;\n"
        "2 a usage error; 3 the service could not be reached or refused the key; 4 a local problem\n"
        "(a full disk, a folder gone) ended the run; 130 interrupted.\n");
#ifdef GLIMMERFETCH_WITH_WINDOW
    text += QStringLiteral(
        "\nWithout arguments (or with Qt's own window options only), glimmerfetch opens its window.\n");
#else
    text += QStringLiteral("\nThis build has no window.\n");
#endif
    return text;
}

// Qt's own options of a program with a window (QGuiApplication, QApplication, the X11 platform),
// and whether each takes a value. Qt takes them with one dash or two, the value after "=" or as the
// next argument.
struct QtOption {
    const char* name;
    bool value;
};
const QtOption QtOptions[] = {
    {"platform", true},      {"platformpluginpath", true},
    {"platformtheme", true}, {"plugin", true},
    {"qmljsdebugger", true}, {"qwindowgeometry", true},
    {"qwindowicon", true},   {"qwindowtitle", true},
    {"style", true},         {"stylesheet", true},
    {"session", true},       {"display", true},
    {"geometry", true},      {"dialogs", true},
    {"fontengine", true},    {"name", true},
    {"title", true},         {"visual", true},
    {"reverse", false},      {"widgetcount", false},
    {"nograb", false},       {"dograb", false},
    {"sync", false},
};

// How many arguments from `at` one Qt window option takes (1 or 2); 0 when it is none.
int qtOptionLength(int argc, char* argv[], int at) {
    QByteArray argument(argv[at]);
    if (!argument.startsWith('-'))
        return 0;
    argument.remove(0, argument.startsWith("--") ? 2 : 1);
    const qsizetype equals = argument.indexOf('=');
    const QByteArray name = equals < 0 ? argument : argument.left(equals);
    for (const QtOption& option : QtOptions) {
        if (name != option.name)
            continue;
        if (!option.value)
            return equals < 0 ? 1 : 0;
        if (equals >= 0)
            return 1;
        return at + 1 < argc ? 2 : 0;
    }
    return 0;
}

// The edits (a character added, removed, changed, or two neighbours swapped) between two words.
int distance(const QString& a, const QString& b) {
    std::vector<std::vector<int>> d(static_cast<size_t>(a.size() + 1), std::vector<int>(b.size() + 1));
    for (qsizetype i = 0; i <= a.size(); ++i)
        for (qsizetype j = 0; j <= b.size(); ++j) {
            int& here = d[i][j];
            if (i == 0 || j == 0) {
                here = static_cast<int>(i + j);
                continue;
            }
            here = std::min(
                {d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                here = std::min(here, d[i - 2][j - 2] + 1);
        }
    return d[a.size()][b.size()];
}

// What a first argument that is no command gets told: the command it is closest to, when one is
// near enough to be a slip of the finger, else what the commands are.
QString unknownCommand(const QString& given) {
    const bool option = given.startsWith(QLatin1Char('-'));
    QString text = option ? QStringLiteral("unknown option \"%1\"").arg(given)
                          : QStringLiteral("unknown command \"%1\"").arg(given);
    QString closest;
    int best = 3; // more edits than two: no slip of the finger
    for (const char* known : {"fetch", "test-key", "--help", "--version"}) {
        const int edits = distance(given.toLower(), QString::fromLatin1(known));
        if (edits < best) {
            best = edits;
            closest = QString::fromLatin1(known);
        }
    }
    if (!closest.isEmpty())
        return text + QStringLiteral("; did you mean \"%1\"?").arg(closest);
    return text + QStringLiteral(" (the commands are \"fetch\" and \"test-key\")");
}

} // namespace

QString VersionText() {
    return QStringLiteral("glimmerfetch ") + QString::fromLatin1(BuildConfig::Version);
}

bool Wanted(int argc, char* argv[]) {
    for (int at = 1; at < argc;) {
        const int length = qtOptionLength(argc, argv, at);
        if (length == 0)
            return true;
        at += length;
    }
    return false;
}

int Main(int argc, char* argv[]) {
    // The version comes before anything is set up: scripts ask for it to see that the program runs.
    if (argc > 1 && (std::strcmp(argv[1], "--version") == 0 || std::strcmp(argv[1], "-v") == 0)) {
        std::printf("%s\n", qPrintable(VersionText()));
        return Kept;
    }
    if (argc < 2) {
        std::fputs(qPrintable(helpText()), stderr);
        return Usage;
    }
    QCoreApplication app(argc, argv);
    QStringList arguments = QCoreApplication::arguments();
    const QString command = arguments.value(1);
    arguments.remove(0, 2);
    if (command == QLatin1String("--help") || command == QLatin1String("-h")) {
        std::fputs(qPrintable(helpText()), stdout);
        return Kept;
    }
    if (command == QLatin1String("fetch"))
        return Fetch(arguments);
    if (command == QLatin1String("test-key"))
        return TestKey(arguments);
    return UsageError(unknownCommand(command));
}

} // namespace CommandLine
