#include "base/settings_store.h"
#include "download_fixture.h"
#include "fetch/download_run.h"
#include "fetch/retry.h"
#include "fetch/run_report.h"
#include "keywords/keyword_list.h"
#include "test_settings.h"

#include "app/form1.h"
#include "base/globals.h"

#include <QElapsedTimer>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QTcpServer>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <optional>

// A busy service and flaky servers, with real curl against the local image service over TLS: what
// may succeed a moment later is tried again, what cannot is not, and the bar says why it waits.
class TestRunControl : public QObject, public DownloadFixture {
    Q_OBJECT
private slots:
    void initTestCase();
    void init() { QVERIFY(reset()); }
    void cleanup() { folder.reset(); }

    void searchRetries_data();
    void searchRetries();
    void searchWaits_data();
    void searchWaits();
    void downloadAgain_data();
    void downloadAgain();
    void finalBusyAnswerEndsTheRun_data();
    void finalBusyAnswerEndsTheRun();
    void downloadRetries_data();
    void downloadRetries();
    void stopMidRun_data();
    void stopMidRun();
    void detailsSayWhatBecameOfEachResult_data();
    void detailsSayWhatBecameOfEachResult();
};

namespace {

const QByteArray catalog = R"({
  "busy": {"failFirst": 2, "failStatus": 503, "results": [{"kind": "png"}]},
  "per minute": {"failFirst": 1, "failStatus": 429, "retryAfter": 1,
      "failBody": "{\"message\":\"Too many requests per minute, slow down.\"}", "results": [{"kind": "png"}]},
  "always busy": {"failFirst": 99, "failStatus": 502, "failBody": "<html>Bad Gateway</html>", "results": []},
  "for an hour": {"failFirst": 99, "failStatus": 429, "retryAfter": 3600,
      "failBody": "{\"message\":\"Too many requests; come back in an hour.\"}", "results": []},
  "at once": {"failFirst": 99, "failStatus": 429, "retryAfter": 0,
      "failBody": "{\"message\":\"Too many requests per second.\"}", "results": []},
  "gone": {"failFirst": 99, "failStatus": 403, "failBody": "{\"message\":\"Access denied.\"}", "results": []},
  "flaky": {"results": [{"kind": "flaky"}]},
  "missing": {"results": [{"kind": "notfound"}, {"kind": "forbidden"}]},
  "slowly": {"results": [{"kind": "slow", "rate": 8000}, {"kind": "slow", "rate": 8000},
      {"kind": "slow", "rate": 8000}, {"kind": "slow", "rate": 8000}, {"kind": "slow", "rate": 8000}]},
  "mixed": {"results": [{"kind": "png", "width": 64, "height": 64}, {"kind": "png", "width": 900, "height": 900, "seed": 1},
      {"kind": "html"}, {"kind": "notfound"}, {"url": "https://{host}/img/png/900x900/1/x.png", "width": 900,
      "height": 900}]}
})";

} // namespace

void TestRunControl::initTestCase() {
    QVERIFY2(startService(catalog), qPrintable(service->errorText()));
}

void TestRunControl::searchRetries_data() {
    QTest::addColumn<QString>("keyword");
    QTest::addColumn<QString>("key");
    QTest::addColumn<int>("searches");
    QTest::addColumn<int>("kept");
    QTest::addColumn<QString>("message"); // when nothing is kept
    QTest::newRow("503 twice, then the answer") << "busy" << ImageService::validKey() << 3 << 1 << "";
    QTest::newRow("429 per minute, Retry-After") << "per minute" << ImageService::validKey() << 2 << 1 << "";
    QTest::newRow("5xx every time: three more tries")
        << "always busy" << ImageService::validKey() << 4 << 0
        << "The image search service answered with an error (HTTP 502).";
    QTest::newRow("429 asking for an hour is final")
        << "for an hour" << ImageService::validKey() << 1 << 0
        << "Nothing found.\r\n\r\nToo many requests; come back in an hour.";
    QTest::newRow("403 is final") << "gone" << ImageService::validKey() << 1 << 0
                                  << "Nothing found.\r\n\r\nAccess denied.";
    QTest::newRow("a spent monthly quota is final")
        << "busy" << ImageService::quotaKey() << 1 << 0
        << "Nothing found.\r\n\r\nYou have exceeded the MONTHLY quota for Requests on your current plan";
}

