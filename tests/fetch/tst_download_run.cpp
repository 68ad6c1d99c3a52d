#include "base/error_report.h"
#include "base/globals.h"
#include "base/surface.h"
#include "fake_prompts.h"
#include "fetch/curl_session.h"
#include "fetch/download_command.h"
#include "fetch/download_run.h"
#include "fetch/tool_runner.h"
#include "keywords/keyword_list.h"
#include "shell_words.h"
#include "test_files.h"
#include "test_settings.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <cstring>
#include <optional>

// The parts of the download run that need no service: the numbers it reads from the main window,
// the download command, and the three checks before it starts.
class TestDownloadRun : public QObject {
    Q_OBJECT
private slots:
    void init() {
        TestSettings::clear();
        Globals::RunBusy = false;
    }

    void count_data();
    void count();
    void start_data();
    void start();
    void commandArgumentsFollowTheCommandText_data();
    void commandArgumentsFollowTheCommandText();
    void startChecks_data();
    void startChecks();
    void busyRunDoesNothing();
    void temporaryFolderUnusable_data();
    void temporaryFolderUnusable();
};

void TestDownloadRun::count_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("expected"); // -1: "Overflow", which leaves 0 and so 5 after the caps
    QTest::newRow("letters") << "abc" << 5;
    QTest::newRow("empty") << "" << 5;
    QTest::newRow("zero") << "0" << 5;
    QTest::newRow("negative") << "-3" << 5;
    QTest::newRow("above the cap") << "200" << 50;
    QTest::newRow("cap itself") << "50" << 50;
    QTest::newRow("half up to even") << "7.5" << 8;
    QTest::newRow("half down to even") << "6.5" << 6;
    QTest::newRow("small half to zero") << "0.5" << 5;
    QTest::newRow("blanks") << " 12 " << 12;
    QTest::newRow("beyond 16 bits") << "40000" << -1;
}

void TestDownloadRun::count() {
    QFETCH(QString, text);
    QFETCH(int, expected);
    if (expected < 0) {
        QVERIFY_THROWS_EXCEPTION(AppError, Download::CountFrom(text));
        QCOMPARE(Download::CapCount(0), 5);
        return;
    }
    QCOMPARE(Download::CapCount(Download::CountFrom(text)), expected);
}

void TestDownloadRun::start_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("expected");
    QTest::newRow("letters") << "x" << 1;
    QTest::newRow("zero") << "0" << 1;
    QTest::newRow("negative") << "-7" << 1;
    QTest::newRow("cap") << "151" << 150;
    QTest::newRow("inside") << "150" << 150;
    QTest::newRow("half to even") << "2.5" << 2;
}

void TestDownloadRun::start() {
    QFETCH(QString, text);
    QTEST(Download::CapStart(Download::StartFrom(text)), "expected");
}

void TestDownloadRun::commandArgumentsFollowTheCommandText_data() {
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("target");
    QTest::newRow("plain") << "https://h.example/a/b.jpg"
                           << "/home/u/Pictures/cat 1.jpg";
    QTest::newRow("address like an option") << "-K/etc/passwd"
                                            << "/tmp/x 2.png";
    QTest::newRow("file address") << "file:///home/u/.ssh/id_rsa"
                                  << "/tmp/key 1.rsa";
    QTest::newRow("address like a list of addresses") << "https://h.example/a[1-100000].jpg?{x,y}"
                                                      << "/tmp/many 1.jpg";
}

void TestDownloadRun::commandArgumentsFollowTheCommandText() {
    QFETCH(QString, address);
    QFETCH(QString, target);
    const CurlSession curl;
    const ToolCommand command = Download::DownloadCommand(curl, address, target);
    QStringList args = command.arguments;
    const QStringList common = curl.commonArguments();
    QCOMPARE(args.mid(0, common.size()), common);
    args = args.mid(common.size());

    // The hardening: only http and https, the address taken literally (never expanded into a list),
    // no redirect followed by curl itself, the limits, and the address after "--".
    const QStringList hardening{
        "--proto",   "=http,https",  "--globoff",   "--speed-limit",
        "1",         "--speed-time", "30",          "--max-filesize",
        "104857600", "-sS",          "--write-out", "%{http_code}\\n%{redirect_url}\\n"};
    QCOMPARE(args.mid(args.indexOf("--proto"), hardening.size()), hardening);
    QVERIFY(!args.contains("-L"));
    QCOMPARE(command.fileSizeLimit, 104857600);
    QCOMPARE(args.mid(args.size() - 2), QStringList({"--", address}));
    QCOMPARE(args.count("--"), 1);
    QCOMPARE(args.at(args.indexOf("--output") + 1), target);

    // Without the additions, the arguments are the command text's words in their order, with the
    // address moved to the end (curl reads everything after "--" as addresses).
    args.remove(args.indexOf("--proto"), hardening.size());
    args.removeOne("--");
    QStringList words = shellSplit(Download::DownloadCommandText(curl, address, target));
    QCOMPARE(words.takeFirst(), curl.program());
    words.removeOne(address);
    words << address;
    QCOMPARE(args, words);
    // A GET without a body (no form field), connecting within 30 s.
    QCOMPARE(words.mid(0, 10),
             QStringList({"-X", "GET", "--user-agent", Download::UserAgent(), "--connect-timeout", "30",
                          "--max-time", "60", "--output", target}));
}

