#include "base/settings_store.h"
#include "image_service.h"
#include "sheets/workbook_writer.h"
#include "test_settings.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <memory>

// The real program, started the way a script starts it: no display, its settings in this test's
// settings folder (which holds the service key), its requests going to the local image service over
// TLS, without the run's pauses.
class TestCommandLine : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();

    void twoKeywordsKeepTheirPictures();
    void keywordFilesComeFirstInTheirOrder();
    void nothingFoundExitsOne();
    void badOptionsExitTwo_data();
    void badOptionsExitTwo();
    void keyVerdicts_data();
    void keyVerdicts();
    void interruptStopsTheRunCleanly();
    void jsonGivesOneObjectPerResult();

private:
    struct Outcome {
        int exitCode = -1;
        QByteArray out;
        QByteArray err;
    };
    QProcessEnvironment environment(const QMap<QString, QString>& extra = {}) const;
    Outcome run(const QStringList& arguments, const QByteArray& input = {},
                const QMap<QString, QString>& extra = {}) const;
    static QStringList entries(const QString& path);
    static QByteArray bytes(const QString& path);
    QStringList searchedKeywords() const;

    std::unique_ptr<ImageService> service;
    QTemporaryDir work; // the program's temporary folder and the pictures folders
    QString temp;       // the program's TMPDIR: holds its private curl folder while it runs
    QString folder;     // this test's pictures folder, not made: the program makes it
    int tests = 0;
};

void TestCommandLine::initTestCase() {
    // One picture, then one that arrives at 16 bytes a second: a run that is still downloading.
    const QByteArray catalog = R"({"slow going": {"results": [
        {"kind": "png", "width": 64, "height": 48}, {"kind": "slow", "rate": 16}, {"kind": "png"}]}})";
    service = std::make_unique<ImageService>(QStringList(), catalog);
    QVERIFY2(service->isRunning(), qPrintable(service->errorText()));
    service->applyToEnvironment();
    QVERIFY(work.isValid());
    temp = work.filePath(QStringLiteral("tmp"));
    QVERIFY(QDir().mkpath(temp));
    TestSettings::clear();
    SettingsStore::write(SettingKey::ApiKey, ImageService::validKey());
}

void TestCommandLine::init() {
    folder = work.filePath(QStringLiteral("pictures %1").arg(++tests));
    service->clearRequests();
}

QProcessEnvironment TestCommandLine::environment(const QMap<QString, QString>& extra) const {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "GLIMMERFETCH_KEY"})
        env.remove(QString::fromLatin1(name));
    env.insert(QStringLiteral("TMPDIR"), temp);
    for (auto it = extra.cbegin(); it != extra.cend(); ++it)
        env.insert(it.key(), it.value());
    return env;
}

TestCommandLine::Outcome TestCommandLine::run(const QStringList& arguments, const QByteArray& input,
                                              const QMap<QString, QString>& extra) const {
    QProcess program;
    program.setProcessEnvironment(environment(extra));
    program.start(QStringLiteral(GLIMMERFETCH_PROGRAM), arguments);
    Outcome outcome;
    if (!program.waitForStarted())
        return outcome;
    program.write(input);
    program.closeWriteChannel();
    if (!program.waitForFinished(120000))
        program.kill();
    program.waitForFinished();
    if (program.exitStatus() == QProcess::NormalExit)
        outcome.exitCode = program.exitCode();
    outcome.out = program.readAllStandardOutput();
    outcome.err = program.readAllStandardError();
    return outcome;
}

// What a folder holds; in a pictures folder, the credits list the run keeps beside them is left out.
QStringList TestCommandLine::entries(const QString& path) {
    QStringList names =
        QDir(path).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    names.removeAll(QStringLiteral("credits.csv"));
    return names;
}

QByteArray TestCommandLine::bytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

QStringList TestCommandLine::searchedKeywords() const {
    QStringList keywords;
    for (const ImageService::Request& request : service->searchRequests())
        keywords << request.queryValue(QStringLiteral("q"));
    return keywords;
}

void TestCommandLine::twoKeywordsKeepTheirPictures() {
    const QString settingsFile = SettingsStore::filePath();
    const QByteArray settingsBefore = bytes(settingsFile);
    const QDateTime changedBefore = QFileInfo(settingsFile).lastModified();

    const Outcome outcome = run({"fetch", "-o", folder, "-n", "2", "red car", "blue boat"});
    QVERIFY2(outcome.exitCode == 0, outcome.err);
    QCOMPARE(searchedKeywords(), QStringList({"red car", "blue boat"}));

    // One line per picture kept, in order, each file holding exactly the bytes the service sent.
    const QStringList kept = QString::fromUtf8(outcome.out).split('\n', Qt::SkipEmptyParts);
    QStringList downloads;
    for (const ImageService::Request& request : service->requests())
        if (request.path.startsWith(QLatin1String("/img/")))
            downloads << request.path;
    QCOMPARE(kept.size(), 4);
    QCOMPARE(downloads.size(), 4);
    QStringList names;
    for (int i = 0; i < kept.size(); ++i) {
        QCOMPARE(QFileInfo(kept[i]).absolutePath(), folder);
        QVERIFY2(bytes(kept[i]) == ImageService::pictureBytes(service->baseUrl() + downloads[i]),
                 qPrintable(kept[i]));
        names << QFileInfo(kept[i]).fileName();
    }
    names.sort();
    QCOMPARE(entries(folder), names); // nothing else: no partial download
    QVERIFY(entries(temp).isEmpty());

    const QString err = QString::fromUtf8(outcome.err);
    QVERIFY2(err.contains("creating the folder " + folder), qPrintable(err));
    QVERIFY2(err.contains("Kept 4 pictures in " + folder + "."), qPrintable(err));

    // The settings were read (the key came from them), never written.
    QCOMPARE(bytes(settingsFile), settingsBefore);
    QCOMPARE(QFileInfo(settingsFile).lastModified(), changedBefore);
    QCOMPARE(entries(QFileInfo(settingsFile).absolutePath()),
             QStringList{QFileInfo(settingsFile).fileName()});
}

