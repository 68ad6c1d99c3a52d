// The curl runner and the answer scanner.
//
// 1. Runner overhead: the same curl command (a local file:// read, so that the network does not
//    blur the figure) is run alternately by RunAndWait and by a plain blocking start-and-wait; the
//    difference of the medians is what the runner adds per request beyond curl's own time.
// 2. Scanner: answers of 1, 5 and 10 MB in the service's shape are classified, their total read
//    and every result scanned; the time should grow in proportion to the size.
//
// 3. Image sources: a 10 MB answer of each public source (Openverse, Wikimedia Commons, Pexels,
//    Pixabay), in its own shape, read by its adapter into result records (target: under 100 ms each).
//
//   bench_fetch [requests]      (default 40)

#include "fetch/response_scan.h"
#include "fetch/sources/adapters.h"
#include "fetch/tool_runner.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double milliseconds(const QElapsedTimer& clock) {
    return static_cast<double>(clock.nsecsElapsed()) / 1e6;
}

void runnerOverhead(int requests) {
    QTemporaryDir dir;
    const QString curl = QStandardPaths::findExecutable(QStringLiteral("curl"));
    if (curl.isEmpty()) {
        std::printf("runner: curl not found\n");
        return;
    }
    const QStringList arguments{QStringLiteral("-s"), QStringLiteral("-o"),
                                dir.filePath(QStringLiteral("out")), QStringLiteral("file:///etc/hostname")};
    std::vector<double> plain;
    std::vector<double> runner;
    for (int i = 0; i < requests + 2; ++i) {
        QElapsedTimer clock;
        clock.start();
        QProcess process;
        process.setProgram(curl);
        process.setArguments(arguments);
        process.setStandardInputFile(QProcess::nullDevice());
        process.setStandardOutputFile(QProcess::nullDevice());
        process.setStandardErrorFile(QProcess::nullDevice());
        process.start();
        process.waitForFinished(-1);
        const double p = milliseconds(clock);

        clock.restart();
        Shell32::RunAndWait(ToolCommand{curl, arguments, {}}, 0);
        const double r = milliseconds(clock);
        if (i >= 2) { // the first runs warm the caches
            plain.push_back(p);
            runner.push_back(r);
        }
    }
    const double plainMedian = median(plain);
    const double runnerMedian = median(runner);
    std::printf("runner: %d requests, curl alone (blocking wait) median %.2f ms, RunAndWait median %.2f ms\n",
                requests, plainMedian, runnerMedian);
    std::printf("runner: overhead per request beyond curl's own time: %.2f ms (target: under 5 ms; "
                "a 100 ms poll would add up to 100 ms)\n",
                runnerMedian - plainMedian);
}

QString answerOfSize(qsizetype bytes) {
    QString text = QStringLiteral("{\"_type\":\"images\",\"totalCount\":123456,\"value\":[");
    for (int i = 0; text.size() < bytes; ++i) {
        if (i > 0)
            text += QLatin1Char(',');
        text +=
            QStringLiteral(
                "{\"url\":\"https:\\/\\/127.0.0.1:4443\\/img\\/jpeg\\/%2x%3\\/%1\\/red-car-%1.jpg?w=979\","
                "\"height\":%3,\"width\":%2,\"thumbnail\":\"https:\\/\\/rapidapi.usearch.com\\/api\\/"
                "thumbnail\\/"
                "get?value=%1\",\"thumbnailHeight\":120,\"thumbnailWidth\":160,\"base64Encoding\":null,"
                "\"name\":\"Red car %1\",\"title\":\"A red car, number "
                "%1\",\"provider\":{\"name\":\"example\","
                "\"favIcon\":\"\",\"favIconBase64Encoding\":\"\"},\"imageWebSearchUrl\":\"https:\\/\\/"
                "example.com\\/"
                "search?q=red+car\",\"webpageUrl\":\"https:\\/\\/example.com\\/cars\\/%1\"}")
                .arg(i)
                .arg(150 + i % 1000)
                .arg(100 + i % 700);
    }
    return text + QStringLiteral("]}");
}

