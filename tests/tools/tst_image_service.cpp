// The local image service, reached with real curl over real TLS: the answers the program scans, the
// pictures and faulty downloads it fetches, and the request log the other tests assert on.
#include "image_service.h"

#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

namespace {

const QString SearchPath = QStringLiteral("/api/Search/ImageSearchAPI");

// The keys of a JSON object in the order they appear in the text.
QStringList keysInOrder(const QByteArray& objectText) {
    QStringList keys;
    int depth = 0;
    bool inString = false;
    qsizetype start = -1;
    for (qsizetype i = 0; i < objectText.size(); ++i) {
        const char c = objectText.at(i);
        if (inString) {
            if (c == '\\')
                ++i;
            else if (c == '"') {
                inString = false;
                if (depth == 1 && i + 1 < objectText.size() && objectText.at(i + 1) == ':')
                    keys << QString::fromUtf8(objectText.mid(start, i - start));
            }
        } else if (c == '"') {
            inString = true;
            start = i + 1;
        } else if (c == '{' || c == '[') {
            ++depth;
        } else if (c == '}' || c == ']') {
            --depth;
        }
    }
    return keys;
}

} // namespace

class TestImageService : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void answerShape();
    void paging_data();
    void paging();
    void keyProblems_data();
    void keyProblems();
    void defaultCatalogue();
    void pictures_data();
    void pictures();
    void faults_data();
    void faults();
    void catalogue_data();
    void catalogue();
    void specialKeywords_data();
    void specialKeywords();
    void requestLog();
    void environment();
    void startAndEnd_data();
    void startAndEnd();
    void searchLatency_data();
    void searchLatency();

private:
    QByteArray search(ImageService& service, const QString& query, int* status = nullptr,
                      const QString& key = ImageService::validKey());
    ImageService* service = nullptr;
    ImageService* slowSearches = nullptr; // with --search-latency
};

QByteArray TestImageService::search(ImageService& s, const QString& query, int* status, const QString& key) {
    QByteArray body;
    const int rc =
        s.curl({QStringLiteral("-H"), QStringLiteral("x-rapidapi-host: ") + s.host(), QStringLiteral("-H"),
                QStringLiteral("x-rapidapi-key: ") + key, s.searchUrl(query)},
               &body, status);
    if (rc != 0)
        qWarning("curl ended with %d", rc);
    return body;
}

void TestImageService::initTestCase() {
    service = new ImageService;
    QVERIFY2(service->isRunning(), qPrintable(service->errorText()));
    connect(this, &QObject::destroyed, [s = service] { delete s; });
}

void TestImageService::answerShape() {
    int status = 0;
    const QByteArray text =
        search(*service, QStringLiteral("q=red%20car&pageNumber=1&pageSize=3&autoCorrect=true"), &status);
    QCOMPARE(status, 200);
    QVERIFY(text.startsWith(
        "{\"_type\":\"images\",\"totalCount\":60,\"value\":[{\"url\":\"https:\\/\\/127.0.0.1:"));
    QVERIFY(text.endsWith("]}")); // compact, no trailing newline
    QVERIFY(!text.contains('\n') && !text.contains(": ") && !text.contains(", "));
    // every slash inside a string is escaped, as the program's scanner expects
    QVERIFY(!QRegularExpression(QStringLiteral("[^\\\\]/")).match(QString::fromUtf8(text)).hasMatch());

    const QJsonObject doc = QJsonDocument::fromJson(text).object();
    QCOMPARE(doc.value(QLatin1String("value")).toArray().size(), 3);

    const qsizetype first = text.indexOf("[{") + 1;
    const qsizetype second = text.indexOf("},{\"url\"", first) + 1;
    const QStringList expected = {QStringLiteral("url"),
                                  QStringLiteral("height"),
                                  QStringLiteral("width"),
                                  QStringLiteral("thumbnail"),
                                  QStringLiteral("thumbnailHeight"),
                                  QStringLiteral("thumbnailWidth"),
                                  QStringLiteral("base64Encoding"),
                                  QStringLiteral("name"),
                                  QStringLiteral("title"),
                                  QStringLiteral("provider"),
                                  QStringLiteral("imageWebSearchUrl"),
                                  QStringLiteral("webpageUrl")};
    QCOMPARE(keysInOrder(text.mid(first, second - first)), expected);
    QVERIFY(text.contains(",\"base64Encoding\":null,"));
    const QByteArray provider = text.mid(text.indexOf("\"provider\":") + 11);
    QCOMPARE(keysInOrder(provider.left(provider.indexOf('}') + 1)),
             (QStringList{QStringLiteral("name"), QStringLiteral("favIcon"),
                          QStringLiteral("favIconBase64Encoding")}));

    // the same keyword answers the same text
    QCOMPARE(search(*service, QStringLiteral("q=red%20car&pageNumber=1&pageSize=3&autoCorrect=true")), text);
}

