#include "base/settings_store.h"
#include "download_fixture.h"
#include "fetch/credits_file.h"
#include "fetch/download_run.h"
#include "fetch/sources/answer_cache.h"
#include "fetch/sources/source.h"
#include "keywords/keyword_list.h"
#include "test_files.h"
#include "test_settings.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <exiv2/exiv2.hpp>

#include <optional>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

using Sources::Source;

// Runs against the four public sources' answers, served by the local image service at their real
// paths, with real curl over TLS: paging until enough pictures are kept, the credits list, the
// requests as the sources see them, and their refusals.
class TestSourceRuns : public QObject, public DownloadFixture {
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY2(startService(catalog()), qPrintable(service->errorText())); }
    void init();
    void cleanup() { folder.reset(); }

    void twoPagesPerKeyword_data();
    void twoPagesPerKeyword();
    void refusals_data();
    void refusals();
    void answersThatNeverEnd_data();
    void answersThatNeverEnd();
    void keyIsAskedForOnlyWhereNeeded_data();
    void keyIsAskedForOnlyWhereNeeded();
    void freeSourcesGoOnWithoutOneThatFails_data();
    void freeSourcesGoOnWithoutOneThatFails();
    void licenceAndCreditsInThePictures();
    void creditsFields_data();
    void creditsFields();
    void attribution_data();
    void attribution();
    void originalServiceCredits();
    void pixabayAnswersAreKeptForADay();
    void answerCacheFollowsNoLink_data();
    void answerCacheFollowsNoLink();
    void creditsListIsAppendedNeverReplaced();
    void creditsListEndsWithAWholeLine_data();
    void creditsListEndsWithAWholeLine();

private:
    static QByteArray catalog();
    Download::RunSummary runSource(Source source, const QStringList& keywords,
                                   const QString& key = QString());
    QStringList searches() const; // "path?query" of every search request, in order
};

namespace {

// 25 results too narrow for the width filter, then two pictures: each keyword needs a second page
// at every source (Openverse's pages hold 20, the others' 25 for three pictures a keyword). Answers
// come after 60 ms, so that a watcher looking every 20 ms sees each search's curl.
QByteArray entry(const char* keyword, int seed) {
    QByteArray results;
    for (int i = 0; i < 25; ++i)
        results += R"({"kind": "png", "width": 100, "height": 100}, )";
    const QString pictures =
        R"({"url": "https://{host}/img/png/800x600/%2/%1-26.png", "width": 800, "height": 600, "seed": %2}, )"
        R"({"url": "https://{host}/img/jpeg/800x600/%3/%1-27.jpg", "width": 800, "height": 600, "seed": %3})";
    results += pictures.arg(QLatin1String(keyword)).arg(seed).arg(seed + 2).toUtf8();
    return '"' + QByteArray(keyword) + R"(": {"delay": 60, "results": [)" + results + "]}";
}

const QString Key = QStringLiteral("demo-key-0123456789");

} // namespace

// Results too narrow for the width filter: looked at, never downloaded.
QByteArray narrow(int count) {
    QByteArray results = R"({"kind": "png", "width": 100, "height": 100})";
    for (int i = 1; i < count; ++i)
        results += R"(, {"kind": "png", "width": 100, "height": 100})";
    return results;
}

// A raw answer body (a JSON string's content) of `count` narrow results.
QByteArray narrowBody(const char* opening, const char* item, int count, const char* closing) {
    QByteArrayList items;
    for (int i = 0; i < count; ++i)
        items << QByteArray(item).replace("N", QByteArray::number(i));
    return opening + items.join(',') + closing;
}

QByteArray TestSourceRuns::catalog() {
    return "{" + entry("alpha", 26) + ", " + entry("beta", 36) + R"(, "void": {"results": []}, )" +
           R"("endless": {"totalCount": 2000, "results": [)" + narrow(320) + "]}, " +
           R"("same page": {"body": ")" +
           narrowBody(
               R"({\"page\":1,\"per_page\":25,\"photos\":[)",
               R"({\"id\":N,\"width\":100,\"height\":100,\"src\":{\"original\":\"https://example.org/N.jpg\"}})",
               2, R"(],\"total_results\":1000000,\"next_page\":\"https://example.org/next\"})") +
           R"("}, "too many": {"body": ")" +
           narrowBody(R"({\"_type\":\"images\",\"totalCount\":500,\"value\":[)",
                      R"({\"url\":\"https://example.org/N.jpg\",\"height\":100,\"width\":100,\"x\":1})", 500,
                      "]}") +
           R"("}})";
}

