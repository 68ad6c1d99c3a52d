#include "base/globals.h"
#include "base/settings_store.h"
#include "download_fixture.h"
#include "fetch/download_run.h"
#include "fetch/key_test.h"
#include "fetch/limits.h"
#include "fetch/run_report.h"
#include "keywords/keyword_list.h"

#include "base/error_report.h"
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QSet>
#include <QTcpServer>
#include <QTest>
#include <QTimer>

#include <unistd.h>

// Hostile keywords, answers and downloads, and runs that end otherwise than planned, with real curl
// against the local image service over TLS: nothing leaves the chosen folder, nothing is replaced,
// only pictures are kept, and the end box says what happened.
class TestDownloadSafety : public QObject, public DownloadFixture {
    Q_OBJECT
private slots:
    void initTestCase();
    void init() { QVERIFY(reset()); }
    void cleanup() { folder.reset(); }

    void keywordsNameFilesInsideTheFolderOnly();
    void folderWithoutTrailingSeparator();
    void onlyPicturesAreKept();
    void nothingKeptSaysWhy();
    void noPictureIsKeptTwice();
    void addressesOnThisComputerAreNotFetched();
    void unreadableSizesAreCountedOnce();
    void unreachableServiceIsNamed();
    void oversizedAnswerIsRefused_data();
    void oversizedAnswerIsRefused();
    void folderRemovedMidRunStopsTheRun();
    void readOnlyFolderIsRefusedAtTheStart();
    void fullDiskStopsTheRun();
    void downloadSwappedForALinkIsNotKept();
    void userCurlConfigurationIsNotRead();
    void tricklingAnswerEndsAtTheStallLimit();

private:
    QTcpServer localAdmin; // a service of the user's own machine that no answer may reach
    int localAdminConnections = 0;
};

namespace {

QByteArray catalogFor(quint16 adminPort) {
    return QStringLiteral(R"({
  "../.config/autostart/evil": {"results": [{"kind": "png", "ext": "desktop"}]},
  "hostile": {"results": [
      {"kind": "empty"}, {"kind": "forbidden"}, {"kind": "denied"}, {"kind": "okdenied"}, {"kind": "lfhtml"},
      {"kind": "svgscript", "ext": "svg"}, {"kind": "text"}, {"kind": "pngstatus-404"},
      {"kind": "svg", "ext": "svg", "width": 40, "height": 30}, {"kind": "jpegerror", "ext": "jpg"},
      {"kind": "png", "ext": "jpg"}]},
  "junk": {"results": [{"kind": "forbidden"}, {"kind": "denied"}, {"kind": "text"}, {"kind": "forbidden"},
      {"kind": "empty"}]},
  "local": {"results": [
      {"kind": "redirectadmin-%1"}, {"kind": "redirectlocal"},
      {"url": "https://localhost:1/img/png/64x64/3/c.png", "width": 64, "height": 64},
      {"url": "http://[::1]:1/img/png/64x64/4/d.png", "width": 64, "height": 64},
      {"url": "http://169.254.169.254/latest/meta-data/e.png", "width": 64, "height": 64}]},
  "unreadable": {"body": "{\"_type\":\"images\",\"totalCount\":3,\"value\":[{\"url\":\"https:\\/\\/example.com\\/a.png\",\"height\":10,\"width\":\"abc\",\"x\":1},{\"url\":\"https:\\/\\/example.com\\/b.png\",\"height\":\"1e99\",\"width\":10,\"x\":1},{\"url\":\"https:\\/\\/example.com\\/c.png\",\"height\":\"tall\",\"width\":10,\"x\":1}]}"},
  "huge": {"answerBytes": 40000000},
  "huge unannounced": {"answerBytes": 40000000, "announced": false},
  "twice": {"results": [{"url": "https://{host}/img/png/64x64/7/same.png", "width": 64, "height": 64},
      {"url": "https://{host}/img/png/64x64/7/same.png", "width": 64, "height": 64},
      {"url": "https://{host}/img/png/64x64/7/copy.png", "width": 64, "height": 64}, {"kind": "jpeg"}]},
  "trickle": {"trickle": 5000, "results": [{"kind": "png"}]},
  "swapped": {"results": [{"kind": "slow", "rate": 800, "width": 32, "height": 32, "ext": "png"}]},
  "slowly": {"results": [{"kind": "slow", "rate": 8000}, {"kind": "slow", "rate": 8000}, {"kind": "slow", "rate": 8000},
      {"kind": "slow", "rate": 8000}]}
})")
        .arg(adminPort)
        .toUtf8();
}