void TestImageService::paging_data() {
    QTest::addColumn<QString>("paging");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("firstIndex"); // 0-based position in the keyword's whole list
    QTest::newRow("first page") << "&pageNumber=1&pageSize=25" << 25 << 0;
    QTest::newRow("second page") << "&pageNumber=2&pageSize=25" << 25 << 25;
    QTest::newRow("last, partial page") << "&pageNumber=3&pageSize=25" << 10 << 50;
    QTest::newRow("past the end") << "&pageNumber=4&pageSize=25" << 0 << 0;
    QTest::newRow("size 50") << "&pageNumber=1&pageSize=50" << 50 << 0;
    QTest::newRow("size above 50 is capped") << "&pageNumber=1&pageSize=80" << 50 << 0;
    QTest::newRow("capped second page") << "&pageNumber=2&pageSize=80" << 10 << 50;
    QTest::newRow("no paging") << "" << 10 << 0;
    QTest::newRow("nonsense paging") << "&pageNumber=x&pageSize=-3" << 10 << 0;
}

void TestImageService::paging() {
    QFETCH(QString, paging);
    QFETCH(int, count);
    QFETCH(int, firstIndex);
    const QJsonArray all =
        QJsonDocument::fromJson(search(*service, QStringLiteral("q=paging&pageNumber=1&pageSize=50")))
            .object()
            .value(QLatin1String("value"))
            .toArray();
    const QJsonArray rest =
        QJsonDocument::fromJson(search(*service, QStringLiteral("q=paging&pageNumber=2&pageSize=50")))
            .object()
            .value(QLatin1String("value"))
            .toArray();
    QCOMPARE(all.size() + rest.size(), 60);
    const QJsonObject page =
        QJsonDocument::fromJson(search(*service, QStringLiteral("q=paging&autoCorrect=true") + paging))
            .object();
    QCOMPARE(page.value(QLatin1String("totalCount")).toInt(), 60);
    const QJsonArray value = page.value(QLatin1String("value")).toArray();
    QCOMPARE(value.size(), count);
    if (count > 0) {
        const QJsonValue expected = firstIndex < 50 ? all.at(firstIndex) : rest.at(firstIndex - 50);
        QCOMPARE(value.at(0).toObject().value(QLatin1String("url")),
                 expected.toObject().value(QLatin1String("url")));
    }
}

void TestImageService::keyProblems_data() {
    QTest::addColumn<QStringList>("headers");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    const QByteArray missing =
        "{\"message\":\"Invalid API key. Go to https:\\/\\/docs.rapidapi.com\\/docs\\/keys for more info.\"}";
    const QString routed = QStringLiteral("x-rapidapi-host: 127.0.0.1:%1").arg(service->port());
    QTest::newRow("no key header") << QStringList{routed} << 401 << missing;
    QTest::newRow("empty key") << QStringList{routed, QStringLiteral("x-rapidapi-key;")} << 401 << missing;
    QTest::newRow("unknown key") << QStringList{routed, QStringLiteral("x-rapidapi-key: demo-key-012345678")}
                                 << 403
                                 << QByteArray("{\"message\":\"You are not subscribed to this API.\"}");
    QTest::newRow("key in another case")
        << QStringList{routed, QStringLiteral("x-rapidapi-key: DEMO-KEY-0123456789")} << 403
        << QByteArray("{\"message\":\"You are not subscribed to this API.\"}");
    QTest::newRow("quota spent")
        << QStringList{routed, QStringLiteral("x-rapidapi-key: ") + ImageService::quotaKey()} << 429
        << QByteArray("{\"message\":\"You have exceeded the MONTHLY quota for Requests on your "
                      "current plan, BASIC. Upgrade your plan at "
                      "https:\\/\\/rapidapi.com\\/contextualwebsearch\\/api\\/web-search\"}");
    QTest::newRow("no host header")
        << QStringList{QStringLiteral("x-rapidapi-key: ") + ImageService::validKey()} << 400
        << QByteArray("{\"message\":\"Missing or wrong x-rapidapi-host header.\"}");
    QTest::newRow("wrong host header")
        << QStringList{QStringLiteral("x-rapidapi-host: example.com"),
                       QStringLiteral("x-rapidapi-key: ") + ImageService::validKey()}
        << 400 << QByteArray("{\"message\":\"Missing or wrong x-rapidapi-host header.\"}");
}

