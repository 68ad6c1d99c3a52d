#include "base/settings_store.h"
#include "base/waiting.h"
#include "download_fixture.h"
#include "fetch/credits_file.h"
#include "fetch/download_run.h"
#include "keywords/keyword_list.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

// Several downloads at once, with real curl against the local image service over TLS: the folder
// is the one a run of one download after the other leaves (the next keyword's search going out
// while the pictures download), a stop ends every curl, and no host gets more than two downloads at
// once.
class TestParallelRuns : public QObject, public DownloadFixture {
    Q_OBJECT
private slots:
    void initTestCase();
    void init() { QVERIFY(reset()); }
    void cleanup() { folder.reset(); }

    void sameFolderAsOneAtATime_data();
    void sameFolderAsOneAtATime();
    void stopEndsEveryDownload();
    void twoAtOnceAtMostPerHost_data();
    void twoAtOnceAtMostPerHost();

private:
    // What a run leaves: every file in the folder with its bytes (the credits list without the
    // time of each line), and the end message with its details.
    struct Outcome {
        QMap<QString, QByteArray> files;
        QString message;
        QString details;
    };
    // With `stopOnceThere`, the run is stopped once the folder holds these files while a search is
    // out.
    Outcome runAtOnce(const QStringList& keywords, const QString& count, int atOnce,
                      const QStringList& stopOnceThere = {});
    void useLocalhost(const ImageService& server);

    // The outcome of one download after the other, by keywords and count: rows that ask the same
    // compare with the same run.
    QHash<QString, Outcome> oneAtATime;
    QString source; // the source runAtOnce() asks; "" for the original service

    // The same service with every picture held back a moment, as distant servers do: long enough
    // that the second download to a host starts while the first waits, even on a busy machine.
    std::unique_ptr<ImageService> distant;
    // The distant service with every search answer held back too, so that a search is out long enough.
    std::unique_ptr<ImageService> slowSearch;
};

namespace {

// The curls of the test program that are downloads (they write into a file the run holds open) or
// searches.
QStringList curlsThat(bool download) {
    QStringList found;
    for (const QString& pid : DownloadFixture::curlChildren()) {
        QFile commandLine("/proc/" + pid + "/cmdline");
        if (commandLine.open(QIODevice::ReadOnly) && commandLine.readAll().contains("/dev/fd/") == download)
            found << pid;
    }
    return found;
}

} // namespace

