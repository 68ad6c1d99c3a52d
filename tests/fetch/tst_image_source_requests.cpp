// The image sources' names and requests, and each source through real curl over TLS against the
// local image service: two pages of a keyword, the requests as the service saw them, its error answers.
#include "build_config.h"
#include "fetch/curl_session.h"
#include "fetch/picture_fetch.h"
#include "fetch/sources/adapters.h"
#include "fetch/tool_runner.h"
#include "image_service.h"
#include "source_summary.h"

#include <QFile>
#include <QTest>

#include <memory>
#include <optional>

using namespace Sources;

Q_DECLARE_METATYPE(Sources::Source)

namespace {

// A fresh adapter of the source.
std::unique_ptr<Sources::ImageSource> adapter(Sources::Source source) {
    return Sources::makeAdapter(source);
}

} // namespace

class TestImageSourceRequests : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void names_data();
    void names();
    void requests_data();
    void requests();
    void roundTrip_data();
    void roundTrip();
    void serviceAnswers_data();
    void serviceAnswers();
    void serviceRefusals_data();
    void serviceRefusals();
    void licenceNames_data();
    void licenceNames();
    void serviceLicences_data();
    void serviceLicences();

private:
    SourceAnswer ask(const ImageSource& source, const PageQuery& query);
    std::unique_ptr<ImageService> service;
    std::optional<CurlSession> curl;
};

void TestImageSourceRequests::initTestCase() {
    service = std::make_unique<ImageService>(
        QStringList{"--valid-key", ImageService::validKey(), "--quota-key", ImageService::quotaKey()});
    QVERIFY2(service->isRunning(), qPrintable(service->errorText()));
    service->applyToEnvironment();
}

void TestImageSourceRequests::init() {
    service->clearRequests();
    curl.emplace();
}

void TestImageSourceRequests::cleanup() {
    curl.reset();
}

void TestImageSourceRequests::names_data() {
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<bool>("needsKey");
    QTest::addColumn<int>("position");
    const QString original = QStringLiteral("Contextual Web Search (RapidAPI key)");
    QTest::newRow("contextualweb") << "contextualweb" << original << true << 0;
    QTest::newRow("openverse") << "openverse"
                               << "Openverse (no key needed)" << false << 1;
    QTest::newRow("commons") << "commons"
                             << "Wikimedia Commons (no key needed)" << false << 2;
    QTest::newRow("pexels") << "pexels"
                            << "Pexels (free key)" << true << 3;
    QTest::newRow("pixabay") << "pixabay"
                             << "Pixabay (free key)" << true << 4;
    // Settings written before there was a choice, or by a newer program, mean the original service.
    QTest::newRow("missing") << "" << original << true << 0;
    QTest::newRow("unknown") << "flickr" << original << true << 0;
    QTest::newRow("other case") << "Openverse" << original << true << 0;
}

void TestImageSourceRequests::names() {
    QFETCH(QString, stored);
    QFETCH(QString, caption);
    QFETCH(bool, needsKey);
    QFETCH(int, position);
    const Source source = fromStoredName(stored);
    QCOMPARE(Sources::caption(source), caption);
    QCOMPARE(Sources::needsKey(source), needsKey);
    QCOMPARE(adapter(source)->source(), source);
    QCOMPARE(fromStoredName(storedName(source)), source);
    QCOMPARE(All[position], source); // the key dialog's order
    if (position > 0)
        QCOMPARE(storedName(source), stored);
}