void TestImageService::keyProblems() {
    QFETCH(QStringList, headers);
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QStringList arguments;
    for (const QString& h : headers)
        arguments << QStringLiteral("-H") << h;
    arguments << service->searchUrl(QStringLiteral("q=city&pageNumber=1&pageSize=4&autoCorrect=true"));
    QByteArray answer;
    int code = 0;
    QString type;
    QCOMPARE(service->curl(arguments, &answer, &code, &type), 0);
    QCOMPARE(code, status);
    QCOMPARE(answer, body);
    QVERIFY(type.startsWith(QLatin1String("application/json")));
}

void TestImageService::defaultCatalogue() {
    QJsonArray all;
    for (int page = 1; page <= 2; ++page)
        for (const QJsonValue& v :
             QJsonDocument::fromJson(
                 search(*service, QStringLiteral("q=sunset&pageNumber=%1&pageSize=50").arg(page)))
                 .object()
                 .value(QLatin1String("value"))
                 .toArray())
            all.append(v);
    QCOMPARE(all.size(), 60);
    QSet<QString> extensions, queries;
    int wide = 0, narrow = 0;
    for (const QJsonValue& v : all) {
        const QJsonObject r = v.toObject();
        const QString url = r.value(QLatin1String("url")).toString();
        QVERIFY2(url.startsWith(service->baseUrl() + QStringLiteral("/img/")), qPrintable(url));
        const QString file = url.section(QLatin1Char('/'), -1);
        extensions << file.section(QLatin1Char('?'), 0, 0).section(QLatin1Char('.'), -1);
        queries << (file.contains(QLatin1Char('?')) ? file.section(QLatin1Char('?'), 1) : QString());
        (r.value(QLatin1String("width")).toInt() > 500 ? wide : narrow)++;
    }
    QCOMPARE(extensions,
             (QSet<QString>{QStringLiteral("jpg"), QStringLiteral("png"), QStringLiteral("jpeg")}));
    QCOMPARE(queries, (QSet<QString>{QString(), QStringLiteral("w=979"),
                                     QStringLiteral("width=3200&height=1809&fit=crop")}));
    QVERIFY(wide > 5 && narrow > 5);
    QVERIFY(search(*service, QStringLiteral("q=sunrise&pageNumber=1&pageSize=5")) !=
            search(*service, QStringLiteral("q=sunset&pageNumber=1&pageSize=5")));
}

void TestImageService::pictures_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("format");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QString>("contentType");
    QTest::newRow("png") << "/img/png/640x480/0000002a/a.png" << QByteArray("png") << QSize(640, 480)
                         << "image/png";
    QTest::newRow("jpeg, query") << "/img/jpeg/300x450/0000002a/a.jpg?w=979" << QByteArray("jpeg")
                                 << QSize(300, 450) << "image/jpeg";
    QTest::newRow("png under another extension") << "/img/png/17x3/1/b.jpg?width=3200&height=1809&fit=crop"
                                                 << QByteArray("png") << QSize(17, 3) << "image/png";
    QTest::newRow("one pixel") << "/img/jpeg/1x1/ffffffff/c" << QByteArray("jpeg") << QSize(1, 1)
                               << "image/jpeg";
    QTest::newRow("redirect to png") << "/img/redirect/120x90/7/d.jpg" << QByteArray("png") << QSize(120, 90)
                                     << "image/png";
    QTest::newRow("redirect, name not ASCII")
        << "/img/redirect/12x9/7/f%C3%BCr%20x.jpg" << QByteArray("png") << QSize(12, 9) << "image/png";
}

