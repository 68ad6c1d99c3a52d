#include "base/error_report.h"
#include "base/file_routines.h"
#include "base/surface.h"
#include "base/waiting.h"
#include "fetch/curl_session.h"
#include "fetch/tool_runner.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>

namespace {

// Remembers every change of the progress bar in order, and can act on one.
class RecordingSurface : public SurfaceState {
public:
    QStringList texts;
    QList<int> values;
    std::function<void(const QString&)> onText;

    void setProgressValue(int value) override {
        values << value;
        SurfaceState::setProgressValue(value);
    }
    void setProgressText(const QString& text) override {
        texts << text;
        SurfaceState::setProgressText(text);
        if (onText)
            onText(text);
    }
};

ToolCommand tool(const QString& name, const QStringList& arguments, const QByteArray& input = QByteArray()) {
    return ToolCommand{QStandardPaths::findExecutable(name), arguments, input};
}

// A tool that writes its process id to `pidFile`, then after two seconds its mark.
ToolCommand markAfterTwoSeconds(const QString& mark, const QString& pidFile) {
    return tool(QStringLiteral("sh"), {"-c", "echo $$ > \"$1\"; sleep 2; touch \"$0\"", mark, pidFile});
}

// True when the tool of markAfterTwoSeconds is no longer there (or never got as far as its id): it
// will not write its mark.
bool toolGone(const QString& pidFile) {
    QFile file(pidFile);
    const QByteArray pid = file.open(QIODevice::ReadOnly) ? file.readAll().trimmed() : QByteArray();
    return pid.isEmpty() || !QFileInfo::exists(QStringLiteral("/proc/") + QString::fromLatin1(pid));
}

QStringList gmtempEntries() {
    return QDir(QDir::tempPath()).entryList({QStringLiteral("glimmerfetch-*")}, QDir::Dirs | QDir::Hidden);
}

} // namespace

class TestToolRunner : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();
    void extractAndRemove();
    void missingBundleLeavesNothing();
    void cycleView_data();
    void cycleView();
    void exitCodeAndInput();
    void missingToolReturnsNegativeAtOnce();
    void quickToolLeavesBaseText_data();
    void quickToolLeavesBaseText();
    void longWaitFollowsTheCycles_data();
    void longWaitFollowsTheCycles();
    void severalAtOnce();
    void stopEndsToolsStartedAtOnce();
    void endingProgramKillsTool(); // must stay last: the program's end cannot be undone

private:
    QTemporaryDir tempBase; // made before the temporary location is moved into it
};

void TestToolRunner::initTestCase() {
    // A temporary location of this test's own, so that folders of programs running beside it do
    // not count.
    QVERIFY(tempBase.isValid());
    qputenv("TMPDIR", QFile::encodeName(tempBase.path()));
    QCOMPARE(QDir::tempPath(), tempBase.path());
}

void TestToolRunner::cleanup() {
    qunsetenv("GLIMMERFETCH_CA_BUNDLE");
    QCOMPARE(gmtempEntries(), QStringList()); // nothing of the program is left
}

void TestToolRunner::extractAndRemove() {
    QString folder;
    {
        CurlSession curl;
        folder = curl.folder();
        QVERIFY(folder.startsWith(QDir::tempPath() + QLatin1Char('/')));
        QCOMPARE(QFileInfo(folder).permissions() & 0x7777, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                               QFileDevice::ExeOwner | QFileDevice::ReadUser |
                                                               QFileDevice::WriteUser | QFileDevice::ExeUser);
        QCOMPARE(curl.responseFile(), folder + QStringLiteral("/message.txt"));
        QCOMPARE(curl.caBundle(), folder + QStringLiteral("/curl-ca-bundle.crt"));
        QVERIFY(QFileInfo(curl.caBundle()).size() > 1000);
        QCOMPARE(curl.command(), QLatin1Char('"') + curl.program() + QLatin1Char('"'));
        QCOMPARE(curl.program(), QStandardPaths::findExecutable(QStringLiteral("curl")));
        QCOMPARE(curl.commonArguments(), (QStringList{"-q", "--cacert", curl.caBundle()}));

        // Two sessions have two folders; the end of one takes whatever curl left in it.
        CurlSession second;
        QVERIFY(second.folder() != folder);
        QFile answer(curl.responseFile());
        QVERIFY(answer.open(QIODevice::WriteOnly));
        answer.close();
    }
    QVERIFY(!QFileInfo::exists(folder));
}

