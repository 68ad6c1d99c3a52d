#include "app/form1.h"
#include "base/error_report.h"
#include "base/globals.h"
#include "base/settings_store.h"
#include "base/surface.h"
#include "base/waiting.h"
#include "download_fixture.h"
#include "fake_prompts.h"
#include "fetch/download_run.h"
#include "image_service.h"
#include "keywords/keyword_list.h"
#include "test_settings.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <memory>
#include <unistd.h>

// Whole download runs with real curl against the local image service over TLS.
class TestDownloadEndToEnd : public QObject, public DownloadFixture {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void sampleKeywords();
    void heightFilterFetchesOnlyTallerPictures_data();
    void heightFilterFetchesOnlyTallerPictures();
    void limitBeyond32BitsFailsOnItsOwn();
    void errorPagesAndBrokenTransfersAreNotKept();
    void totalBelowCountKeepsAtMostTheTotal();
    void addressLikeAListIsOneDownload();
    void barTextsShowTheKeywordsLastPart();
    void unknownKeyEndsWithTheServiceMessage();
    void keyStoredDuringTheRunIsSent();
    void onlyTheFirstHundredKeywordsAreRequested();
    void earlierPicturesStay();
    void keywordsRemovedDuringTheRun();
    void startDownloadingButton();
    // Last: the program's end cannot be taken back within one test program.
    void closingMidRunLeavesNothingBehind();
};

namespace {

const QByteArray catalog = R"({
  "few": {"totalCount": 2, "results": [{"kind": "png"}, {"kind": "png"}, {"kind": "png"}]},
  "refused": {"totalCount": 2, "results": [
      {"url": "https://127.0.0.1:1/img/png/64x64/1/gone.png", "width": 64, "height": 64},
      {"kind": "png", "width": 64, "height": 64}]},
  "late": {"totalCount": 1, "delay": 800, "results": [{"kind": "png"}]},
  "listlike": {"totalCount": 1, "results": [
      {"url": "https://{host}/img/png/64x64/1/a[1-3].png", "width": 64, "height": 64}]},
  "slowpoke": {"totalCount": 1, "results": [{"kind": "slow", "rate": 16}]}
})";

} // namespace

void TestDownloadEndToEnd::initTestCase() {
    QVERIFY2(startService(catalog), qPrintable(service->errorText()));
}

void TestDownloadEndToEnd::init() {
    QVERIFY(reset());
}

void TestDownloadEndToEnd::cleanup() {
    folder.reset();
}

void TestDownloadEndToEnd::sampleKeywords() {
    KeywordList list;
    for (const char* k : {"apple", "dog", "city"})
        list.add(k);
    const auto summary = run(list, "3");

    QCOMPARE(prompts.messages(), QStringList{done(summary.kept)});
    const auto searches = service->searchRequests();
    QCOMPARE(searches.size(), 3);
    QStringList expectedNames;
    QStringList expectedPaths;
    for (const char* k : {"apple", "dog", "city"}) {
        const auto& s = searches.at(expectedNames.size() / 3);
        QCOMPARE(s.queryValue("q"), QString(k));
        QCOMPARE(s.queryValue("pageNumber"), QStringLiteral("1"));
        QCOMPARE(s.queryValue("pageSize"), QStringLiteral("25"));
        const auto results = answer(k);
        for (int i = 0; i < 3; ++i) {
            expectedNames << QStringLiteral("%1 %2.%3")
                                 .arg(k)
                                 .arg(i + 1)
                                 .arg(QFileInfo(results[i].downloadPath()).suffix());
            expectedPaths << results[i].downloadPath();
        }
    }
    QCOMPARE(folderEntries(), [&] {
        QStringList sorted = expectedNames;
        sorted.sort();
        return sorted;
    }());
    QCOMPARE(summary.keptFiles.size(), 9);
    for (int i = 0; i < 9; ++i) {
        QCOMPARE(QFileInfo(summary.keptFiles[i]).fileName(), expectedNames[i]);
        const QByteArray sent = ImageService::pictureBytes(service->baseUrl() + expectedPaths[i]);
        QVERIFY(!sent.isEmpty());
        QVERIFY2(fileBytes(summary.keptFiles[i]) == sent, qPrintable(expectedNames[i]));
        QVERIFY(!QImage(summary.keptFiles[i]).isNull());
    }
    // The downloads announce themselves as a browser, and are GETs without a body.
    for (const auto& r : service->requests())
        if (r.path.startsWith("/img/")) {
            QVERIFY(r.header("user-agent").startsWith("Mozilla/5.0 (Macintosh;"));
            QCOMPARE(r.method, QStringLiteral("GET"));
            QVERIFY(r.body.isEmpty() && !r.hasHeader("content-type") && !r.hasHeader("content-length"));
        }
    verifyNothingLeft();
}