void TestImageService::pictures() {
    QFETCH(QString, path);
    QFETCH(QByteArray, format);
    QFETCH(QSize, size);
    QFETCH(QString, contentType);
    const QString url = service->baseUrl() + path;
    QByteArray body;
    int status = 0;
    QString type;
    QCOMPARE(service->curl({QStringLiteral("-L"), url}, &body, &status, &type), 0);
    QCOMPARE(status, 200);
    QCOMPARE(type, contentType);
    const QImage image = QImage::fromData(body, format.constData());
    QCOMPARE(image.size(), size);
    QCOMPARE(ImageService::pictureBytes(url), body);
    QByteArray again;
    QCOMPARE(service->curl({QStringLiteral("-L"), url}, &again), 0);
    QCOMPARE(again, body);
}

void TestImageService::faults_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("curlExit");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("bodyStart");
    const QStringList follow = {QStringLiteral("-L")};
    QTest::newRow("html") << "/img/html/640x480/1/a.jpg" << follow << 0 << 200 << QByteArray("<html>");
    QTest::newRow("doctype") << "/img/doctype/640x480/1/a.jpg" << follow << 0 << 200
                             << QByteArray("<!DOCTYPE html>");
    QTest::newRow("json error") << "/img/jsonerror/640x480/1/a.png" << follow << 0 << 403
                                << QByteArray("{\"error\":");
    QTest::newRow("not found") << "/img/notfound/640x480/1/a.png" << follow << 0 << 404
                               << QByteArray("<html>");
    QTest::newRow("unknown path") << "/nothing/here" << follow << 0 << 404 << QByteArray("<html>");
    QTest::newRow("redirect not followed")
        << "/img/redirect/64x64/1/a.png" << QStringList() << 0 << 302 << QByteArray();
    QTest::newRow("redirect loop") << "/img/redirectloop/64x64/1/a.png" << follow << 47 << 302
                                   << QByteArray();
    QTest::newRow("cut off") << "/img/cutoff/200x150/1/a.png" << follow << 18 << 200 << QByteArray("\x89PNG");
    QTest::newRow("slow") << "/img/slow/64x64/1/a.png"
                          << QStringList{QStringLiteral("--max-time"), QStringLiteral("1")} << 28 << 200
                          << QByteArray("\x89PNG");
    QTest::newRow("huge") << "/img/huge/64x64/1/a.png" << follow << 0 << 200 << QByteArray("\x89PNG");
    QTest::newRow("head of huge") << "/img/huge/64x64/1/a.png" << QStringList{QStringLiteral("-I")} << 0
                                  << 200 << QByteArray();
    QTest::newRow("picture GET with a form")
        << "/img/png/64x64/1/a.png" << QStringList{"-X", "GET", "-F", "type=image"} << 0 << 400
        << QByteArray("<html>");
    QTest::newRow("picture with a Content-Type")
        << "/img/png/64x64/1/a.png" << QStringList{"-H", "Content-Type: image/png"} << 0 << 400
        << QByteArray("<html>");
}

void TestImageService::faults() {
    QFETCH(QString, path);
    QFETCH(QStringList, options);
    QFETCH(int, curlExit);
    QFETCH(int, status);
    QFETCH(QByteArray, bodyStart);
    QByteArray body;
    int code = 0;
    QCOMPARE(service->curl(options << service->baseUrl() + path, &body, &code), curlExit);
    QCOMPARE(code, status);
    QVERIFY2(body.startsWith(bodyStart), body.left(40).constData());
    if (status == 400) { // refused, and in the log as it came
        const QList<ImageService::Request> log = service->requests();
        QVERIFY(!log.isEmpty() && log.last().path == path && log.last().hasHeader("content-type"));
    }
    if (path.contains(QLatin1String("huge")) && !options.contains(QLatin1String("-I")))
        QCOMPARE(body.size(), 30 * 1024 * 1024);
    if (path.contains(QLatin1String("cutoff")))
        QVERIFY(body.size() <
                ImageService::pictureBytes(service->baseUrl() + QStringLiteral("/img/png/200x150/1/a.png"))
                    .size());
}