void TestRunControl::searchRetries() {
    QFETCH(QString, keyword);
    QFETCH(QString, key);
    QFETCH(int, searches);
    QFETCH(int, kept);
    QFETCH(QString, message);
    SettingsStore::write(SettingKey::ApiKey, key);
    struct Recording : SurfaceState {
        QStringList texts;
        void setProgressText(const QString& text) override {
            texts << text;
            SurfaceState::setProgressText(text);
        }
    } recording;
    KeywordList list;
    list.add(keyword);
    const auto summary = runWith(list, recording, "1");
    QCOMPARE(service->searchRequests().size(), searches);
    QCOMPARE(summary.kept, kept);
    QCOMPARE(prompts.messages(), QStringList{kept ? done(kept) : message});
    QCOMPARE(recording.texts.count("Processing: " + keyword + ", waiting to retry"), searches - 1);
}

// Which searches are tried again and after how many designed seconds (-1: the answer is final).
void TestRunControl::searchWaits_data() {
    QTest::addColumn<int>("retry");          // 0 before the first retry
    QTest::addColumn<int>("curlExit");       // the written status counts only when curl succeeded
    QTest::addColumn<QByteArray>("written"); // what curl wrote: the status and the Retry-After seconds
    QTest::addColumn<QString>("answer");     // the answer file's text
    QTest::addColumn<int>("wait");
    const auto row = [](const char* name, int retry, int exit, const char* written, const char* answer,
                        int wait) {
        QTest::newRow(name) << retry << exit << QByteArray(written) << QString::fromLatin1(answer) << wait;
    };
    // A busy gateway: the back-off's steps, then no more.
    row("429: first step", 0, 0, "429\n\n", "", 2);
    row("429: second step", 1, 0, "429\n\n", "", 4);
    row("503: third step", 2, 0, "503\n\n", "", 8);
    row("503: three retries are all", 3, 0, "503\n\n", "", -1);
    row("500", 0, 0, "500\n\n", "", 2);
    row("599", 0, 0, "599\n\n", "", 2);
    row("429 per second, quota named", 0, 0, "429\n\n", "Too many requests: quota per second", 2);
    // Answers that a later try would not change.
    row("200", 0, 0, "200\n\n", "", -1);
    row("nothing written", 0, 0, "", "", -1);
    row("400", 0, 0, "400\n\n", "", -1);
    row("401", 0, 0, "401\n\n", "", -1);
    row("403", 0, 0, "403\n\n", "", -1);
    row("404", 0, 0, "404\n\n", "", -1);
    row("600", 0, 0, "600\n\n", "", -1);
    row("429 of a spent daily quota", 0, 0, "429\n\n", "You have exceeded the DAILY quota for Requests", -1);
    row("429 of a spent monthly quota", 0, 0, "429\n5\n", "{\"message\":\"quota: monthly\"}", -1);
    // Retry-After of a 429 or 503 lengthens a step, never shortens it, and beyond a minute is final.
    row("Retry-After: 0 waits the step", 0, 0, "429\n0\n", "", 2);
    row("Retry-After: 1 on the third try", 2, 0, "503\n1\n", "", 8);
    row("Retry-After longer than the step", 0, 0, "429\n30\n", "", 30);
    row("Retry-After of the longest wait", 1, 0, "503\n60\n", "", 60);
    row("Retry-After beyond the longest wait", 0, 0, "429\n61\n", "", -1);
    row("Retry-After of an hour", 0, 0, "503\n3600\n", "", -1);
    row("Retry-After as a date counts as none", 0, 0, "503\nWed, 21 Oct 2015 07:28:00 GMT\n", "", 2);
    row("Retry-After of a 500 is not read", 0, 0, "500\n3600\n", "", 2);
    // curl's own failures: a connection that failed or broke is tried again, nothing else.
    for (const int exit : {7, 18, 28, 52, 55, 56})
        QTest::addRow("curl exit %d", exit) << 1 << exit << QByteArray("200\n\n") << QString() << 4;
    for (const int exit : {6, 22, 23, 35, 60, 63})
        QTest::addRow("curl exit %d", exit) << 0 << exit << QByteArray("503\n\n") << QString() << -1;
    row("connection failure after three retries", 3, 7, "", "", -1);
}