void TestSourceRuns::init() {
    QVERIFY(reset());
    QDir(AnswerCache(QStringLiteral("pixabay"), 1).folder()).removeRecursively();
    // Only pictures wider than 500 pixels.
    SettingsStore::write(SettingKey::WidthFilter, QStringLiteral("6"));
    SettingsStore::write(SettingKey::WidthLimit, QStringLiteral("500"));
}

Download::RunSummary TestSourceRuns::runSource(Source source, const QStringList& keywords,
                                               const QString& key) {
    SettingsStore::write(SettingKey::Source, Sources::storedName(source));
    if (Sources::needsKey(source))
        SettingsStore::write(Sources::keySetting(source), key.isEmpty() ? Key : key);
    KeywordList list;
    for (const QString& k : keywords)
        list.add(k);
    return run(list, QStringLiteral("2"));
}

QStringList TestSourceRuns::searches() const {
    QStringList out;
    for (const auto& r : service->requests())
        if (!r.path.startsWith("/img/"))
            out << r.path + '?' + r.query;
    return out;
}

void TestSourceRuns::twoPagesPerKeyword_data() {
    QTest::addColumn<Source>("source");
    QTest::addColumn<QStringList>("expectedSearches"); // %1 the keyword
    QTest::addColumn<QStringList>("titles");           // of result 26 and 27; %1 the keyword
    QTest::addColumn<QStringList>("creators");
    QTest::addColumn<QStringList>("licences");
    QTest::addColumn<QStringList>("licenceAddresses");
    QTest::addColumn<QStringList>("attributions");
    const QStringList cc{"https://creativecommons.org/publicdomain/zero/1.0/",
                         "https://creativecommons.org/licenses/by/2.0/"};
    QTest::newRow("openverse") << Source::Openverse
                               << QStringList{"/v1/images/?q=%1&page=1&page_size=20",
                                              "/v1/images/?q=%1&page=2&page_size=20"}
                               << QStringList{"%1 26", "%1 27"} << QStringList{"Maker 1", "Maker 2"}
                               << QStringList{"CC0 1.0", "CC BY 2.0"} << cc
                               << QStringList{"\"%1 26\" by Maker 1, Openverse, CC0 1.0 (" + cc[0] + ")",
                                              "\"%1 27\" by Maker 2, Openverse, CC BY 2.0 (" + cc[1] + ")"};
    const QString commons =
        "/w/api.php?action=query&format=json&formatversion=2&generator=search"
        "&gsrsearch=filetype%3Abitmap%20%1&gsrnamespace=6&gsrlimit=25&gsroffset=%2"
        "&prop=imageinfo&iiprop=url%7Csize%7Cmime%7Cextmetadata&iiextmetadatafilter=ObjectName"
        "%7CArtist%7CLicenseShortName%7CLicenseUrl%7CLicense%7CAttributionRequired%7CNonFree";
    QTest::newRow("commons")
        << Source::Commons << QStringList{commons.arg("%1", "0"), commons.arg("%1", "25")}
        << QStringList{"%1 26", "%1 27"} << QStringList{"Maker 1 & friends", "Maker 2 & friends"}
        << QStringList{"CC0", "CC BY 2.0"} << cc
        << QStringList{"\"%1 26\" by Maker 1 & friends, Wikimedia Commons, CC0 (" + cc[0] + ")",
                       "\"%1 27\" by Maker 2 & friends, Wikimedia Commons, CC BY 2.0 (" + cc[1] + ")"};
    QTest::newRow("pexels")
        << Source::Pexels
        << QStringList{"/v1/search?query=%1&page=1&per_page=25", "/v1/search?query=%1&page=2&per_page=25"}
        << QStringList{"%1 26", "%1 27"} << QStringList{"Maker 1", "Maker 2"}
        << QStringList{"Pexels License", "Pexels License"}
        << QStringList{"https://www.pexels.com/license/", "https://www.pexels.com/license/"}
        << QStringList{"\"%1 26\" by Maker 1, Pexels, Pexels License (https://www.pexels.com/license/)",
                       "\"%1 27\" by Maker 2, Pexels, Pexels License (https://www.pexels.com/license/)"};
    const QString pixabay = "/api/?key=" + Key + "&q=%1&page=%2&per_page=25&image_type=photo";
    QTest::newRow("pixabay") << Source::Pixabay << QStringList{pixabay.arg("%1", "1"), pixabay.arg("%1", "2")}
                             << QStringList{"", ""} << QStringList{"Maker 1", "Maker 2"}
                             << QStringList{"Pixabay Content License", "Pixabay Content License"}
                             << QStringList{"https://pixabay.com/service/license-summary/",
                                            "https://pixabay.com/service/license-summary/"}
                             << QStringList{"By Maker 1, Pixabay, Pixabay Content License "
                                            "(https://pixabay.com/service/license-summary/)",
                                            "By Maker 2, Pixabay, Pixabay Content License "
                                            "(https://pixabay.com/service/license-summary/)"};
}