void TestCommandLine::keywordFilesComeFirstInTheirOrder() {
    QVERIFY(QDir().mkpath(folder));
    const QString text = work.filePath("list.txt");
    const QString csv = work.filePath("list.csv");
    const QString workbook = work.filePath("saved by the window.xlsx");
    QFile(text).remove();
    QFile(csv).remove();
    QFile file(text);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("alpha\r\nbeta\n");
    file.close();
    file.setFileName(csv);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("gamma,not a keyword\ndelta,\n");
    file.close();
    WorkbookWriter::writeKeywords({"epsilon", "zeta"}, "Keyword/s", workbook);

    const Outcome outcome = run(
        {"fetch", "-o", folder, "-n", "1", "-k", text, "--keywords", csv, "-k", workbook, "-k", "-", "omega"},
        "eta\n");
    QVERIFY2(outcome.exitCode == 0, outcome.err);
    QCOMPARE(searchedKeywords(),
             QStringList({"alpha", "beta", "gamma", "delta", "epsilon", "zeta", "eta", "omega"}));
    QCOMPARE(entries(folder).size(), 8);
}

void TestCommandLine::nothingFoundExitsOne() {
    const Outcome outcome = run({"fetch", "-o", folder, "nothing"});
    QVERIFY2(outcome.exitCode == 1, outcome.err);
    QVERIFY(entries(folder).isEmpty());
    QVERIFY2(outcome.err.contains("Kept 0 pictures in "), outcome.err);
}

void TestCommandLine::badOptionsExitTwo_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");
    QTest::newRow("count not a number")
        << QStringList{"--count", "abc", "cat"} << "--count takes a whole number from 1 to 50, not \"abc\"";
    QTest::newRow("count zero") << QStringList{"-n", "0", "cat"}
                                << "--count takes a whole number from 1 to 50";
    QTest::newRow("count above 50") << QStringList{"-n", "51", "cat"} << "--count takes a whole number";
    QTest::newRow("start zero") << QStringList{"--start", "0", "cat"}
                                << "--start takes a whole number from 1";
    QTest::newRow("unknown source") << QStringList{"--source", "flickr", "cat"}
                                    << "unknown source \"flickr\"";
    QTest::newRow("both height filters")
        << QStringList{"--height-above", "100", "--height-below", "50", "cat"}
        << "--height-above and --height-below cannot be used together";
    QTest::newRow("both width filters") << QStringList{"--width-below", "9", "--width-above", "5", "cat"}
                                        << "--width-above and --width-below cannot be used together";
    QTest::newRow("negative width") << QStringList{"--width-above=-5", "cat"}
                                    << "--width-above takes a whole number";
    QTest::newRow("parallel beyond 8")
        << QStringList{"--parallel", "9", "cat"} << "--parallel takes a whole number from 1 to 8";
    QTest::newRow("pace not a number") << QStringList{"--pace", "fast", "cat"} << "--pace takes a number";
    QTest::newRow("unknown option") << QStringList{"--colour", "red", "cat"} << "Unknown option 'colour'";
    QTest::newRow("no keywords") << QStringList{} << "no keywords";
    QTest::newRow("standard input twice") << QStringList{"-k", "-", "--key-file", "-"} << "standard input";
    QTest::newRow("missing keyword file") << QStringList{"-k", "/nonexistent/list.txt"} << "no such file";
    QTest::newRow("endless keyword file") << QStringList{"-k", "/dev/zero"} << "not a regular file";
}

void TestCommandLine::badOptionsExitTwo() {
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);
    const Outcome outcome = run(QStringList{"fetch", "-o", folder} + arguments);
    QCOMPARE(outcome.exitCode, 2);
    const QString err = QString::fromUtf8(outcome.err);
    QVERIFY2(err.contains(message), qPrintable(err));
    QVERIFY2(err.contains("glimmerfetch fetch --help"), qPrintable(err));
    QVERIFY(outcome.out.isEmpty());
    // Refused before anything was asked or made.
    QVERIFY(service->requests().isEmpty());
    QVERIFY(!QFileInfo::exists(folder));
}

