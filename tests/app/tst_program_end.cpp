#include "base/settings_store.h"
#include "fake_prompts.h"
#include "image_service.h"
#include "test_settings.h"
#include "test_windows.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <memory>
#include <unistd.h>

// How the program ends when it is not closed: signals in the middle of a download run, a kill that
// gives it no chance at all, and the next start that removes what a killed run left behind.
class TestProgramEnd : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void signalEndsARunLikeClosing_data();
    void signalEndsARunLikeClosing();
    void killedRunIsTidiedAtTheNextStart();
    void signalWhileLoadingEndsTheProgram();
    void leftoversAtStart_data();
    void leftoversAtStart();

private:
    // Starts the run child on `keywords`, with the settings, temporary folder and service of this test.
    void startRun(QProcess& child, const QStringList& keywords, int downloads = 1);
    QStringList partialDownloads() const { return entries(folder, ".glimmerfetch-*"); }
    QStringList privateFolders() const { return entries(temp, "glimmerfetch-*"); }
    static QStringList entries(const QString& path, const QString& pattern = "*");
    QProcessEnvironment environment() const;

    std::unique_ptr<ImageService> service;
    QString base; // the temporary location of this test
    std::unique_ptr<QTemporaryDir> work;
    QString folder; // the save folder
    QString temp;   // the temporary location of the program under test
    QString config; // its settings (XDG_CONFIG_HOME)
    qint64 deadPid = 0;
};

namespace {

// A key as the settings file names it, for a store of another process.
QString inFile(SettingKey key) {
    return QStringLiteral("Glimmerfetch/") + SettingsStore::storedName(key);
}

// The curl processes, of any parent, that name a path under `root` on their command line.
QStringList curlsUnder(const QString& root) {
    QStringList found;
    for (const QString& pid : QDir("/proc").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile file("/proc/" + pid + "/cmdline");
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QList<QByteArray> arguments = file.readAll().split('\0');
        if (arguments.isEmpty() || !arguments.first().endsWith("curl"))
            continue;
        for (const QByteArray& argument : arguments)
            if (QFile::decodeName(argument).startsWith(root))
                found << pid;
    }
    found.removeDuplicates();
    return found;
}

void writeFile(const QString& path, const QByteArray& bytes = "x") {
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size(), qPrintable(path));
}

} // namespace

void TestProgramEnd::initTestCase() {
    base = QDir::tempPath();
    service = std::make_unique<ImageService>();
    QVERIFY2(service->isRunning(), qPrintable(service->errorText()));
    service->applyToEnvironment();
    // A process id that no longer runs.
    QProcess gone;
    gone.start("true", QStringList());
    QVERIFY(gone.waitForStarted());
    deadPid = gone.processId();
    QVERIFY(gone.waitForFinished());
    QVERIFY(deadPid > 0 && ::kill(static_cast<pid_t>(deadPid), 0) != 0);
}

