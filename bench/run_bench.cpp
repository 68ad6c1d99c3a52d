// A download run of 100 pictures from the local image service, without the run's pauses
// (GLIMMERFETCH_PACE=0), against 100 sequential bare curl downloads of the same addresses. Prints the
// wall times, their ratio and the program's resident memory after each round. The same 100 pictures
// through the command line (`glimmerfetch fetch --pace 0`, a process of its own, start-up included),
// and the start-up of `glimmerfetch --version`.
//
//     build-x/bench/bench_run [rounds]      (9 rounds by default)
//
// Then a table of several downloads at once, with one curl process fetching 8 at a time as its
// anchor (see parallelTable at the end), and one of runs from a source that spaces its searches (see
// spacedTable); "bench_run parallel [rounds]" prints only those two tables. Both show the runs with
// the next keyword's search sent while the pictures download, and its first pictures downloaded in
// the places the keyword leaves idle ("ahead"), and without either ("no ahead").
#include "base/settings_store.h"
#include "base/surface.h"
#include "fake_free_prompts.h"
#include "fetch/download_run.h"
#include "fetch/tool_runner.h"
#include "image_service.h"
#include "keywords/keyword_list.h"

#include "base/error_report.h"
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

namespace {

long residentKiB() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// Milliseconds for bare curl to fetch the addresses one after the other, with `extra` arguments.
double bareCurlMs(const QString& curl, const QStringList& addresses, const QStringList& extra) {
    QTemporaryDir bareFolder;
    QElapsedTimer clock;
    clock.start();
    int n = 0;
    for (const QString& address : addresses) {
        QProcess p;
        p.start(curl,
                QStringList{QStringLiteral("--cacert"), ImageService::caBundle(), QStringLiteral("-s")} +
                    extra +
                    QStringList{QStringLiteral("-o"), bareFolder.filePath(QString::number(++n)), address});
        p.waitForFinished(-1);
    }
    return clock.nsecsElapsed() / 1e6;
}

// Milliseconds for one curl process to fetch all the addresses, up to `atOnce` at a time over
// connections it keeps open between downloads (curl's own best); -1 when a picture is missing.
double curlParallelMs(const QString& curl, const QStringList& addresses, const QStringList& extra,
                      int atOnce) {
    QTemporaryDir folder;
    QStringList arguments{
        QStringLiteral("--cacert"),   ImageService::caBundle(),         QStringLiteral("-s"),
        QStringLiteral("--parallel"), QStringLiteral("--parallel-max"), QString::number(atOnce)};
    arguments += extra;
    int n = 0;
    for (const QString& address : addresses)
        arguments << QStringLiteral("-o") << folder.filePath(QString::number(++n)) << address;
    QElapsedTimer clock;
    clock.start();
    QProcess p;
    p.start(curl, arguments);
    p.waitForFinished(-1);
    const double ms = clock.nsecsElapsed() / 1e6;
    const bool all =
        p.exitCode() == 0 && QDir(folder.path()).entryList(QDir::Files).size() == addresses.size();
    return all ? ms : -1.0;
}

const QString Program = QStringLiteral(GLIMMERFETCH_PROGRAM);

// Milliseconds from starting `glimmerfetch --version` to its end, the median of `times` starts.
double versionStartMs(int times) {
    std::vector<double> ms;
    for (int i = 0; i < times; ++i) {
        QProcess p;
        QElapsedTimer clock;
        clock.start();
        p.start(Program, {QStringLiteral("--version")});
        p.waitForFinished(-1);
        ms.push_back(clock.nsecsElapsed() / 1e6);
        if (p.exitCode() != 0 || !p.readAllStandardOutput().startsWith("glimmerfetch ")) {
            std::fprintf(stderr, "glimmerfetch --version failed\n");
            return -1;
        }
    }
    return median(ms);
}
int parallelTable(int rounds);
int spacedTable();

} // namespace