void TestDownloadEndToEnd::heightFilterFetchesOnlyTallerPictures_data() {
    QTest::addColumn<QString>("comparison");
    QTest::addColumn<QStringList>("boxesBefore"); // before the end box
    QTest::newRow("greater than") << "0" << QStringList();
    // A comparison that cannot be read compares as "Greater than", and is reported once, not for
    // every result.
    QTest::newRow("unreadable") << "less"
                                << QStringList{
                                       errorReportText("Type mismatch", "Form1.PushButton2_Click", 150)};
}

void TestDownloadEndToEnd::heightFilterFetchesOnlyTallerPictures() {
    QFETCH(QString, comparison);
    QFETCH(QStringList, boxesBefore);
    SettingsStore::write(SettingKey::HeightFilter, "4");
    SettingsStore::write(SettingKey::HeightLimit, "500");
    SettingsStore::write(SettingKey::HeightComparison, comparison);
    KeywordList list;
    list.add("apple");
    const auto results = answer("apple", 1, 25);
    QStringList tall;
    int shortOnes = 0;
    for (const auto& r : results) {
        if (r.height > 500 && tall.size() < 5)
            tall << r.downloadPath();
        if (r.height <= 500 && tall.size() < 5)
            ++shortOnes;
    }
    QVERIFY2(tall.size() == 5 && shortOnes > 0, "the default catalogue should mix short and tall pictures");

    const auto summary = run(list, "5");
    QCOMPARE(pictureRequests(), tall);
    QCOMPARE(summary.keptFiles.size(), 5);
    for (const QString& file : summary.keptFiles)
        QVERIFY(QImage(file).height() > 500);
    QCOMPARE(prompts.messages(), boxesBefore + QStringList{done(summary.kept)});
    verifyNothingLeft();
}

// The four filter settings are read one by one: a width limit beyond 32 bits is reported at its
// own statement and stays 500, and the height limit after it is still read and applied.
void TestDownloadEndToEnd::limitBeyond32BitsFailsOnItsOwn() {
    SettingsStore::write(SettingKey::HeightFilter, "4");
    SettingsStore::write(SettingKey::WidthFilter, "6");
    SettingsStore::write(SettingKey::WidthLimit, "99999999999");
    SettingsStore::write(SettingKey::HeightLimit, "600");
    KeywordList list;
    list.add("apple");
    QStringList wanted;
    for (const auto& r : answer("apple", 1, 25))
        if (r.height > 600 && r.width > 500 && wanted.size() < 2)
            wanted << r.downloadPath();
    QCOMPARE(wanted.size(), 2);

    const auto summary = run(list, "2");
    QCOMPARE(pictureRequests(), wanted);
    QCOMPARE(prompts.messages().size(), 2);
    QCOMPARE(prompts.messages().at(0), errorReportText("Overflow", "Form1.PushButton2_Click", 120));
    QCOMPARE(prompts.messages().at(1), done(2));
    verifyNothingLeft();
}