void TestImageSourceRequests::requests_data() {
    QTest::addColumn<Source>("source");
    QTest::addColumn<QString>("serviceHost");
    QTest::addColumn<QString>("keyword");
    QTest::addColumn<int>("page");
    QTest::addColumn<int>("offset");
    QTest::addColumn<int>("size");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QByteArray>("headers");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("licence"); // as stored; "" for any
    QTest::newRow("openverse, page size held to 20")
        << Source::Openverse << ""
        << "red car" << 2 << 0 << 50 << ""
        << "https://api.openverse.org/v1/images/?q=red%20car&page=2&page_size=20" << QByteArray() << ""
        << "";
    QTest::newRow("commons, offset and keyword after the type")
        << Source::Commons << ""
        << "Zürich" << 1 << 40 << 20 << ""
        << "https://commons.wikimedia.org/w/api.php?action=query&format=json&formatversion=2&generator="
           "search&gsrsearch=filetype%3Abitmap%20Z%C3%BCrich&gsrnamespace=6&gsrlimit=20&gsroffset=40&prop="
           "imageinfo&iiprop=url%7Csize%7Cmime%7Cextmetadata&iiextmetadatafilter=ObjectName%7CArtist%7C"
           "LicenseShortName%7CLicenseUrl%7CLicense%7CAttributionRequired%7CNonFree"
        << QByteArray() << ""
        << "";
    QTest::newRow("pexels, page 0 and size 100 held to 1 and 80, key quoted for curl")
        << Source::Pexels << ""
        << "cat\"&x" << 0 << 0 << 100 << "k\"ey\\ --x"
        << "https://api.pexels.com/v1/search?query=cat%22%26x&page=1&per_page=80"
        << QByteArray("header = \"Authorization: k\\\"ey\\\\ --x\"\n") << ""
        << "";
    QTest::newRow("pixabay, key in the address, size held to 3")
        << Source::Pixabay << ""
        << "fruits" << 3 << 0 << 1 << "abc 123&q=x"
        << "https://pixabay.com/api/?key=abc%20123%26q%3Dx&q=fruits&page=3&per_page=3&image_type=photo"
        << QByteArray() << "https://pixabay.com/api/?key=...&q=fruits&page=3&per_page=3&image_type=photo"
        << "";
    QTest::newRow("openverse, a character beyond 16 bits as one UTF-8 sequence")
        << Source::Openverse << "" << QString::fromUtf8("\xF0\x9F\x98\x80 ~cat.") << 1 << 0 << 20 << ""
        << "https://api.openverse.org/v1/images/?q=%F0%9F%98%80%20~cat.&page=1&page_size=20" << QByteArray()
        << ""
        << "";
    QTest::newRow("the local service's host replaces the source's")
        << Source::Pexels << "127.0.0.1:4443"
        << "a b" << 1 << 0 << 15 << "key-0123"
        << "https://127.0.0.1:4443/v1/search?query=a%20b&page=1&per_page=15"
        << QByteArray("header = \"Authorization: key-0123\"\n") << ""
        << "";
    // Openverse is asked for the licences; Commons only for the fields that judge them.
    const QString openverse = "https://api.openverse.org/v1/images/?q=cat&page=1&page_size=20";
    QTest::newRow("openverse, commercial use")
        << Source::Openverse << ""
        << "cat" << 1 << 0 << 20 << "" << openverse + "&license_type=commercial" << QByteArray() << ""
        << "commercial";
    QTest::newRow("openverse, commercial use and changes")
        << Source::Openverse << ""
        << "cat" << 1 << 0 << 20 << "" << openverse + "&license_type=commercial,modification" << QByteArray()
        << ""
        << "modify";
    QTest::newRow("openverse, no credit")
        << Source::Openverse << ""
        << "cat" << 1 << 0 << 20 << "" << openverse + "&license=cc0,pdm" << QByteArray() << ""
        << "nocredit";
}

void TestImageSourceRequests::requests() {
    QFETCH(Source, source);
    QFETCH(QString, serviceHost);
    QFETCH(QString, keyword);
    QFETCH(int, page);
    QFETCH(int, offset);
    QFETCH(int, size);
    QFETCH(QString, key);
    QFETCH(QString, address);
    QFETCH(QByteArray, headers);
    QFETCH(QString, shown);
    QFETCH(QString, licence);
    qputenv("GLIMMERFETCH_SERVICE_HOST", serviceHost.toUtf8());
    PageQuery query{keyword, page, offset, size, key};
    query.licence = licenceFromStoredName(licence);
    const SourceRequest request = adapter(source)->request(query);
    service->applyToEnvironment();

    QCOMPARE(request.address, address);
    QCOMPARE(request.shownAddress, shown.isEmpty() ? address : shown);
    QCOMPARE(request.curlConfig, "url = \"" + address.toUtf8() + "\"\nuser-agent = \"Glimmerfetch/" +
                                     QByteArray(BuildConfig::Version) +
                                     " (https://kestrelon.example/contact/)\"\n" + headers);
    // Nothing of the request is on curl's command line: it reads it from standard input.
    const ToolCommand command = toolCommand(*curl, request);
    QCOMPARE(command.standardInput, request.curlConfig);
    QCOMPARE(command.arguments.mid(command.arguments.size() - 5),
             (QStringList{"--globoff", "-K", "-", "--output", curl->responseFile()}));
    for (const QString& argument : command.arguments) {
        QVERIFY(!argument.contains(QLatin1String("://")));
        QVERIFY(key.isEmpty() || !argument.contains(key));
    }
    QCOMPARE(command.fileSizeLimit, 33554432);
}