void TestDownloadRun::startChecks_data() {
    QTest::addColumn<bool>("hasKeywords");
    QTest::addColumn<bool>("folderExists");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("message");
    QTest::newRow("all three wrong") << false << false << ""
                                     << "No keyword/s added.";
    QTest::newRow("no keywords") << false << true << "k"
                                 << "No keyword/s added.";
    QTest::newRow("no folder and no key") << true << false << ""
                                          << "Folder does not exist. Please select another folder.";
    QTest::newRow("no key") << true << true << ""
                            << "Please enter API key first.";
}

void TestDownloadRun::startChecks() {
    QFETCH(bool, hasKeywords);
    QFETCH(bool, folderExists);
    QFETCH(QString, key);
    QFETCH(QString, message);
    QTemporaryDir dir;
    KeywordList list;
    if (hasKeywords)
        list.add("cat");
    if (!key.isEmpty())
        TestSettings::seed(SettingKey::ApiKey, key);
    FakePrompts prompts;
    SurfaceState surface(&prompts);
    surface.setPointer(Surface::Hand);
    ErrorTrap trap(prompts, "Form1.PushButton2_Click");
    const auto summary =
        Download::DownloadRun(list, surface, trap, folderExists ? dir.path() + "/" : dir.filePath("gone/"),
                              "5", "1", Download::RunOptions::fromSettings());
    QVERIFY(!summary.started);
    QCOMPARE(prompts.messages(), QStringList{message});
    QCOMPARE(prompts.calls.first().title, Globals::applicationTitle());
    QVERIFY(!Globals::RunBusy);
    QVERIFY(!surface.busy());
    QCOMPARE(surface.progressText(), QStringLiteral("Progress Bar"));
}

void TestDownloadRun::busyRunDoesNothing() {
    KeywordList list;
    FakePrompts prompts;
    SurfaceState surface(&prompts);
    ErrorTrap trap(prompts, "Form1.PushButton2_Click");
    Globals::RunBusy = true;
    QVERIFY(!Download::DownloadRun(list, surface, trap, "/", "5", "1", {}).started);
    QVERIFY(prompts.calls.isEmpty());
    QVERIFY(Globals::RunBusy); // the run or key test that set it clears it
}

// A temporary folder that cannot take curl's files ends the run at once, with the reason: no error
// box, no search, and no "Nothing found.".
void TestDownloadRun::temporaryFolderUnusable_data() {
    QTest::addColumn<QString>("temp"); // under the test's folder; "disk" is a full disk
    QTest::addColumn<QString>("reason");
    QTest::newRow("a file") << "file" << QString::fromLocal8Bit(std::strerror(ENOTDIR));
    QTest::newRow("full") << "disk" << QString::fromLocal8Bit(std::strerror(ENOSPC));
}

void TestDownloadRun::temporaryFolderUnusable() {
    QFETCH(QString, temp);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    std::optional<SmallDisk> disk;
    if (temp == "disk") {
        disk.emplace(dir.filePath(temp));
        if (!disk->mounted())
            QSKIP(qPrintable(disk->why()));
        disk->fill();
    } else if (temp == "file") {
        writeBytes(dir.filePath(temp), "x");
    }
    const QString tempPath = dir.filePath(temp);
    const QByteArray savedTemp = qgetenv("TMPDIR");
    qputenv("TMPDIR", QFile::encodeName(tempPath));
    KeywordList list;
    list.add("cat");
    TestSettings::seed(SettingKey::ApiKey, "k");
    FakePrompts prompts;
    SurfaceState surface(&prompts);
    ErrorTrap trap(prompts, "Form1.PushButton2_Click");
    const auto summary = Download::DownloadRun(list, surface, trap, dir.path() + "/", "5", "1",
                                               Download::RunOptions::fromSettings());
    qputenv("TMPDIR", savedTemp);
    QCOMPARE(summary.searches, 0);
    const QString expected =
        QStringLiteral("Downloading could not start: the temporary folder %1 cannot take "
                       "curl's files (%2).")
            .arg(tempPath, reason);
    QCOMPARE(prompts.messages(), QStringList{expected});
    QCOMPARE(summary.localProblem, expected);
    QVERIFY(!Globals::RunBusy);
}

QTEST_MAIN(TestDownloadRun)
#include "tst_download_run.moc"