int main(int argc, char* argv[]) {
    QTemporaryDir settingsHome;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(settingsHome.path())); // never the user's settings
    qputenv("GLIMMERFETCH_PACE", "0");
    QCoreApplication app(argc, argv);
    if (argc > 1 && QByteArray(argv[1]) == "parallel")
        return parallelTable(argc > 2 ? std::max(1, atoi(argv[2])) : 3) || spacedTable();
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 9;

    ImageService service;
    if (!service.isRunning()) {
        std::fprintf(stderr, "the image service did not start: %s\n", qPrintable(service.errorText()));
        return 1;
    }
    service.applyToEnvironment();
    SettingsStore::write(SettingKey::ApiKey, ImageService::validKey());
    const QString curl = QStandardPaths::findExecutable(QStringLiteral("curl"));

    // Two keywords of 50 pictures each: two searches and 100 downloads per run.
    KeywordList keywords;
    keywords.add(QStringLiteral("bench lighthouse"));
    keywords.add(QStringLiteral("bench harbour"));
    SilentPrompts prompts;

    // The machine may be shared: the rounds alternate which side goes first, and the figures are
    // the medians and the minima (the least disturbed round of each side).
    std::vector<double> runTimes, bareTimes, ratios, cliTimes;
    QStringList addresses; // the picture addresses of the program's last run
    std::printf("round  run ms  cli ms  bare curl ms  ratio  cli ratio  pictures  rss KiB\n");
    for (int round = 0; round <= rounds; ++round) {
        // Round 0 warms the caches and is not counted.
        double runMs = 0;
        Download::RunSummary summary;
        const auto programRun = [&] {
            QTemporaryDir folder;
            service.clearRequests();
            SurfaceState surface(&prompts);
            ErrorTrap trap(prompts, QStringLiteral("Form1.PushButton2_Click"));
            QElapsedTimer clock;
            clock.start();
            summary = Download::DownloadRun(keywords, surface, trap, folder.path() + QLatin1Char('/'),
                                            QStringLiteral("50"), QStringLiteral("1"),
                                            Download::RunOptions::fromSettings());
            runMs = clock.nsecsElapsed() / 1e6;
            addresses.clear();
            for (const auto& request : service.requests())
                if (request.path.startsWith(QLatin1String("/img/")))
                    addresses << service.baseUrl() + request.path;
        };
        // The command line: the same keywords and count, no pauses, quiet.
        double cliMs = 0;
        int cliKept = 0;
        const auto cliRun = [&] {
            QTemporaryDir folder;
            QProcess p;
            QElapsedTimer clock;
            clock.start();
            p.start(Program, {QStringLiteral("fetch"), QStringLiteral("-q"), QStringLiteral("--pace"),
                              QStringLiteral("0"), QStringLiteral("-n"), QStringLiteral("50"),
                              QStringLiteral("-o"), folder.path(), keywords.item(1), keywords.item(2)});
            p.waitForFinished(-1);
            cliMs = clock.nsecsElapsed() / 1e6;
            // The pictures; the credits list beside them is not one.
            QStringList files = QDir(folder.path()).entryList(QDir::Files);
            files.removeAll(QStringLiteral("credits.csv"));
            cliKept = p.exitCode() == 0 ? files.size() : 0;
        };
        double bareMs = 0;
        const auto bareRun = [&] { bareMs = bareCurlMs(curl, addresses, {}); };
        if (round == 0) {
            programRun(); // the addresses come from the program's run
            cliRun();
            bareRun();
        } else if (round % 2 == 1) {
            bareRun(); // the same addresses as the round before
            programRun();
            cliRun();
        } else {
            cliRun();
            programRun();
            bareRun();
        }
        if (summary.kept != 100 || addresses.size() != 100 || cliKept != 100) {
            std::fprintf(stderr,
                         "expected 100 pictures, kept %d of %lld downloads, %d through the command line\n",
                         summary.kept, static_cast<long long>(addresses.size()), cliKept);
            return 1;
        }
        std::printf("%5d  %6.0f  %6.0f  %12.0f  %5.3f  %9.3f  %8d  %7ld%s\n", round, runMs, cliMs, bareMs,
                    runMs / bareMs, cliMs / bareMs, summary.kept, residentKiB(),
                    round == 0 ? "  (warm-up)" : "");
        std::fflush(stdout);
        if (round > 0) {
            runTimes.push_back(runMs);
            bareTimes.push_back(bareMs);
            ratios.push_back(runMs / bareMs);
            cliTimes.push_back(cliMs);
        }
    }
    const double medianRatio = median(runTimes) / median(bareTimes);
    const double runMin = *std::min_element(runTimes.begin(), runTimes.end());
    const double bareMin = *std::min_element(bareTimes.begin(), bareTimes.end());
    std::printf("median: run %.0f ms, bare curl %.0f ms, ratio %.3f\n", median(runTimes), median(bareTimes),
                medianRatio);
    std::printf("median of the rounds' ratios: %.3f\n", median(ratios));
    std::printf("minimum: run %.0f ms, bare curl %.0f ms, ratio %.3f (%s 1.10)\n", runMin, bareMin,
                runMin / bareMin, runMin / bareMin < 1.10 ? "under" : "NOT under");
    const double cliRatio = median(cliTimes) / median(bareTimes);
    const double cliMin = *std::min_element(cliTimes.begin(), cliTimes.end());
    std::printf("command line: median %.0f ms, ratio %.3f (%s 1.10); minimum %.0f ms, ratio %.3f (%s 1.10)\n",
                median(cliTimes), cliRatio, cliRatio <= 1.10 ? "at or under" : "NOT under", cliMin,
                cliMin / bareMin, cliMin / bareMin <= 1.10 ? "at or under" : "NOT under");
    const double startMs = versionStartMs(21);
    std::printf("glimmerfetch --version: median %.1f ms of 21 starts (%s 30 ms)\n", startMs,
                startMs >= 0 && startMs < 30 ? "under" : "NOT under");
    return parallelTable(3) || spacedTable();
}