void TestImageService::catalogue_data() {
    QTest::addColumn<QString>("query");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("expected"); // the whole answer, "{host}" standing for 127.0.0.1:PORT
    QTest::newRow("chosen results") << "q=two%20cats&pageNumber=1&pageSize=25" << 200
                                    << QByteArray(
                                           "{\"_type\":\"images\",\"totalCount\":40000,\"value\":["
                                           "{\"url\":\"https:\\/\\/{host}\\/img\\/png\\/800x20\\/00000005\\/"
                                           "two-cats-1.png?w=979\",\"height\":20,\"width\":800,");
    QTest::newRow("second result") << "q=two%20cats&pageNumber=2&pageSize=1" << 200
                                   << QByteArray("{\"_type\":\"images\",\"totalCount\":40000,\"value\":["
                                                 "{\"url\":\"https:\\/\\/{host}\\/img\\/huge-1000\\/10x10\\/"
                                                 "00000006\\/f\\u00fcr\",\"height\":10,\"width\":10,");
    QTest::newRow("address as given")
        << "q=odd&pageNumber=1&pageSize=25" << 200
        << QByteArray("{\"_type\":\"images\",\"totalCount\":1,\"value\":["
                      "{\"url\":\"https:\\/\\/{host}\\/photo.jpg?v=1.2\",\"height\":480,\"width\":640,");
    QTest::newRow("raw answer") << "q=broken&pageNumber=1&pageSize=25" << 500
                                << QByteArray("{\"message\":\"Internal, sorry\"}");
    QTest::newRow("fallback") << "q=anything&pageNumber=1&pageSize=25" << 200
                              << QByteArray("{\"_type\":\"images\",\"totalCount\":0,\"value\":[]}");
}

void TestImageService::catalogue() {
    QFETCH(QString, query);
    QFETCH(int, status);
    QFETCH(QByteArray, expected);
    ImageService own({}, R"({
        "two cats": {"totalCount": 40000, "results": [
            {"kind": "png", "width": 800, "height": 20, "ext": "png", "query": "?w=979", "seed": 5},
            {"kind": "huge", "width": 10, "height": 10, "ext": "", "name": "f\u00fcr", "seed": 6, "bytes": 1000}]},
        "odd": {"results": [{"url": "https://{host}/photo.jpg?v=1.2"}]},
        "broken": {"status": 500, "body": "{\"message\":\"Internal, sorry\"}"},
        "*": {"totalCount": 0, "results": []}
    })");
    QVERIFY2(own.isRunning(), qPrintable(own.errorText()));
    int code = 0;
    const QByteArray text = search(own, query, &code);
    QCOMPARE(code, status);
    expected.replace("{host}", own.host().toUtf8());
    expected.replace("f\\u00fcr", QStringLiteral("f\u00fcr").toUtf8()); // sent as UTF-8, not escaped
    QVERIFY2(text.startsWith(expected), text.constData());
    if (query.startsWith(QLatin1String("q=two%20cats&pageNumber=2"))) {
        const QString url = QJsonDocument::fromJson(text)
                                .object()
                                .value(QLatin1String("value"))
                                .toArray()
                                .at(0)
                                .toObject()
                                .value(QLatin1String("url"))
                                .toString();
        QByteArray body;
        QCOMPARE(own.curl({QString::fromUtf8(QUrl(url).toEncoded())}, &body), 0);
        QCOMPARE(body.size(), 1000);
    }
}

void TestImageService::specialKeywords_data() {
    QTest::addColumn<QString>("query");
    QTest::addColumn<int>("total");
    QTest::addColumn<QStringList>("kinds");
    QTest::newRow("nothing") << "q=nothing" << 0 << QStringList();
    QTest::newRow("empty keyword") << "q=&pageNumber=1&pageSize=25" << 0 << QStringList();
    QTest::newRow("no q at all") << "pageNumber=1" << 0 << QStringList();
    QTest::newRow("spaces are a keyword") << "q=%20%20&pageSize=2" << 60 << QStringList{"jpeg", "jpeg"};
    QTest::newRow("one kind") << "q=kind-html&pageSize=3" << 60 << QStringList{"html", "html", "html"};
    QTest::newRow("unknown kind is a plain keyword")
        << "q=kind-gif&pageSize=3" << 60 << QStringList{"jpeg", "jpeg", "png"};
    QTest::newRow("faults") << "q=faults&pageSize=50" << 15
                            << QStringList{"png",       "html",         "jpeg",     "doctype", "png",
                                           "jsonerror", "jpeg",         "redirect", "png",     "notfound",
                                           "jpeg",      "redirectloop", "png",      "cutoff",  "jpeg"};
}

