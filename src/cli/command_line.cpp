#include "cli/command_line.h"

#include "build_config.h"
#include "cli/console_prompts.h"
#include "cli/fetch_command.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstring>

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
        "Exit status: 0 pictures kept (or a valid key), 1 no picture kept, 2 a usage error,\n"
        "3 the service could not be reached or refused the key, 130 interrupted.\n");
#ifdef GLIMMERFETCH_WITH_WINDOW
    text += QStringLiteral("\nWithout a command, glimmerfetch opens its window.\n");
#else
    text += QStringLiteral("\nThis build has no window.\n");
#endif
    return text;
}

bool isCommand(const char* argument) {
    for (const char* known : {"fetch", "test-key", "--help", "-h", "--version", "-v"})
        if (std::strcmp(argument, known) == 0)
            return true;
    return false;
}

} // namespace

QString VersionText() {
    return QStringLiteral("glimmerfetch ") + QString::fromLatin1(BuildConfig::Version);
}

bool Wanted(int argc, char* argv[]) {
    return argc > 1 && isCommand(argv[1]);
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
    return UsageError(QStringLiteral("unknown command \"%1\"").arg(command));
}

} // namespace CommandLine
