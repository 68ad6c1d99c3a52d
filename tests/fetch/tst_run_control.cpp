#include "base/settings_store.h"
#include "download_fixture.h"
#include "fetch/download_run.h"
#include "keywords/keyword_list.h"

#include <QTest>

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
    void downloadRetries_data();
    void downloadRetries();
};

namespace {

const QByteArray catalog = R"({
  "busy": {"failFirst": 2, "failStatus": 503, "results": [{"kind": "png"}]},
  "per minute": {"failFirst": 1, "failStatus": 429, "retryAfter": 1,
      "failBody": "{\"message\":\"Too many requests per minute, slow down.\"}", "results": [{"kind": "png"}]},
  "always busy": {"failFirst": 99, "failStatus": 502, "failBody": "<html>Bad Gateway</html>", "results": []},
  "gone": {"failFirst": 99, "failStatus": 403, "failBody": "{\"message\":\"Access denied.\"}", "results": []},
  "flaky": {"results": [{"kind": "flaky"}]},
  "missing": {"results": [{"kind": "notfound"}, {"kind": "forbidden"}]}
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

QTEST_MAIN(TestRunControl)
#include "tst_run_control.moc"