QString unreachableStart(int curlCode) {
    return RunTexts::unreachable(QStringLiteral("curl: (%1) ").arg(curlCode));
}

} // namespace

void TestDownloadSafety::initTestCase() {
    QVERIFY(localAdmin.listen(QHostAddress::LocalHost));
    connect(&localAdmin, &QTcpServer::newConnection, this, [this] {
        ++localAdminConnections;
        delete localAdmin.nextPendingConnection();
    });
    QVERIFY2(startService(catalogFor(localAdmin.serverPort())), qPrintable(service->errorText()));
}

void TestDownloadSafety::keywordsNameFilesInsideTheFolderOnly() {
    // The pictures folder sits in a folder that holds the user's own dot file.
    QVERIFY(QDir(folder->path()).mkdir("pictures"));
    const QString home = folder->path();
    prefix = home + "/pictures/";
    QFile bashrc(home + "/.bashrc");
    QVERIFY(bashrc.open(QIODevice::WriteOnly));
    bashrc.write("export PATH=$HOME/bin:$PATH\n");
    bashrc.close();

    KeywordList list;
    for (const QString& k : {QString("../escaped"), QString("../.bashrc") + QChar(0), QString("AC/DC"),
                             QString(".."), QString("."), QString("../.config/autostart/evil")})
        list.add(k);
    const auto summary = run(list, "1");

    const QStringList inside =
        QDir(prefix).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    // A leading dot is replaced: no picture is hidden.
    QCOMPARE(inside, QStringList({"AC_DC 1.jpg", "_._.bashrc_ 1.jpg", "_._.config_autostart_evil 1.png",
                                  "_._escaped 1.jpg", "credits.csv"}));
    QCOMPARE(QDir(home).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name),
             QStringList({".bashrc", "pictures"}));
    QCOMPARE(fileBytes(home + "/.bashrc"), QByteArray("export PATH=$HOME/bin:$PATH\n"));
    QCOMPARE(summary.searches, 4); // "." and ".." are not searched
    QCOMPARE(prompts.messages(),
             QStringList{Download::DoneText() +
                         "\r\n\r\nSkipped, because they cannot name a file: \"..\", \".\"." +
                         "\r\n\r\n4 pictures saved in " + home + "/pictures."});
}

void TestDownloadSafety::folderWithoutTrailingSeparator() {
    KeywordList list;
    list.add("cat");
    prefix = folder->path(); // typed by hand, without its "/"
    run(list, "2");
    QCOMPARE(folderEntries().size(), 2);
    QVERIFY(folderEntries().first().startsWith("cat 1."));
    QVERIFY(!QFileInfo::exists(folder->path() + "cat 1.jpg"));
    QCOMPARE(prompts.messages(), QStringList{done(2)});
}

void TestDownloadSafety::onlyPicturesAreKept() {
    KeywordList list;
    list.add("hostile");
    const auto results = answer("hostile");
    QCOMPARE(results.size(), 11);
    const auto summary = run(list, "50");

    // The real SVG, the JPEG whose first line holds "error", and the PNG at a ".jpg" address (kept
    // under its content's extension); nothing else.
    const QStringList expected{"hostile 1.svg", "hostile 2.jpg", "hostile 3.png"};
    QCOMPARE(summary.keptFiles.size(), 3);
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(QFileInfo(summary.keptFiles[i]).fileName(), expected[i]);
        QVERIFY2(fileBytes(summary.keptFiles[i]) ==
                     ImageService::pictureBytes(service->baseUrl() + results[8 + i].downloadPath()),
                 qPrintable(expected[i]));
    }
    QCOMPARE(folderEntries(), expected);
    QCOMPARE(summary.downloads, 11);
    QCOMPARE(prompts.messages(), QStringList{done(3)});
    verifyNothingLeft();
}

