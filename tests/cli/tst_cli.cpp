#include "base/settings_store.h"
#include "cli/command_line.h"
#include "hostile_files.h"
#include "image_service.h"
#include "sheets/workbook_writer.h"
#include "test_files.h"
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

#include <cerrno>
#include <csignal>
#include <cstring>
#include <memory>
#include <optional>

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
    void interruptWhileReadingAHugeWorkbook();
    void jsonGivesOneObjectPerResult();
    void jsonEndLine_data();
    void jsonEndLine();
    void windowOrCommandLine_data();
    void windowOrCommandLine();

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
    // Two pictures, and no more. A small picture, then one of a megabyte.
    const QByteArray catalog = R"({"slow going": {"results": [
        {"kind": "png", "width": 64, "height": 48}, {"kind": "slow", "rate": 16}, {"kind": "png"}]},
        "twice": {"results": [{"kind": "png"}, {"kind": "jpeg"}]},
        "fills the disk": {"results": [{"kind": "png", "width": 64, "height": 48},
                                       {"kind": "huge", "bytes": 1000000}, {"kind": "png"}]}})";
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
    // Headers, blank lines and spaces around keywords, as lists written by hand have them.
    file.write("Keywords\r\n  alpha \r\n\r\nbeta\n");
    file.close();
    file.setFileName(csv);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("KEYWORD,x\ngamma,not a keyword\n \t,\ndelta,\n");
    file.close();
    WorkbookWriter::writeKeywords({"epsilon", "zeta"}, "Keyword/s", workbook);

    const Outcome outcome = run({"fetch", "-o", folder, "-n", "1", "-k", text, "--keywords", csv, "-k",
                                 workbook, "-k", "-", "omega", " "},
                                "\neta \n\n");
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
    // A terminal command in a value reaches the terminal as marks, not as a command.
    QTest::newRow("terminal escape in a value")
        << QStringList{"--pace", "\x1b]0;owned\x07\x1b[2J", "cat"} << "not \"?]0;owned??[2J\"";
    QTest::newRow("unknown option") << QStringList{"--colour", "red", "cat"} << "Unknown option 'colour'";
    QTest::newRow("no keywords") << QStringList{} << "no keywords";
    QTest::newRow("standard input twice") << QStringList{"-k", "-", "--key-file", "-"} << "standard input";
    QTest::newRow("missing keyword file") << QStringList{"-k", "/nonexistent/list.txt"} << "no such file";
    QTest::newRow("endless keyword file") << QStringList{"-k", "/dev/zero"} << "not a regular file";
    QTest::newRow("folder is a file")
        << QStringList{"-o", "/dev/null", "cat"} << "/dev/null is a file, not a folder";
    QTest::newRow("unknown licence") << QStringList{"--licence", "free", "-s", "commons", "cat"}
                                     << "--licence takes any|commercial|modify|nocredit, not \"free\"";
    QTest::newRow("a licence the original service cannot keep")
        << QStringList{"-s", "contextualweb", "--licence", "modify", "cat"}
        << "Contextual Web Search tells no licence of its pictures, so it cannot keep to \"Commercial use "
           "and "
           "changes\". The sources that tell it: Openverse, Wikimedia Commons, Pexels, Pixabay, All free "
           "sources.";
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
    QTest::addColumn<QString>("key");           // the key given; "" for the one in the settings
    QTest::addColumn<QByteArray>("keyFileEnd"); // a key file ending so; null: no key file
    QTest::addColumn<int>("exitCode");
    const QString wrong = QStringLiteral("not-a-key-of-the-service");
    QTest::newRow("fetch, unknown key in the environment")
        << QStringList{"fetch", "cat"} << wrong << QByteArray() << 3;
    QTest::newRow("fetch, unknown key in a file")
        << QStringList{"fetch", "cat"} << wrong << QByteArray("\n") << 3;
    QTest::newRow("fetch, spent key")
        << QStringList{"fetch", "cat"} << ImageService::quotaKey() << QByteArray() << 3;
    QTest::newRow("test-key, unknown key") << QStringList{"test-key"} << wrong << QByteArray() << 3;
    QTest::newRow("test-key, key in the settings")
        << QStringList{"test-key"} << QString() << QByteArray() << 0;
    QTest::newRow("test-key, key in a file") << QStringList{"test-key", "--source", "contextualweb"}
                                             << ImageService::validKey() << QByteArray("\r\n") << 0;
    QTest::newRow("test-key, key file without a line end")
        << QStringList{"test-key"} << ImageService::validKey() << QByteArray("") << 0;
}

