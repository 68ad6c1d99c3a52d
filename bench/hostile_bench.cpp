// Hostile keyword files: each is made here, then loaded in a child process of its own, which
// reports the time the load took and the peak memory of the process (VmHWM); the parent prints
// the table. Every load should stay under 1 GB and 10 s.

#include "base/error_report.h"
#include "base/surface.h"
#include "fake_free_prompts.h"
#include "hostile_files.h"
#include "keywords/event_pump.h"
#include "keywords/keyword_list.h"
#include "keywords/text_list_file.h"
#include "sheets/spreadsheet_list.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <functional>

namespace {

class BlockPrompts : public SilentPrompts {
public:
    CellRange block;
    QStringList told;
    Answer messageBox(const QString& text, const QString& title, Buttons buttons, Icon icon) override {
        told << text;
        return SilentPrompts::messageBox(text, title, buttons, icon);
    }
    std::optional<CellRange> chooseCellBlock(const Sheet&, const QString&) override { return block; }
};

long peakKilobytes() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return -1;
}

// The child: loads one file ("text" as a text list, else a workbook with the block given) and
// prints "seconds peak-kB entries message".
int loadOne(const QString& kind, const QString& path, const QString& block) {
    KeywordList list;
    BlockPrompts prompts;
    const QStringList b = block.split(QLatin1Char(','));
    if (b.size() == 4)
        prompts.block = CellRange{b[0].toInt(), b[1].toInt(), b[2].toInt(), b[3].toInt()};
    QElapsedTimer timer;
    timer.start();
    if (kind == QLatin1String("text")) {
        ErrorTrap trap(prompts, QStringLiteral("Form1.PushButton3_Click"));
        List::EventPump pump;
        trap(106, [&] { List::LoadTextList(list, path, prompts, pump); });
    } else {
        SurfaceState surface;
        List::ExcelToListview(list, path, prompts, surface);
    }
    const double seconds = timer.nsecsElapsed() / 1e9;
    QString message =
        prompts.told.isEmpty() ? QStringLiteral("-") : prompts.told.first().section(QLatin1Char('\n'), 0, 0);
    message.replace(QDir::toNativeSeparators(QFileInfo(path).absolutePath()) + QLatin1Char('/'), QString());
    message.remove(QLatin1Char('\r'));
    std::printf("%.3f %ld %d %s\n", seconds, peakKilobytes(), list.Count(), qPrintable(message));
    return 0;
}

struct Case {
    const char* name;
    QString kind;
    QString path;
    QString block;
};

