// Prints how the keyword list copes with a million entries: loading a text file, saving it and
// removing the entries that contain a text, each on the real main window (offscreen), with the
// time taken, the peak memory of the process and the longest time the window went without
// handling its events (measured by a 1 ms timer, whose ticks only arrive when events are
// processed). That gap is given twice: as time passed, and as the processor time the program
// spent in it ("cpu"), which leaves out the time other programs on a busy machine took; on an idle
// machine the two agree.
//
//     bench_keywords [entries]     (default 1000000)

#include "app/form1.h"
#include "fake_free_prompts.h"
#include "keywords/event_pump.h"
#include "keywords/keyword_list.h"
#include "keywords/list_commands.h"
#include "keywords/text_list_file.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cstdio>
#include <ctime>
#include <functional>

namespace {

// The peak resident memory of the process so far, in MB (VmHWM from /proc/self/status).
double peakMegabytes(const char* field = "VmHWM:") {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(static_cast<qsizetype>(qstrlen(field))).trimmed().split(' ').first().toDouble() /
                   1024.0;
    return -1;
}

// Measures the longest stretch without event processing while `work` runs.
struct Probe {
    QTimer timer;
    QElapsedTimer clock;
    qint64 last = 0;
    qint64 longest = 0;
    double lastCpu = 0;
    double longestCpu = 0; // in milliseconds
    int ticks = 0;
    double cpu = 0; // processor time of the last run, in seconds

    static double threadCpuMilliseconds() {
        timespec t{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
    }

    void tick() {
        const qint64 now = clock.elapsed();
        const double nowCpu = threadCpuMilliseconds();
        longest = std::max(longest, now - last);
        longestCpu = std::max(longestCpu, nowCpu - lastCpu);
        last = now;
        lastCpu = nowCpu;
    }

    Probe() {
        timer.setInterval(1);
        timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer, &QTimer::timeout, [this] {
            tick();
            ++ticks;
        });
    }

    // Runs `work` and returns its time in seconds.
    double run(const std::function<void()>& work) {
        longest = 0;
        longestCpu = 0;
        ticks = 0;
        timer.start();
        const std::clock_t cpuStart = std::clock();
        clock.start();
        last = 0;
        lastCpu = threadCpuMilliseconds();
        work();
        const double seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
        cpu = static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
        tick();
        timer.stop();
        return seconds;
    }
};

void writeKeywordFile(const QString& path, int entries) {
    static const char* const words[] = {"apple",  "red", "dog",   "city", "mountain", "blue", "sea",
                                        "forest", "car", "night", "old",  "bridge",   "snow"};
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        qFatal("cannot write %s", qPrintable(path));
    QByteArray block;
    for (int i = 0; i < entries; ++i) {
        // Every other entry contains "apple", so removing them leaves half the list in as many
        // separate runs: the hardest case for the removal. The "b<k>x" groups of 5000 neighbours
        // give a removal of long runs.
        block += (i % 2 == 0 ? "apple" : words[1 + i % 12]);
        block += ' ';
        block += words[1 + (i / 2) % 12];
        block += " b" + QByteArray::number(i / 5000) + "x ";
        block += QByteArray::number(i);
        block += "\r\n";
        if (block.size() > (1 << 20)) {
            file.write(block);
            block.clear();
        }
    }
    file.write(block);
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir dir;
    qputenv("XDG_CONFIG_HOME", dir.filePath(QStringLiteral("config")).toLocal8Bit());
    QApplication app(argc, argv);
    const int entries = argc > 1 ? QByteArray(argv[1]).toInt() : 1000000;

    SilentPrompts prompts;
    Form1 form(prompts, Form1::Options{[] { return 1; }, QString()});
    form.show();
    if (!QTest::qWaitForWindowExposed(&form))
        qFatal("the main window did not show");
    QCoreApplication::processEvents();

    const QString input = dir.filePath(QStringLiteral("keywords.txt"));
    const QString output = dir.filePath(QStringLiteral("saved.txt"));
    writeKeywordFile(input, entries);
    const double baseline = peakMegabytes("VmRSS:");
    KeywordList& list = form.keywords();
    Probe probe;

    std::printf("keyword list benchmark, main window offscreen, %d entries in a %.1f MB file\n", entries,
                static_cast<double>(QFileInfo(input).size()) / (1024.0 * 1024.0));
    std::printf("memory before loading (VmRSS): %.1f MB\n", baseline);

    const double load = probe.run([&] {
        List::EventPump pump;
        List::LoadTextList(list, input, prompts, pump);
        QCoreApplication::processEvents();
    });
    std::printf("load:   %7d entries  %.3f s (cpu %.3f s)  longest gap %3lld ms (cpu %3.0f ms)  peak memory "
                "%.1f MB\n",
                list.Count(), load, probe.cpu, probe.longest, probe.longestCpu, peakMegabytes());

    const double save = probe.run([&] {
        List::EventPump pump;
        List::SaveTextList(list, output, pump);
    });
    const bool same = QFileInfo(output).size() == QFileInfo(input).size();
    std::printf("save:   %7d entries  %.3f s (cpu %.3f s)  longest gap %3lld ms (cpu %3.0f ms)  peak memory "
                "%.1f MB  (file %s)\n",
                list.Count(), save, probe.cpu, probe.longest, probe.longestCpu, peakMegabytes(),
                same ? "identical in size" : "DIFFERS IN SIZE");

    // Each figure includes the event processing right after the work, when the list view lays out
    // its rows again.
    auto removal = [&](const char* what, const QString& text) {
        const int before = list.Count();
        const double seconds = probe.run([&] {
            List::RemoveItemsWith(list, text, form, prompts);
            QCoreApplication::processEvents();
        });
        std::printf("remove: %7d entries  %.3f s (cpu %.3f s)  longest gap %3lld ms (cpu %3.0f ms)  peak "
                    "memory %.1f MB  "
                    "(%s: %d removed, %d "
                    "left)\n",
                    before, seconds, probe.cpu, probe.longest, probe.longestCpu, peakMegabytes(), what,
                    before - list.Count(), list.Count());
    };
    removal("containing \"apple\", every other entry", QStringLiteral("apple"));
    removal("containing \"b1\", 111 runs of neighbours", QStringLiteral("b1"));

    const double clear = probe.run([&] { list.clear(); });
    std::printf("clear:  %.3f s\n", clear);
    std::printf(
        "peak memory of the process (VmHWM): %.1f MB, of which the list, its view and the work %.1f MB\n",
        peakMegabytes(), peakMegabytes() - baseline);
    return 0;
}