void TestImageService::specialKeywords() {
    QFETCH(QString, query);
    QFETCH(int, total);
    QFETCH(QStringList, kinds);
    const QJsonObject answer = QJsonDocument::fromJson(search(*service, query)).object();
    QCOMPARE(answer.value(QLatin1String("totalCount")).toInt(), total);
    QStringList seen;
    for (const QJsonValue& v : answer.value(QLatin1String("value")).toArray())
        seen << v.toObject().value(QLatin1String("url")).toString().section(QLatin1Char('/'), 4, 4);
    QCOMPARE(seen, kinds);
}

void TestImageService::requestLog() {
    service->clearRequests();
    QCOMPARE(service->requests().size(), 0);
    QByteArray body;
    QCOMPARE(service->curl({QStringLiteral("-X"), QStringLiteral("GET"), QStringLiteral("-F"),
                            QStringLiteral("type=image"), QStringLiteral("-H"),
                            QStringLiteral("X-RapidAPI-Key: a \"b\" $(c)"),
                            service->searchUrl(QStringLiteral(
                                "q=r%C3%A9d+%26car&pageNumber=2&pageSize=27&autoCorrect=true"))},
                           &body),
             0);
    QCOMPARE(service->curl({service->baseUrl() + QStringLiteral("/img/png/2x2/1/a.png?w=979")}, &body), 0);
    const QList<ImageService::Request> log = service->requests();
    QCOMPARE(log.size(), 2);
    const ImageService::Request& s = log.at(0);
    QCOMPARE(s.method, QStringLiteral("GET"));
    QCOMPARE(s.path, SearchPath);
    QCOMPARE(s.query, QStringLiteral("q=r%C3%A9d+%26car&pageNumber=2&pageSize=27&autoCorrect=true"));
    QCOMPARE(s.queryItems,
             (QList<QPair<QString, QString>>{{QStringLiteral("q"), QStringLiteral("r\u00e9d &car")},
                                             {QStringLiteral("pageNumber"), QStringLiteral("2")},
                                             {QStringLiteral("pageSize"), QStringLiteral("27")},
                                             {QStringLiteral("autoCorrect"), QStringLiteral("true")}}));
    QCOMPARE(s.header(QStringLiteral("X-RapidAPI-Key")), QStringLiteral("a \"b\" $(c)"));
    QVERIFY(!s.hasHeader(QStringLiteral("x-rapidapi-host")));
    QVERIFY(s.header(QStringLiteral("content-type")).startsWith(QLatin1String("multipart/form-data")));
    QVERIFY(s.body.contains("name=\"type\"\r\n\r\nimage\r\n"));
    QCOMPARE(log.at(1).path, QStringLiteral("/img/png/2x2/1/a.png"));
    QCOMPARE(log.at(1).queryValue(QStringLiteral("w")), QStringLiteral("979"));
    QCOMPARE(service->searchRequests().size(), 1);
}

void TestImageService::environment() {
    qputenv("GLIMMERFETCH_SERVICE_HOST", "before");
    qunsetenv("GLIMMERFETCH_CA_BUNDLE");
    {
        ImageService own;
        QVERIFY2(own.isRunning(), qPrintable(own.errorText()));
        own.applyToEnvironment();
        QCOMPARE(qgetenv("GLIMMERFETCH_SERVICE_HOST"), own.host().toUtf8());
        QCOMPARE(qgetenv("GLIMMERFETCH_CA_BUNDLE"), ImageService::caBundle().toUtf8());
        QVERIFY(QFile::exists(ImageService::caBundle()));
    }
    QCOMPARE(qgetenv("GLIMMERFETCH_SERVICE_HOST"), QByteArray("before"));
    QVERIFY(!qEnvironmentVariableIsSet("GLIMMERFETCH_CA_BUNDLE"));
    qunsetenv("GLIMMERFETCH_SERVICE_HOST");
}