void TestDownloadEndToEnd::errorPagesAndBrokenTransfersAreNotKept() {
    KeywordList list;
    list.add("faults");
    list.add("refused");
    const auto faults = answer("faults");
    QCOMPARE(faults.size(), 15);
    const auto summary = run(list, "50");

    // Only real pictures are kept (a redirect ends at one); web pages, the JSON error, the endless
    // redirect, the cut-off transfer and the refused connection leave nothing, and their numbers
    // go to the next picture.
    QStringList expected;
    QStringList expectedPaths;
    for (const auto& r : faults) {
        if (r.kind() == "png" || r.kind() == "jpeg" || r.kind() == "redirect") {
            expected << QStringLiteral("faults %1.%2")
                            .arg(expected.size() + 1)
                            .arg(QFileInfo(r.downloadPath()).suffix());
            expectedPaths << r.downloadPath();
        }
    }
    QCOMPARE(expected.size(), 9);
    expected << "refused 1.png";
    expectedPaths << answer("refused").at(1).downloadPath();
    QCOMPARE(summary.keptFiles.size(), expected.size());
    for (int i = 0; i < expected.size(); ++i) {
        QCOMPARE(QFileInfo(summary.keptFiles[i]).fileName(), expected[i]);
        QVERIFY2(fileBytes(summary.keptFiles[i]) ==
                     ImageService::pictureBytes(service->baseUrl() + expectedPaths[i]),
                 qPrintable(expected[i]));
    }
    QStringList sorted = expected;
    sorted.sort();
    QCOMPARE(folderEntries(), sorted);
    QCOMPARE(summary.downloads, 17);
    verifyNothingLeft();
}

void TestDownloadEndToEnd::totalBelowCountKeepsAtMostTheTotal() {
    KeywordList list;
    list.add("few");
    list.add("nothing");
    const auto summary = run(list, "5");
    QCOMPARE(folderEntries(), QStringList({"few 1.png", "few 2.png"}));
    QCOMPARE(pictureRequests().size(), 2);
    QCOMPARE(summary.searches, 2);
    QCOMPARE(prompts.messages(), QStringList{done(summary.kept)});
    verifyNothingLeft();
}

void TestDownloadEndToEnd::addressLikeAListIsOneDownload() {
    // Brackets in an answer's address are part of the address: one request, one picture.
    KeywordList list;
    list.add("listlike");
    run(list, "5");
    QCOMPARE(pictureRequests(), QStringList{"/img/png/64x64/1/a[1-3].png"});
    QCOMPARE(folderEntries(), QStringList{"listlike 1.png"});
    QCOMPARE(fileBytes(folder->filePath("listlike 1.png")),
             ImageService::pictureBytes(service->baseUrl() + "/img/png/64x64/1/a[1-3].png"));
    verifyNothingLeft();
}

void TestDownloadEndToEnd::barTextsShowTheKeywordsLastPart() {
    // The bar names the keyword by its text after the last backslash; the file keeps the whole text.
    KeywordList list;
    list.add("shelf\\cat");
    struct RecordingSurface : SurfaceState {
        QStringList texts;
        void setProgressText(const QString& t) override {
            if (texts.isEmpty() || texts.last() != t)
                texts << t;
            SurfaceState::setProgressText(t);
        }
    } recording;
    runWith(list, recording, "1", "1");
    QCOMPARE(recording.texts, QStringList({"Processing: cat", "Processing: cat, finding images...",
                                           "Processing: cat, downloading...", "Progress Bar"}));
    const QStringList entries = folderEntries();
    QCOMPARE(entries.size(), 1);
    // A backslash names no folder here, but it is kept out of file names all the same.
    QVERIFY2(entries.first().startsWith("shelf_cat 1."), qPrintable(entries.first()));
    surface = recording;
    verifyNothingLeft();
}

