#include "base/error_report.h"
#include "fake_prompts.h"
#include "fetch/response_scan.h"
#include "fetch/sources/contextualweb.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using CurlFunctions::ImageResult;
using CurlFunctions::ResultScanner;

namespace {

// One result in the service's field order.
QString result(const QString& url, int height, int width) {
    return QStringLiteral(
               "{\"url\":\"%1\",\"height\":%2,\"width\":%3,\"thumbnail\":\"https:\\/\\/"
               "rapidapi.usearch.com\\/"
               "api\\/thumbnail\\/get?value=1\",\"thumbnailHeight\":120,\"thumbnailWidth\":160,"
               "\"base64Encoding\":null,\"name\":\"a, b: c\",\"title\":\"Red car\",\"provider\":{\"name\":"
               "\"example\",\"favIcon\":\"\",\"favIconBase64Encoding\":\"\"},\"imageWebSearchUrl\":"
               "\"https:\\/\\/example.com\\/search\",\"webpageUrl\":\"https:\\/\\/example.com\\/page\"}")
        .arg(url)
        .arg(height)
        .arg(width);
}

QString answer(const QStringList& results, qint64 total) {
    return QStringLiteral("{\"_type\":\"images\",\"totalCount\":%1,\"value\":[%2]}")
        .arg(total)
        .arg(results.join(','));
}

// Everything a scan yields, one line per step, for comparing whole scans.
QStringList scanAll(const QString& text, ImageResult start = {}) {
    QStringList steps;
    ResultScanner scan(text);
    ImageResult r = start;
    for (int guard = 0; guard < 1000; ++guard) {
        const auto step = scan.next(r);
        if (step == ResultScanner::Step::Over)
            break;
        if (step == ResultScanner::Step::Skipped) {
            steps << QStringLiteral("skipped");
            continue;
        }
        steps << QStringLiteral("%1 | %2 | %3 | %4x%5%6%7")
                     .arg(r.address, r.extension, r.downloadAddress)
                     .arg(r.width)
                     .arg(r.height)
                     .arg(r.widthError.isEmpty() ? QString() : QStringLiteral(" w:") + r.widthError)
                     .arg(r.heightError.isEmpty() ? QString() : QStringLiteral(" h:") + r.heightError);
    }
    return steps;
}

} // namespace

class TestResponseScan : public QObject {
    Q_OBJECT
private slots:
    void getJSValue_data();
    void getJSValue();
    void getJSValueThatCannotBeCutIsReported();
    void classification_data();
    void classification();
    void total_data();
    void total();
    void results_data();
    void results();
    void scanOverMeansNoFurtherResults();
    void answersOfARun();
    void readResponse_data();
    void readResponse();
};

void TestResponseScan::getJSValue_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::newRow("empty text") << ""
                                << "message"
                                << "";
    QTest::newRow("missing key") << "{\"a\":1}"
                                 << "message"
                                 << "";
    QTest::newRow("total") << "{\"_type\":\"images\",\"totalCount\":1234,\"value\":[]}"
                           << "totalCount"
                           << "1234";
    QTest::newRow("any case") << "{\"TOTALCOUNT\":5,}"
                              << "totalCount"
                              << "5";
    QTest::newRow("message closed by brace") << "{\"message\":\"You are not subscribed to this API.\"}"
                                             << "message"
                                             << "You are not subscribed to this API.";
    QTest::newRow("message cut at comma, colons removed") << "{\"message\":\"Upgrade: now, please\"}"
                                                          << "message"
                                                          << "Upgrade now";
    QTest::newRow("service 401 text")
        << "{\"message\":\"Invalid API key. Go to https:\\/\\/docs.rapidapi.com\\/docs\\/keys for more "
           "info.\"}"
        << "message"
        << "Invalid API key. Go to https\\/\\/docs.rapidapi.com\\/docs\\/keys for more info.";
    QTest::newRow("bare substring inside a longer name") << "{\"mytotalCountX\":9,\"totalCount\":3}"
                                                         << "totalCount"
                                                         << "X9";
    QTest::newRow("message word unquoted first") << "no message here: \"message\":\"x\"}"
                                                 << "message"
                                                 << "here messagex";
    QTest::newRow("spaces trimmed, tabs kept") << "{\"k\":  \t7  ,}"
                                               << "k"
                                               << "\t7";
}

