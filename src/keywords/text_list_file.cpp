#include "keywords/text_list_file.h"

#include "base/error_report.h"
#include "base/file_routines.h"
#include "base/prompts.h"
#include "keywords/event_pump.h"
#include "keywords/input_limits.h"
#include "keywords/keyword_list.h"
#include "keywords/keyword_text.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSaveFile>
#include <QStringDecoder>
#include <QStringEncoder>

#include <algorithm>
#include <vector>

namespace List {

namespace {

constexpr qsizetype BlockSize = 1 << 20;

// How often (in lines) the loops ask whether the window's events are due.
constexpr int CheckEvery = 256;

// A load hands the lines read to the list in steps of StepLines lines. Each step costs in
// proportion to its size (the list's storage and the view's rows touch fresh memory for the new
// entries, and the first touch of fresh memory is what costs most), so a million lines in one step
// held the window up for over 100 ms; a step of StepLines takes a few tens of milliseconds. A slow
// file still shows what it has once every ShowEvery milliseconds.
constexpr size_t StepLines = 1 << 17;
constexpr qint64 ShowEvery = 1000;

QString describe(const QFileDevice& file, const char* fallback) {
    const QString text = file.errorString();
    return text.isEmpty() || text == QLatin1String("Unknown error") ? QString::fromLatin1(fallback) : text;
}

} // namespace

Prompts::FileRequest TextListDialog(const QString& title) {
    Prompts::FileRequest request;
    request.title = title;
    request.filter = QStringLiteral("Text Files (*.txt)|*.txt|All Files (*.*)|*.*|");
    request.multiple = true;
    request.defaultSuffix = QStringLiteral("txt");
    return request;
}

void LoadTextList(KeywordList& list, const QString& path, Prompts& prompts, EventPump& pump) {
    if (!Main::FileExists(path)) {
        prompts.tell(QStringLiteral("File not found"));
        return;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw AppError(describe(file, "Permission denied"));

    QStringDecoder decode(QStringDecoder::System, QStringDecoder::Flag::ConvertInitialBom);
    // The batch keeps its room from step to step, so that its memory is touched only once.
    std::vector<QString> batch;
    batch.reserve(StepLines);
    QElapsedTimer sinceShown;
    sinceShown.start();
    auto flush = [&] {
        list.appendMany(std::move(batch));
        sinceShown.restart();
    };
    // A file that breaks a limit is taken back out of the list (the entry limit excepted: what
    // fits stays).
    const int before = list.Count();
    const auto refuse = [&](const QString& limit) {
        batch.clear();
        if (list.Count() > before) {
            list.removeRun(before + 1, list.Count());
            list.compact();
        }
        throw AppError(InputLimits::limitMessage(path, limit));
    };
    const auto lineTooLong = [&] {
        refuse(
            QStringLiteral("it has a line longer than %1 MB").arg(InputLimits::MaxLineBytes / (1024 * 1024)));
    };
    qint64 characters = 0;
    const qint64 room = qMax(0, InputLimits::MaxListEntries - before);
    qint64 lines = 0;
    // Every line, as it ends: cleaned of control characters and counted against the limits.
    const auto take = [&](QString&& line) {
        if (line.size() > InputLimits::MaxLineBytes)
            lineTooLong();
        characters += line.size();
        if (characters > InputLimits::MaxTextListCharacters)
            refuse(QStringLiteral("its lines hold more than %L1 characters")
                       .arg(InputLimits::MaxTextListCharacters));
        if (++lines > room) {
            flush();
            throw AppError(InputLimits::limitMessage(
                path, QStringLiteral(
                          "the keyword list would pass %L1 entries (the lines before that limit were added)")
                          .arg(InputLimits::MaxListEntries)));
        }
        batch.push_back(KeywordText::withoutControlCharacters(line));
    };

    QString partial;           // the start of a line that goes on in the next block
    bool blockEndedCR = false; // the last character decoded so far was a carriage return
    int sinceCheck = 0;
    bool reserved = false;
    QByteArray block(BlockSize, Qt::Uninitialized);

    for (;;) {
        const qint64 got = file.read(block.data(), block.size());
        if (got < 0) {
            flush();
            throw AppError(describe(file, "Device I/O error"));
        }
        if (got == 0)
            break;
        const QString text = decode(QByteArrayView(block.constData(), got));
        const QChar* chars = text.constData();
        const qsizetype n = text.size();
        qsizetype start = 0;
        for (qsizetype i = 0; i < n; ++i) {
            const char16_t c = chars[i].unicode();
            if (c != u'\r' && c != u'\n')
                continue;
            const bool followsCR = i > 0 ? chars[i - 1] == u'\r' : blockEndedCR;
            if (c == u'\n' && followsCR && i == start && partial.isEmpty()) {
                // The line feed of a CR LF pair: the carriage return already ended the line.
                start = i + 1;
                continue;
            }
            if (partial.isEmpty()) {
                take(text.mid(start, i - start));
            } else {
                partial.append(QStringView(text).mid(start, i - start));
                take(std::move(partial));
                partial.clear();
            }
            start = i + 1;
            if (++sinceCheck == CheckEvery) {
                sinceCheck = 0;
                const bool step = batch.size() >= StepLines;
                if (step || pump.due()) {
                    // The events wait no longer than the reading so far; the step and the view's
                    // layout of it then make a pause of their own.
                    pump.process();
                    if (step || (sinceShown.elapsed() >= ShowEvery && !batch.empty())) {
                        flush();
                        pump.process();
                    }
                }
            }
        }
        if (start < n) {
            if (partial.size() + (n - start) > InputLimits::MaxLineBytes)
                lineTooLong();
            partial += QStringView(text).mid(start);
        }
        if (n > 0)
            blockEndedCR = chars[n - 1] == u'\r';
        // Room for the lines the file holds, judged from its first block with a little to spare,
        // so that the list's storage is not copied whole as it grows.
        if (!reserved) {
            reserved = true;
            const qint64 size = file.size();
            if (size > got && got > 0)
                list.reserve(before + static_cast<int>(std::min<qint64>(
                                          room, static_cast<qint64>(
                                                    lines * (static_cast<double>(size) / got) * 1.05))));
        }
    }
    if (!partial.isEmpty())
        take(std::move(partial));
    flush();
}

void SaveTextList(const KeywordList& list, const QString& path, EventPump& pump) {
    // Written straight from the list. Should another command remove entries while the window's
    // events are processed, the file is written again from the start, so that it always holds the
    // list as it stood at one moment. Entries appended meanwhile are not part of this save.
    for (;;) {
        QSaveFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            throw AppError(describe(file, "Path/File access error"));

        QStringEncoder encode(QStringEncoder::System);
        QByteArray buffer(BlockSize + 1024, Qt::Uninitialized);
        qsizetype used = 0;
        auto writeOut = [&] {
            // A short write has no reason of its own; writing the rest brings the system's.
            for (qsizetype done = 0; done < used;) {
                const qint64 wrote = file.write(buffer.constData() + done, used - done);
                if (wrote <= 0) {
                    // The reason is read first: cancelling replaces it with its own text.
                    const QString reason = describe(file, "Disk full");
                    file.cancelWriting();
                    throw AppError(reason);
                }
                done += wrote;
            }
            used = 0;
        };

        const std::uint64_t revision = list.revision();
        const int n = list.Count();
        bool changed = false;
        int sinceCheck = 0;
        for (int i = 1; i <= n && !changed; ++i) {
            const QString& keyword = list.item(i);
            const qsizetype room = encode.requiredSpace(keyword.size()) + 2;
            if (used + room > buffer.size()) {
                writeOut();
                if (room > buffer.size())
                    buffer.resize(room);
            }
            char* out = encode.appendToBuffer(buffer.data() + used, keyword);
            *out++ = '\r';
            *out++ = '\n';
            used = out - buffer.constData();
            if (++sinceCheck == CheckEvery) {
                sinceCheck = 0;
                pump.poll();
                changed = list.revision() != revision;
            }
        }
        if (changed)
            continue; // the unfinished file is thrown away with `file`
        writeOut();
        if (const QString failed = Main::CommitSaveFile(file); !failed.isEmpty())
            throw AppError(failed);
        return;
    }
}

} // namespace List