void TestDownloadSafety::nothingKeptSaysWhy() {
    KeywordList list;
    list.add("junk");
    run(list, "5");
    QCOMPARE(folderEntries(), QStringList());
    QCOMPARE(prompts.messages(),
             QStringList{"No pictures were saved.\r\n\r\nResults looked at: 5\r\nFiltered by "
                         "width or height: 0\r\nNot pictures: 2\r\nFailed to download: 3\r\n"
                         "Most frequent reason: HTTP 403"});
    verifyNothingLeft();
}

// A second run of the same keyword keeps new pictures instead of copies of the first run's, and
// within a run neither the same address nor the same bytes at another address is kept twice.
void TestDownloadSafety::noPictureIsKeptTwice() {
    KeywordList list;
    list.add("apple");
    const auto first = run(list, "3");
    QCOMPARE(first.kept, 3);
    prompts.reset();
    const auto second = run(list, "3");
    QCOMPARE(second.kept, 3);
    QCOMPARE(folderEntries().size(), 6);
    QSet<QByteArray> contents;
    for (const QString& name : folderEntries())
        contents.insert(fileBytes(folder->filePath(name)));
    QCOMPARE(contents.size(), 6);
    const QString done3 = done(3);
    QCOMPARE(
        prompts.messages(),
        QStringList{
            done3.left(done3.lastIndexOf("\r\n\r\n")) +
            "\r\n\r\n3 pictures were already in the folder and not saved again.\r\n\r\n3 pictures saved in " +
            folder->path() + "."});

    list.clear();
    list.add("twice");
    prompts.reset();
    service->clearRequests();
    const auto summary = run(list, "4");
    QCOMPARE(summary.kept, 2); // same.png and the JPEG; copy.png has same.png's bytes
    QCOMPARE(pictureRequests().size(), 3);
}

void TestDownloadSafety::addressesOnThisComputerAreNotFetched() {
    KeywordList list;
    list.add("local");
    run(list, "5");

    // Redirects to a local service and to the service through "localhost", and answers that point
    // at loopback, link-local and IPv6 loopback addresses: none is asked, nothing is kept.
    QCOMPARE(folderEntries(), QStringList());
    QCOMPARE(localAdminConnections, 0);
    QCOMPARE(pictureRequests().size(), 2); // the two redirects themselves, not where they point
    for (const auto& r : service->requests())
        QVERIFY2(!r.header("host").startsWith("localhost"), qPrintable(r.header("host")));
    QCOMPARE(prompts.messages(),
             QStringList{"No pictures were saved.\r\n\r\nResults looked at: 5\r\nFiltered by "
                         "width or height: 0\r\nNot pictures: 0\r\nFailed to download: 5\r\n"
                         "Most frequent reason: address on this computer or the local network"});
    verifyNothingLeft();
}

void TestDownloadSafety::unreadableSizesAreCountedOnce() {
    KeywordList list;
    list.add("unreadable");
    run(list, "3");
    // One box, no "Application Error" for each result.
    QCOMPARE(prompts.messages(),
             QStringList{"No pictures were saved.\r\n\r\nResults looked at: 3\r\nFiltered by "
                         "width or height: 0\r\nCould not be read: 3\r\nNot pictures: 0\r\n"
                         "Failed to download: 0"});
    QVERIFY(pictureRequests().isEmpty());
}

