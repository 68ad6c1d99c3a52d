#include "base/globals.h"
#include "base/settings_store.h"
#include "base/surface.h"
#include "base/waiting.h"
#include "fake_prompts.h"
#include "fetch/curl_session.h"
#include "fetch/key_test.h"
#include "fetch/response_scan.h"
#include "fetch/run_options.h"
#include "fetch/run_report.h"
#include "fetch/sources/contextualweb.h"
#include "fetch/tool_runner.h"
#include "image_service.h"
#include "service_fixture.h"
#include "shell_words.h"
#include "test_settings.h"

#include "base/error_report.h"
#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

QString folderOf(const QString& file) {
    return QFileInfo(file).path();
}

QStringList leftovers() {
    return QDir(QDir::tempPath()).entryList({QStringLiteral("glimmerfetch-*")}, QDir::Dirs | QDir::Hidden);
}

} // namespace

class TestContextualWeb : public QObject, public ServiceFixture {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void urlEncode_data();
    void urlEncode();
    void pageSize_data();
    void pageSize();
    void commandArguments_data();
    void commandArguments();
    void searchOverTheWire();
    void hostileTextStaysData_data();
    void hostileTextStaysData();
    void keyTest_data();
    void keyTest();
    void keyTestWithEmptyFieldMakesNoRequest();
    void keyTestWhileBusyOnlyResetsPointer();
    void keyTestUnwindsWhenProgramEnds(); // must stay last: the program's end cannot be undone

private:
    QStringList tempBefore;
};

void TestContextualWeb::initTestCase() {
    // A temporary location of this test's own, so that private folders of programs running beside
    // it do not count as left behind.
    QVERIFY2(startService({}, {"--valid-key", ImageService::validKey(), "--valid-key", "a\"b c;$(id)`id`-x"}),
             qPrintable(service->errorText()));
}

void TestContextualWeb::init() {
    TestSettings::clear();
    service->clearRequests();
    Globals::RunBusy = false;
    tempBefore = leftovers();
}

void TestContextualWeb::cleanup() {
    QCOMPARE(leftovers(), tempBefore);
}

namespace {

// The key dialog as the key test sees it: the pointers it was given; its boxes go to the fake prompts.
void runKeyTest(FakePrompts& prompts, QList<int>& pointers, const QString& keyField) {
    struct KeyDialog : SurfaceState {
        using SurfaceState::SurfaceState;
        void setPointer(int value) override {
            given << value;
            SurfaceState::setPointer(value);
        }
        QList<int> given;
    } dialog(&prompts);
    ErrorTrap trap(prompts, QStringLiteral("Form3.PushButton3_Click"));
    // The dialog sends the stored key: it stores its field on every change.
    Search::KeyTest(dialog, trap, Sources::Source::ContextualWeb, keyField,
                    Download::Stored::key(Sources::Source::ContextualWeb));
    pointers = dialog.given;
}

} // namespace

void TestContextualWeb::urlEncode_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("encoded");
    QTest::newRow("space") << "red car"
                           << "red%20car";
    QTest::newRow("punctuation") << "a-b_c.d"
                                 << "a%2Db%5Fc%2Ed";
    QTest::newRow("tab") << "\t"
                         << "%09";
    QTest::newRow("e acute") << QString(QChar(0xE9)) << "%C3%A9";
    QTest::newRow("euro") << QString(QChar(0x20AC)) << "%E2%82%AC";
    QTest::newRow("surrogate halves each on their own")
        << QString::fromUtf8("\xF0\x9F\x98\x80") << "%ED%A0%BD%ED%B8%80";
    QTest::newRow("only spaces") << "   "
                                 << "%20%20%20";
    QTest::newRow("shell and curl characters") << "\"$(x)`;-"
                                               << "%22%24%28x%29%60%3B%2D";
}

void TestContextualWeb::urlEncode() {
    QFETCH(QString, text);
    QFETCH(QString, encoded);
    QCOMPARE(UrLenc::URLEncode(text), encoded);
}

