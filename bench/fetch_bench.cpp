// The curl runner and the answer scanner.
//
// 1. Runner overhead: the same curl command (a local file:// read, so that the network does not
//    blur the figure) is run alternately by RunAndWait and by a plain blocking start-and-wait; the
//    difference of the medians is what the runner adds per request beyond curl's own time.
// 2. Scanner: answers of 1, 5 and 10 MB in the service's shape are classified, their total read
//    and every result scanned; the time should grow in proportion to the size.
//
//   bench_fetch [requests]      (default 40)

#include "fetch/response_scan.h"
#include "fetch/tool_runner.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
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

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int requests = argc > 1 ? std::max(1, QString::fromLocal8Bit(argv[1]).toInt()) : 40;
    runnerOverhead(requests);
    scanner();
    return 0;
}