void TestProgramEnd::init() {
    work = std::make_unique<QTemporaryDir>(base + "/program-end-XXXXXX");
    QVERIFY(work->isValid());
    folder = work->filePath("pictures");
    temp = work->filePath("temp");
    config = work->filePath("config");
    for (const QString& path : {folder, temp, config, work->filePath("runtime")})
        QVERIFY(QDir().mkpath(path));
    QFile::setPermissions(work->filePath("runtime"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    // The settings of a returning user, for this process and for the programs it starts.
    QSettings settings(config + "/Kestrelon/Glimmerfetch.conf", QSettings::IniFormat);
    settings.setValue(inFile(SettingKey::FirstTime), "True");
    settings.setValue(inFile(SettingKey::ApiKey), ImageService::validKey());
    settings.setValue(inFile(SettingKey::SaveFolder), folder + "/");
    settings.setValue(inFile(SettingKey::PicturesPerKeyword), "1");
    settings.sync();
    TestSettings::clear();
    TestSettings::seed(SettingKey::SaveFolder, folder + "/");
    qputenv("TMPDIR", QFile::encodeName(temp));
}

void TestProgramEnd::cleanup() {
    QCOMPARE(curlsUnder(work->path()), QStringList());
    work.reset();
}

QStringList TestProgramEnd::entries(const QString& path, const QString& pattern) {
    return QDir(path).entryList(
        {pattern}, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

QProcessEnvironment TestProgramEnd::environment() const {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", config);
    env.insert("TMPDIR", temp);
    env.insert("XDG_RUNTIME_DIR", work->filePath("runtime"));
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("BROWSER", "true"); // the rare home-page visit at start-up opens nothing
    return env;
}

void TestProgramEnd::startRun(QProcess& child, const QStringList& keywords, int downloads) {
    child.setProcessEnvironment(environment());
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    child.start(GLIMMERFETCH_RUN_CHILD, keywords);
    QVERIFY(child.waitForStarted());
    // The picture trickles in: curl is writing the partial download in the save folder.
    QTRY_VERIFY2_WITH_TIMEOUT(partialDownloads().size() == downloads &&
                                  curlsUnder(work->path()).size() == downloads,
                              qPrintable(QStringLiteral("%1 partial downloads, %2 curl")
                                             .arg(partialDownloads().size())
                                             .arg(curlsUnder(work->path()).size())),
                              60000);
    const QStringList folders = privateFolders();
    QCOMPARE(folders.size(), 1);
    const QString pid = QString::number(child.processId());
    QVERIFY2(folders.first().startsWith("glimmerfetch-" + pid + "-"), qPrintable(folders.first()));
    QVERIFY2(partialDownloads().first().startsWith(".glimmerfetch-" + pid + "-"),
             qPrintable(partialDownloads().first()));
}

void TestProgramEnd::signalEndsARunLikeClosing_data() {
    QTest::addColumn<int>("signalNumber");
    QTest::addColumn<int>("downloads"); // at once (one host: two at most)
    QTest::newRow("SIGTERM, as the session ends") << int(SIGTERM) << 1;
    QTest::newRow("SIGINT, Ctrl+C") << int(SIGINT) << 1;
    QTest::newRow("SIGHUP, the terminal goes") << int(SIGHUP) << 1;
    QTest::newRow("SIGTERM, several downloads at once") << int(SIGTERM) << 2;
}

void TestProgramEnd::signalEndsARunLikeClosing() {
    QFETCH(int, signalNumber);
    QFETCH(int, downloads);
    if (downloads > 1) {
        QSettings settings(config + "/Kestrelon/Glimmerfetch.conf", QSettings::IniFormat);
        settings.setValue(inFile(SettingKey::Parallel), "8");
        settings.setValue(inFile(SettingKey::PicturesPerKeyword), "10");
        settings.setValue(inFile(SettingKey::Pace), "none");
    }
    QProcess child;
    startRun(child, {"kind-slow"}, downloads);
    QVERIFY(::kill(static_cast<pid_t>(child.processId()), signalNumber) == 0);
    QVERIFY(child.waitForFinished(60000));
    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    QCOMPARE(child.exitCode(), 0);
    // curl ended, the partial download and the private folder removed.
    QCOMPARE(curlsUnder(work->path()), QStringList());
    QCOMPARE(entries(folder), QStringList());
    QCOMPARE(entries(temp), QStringList());
}

void TestProgramEnd::killedRunIsTidiedAtTheNextStart() {
    QProcess child;
    startRun(child, {"kind-slow"});
    const QStringList partial = partialDownloads();
    const QStringList privateFolder = privateFolders();
    child.kill();
    QVERIFY(child.waitForFinished(60000));
    QCOMPARE(child.exitStatus(), QProcess::CrashExit);
    // curl goes with the program, well before its own time limit would end the trickle.
    QTRY_COMPARE_WITH_TIMEOUT(curlsUnder(work->path()), QStringList(), 20000);
    // A killed program removes nothing itself.
    QCOMPARE(partialDownloads(), partial);
    QCOMPARE(privateFolders(), privateFolder);

    // Beside them, those of a process that still runs (this one).
    const QString me = QString::number(::getpid());
    const QString livePartial = ".glimmerfetch-" + me + "-00112233445566ff.part";
    const QString liveFolder = "glimmerfetch-" + me + "-Live01";
    writeFile(folder + "/" + livePartial);
    QVERIFY(QDir(temp).mkdir(liveFolder));
    writeFile(temp + "/" + liveFolder + "/curl-ca-bundle.crt");

    // The program itself, started again on the same settings, removes the leftovers of the killed
    // one at start-up and leaves the others; then it ends on SIGTERM like a closed window.
    QProcess program;
    program.setProcessEnvironment(environment());
    program.setProcessChannelMode(QProcess::ForwardedChannels);
    program.start(GLIMMERFETCH_PROGRAM, QStringList());
    QVERIFY(program.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(partialDownloads() == QStringList{livePartial}, 60000);
    QCOMPARE(privateFolders(), QStringList{liveFolder});
    QCOMPARE(entries(temp + "/" + liveFolder), QStringList{"curl-ca-bundle.crt"});
    QVERIFY(::kill(static_cast<pid_t>(program.processId()), SIGTERM) == 0);
    QVERIFY(program.waitForFinished(60000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
}

void TestProgramEnd::signalWhileLoadingEndsTheProgram() {
    // A first start: the help box is up before the main window is shown.
    QFile::remove(config + "/Kestrelon/Glimmerfetch.conf");
    QProcess program;
    program.setProcessEnvironment(environment());
    program.setProcessChannelMode(QProcess::ForwardedChannels);
    program.start(GLIMMERFETCH_PROGRAM, QStringList());
    QVERIFY(program.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(QSettings(config + "/Kestrelon/Glimmerfetch.conf", QSettings::IniFormat)
                                     .value(inFile(SettingKey::FirstTime))
                                     .toString() == "True",
                             60000);
    QVERIFY(::kill(static_cast<pid_t>(program.processId()), SIGTERM) == 0);
    QVERIFY(program.waitForFinished(60000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
}

void TestProgramEnd::leftoversAtStart_data() {
    // Where the entry is made, its name ("%1" is the process id), whose process id, what it is, and
    // whether start-up removes it.
    QTest::addColumn<QString>("where");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("dead");
    QTest::addColumn<QString>("kind"); // file, folder (with the run's files in it), link to a file or folder
    QTest::addColumn<bool>("foreign"); // owned by another user
    QTest::addColumn<bool>("removed");
    const QString part = ".glimmerfetch-%1-0123456789abcdef.part";
    const QString priv = "glimmerfetch-%1-Ab3xYz";
    QTest::newRow("partial download, dead") << "folder" << part << true << "file" << false << true;
    QTest::newRow("partial download, running") << "folder" << part << false << "file" << false << false;
    QTest::newRow("partial download, another user's") << "folder" << part << true << "file" << true << false;
    QTest::newRow("partial download, capital hex digits")
        << "folder"
        << ".glimmerfetch-%1-0123456789ABCDEF.part" << true << "file" << false << false;
    QTest::newRow("partial download, 15 hex digits")
        << "folder"
        << ".glimmerfetch-%1-0123456789abcde.part" << true << "file" << false << false;
    QTest::newRow("partial download, more after the name")
        << "folder" << part + ".jpg" << true << "file" << false << false;
    QTest::newRow("partial download, a line break after the name") << "folder" << part + "\n"
                                                                   << true << "file" << false << false;
    QTest::newRow("partial download, no process id")
        << "folder"
        << ".glimmerfetch--0123456789abcdef.part" << true << "file" << false << false;
    QTest::newRow("partial download name on a folder")
        << "folder" << part << true << "folder" << false << false;
    QTest::newRow("partial download name on a link") << "folder" << part << true << "link" << false << false;
    QTest::newRow("partial download in the temporary location")
        << "temp" << part << true << "file" << false << false;
    QTest::newRow("private folder, dead") << "temp" << priv << true << "folder" << false << true;
    QTest::newRow("private folder, running") << "temp" << priv << false << "folder" << false << false;
    QTest::newRow("private folder, another user's") << "temp" << priv << true << "folder" << true << false;
    QTest::newRow("private folder name on a file") << "temp" << priv << true << "file" << false << false;
    QTest::newRow("private folder name on a link to a folder")
        << "temp" << priv << true << "link" << false << false;
    QTest::newRow("private folder in the save folder")
        << "folder" << priv << true << "folder" << false << false;
    QTest::newRow("private folder, leading zero")
        << "temp"
        << "glimmerfetch-0%1-Ab3xYz" << true << "folder" << false << false;
    QTest::newRow("private folder, seven letters")
        << "temp"
        << "glimmerfetch-%1-Ab3xYz7" << true << "folder" << false << false;
    QTest::newRow("older private folder without a process id")
        << "temp"
        << "glimmerfetch-Ab3xYz" << true << "folder" << false << false;
    QTest::newRow("the demo's folder") << "temp"
                                       << "glimmerfetch_demo.Ab3xYz" << true << "folder" << false << false;
    QTest::newRow("the image service's folder")
        << "temp"
        << "glimmerfetch-image-service-Ab3xYz" << true << "folder" << false << false;
}

void TestProgramEnd::leftoversAtStart() {
    QFETCH(QString, where);
    QFETCH(QString, name);
    QFETCH(bool, dead);
    QFETCH(QString, kind);
    QFETCH(bool, foreign);
    QFETCH(bool, removed);
    if (foreign && ::geteuid() != 0)
        QSKIP("making a file of another user needs root");

    const QString parent = where == "folder" ? folder : temp;
    const QString path =
        parent + "/" + QString(name).replace("%1", QString::number(dead ? deadPid : qint64(::getpid())));
    // What a link points at lies outside both folders.
    const QString outside = work->filePath("outside");
    QVERIFY(QDir().mkpath(outside));
    writeFile(outside + "/file");
    if (kind == "file") {
        writeFile(path);
    } else if (kind == "folder") {
        QVERIFY(QDir().mkdir(path));
        writeFile(path + "/curl-ca-bundle.crt");
        writeFile(path + "/message.txt");
    } else {
        QVERIFY(QFile::link(where == "folder" ? outside + "/file" : outside, path));
    }
    if (foreign) {
        // Names that this kind does not have fail, and are meant to.
        for (const QString& p : QStringList{path + "/curl-ca-bundle.crt", path + "/message.txt", path})
            [[maybe_unused]] const int ignored = ::lchown(QFile::encodeName(p).constData(), 65534, 65534);
    }

    FakePrompts prompts;
    auto form = startSeenForm1(prompts);
    QVERIFY(prompts.messages().isEmpty());

    const QFileInfo after(path);
    QCOMPARE(!after.exists() && !after.isSymLink(), removed);
    // Nothing outside is touched, whatever the links say.
    QCOMPARE(entries(outside), QStringList{"file"});
    if (!removed && kind == "folder")
        QCOMPARE(entries(path), (QStringList{"curl-ca-bundle.crt", "message.txt"}));
}

QTEST_MAIN(TestProgramEnd)
#include "tst_program_end.moc"