void TestToolRunner::missingBundleLeavesNothing() {
    qputenv("GLIMMERFETCH_CA_BUNDLE", "/nonexistent/glimmerfetch-ca.pem");
    QVERIFY_THROWS_EXCEPTION(AppError, CurlSession());
}

void TestToolRunner::cycleView_data() {
    QTest::addColumn<int>("counter");
    QTest::addColumn<QString>("baseText");
    QTest::addColumn<int>("baseValue");
    QTest::addColumn<int>("items");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("value"); // -1: the bar does not move
    const QString cat = QStringLiteral("Processing: cat, finding images...");
    QTest::newRow("49: nothing yet") << 49 << cat << 25 << 4 << "" << -1;
    QTest::newRow("50: wait text 0, bar at base") << 50 << cat << 25 << 4 << cat + ", Please wait.. 0" << 25;
    QTest::newRow("60: wait text 10") << 60 << cat << 25 << 4 << cat + ", Please wait.. 10" << -1;
    QTest::newRow("200: step 2 (2.5 to even)") << 200 << cat << 25 << 4 << cat + ", Please wait.. 150" << 27;
    QTest::newRow("350") << 350 << cat << 25 << 4 << cat + ", Please wait.. 300" << 29;
    QTest::newRow("limit 48") << 50 + 150 * 12 << cat << 25 << 4 << cat + ", Please wait.. 1800" << 48;
    QTest::newRow("empty base text: no comma") << 51 << "" << 0 << 1 << "Please wait.. 1" << -1;
    QTest::newRow("20 items: step 0.5 rounds to 0") << 200 << "" << 10 << 20 << "Please wait.. 150" << 10;
    QTest::newRow("8 items: limit 11.5 rounds to 12")
        << 50 + 150 * 20 << "" << 0 << 8 << "Please wait.. 3000" << 12;
    QTest::newRow("no items counts as one") << 200 << "" << 0 << 0 << "Please wait.. 150" << 10;
}

void TestToolRunner::cycleView() {
    QFETCH(int, counter);
    QFETCH(QString, baseText);
    QFETCH(int, baseValue);
    QFETCH(int, items);
    QFETCH(QString, text);
    QFETCH(int, value);
    const Shell32::CycleView view = Shell32::WaitCycleView(counter, baseText, baseValue, items);
    QCOMPARE(view.text, text);
    QCOMPARE(view.moves, value >= 0);
    if (value >= 0)
        QCOMPARE(view.value, value);
}

void TestToolRunner::exitCodeAndInput() {
    QTemporaryDir dir;
    const QString out = dir.filePath(QStringLiteral("in.txt"));
    // The input text reaches the tool's standard input whole, and the tool's exit code comes back.
    const QByteArray input("header = \"x-rapidapi-key: a\\\"b\"\n");
    QCOMPARE(Shell32::RunAndWait(tool(QStringLiteral("sh"), {"-c", "cat > \"$0\"; exit 7", out}, input), 0),
             7);
    QFile file(out);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), input);
    // Without input text the tool reads an empty standard input instead of waiting for one.
    QCOMPARE(Shell32::RunAndWait(tool(QStringLiteral("sh"), {"-c", "test -z \"$(cat)\""}), 0), 0);
    // A tool ended by a signal has no exit code, whatever number the signal has.
    ToolOutput output;
    QCOMPARE(Shell32::RunAndWait(tool(QStringLiteral("sh"), {"-c", "echo said; kill -9 $$"}), 0, nullptr, {},
                                 0, 0, 0, &output),
             Shell32::Crashed);
    QVERIFY(output.crashed);
    QCOMPARE(output.standardOutput, QByteArray("said\n"));
    // A file size limit makes a longer write fail instead of ending the tool.
    ToolCommand limited = tool(QStringLiteral("sh"), {"-c", "head -c 5000 /dev/zero > \"$0\"", out});
    limited.fileSizeLimit = 1000;
    QVERIFY(Shell32::RunAndWait(limited, 0) > 0);
    QCOMPARE(QFileInfo(out).size(), 1000);
}