void TestDownloadEndToEnd::unknownKeyEndsWithTheServiceMessage() {
    SettingsStore::write(SettingKey::ApiKey, "not-a-key");
    KeywordList list;
    list.add("apple");
    list.add("dog");
    run(list);
    const auto searches = service->searchRequests();
    QCOMPARE(searches.size(), 2);
    QCOMPARE(searches[1].header("x-rapidapi-key"), QStringLiteral("not-a-key"));
    // The service's own words, read here with a JSON parser.
    QByteArray body;
    service->curl({"-H", "x-rapidapi-host: " + service->host(), "-H", "x-rapidapi-key: not-a-key",
                   service->searchUrl("q=apple&pageNumber=1&pageSize=25&autoCorrect=true")},
                  &body);
    const QString message = QJsonDocument::fromJson(body).object().value("message").toString();
    QVERIFY2(!message.isEmpty() && !message.contains(','), body.constData());
    QCOMPARE(prompts.messages(), QStringList{Download::NothingFoundText(message)});
    QVERIFY(pictureRequests().isEmpty());
    QVERIFY(folderEntries().isEmpty());
    verifyNothingLeft();
}

// The key is read from the settings for every request: one the key dialog stores while the run
// works reaches the next keyword's search.
void TestDownloadEndToEnd::keyStoredDuringTheRunIsSent() {
    SettingsStore::write(SettingKey::ApiKey, "not-a-key");
    KeywordList list;
    list.add("apple");
    list.add("dog");
    struct Typing : SurfaceState {
        void setProgressText(const QString& text) override {
            if (text == QLatin1String("Processing: dog"))
                SettingsStore::write(SettingKey::ApiKey, ImageService::validKey());
            SurfaceState::setProgressText(text);
        }
    } typing;
    QCOMPARE(runWith(list, typing, "1").kept, 1);
    const auto searches = service->searchRequests();
    QCOMPARE(searches.size(), 2);
    QCOMPARE(searches[0].header("x-rapidapi-key"), QStringLiteral("not-a-key"));
    QCOMPARE(searches[1].header("x-rapidapi-key"), ImageService::validKey());
}

void TestDownloadEndToEnd::onlyTheFirstHundredKeywordsAreRequested() {
    // A height no picture reaches: every keyword is searched, nothing is downloaded.
    SettingsStore::write(SettingKey::HeightFilter, "4");
    SettingsStore::write(SettingKey::HeightLimit, "100000");
    KeywordList list;
    QStringList first100;
    for (int i = 1; i <= 120; ++i) {
        list.add(QStringLiteral("word%1").arg(i));
        if (i <= 100)
            first100 << QStringLiteral("word%1").arg(i);
    }
    // The bar shows the share of the keyword being worked on, of the whole (uncapped) list.
    struct RecordingSurface : SurfaceState {
        QList<int> values;
        void setProgressValue(int v) override {
            values << v;
            SurfaceState::setProgressValue(v);
        }
    } recording;
    runWith(list, recording, "5", "1");
    QStringList asked;
    for (const auto& s : service->searchRequests())
        asked << s.queryValue("q");
    QCOMPARE(asked, first100);
    QVERIFY(pictureRequests().isEmpty());
    QCOMPARE(recording.values.first(), 1);                          // 1 / 120 * 100
    QCOMPARE(recording.values.at(recording.values.size() - 2), 83); // 100 / 120 * 100
    QCOMPARE(recording.values.last(), 0);
    // Results came back, so the box says what became of them, and that keywords were left out.
    QCOMPARE(
        prompts.messages(),
        QStringList{"No pictures were saved.\r\n\r\nResults looked at: 2500\r\nFiltered by width or height: "
                    "2500\r\nNot pictures: 0\r\nFailed to download: 0\r\n\r\n20 keywords after the first 100 "
                    "were not processed."});
    surface = recording;
    verifyNothingLeft();
}