void scanner() {
    for (const int megabytes : {1, 5, 10}) {
        const QString text = answerOfSize(qsizetype(megabytes) * 1024 * 1024);
        std::vector<double> times;
        int results = 0;
        for (int round = 0; round < 5; ++round) {
            QElapsedTimer clock;
            clock.start();
            results = 0;
            if (CurlFunctions::IsImageAnswer(text) && CurlFunctions::HasTotal(text) &&
                CurlFunctions::ReadTotal(text) > 0) {
                CurlFunctions::ResultScanner scan(text);
                CurlFunctions::ImageResult r;
                while (scan.next(r) != CurlFunctions::ResultScanner::Step::Over)
                    ++results;
            }
            times.push_back(milliseconds(clock));
        }
        const double ms = median(times);
        std::printf("scanner: %2d MB answer, %6d results: %7.1f ms (%.1f ms per MB)\n", megabytes, results,
                    ms, ms / megabytes);
    }
}

// One result of each source's answer, in the shape the real service sends; %1 varies it.
const char* const OpenverseEntry =
    R"({"id":"e6129124-a78f-4ae7-a956-%1","title":"Draft horses at the roundup %1",)"
    R"("foreign_landing_url":"https://www.flickr.com/photos/44124324682@N01/%1",)"
    R"("url":"https://live.staticflickr.com/6161/%1_d298eef1b6_b.jpg","creator":"mharrsch",)"
    R"("creator_url":"https://www.flickr.com/photos/44124324682@N01","license":"by-nc-sa","license_version":"2.0",)"
    R"("license_url":"https://creativecommons.org/licenses/by-nc-sa/2.0/","provider":"flickr","source":"flickr",)"
    R"("category":null,"filesize":null,"filetype":null,"tags":[{"name":"horse"},{"name":"parade"}],)"
    R"("attribution":null,"mature":false,"height":768,"width":1024,)"
    R"("thumbnail":"https://api.openverse.org/v1/images/e6129124-%1/thumb/"})";
const char* const CommonsEntry =
    R"({"pageid":%1,"ns":6,"title":"File:Mitochondria %1.jpg","index":%1,"imageinfo":[{"size":98422,)"
    R"("width":640,"height":480,"url":"https://upload.wikimedia.org/wikipedia/commons/0/0c/Mitochondria_%1.jpg)"
    R"(?utm_source=commons.wikimedia.org&utm_campaign=imageinfo&utm_content=original",)"
    R"("descriptionurl":"https://commons.wikimedia.org/wiki/File:Mitochondria_%1.jpg","mime":"image/jpeg",)"
    R"("extmetadata":{"ObjectName":{"value":"Mitochondria %1","source":"commons-desc-page"},)"
    R"("Artist":{"value":"<a href=\"//commons.wikimedia.org/wiki/User:B\" title=\"User:B\">Beatriz &amp; )"
    R"(co</a>","source":"commons-desc-page"},"LicenseShortName":{"value":"CC BY-SA 4.0",)"
    R"("source":"commons-desc-page","hidden":""},"LicenseUrl":{"value":"https://creativecommons.org/licenses/)"
    R"(by-sa/4.0","source":"commons-desc-page"}}}]})";
const char* const PexelsEntry =
    R"({"id":%1,"width":4160,"height":6240,"url":"https://www.pexels.com/photo/mt-fuji-%1/",)"
    R"("photographer":"Tom\u00e1\u0161 Mal\u00edk","photographer_url":"https://www.pexels.com/@tomas-malik-793526",)"
    R"("photographer_id":793526,"avg_color":"#757F8A","src":{"original":"https://images.pexels.com/photos/%1/)"
    R"(pexels-photo-%1.jpeg","large2x":"https://images.pexels.com/photos/%1/pexels-photo-%1.jpeg?auto=compress)"
    R"(\u0026cs=tinysrgb\u0026dpr=2\u0026h=650\u0026w=940","tiny":"https://images.pexels.com/photos/%1/)"
    R"(pexels-photo-%1.jpeg?auto=compress\u0026cs=tinysrgb\u0026dpr=1\u0026fit=crop\u0026h=200\u0026w=280"},)"
    R"("liked":false,"alt":"Mt. Fuji %1"})";