void TestContextualWeb::pageSize_data() {
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("size");
    QTest::newRow("10") << 10 << 25;
    QTest::newRow("11") << 11 << 27;
    QTest::newRow("12") << 12 << 30;
    QTest::newRow("20") << 20 << 50;
    QTest::newRow("50") << 50 << 50;
}

void TestContextualWeb::pageSize() {
    QFETCH(int, count);
    QFETCH(int, size);
    QCOMPARE(Sources::pageSize(count), size);
}

void TestContextualWeb::commandArguments_data() {
    QTest::addColumn<QString>("keyword");
    QTest::addColumn<int>("page");
    QTest::addColumn<int>("size");
    QTest::addColumn<QString>("key");
    QTest::newRow("red car") << "red car" << 1 << 25 << "demo-key-0123456789";
    QTest::newRow("later page, large size") << "Zürich" << 150 << 50 << "k";
    QTest::newRow("empty key") << "cat" << 2 << 27 << "";
}

void TestContextualWeb::commandArguments() {
    QFETCH(QString, keyword);
    QFETCH(int, page);
    QFETCH(int, size);
    QFETCH(QString, key);
    CurlSession curl;
    const QString host = Search::ServiceHost();
    const QString text = Search::SearchCommandText(curl, keyword, page, size, key);
    const QString address =
        QStringLiteral("https://%1/api/Search/ImageSearchAPI?q=%2&pageNumber=%3&pageSize=%4&autoCorrect=true")
            .arg(host, UrLenc::URLEncode(keyword))
            .arg(page)
            .arg(size);
    QCOMPARE(text, curl.command() + "  -X GET   \"" + address + "\" --header \"x-rapidapi-host: " + host +
                       "\"  --header \"x-rapidapi-key: " + key + "\"  --output \"" + curl.responseFile() +
                       "\"");

    // The arguments are the text's words with the two headers moved to curl's standard input.
    QStringList words = shellSplit(text);
    QCOMPARE(words.takeFirst(), curl.program());
    const qsizetype header = words.indexOf(QStringLiteral("--header"));
    words.remove(header, 4);
    words.insert(header, QStringLiteral("-"));
    words.insert(header, QStringLiteral("-K"));
    const ToolCommand command = Search::SearchCommand(curl, keyword, page, size, key);
    QCOMPARE(command.program, curl.program());
    QCOMPARE(command.arguments, curl.commonArguments() + Sources::limitArguments() + words);
    // The limits: connect, stall, whole request, answer size; curl's error text and the status.
    QCOMPARE(Sources::limitArguments().join(' '),
             "--connect-timeout 15 --speed-limit 1 --speed-time 30 --max-time 120 "
             "--max-filesize 33554432 -sS --write-out %{http_code}\\n%header{retry-after}\\n");
    QCOMPARE(command.fileSizeLimit, 33554432);
    QCOMPARE(command.standardInput, "header = \"x-rapidapi-host: " + host.toUtf8() +
                                        "\"\nheader = \"x-rapidapi-key: " + key.toUtf8() + "\"\n");
}