SourceAnswer TestImageSourceRequests::ask(const ImageSource& source, const PageQuery& query) {
    const ToolCommand command = toolCommand(*curl, source.request(query));
    ToolOutput output;
    const int exitCode = Shell32::RunAndWait(command, 0, nullptr, {}, 0, 0, 0, &output);
    if (exitCode != 0)
        qWarning("curl ended with %d: %s", exitCode, output.standardError.constData());
    QFile answer(curl->responseFile());
    return source.read(answer.open(QIODevice::ReadOnly) ? answer.readAll() : QByteArray(),
                       output.httpStatus(), query);
}

void TestImageSourceRequests::roundTrip_data() {
    QTest::addColumn<Source>("source");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("keywordItem");
    QTest::addColumn<QString>("pageItem");
    QTest::newRow("openverse") << Source::Openverse << "/v1/images/"
                               << "q"
                               << "page";
    QTest::newRow("commons") << Source::Commons << "/w/api.php"
                             << "gsrsearch"
                             << "gsroffset";
    QTest::newRow("pexels") << Source::Pexels << "/v1/search"
                            << "query"
                            << "page";
    QTest::newRow("pixabay") << Source::Pixabay << "/api/"
                             << "q"
                             << "page";
}

// Two pages of one keyword through curl, over TLS, from the local service.
void TestImageSourceRequests::roundTrip() {
    QFETCH(Source, source);
    QFETCH(QString, path);
    QFETCH(QString, keywordItem);
    QFETCH(QString, pageItem);
    const QString key = needsKey(source) ? ImageService::validKey() : QString();
    PageQuery query{QStringLiteral("red car"), 1, 0, 3, key};
    QStringList addresses;
    for (int page = 0; page < 2; ++page) {
        const SourceAnswer answer = ask(*adapter(source), query);
        QCOMPARE(summary(answer).section(QLatin1Char(' '), 0, 3), QStringLiteral("results 3 skipped 0"));
        QVERIFY(answer.hasNext);
        for (const SourceResult& r : answer.results) {
            QVERIFY2(r.address.startsWith(service->baseUrl() + "/img/"), qPrintable(r.address));
            QVERIFY(!addresses.contains(r.address));
            addresses << r.address;
            QVERIFY(r.width > 0 && r.height > 0 && !r.extension.isEmpty());
            QVERIFY(!r.credits.creator.isEmpty() && !r.credits.licence.isEmpty());
            QVERIFY(r.credits.sourcePage.startsWith(service->baseUrl() + "/page/"));
        }
        query = nextQuery(query, answer);
    }
    // What the service received: the source's path and query, the program's name, the key where due.
    const QList<ImageService::Request> requests = service->requests();
    QCOMPARE(requests.size(), 2);
    for (int i = 0; i < 2; ++i) {
        const ImageService::Request& r = requests[i];
        QCOMPARE(r.path, path);
        QCOMPARE(r.queryValue(keywordItem), source == Source::Commons
                                                ? QStringLiteral("filetype:bitmap red car")
                                                : QStringLiteral("red car"));
        QCOMPARE(r.queryValue(pageItem),
                 source == Source::Commons ? QString::number(3 * i) : QString::number(i + 1));
        QCOMPARE(r.header("user-agent"), programUserAgent());
        QCOMPARE(r.header("authorization"), source == Source::Pexels ? key : QString());
        QCOMPARE(r.queryValue("key"), source == Source::Pixabay ? key : QString());
    }
    // The addresses lead to pictures.
    QByteArray body;
    int status = 0;
    QCOMPARE(service->curl({addresses.first()}, &body, &status), 0);
    QCOMPARE(status, 200);
    QVERIFY(body.startsWith("\x89PNG") || body.startsWith("\xFF\xD8\xFF"));
}