namespace {

// Several downloads at once against distant servers: 100 pictures over 10 keywords, each picture
// held back 200 ms before its first byte, no pauses, on four host names (two downloads at most per
// host, so eight places can all be used). The runs with 1, 4 and 8 downloads at once, and bare curl
// downloading the same addresses one after the other. The ideal is the total latency shared by
// eight places plus the time that is not latency (bare curl's time less 100 x 200 ms, counted as if
// it could not overlap, though on two cores it partly does). Without the next keyword's early
// downloads a keyword's 10 pictures take two rounds of eight places, and "keyword-bound" is that
// floor: 10 keywords x 2 rounds x (200 ms + one picture's share of the transfer). The anchor
// ("curl -Z 8"): one curl process fetching the same addresses 8 at a time over connections it
// keeps open, as fast as curl itself gets; the run starts a curl process for every picture.
constexpr int LatencyMs = 200;
constexpr int Keywords = 10;
constexpr int PicturesPerKeyword = 10;

// Milliseconds of one run of `keywords` at `atOnce` downloads with no pauses, searching ahead or
// not; -1 when it did not keep `wanted` pictures.
double timedRun(KeywordList& keywords, Prompts& prompts, Sources::Source source, int atOnce, bool ahead,
                int wanted) {
    QTemporaryDir folder;
    SurfaceState surface(&prompts);
    ErrorTrap trap(prompts, QStringLiteral("Form1.PushButton2_Click"));
    Download::RunOptions options = Download::RunOptions::fromSettings();
    options.source = source;
    options.parallel = atOnce;
    options.searchAhead = ahead;
    options.pace = options.searchPace = 0; // "None"
    QElapsedTimer clock;
    clock.start();
    const auto summary =
        Download::DownloadRun(keywords, surface, trap, folder.path() + QLatin1Char('/'),
                              QString::number(PicturesPerKeyword), QStringLiteral("1"), options);
    const double ms = clock.nsecsElapsed() / 1e6;
    return summary.kept == wanted ? ms : -1.0;
}

QByteArray latencyCatalog() {
    QByteArray json = "{";
    for (int k = 0; k < Keywords; ++k) {
        json += (k ? "," : "") + QByteArray("\"far ") + QByteArray::number(k) + "\":{\"results\":[";
        for (int i = 0; i < PicturesPerKeyword; ++i) {
            const int seed = 100 * k + i;
            json += (i ? "," : "") + QStringLiteral("{\"url\":\"https://pics-%1.localhost:{port}/img/png/"
                                                    "640x480/%2/far%2.png\",\"width\":640,\"height\":480}")
                                         .arg(1 + (k * PicturesPerKeyword + i) % 4)
                                         .arg(2 * seed + 1, 0, 16) // read in hex, made odd
                                         .toUtf8();
        }
        json += "]}";
    }
    return json + "}";
}

int parallelTable(int rounds) {
    ImageService service({QStringLiteral("--latency"), QString::number(LatencyMs)}, latencyCatalog());
    if (!service.isRunning()) {
        std::fprintf(stderr, "the image service did not start: %s\n", qPrintable(service.errorText()));
        return 1;
    }
    service.applyToEnvironment();
    // The pictures' host names lie under "localhost": the service's own name lets them through.
    qputenv("GLIMMERFETCH_SERVICE_HOST", "localhost:" + QByteArray::number(service.port()));
    SettingsStore::write(SettingKey::ApiKey, ImageService::validKey());
    const QString curl = QStandardPaths::findExecutable(QStringLiteral("curl"));
    KeywordList keywords;
    for (int k = 0; k < Keywords; ++k)
        keywords.add(QStringLiteral("far %1").arg(k));
    SilentPrompts prompts;

    QStringList addresses;
    const auto programRun = [&](int atOnce, bool ahead) {
        service.clearRequests();
        const double ms = timedRun(keywords, prompts, Download::RunOptions::fromSettings().source, atOnce,
                                   ahead, Keywords * PicturesPerKeyword);
        addresses.clear();
        for (const auto& request : service.requests())
            if (request.path.startsWith(QLatin1String("/img/")))
                addresses << QStringLiteral("https://") + request.header(QStringLiteral("host")) +
                                 request.path;
        return ms;
    };
    const QStringList connectTo{QStringLiteral("--connect-to"),
                                QStringLiteral("::127.0.0.1:%1").arg(service.port())};
    const auto bareRun = [&] { return bareCurlMs(curl, addresses, connectTo); };

    // N=1 never searches ahead; N=4 and N=8 with the search ahead, then N=8 without.
    const int counts[] = {1, 4, 8, 8};
    constexpr int Columns = 6;
    std::vector<double> times[Columns];
    std::printf("\n%d pictures over %d keywords, %d ms before each picture's first byte, no pauses\n",
                Keywords * PicturesPerKeyword, Keywords, LatencyMs);
    std::printf("round  N=1 ms  N=4 ms  N=8 ms  N=8 no ahead ms  bare curl ms  curl -Z 8 ms\n");
    for (int round = 0; round <= rounds; ++round) {
        double row[Columns];
        for (int c = 0; c < 4; ++c) {
            row[c] = programRun(counts[c], c < 3);
            if (row[c] < 0) {
                std::fprintf(stderr, "a run with %d at once did not keep every picture\n", counts[c]);
                return 1;
            }
        }
        row[4] = bareRun();
        row[5] = curlParallelMs(curl, addresses, connectTo, 8);
        if (row[5] < 0) {
            std::fprintf(stderr, "curl --parallel did not fetch every picture\n");
            return 1;
        }
        std::printf("%5d  %6.0f  %6.0f  %6.0f  %12.0f  %12.0f  %12.0f%s\n", round, row[0], row[1], row[2],
                    row[3], row[4], row[5], round == 0 ? "  (warm-up)" : "");
        std::fflush(stdout);
        if (round > 0)
            for (int c = 0; c < Columns; ++c)
                times[c].push_back(row[c]);
    }
    const double totalLatency = double(Keywords * PicturesPerKeyword) * LatencyMs;
    const double bare = median(times[4]);
    const double transfer = std::max(0.0, bare - totalLatency);
    const double ideal = totalLatency / 8 + transfer;
    std::printf("\nmedians         ms    vs N=1   vs ideal\n");
    const char* names[] = {"N=1", "N=4", "N=8", "N=8 no ahead", "bare curl", "curl -Z 8"};
    for (int c = 0; c < Columns; ++c) {
        const double t = median(times[c]);
        std::printf("%-12s %6.0f  %7.2fx  %8.2fx\n", names[c], t, median(times[0]) / t, t / ideal);
    }
    std::printf("ideal        %6.0f  (total latency %.0f ms / 8 + transfer %.0f ms)\n", ideal, totalLatency,
                transfer);
    const double rounds8 = (PicturesPerKeyword + 7) / 8;
    const double perPicture = transfer / (Keywords * PicturesPerKeyword);
    const double keywordBound = Keywords * rounds8 * (LatencyMs + perPicture);
    std::printf("keyword-bound %6.0f  (%d keywords x %.0f rounds x (%d ms + %.0f ms transfer))\n",
                keywordBound, Keywords, rounds8, LatencyMs, perPicture);
    for (const int c : {2, 3}) {
        const double speedup = median(times[0]) / median(times[c]);
        const double fromIdeal = median(times[c]) / ideal;
        std::printf("%s is %.2fx faster than N=1 (goal 5x: %s), %.2fx the ideal (goal 1.1x: %s), %.2fx the "
                    "keyword-bound\n",
                    names[c], speedup, speedup >= 5 ? "met" : "NOT met", fromIdeal,
                    fromIdeal <= 1.1 ? "met" : "NOT met", median(times[c]) / keywordBound);
    }
    std::printf("N=8 takes %.2fx the time of one curl process fetching 8 at a time (curl -Z 8)\n",
                median(times[2]) / median(times[5]));
    return 0;
}

// Openverse spaces its searches 3 s apart (the designed spacing, GLIMMERFETCH_PACE=1 here); each
// search answer is held back 1 s and each picture 300 ms, 10 pictures a keyword on four hosts, 8 at
// once, no pauses of the run's own. A run of K keywords cannot be shorter than the searches' own
// spacing (K-1) x 3 s plus the first answer and the last keyword's downloads; the latter two are
// measured as a one-keyword run. One round: a 10-keyword run takes about half a minute.
int spacedTable() {
    constexpr int SearchLatencyMs = 1000;
    constexpr int PictureLatencyMs = 300;
    ImageService service({QStringLiteral("--latency"), QString::number(PictureLatencyMs),
                          QStringLiteral("--search-latency"), QString::number(SearchLatencyMs)},
                         latencyCatalog());
    if (!service.isRunning()) {
        std::fprintf(stderr, "the image service did not start: %s\n", qPrintable(service.errorText()));
        return 1;
    }
    service.applyToEnvironment();
    qputenv("GLIMMERFETCH_SERVICE_HOST", "localhost:" + QByteArray::number(service.port()));
    qputenv("GLIMMERFETCH_PACE", "1");
    const double spacing = Sources::requestSpacing(Sources::Source::Openverse) * 1000.0;
    SilentPrompts prompts;
    const auto programRun = [&](int count, bool ahead) {
        KeywordList keywords;
        for (int k = 0; k < count; ++k)
            keywords.add(QStringLiteral("far %1").arg(k));
        return timedRun(keywords, prompts, Sources::Source::Openverse, 8, ahead, count * PicturesPerKeyword);
    };
    std::printf("\nOpenverse, %.0f s between searches, %d ms before each search answer, %d ms before each "
                "picture, 8 at once\n",
                spacing / 1000, SearchLatencyMs, PictureLatencyMs);
    programRun(1, true); // warm-up
    const double one = programRun(1, true);
    std::printf("one keyword (first answer + its downloads): %.0f ms\n", one);
    std::printf("keywords  bound ms  ahead ms  ratio  no ahead ms  ratio\n");
    int status = 0;
    for (const int count : {6, 10}) {
        const double bound = (count - 1) * spacing + one;
        const double ahead = programRun(count, true);
        const double after = programRun(count, false);
        if (one < 0 || ahead < 0 || after < 0) {
            std::fprintf(stderr, "a run of %d keywords did not keep every picture\n", count);
            status = 1;
        }
        std::printf("%8d  %8.0f  %8.0f  %5.2f  %8.0f  %5.2f  (goal 1.15 with the search ahead: %s)\n", count,
                    bound, ahead, ahead / bound, after, after / bound,
                    ahead / bound <= 1.15 ? "met" : "NOT met");
        std::fflush(stdout);
    }
    qputenv("GLIMMERFETCH_PACE", "0");
    return status;
}

} // namespace