const char* const PixabayEntry =
    R"({"id":%1,"pageURL":"https://pixabay.com/photos/fresh-fruits-bowls-%1/","type":"photo",)"
    R"("tags":"fresh fruits, bowls, fruit bowls","previewURL":"https://cdn.pixabay.com/photo/2017/05/11/19/44/)"
    R"(fresh-fruits-%1_150.jpg","previewWidth":150,"previewHeight":84,"webformatURL":"https://pixabay.com/get/)"
    R"(ge5f6ee0597c7263fd642ec1a428a9edb018441fa_%1_640.jpg","webformatWidth":640,"webformatHeight":359,)"
    R"("largeImageURL":"https://pixabay.com/get/ga54fefe00d708cfb14b8003ffeeece5ca93f0b5b_%1_1280.jpg",)"
    R"("imageWidth":4000,"imageHeight":2248,"imageSize":2944985,"views":532363,"downloads":316495,)"
    R"("collections":1024,"likes":1226,"comments":235,"user_id":3142410,"user":"silviarita",)"
    R"("userImageURL":"https://cdn.pixabay.com/user/2023/11/11/20-18-29-274_250x250.jpeg"})";

// An answer of `bytes` or a little more: the source's envelope around as many entries as fit.
QByteArray sourceAnswer(Sources::Source source, qsizetype bytes) {
    const char* entry = source == Sources::Source::Openverse ? OpenverseEntry
                        : source == Sources::Source::Commons ? CommonsEntry
                        : source == Sources::Source::Pexels  ? PexelsEntry
                                                             : PixabayEntry;
    QByteArray list;
    list.reserve(bytes + 4096);
    for (int i = 1; list.size() < bytes; ++i) {
        if (i > 1)
            list += ',';
        list += QString::fromLatin1(entry).arg(i).toUtf8();
    }
    switch (source) {
    case Sources::Source::Openverse:
        return R"({"result_count":240,"page_count":12,"page_size":20,"page":1,"results":[)" + list + "]}";
    case Sources::Source::Commons:
        return R"({"batchcomplete":true,"continue":{"gsroffset":50,"continue":"gsroffset||"},"query":{"pages":[)" +
               list + "]}}";
    case Sources::Source::Pexels:
        return R"({"page":1,"per_page":80,"photos":[)" + list +
               R"(],"total_results":8000,"next_page":"https://api.pexels.com/v1/search/?page=2&per_page=80&query=x"})";
    default:
        return R"({"total":34436,"totalHits":500,"hits":[)" + list + "]}";
    }
}

// The processor time this thread has used, in milliseconds: unlike the clock on the wall it does not
// count the time other programs on a shared machine hold the processor.
double threadMilliseconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

void sources() {
    constexpr int megabytes = 10;
    constexpr int rounds = 7;
    std::printf(
        "sources: a %d MB answer of each source read by its adapter, %d rounds (target: under 100 ms)\n",
        megabytes, rounds);
    std::printf("sources: %-10s %8s %12s %12s %12s %16s\n", "source", "results", "median ms", "fastest ms",
                "cpu ms", "whole parse ms");
    for (const Sources::Source source : Sources::All) {
        if (source == Sources::Source::ContextualWeb)
            continue; // the original service: its scanner is measured above
        const auto adapter = Sources::makeAdapter(source);
        const QByteArray answer = sourceAnswer(source, qsizetype(megabytes) * 1024 * 1024);
        std::vector<double> times;
        std::vector<double> cpuTimes;
        std::vector<double> parseTimes;
        qsizetype results = 0;
        for (int round = 0; round < rounds; ++round) {
            QElapsedTimer clock;
            clock.start();
            const double cpuStart = threadMilliseconds();
            results = adapter->read(answer, 200, {QStringLiteral("x"), 1, 0, 20, {}}).results.size();
            cpuTimes.push_back(threadMilliseconds() - cpuStart);
            times.push_back(milliseconds(clock));
            // For comparison: Qt's JSON parser given the whole answer, which the adapter avoids by
            // handing it only the entries it reads.
            clock.restart();
            const bool parsed = QJsonDocument::fromJson(answer).isObject();
            parseTimes.push_back(parsed ? milliseconds(clock) : -1);
        }
        std::printf("sources: %-10s %8lld %12.1f %12.1f %12.1f %16.1f\n",
                    qPrintable(Sources::storedName(source)), static_cast<long long>(results), median(times),
                    *std::min_element(times.begin(), times.end()), median(cpuTimes), median(parseTimes));
    }
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int requests = argc > 1 ? std::max(1, QString::fromLocal8Bit(argv[1]).toInt()) : 40;
    runnerOverhead(requests);
    scanner();
    sources();
    return 0;
}