void TestContextualWeb::searchOverTheWire() {
    CurlSession curl;
    const ToolCommand command = Search::SearchCommand(curl, QStringLiteral("red car"), 1,
                                                      Sources::pageSize(5), ImageService::validKey());
    QVERIFY(!command.arguments.join(' ').contains(ImageService::validKey())); // not in the process list
    QCOMPARE(Shell32::RunAndWait(command, 0), 0);

    const auto requests = service->searchRequests();
    QCOMPARE(requests.size(), 1);
    QCOMPARE(requests[0].method, QStringLiteral("GET"));
    QCOMPARE(requests[0].query, QStringLiteral("q=red%20car&pageNumber=1&pageSize=25&autoCorrect=true"));
    QCOMPARE(requests[0].header(QStringLiteral("x-rapidapi-host")), service->host());
    QCOMPARE(requests[0].header(QStringLiteral("x-rapidapi-key")), ImageService::validKey());

    // The answer is in message.txt in the private folder; the scan agrees with a JSON reading of it.
    QCOMPARE(folderOf(curl.responseFile()), curl.folder());
    const QString text = CurlFunctions::ReadResponse(curl.responseFile());
    QVERIFY(CurlFunctions::IsImageAnswer(text));
    const QJsonObject json = QJsonDocument::fromJson(text.toUtf8()).object();
    QCOMPARE(CurlFunctions::ReadTotal(text), json.value(QStringLiteral("totalCount")).toInt());
    const QJsonArray values = json.value(QStringLiteral("value")).toArray();
    QCOMPARE(values.size(), 25);
    CurlFunctions::ResultScanner scan(text);
    CurlFunctions::ImageResult r;
    int queries = 0;
    for (const auto& v : values) {
        const QJsonObject o = v.toObject();
        QCOMPARE(scan.next(r), CurlFunctions::ResultScanner::Step::Found);
        const QString url = o.value(QStringLiteral("url")).toString();
        QCOMPARE(r.address, url);
        const QString clean = url.section(QLatin1Char('?'), 0, 0);
        QCOMPARE(r.downloadAddress, clean);
        QCOMPARE(r.extension, clean.section(QLatin1Char('.'), -1));
        QCOMPARE(r.width, o.value(QStringLiteral("width")).toInt());
        QCOMPARE(r.height, o.value(QStringLiteral("height")).toInt());
        queries += url.contains(QLatin1Char('?'));
    }
    QVERIFY(queries > 0);
    QCOMPARE(scan.next(r), CurlFunctions::ResultScanner::Step::Over);
}

void TestContextualWeb::hostileTextStaysData_data() {
    QTest::addColumn<QString>("keyword");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("sentKey");
    const QString tricky = QStringLiteral("a\"b c;$(id)`id`-x");
    QTest::newRow("quotes, spaces, shell characters") << "\"big\" cat; $(rm -rf ~) `id`" << tricky << tricky;
    QTest::newRow("leading dash") << "-o /tmp/x"
                                  << "--output=/tmp/evil"
                                  << "--output=/tmp/evil";
    QTest::newRow("line breaks stay out of the header") << "cat\r\n-K /etc/passwd"
                                                        << "abc\r\nX-Evil: 1\nurl = \"file:///etc/passwd\""
                                                        << "abcX-Evil: 1url = \"file:///etc/passwd\"";
    QTest::newRow("backslashes") << "a\\b"
                                 << "k\\\"\\"
                                 << "k\\\"\\";
}

void TestContextualWeb::hostileTextStaysData() {
    QFETCH(QString, keyword);
    QFETCH(QString, key);
    QFETCH(QString, sentKey);
    CurlSession curl;
    QCOMPARE(Shell32::RunAndWait(Search::SearchCommand(curl, keyword, 1, 25, key), 0), 0);
    const auto requests = service->requests();
    QCOMPARE(requests.size(), 1); // nothing else was fetched
    QCOMPARE(requests[0].queryValue(QStringLiteral("q")), keyword);
    QCOMPARE(requests[0].header(QStringLiteral("x-rapidapi-key")), sentKey);
    QVERIFY(!requests[0].hasHeader(QStringLiteral("x-evil")));
    QCOMPARE(QDir(curl.folder()).entryList(QDir::Files | QDir::Hidden).size(),
             2); // bundle, answer
    QVERIFY(!QFileInfo::exists(QStringLiteral("/tmp/evil")));
}

void TestContextualWeb::keyTest_data() {
    QTest::addColumn<QString>("key");
    QTest::addColumn<bool>("curlMissing");
    QTest::addColumn<QString>("verdict");
    QTest::addColumn<int>("requests");
    QTest::newRow("valid") << ImageService::validKey() << false << RunTexts::keyValid() << 1;
    QTest::newRow("unknown key") << "nope" << false
                                 << RunTexts::keyInvalid("You are not subscribed to this API.") << 1;
    QTest::newRow("quota") << ImageService::quotaKey() << false
                           << RunTexts::keyInvalid(
                                  "You have exceeded the MONTHLY quota for Requests on your current plan")
                           << 1;
    QTest::newRow("empty stored key, field not empty")
        << "" << false
        << RunTexts::keyInvalid(
               "Invalid API key. Go to https\\/\\/docs.rapidapi.com\\/docs\\/keys for more info.")
        << 1;
    // No answer is no verdict on the key.
    QTest::newRow("curl missing") << ImageService::validKey() << true
                                  << RunTexts::unreachable("curl could not be started") << 0;
}

