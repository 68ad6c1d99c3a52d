// A download run in a process of its own, for the tests of how the program ends: the main window
// (offscreen) with the settings found in XDG_CONFIG_HOME, the keywords given as arguments, and
// "Start Downloading" clicked as soon as the window is up. The signals are wired as in the program.
// Boxes are answered by FakePrompts at once; after the run the window waits like the program's.
#include "app/form1.h"
#include "base/ending_signals.h"
#include "fake_prompts.h"
#include "keywords/keyword_list.h"

#include <QApplication>
#include <QPushButton>
#include <QTimer>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);
    FakePrompts prompts;
    Form1 form(prompts, {[] { return 1; }, {}});
    Lifetime::EndOnSignals([&form] { form.close(); });
    for (const QString& keyword : app.arguments().mid(1))
        form.keywords().add(keyword);
    form.show();
    QTimer::singleShot(0, &form,
                       [&form] { form.findChild<QPushButton*>(QStringLiteral("PushButton2"))->click(); });
    return app.exec();
}