namespace {

QJsonObject picture(const QString& kind, int width, int height, int seed, int host = 0) {
    QJsonObject o{{"kind", kind}, {"width", width}, {"height", height}, {"seed", seed}};
    if (host > 0)
        o.insert("url", QStringLiteral("https://pics-%1.localhost:{port}/img/%2/%3x%4/%5/p%5.png")
                            .arg(host)
                            .arg(kind)
                            .arg(width)
                            .arg(height)
                            .arg(2 * seed + 1, 0, 16)); // the service reads the seed in hex, odd
    return o;
}

QJsonObject at(const QString& url, int width, int height) {
    return {{"url", url}, {"width", width}, {"height", height}};
}

// An address that two keywords share: the first keyword's run is over before it reaches it.
const QString Shared = QStringLiteral("https://{host}/img/png/900x900/41/shared.png");

QByteArray catalog() {
    QJsonObject c;
    // Filtered, failed, error pages, copies, redirects and a retry, with more results than wanted.
    c.insert(
        "mixture",
        QJsonObject{{"results", QJsonArray{picture("png", 64, 64, 1), picture("png", 900, 900, 1),
                                           picture("html", 900, 900, 2), picture("notfound", 900, 900, 2),
                                           at("https://{host}/img/png/900x900/1/copy.png", 900, 900),
                                           at("https://{host}/img/redirect/900x900/3/r.png", 900, 900),
                                           at("https://{host}/img/redirect/900x900/3/r.png", 900, 900),
                                           picture("jsonerror", 900, 900, 2), picture("flaky", 800, 800, 4),
                                           picture("cutoff", 800, 800, 5), picture("jpeg", 700, 700, 6),
                                           picture("empty", 700, 700, 6), picture("png", 1000, 600, 7),
                                           picture("png", 900, 900, 8), picture("jpeg", 900, 900, 9),
                                           at(Shared, 900, 900), picture("png", 900, 700, 10)}}});
    c.insert("second", QJsonObject{{"results", QJsonArray{at(Shared, 900, 900), picture("png", 900, 900, 1),
                                                          picture("png", 600, 900, 11),
                                                          picture("redirectloop", 900, 900, 12),
                                                          picture("jpeg", 700, 800, 13)}}});
    // Pictures on several hosts, some of them failing.
    QJsonArray hosts;
    for (int i = 0; i < 14; ++i)
        hosts.append(
            picture(i % 5 == 3 ? "notfound" : (i % 2 ? "jpeg" : "png"), 600 + i, 700, 20 + i, 1 + i % 3));
    c.insert("hosts", QJsonObject{{"results", hosts}});
    // Pictures that take seconds each, on four hosts.
    QJsonArray slow;
    for (int i = 0; i < 12; ++i) {
        QJsonObject o = picture("slow", 600, 600, 30 + i, 1 + i % 4);
        o.insert("url", o.value("url").toString().replace("/slow/", "/slow-2000/"));
        slow.append(o);
    }
    c.insert("slowly", QJsonObject{{"results", slow}});
    QJsonObject oneSlow = slow.at(0).toObject();
    oneSlow.insert("url", oneSlow.value("url").toString().replace("/slow-2000/", "/slow-4000/"));
    c.insert("one slow", QJsonObject{{"results", QJsonArray{oneSlow}}});
    c.insert("always busy", QJsonObject{{"results", QJsonArray{picture("png", 600, 600, 60)}},
                                        {"failFirst", 1000},
                                        {"failStatus", 429}});
    // Hostile answers to a search sent ahead: cut off in its third record, with a NUL and "../" in an
    // address, and far larger than any real one.
    c.insert(
        "cut off",
        QJsonObject{
            {"body",
             R"({"_type":"images","totalCount":3,"value":[)"
             R"({"url":"https://127.0.0.1:1/a.png","height":900,"width":900,"thumbnail":"t"},)"
             R"({"url":"https://127.0.0.1:1/../../etc/p\u0000.png","height":900,"width":900,"thumbnail":"t"},)"
             R"({"url":"https://127.0.0.1:1/b.png","height":90)"}});
    c.insert("huge answer", QJsonObject{{"answerBytes", 40000000}, {"announced", false}});
    // Quick pictures on one host and on four.
    QJsonArray one;
    QJsonArray four;
    for (int i = 0; i < 12; ++i) {
        one.append(picture("png", 600, 600, 50 + i, 1));
        four.append(picture("png", 600, 600, 70 + i, 1 + i % 4));
    }
    c.insert("one host", QJsonObject{{"results", one}});
    // A first page that brings one picture and a second page with the rest.
    QJsonArray pages;
    for (int i = 0; i < 28; ++i)
        pages.append(picture(i % 25 == 24 || i > 25 ? "png" : "notfound", 600, 600, 90 + i, 1 + i % 4));
    c.insert("pages", QJsonObject{{"results", pages}});
    c.insert("four hosts", QJsonObject{{"results", four}});
    return QJsonDocument(c).toJson(QJsonDocument::Compact);
}

} // namespace

void TestParallelRuns::initTestCase() {
    // Made before the run's temporary folder is set, so that its files are not taken for the run's.
    distant = std::make_unique<ImageService>(QStringList{"--latency", "300"}, catalog());
    QVERIFY2(distant->isRunning(), qPrintable(distant->errorText()));
    slowSearch = std::make_unique<ImageService>(QStringList{"--latency", "300", "--search-latency", "2000"},
                                                catalog());
    QVERIFY2(slowSearch->isRunning(), qPrintable(slowSearch->errorText()));
    QVERIFY2(startService(catalog()), qPrintable(service->errorText()));
    useLocalhost(*service);
}

// The service as "localhost": the pictures of its other names (pics-1.localhost, ...) are let
// through as the loopback address.
void TestParallelRuns::useLocalhost(const ImageService& server) {
    qputenv("GLIMMERFETCH_SERVICE_HOST", QByteArray("localhost:") + QByteArray::number(server.port()));
}

TestParallelRuns::Outcome TestParallelRuns::runAtOnce(const QStringList& keywords, const QString& count,
                                                      int atOnce, const QStringList& stopOnceThere) {
    [&] { QVERIFY(reset()); }();
    SettingsStore::write(SettingKey::WidthFilter, "6");
    SettingsStore::write(SettingKey::WidthLimit, "500");
    SettingsStore::write(SettingKey::Parallel, QString::number(atOnce));
    SettingsStore::write(SettingKey::Source, source);
    KeywordList list;
    for (const QString& keyword : keywords)
        list.add(keyword);
    prompts.openFolderAnswers.enqueue(false);
    QTimer watch;
    connect(&watch, &QTimer::timeout, this, [&] {
        const QStringList there = QDir(folder->path()).entryList(QDir::Files | QDir::Hidden);
        if (std::all_of(stopOnceThere.begin(), stopOnceThere.end(),
                        [&](const QString& f) { return there.contains(f); }) &&
            !curlsThat(false).isEmpty())
            RunStop::request();
    });
    if (!stopOnceThere.isEmpty())
        watch.start(10);
    run(list, count);
    watch.stop();
    Outcome outcome;
    const QDir dir(folder->path());
    for (const QString& name : dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)) {
        QByteArray bytes = fileBytes(dir.filePath(name));
        if (name == QLatin1String(CreditsFile::FileName)) {
            static const QRegularExpression time(",\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ,");
            bytes = QString::fromUtf8(bytes).replace(time, ",TIME,").toUtf8();
        }
        outcome.files.insert(name, bytes);
    }
    const auto box = prompts.callsOf("message").value(0);
    outcome.message = QString(box.text).replace(folder->path(), "FOLDER");
    outcome.details = box.details;
    // The downloads still running when enough were kept are ended, and their files gone.
    [&] { QCOMPARE(curlChildren(), QStringList()); }();
    verifyNothingLeft();
    return outcome;
}

void TestParallelRuns::sameFolderAsOneAtATime_data() {
    QTest::addColumn<QStringList>("keywords");
    QTest::addColumn<QString>("count");
    QTest::addColumn<int>("atOnce");
    QTest::addColumn<int>("kept"); // as a check that the rows ask for something
    // Stopped while the search of the keyword after this one is out (0: not stopped); compared with
    // the keywords before it, one download after the other.
    QTest::addColumn<int>("stopAfter");
    QTest::addColumn<QString>("source"); // the stored name; "" for the original service
    // The second keyword's first picture goes while the first keyword's slow one downloads on its host.
    QTest::addColumn<bool>("early");
    const QStringList both{"mixture", "second"};
    QTest::newRow("eight at once, five wanted") << both << "5" << 8 << 8 << 0 << "" << false;
    QTest::newRow("two at once, five wanted") << both << "5" << 2 << 8 << 0 << "" << false;
    QTest::newRow("eight at once, one wanted") << both << "1" << 8 << 2 << 0 << "" << false;
    QTest::newRow("eight at once, more wanted than there are") << both << "12" << 8 << 11 << 0 << "" << false;
    QTest::newRow("several hosts, four at once") << QStringList{"hosts"} << "9" << 4 << 9 << 0 << "" << false;
    QTest::newRow("the next keyword's pictures while a slow one downloads")
        << QStringList{"one slow", "four hosts"} << "3" << 8 << 4 << 0 << "" << true;
    // Its search went ahead and was read early: the run still hears that the service is busy and ends.
    QTest::newRow("the next keyword's search answers busy while a slow picture downloads")
        << QStringList{"one slow", "always busy", "four hosts"} << "3" << 8 << 1 << 0 << "" << false;
    QTest::newRow("the next keyword's answer cut off, NUL and ../ in its addresses")
        << QStringList{"one slow", "cut off", "four hosts"} << "3" << 8 << 4 << 0 << "" << false;
    QTest::newRow("the next keyword's answer too large")
        << QStringList{"one slow", "huge answer", "four hosts"} << "3" << 8 << 4 << 0 << "" << false;
    // Openverse pages its answers: the second keyword's second page is asked for while the third
    // keyword's search is out.
    QTest::newRow("four keywords, one needing a second page, eight at once")
        << QStringList{"second", "pages", "mixture", "four hosts"} << "3" << 8 << 12 << 0 << "openverse"
        << false;
    QTest::newRow("stop while the next search is out")
        << QStringList{"four hosts", "one host", "hosts"} << "9" << 8 << 9 << 1 << "" << false;
}

void TestParallelRuns::sameFolderAsOneAtATime() {
    QFETCH(QStringList, keywords);
    QFETCH(QString, count);
    QFETCH(int, atOnce);
    QFETCH(int, kept);
    QFETCH(int, stopAfter);
    // The answers' addresses name the service: the reference asks the same one.
    if (stopAfter > 0)
        useLocalhost(*slowSearch);
    QFETCH(QString, source);
    this->source = source;
    const QStringList reached = stopAfter > 0 ? keywords.mid(0, stopAfter) : keywords;
    const QString reference = reached.join('|') + '/' + count + (stopAfter > 0 ? "/slow" : "") + source;
    if (!oneAtATime.contains(reference))
        oneAtATime.insert(reference, runAtOnce(reached, count, 1));
    const Outcome one = oneAtATime.value(reference);
    ImageService& used = stopAfter > 0 ? *slowSearch : *service;
    used.clearRequests();
    const Outcome many = runAtOnce(keywords, count, atOnce, stopAfter > 0 ? one.files.keys() : QStringList());
    useLocalhost(*service);
    const auto log = used.requests();
    QFETCH(bool, early);
    if (early)
        QVERIFY(std::any_of(log.begin(), log.end(), [](const auto& request) {
            return request.header("host").startsWith("pics-1.") && request.path.contains("/png/") &&
                   request.openPictures == 2;
        }));
    if (stopAfter > 0) { // the search that was out went while the keyword before still downloaded
        qsizetype search = -1;
        qsizetype lastPicture = -1;
        for (qsizetype i = 0; i < log.size(); ++i)
            if (log.at(i).path.startsWith("/img/"))
                lastPicture = i;
            else if (log.at(i).queryValue("q") == keywords.at(stopAfter))
                search = i;
        QVERIFY(search >= 0 && search < lastPicture);
    }
    QCOMPARE(many.files.keys(), one.files.keys());
    for (const QString& name : one.files.keys())
        QVERIFY2(many.files.value(name) == one.files.value(name), qPrintable(name));
    // The search that was out when the run stopped is not reported; the end box says what was saved.
    const QString saved = one.message.section("\r\n\r\n", -1);
    QCOMPARE(many.message, stopAfter > 0 ? "Downloading was stopped.\r\n\r\n" + saved : one.message);
    QCOMPARE(many.details, one.details);
    QCOMPARE(one.files.size() - (one.files.contains(CreditsFile::FileName) ? 1 : 0), kept);
}

// A stop while eight slow downloads run ends them all at once and leaves none of their files.
void TestParallelRuns::stopEndsEveryDownload() {
    SettingsStore::write(SettingKey::Parallel, "8");
    KeywordList list;
    list.add("slowly");
    list.add("apple");
    int most = 0;
    QTimer watch;
    watch.setInterval(20);
    connect(&watch, &QTimer::timeout, this, [&] {
        // The next keyword's search may be out too.
        most = std::max<int>(most, curlsThat(true).size());
        if (most >= 8)
            RunStop::request();
    });
    watch.start();
    QElapsedTimer clock;
    clock.start();
    const auto summary = run(list, "10");
    watch.stop();
    QCOMPARE(most, 8);
    QVERIFY(summary.stopped);
    QCOMPARE(summary.kept, 0);
    QVERIFY2(clock.elapsed() < 15000, "the stop waited for the downloads");
    QCOMPARE(curlChildren(), QStringList());
    QCOMPARE(folderEntries(), QStringList());
    QCOMPARE(prompts.messages(), QStringList{"Downloading was stopped."});
    verifyNothingLeft();
}

void TestParallelRuns::twoAtOnceAtMostPerHost_data() {
    QTest::addColumn<QString>("keyword");
    QTest::addColumn<int>("hosts");
    QTest::addColumn<int>("count");
    QTest::newRow("one host") << "one host" << 1 << 8;
    QTest::newRow("four hosts") << "four hosts" << 4 << 12;
}

// Every picture is held back a moment, as distant servers do; eight places never put more than two
// downloads on one host, and use both of each host's.
void TestParallelRuns::twoAtOnceAtMostPerHost() {
    QFETCH(QString, keyword);
    QFETCH(int, hosts);
    QFETCH(int, count);
    useLocalhost(*distant);
    distant->clearRequests();
    SettingsStore::write(SettingKey::Parallel, "8");
    KeywordList list;
    list.add(keyword);
    prompts.openFolderAnswers.enqueue(false);
    const auto summary = run(list, QString::number(count));
    useLocalhost(*service);
    QVERIFY2(summary.kept == count, qPrintable(prompts.callsOf("message").value(0).details));
    // The log says, for each picture request, how many to its host were open as it came.
    QHash<QString, int> most;
    for (const auto& request : distant->requests())
        if (request.path.startsWith("/img/"))
            most[request.header("host")] = std::max(most.value(request.header("host")), request.openPictures);
    QCOMPARE(most.size(), hosts);
    for (auto it = most.cbegin(); it != most.cend(); ++it)
        QVERIFY2(it.value() == 2, qPrintable(QStringLiteral("%1: %2 at once").arg(it.key()).arg(it.value())));
    verifyNothingLeft();
}

QTEST_MAIN(TestParallelRuns)
#include "tst_parallel_runs.moc"