void TestResponseScan::getJSValue() {
    QFETCH(QString, text);
    QFETCH(QString, key);
    QFETCH(QString, value);
    FakePrompts prompts;
    QCOMPARE(CurlFunctions::GetJSValue(text, key, &prompts), value);
    QVERIFY(prompts.calls.isEmpty());
}

void TestResponseScan::getJSValueThatCannotBeCutIsReported() {
    FakePrompts prompts;
    QCOMPARE(CurlFunctions::GetJSValue(QStringLiteral("{\"message\":\"cut off"), QStringLiteral("message"),
                                       &prompts),
             QString());
    QCOMPARE(prompts.calls.size(), 1);
    QCOMPARE(prompts.calls.at(0).title, QStringLiteral("Application Error"));
    QVERIFY(prompts.calls.at(0).text.contains(
        QStringLiteral("in Snapquarry2021/08/31.CurlFunctions.GetJSValue at line ")));
    // Without a place to report, it is only "".
    QCOMPARE(CurlFunctions::GetJSValue(QStringLiteral("{\"message\":\"cut off"), QStringLiteral("message")),
             QString());
}

void TestResponseScan::classification_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("images");
    QTest::addColumn<bool>("total");
    QTest::addColumn<QString>("message");
    QTest::newRow("image answer") << answer({}, 0) << true << true << "";
    QTest::newRow("any case") << "{\"_TYPE\":\"Images\",\"TotalCount\":1}" << true << true << "";
    QTest::newRow("images without total") << "{\"_type\":\"images\",\"value\":[]}" << true << false << "";
    QTest::newRow("401")
        << "{\"message\":\"Invalid API key. Go to https:\\/\\/docs.rapidapi.com\\/docs\\/keys for more "
           "info.\"}"
        << false << false
        << "Invalid API key. Go to https\\/\\/docs.rapidapi.com\\/docs\\/keys for more info.";
    QTest::newRow("403") << "{\"message\":\"You are not subscribed to this API.\"}" << false << false
                         << "You are not subscribed to this API.";
    QTest::newRow("429")
        << "{\"message\":\"You have exceeded the MONTHLY quota for Requests on your current plan, BASIC. "
           "Upgrade your plan at https:\\/\\/rapidapi.com\\/contextualwebsearch\\/api\\/web-search\"}"
        << false << false << "You have exceeded the MONTHLY quota for Requests on your current plan";
    QTest::newRow("terminal escapes and bidirectional overrides")
        << QStringLiteral(
               "{\"message\":\"\x1B[2J\x1B]0;x\x07Key \u202Edeyfirev\u2069 \u009B31mrefused\r\n.\"}")
        << false << false << "[2J ]0;x Key deyfirev 31mrefused .";
    QTest::newRow("missing file") << "" << false << false << "";
    QTest::newRow("zero-length file") << "empty file" << false << false << "";
}

void TestResponseScan::classification() {
    QFETCH(QString, text);
    QFETCH(bool, images);
    QFETCH(bool, total);
    QFETCH(QString, message);
    QCOMPARE(CurlFunctions::IsImageAnswer(text), images);
    QCOMPARE(CurlFunctions::HasTotal(text), total);
    QCOMPARE(CurlFunctions::ServiceMessage(text), message);
}

void TestResponseScan::total_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<qint32>("total");
    QTest::newRow("small") << answer({}, 3) << 3;
    QTest::newRow("above 16 bits") << answer({}, 40000) << 40000;
    QTest::newRow("above 32 bits is clamped")
        << answer({}, 9000000000LL) << std::numeric_limits<qint32>::max();
    QTest::newRow("not numeric") << "{\"totalCount\":\"many\",\"value\":[]}" << 0;
    QTest::newRow("null") << "{\"totalCount\":null,\"value\":[]}" << 0;
    QTest::newRow("absent") << "{\"_type\":\"images\"}" << 0;
    QTest::newRow("quoted number") << "{\"totalCount\":\"12\",\"value\":[]}" << 12;
}

void TestResponseScan::total() {
    QFETCH(QString, text);
    QFETCH(qint32, total);
    QCOMPARE(CurlFunctions::ReadTotal(text), total);
}