void TestSourceRuns::twoPagesPerKeyword() {
    QFETCH(Source, source);
    QFETCH(QStringList, expectedSearches);
    QFETCH(QStringList, titles);
    QFETCH(QStringList, creators);
    QFETCH(QStringList, licences);
    QFETCH(QStringList, licenceAddresses);
    QFETCH(QStringList, attributions);

    // Every curl that runs while the test runs is looked at: none may carry a key on its command line.
    int curlsSeen = 0;
    QStringList keyShown;
    QTimer watch;
    connect(&watch, &QTimer::timeout, [&] {
        for (const QString& pid : curlChildren()) {
            QFile cmdline("/proc/" + pid + "/cmdline");
            if (!cmdline.open(QIODevice::ReadOnly))
                continue;
            ++curlsSeen;
            if (cmdline.readAll().contains(Key.toUtf8()))
                keyShown << pid;
        }
    });
    watch.start(20);
    const auto summary = runSource(source, {"alpha", "beta"});
    watch.stop();
    QVERIFY(curlsSeen > 0);
    QCOMPARE(keyShown, QStringList());

    QCOMPARE(prompts.messages(),
             QStringList{QString(done(4)).replace("contextualweb.io", Sources::site(source))});
    QCOMPARE(summary.service, Download::RunSummary::Service::Answered);
    QStringList wanted;
    for (const QString& keyword : {"alpha", "beta"})
        for (const QString& search : expectedSearches)
            wanted << QString(search).replace("%1", keyword);
    QCOMPARE(searches(), wanted);

    // Requests name the program; Pexels gets its key as a header; Commons' pictures name it too.
    for (const auto& r : service->requests()) {
        const bool picture = r.path.startsWith("/img/");
        if (!picture || source == Source::Commons)
            QVERIFY2(r.header("user-agent").startsWith("Glimmerfetch/"), qPrintable(r.path));
        if (!picture && source == Source::Pexels)
            QCOMPARE(r.header("authorization"), Key);
    }

    QCOMPARE(folderEntries(), QStringList({"alpha 1.png", "alpha 2.jpg", "beta 1.png", "beta 2.jpg"}));
    const QString origin = service->baseUrl();
    QByteArray expected = CreditsFile::header();
    for (const QString& keyword : {"alpha", "beta"}) {
        for (int n : {0, 1}) {
            const int seed = (keyword == QLatin1String("alpha") ? 26 : 36) + 2 * n;
            const QString address = origin + (n == 0 ? "/img/png/800x600/%1/" + keyword + "-26.png"
                                                     : "/img/jpeg/800x600/%1/" + keyword + "-27.jpg")
                                                 .arg(seed);
            const QString file = keyword + (n == 0 ? " 1.png" : " 2.jpg");
            QCOMPARE(fileBytes(prefix + file), ImageService::pictureBytes(address));
            const QString page = origin + QStringLiteral("/page/%1.html").arg(seed, 8, 16, QLatin1Char('0'));
            expected +=
                QStringList{file,           keyword,        Sources::storedName(source),
                            address,        page,           QString(titles.at(n)).replace("%1", keyword),
                            creators.at(n), licences.at(n), licenceAddresses.at(n),
                            "TIME"}
                    .join(',')
                    .toUtf8() +
                ',' + CreditsFile::field(QString(attributions.at(n)).replace("%1", keyword)) + "\r\n";
        }
    }
    QByteArray credits = fileBytes(prefix + "credits.csv");
    static const QRegularExpression time(",\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ,");
    credits = QString::fromUtf8(credits).replace(time, ",TIME,").toUtf8();
    QCOMPARE(credits, expected);
    verifyNothingLeft();
}

