// The Pictures window on a folder of 10,000 pictures (two JPEG pictures of 800 x 600 for each PNG
// picture of 400 x 300, drawn by the local image service): how long until the window is shown, until
// the first screen of thumbnails is there with an empty thumbnail cache (cold) and with the cache
// that the first window filled (warm), the longest the event loop went without turning while
// thumbnails were made and while the list was scrolled to its end a page every 16 ms, and the
// process's memory. A plain window is shown first, as the main window is in the program.
//
//   bench_gallery [pictures]     (uses QT_QPA_PLATFORM as set; offscreen when unset)

#include "app/picture_tiles.h"
#include "app/pictures_window.h"
#include "fake_free_prompts.h"
#include "image_service.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <functional>
#include <memory>

namespace {

long statusKilobytes(const char* field) {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(static_cast<qsizetype>(qstrlen(field))).trimmed().split(' ').first().toLong();
    return -1;
}

qint64 threadCpuNs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1'000'000'000LL + t.tv_nsec;
}

// The longest time between two turns of the event loop while it runs, and how much of it the
// window's thread spent working (the rest it waited for a processor: on a busy machine other
// programs run meanwhile).
class GapMeter {
public:
    GapMeter() {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setInterval(1);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            const qint64 now = clock_.nsecsElapsed();
            const qint64 cpu = threadCpuNs();
            if (now - last_ > longest_) {
                longest_ = now - last_;
                longestCpu_ = cpu - lastCpu_;
            }
            busiest_ = std::max(busiest_, cpu - lastCpu_);
            last_ = now;
            lastCpu_ = cpu;
        });
    }
    void start() {
        longest_ = longestCpu_ = busiest_ = 0;
        clock_.start();
        last_ = 0;
        lastCpu_ = threadCpuNs();
        timer_.start();
    }
    // "longest gap (its work) / most work between two turns", in milliseconds.
    QString stop() {
        timer_.stop();
        return QStringLiteral("%1 ms (working %2 ms); most work between two turns %3 ms")
            .arg(static_cast<double>(longest_) / 1e6, 0, 'f', 1)
            .arg(static_cast<double>(longestCpu_) / 1e6, 0, 'f', 1)
            .arg(static_cast<double>(busiest_) / 1e6, 0, 'f', 1);
    }

private:
    QTimer timer_;
    QElapsedTimer clock_;
    qint64 last_ = 0, lastCpu_ = 0;
    qint64 longest_ = 0, longestCpu_ = 0, busiest_ = 0;
};

// True when every tile on the screen shows its thumbnail or its placeholder.
bool screenDone(QListView* list) {
    const QRect screen = list->viewport()->rect();
    const QModelIndex first = list->indexAt(QPoint(8, 8));
    if (!first.isValid())
        return list->model()->rowCount() == 0;
    for (int row = first.row(); row < list->model()->rowCount(); ++row) {
        const QModelIndex index = list->model()->index(row, 0);
        if (!list->visualRect(index).intersects(screen))
            break;
        if (index.data(Qt::DecorationRole).isNull() && !index.data(PictureModel::PlaceholderRole).toBool())
            return false;
    }
    return true;
}

// Runs the event loop until `done` says so (looked at every 5 ms) or a minute has passed.
void runUntil(const std::function<bool()>& done) {
    QEventLoop loop;
    QTimer look;
    QObject::connect(&look, &QTimer::timeout, [&] {
        if (done())
            loop.quit();
    });
    look.start(5);
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);
    if (!done())
        loop.exec();
}

// Waits until the screen is done; the milliseconds it took from `clock`'s start, or -1.
double waitForScreen(QListView* list, const QElapsedTimer& clock) {
    runUntil([list] { return screenDone(list); });
    return screenDone(list) ? static_cast<double>(clock.nsecsElapsed()) / 1e6 : -1;
}

struct Opening {
    double shownMs = 0;
    double screenMs = 0;
    QString gaps;
};