void TestImageSourceRequests::serviceAnswers_data() {
    QTest::addColumn<Source>("source");
    QTest::addColumn<QString>("keyword");
    QTest::addColumn<QString>("key");
    QTest::addColumn<int>("page"); // or offset
    QTest::addColumn<QString>("summary");
    const QString valid = ImageService::validKey();
    QTest::newRow("openverse throttled")
        << Source::Openverse << "throttled"
        << "" << 1
        << "error 0 skipped 0 total -1 message Request was throttled. Expected available in 3600 seconds.";
    QTest::newRow("commons throttled")
        << Source::Commons << "throttled"
        << "" << 1
        << "error 0 skipped 0 total -1 message You've exceeded your rate limit. "
           "Please wait some time and try again.";
    QTest::newRow("pexels throttled") << Source::Pexels << "throttled" << valid << 1
                                      << "error 0 skipped 0 total -1 message Too Many Requests";
    QTest::newRow("pexels spent key") << Source::Pexels << "cat" << ImageService::quotaKey() << 1
                                      << "error 0 skipped 0 total -1 message Too Many Requests";
    QTest::newRow("pexels bad key") << Source::Pexels << "cat"
                                    << "nope" << 1 << "error 0 skipped 0 total -1 message Unauthorized";
    QTest::newRow("pixabay throttled") << Source::Pixabay << "throttled" << valid << 1
                                       << "error 0 skipped 0 total -1 message [ERROR 429] Too many requests. "
                                          "Limit: 100 requests per 60 seconds.";
    QTest::newRow("pixabay bad key")
        << Source::Pixabay << "cat"
        << "" << 1 << "error 0 skipped 0 total -1 message [ERROR 400] Invalid or missing API key";
    QTest::newRow("openverse nothing") << Source::Openverse << "nothing"
                                       << "" << 1 << "results 0 skipped 0 total 0";
    QTest::newRow("commons nothing") << Source::Commons << "nothing"
                                     << "" << 1 << "results 0 skipped 0 total -1";
    QTest::newRow("pexels nothing") << Source::Pexels << "nothing" << valid << 1
                                    << "results 0 skipped 0 total 0";
    QTest::newRow("pixabay nothing") << Source::Pixabay << "nothing" << valid << 1
                                     << "results 0 skipped 0 total 0";
    QTest::newRow("openverse last page") << Source::Openverse << "cat"
                                         << "" << 3 << "results 20 skipped 0 total 60";
    QTest::newRow("commons last page") << Source::Commons << "cat"
                                       << "" << 40 << "results 20 skipped 0 total -1";
    QTest::newRow("pexels last page")
        << Source::Pexels << "cat" << valid << 3 << "results 20 skipped 0 total 60";
    QTest::newRow("pixabay last page")
        << Source::Pixabay << "cat" << valid << 3 << "results 20 skipped 0 total 60";
}

void TestImageSourceRequests::serviceAnswers() {
    QFETCH(Source, source);
    QFETCH(QString, keyword);
    QFETCH(QString, key);
    QFETCH(int, page);
    QFETCH(QString, summary);
    QCOMPARE(::summary(ask(*adapter(source), {keyword, page, page, 20, key})), summary);
}

// What the local service refuses that the adapters never send.
void TestImageSourceRequests::serviceRefusals_data() {
    QTest::addColumn<QString>("target");
    QTest::addColumn<QStringList>("headers");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    const QStringList key{QStringLiteral("Authorization: ") + ImageService::validKey()};
    const QString pixabay =
        QStringLiteral("/api/?key=") + ImageService::validKey() + QStringLiteral("&q=cat");
    QTest::newRow("commons, curl's own name")
        << "/w/api.php?gsrsearch=cat" << QStringList() << 403
        << QByteArray("Please set a user-agent and respect our robot "
                      "policy https://w.wiki/4wJS. See also T400119.\n");
    QTest::newRow("openverse, page size above 20")
        << "/v1/images/?q=cat&page_size=21" << QStringList() << 401
        << QByteArray(R"({"detail":"page_size may not exceed 20 for anonymous requests"})");
    QTest::newRow("openverse, page 21")
        << "/v1/images/?q=cat&page=21" << QStringList() << 400
        << QByteArray(R"({"detail":{"page":["Ensure this value is less than or )"
                      R"(equal to 20."]}})");
    QTest::newRow("pexels, no key") << "/v1/search?query=cat" << QStringList() << 401
                                    << QByteArray(R"({"code":"Unauthorized","status":401})");
    QTest::newRow("pexels, no query")
        << "/v1/search?query=" << key << 400 << QByteArray(R"({"code":"No query param given","status":400})");
    QTest::newRow("pixabay, page size 2") << pixabay + "&per_page=2" << QStringList() << 400
                                          << QByteArray("[ERROR 400] \"per_page\" is out of valid range.");
    QTest::newRow("pixabay, page past the results") << pixabay + "&per_page=20&page=4" << QStringList() << 400
                                                    << QByteArray("[ERROR 400] \"page\" is out valid range.");
}