void TestSourceRuns::refusals_data() {
    QTest::addColumn<Source>("source");
    QTest::addColumn<QString>("keyword");
    QTest::addColumn<QString>("key");
    QTest::addColumn<int>("searchCount");
    QTest::addColumn<QString>("message");
    // A busy source is asked three more times (the test drops the waits), then the run ends.
    QTest::newRow("openverse 429") << Source::Openverse << "throttled"
                                   << "" << 4
                                   << "Nothing found.\r\n\r\nOpenverse: Request was throttled. Expected "
                                      "available in 3600 seconds.";
    QTest::newRow("commons 429") << Source::Commons << "throttled"
                                 << "" << 4
                                 << "Nothing found.\r\n\r\nWikimedia Commons: You've exceeded your rate "
                                    "limit. Please wait some time and try again.";
    QTest::newRow("pexels 429") << Source::Pexels << "throttled"
                                << "" << 4 << "Nothing found.\r\n\r\nPexels: Too Many Requests";
    QTest::newRow("pixabay 429")
        << Source::Pixabay << "throttled"
        << "" << 4
        << "Nothing found.\r\n\r\nPixabay: [ERROR 429] Too many requests. Limit: 100 "
           "requests per 60 seconds.";
    // A refused key is refused for every keyword: one request, and the run ends.
    QTest::newRow("pexels bad key") << Source::Pexels << "alpha"
                                    << "wrong-key" << 1 << "Nothing found.\r\n\r\nPexels: Unauthorized";
    QTest::newRow("pixabay bad key")
        << Source::Pixabay << "alpha"
        << "wrong-key" << 1 << "Nothing found.\r\n\r\nPixabay: [ERROR 400] Invalid or missing API key";
    // No results: each keyword is asked once.
    for (Source s : {Source::Openverse, Source::Commons, Source::Pexels, Source::Pixabay})
        QTest::addRow("%s nothing", qPrintable(Sources::storedName(s)))
            << s << "nothing"
            << "" << 2 << "Nothing found.\r\n\r\n";
}

void TestSourceRuns::refusals() {
    QFETCH(Source, source);
    QFETCH(QString, keyword);
    QFETCH(QString, key);
    QFETCH(int, searchCount);
    QFETCH(QString, message);
    const auto summary =
        runSource(source, {keyword, keyword == "nothing" ? "void" : keyword + " again"}, key);
    QCOMPARE(searches().size(), searchCount);
    QCOMPARE(prompts.messages(), QStringList{message});
    QCOMPARE(summary.service, keyword == "nothing" ? Download::RunSummary::Service::Answered
                                                   : Download::RunSummary::Service::Refused);
    QCOMPARE(folderEntries(), QStringList());
    QVERIFY(!QFile::exists(prefix + "credits.csv"));
    verifyNothingLeft();
}

void TestSourceRuns::answersThatNeverEnd_data() {
    QTest::addColumn<Source>("source");
    QTest::addColumn<QString>("keyword");
    QTest::addColumn<int>("searches");
    QTest::addColumn<int>("resultsSeen");
    // 13 pages of 25 would be there: the keyword ends after ten.
    QTest::newRow("a next page after every page") << Source::Pexels << "endless" << 10 << 250;
    QTest::newRow("the same page again and again") << Source::Pexels << "same page" << 2 << 2;
    // 500 results for a page of 25: the 25 asked for are read.
    QTest::newRow("more results than asked for") << Source::ContextualWeb << "too many" << 1 << 25;
}

void TestSourceRuns::answersThatNeverEnd() {
    QFETCH(Source, source);
    QFETCH(QString, keyword);
    QFETCH(int, searches);
    QFETCH(int, resultsSeen);
    runSource(source, {keyword});
    QCOMPARE(this->searches().size(), searches);
    QVERIFY2(
        prompts.messages().value(0).contains(QStringLiteral("Results looked at: %1\r\n").arg(resultsSeen)),
        qPrintable(prompts.messages().value(0)));
    QCOMPARE(pictureRequests(), QStringList());
}

void TestSourceRuns::keyIsAskedForOnlyWhereNeeded_data() {
    QTest::addColumn<Source>("source");
    QTest::addColumn<QString>("licence");
    QTest::addColumn<QString>("refusal"); // "" when the run starts
    const QString noKey = "Please enter API key first.";
    QTest::newRow("original") << Source::ContextualWeb << "any" << noKey;
    QTest::newRow("openverse") << Source::Openverse << "any"
                               << "";
    QTest::newRow("commons") << Source::Commons << "any"
                             << "";
    QTest::newRow("pexels") << Source::Pexels << "any" << noKey;
    QTest::newRow("pixabay") << Source::Pixabay << "any" << noKey;
    QTest::newRow("free: those without a key") << Source::Free << "any"
                                               << "";
    // The original service tells no licence: a choice it cannot keep refuses the start, before the key.
    QTest::newRow("original, commercial use")
        << Source::ContextualWeb << "commercial"
        << "Contextual Web Search tells no licence of its pictures, so it cannot keep to \"Commercial "
           "use\". The sources that tell it: Openverse, Wikimedia Commons, Pexels, Pixabay, All free "
           "sources.";
    QTest::newRow("commons, no credit") << Source::Commons << "nocredit"
                                        << "";
}