void TestRunControl::searchWaits() {
    QFETCH(int, retry);
    QFETCH(int, curlExit);
    QFETCH(QByteArray, written);
    QFETCH(QString, answer);
    ToolOutput output;
    output.standardOutput = written;
    QTEST(Retry::searchWait(retry, curlExit, output, answer), "wait");
}

// A download is tried again after a broken connection or a server error only.
void TestRunControl::downloadAgain_data() {
    QTest::addColumn<int>("curlExit");
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("again");
    QTest::newRow("200") << 0 << 200 << false;
    QTest::newRow("404") << 0 << 404 << false;
    QTest::newRow("429") << 0 << 429 << false;
    QTest::newRow("500") << 0 << 500 << true;
    QTest::newRow("503") << 0 << 503 << true;
    QTest::newRow("could not connect") << 7 << 0 << true;
    QTest::newRow("timed out") << 28 << 0 << true;
    QTest::newRow("empty reply") << 52 << 0 << true;
    QTest::newRow("host not resolved") << 6 << 0 << false;
    QTest::newRow("certificate refused") << 60 << 0 << false;
    QTest::newRow("too large") << 63 << 0 << false;
}

void TestRunControl::downloadAgain() {
    QFETCH(int, curlExit);
    QFETCH(int, status);
    QTEST(Retry::downloadAgain(curlExit, status), "again");
}

void TestRunControl::finalBusyAnswerEndsTheRun_data() {
    QTest::addColumn<QString>("keyword");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>(
        "unreachable");                   // "": the service; else the host, "closed port" or "closed proxy"
    QTest::addColumn<int>("keywords");    // the keyword, "apple", then others
    QTest::addColumn<int>("searches");    // of the whole run
    QTest::addColumn<QString>("message"); // "": the picture of "apple" is kept
    QTest::addColumn<QString>("details"); // curl's words in the details; {port} the closed port
    QTest::addColumn<bool>("free");       // all free sources at once, else the original service
    const QString key = ImageService::validKey();
    QTest::newRow("429 after every try")
        << "at once" << key << "" << 2 << 4 << "Nothing found.\r\n\r\nToo many requests per second."
        << "" << false;
    QTest::newRow("a spent monthly quota")
        << "busy" << ImageService::quotaKey() << "" << 2 << 1
        << "Nothing found.\r\n\r\nYou have exceeded the MONTHLY quota for Requests on your current plan"
        << "" << false;
    // A server error says nothing about the next keyword: it is asked.
    QTest::newRow("5xx after every try") << "always busy" << key << "" << 2 << 5 << ""
                                         << "" << false;
    // A source out of reach is not asked again, at the designed pace, nor for any other keyword.
    QTest::newRow("unresolvable host")
        << "cat" << key << "nowhere.invalid" << 10 << 1 << RunTexts::cannotReach("nowhere.invalid")
        << "curl: (6) Could not resolve host: nowhere.invalid" << false;
    // Each free source is left out in turn; when none is left, the run ends the same way.
    QTest::newRow("all free sources, unresolvable host")
        << "cat" << key << "nowhere.invalid" << 10 << 2 << RunTexts::cannotReach("nowhere.invalid")
        << "curl: (6) Could not resolve host: nowhere.invalid" << true;
    QTest::newRow("closed port") << "cat" << key << "closed port" << 10 << 1
                                 << RunTexts::cannotReach("127.0.0.1")
                                 << "curl: (7) Failed to connect to 127.0.0.1 port {port}" << false;
    // The proxy of the environment is used: it is what cannot be reached.
    QTest::newRow("closed proxy") << "cat" << key << "closed proxy" << 10 << 1
                                  << RunTexts::cannotReach("127.0.0.1")
                                  << "curl: (7) Failed to connect to 127.0.0.1 port {port}" << false;
}