bool writeBigText(const QString& path, qint64 bytes, const QByteArray& line) {
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    const QByteArray chunk = line.repeated(static_cast<int>((1 << 22) / line.size()));
    for (qint64 written = 0; written < bytes; written += chunk.size())
        if (out.write(chunk) != chunk.size())
            return false;
    return true;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 5 && args[1] == QLatin1String("--load"))
        return loadOne(args[2], args[3], args[4]);

    QTemporaryDir dir;
    auto file = [&](const char* name) { return dir.filePath(QString::fromLatin1(name)); };
    const QString whole = QStringLiteral("1,1,%1,%2").arg(SheetLimits::Rows).arg(SheetLimits::Columns);
    const QString columnsAB = QStringLiteral("1,1,%1,2").arg(SheetLimits::Rows);

    std::printf("Making the hostile files ...\n");
    std::fflush(stdout);
    std::vector<Case> cases;
    // `bench_hostile TEXT` makes and loads only the files whose row names hold TEXT.
    const QString only = args.size() == 2 ? args[1] : QString();
    const auto add = [&](const char* name, const char* kind, const char* fileName, const QString& block,
                         const std::function<bool(const QString&)>& make) {
        if (!QString::fromLatin1(name).contains(only, Qt::CaseInsensitive))
            return;
        const QString path = file(fileName);
        if (QFileInfo::exists(path) || make(path))
            cases.push_back({name, QString::fromLatin1(kind), path, block});
    };
    add("xlsx, cell text 60,000 elements deep", "book", "deep.xlsx", whole,
        [](const QString& path) { return Hostile::writeDeepXlsx(path, 60000); });
    add("ods, 200,000 nested spans", "book", "deep.ods", whole,
        [](const QString& path) { return Hostile::writeDeepOds(path, 200000); });
    add("xlsx, sheet inflating to 3 GiB", "book", "bomb.xlsx", whole, [](const QString& path) {
        // A sheet that really inflates to 3 GiB.
        const QByteArray rows =
            QByteArray("<row><c t=\"inlineStr\"><is><t>bomb</t></is></c></row>").repeated(20000);
        const qint64 times = (3ll << 30) / rows.size();
        return Hostile::writeInflatingXlsx(path, rows, times, quint64(times) * rows.size());
    });
    // The most one-character cells a sheet part within the size limit holds.
    add("xlsx, 34.6 million one-character cells", "book", "cells.xlsx", whole,
        [](const QString& path) { return Hostile::writeManyCellsXlsx(path, 34600, 1000); });
    add("xlsx, 20,000 rows with a cell in XFD", "book", "xfd.xlsx", whole,
        [](const QString& path) { return Hostile::writeFarColumnXlsx(path, 20000); });
    add("xlsx, 1,048,576 rows written backwards", "book", "backwards.xlsx", whole,
        [](const QString& path) { return Hostile::writeBackwardsXlsx(path, SheetLimits::Rows); });
    add("ods, 1,048,576 x 16,384 repeated, whole sheet", "book", "repeat.ods", whole,
        [](const QString& path) { return Hostile::writeRepeatedOds(path); });
    add("ods, 1,048,576 x 16,384 repeated, columns A:B", "book", "repeat.ods", columnsAB,
        [](const QString& path) { return Hostile::writeRepeatedOds(path); });
    add("xlsx, A1 and XFD1048576, whole sheet", "book", "last.xlsx", whole,
        [](const QString& path) { return Hostile::writeLastCellXlsx(path); });
    add("csv, 2 GB of short lines", "book", "big.csv", QStringLiteral("1,1,1048576,1"),
        [](const QString& path) { return writeBigText(path, 2ll << 30, "keyword,x\r\n"); });
    add("text list, 2 GB of short lines", "text", "big.txt", QString(), [&](const QString& path) {
        return QFileInfo::exists(file("big.csv")) ? QFile::link(file("big.csv"), path)
                                                  : writeBigText(path, 2ll << 30, "keyword,x\r\n");
    });
    add("text list, 2 GB of NUL bytes, no line end", "text", "nul.txt", QString(), [](const QString& path) {
        QFile nul(path);
        return nul.open(QIODevice::WriteOnly) && nul.resize(2ll << 30);
    });

    std::printf("\n| %-46s | %10s | %8s | %8s | %9s | %s\n", "hostile file", "size", "time s", "peak MB",
                "entries", "message");
    std::printf("|%s|%s|%s|%s|%s|---\n", QByteArray(48, '-').constData(), QByteArray(12, '-').constData(),
                QByteArray(10, '-').constData(), QByteArray(10, '-').constData(),
                QByteArray(11, '-').constData());
    for (const Case& c : cases) {
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--load"), c.kind, c.path, c.block});
        child.waitForFinished(-1);
        const QString out = QString::fromLocal8Bit(child.readAllStandardOutput()).trimmed();
        const QStringList parts = out.split(QLatin1Char(' '));
        const qint64 size = QFileInfo(c.path).size();
        const QString sizeText = size >= (1 << 20) ? QStringLiteral("%1 MB").arg(size / (1 << 20))
                                                   : QStringLiteral("%1 B").arg(size);
        if (parts.size() < 4) {
            std::printf("| %-46s | %10s | child failed (exit %d): %s\n", c.name, qPrintable(sizeText),
                        child.exitCode(), qPrintable(out));
            continue;
        }
        std::printf("| %-46s | %10s | %8s | %8.0f | %9s | %s\n", c.name, qPrintable(sizeText),
                    qPrintable(parts[0]), parts[1].toDouble() / 1024.0, qPrintable(parts[2]),
                    qPrintable(parts.mid(3).join(QLatin1Char(' '))));
        std::fflush(stdout);
    }
    return 0;
}
