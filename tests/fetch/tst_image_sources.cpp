// The image sources' answer readers: the real answer shapes of each source, error answers, and hostile
// answers (wrong types, missing fields, nesting, addresses of other kinds, huge numbers and lists).
#include "fetch/sources/adapters.h"
#include "fetch/sources/answer_fields.h"
#include "source_summary.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

using namespace Sources;

Q_DECLARE_METATYPE(Sources::Source)

namespace {

// A fresh adapter of the source.
std::unique_ptr<Sources::ImageSource> adapter(Sources::Source source) {
    return Sources::makeAdapter(source);
}

} // namespace

namespace {

QByteArray dataFile(const char* name) {
    QFile file(QStringLiteral(IMAGE_SOURCES_DATA "/") + QLatin1String(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("missing test data");
}

QByteArray compact(const QJsonObject& object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

// One result entry in the source's shape: picture address, width and creator as given.
QJsonObject entryOf(Source s, const QJsonValue& address, const QJsonValue& width, const QJsonValue& creator) {
    switch (s) {
    case Source::Openverse:
        return {{"url", address}, {"width", width}, {"height", 100}, {"creator", creator}};
    case Source::Commons: {
        const QJsonObject meta{{"Artist", QJsonObject{{"value", creator}}}};
        return {
            {"title", "File:x.jpg"},
            {"imageinfo", QJsonArray{QJsonObject{
                              {"url", address}, {"width", width}, {"height", 100}, {"extmetadata", meta}}}}};
    }
    case Source::Pexels:
        return {{"src", QJsonObject{{"original", address}}},
                {"width", width},
                {"height", 100},
                {"photographer", creator}};
    default:
        return {{"largeImageURL", address}, {"imageWidth", width}, {"imageHeight", 100}, {"user", creator}};
    }
}

// An answer of the source's shape around `entries`.
QByteArray answerOf(Source s, const QJsonValue& entries) {
    switch (s) {
    case Source::Openverse:
        return compact({{"result_count", 1}, {"page_count", 1}, {"results", entries}});
    case Source::Commons:
        return compact({{"batchcomplete", true}, {"query", QJsonObject{{"pages", entries}}}});
    case Source::Pexels:
        return compact({{"page", 1}, {"per_page", 1}, {"photos", entries}, {"total_results", 1}});
    default:
        return compact({{"total", 1}, {"totalHits", 1}, {"hits", entries}});
    }
}

const Source NewSources[] = {Source::Openverse, Source::Commons, Source::Pexels, Source::Pixabay};

// One row of readAnswer: the answer, its HTTP status, the page (or for Commons the offset) and page
// size asked for, and what the reader makes of it.
void row(const char* name, Source s, const QByteArray& answer, int status, int page, int size,
         const QString& summary, const QString& first = {}, const QString& last = {}) {
    QTest::newRow(name) << s << answer << status << page << size << summary << first << last;
}

const QByteArray GatewayPage = "<html><body><h1>502 Bad Gateway</h1></body></html>";

void openverseRows() {
    const Source O = Source::Openverse;
    row("openverse page", O, dataFile("openverse-page.json"), 200, 1, 3,
        "results 3 skipped 0 total 143 next page 2",
        "https://live.staticflickr.com/6161/6251545677_d298eef1b6_b.jpg 0x0 jpg  | Draft horses at the "
        "roundup | "
        "mharrsch <https://www.flickr.com/photos/44124324682@N01> | CC BY-NC-SA 2.0 "
        "<https://creativecommons.org/licenses/by-nc-sa/2.0/> | "
        "https://www.flickr.com/photos/44124324682@N01/6251545677",
        "https://upload.wikimedia.org/wikipedia/commons/d/db/Mitocondria_Cresta_Membrana.PNG 471x363 png  | "
        "Mitocondria Cresta Membrana | Ziyun Yang ; Liang Wang <> | CC BY 4.0 "
        "<https://creativecommons.org/licenses/by/4.0/> | "
        "https://commons.wikimedia.org/w/index.php?curid=177353910");
    row("openverse last page", O, dataFile("openverse-page.json"), 200, 8, 3,
        "results 3 skipped 0 total 143");
    row("openverse no results", O,
        R"({"result_count":0,"page_count":0,"page_size":20,"page":1,"results":[]})", 200, 1, 20,
        "results 0 skipped 0 total 0");
    row("openverse throttled", O,
        R"({"detail": "Request was throttled. Expected available in 3600 seconds."})", 429, 1, 20,
        "error 0 skipped 0 total -1 message Request was throttled. Expected available in 3600 seconds.");
    row("openverse field complaint", O,
        R"({"detail":{"page":["Ensure this value is less than or equal to 20."]}})", 400, 21, 20,
        "error 0 skipped 0 total -1 message page: Ensure this value is less than or equal to 20.");
    row("openverse gateway page", O, GatewayPage, 502, 1, 20, "error 0 skipped 0 total -1");
    row("openverse page as 200", O, GatewayPage, 200, 1, 20, "unreadable 0 skipped 0 total -1");
    row("openverse cut answer", O, dataFile("openverse-page.json").left(300), 200, 1, 20,
        "unreadable 0 skipped 0 total -1");
    row("openverse nested deep", O, QByteArray(100000, '['), 200, 1, 20, "unreadable 0 skipped 0 total -1");
    row("openverse counts as text", O,
        R"({"result_count":"lots","page_count":"many","results":[{"url":"https://a.b/c.jpg"}]})", 200, 1, 20,
        "results 1 skipped 0 total -1");
    row("openverse counts beyond numbers", O,
        R"({"result_count":1e300,"page_count":-3,"results":[{"url":"https://a.b/c"}]})", 200, 1, 20,
        "results 1 skipped 0 total -1");
    row("openverse results not a list", O, R"({"result_count":1,"results":"x"})", 200, 1, 20,
        "unreadable 0 skipped 0 total -1");
    row("openverse entries not objects", O, R"({"results":[1,[2],"https://a.b/c.jpg",null]})", 200, 1, 20,
        "results 0 skipped 4 total -1");
}

void commonsRows() {
    const Source C = Source::Commons;
    row("commons page, sorted by rank", C, dataFile("commons-page.json"), 200, 20, 3,
        "results 2 skipped 1 total -1 next offset 23",
        "https://upload.wikimedia.org/wikipedia/commons/0/0c/"
        "Mitochondria%2C_mammalian_lung_-_TEM.jpg?utm_source="
        "commons.wikimedia.org&utm_campaign=imageinfo&utm_content=original 640x480 jpg  | Mitochondria, "
        "mammalian "
        "lung - TEM | Louisa Howard <> | Public domain <> | "
        "https://commons.wikimedia.org/wiki/File:Mitochondria,_mammalian_lung_-_TEM.jpg",
        "https://upload.wikimedia.org/wikipedia/commons/9/95/Mitoc%C3%B4ndria_11.jpg?utm_source="
        "commons.wikimedia.org&utm_campaign=imageinfo&utm_content=original 3967x2688 jpg image/jpeg | "
        "Mitocôndria 11 "
        "| Beatrizhnobrega <> | CC BY-SA 4.0 <https://creativecommons.org/licenses/by-sa/4.0> | "
        "https://commons.wikimedia.org/wiki/File:Mitoc%C3%B4ndria_11.jpg");
    // A next page that is not further on would keep a run asking forever.
    row("commons next page behind", C, dataFile("commons-page.json"), 200, 30, 3,
        "results 2 skipped 1 total -1");
    row("commons next page as text", C,
        R"({"continue":{"gsroffset":"23"},"query":{"pages":[{"imageinfo":[{"url":"https://a.b/c.jpg"}]}]}})",
        200, 0, 10, "results 1 skipped 0 total -1");
    row("commons next page beyond numbers", C,
        R"({"continue":{"gsroffset":1e20},"query":{"pages":[{"imageinfo":[{"url":"https://a.b/c.jpg"}]}]}})",
        200, 0, 10, "results 1 skipped 0 total -1");
    row("commons no hits", C, R"({"batchcomplete":true})", 200, 0, 10, "results 0 skipped 0 total -1");
    row("commons pages by id", C,
        R"({"query":{"pages":{"12":{"index":2,"imageinfo":[{"url":"https://a.b/2.jpg"}]},"7":{"index":1,"imageinfo":[{"url":"https://a.b/1.jpg"}]}}}})",
        200, 0, 10, "results 2 skipped 0 total -1", "https://a.b/1.jpg 0x0 jpg  |  |  <> |  <> | ");
    row("commons rate limit", C,
        R"({"error":{"code":"ratelimited","info":"You've exceeded your rate limit."}})", 200, 0, 10,
        "error 0 skipped 0 total -1 message You've exceeded your rate limit.");
    row("commons refuses a program without a name", C,
        "Please set a user-agent and respect our robot policy https://w.wiki/4wJS. See also T400119.\n", 403,
        0, 10,
        "error 0 skipped 0 total -1 message Please set a user-agent and respect our robot policy "
        "https://w.wiki/4wJS. See also T400119.");
    row("commons not its shape", C, "{}", 200, 0, 10, "unreadable 0 skipped 0 total -1");
}

void pexelsRows() {
    const Source P = Source::Pexels;
    row("pexels page", P, dataFile("pexels-page.json"), 200, 2, 2,
        "results 2 skipped 0 total 472 next page 3",
        "https://images.pexels.com/photos/3408353/pexels-photo-3408353.jpeg 4160x6240 jpeg  | Mt. Fuji | "
        "Tomáš "
        "Malík <https://www.pexels.com/@tomas-malik-793526> | Pexels License "
        "<https://www.pexels.com/license/> | "
        "https://www.pexels.com/photo/mt-fuji-3408353/",
        "https://images.pexels.com/photos/5553047/pexels-photo-5553047.png 4000x6000 png  |  | Armin Rimoldi "
        "<https://www.pexels.com/@armin-rimoldi> | Pexels License <https://www.pexels.com/license/> | "
        "https://www.pexels.com/photo/men-looking-at-a-laptop-5553047/");
    row("pexels no results", P, R"({"page":1,"per_page":15,"photos":[],"total_results":0})", 200, 1, 15,
        "results 0 skipped 0 total 0");
    row("pexels bad key", P, R"({"status":401,"code":"Unauthorized"})", 401, 1, 15,
        "error 0 skipped 0 total -1 message Unauthorized");
    row("pexels bad key as 200", P, R"({"status":401,"code":"Unauthorized"})", 200, 1, 15,
        "error 0 skipped 0 total -1 message Unauthorized");
    row("pexels no query", P, R"({"status":400,"code":"No query param given"})", 400, 1, 15,
        "error 0 skipped 0 total -1 message No query param given");
    row("pexels next page not a text", P,
        R"({"photos":[{"src":{"original":"https://a.b/c.jpg"}}],"next_page":5})", 200, 1, 15,
        "results 1 skipped 0 total -1");
}

void pixabayRows() {
    const Source X = Source::Pixabay;
    row("pixabay page", X, dataFile("pixabay-page.json"), 200, 1, 3,
        "results 2 skipped 0 total 500 next page 2",
        "https://pixabay.com/get/ga54fefe00d708cfb14b8003ffeeece5c_1280.jpg 4000x2248 jpg  |  | silviarita "
        "<> | "
        "Pixabay Content License <https://pixabay.com/service/license-summary/> | "
        "https://pixabay.com/photos/fresh-fruits-bowls-fruit-bowls-2305192/");
    row("pixabay last reachable page", X, dataFile("pixabay-page.json"), 200, 167, 3,
        "results 2 skipped 0 total 500");
    row("pixabay bad key", X, "[ERROR 400] Invalid or missing API key", 400, 1, 20,
        "error 0 skipped 0 total -1 message [ERROR 400] Invalid or missing API key");
    row("pixabay page out of range", X, "[ERROR 400] \"page\" is out valid range.", 400, 30, 20,
        "error 0 skipped 0 total -1 message [ERROR 400] \"page\" is out valid range.");
    row("pixabay error without a status", X, "[ERROR 429] Too many requests\n<br>", 0, 1, 20,
        "error 0 skipped 0 total -1 message [ERROR 429] Too many requests");
    row("pixabay a list", X, "[]", 200, 1, 20, "unreadable 0 skipped 0 total -1");
}

} // namespace

class TestImageSources : public QObject {
    Q_OBJECT
private slots:
    void readAnswer_data();
    void readAnswer();
    void hostileResults_data();
    void hostileResults();
    void longAnswers_data();
    void longAnswers();
    void creatorHtml_data();
    void creatorHtml();
    void licenceJudgement_data();
    void licenceJudgement();
};

void TestImageSources::readAnswer_data() {
    QTest::addColumn<Source>("source");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("page"); // the page, or for Commons the offset, that was asked for
    QTest::addColumn<int>("size");
    QTest::addColumn<QString>("summary");
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("last");
    openverseRows();
    commonsRows();
    pexelsRows();
    pixabayRows();
}

void TestImageSources::readAnswer() {
    QFETCH(Source, source);
    QFETCH(QByteArray, answer);
    QFETCH(int, status);
    QFETCH(int, page);
    QFETCH(int, size);
    QFETCH(QString, summary);
    QFETCH(QString, first);
    QFETCH(QString, last);
    const PageQuery asked{QStringLiteral("k"), page, page, size, QString()};
    const SourceAnswer read = adapter(source)->read(answer, status, asked);
    QCOMPARE(::summary(read), summary);
    if (!first.isEmpty())
        QCOMPARE(describe(read.results, 0), first);
    if (!last.isEmpty())
        QCOMPARE(describe(read.results, read.results.size() - 1), last);
}

void TestImageSources::hostileResults_data() {
    QTest::addColumn<Source>("source");
    QTest::addColumn<QJsonValue>("address");
    QTest::addColumn<QJsonValue>("width");
    QTest::addColumn<QJsonValue>("creator");
    QTest::addColumn<bool>("kept");
    QTest::addColumn<int>("readWidth");
    QTest::addColumn<QString>("readCreator");
    const QString good = QStringLiteral("https://example.org/a.jpg");
    struct Case {
        const char* name;
        QJsonValue address, width, creator;
        bool kept;
        int readWidth;
        QString readCreator;
    };
    const Case cases[] = {
        {"sound", good, 640, "Ann", true, 640, "Ann"},
        {"address a number", 42, 640, "Ann", false, 0, ""},
        {"script address", "javascript:alert(1)//a.jpg", 640, "Ann", false, 0, ""},
        {"file address", "file:///etc/passwd", 640, "Ann", false, 0, ""},
        {"ftp address", "ftp://example.org/a.jpg", 640, "Ann", false, 0, ""},
        {"address without host", "https:///a.jpg", 640, "Ann", false, 0, ""},
        {"space in the host", "https://exa mple.org/a.jpg", 640, "Ann", false, 0, ""},
        {"line break in the address", "https://example.org/a.jpg\r\nX-Evil: 1", 640, "Ann", false, 0, ""},
        {"bidirectional override in the address", QStringLiteral("https://example.org/\u202Egpj.a"), 640,
         "Ann", false, 0, ""},
        {"address of 9000 characters", good + QString(9000, QLatin1Char('a')), 640, "Ann", false, 0, ""},
        {"width as text", good, "640", "Ann", true, 0, "Ann"},
        {"width 1e300", good, 1e300, "Ann", true, 0, "Ann"},
        {"width beyond 32 bits", good, 4294967936.0, "Ann", true, 0, "Ann"},
        {"width negative", good, -640, "Ann", true, 0, "Ann"},
        {"width a fraction", good, 640.5, "Ann", true, 0, "Ann"},
        {"creator an object", good, 640, QJsonObject{{"a", 1}}, true, 640, ""},
        {"creator null", good, 640, QJsonValue(), true, 640, ""},
        {"creator with control characters", good, 640,
         "Ann\n\tBo\x07"
         "b\xC2\x85",
         true, 640, "Ann Bo b"},
        {"creator with terminal escapes and bidirectional overrides", good, 640,
         QStringLiteral("\x1B]0;title\x07\x1B[31mAnn\u202E\u2066Bo\u009B2J"), true, 640,
         "]0;title [31mAnn Bo 2J"},
        {"creator of a megabyte", good, 640, QString(1 << 20, QLatin1Char('x')), true, 640,
         QString(1000, QLatin1Char('x'))},
    };
    for (const Source s : NewSources)
        for (const Case& c : cases)
            QTest::addRow("%s, %s", qPrintable(storedName(s)), c.name)
                << s << c.address << c.width << c.creator << c.kept << c.readWidth << c.readCreator;
}

void TestImageSources::hostileResults() {
    QFETCH(Source, source);
    QFETCH(QJsonValue, address);
    QFETCH(QJsonValue, width);
    QFETCH(QJsonValue, creator);
    QFETCH(bool, kept);
    QFETCH(int, readWidth);
    QFETCH(QString, readCreator);
    const QByteArray answer = answerOf(source, QJsonArray{entryOf(source, address, width, creator)});
    const SourceAnswer read = adapter(source)->read(answer, 200, {QStringLiteral("k"), 1, 0, 20, {}});
    QCOMPARE(read.kind, SourceAnswer::Kind::Results);
    QCOMPARE(read.results.size(), kept ? 1 : 0);
    QCOMPARE(read.skipped, kept ? 0 : 1);
    if (!kept)
        return;
    QCOMPARE(read.results[0].address, address.toString());
    QCOMPARE(read.results[0].width, readWidth);
    QCOMPARE(read.results[0].height, 100);
    QCOMPARE(read.results[0].credits.creator, readCreator);
}

void TestImageSources::longAnswers_data() {
    QTest::addColumn<Source>("source");
    QTest::addColumn<int>("entries");
    QTest::addColumn<int>("read");
    for (const Source s : NewSources) {
        QTest::addRow("%s, 600", qPrintable(storedName(s))) << s << 600 << 500;
        QTest::addRow("%s, 500", qPrintable(storedName(s))) << s << 500 << 500;
        QTest::addRow("%s, 501", qPrintable(storedName(s))) << s << 501 << 500;
    }
}

// Only the first 500 entries of a list are read, whatever the texts in them hold.
void TestImageSources::longAnswers() {
    QFETCH(Source, source);
    QFETCH(int, entries);
    QFETCH(int, read);
    QJsonArray list;
    for (int i = 0; i < entries; ++i)
        list.append(entryOf(source, QStringLiteral("https://a.b/%1.jpg").arg(i), 640, "Ann \"],[{} \\"));
    QJsonObject top = QJsonDocument::fromJson(answerOf(source, list)).object();
    // A list of the same name elsewhere is not the one that is cut.
    top.insert(QStringLiteral("decoy"), QJsonObject{{"results", QJsonArray{1, 2}}, {"pages", QJsonArray{3}}});
    const QByteArray bytes = compact(top);
    const SourceAnswer answer = adapter(source)->read(bytes, 200, {QStringLiteral("k"), 1, 0, 20, {}});
    QCOMPARE(answer.results.size(), read);
    // The parser is given only what is read.
    int dropped = -1;
    const QByteArray cut =
        source == Source::Commons     ? AnswerFields::leadingEntries(bytes, {"query", "pages"}, 500, &dropped)
        : source == Source::Openverse ? AnswerFields::leadingEntries(bytes, {"results"}, 500, &dropped)
        : source == Source::Pexels    ? AnswerFields::leadingEntries(bytes, {"photos"}, 500, &dropped)
                                      : AnswerFields::leadingEntries(bytes, {"hits"}, 500, &dropped);
    QCOMPARE(dropped, entries - read);
    QCOMPARE(cut.size() < bytes.size(), dropped > 0);
    QVERIFY(QJsonDocument::fromJson(cut).isObject());
    QCOMPARE(answer.skipped, entries - read);
    QCOMPARE(answer.results.last().address, QStringLiteral("https://a.b/%1.jpg").arg(read - 1));
    QCOMPARE(answer.results.last().credits.creator, QStringLiteral("Ann \"],[{} \\"));
}

void TestImageSources::creatorHtml_data() {
    QTest::addColumn<QString>("html");
    QTest::addColumn<QString>("text");
    QTest::newRow("link")
        << R"(<a href="//commons.wikimedia.org/wiki/User:B" title="User:B"><bdi>Beatriz</bdi></a>)"
        << "Beatriz";
    QTest::newRow("entities") << "Tom &amp; Jerry &#39;s &#x263A; &lt;b&gt; &quot;q&quot;&nbsp;x"
                              << "Tom & Jerry 's \u263A <b> \"q\" x";
    QTest::newRow("unknown and bad entities stay") << "&bogus; &#0; &#xD800; &#99999999; & x;"
                                                   << "&bogus; &#0; &#xD800; &#99999999; & x;";
    QTest::newRow("tag never closed") << "Ann <span title=\"x"
                                      << "Ann";
    QTest::newRow("line breaks and spaces") << "<p>Ann\n</p>\n<p>  Bo</p>"
                                            << "Ann Bo";
    QTest::newRow("deeply nested") << QString("<b>").repeated(200000) + "Ann" +
                                          QString("</b>").repeated(200000)
                                   << "Ann";
    QTest::newRow("long text cut") << "<i>" + QString(5000, QLatin1Char('y'))
                                   << QString(1000, QLatin1Char('y'));
}

void TestImageSources::creatorHtml() {
    QFETCH(QString, html);
    QFETCH(QString, text);
    QCOMPARE(AnswerFields::htmlText(html), text);
}
void TestImageSources::licenceJudgement_data() {
    QTest::addColumn<Source>("source");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QString>("choice");                          // as stored
    QTest::addColumn<QString>("fits");                            // of each result, in order
    const QByteArray openverse = dataFile("openverse-page.json"); // by-nc-sa, cc0, by
    QTest::newRow("openverse, any") << Source::Openverse << openverse << "any"
                                    << "yes yes yes";
    QTest::newRow("openverse, commercial") << Source::Openverse << openverse << "commercial"
                                           << "no yes yes";
    QTest::newRow("openverse, nocredit") << Source::Openverse << openverse << "nocredit"
                                         << "no yes no";
    // The real answer names the licence by its short name only: "Public domain", "CC BY-SA 4.0".
    QTest::newRow("commons, short names only, nocredit")
        << Source::Commons << dataFile("commons-page.json") << "nocredit"
        << "yes no";
    // CC BY-SA, CC0, public domain, non-free, BY-NC-SA, BY-ND, no licence, copyrighted free use.
    const QByteArray commons = dataFile("commons-licences.json");
    QTest::newRow("commons, any") << Source::Commons << commons << "any"
                                  << "yes yes yes yes yes yes yes yes";
    QTest::newRow("commons, commercial") << Source::Commons << commons << "commercial"
                                         << "yes yes yes no no yes no yes";
    QTest::newRow("commons, modify") << Source::Commons << commons << "modify"
                                     << "yes yes yes no no no no yes";
    QTest::newRow("commons, nocredit") << Source::Commons << commons << "nocredit"
                                       << "no yes yes no no no no yes";
    QTest::newRow("pexels, nocredit") << Source::Pexels << dataFile("pexels-page.json") << "nocredit"
                                      << "yes yes";
    QTest::newRow("pixabay, nocredit") << Source::Pixabay << dataFile("pixabay-page.json") << "nocredit"
                                       << "yes yes";
}

// Whether each result's licence fits the choice asked for.
void TestImageSources::licenceJudgement() {
    QFETCH(Source, source);
    QFETCH(QByteArray, answer);
    QFETCH(QString, choice);
    QFETCH(QString, fits);
    PageQuery asked{QStringLiteral("k"), 1, 0, 20, QString()};
    asked.licence = licenceFromStoredName(choice);
    QStringList judged;
    for (const SourceResult& r : adapter(source)->read(answer, 200, asked).results)
        judged << (r.licenceFits ? "yes" : "no");
    QCOMPARE(judged.join(' '), fits);
}

QTEST_MAIN(TestImageSources)
#include "tst_image_sources.moc"