void TestCommandLine::keyVerdicts_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("key"); // the key given; "" for the one in the settings
    QTest::addColumn<bool>("keyFile");
    QTest::addColumn<int>("exitCode");
    const QString wrong = QStringLiteral("not-a-key-of-the-service");
    QTest::newRow("fetch, unknown key in the environment")
        << QStringList{"fetch", "cat"} << wrong << false << 3;
    QTest::newRow("fetch, unknown key in a file") << QStringList{"fetch", "cat"} << wrong << true << 3;
    QTest::newRow("fetch, spent key")
        << QStringList{"fetch", "cat"} << ImageService::quotaKey() << false << 3;
    QTest::newRow("test-key, unknown key") << QStringList{"test-key"} << wrong << false << 3;
    QTest::newRow("test-key, key in the settings") << QStringList{"test-key"} << QString() << false << 0;
    QTest::newRow("test-key, key in a file")
        << QStringList{"test-key", "--source", "contextualweb"} << ImageService::validKey() << true << 0;
}

void TestCommandLine::keyVerdicts() {
    QFETCH(QStringList, arguments);
    QFETCH(QString, key);
    QFETCH(bool, keyFile);
    QFETCH(int, exitCode);
    QMap<QString, QString> extra;
    if (keyFile) {
        const QString path = work.filePath("key.txt");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(key.toUtf8() + "\n");
        arguments << "--key-file" << path;
    } else if (!key.isEmpty()) {
        extra.insert("GLIMMERFETCH_KEY", key);
    }
    if (arguments.first() == "fetch")
        arguments << "-o" << folder;
    const Outcome outcome = run(arguments, {}, extra);
    QVERIFY2(outcome.exitCode == exitCode, outcome.out + outcome.err);
    // The key the service saw is the one given, and it never showed in the arguments.
    const auto searches = service->searchRequests();
    QVERIFY(!searches.isEmpty());
    QCOMPARE(searches.first().header("x-rapidapi-key"), key.isEmpty() ? ImageService::validKey() : key);
    if (arguments.first() == "fetch")
        QVERIFY(entries(folder).isEmpty());
}

void TestCommandLine::interruptStopsTheRunCleanly() {
    QProcess program;
    program.setProcessEnvironment(environment());
    program.start(QStringLiteral(GLIMMERFETCH_PROGRAM), {"fetch", "-o", folder, "-n", "3", "slow going"});
    QVERIFY(program.waitForStarted());
    program.closeWriteChannel();
    // SIGINT once the first picture is kept and the slow one is arriving.
    QElapsedTimer clock;
    clock.start();
    auto downloading = [&] {
        const QStringList names = entries(folder);
        return names.size() == 2 &&
               names.filter(QRegularExpression("^\\.glimmerfetch-.*\\.part$")).size() == 1;
    };
    while (!downloading() && clock.elapsed() < 30000 && program.state() == QProcess::Running)
        QTest::qWait(20);
    QVERIFY2(downloading(), qPrintable(entries(folder).join(", ") + program.readAllStandardError()));
    ::kill(static_cast<pid_t>(program.processId()), SIGINT);
    QVERIFY(program.waitForFinished(15000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    const QString err = QString::fromUtf8(program.readAllStandardError());
    QVERIFY2(program.exitCode() == 130, qPrintable(err));
    // The picture kept stays; the partial download and the private curl folder are gone.
    const QStringList names = entries(folder);
    QCOMPARE(names.size(), 1);
    QVERIFY2(!names.first().startsWith('.'), qPrintable(names.first()));
    QVERIFY(entries(temp).isEmpty());
    QVERIFY2(err.contains("Stopped") && err.contains("Kept 1 picture in " + folder + "."), qPrintable(err));
}

void TestCommandLine::jsonGivesOneObjectPerResult() {
    // The first five results of "faults": png, a web page, jpeg, a web page, png.
    const Outcome outcome = run({"fetch", "-o", folder, "-n", "3", "--json", "faults"});
    QVERIFY2(outcome.exitCode == 0, outcome.err);
    const QList<QByteArray> lines = outcome.out.trimmed().split('\n');
    QStringList outcomes;
    QStringList keptFiles;
    for (const QByteArray& line : lines) {
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(line, &error);
        QVERIFY2(error.error == QJsonParseError::NoError && document.isObject(), line);
        const QJsonObject result = document.object();
        QCOMPARE(result.value("keyword").toString(), QStringLiteral("faults"));
        QVERIFY2(result.value("address").toString().startsWith(service->baseUrl() + "/img/"), line);
        outcomes << result.value("outcome").toString();
        if (outcomes.last() == "kept") {
            keptFiles << result.value("file").toString();
            QCOMPARE(QFileInfo(keptFiles.last()).absolutePath(), folder);
            QVERIFY2(QFileInfo(keptFiles.last()).isFile(), line);
        } else {
            QVERIFY2(result.value("file").isNull(), line);
            QVERIFY2(!result.value("reason").toString().isEmpty(), line);
        }
    }
    QCOMPARE(outcomes, QStringList({"kept", "skipped", "kept", "skipped", "kept"}));
    QCOMPARE(entries(folder).size(), keptFiles.size());
}

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_cli.moc"