Opening openWindow(std::unique_ptr<PicturesWindow>& window, Prompts& prompts, const QString& folder,
                   GapMeter& gaps) {
    Opening result;
    QElapsedTimer clock;
    clock.start();
    window = std::make_unique<PicturesWindow>(prompts);
    window->setAttribute(Qt::WA_DeleteOnClose, false);
    window->showFolder(folder);
    window->show();
    if (!QTest::qWaitForWindowExposed(window.get(), 10000))
        return result;
    result.shownMs = static_cast<double>(clock.nsecsElapsed()) / 1e6;
    gaps.start();
    result.screenMs = waitForScreen(window->findChild<QListView*>(QStringLiteral("ListPictures")), clock);
    result.gaps = gaps.stop();
    return result;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir home;
    qputenv("XDG_CACHE_HOME", QFile::encodeName(home.filePath(QStringLiteral("cache"))));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.filePath(QStringLiteral("config"))));
    QApplication app(argc, argv);
    const int count = argc > 1 ? std::max(1, QByteArray(argv[1]).toInt()) : 10000;

    // The pictures: 24 different ones, each written under many names as a run keeps them.
    std::printf("making %d pictures...\n", count);
    std::fflush(stdout);
    QList<QByteArray> variants;
    for (int i = 0; i < 24; ++i)
        variants << ImageService::pictureBytes(i % 3 == 2
                                                   ? QStringLiteral("/img/png/400x300/%1/p.png").arg(i)
                                                   : QStringLiteral("/img/jpeg/800x600/%1/p.jpg").arg(i));
    for (const QByteArray& v : variants)
        if (v.isEmpty()) {
            std::fprintf(stderr, "the image service drew no picture\n");
            return 1;
        }
    const QString folder = home.filePath(QStringLiteral("pictures")) + QLatin1Char('/');
    QDir().mkpath(folder);
    qint64 bytes = 0;
    for (int i = 0; i < count; ++i) {
        const int v = i % static_cast<int>(variants.size());
        QFile file(
            folder +
            QStringLiteral("keyword %1 %2.%3").arg(i / 50).arg(i % 50 + 1).arg(v % 3 == 2 ? "png" : "jpg"));
        if (!file.open(QIODevice::WriteOnly) || file.write(variants[v]) != variants[v].size())
            return 1;
        bytes += variants[v].size();
    }

    // In the program the main window is up before the Pictures window opens: its fonts and style are
    // loaded. A window with a label and a button stands for it here.
    QWidget mainWindow;
    auto* layout = new QVBoxLayout(&mainWindow);
    layout->addWidget(new QLabel(QStringLiteral("Glimmerfetch")));
    layout->addWidget(new QLineEdit);
    layout->addWidget(new QPushButton(QStringLiteral("Start Downloading")));
    mainWindow.show();
    if (!QTest::qWaitForWindowExposed(&mainWindow, 10000))
        return 1;

    SilentPrompts prompts;
    GapMeter gaps;
    std::unique_ptr<PicturesWindow> window;
    const long before = statusKilobytes("VmRSS:");
    const Opening cold = openWindow(window, prompts, folder, gaps);

    // Scrolling to the end a page at a time, as a person holding Page Down.
    auto* list = window->findChild<QListView*>(QStringLiteral("ListPictures"));
    QScrollBar* bar = list->verticalScrollBar();
    QElapsedTimer clock;
    clock.start();
    gaps.start();
    QTimer pageDown;
    QObject::connect(&pageDown, &QTimer::timeout, [bar] { bar->setValue(bar->value() + bar->pageStep()); });
    pageDown.start(16);
    runUntil([bar] { return bar->value() >= bar->maximum(); });
    pageDown.stop();
    const double scrolledMs = static_cast<double>(clock.nsecsElapsed()) / 1e6;
    const double lastScreenMs = waitForScreen(list, clock);
    const QString scrollGaps = gaps.stop();
    const long afterScroll = statusKilobytes("VmRSS:");
    window.reset();

    const Opening warm = openWindow(window, prompts, folder, gaps);
    window.reset();

    const int cached = static_cast<int>(
        QDir(home.filePath(QStringLiteral("cache/thumbnails/large"))).entryList(QDir::Files).size());
    std::printf("platform: %s; %d pictures, %.0f MB; %d thumbnails made\n",
                qPrintable(QGuiApplication::platformName()), count, static_cast<double>(bytes) / 1e6, cached);
    std::printf("| measure | figure | target |\n|---|---|---|\n");
    std::printf("| window shown (cold) | %.0f ms | < 300 ms |\n", cold.shownMs);
    std::printf("| window shown (warm) | %.0f ms | < 300 ms |\n", warm.shownMs);
    std::printf("| first screen of thumbnails, cold cache | %.0f ms | < 3000 ms |\n", cold.screenMs);
    std::printf("| first screen of thumbnails, warm cache | %.0f ms | < 1000 ms |\n", warm.screenMs);
    std::printf("| longest event-loop gap while thumbnails load, cold cache | %s | < 50 ms |\n",
                qPrintable(cold.gaps));
    std::printf("| longest event-loop gap while thumbnails load, warm cache | %s | < 50 ms |\n",
                qPrintable(warm.gaps));
    std::printf("| scrolling to the end, a page every 16 ms | %.0f ms, last screen after %.0f ms | |\n",
                scrolledMs, lastScreenMs);
    std::printf("| longest event-loop gap while scrolling | %s | < 50 ms |\n", qPrintable(scrollGaps));
    std::printf("| memory after scrolling (RSS; before the window) | %.0f MB (%.0f MB) | < 300 MB |\n",
                static_cast<double>(afterScroll) / 1024, static_cast<double>(before) / 1024);
    std::printf("| peak memory of the process (VmHWM) | %.0f MB | < 300 MB |\n",
                static_cast<double>(statusKilobytes("VmHWM:")) / 1024);
    return 0;
}