void TestCommandLine::keyVerdicts() {
    QFETCH(QStringList, arguments);
    QFETCH(QString, key);
    QFETCH(QByteArray, keyFileEnd);
    QFETCH(int, exitCode);
    QMap<QString, QString> extra;
    if (!keyFileEnd.isNull()) {
        const QString path = work.filePath("key.txt");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(key.toUtf8() + keyFileEnd);
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
    QList<QByteArray> lines = outcome.out.trimmed().split('\n');
    QCOMPARE(lines.takeLast(),
             "{\"event\":\"end\",\"kept\":3,\"already\":0,\"skipped\":2,\"exit\":0,\"reason\":\"done\"}");
    QStringList outcomes;
    QStringList keptFiles;
    for (const QByteArray& line : lines) {
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(line, &error);
        QVERIFY2(error.error == QJsonParseError::NoError && document.isObject(), line);
        const QJsonObject result = document.object();
        QCOMPARE(result.value("keyword").toString(), QStringLiteral("faults"));
        // What the answer says of the picture comes with it.
        QCOMPARE(result.value("source").toString(), QStringLiteral("contextualweb"));
        QVERIFY2(result.value("title").toString().startsWith("faults "), line);
        QVERIFY2(result.value("source_page").toString().startsWith(service->baseUrl() + "/page/"), line);
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

// Ctrl-C while a keyword file of millions of cells is read ends the program there and then.
void TestCommandLine::interruptWhileReadingAHugeWorkbook() {
    const QString cells = work.filePath("cells.xlsx");
    QVERIFY(Hostile::writeManyCellsXlsx(cells, 4001, 1000));
    QProcess program;
    program.setProcessEnvironment(environment());
    program.start(QStringLiteral(GLIMMERFETCH_PROGRAM), {"fetch", "--json", "-o", folder, "-k", cells});
    QVERIFY(program.waitForStarted());
    // SIGINT once the reading has taken fifty megabytes (the program starts with about twenty): well
    // under way, far from its end.
    const auto residentKilobytes = [&] {
        QFile status(QStringLiteral("/proc/%1/status").arg(program.processId()));
        if (!status.open(QIODevice::ReadOnly))
            return 0L;
        for (const QByteArray& line : status.readAll().split('\n'))
            if (line.startsWith("VmRSS:"))
                return line.mid(6).trimmed().split(' ').first().toLong();
        return 0L;
    };
    while (residentKilobytes() < 50 * 1024 && program.state() == QProcess::Running)
        QTest::qWait(5);
    ::kill(static_cast<pid_t>(program.processId()), SIGINT);
    QVERIFY(program.waitForFinished(30000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 130);
    QCOMPARE(
        program.readAllStandardOutput(),
        "{\"event\":\"end\",\"kept\":0,\"already\":0,\"skipped\":0,\"exit\":130,\"reason\":\"interrupted\"}"
        "\n");
    QVERIFY(service->requests().isEmpty());
}

// The line that ends every fetch with --json, whatever ended it.
void TestCommandLine::jsonEndLine_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("runs");         // into the same folder
    QTest::addColumn<QString>("where");    // "offline", "full disk", a host that does not resolve, or ""
    QTest::addColumn<QString>("end");      // how the last line starts
    QTest::addColumn<QStringList>("says"); // on standard error
    const auto end = [](int kept, int already, int skipped, int exit, const char* reason) {
        return QStringLiteral("{\"event\":\"end\",\"kept\":%1,\"already\":%2,\"skipped\":%3,\"exit\":%4,"
                              "\"reason\":\"%5")
            .arg(kept)
            .arg(already)
            .arg(skipped)
            .arg(exit)
            .arg(QLatin1String(reason));
    };
    QTest::newRow("pictures kept") << QStringList{"twice"} << 1 << "" << end(2, 0, 0, 0, "done\"}")
                                   << QStringList{"Kept 2 pictures"};
    QTest::newRow("nothing new") << QStringList{"twice"} << 2 << "" << end(0, 2, 0, 0, "nothing new\"}")
                                 << QStringList{"Nothing new: 2 pictures found are in the folder already."};
    // One line says what to check, with curl's words; no other keyword is asked.
    const QString check = "Check the internet connection, or the proxy settings, and try again.";
    QTest::newRow("offline") << QStringList{"twice", "cat"} << 1 << "offline"
                             << end(0, 0, 0, 3, "Could not reach 127.0.0.1. ") + check + "\"}"
                             << QStringList{"\nCould not reach 127.0.0.1. " + check +
                                            " (curl: (7) Failed to connect to 127.0.0.1 port 9"};
    QTest::newRow("unresolvable host")
        << QStringList{"twice", "cat"} << 1 << "nowhere.invalid"
        << end(0, 0, 0, 3, "Could not reach nowhere.invalid. ") + check + "\"}"
        << QStringList{"\nCould not reach nowhere.invalid. " + check +
                       " (curl: (6) Could not resolve host: nowhere.invalid)\n"};
    // No free source reached: the same one line; a keyword's terminal command is shown as marks.
    QTest::newRow("all free sources out of reach")
        << QStringList{"-s", "free", "ca\x1b[2Jt"} << 1 << "nowhere.invalid"
        << end(0, 0, 0, 3, "Could not reach nowhere.invalid. ") + check + "\"}"
        << QStringList{"Keywords without pictures (1): ca?[2Jt\nCould not reach nowhere.invalid. " + check +
                       " (curl: (6) Could not resolve host: nowhere.invalid)\n"};
    // Openverse is asked for pictures without credit, Commons' are judged; the same picture met at
    // both is kept once, and found again after its credits were written into it.
    const QStringList free{"-s", "free", "--licence", "nocredit", "--embed-credits", "twice"};
    QTest::newRow("all free sources, no credit")
        << free << 1 << "" << end(1, 1, 1, 0, "done\"}") << QStringList{"Kept 1 picture"};
    QTest::newRow("all free sources, credits inside, nothing new")
        << free << 2 << "" << end(0, 2, 1, 0, "nothing new\"}") << QStringList{"Nothing new"};
    QTest::newRow("usage error") << QStringList{"--count", "x", "cat"} << 1 << ""
                                 << end(0, 0, 0, 2, "--count takes a whole number")
                                 << QStringList{"--count takes"};
    // The disk fills with the second picture: the first stays, the run ends there.
    QTest::newRow("full disk") << QStringList{"fills the disk"} << 1 << "full disk"
                               << end(1, 0, 1, 4, "Cannot save pictures in the folder")
                               << QStringList{"Kept 1 picture in ",
                                              QString::fromLocal8Bit(std::strerror(ENOSPC)) +
                                                  ". The run was stopped."};
}

void TestCommandLine::jsonEndLine() {
    QFETCH(QStringList, arguments);
    QFETCH(int, runs);
    QFETCH(QString, where);
    QFETCH(QString, end);
    QFETCH(QStringList, says);
    QMap<QString, QString> extra;
    if (where == "offline")
        extra.insert("GLIMMERFETCH_SERVICE_HOST", "127.0.0.1:9"); // nothing listens there
    else if (where.endsWith(".invalid"))
        extra.insert("GLIMMERFETCH_SERVICE_HOST", where);
    std::optional<SmallDisk> disk;
    if (where == "full disk") {
        disk.emplace(folder);
        if (!disk->mounted())
            QSKIP(qPrintable(disk->why()));
    }
    Outcome outcome;
    for (int i = 0; i < runs; ++i)
        outcome = run(QStringList{"fetch", "--json", "-o", folder, "-n", "5"} + arguments, {}, extra);
    const QByteArray last = outcome.out.trimmed().split('\n').last();
    QVERIFY2(last.startsWith(end.toUtf8()) && QJsonDocument::fromJson(last).isObject(), last);
    QCOMPARE(outcome.exitCode, QJsonDocument::fromJson(last).object().value("exit").toInt());
    for (const QString& text : says)
        QVERIFY2(outcome.err.contains(text.toUtf8()), outcome.err);
}

// Only no arguments, or Qt's own window options, open the window; anything else is for the command
// line, and what is no command there is a usage error that names the command meant.
void TestCommandLine::windowOrCommandLine_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("says"); // "": the window opens
    QTest::newRow("nothing") << QStringList{} << "";
    QTest::newRow("Qt's platform and style") << QStringList{"-platform", "offscreen", "--style=fusion"} << "";
    QTest::newRow("Qt's flags and geometry") << QStringList{"-reverse", "-geometry", "10x10+0+0"} << "";
    QTest::newRow("mistyped fetch") << QStringList{"fecth", "cat"}
                                    << "unknown command \"fecth\"; did you mean \"fetch\"?";
    QTest::newRow("mistyped test-key") << QStringList{"test-kye"} << "did you mean \"test-key\"?";
    QTest::newRow("mistyped help") << QStringList{"--hlep"}
                                   << "unknown option \"--hlep\"; did you mean \"--help\"?";
    QTest::newRow("unknown option")
        << QStringList{"--bogus"}
        << "unknown option \"--bogus\" (the commands are \"fetch\" and \"test-key\")";
    QTest::newRow("a keyword alone") << QStringList{"cats"} << "unknown command \"cats\"";
    QTest::newRow("Qt option without its value")
        << QStringList{"-platform"} << "unknown option \"-platform\"";
    QTest::newRow("Qt option, then a word")
        << QStringList{"-reverse", "fetch"} << "unknown option \"-reverse\"";
}

void TestCommandLine::windowOrCommandLine() {
    QFETCH(QStringList, arguments);
    QFETCH(QString, says);
    std::vector<QByteArray> bytes{"glimmerfetch"};
    for (const QString& argument : arguments)
        bytes.push_back(argument.toUtf8());
    std::vector<char*> argv;
    for (QByteArray& b : bytes)
        argv.push_back(b.data());
    QCOMPARE(CommandLine::Wanted(static_cast<int>(argv.size()), argv.data()), !says.isEmpty());
    if (says.isEmpty())
        return;
    // Without a display: a window would abort the program.
    const Outcome outcome = run(arguments);
    QCOMPARE(outcome.exitCode, 2);
    QVERIFY2(outcome.err.contains(says.toUtf8()), outcome.err);
    QVERIFY(outcome.out.isEmpty());
}

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_cli.moc"