// A service still busy after the retries, or out of reach, is not asked for the keywords after it.
void TestRunControl::finalBusyAnswerEndsTheRun() {
    QFETCH(QString, keyword);
    QFETCH(QString, key);
    QFETCH(QString, unreachable);
    QFETCH(int, keywords);
    QFETCH(int, searches);
    QFETCH(QString, message);
    QFETCH(QString, details);
    QFETCH(bool, free);
    SettingsStore::write(SettingKey::ApiKey, key);
    QTcpServer closed; // a port that was free a moment ago and takes no connection now
    QVERIFY(closed.listen(QHostAddress::LocalHost));
    const QString port = QString::number(closed.serverPort());
    closed.close();
    const QString host = unreachable == "closed port" ? "127.0.0.1:" + port : unreachable;
    std::optional<ScopedEnvironment> redirected, proxy, noProxy, upperNoProxy, pace;
    if (!unreachable.isEmpty()) {
        pace.emplace("GLIMMERFETCH_PACE", "1");
        if (unreachable == "closed proxy") {
            proxy.emplace("https_proxy", "http://127.0.0.1:" + port);
            noProxy.emplace("no_proxy", QString());
            upperNoProxy.emplace("NO_PROXY", QString());
        } else {
            redirected.emplace("GLIMMERFETCH_SERVICE_HOST", host);
        }
    }
    if (free)
        TestSettings::seed(SettingKey::Source, QStringLiteral("free"));
    KeywordList list;
    list.add(keyword);
    list.add("apple");
    for (int k = 3; k <= keywords; ++k)
        list.add(QStringLiteral("pear %1").arg(k));
    const auto summary = run(list, "1");
    QCOMPARE(summary.searches, searches);
    QCOMPARE(service->searchRequests().size(), unreachable.isEmpty() ? searches : 0);
    QCOMPARE(prompts.messages(), QStringList{message.isEmpty() ? done(1) : message});
    const FakePrompts::Call end = prompts.callsOf("message").value(0);
    QVERIFY2(end.details.contains(QString(details).replace("{port}", port)), qPrintable(end.details));
    // The folder is offered only when the run put a picture into it.
    QCOMPARE(end.folderOffered, message.isEmpty());
}

void TestRunControl::downloadRetries_data() {
    QTest::addColumn<QString>("keyword");
    QTest::addColumn<int>("requests");
    QTest::addColumn<int>("kept");
    QTest::newRow("503 once, then the picture") << "flaky" << 2 << 1;
    QTest::newRow("404 and 403 are final") << "missing" << 2 << 0;
}

void TestRunControl::downloadRetries() {
    QFETCH(QString, keyword);
    QFETCH(int, requests);
    QFETCH(int, kept);
    KeywordList list;
    list.add(keyword);
    const auto summary = run(list, "2");
    QCOMPARE(pictureRequests().size(), requests);
    QCOMPARE(summary.kept, kept);
    verifyNothingLeft();
}

void TestRunControl::stopMidRun_data() {
    QTest::addColumn<bool>("stop");
    QTest::newRow("Yes: the run stops") << true;
    QTest::newRow("No: the run goes on") << false;
}