// No key at all is stored: only the sources that need none start. The original service's key does
// not stand in for another source's.
void TestSourceRuns::keyIsAskedForOnlyWhereNeeded() {
    QFETCH(Source, source);
    QFETCH(QString, licence);
    QFETCH(QString, refusal);
    SettingsStore::write(SettingKey::ApiKey, source == Source::ContextualWeb ? QString() : Key);
    SettingsStore::write(SettingKey::Source, Sources::storedName(source));
    SettingsStore::write(SettingKey::Licence, licence);
    KeywordList list;
    list.add(QStringLiteral("alpha"));
    const auto summary = run(list, QStringLiteral("1"));
    QCOMPARE(summary.started, refusal.isEmpty());
    if (!refusal.isEmpty())
        QCOMPARE(prompts.messages(), QStringList{refusal});
    else if (source == Source::Free) // Pexels and Pixabay, without a key, are not asked
        for (const QString& search : searches())
            QVERIFY2(search.startsWith("/v1/images/") || search.startsWith("/w/api.php"), qPrintable(search));
}

void TestSourceRuns::freeSourcesGoOnWithoutOneThatFails_data() {
    QTest::addColumn<QStringList>("down"); // sources whose searches answer 503
    QTest::addColumn<bool>("keys");        // Pexels' and Pixabay's keys kept
    QTest::addColumn<int>("kept");
    QTest::addColumn<QString>("end"); // how the end box begins
    QTest::newRow("the first down") << QStringList{"openverse"} << true << 4 << "Done.";
    // Every source left out: the run ends as a failed search does, after the first keyword.
    QTest::newRow("all down") << QStringList{"openverse", "commons"} << false << 0
                              << "Nothing found.\r\n\r\nWikimedia Commons: ";
}

// All free sources, some of them answering 503 to every search: each is left out after its retries,
// for the rest of the run, and the others fill the keywords.
void TestSourceRuns::freeSourcesGoOnWithoutOneThatFails() {
    QFETCH(QStringList, down);
    QFETCH(bool, keys);
    QFETCH(int, kept);
    QFETCH(QString, end);
    {
        std::unique_ptr<ImageService> usual = std::move(service);
        const auto restore = qScopeGuard([&] {
            service.reset(); // gives the environment back
            service = std::move(usual);
        });
        QStringList arguments;
        for (const QString& source : down)
            arguments << "--unavailable" << source;
        service = std::make_unique<ImageService>(arguments, catalog());
        QVERIFY(service->isRunning());
        service->applyToEnvironment();
        if (keys) {
            SettingsStore::write(SettingKey::PexelsKey, Key);
            SettingsStore::write(SettingKey::PixabayKey, Key);
        }
        const auto summary = runSource(Source::Free, {"alpha", "beta"});
        QCOMPARE(summary.kept, kept);
        QCOMPARE(summary.leftOut.size(), down.size());
        QVERIFY2(summary.leftOut.at(0).startsWith("Openverse: "), qPrintable(summary.leftOut.at(0)));
        const QStringList asked = searches();
        QCOMPARE(asked.filter(QRegularExpression("^/v1/images/")).size(), 4); // once and three retries
        QCOMPARE(asked.filter(QRegularExpression("beta")).isEmpty(), kept == 0);
        const QString box = prompts.messages().value(0);
        QVERIFY2(
            box.startsWith(end) &&
                box.contains(
                    "\r\n\r\nLeft out for the rest of the run: Openverse: Service Unavailable (HTTP 503)"),
            qPrintable(box));
        if (kept > 0) {
            // The same picture met again at another source is not downloaded twice; each line names
            // the source that gave it.
            QVERIFY(prompts.calls.value(0).details.contains("\u2192 skipped: already in the folder"));
            QCOMPARE(fileBytes(prefix + "credits.csv").count(",commons,"), 4);
        }
    } // the service's own files go with it
    verifyNothingLeft();
}

