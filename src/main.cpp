#include "cli/command_line.h"

#ifdef GLIMMERFETCH_WITH_WINDOW
#include "app/form1.h"
#include "app/qt_prompts.h"
#include "base/ending_signals.h"
#include "base/globals.h"
#include "base/settings_store.h"
#include "base/waiting.h"

#include <QApplication>
#include <QIcon>
#include <QPointer>

namespace {

int runWindow(int argc, char* argv[]) {
    QApplication app(argc, argv);
    app.setWindowIcon(QIcon(QStringLiteral(":/glimmerfetch/icon.svg")));
    // Lets the desktop match the window to the installed menu entry (and its icon).
    QGuiApplication::setDesktopFileName(QStringLiteral("example.kestrelon.glimmerfetch"));
    // The main window ends the program itself; hiding it while a dialog is open must not.
    app.setQuitOnLastWindowClosed(false);
    // SIGTERM, SIGINT and SIGHUP close the main window; one that comes while it is still loading
    // ends the program before it is shown.
    QPointer<Form1> window;
    Lifetime::EndOnSignals([&window] {
        if (window)
            window->close();
        else {
            Lifetime::end();
            QCoreApplication::exit(0);
        }
    });
    QtPrompts prompts;
    SettingsStore::setFailureReporter([&prompts](const QString& text) {
        prompts.messageBox(text, Globals::applicationTitle(), Prompts::Buttons::Ok,
                           Prompts::Icon::Exclamation);
    });
    Form1 form(prompts);
    window = &form;
    if (Lifetime::ending())
        return 0;
    form.show();
    return app.exec();
}

} // namespace
#endif

// A command ("fetch", "test-key") or --help / --version runs the command line, which needs no
// display; anything else (no arguments, Qt's own window options) opens the window.
int main(int argc, char* argv[]) {
#ifdef GLIMMERFETCH_WITH_WINDOW
    if (!CommandLine::Wanted(argc, argv))
        return runWindow(argc, argv);
#endif
    return CommandLine::Main(argc, argv);
}