// "Start Downloading" clicked again while pictures trickle in asks whether to stop.
void TestRunControl::stopMidRun() {
    QFETCH(bool, stop);
    Form1 form(prompts, {[] { return 1; }, {}});
    form.findChild<QLineEdit*>("Text1")->setText(prefix);
    form.findChild<QLineEdit*>("Text2")->setText("5");
    form.keywords().add("slowly");
    form.keywords().add("apple");
    prompts.reset();
    prompts.answers.enqueue(stop ? Prompts::Answer::Yes : Prompts::Answer::No);
    QTimer clicker;
    clicker.setInterval(20);
    QElapsedTimer sinceClick;
    connect(&clicker, &QTimer::timeout, this, [&] {
        if (pictureRequests().size() >= 2 && !sinceClick.isValid()) {
            sinceClick.start();
            QTest::mouseClick(form.findChild<QPushButton*>("PushButton2"), Qt::LeftButton);
        }
    });
    clicker.start();
    QTest::mouseClick(form.findChild<QPushButton*>("PushButton2"), Qt::LeftButton);
    clicker.stop();

    const QList<FakePrompts::Call> boxes = prompts.callsOf("message");
    QCOMPARE(boxes.size(), 2);
    QCOMPARE(boxes[0].text, Form1::StopQuestion);
    QCOMPARE(boxes[0].buttons, Prompts::Buttons::YesNo);
    QCOMPARE(boxes[0].icon, Prompts::Icon::Question);
    const QStringList kept = folderEntries();
    for (const QString& name : kept)
        QVERIFY2(!name.startsWith('.') && !QImage(folder->filePath(name)).isNull(), qPrintable(name));
    QCOMPARE(curlChildren(), QStringList());
    QVERIFY(!Globals::RunBusy);
    if (stop) {
        QVERIFY(kept.size() < 5);
        QCOMPARE(service->searchRequests().size(), 1); // "apple" was never searched
        QString expected = "Downloading was stopped.";
        if (!kept.isEmpty())
            expected += QStringLiteral("\r\n\r\n%1 %2 saved in %3.")
                            .arg(kept.size())
                            .arg(kept.size() == 1 ? "picture" : "pictures", folder->path());
        QCOMPARE(boxes[1].text, expected);
    } else {
        QCOMPARE(kept.size(), 10);
        QCOMPARE(boxes[1].text, done(10));
    }
}

void TestRunControl::detailsSayWhatBecameOfEachResult_data() {
    QTest::addColumn<bool>("fileManager");
    QTest::newRow("Open Folder opens the folder") << true;
    QTest::newRow("no file manager: a box names the folder") << false;
}

void TestRunControl::detailsSayWhatBecameOfEachResult() {
    QFETCH(bool, fileManager);
    prompts.urlsOpen = fileManager;
    SettingsStore::write(SettingKey::WidthFilter, "6");
    SettingsStore::write(SettingKey::WidthLimit, "500");
    KeywordList list;
    list.add("mixed");
    const auto results = answer("mixed");
    prompts.openFolderAnswers.enqueue(true);
    run(list, "5");
    const QString arrow = QStringLiteral(" \u2192 ");
    QCOMPARE(prompts.callsOf("message").value(0).details.split('\n'),
             QStringList({"mixed: " + results[0].url + arrow + "skipped: filtered by width or height",
                          "mixed: " + results[1].url + arrow + "kept as mixed 1.png",
                          "mixed: " + results[2].url + arrow + "skipped: error page",
                          "mixed: " + results[3].url + arrow + "skipped: HTTP 404",
                          "mixed: " + results[4].url + arrow + "skipped: already in the folder"}));
    // "Open Folder" opens the folder in the file manager; without one, a box says so.
    QCOMPARE(prompts.callsOf("url").value(0).text, QUrl::fromLocalFile(prefix).toString());
    QCOMPARE(prompts.messages().mid(1),
             fileManager ? QStringList()
                         : QStringList{"The folder could not be opened: no file manager was found.\r\n\r\n"
                                       "The pictures are in:\r\n" +
                                       folder->path()});
}

QTEST_MAIN(TestRunControl)
#include "tst_run_control.moc"