// Commons judges each result's licence: those that do not allow changes are skipped ("licence").
// The kept pictures carry their credits, and a second run still finds them in the folder.
void TestSourceRuns::licenceAndCreditsInThePictures() {
    SettingsStore::write(SettingKey::Licence, QStringLiteral("modify"));
    SettingsStore::write(SettingKey::EmbedCredits, QStringLiteral("True"));
    auto summary = runSource(Source::Commons, {"alpha"});
    QCOMPARE(summary.kept, 2);
    QVERIFY(prompts.calls.value(0).details.contains("\u2192 skipped: licence"));
    QVERIFY(prompts.messages().value(0).contains(
        " skipped because their licence does not allow the use chosen.\r\n\r\n2 pictures saved in "));
    const QString jpeg = prefix + "alpha 2.jpg";
    QCOMPARE(summary.keptFiles, (QStringList{prefix + "alpha 1.png", jpeg}));
    const Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(jpeg.toStdString());
    image->readMetadata();
    const Exiv2::XmpData& xmp = image->xmpData();
    const auto rights = xmp.findKey(Exiv2::XmpKey("Xmp.dc.rights"));
    QVERIFY(rights != xmp.end());
    QCOMPARE(QString::fromStdString(rights->toString(0)),
             "\"alpha 27\" by Maker 2 & friends, Wikimedia Commons, CC BY 2.0 "
             "(https://creativecommons.org/licenses/by/2.0/)");

    prompts.reset();
    summary = runSource(Source::Commons, {"alpha"});
    QCOMPARE(summary.kept, 0);
    QVERIFY2(prompts.messages().value(0).contains("Already in the folder: 2"),
             qPrintable(prompts.messages().value(0)));
}

void TestSourceRuns::creditsFields_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("field");
    QTest::newRow("plain") << "Maker 1" << QByteArray("Maker 1");
    QTest::newRow("comma") << "a, b" << QByteArray("\"a, b\"");
    QTest::newRow("quotes doubled") << "say \"hi\"" << QByteArray("\"say \"\"hi\"\"\"");
    QTest::newRow("line break") << "one\ntwo" << QByteArray("\"one\ntwo\"");
    QTest::newRow("formula") << "=HYPERLINK(\"x\")" << QByteArray("\"'=HYPERLINK(\"\"x\"\")\"");
    QTest::newRow("plus, minus, at") << "+1" << QByteArray("'+1");
    QTest::newRow("at") << "@SUM(A1)" << QByteArray("'@SUM(A1)");
    QTest::newRow("minus inside") << "a-b" << QByteArray("a-b");
    QTest::newRow("non-ASCII as UTF-8")
        << QString::fromUtf8("Jürgen 日本") << QString::fromUtf8("Jürgen 日本").toUtf8();
    QTest::newRow("empty") << "" << QByteArray();
    QTest::newRow("NUL and escape") << QString("a") + QChar(0) + "b\x1b" << QByteArray("a_b_");
}

void TestSourceRuns::creditsFields() {
    QFETCH(QString, text);
    QFETCH(QByteArray, field);
    QCOMPARE(CreditsFile::field(text), field);
}

void TestSourceRuns::attribution_data() {
    QTest::addColumn<Source>("source");
    QTest::addColumn<QStringList>("credits"); // title, creator, licence, licence address
    QTest::addColumn<QByteArray>("field");    // the last field of the line, as written
    QTest::newRow("all parts") << Source::Openverse
                               << QStringList{"Cup of coffee", "Etenil", "CC BY-SA 2.0",
                                              "https://creativecommons.org/licenses/by-sa/2.0/"}
                               << QByteArray("\"\"\"Cup of coffee\"\" by Etenil, Openverse, CC BY-SA 2.0 "
                                             "(https://creativecommons.org/licenses/by-sa/2.0/)\"");
    QTest::newRow("no creator, licence without address")
        << Source::Commons << QStringList{"Sunset", "", "Public domain", ""}
        << QByteArray("\"\"\"Sunset\"\", Wikimedia Commons, Public domain\"");
    QTest::newRow("no title, licence address only")
        << Source::Openverse << QStringList{"", "Ann", "", "https://example.org/terms"}
        << QByteArray("\"By Ann, Openverse, https://example.org/terms\"");
    QTest::newRow("the original service: the picture's site")
        << Source::ContextualWeb << QStringList{"", "", "", ""} << QByteArray("pics.example.org");
    QTest::newRow("a formula stays text")
        << Source::Pexels << QStringList{"=HYPERLINK(\"x\")", "@evil", "", ""}
        << QByteArray("\"\"\"=HYPERLINK(\"\"x\"\")\"\" by @evil, Pexels\"");
}

// The credit line of the list's last column: title, creator, source, licence, those that are known.
void TestSourceRuns::attribution() {
    QFETCH(Source, source);
    QFETCH(QStringList, credits);
    QFETCH(QByteArray, field);
    CreditsFile::Line line{
        "a.jpg", "a", source, "https://pics.example.org/a.jpg", {}, QDateTime::currentDateTimeUtc()};
    line.credits = {credits[0], credits[1], {}, credits[2], credits[3], {}};
    QVERIFY2(CreditsFile::format(line).endsWith(',' + field + "\r\n"), CreditsFile::format(line).constData());
}