void TestImageSourceRequests::serviceRefusals() {
    QFETCH(QString, target);
    QFETCH(QStringList, headers);
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QStringList arguments;
    for (const QString& header : headers)
        arguments << QStringLiteral("-H") << header;
    QByteArray answer;
    int answerStatus = 0;
    QCOMPARE(service->curl(arguments << service->baseUrl() + target, &answer, &answerStatus), 0);
    QCOMPARE(answerStatus, status);
    QCOMPARE(answer, body);
}

void TestImageSourceRequests::licenceNames_data() {
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<int>("position");
    QTest::newRow("any") << "any"
                         << "Any licence" << 0;
    QTest::newRow("commercial") << "commercial"
                                << "Commercial use" << 1;
    QTest::newRow("modify") << "modify"
                            << "Commercial use and changes" << 2;
    QTest::newRow("nocredit") << "nocredit"
                              << "No credit needed" << 3;
    // Settings written before there was a choice, or by a newer program, keep every picture.
    QTest::newRow("missing") << ""
                             << "Any licence" << 0;
    QTest::newRow("other case") << "Commercial"
                                << "Any licence" << 0;
}

void TestImageSourceRequests::licenceNames() {
    QFETCH(QString, stored);
    QFETCH(QString, caption);
    QFETCH(int, position);
    const LicenceChoice choice = licenceFromStoredName(stored);
    QCOMPARE(choice, AllLicenceChoices[position]);
    QCOMPARE(Sources::caption(choice), caption);
    QCOMPARE(licenceFromStoredName(storedName(choice)), choice);
    // The original service tells no licence: it keeps to `any` only.
    const QVector<Source> honouring = sourcesHonouring(choice);
    QCOMPARE(honouring.size(), position == 0 ? 6 : 5);
    QCOMPARE(honours(Source::ContextualWeb, choice), position == 0);
    QVERIFY(honours(Source::Commons, choice));
}

void TestImageSourceRequests::serviceLicences_data() {
    QTest::addColumn<Source>("source");
    QTest::addColumn<QString>("licence");
    QTest::addColumn<int>("offset");
    QTest::addColumn<QString>("summary");
    QTest::addColumn<QString>("licences"); // of the results that fit, without repeats
    // The service's results take six licences in turn: BY-SA, CC0, BY, public domain, BY-NC, BY-ND.
    QTest::newRow("openverse, no credit")
        << Source::Openverse << "nocredit" << 1 << "results 20 skipped 0 total 20"
        << "CC0 1.0, Public Domain Mark 1.0";
    QTest::newRow("openverse, changes")
        << Source::Openverse << "modify" << 1 << "results 20 skipped 0 total 40 next page 2"
        << "CC BY-SA 4.0, CC0 1.0, CC BY 2.0, Public Domain Mark 1.0";
    QTest::newRow("openverse, commercial use")
        << Source::Openverse << "commercial" << 3 << "results 10 skipped 0 total 50"
        << "CC BY-SA 4.0, CC0 1.0, CC BY 2.0, Public Domain Mark 1.0, CC BY-ND 4.0";
    QTest::newRow("commons, no credit")
        << Source::Commons << "nocredit" << 0 << "results 20 skipped 0 total -1 next offset 20"
        << "CC0, Public domain";
    QTest::newRow("commons, commercial use")
        << Source::Commons << "commercial" << 18 << "results 20 skipped 0 total -1 next offset 38"
        << "CC BY-SA 4.0, CC0, CC BY 2.0, Public domain, CC BY-ND 4.0";
}

// The local service keeps to Openverse's licence filters and gives Commons' licence fields.
void TestImageSourceRequests::serviceLicences() {
    QFETCH(Source, source);
    QFETCH(QString, licence);
    QFETCH(int, offset);
    QFETCH(QString, summary);
    QFETCH(QString, licences);
    PageQuery query{QStringLiteral("cat"), offset, offset, 20, QString()};
    query.licence = licenceFromStoredName(licence);
    const SourceAnswer answer = ask(*adapter(source), query);
    QCOMPARE(::summary(answer), summary);
    QStringList fitting;
    for (const SourceResult& r : answer.results)
        if (r.licenceFits && !fitting.contains(r.credits.licence))
            fitting << r.credits.licence;
    QCOMPARE(fitting.join(", "), licences);
    if (source == Source::Openverse) // the service sent only those
        for (const SourceResult& r : answer.results)
            QVERIFY(r.licenceFits);
}

QTEST_MAIN(TestImageSourceRequests)
#include "tst_image_source_requests.moc"