void TestResponseScan::results_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("steps");

    QTest::newRow("service shape, escaped slashes")
        << answer({result(QStringLiteral("https:\\/\\/127.0.0.1:4443\\/img\\/red-car-1.jpg"), 600, 800),
                   result(QStringLiteral("https:\\/\\/127.0.0.1:4443\\/img\\/red-car-2.png"), 1809, 3200)},
                  2)
        << QStringList{"https://127.0.0.1:4443/img/red-car-1.jpg | jpg | "
                       "https://127.0.0.1:4443/img/red-car-1.jpg | 800x600",
                       "https://127.0.0.1:4443/img/red-car-2.png | png | "
                       "https://127.0.0.1:4443/img/red-car-2.png | 3200x1809"};
    QTest::newRow("query cut from extension and download address")
        << answer({result(QStringLiteral("https:\\/\\/h\\/a\\/photo.jpg?w=800&h=600"), 600, 800)}, 1)
        << QStringList{"https://h/a/photo.jpg?w=800&h=600 | jpg | https://h/a/photo.jpg | 800x600"};
    QTest::newRow("dot in the query")
        << answer({result(QStringLiteral("https://h/photo.jpg?v=1.2"), 1, 2)}, 1)
        << QStringList{"https://h/photo.jpg?v=1.2 | 2 | https://h/photo.jpg?v=1.2 | 2x1"};
    QTest::newRow("&fm= after the last dot")
        << answer({result(QStringLiteral("https://images.example/photo-1.1&fm=jpg"), 5, 6)}, 1)
        << QStringList{
               "https://images.example/photo-1.1&fm=jpg | 1 | https://images.example/photo-1.1 | 6x5"};
    QTest::newRow("empty extension is skipped, sizes of later results unaffected")
        << answer({result(QStringLiteral("https://h/img.?x"), 7, 8),
                   result(QStringLiteral("https://h/b.gif"), 9, 10)},
                  2)
        << QStringList{"skipped", "https://h/b.gif | gif | https://h/b.gif | 10x9"};
    QTest::newRow("address without end marker is skipped")
        << "{\"totalCount\":1,\"value\":[{\"url\":\"https://h/a.jpg\",\"width\":3}]}"
        << QStringList{"skipped"};
    QTest::newRow("sizes missing keep the previous ones")
        << "{\"totalCount\":2,\"value\":[{\"url\":\"https://h/a.jpg\",\"height\":5,\"width\":6,\"x\":1},"
           "{\"url\":\"https://h/b.jpg\",\"height\"}]}"
        << QStringList{"https://h/a.jpg | jpg | https://h/a.jpg | 6x5",
                       "https://h/b.jpg | jpg | https://h/b.jpg | 6x5"};
    QTest::newRow("sizes taken from a later result when this one lacks them")
        << "{\"totalCount\":2,\"value\":[{\"url\":\"https://h/a.jpg\",\"height\":null},"
           "{\"url\":\"https://h/b.jpg\",\"height\":11,\"width\":12,\"z\":0}]}"
        << QStringList{"https://h/a.jpg | jpg | https://h/a.jpg | 12x0 h:Type mismatch",
                       "https://h/b.jpg | jpg | https://h/b.jpg | 12x11"};
    QTest::newRow("size that is not a number keeps the old value and says why")
        << "{\"totalCount\":1,\"value\":[{\"url\":\"https://h/"
           "a.jpg\",\"height\":\"tall\",\"width\":99999999999,\"q\":1}]}"
        << QStringList{"https://h/a.jpg | jpg | https://h/a.jpg | 0x0 w:Overflow h:Type mismatch"};
    QTest::newRow("no totalCount: nothing to scan")
        << "{\"_type\":\"images\",\"value\":[{\"url\":\"https://h/a.jpg\",\"height\":4,\"width\":3,}]}"
        << QStringList{};
    QTest::newRow("results before totalCount are not seen")
        << "{\"value\":[{\"url\":\"https://h/a.jpg\",\"height\":4,\"width\":3,}],\"totalCount\":1}"
        << QStringList{};
    QTest::newRow("non-ascii address kept")
        << answer({result(QStringLiteral("https:\\/\\/h\\/Straße\\/é.jpg"), 1, 1)}, 1)
        << QStringList{"https://h/Straße/é.jpg | jpg | https://h/Straße/é.jpg | 1x1"};
    QTest::newRow("address without a dot")
        << answer({result(QStringLiteral("https:\\/\\/h\\/picture"), 1, 1)}, 1)
        << QStringList{"https://h/picture | https://h/picture | https://h/picture.https://h/picture | 1x1"};
    QTest::newRow("control characters in the address are skipped")
        << answer({result(QStringLiteral("https://h/a\x1B[2J.jpg"), 1, 1),
                   result(QStringLiteral("https://h/\u202Egpj.b"), 1, 1),
                   result(QStringLiteral("https://h/c.jpg"), 2, 3)},
                  3)
        << QStringList{"skipped", "skipped", "https://h/c.jpg | jpg | https://h/c.jpg | 3x2"};
    QTest::newRow("marker case ignored")
        << "{\"TOTALCOUNT\":1,\"VALUE\":[{\"URL\":\"https://h/a.PNG\",\"HEIGHT\":2,\"WIDTH\":3,}]}"
        << QStringList{"https://h/a.PNG | PNG | https://h/a.PNG | 3x2"};
}