// The original service's answer names each picture's title and page after its address.
void TestSourceRuns::originalServiceCredits() {
    SettingsStore::write(SettingKey::WidthFilter, QStringLiteral("5"));
    KeywordList list;
    list.add(QStringLiteral("gamma ray"));
    run(list, QStringLiteral("2"));
    const QList<QByteArray> lines = fileBytes(prefix + "credits.csv").split('\n');
    QCOMPARE(lines.size(), 4); // header, two pictures, and the empty rest after the last line end
    const QList<Result> results = answer(QStringLiteral("gamma ray"));
    for (int i : {0, 1}) {
        const QString address = results.at(i).url;
        const QString seed = QUrl(address).path().section('/', 4, 4);
        QCOMPARE(QString::fromUtf8(lines.at(i + 1)).split(',').mid(1, 8),
                 QStringList(
                     {"gamma ray", "contextualweb", address, service->baseUrl() + "/page/" + seed + ".html",
                      QStringLiteral("gamma ray %1 - Pictures of gamma ray").arg(i + 1), "", "", ""}));
    }
}

// A line is added whole or not at all, and never runs on from a line left unfinished.
void TestSourceRuns::creditsListEndsWithAWholeLine_data() {
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<bool>("diskFull");
    QTest::addColumn<QByteArray>("added"); // what the list gains
    QTest::addColumn<QString>("says");
    QTest::addColumn<bool>("attribution"); // the line has the attribution column
    const QByteArray whole = CreditsFile::header() + "a.png,a,contextualweb,x,,,,,,t,x\r\n";
    QTest::newRow("full disk: the part that fitted is taken out")
        << whole << true << QByteArray()
        << QString::fromLocal8Bit(std::strerror(ENOSPC)) + "; the unfinished line was taken out again"
        << true;
    QTest::newRow("unfinished last line: the new one starts on its own")
        << whole + "b.png,b" << false << QByteArray("\r\n") << "" << true;
    QTest::newRow("a list begun before the attribution column keeps its columns")
        << QByteArray("file,keyword,source,address,source page,title,creator,licence,licence address,time\r\n"
                      "a.png,a,contextualweb,x,,,,,,t\r\n")
        << false << QByteArray() << "" << false;
}

void TestSourceRuns::creditsListEndsWithAWholeLine() {
    QFETCH(QByteArray, before);
    QFETCH(bool, diskFull);
    QFETCH(QByteArray, added);
    QFETCH(QString, says);
    QFETCH(bool, attribution);
    std::optional<SmallDisk> disk;
    if (diskFull) {
        disk.emplace(folder->filePath("disk"));
        if (!disk->mounted())
            QSKIP(qPrintable(disk->why()));
    }
    const QString where = (disk ? disk->path() : folder->path()) + "/";
    writeBytes(where + "credits.csv", before);
    if (disk)
        disk->fill();
    // Longer than the room left in the list's last block.
    CreditsFile::Line line{"c.png",           "c", Source::Openverse,
                           "https://x/c.png", {},  QDateTime::currentDateTimeUtc()};
    line.credits.title = QString(6000, 'T');
    QCOMPARE(CreditsFile::append(where, line), says);
    QCOMPARE(fileBytes(where + "credits.csv"),
             before + added + (diskFull ? QByteArray() : CreditsFile::format(line, attribution)));
}

// Pixabay asks that a request is not repeated within a day: the second run asks nothing.
void TestSourceRuns::pixabayAnswersAreKeptForADay() {
    runSource(Source::Pixabay, {"alpha"});
    QCOMPARE(searches().size(), 2);
    QVERIFY(reset());
    SettingsStore::write(SettingKey::WidthFilter, QStringLiteral("6"));
    runSource(Source::Pixabay, {"alpha"});
    QCOMPARE(searches(), QStringList());
    QCOMPARE(folderEntries(), QStringList({"alpha 1.png", "alpha 2.jpg"}));
    const QDir cache(AnswerCache(QStringLiteral("pixabay"), 1).folder());
    QCOMPARE(cache.entryList(QDir::Files).size(), 2);
    QCOMPARE(QFileInfo(cache.path()).permissions() & (QFile::ReadGroup | QFile::ReadOther),
             QFile::Permissions());
}