void TestDownloadSafety::unreachableServiceIsNamed() {
    const QByteArray host = qgetenv("GLIMMERFETCH_SERVICE_HOST");
    qputenv("GLIMMERFETCH_SERVICE_HOST", "127.0.0.1:1");
    KeywordList list;
    list.add("cat");
    run(list);
    SurfaceState dialog(&prompts);
    ErrorTrap trap(prompts, "Form3.PushButton3_Click");
    Search::KeyTest(dialog, trap, Sources::Source::ContextualWeb, "typed", ImageService::validKey());
    qputenv("GLIMMERFETCH_SERVICE_HOST", host);
    // The run's box names the host, with curl's words in its details; the key test's box says both.
    const QString curlSays = "curl: (7) Failed to connect to 127.0.0.1 port 1";
    QCOMPARE(prompts.messages().size(), 2);
    QCOMPARE(prompts.messages().at(0), RunTexts::cannotReach("127.0.0.1"));
    QVERIFY2(prompts.calls.at(0).details.contains(curlSays), qPrintable(prompts.calls.at(0).details));
    QVERIFY2(prompts.messages().at(1).startsWith(RunTexts::cannotReach("127.0.0.1") + "\r\n\r\n" + curlSays),
             qPrintable(prompts.messages().at(1)));
}

void TestDownloadSafety::oversizedAnswerIsRefused_data() {
    QTest::addColumn<QString>("keyword");
    QTest::addColumn<int>("curlCode");
    QTest::newRow("size announced: curl refuses it") << "huge" << 63;
    QTest::newRow("size not announced: the file size limit cuts it") << "huge unannounced" << 23;
}

void TestDownloadSafety::oversizedAnswerIsRefused() {
    QFETCH(QString, keyword);
    QFETCH(int, curlCode);
    KeywordList list;
    list.add(keyword);
    run(list);
    const QString tooLarge = RunTexts::answerTooLarge(QStringLiteral("curl: (%1) ").arg(curlCode));
    QVERIFY2(prompts.messages().value(0).startsWith(tooLarge), qPrintable(prompts.messages().value(0)));
    QVERIFY(pictureRequests().isEmpty());
    verifyNothingLeft();
}

void TestDownloadSafety::folderRemovedMidRunStopsTheRun() {
    KeywordList list;
    list.add("slowly");
    list.add("cat");
    QTimer poll;
    poll.setInterval(10);
    connect(&poll, &QTimer::timeout, this, [&] {
        if (!pictureRequests().isEmpty() && QFileInfo::exists(folder->path())) {
            poll.stop();
            QVERIFY(QDir(folder->path()).removeRecursively());
        }
    });
    poll.start();
    const auto summary = run(list, "4");
    poll.stop();
    QCOMPARE(summary.searches, 1);
    QVERIFY2(pictureRequests().size() <= 2, qPrintable(pictureRequests().join(", ")));
    QCOMPARE(prompts.messages(), QStringList{"Cannot save pictures in the folder \"" + folder->path() +
                                             "\": No such file or directory. The run was stopped."});
    QVERIFY(!QFileInfo::exists(folder->path()));
}