void TestToolRunner::missingToolReturnsNegativeAtOnce() {
    RecordingSurface bar;
    QTemporaryDir dir;
    QCOMPARE(Shell32::RunAndWait(ToolCommand{dir.filePath(QStringLiteral("curl")), {}, {}}, 0, &bar,
                                 QStringLiteral("x"), 0, 1),
             Shell32::StartErrorBase + 53);
    QFile notExecutable(dir.filePath(QStringLiteral("plain")));
    QVERIFY(notExecutable.open(QIODevice::WriteOnly));
    notExecutable.close();
    QCOMPARE(Shell32::RunAndWait(ToolCommand{notExecutable.fileName(), {}, {}}, 0, &bar),
             Shell32::StartErrorBase + 70);
    QCOMPARE(Shell32::RunAndWait(ToolCommand{QStringLiteral("glimmerfetch-no-such-tool"), {}, {}}, 0, &bar),
             Shell32::StartErrorBase + 53);
    QVERIFY(bar.texts.isEmpty());
    QVERIFY(bar.values.isEmpty());
}

void TestToolRunner::quickToolLeavesBaseText_data() {
    QTest::addColumn<QString>("baseText");
    QTest::addColumn<QString>("finalText");
    QTest::newRow("base text") << "Processing: cat, finding images..."
                               << "Processing: cat, finding images...";
    QTest::newRow("empty base text") << ""
                                     << "Progress Bar";
}

void TestToolRunner::quickToolLeavesBaseText() {
    QFETCH(QString, baseText);
    QFETCH(QString, finalText);
    RecordingSurface bar;
    bar.setProgressValue(33);
    bar.values.clear();
    // 0.1 s is 20 cycles of 5 ms: well below 50, so no wait text and no move.
    QCOMPARE(Shell32::RunAndWait(tool(QStringLiteral("sleep"), {"0.1"}), 0, &bar, baseText, 33, 3, 5), 0);
    QCOMPARE(bar.texts, QStringList{finalText});
    QVERIFY(bar.values.isEmpty());
}

void TestToolRunner::longWaitFollowsTheCycles_data() {
    QTest::addColumn<int>("baseValue");
    QTest::addColumn<int>("items");
    QTest::addColumn<int>("lastCycle");
    QTest::addColumn<QList<int>>("values");
    QTest::newRow("creeps to its limit")
        << 25 << 16 << 50 + 150 * 6 + 20 << QList<int>{25, 26, 27, 28, 29, 30, 30};
    QTest::newRow("never beyond the bar's end") << 99 << 1 << 50 + 150 * 2 + 20 << QList<int>{99, 100, 100};
}

void TestToolRunner::longWaitFollowsTheCycles() {
    QFETCH(int, baseValue);
    QFETCH(int, items);
    QFETCH(int, lastCycle);
    QFETCH(QList<int>, values);
    // A tool that runs until the wait text shows `lastCycle`; each cycle is 1 ms.
    QTemporaryDir dir;
    const QString stop = dir.filePath(QStringLiteral("stop"));
    RecordingSurface bar;
    const QString base = QStringLiteral("Processing: cat, finding images...");
    bar.onText = [&](const QString& text) {
        if (text.endsWith(QStringLiteral(".. %1").arg(lastCycle - 50)))
            QFile(stop).open(QIODevice::WriteOnly);
    };
    QElapsedTimer clock;
    clock.start();
    const int code = Shell32::RunAndWait(
        tool(QStringLiteral("sh"), {"-c", "while [ ! -e \"$0\" ]; do sleep 0.01; done", stop}), 0, &bar, base,
        baseValue, items, 1);
    QCOMPARE(code, 0);
    QVERIFY2(clock.elapsed() < 30000, "the wait should end soon after the tool");

    // Wait texts count up one per cycle from 0, then the base text comes back.
    QVERIFY(bar.texts.size() > lastCycle - 50);
    QCOMPARE(bar.texts.last(), base);
    for (int n = 0; n <= lastCycle - 50; ++n)
        QCOMPARE(bar.texts.at(n), base + QStringLiteral(", Please wait.. %1").arg(n));
    // The bar moves every 150 cycles from the base value and stops at its limit (where it stays
    // for any cycles the tool took to notice the stop).
    QVERIFY(bar.values.size() >= values.size());
    QCOMPARE(bar.values.mid(0, values.size()), values);
    for (const int later : bar.values.mid(values.size()))
        QCOMPARE(later, values.last());
}