void TestSourceRuns::answerCacheFollowsNoLink_data() {
    QTest::addColumn<bool>("folderIsLink");
    QTest::addColumn<bool>("nameIsLink");
    QTest::addColumn<int>("ageSeconds"); // of the answer kept before
    QTest::addColumn<bool>("found");
    QTest::newRow("young answer") << false << false << 60 << true;
    QTest::newRow("old answer") << false << false << 2 * 86400 << false;
    QTest::newRow("answer dated in the future") << false << false << -3600 << false;
    QTest::newRow("link at the answer's name") << false << true << 60 << false;
    QTest::newRow("the folder is a link") << true << false << 2 * 86400 << false;
}

// Whoever may put links in the cache cannot have an answer read or written through them, nor old
// files removed in another folder; an answer dated in the future is not used for ever.
void TestSourceRuns::answerCacheFollowsNoLink() {
    QFETCH(bool, folderIsLink);
    QFETCH(bool, nameIsLink);
    QFETCH(int, ageSeconds);
    const AnswerCache cache(QStringLiteral("links"), 86400);
    const QString folder = cache.folder();
    QFile::remove(folder);
    QDir(folder).removeRecursively();
    QVERIFY(QDir().mkpath(QFileInfo(folder).path()));
    QTemporaryDir elsewhere(prefix + "../elsewhere-XXXXXX");
    QVERIFY(folderIsLink ? QFile::link(elsewhere.path(), folder) : QDir().mkpath(folder));
    const QString address = QStringLiteral("https://pixabay.com/api/?q=cat");
    const QString kept = (folderIsLink ? elsewhere.path() : folder) + '/' + AnswerCache::fileName(address);
    const QString victim = elsewhere.filePath(QStringLiteral("victim"));
    QFile file(nameIsLink ? victim : kept);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write("before") == 6 && file.flush());
    QVERIFY(file.setFileTime(QDateTime::currentDateTimeUtc().addSecs(-ageSeconds),
                             QFileDevice::FileModificationTime));
    file.close();
    if (nameIsLink)
        QVERIFY(QFile::link(victim, kept));

    QTEST(cache.find(address).has_value(), "found");
    cache.keep(address, "after");
    if (nameIsLink)
        QCOMPARE(fileBytes(victim), QByteArray("before"));
    if (folderIsLink) {
        QCOMPARE(QDir(elsewhere.path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{AnswerCache::fileName(address)});
        QCOMPARE(fileBytes(kept), QByteArray("before"));
    } else
        QCOMPARE(cache.find(address).value_or("none"), QByteArray("after"));
    QFile::remove(folder);
}

// A second run appends to the list of the first; a list that is a link is not written through, and
// the pictures are kept all the same.
void TestSourceRuns::creditsListIsAppendedNeverReplaced() {
    runSource(Source::Openverse, {"alpha"});
    const QByteArray first = fileBytes(prefix + "credits.csv");
    QCOMPARE(first.count("\r\n"), 3);
    runSource(Source::Openverse, {"beta"});
    const QByteArray both = fileBytes(prefix + "credits.csv");
    QVERIFY(both.startsWith(first));
    QCOMPARE(both.count("\r\n"), 5);
    QCOMPARE(both.count(CreditsFile::header()), 1);

    QVERIFY(QFile::remove(prefix + "credits.csv"));
    QTemporaryDir elsewhere;
    const QString target = elsewhere.filePath("victim.txt");
    QVERIFY(QFile::link(target, prefix + "credits.csv"));
    prompts.reset();
    runSource(Source::Openverse, {"gamma"});
    QVERIFY(!QFile::exists(target));
    QCOMPARE(folderEntries().size(), 6);
    QVERIFY2(prompts.messages().value(0).contains("The credits list (credits.csv) could not be written"),
             qPrintable(prompts.messages().value(0)));

    // A pipe by that name, which no one reads, holds nothing up.
    QVERIFY(QFile::remove(prefix + "credits.csv"));
    QCOMPARE(::mkfifo(QFile::encodeName(prefix + "credits.csv").constData(), 0600), 0);
    prompts.reset();
    runSource(Source::Openverse, {"delta"});
    QCOMPARE(folderEntries().size(), 8);
    QVERIFY(prompts.messages().value(0).contains("The credits list (credits.csv) could not be written"));

    // Switched off, no list is kept.
    QVERIFY(reset());
    SettingsStore::write(SettingKey::WidthFilter, QStringLiteral("6"));
    SettingsStore::write(SettingKey::Credits, QStringLiteral("False"));
    runSource(Source::Openverse, {"alpha"});
    QCOMPARE(folderEntries().size(), 2);
    QVERIFY(!QFile::exists(prefix + "credits.csv"));
}

QTEST_MAIN(TestSourceRuns)
#include "tst_source_runs.moc"