void TestImageService::startAndEnd_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode"); // -1: serves until ended
    QTest::addColumn<QString>("stderrHas");
    QTest::newRow("serves, ends on SIGTERM") << QStringList() << -1 << "";
    QTest::newRow("no certificate") << QStringList{"--cert", ""} << 2 << "--cert and --key are required";
    QTest::newRow("unreadable certificate")
        << QStringList{"--cert", "/nonexistent/server.pem"} << 2 << "cannot read";
    QTest::newRow("bad catalogue") << QStringList{"--catalog", "{catalog}"} << 2 << "unknown kind \"gif\"";
    QTest::newRow("bad port") << QStringList{"--port", "70000"} << 2 << "--port";
    QTest::newRow("bad search latency") << QStringList{"--search-latency", "-1"} << 2 << "--search-latency";
}

void TestImageService::startAndEnd() {
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, stderrHas);
    QTemporaryDir dir;
    QFile catalog(dir.filePath(QStringLiteral("c.json")));
    QVERIFY(catalog.open(QIODevice::WriteOnly));
    catalog.write(R"({"k": {"results": [{"kind": "gif"}]}})");
    catalog.close();
    const QString certs = QFileInfo(ImageService::caBundle()).path();
    QStringList all{QStringLiteral("--cert"), certs + QStringLiteral("/server.pem"), QStringLiteral("--key"),
                    certs + QStringLiteral("/server.key")};
    for (const QString& a : arguments)
        all << (a == QLatin1String("{catalog}") ? catalog.fileName() : a);
    QProcess p;
    p.start(ImageService::programPath(), all);
    QVERIFY(p.waitForStarted());
    if (exitCode < 0) {
        QVERIFY(p.waitForReadyRead(10000));
        QTest::qWait(100);
        const QByteArray out = p.readAllStandardOutput();
        QVERIFY2(QRegularExpression(QStringLiteral("^PORT [1-9][0-9]*\n$"))
                     .match(QString::fromLatin1(out))
                     .hasMatch(),
                 out.constData());
        p.terminate();
        QVERIFY(p.waitForFinished(5000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 0);
        return;
    }
    QVERIFY(p.waitForFinished(10000));
    QCOMPARE(p.exitCode(), exitCode);
    QCOMPARE(p.readAllStandardOutput(), QByteArray());
    const QString err = QString::fromLocal8Bit(p.readAllStandardError());
    QVERIFY2(err.contains(stderrHas), qPrintable(err));
}

// Every source's search answer waits out --search-latency (a minute: curl gives up long before it);
// pictures do not.
void TestImageService::searchLatency_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("maxTime"); // curl's --max-time
    QTest::addColumn<int>("curlExit");
    QTest::newRow("hosted service") << "/api/Search/ImageSearchAPI?q=a"
                                    << "0.5" << 28;
    QTest::newRow("openverse") << "/v1/images/?q=a"
                               << "0.5" << 28;
    QTest::newRow("commons") << "/w/api.php?gsrsearch=a"
                             << "0.5" << 28;
    QTest::newRow("pexels") << "/v1/search?query=a"
                            << "0.5" << 28;
    QTest::newRow("pixabay") << "/api/?q=a"
                             << "0.5" << 28;
    QTest::newRow("picture") << "/img/png/64x64/1/a.png"
                             << "20" << 0;
}

void TestImageService::searchLatency() {
    QFETCH(QString, path);
    QFETCH(QString, maxTime);
    QFETCH(int, curlExit);
    if (!slowSearches) {
        slowSearches = new ImageService({QStringLiteral("--search-latency"), QStringLiteral("60000")});
        connect(this, &QObject::destroyed, [s = slowSearches] { delete s; });
    }
    QVERIFY2(slowSearches->isRunning(), qPrintable(slowSearches->errorText()));
    QByteArray body;
    QCOMPARE(
        slowSearches->curl({QStringLiteral("--max-time"), maxTime, slowSearches->baseUrl() + path}, &body),
        curlExit);
}

QTEST_GUILESS_MAIN(TestImageService)
#include "tst_image_service.moc"