// Tools started at once run side by side; each one's result is what RunAndWait would give.
void TestToolRunner::severalAtOnce() {
    QTemporaryDir dir;
    const QString out = dir.filePath(QStringLiteral("in.txt"));
    Shell32::ToolRun slow(tool(QStringLiteral("sh"), {"-c", "sleep 0.6; echo slow; exit 3"}));
    Shell32::ToolRun input(tool(QStringLiteral("sh"), {"-c", "cat > \"$0\"; exit 4", out}, "typed"));
    Shell32::ToolRun crash(tool(QStringLiteral("sh"), {"-c", "sleep 0.3; kill -9 $$"}));
    Shell32::ToolRun missing(ToolCommand{dir.filePath(QStringLiteral("curl")), {}, {}});
    ToolCommand limitedCommand =
        tool(QStringLiteral("sh"), {"-c", "head -c 5000 /dev/zero > \"$0\"", out + "2"});
    limitedCommand.fileSizeLimit = 1000;
    Shell32::ToolRun limited(limitedCommand);
    const std::vector<Shell32::ToolRun*> all{&slow, &input, &crash, &missing, &limited};
    QElapsedTimer clock;
    clock.start();
    for (Shell32::ToolRun* run : all)
        run->start();
    QList<Shell32::ToolRun*> order;
    while (order.size() < int(all.size())) {
        std::vector<Shell32::ToolRun*> running;
        for (Shell32::ToolRun* run : all)
            if (!order.contains(run)) {
                if (run->ended())
                    order << run;
                else
                    running.push_back(run);
            }
        if (!running.empty())
            Shell32::WaitForAny(running, 1000);
    }
    QVERIFY2(clock.elapsed() < 1100, "the tools did not run side by side");
    QCOMPARE(order.last(), &slow);
    ToolOutput output;
    QCOMPARE(slow.result(&output), 3);
    QCOMPARE(output.standardOutput, QByteArray("slow\n"));
    QCOMPARE(input.result(), 4);
    QCOMPARE(Main::ReadFileBytes(out, 100), QByteArray("typed"));
    QCOMPARE(crash.result(&output), Shell32::Crashed);
    QVERIFY(output.crashed);
    QCOMPARE(missing.result(), Shell32::StartErrorBase + 53);
    QVERIFY(limited.result() > 0);
    QCOMPARE(QFileInfo(out + "2").size(), 1000);
}

// A stop wakes the wait at once; the tools end with their objects.
void TestToolRunner::stopEndsToolsStartedAtOnce() {
    QTemporaryDir dir;
    const QString mark = dir.filePath(QStringLiteral("still-running"));
    const QString firstPid = dir.filePath(QStringLiteral("first.pid"));
    const QString secondPid = dir.filePath(QStringLiteral("second.pid"));
    {
        Shell32::ToolRun first(markAfterTwoSeconds(mark, firstPid));
        Shell32::ToolRun second(markAfterTwoSeconds(mark, secondPid));
        first.start();
        second.start();
        QTimer::singleShot(100, [] { RunStop::request(); });
        QElapsedTimer clock;
        clock.start();
        Shell32::WaitForAny({&first, &second}, 5000);
        QVERIFY(clock.elapsed() < 1500);
        QVERIFY(!first.ended() && !second.ended());
    }
    RunStop::clear();
    QVERIFY(toolGone(firstPid) && toolGone(secondPid));
    QVERIFY(!QFileInfo::exists(mark));
}

void TestToolRunner::endingProgramKillsTool() {
    QTemporaryDir dir;
    const QString mark = dir.filePath(QStringLiteral("still-running"));
    const QString pidFile = dir.filePath(QStringLiteral("tool.pid"));
    CurlSession curl;
    const QString folder = curl.folder();
    QTimer::singleShot(200, [] { Lifetime::end(); });
    QElapsedTimer clock;
    clock.start();
    // The tool would write its mark after 2 s; ending the program kills it first.
    QVERIFY_THROWS_EXCEPTION(ProgramEnding, Shell32::RunAndWait(markAfterTwoSeconds(mark, pidFile), 0));
    QVERIFY(clock.elapsed() < 1800);
    QVERIFY(toolGone(pidFile));
    QVERIFY(!QFileInfo::exists(mark));
    QVERIFY(QFileInfo::exists(folder)); // the session is still open here
}

QTEST_GUILESS_MAIN(TestToolRunner)
#include "tst_tool_runner.moc"