void TestResponseScan::results() {
    QFETCH(QString, text);
    QFETCH(QStringList, steps);
    QCOMPARE(scanAll(text), steps);
}

void TestResponseScan::scanOverMeansNoFurtherResults() {
    // A marker right at the start of the text is found; the scan is over only when no address follows.
    const QString text =
        QStringLiteral("\"totalCount\":1,\"v\":[{\"url\":\"https://h/a.jpg\",\"height\":1,\"width\":2,}]");
    ResultScanner scan(text);
    QVERIFY(!scan.over());
    QCOMPARE(scan.position(), qsizetype(9));
    ImageResult r;
    r.width = 40;
    QCOMPARE(scan.next(r), ResultScanner::Step::Found);
    QVERIFY(!scan.over());
    QCOMPARE(scan.next(r), ResultScanner::Step::Over);
    QVERIFY(scan.over());
    QCOMPARE(scan.next(r), ResultScanner::Step::Over);
    QCOMPARE(r.address, QStringLiteral("https://h/a.jpg"));
    QCOMPARE(r.width, 2);
}

// The original service's adapter as a run reads its answers: at most as many results as were asked
// for, and a size a result leaves out kept from the result before, in an earlier answer too, but
// not from an earlier run.
void TestResponseScan::answersOfARun() {
    using namespace Sources;
    FakePrompts prompts;
    ErrorTrap trap(prompts, QStringLiteral("Form1.PushButton2_Click"));
    const auto sizesOf = [&](ImageSource& source, const QByteArray& answer, int asked) {
        const SourceAnswer read = source.readInRun(answer, 200, {"k", 1, 0, asked, {}}, trap, false);
        QStringList sizes;
        Candidate c;
        while (read.feed && read.feed->next(c) == ResultFeed::Step::Found)
            sizes << QStringLiteral("%1x%2").arg(c.image.width).arg(c.image.height);
        return sizes;
    };
    const QByteArray sized = R"({"_type":"images","totalCount":3,"value":[
        {"url":"https://h/a.jpg","height":5,"width":6,"x":1},{"url":"https://h/b.jpg","height":7,"width":8,"x":1},
        {"url":"https://h/c.jpg","height":9,"width":10,"x":1}]})";
    const QByteArray unsized =
        R"({"_type":"images","totalCount":1,"value":[{"url":"https://h/d.jpg","height"}]})";
    ContextualWebSource run;
    QCOMPARE(sizesOf(run, sized, 2), QStringList({"6x5", "8x7"}));
    QCOMPARE(sizesOf(run, unsized, 25), QStringList({"8x7"}));
    ContextualWebSource nextRun;
    QCOMPARE(sizesOf(nextRun, unsized, 25), QStringList({"0x0"}));
    QVERIFY(prompts.calls.isEmpty());
}

void TestResponseScan::readResponse_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("exists");
    QTest::addColumn<QString>("text");
    QTest::newRow("missing") << QByteArray() << false << "";
    QTest::newRow("zero length") << QByteArray() << true << "empty file";
    QTest::newRow("utf-8") << QByteArray("{\"url\":\"https://h/\xC3\xA9.jpg\"}") << true
                           << QString::fromUtf8("{\"url\":\"https://h/\xC3\xA9.jpg\"}");
}

void TestResponseScan::readResponse() {
    QFETCH(QByteArray, bytes);
    QFETCH(bool, exists);
    QFETCH(QString, text);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("message.txt"));
    if (exists) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    QCOMPARE(CurlFunctions::ReadResponse(path), text);
}

QTEST_GUILESS_MAIN(TestResponseScan)
#include "tst_response_scan.moc"
