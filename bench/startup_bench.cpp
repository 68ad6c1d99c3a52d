// Start-up to a shown main window.
//
// The benchmark starts itself again as a child process, N times; each child creates the application
// and the main window exactly as the program does (settings read, load step, list column, fields),
// shows it, waits until the window is exposed, prints "shown" and exits. The parent measures from
// starting the process to reading that line, so the figure includes loading the program and Qt.
//
//   bench_startup [runs]        (uses QT_QPA_PLATFORM as set; offscreen when unset)

#include "app/form1.h"
#include "base/settings_store.h"
#include "fake_free_prompts.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

int child(int argc, char** argv) {
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);
    SilentPrompts prompts;
    Form1 form(prompts, {[] { return 1; }, {}});
    form.show();
    if (!QTest::qWaitForWindowExposed(&form, 5000))
        return 2;
    std::puts("shown");
    std::fflush(stdout);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 1 && QByteArray(argv[1]) == "--child")
        return child(argc, argv);

    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, QByteArray(argv[1]).toInt()) : 20;
    QTemporaryDir config;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!env.contains(QStringLiteral("QT_QPA_PLATFORM")))
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());

    std::vector<double> ms;
    for (int i = 0; i < runs + 1; ++i) {
        QProcess p;
        p.setProcessEnvironment(env);
        QElapsedTimer clock;
        clock.start();
        p.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--child")});
        if (!p.waitForReadyRead(10000) || !p.readLine().startsWith("shown")) {
            std::fprintf(stderr, "child failed: %s\n", p.readAllStandardError().constData());
            return 1;
        }
        const double elapsed = static_cast<double>(clock.nsecsElapsed()) / 1e6;
        p.waitForFinished(10000);
        if (i > 0) // the first start warms the file cache; it is shown apart
            ms.push_back(elapsed);
        else
            std::printf("cold start (first run): %.1f ms\n", elapsed);
    }
    std::sort(ms.begin(), ms.end());
    std::printf("platform: %s\n", qPrintable(env.value(QStringLiteral("QT_QPA_PLATFORM"))));
    std::printf("start-up to shown window over %d runs: median %.1f ms, min %.1f ms, max %.1f ms\n", runs,
                ms[ms.size() / 2], ms.front(), ms.back());
    return 0;
}