void TestDownloadEndToEnd::earlierPicturesStay() {
    QFile earlier(prefix + "kind-png 1.png");
    QVERIFY(earlier.open(QIODevice::WriteOnly));
    earlier.write("a picture from an earlier run");
    earlier.close();
    KeywordList list;
    list.add("kind-png");
    run(list, "2");
    QCOMPARE(folderEntries(), QStringList({"kind-png 1.png", "kind-png 2.png", "kind-png 3.png"}));
    QCOMPARE(fileBytes(prefix + "kind-png 1.png"), QByteArray("a picture from an earlier run"));
    const QByteArray secondBefore = fileBytes(prefix + "kind-png 2.png");

    // A second run from the next page adds its pictures to those of the first.
    prompts.reset();
    run(list, "2", "2");
    QCOMPARE(folderEntries(), QStringList({"kind-png 1.png", "kind-png 2.png", "kind-png 3.png",
                                           "kind-png 4.png", "kind-png 5.png"}));
    QCOMPARE(fileBytes(prefix + "kind-png 1.png"), QByteArray("a picture from an earlier run"));
    QCOMPARE(fileBytes(prefix + "kind-png 2.png"), secondBefore);
    QVERIFY(fileBytes(prefix + "kind-png 4.png") != secondBefore);
    QCOMPARE(service->searchRequests().last().queryValue("pageNumber"), QStringLiteral("2"));
    verifyNothingLeft();
}

void TestDownloadEndToEnd::keywordsRemovedDuringTheRun() {
    KeywordList list;
    for (const char* k : {"late", "apple", "dog"})
        list.add(k);
    // The window stays usable: the list is cleared while the first search waits for its answer.
    QTimer::singleShot(300, [&] { list.clear(); });
    const auto summary = run(list, "1");
    QCOMPARE(summary.searches, 1);
    QCOMPARE(folderEntries(), QStringList({"late 1.png"}));
    QCOMPARE(prompts.messages(), QStringList{done(summary.kept)});
    verifyNothingLeft();
}

void TestDownloadEndToEnd::startDownloadingButton() {
    Form1 form(prompts, {[] { return 1; }, {}});
    form.findChild<QLineEdit*>("Text1")->setText(prefix);
    form.findChild<QLineEdit*>("Text2")->setText("2");
    form.findChild<QLineEdit*>("Text3")->setText("1");
    form.keywords().add("city");
    prompts.reset();
    QTest::mouseClick(form.findChild<QPushButton*>("PushButton2"), Qt::LeftButton);
    QCOMPARE(prompts.messages(), QStringList{done(2)});
    QCOMPARE(folderEntries().size(), 2);
    QVERIFY(folderEntries().first().startsWith("city 1."));
    QCOMPARE(form.pointer(), int(Surface::Default));
    QCOMPARE(form.progressText(), QStringLiteral("Progress Bar"));
    QVERIFY(!Globals::RunBusy);
}

void TestDownloadEndToEnd::closingMidRunLeavesNothingBehind() {
    KeywordList list;
    list.add("slowpoke");
    list.add("apple");
    QElapsedTimer sinceEnd;
    // The window is closed while the picture trickles in.
    QTimer poll;
    poll.setInterval(20);
    connect(&poll, &QTimer::timeout, [&] {
        if (!pictureRequests().isEmpty() && !Lifetime::ending()) {
            QTest::qWait(200);
            sinceEnd.start();
            Lifetime::end();
        }
    });
    poll.start();
    const auto summary = run(list, "3");
    poll.stop();
    QVERIFY(sinceEnd.isValid());
    QVERIFY2(sinceEnd.elapsed() < 1000, qPrintable(QString::number(sinceEnd.elapsed())));
    QCOMPARE(summary.searches, 1);
    QVERIFY(prompts.messages().isEmpty());
    QVERIFY(!Globals::RunBusy);
    QCOMPARE(curlChildren(), QStringList());
    QVERIFY2(QDir(privateTemp.path()).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             "the private folder is left");
    QCOMPARE(folderEntries(), QStringList());
}

QTEST_MAIN(TestDownloadEndToEnd)
#include "tst_download_e2e.moc"