void TestContextualWeb::keyTest() {
    QFETCH(QString, key);
    QFETCH(bool, curlMissing);
    QFETCH(QString, verdict);
    QFETCH(int, requests);
    SettingsStore::write(SettingKey::ApiKey, key);
    const QByteArray path = qgetenv("PATH");
    QTemporaryDir emptyBin;
    if (curlMissing)
        qputenv("PATH", emptyBin.path().toLocal8Bit());
    FakePrompts prompts;
    QList<int> pointers;
    runKeyTest(prompts, pointers, QStringLiteral("typed"));
    qputenv("PATH", path);

    QCOMPARE(prompts.messages(), QStringList{verdict});
    QCOMPARE(prompts.calls[0].title, Globals::applicationTitle());
    QCOMPARE(prompts.calls[0].icon, Prompts::Icon::None);
    QCOMPARE(pointers, (QList<int>{Surface::Hourglass, Surface::Default, Surface::Default}));
    QCOMPARE(service->searchRequests().size(), requests);
    if (requests)
        QCOMPARE(service->searchRequests()[0].query,
                 QStringLiteral("q=city&pageNumber=1&pageSize=4&autoCorrect=true"));
    QVERIFY(!Globals::RunBusy);
    QCOMPARE(leftovers(), tempBefore); // the private folder is gone
}

void TestContextualWeb::keyTestWithEmptyFieldMakesNoRequest() {
    SettingsStore::write(SettingKey::ApiKey, ImageService::validKey());
    FakePrompts prompts;
    QList<int> pointers;
    runKeyTest(prompts, pointers, QString());
    QCOMPARE(prompts.messages(), QStringList{"You must enter your API Key first."});
    QCOMPARE(pointers, (QList<int>{Surface::Hourglass, Surface::Default}));
    QVERIFY(service->requests().isEmpty());
    QVERIFY(!Globals::RunBusy);
}

void TestContextualWeb::keyTestWhileBusyOnlyResetsPointer() {
    SettingsStore::write(SettingKey::ApiKey, ImageService::validKey());
    Globals::RunBusy = true;
    FakePrompts prompts;
    QList<int> pointers;
    runKeyTest(prompts, pointers, QStringLiteral("typed"));
    QVERIFY(Globals::RunBusy);
    Globals::RunBusy = false;
    QVERIFY(prompts.calls.isEmpty());
    QCOMPARE(pointers, QList<int>{Surface::Default});
    QVERIFY(service->requests().isEmpty());
}

void TestContextualWeb::keyTestUnwindsWhenProgramEnds() {
    ImageService slow({}, R"({"city": {"delay": 5000, "results": [{"kind": "png"}]}})");
    QVERIFY2(slow.isRunning(), qPrintable(slow.errorText()));
    slow.applyToEnvironment();
    SettingsStore::write(SettingKey::ApiKey, ImageService::validKey());
    FakePrompts prompts;
    QList<int> pointers;
    QTimer::singleShot(500, [] { Lifetime::end(); });
    QElapsedTimer clock;
    clock.start();
    runKeyTest(prompts, pointers, QStringLiteral("typed"));
    QVERIFY(clock.elapsed() < 4000);
    QVERIFY(prompts.calls.isEmpty()); // no verdict, no error box
    QCOMPARE(pointers, QList<int>{Surface::Hourglass});
    QVERIFY(!Globals::RunBusy);
    QCOMPARE(leftovers(), tempBefore); // nothing is left in the temporary location
}

QTEST_MAIN(TestContextualWeb)
#include "tst_contextualweb.moc"