void TestDownloadSafety::readOnlyFolderIsRefusedAtTheStart() {
    if (::geteuid() == 0)
        QSKIP("the superuser writes into read-only folders");
    QVERIFY(QFile::setPermissions(folder->path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    KeywordList list;
    list.add("cat");
    const auto summary = run(list);
    QFile::setPermissions(folder->path(),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QCOMPARE(summary.searches, 0);
    QCOMPARE(prompts.messages(), QStringList{"Cannot save pictures in the folder \"" + folder->path() +
                                             "\": Permission denied."});
}

// A file system of 96 KiB: the first picture fits, the next downloads find the disk full.
void TestDownloadSafety::fullDiskStopsTheRun() {
    const QString small = folder->path();
    QProcess mount;
    mount.start("mount", {"-t", "tmpfs", "-o", "size=96k", "tmpfs", small});
    if (!mount.waitForFinished(10000) || mount.exitCode() != 0)
        QSKIP("no file system of our own can be mounted here");
    struct Unmount {
        QString path;
        ~Unmount() { QProcess::execute("umount", {path}); }
    } unmount{small};

    KeywordList list;
    list.add("apple");
    list.add("dog");
    const auto summary = run(list, "10");
    QVERIFY(summary.kept >= 1);
    QCOMPARE(summary.searches, 1);
    QCOMPARE(prompts.messages(),
             QStringList{"Cannot save pictures in the folder \"" + small +
                         "\": No space left on device. The run was stopped.\r\n\r\n" +
                         QString::number(summary.kept) + (summary.kept == 1 ? " picture" : " pictures") +
                         " saved in " + small + "."});
    for (const QString& name : folderEntries())
        QVERIFY2(name.startsWith("apple ") && !QImage(small + "/" + name).isNull(), qPrintable(name));
}

// Someone else who may write in the folder swaps the partial download for a link to a picture of
// theirs while curl writes it: curl's bytes do not go through the link, and the link is not kept.
void TestDownloadSafety::downloadSwappedForALinkIsNotKept() {
    QTemporaryDir elsewhere(folder->path() + "/../victim-XXXXXX");
    const QString victim = elsewhere.filePath("victim.png");
    const QByteArray victimBytes = ImageService::pictureBytes(service->baseUrl() + "/img/png/16x16/9/v.png");
    QFile file(victim);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(victimBytes) == victimBytes.size());
    file.close();
    QTimer poll;
    QString swapped;
    connect(&poll, &QTimer::timeout, this, [&] {
        const QStringList parts =
            QDir(folder->path()).entryList({".glimmerfetch-*.part"}, QDir::Files | QDir::Hidden);
        if (parts.isEmpty() || !swapped.isEmpty())
            return;
        swapped = folder->filePath(parts.first());
        QVERIFY(QFile::remove(swapped) && QFile::link(victim, swapped));
    });
    poll.start(2);
    KeywordList list;
    list.add("swapped");
    const auto summary = run(list, "1");
    poll.stop();
    QVERIFY(!swapped.isEmpty());
    QCOMPARE(summary.kept, 0);
    QCOMPARE(fileBytes(victim), victimBytes);
    QCOMPARE(QDir(folder->path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList());
    QVERIFY2(prompts.callsOf("message").value(0).details.endsWith(
                 "skipped: the file was replaced during the download"),
             qPrintable(prompts.callsOf("message").value(0).details));
    verifyNothingLeft();
}

// curl reads no configuration of the user's: a ~/.curlrc that adds a header, follows redirects
// and sends everything through a proxy changes nothing.
void TestDownloadSafety::userCurlConfigurationIsNotRead() {
    QTemporaryDir home;
    QFile rc(home.filePath(".curlrc"));
    QVERIFY(rc.open(QIODevice::WriteOnly));
    rc.write("header = \"X-From-Curlrc: yes\"\nlocation\nproxy = \"http://127.0.0.1:9\"\n");
    rc.close();
    const QByteArray savedHome = qgetenv("HOME");
    qputenv("HOME", QFile::encodeName(home.path()));
    qputenv("CURL_HOME", QFile::encodeName(home.path()));
    KeywordList list;
    list.add("cat");
    const auto summary = run(list, "1");
    qputenv("HOME", savedHome);
    qunsetenv("CURL_HOME");
    QCOMPARE(summary.kept, 1);
    QVERIFY(!service->requests().isEmpty());
    for (const auto& request : service->requests())
        QVERIFY2(!request.hasHeader("x-from-curlrc"), qPrintable(request.path));
}

void TestDownloadSafety::tricklingAnswerEndsAtTheStallLimit() {
    // The stall limit, half a minute, is reached in one second here: the search is tried four times.
    struct ShortStall {
        ShortStall() { Limits::setStallSeconds(1); }
        ~ShortStall() { Limits::setStallSeconds(0); }
    } shortStall;
    KeywordList list;
    list.add("trickle");
    run(list);
    QVERIFY2(prompts.messages().value(0).startsWith(unreachableStart(28) + "Operation too slow."),
             qPrintable(prompts.messages().value(0)));
    // A time-out is worth three more tries, each ended by the same limit.
    QCOMPARE(service->searchRequests().size(), 4);
    verifyNothingLeft();
}

QTEST_MAIN(TestDownloadSafety)
#include "tst_download_safety.moc"
