#include "keywords/text_list_file.h"

#include "keywords/event_pump.h"
#include "keywords/keyword_list.h"
#include "shell/error_report.h"
#include "shell/file_routines.h"
#include "shell/prompts.h"

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
    std::vector<QString> batch;
    auto flush = [&] {
        list.appendMany(std::move(batch));
        batch = {};
    };
    QString partial;           // the start of a line that goes on in the next block
    bool blockEndedCR = false; // the last character decoded so far was a carriage return
    int sinceCheck = 0;
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
                batch.push_back(text.mid(start, i - start));
            } else {
                partial.append(QStringView(text).mid(start, i - start));
                batch.push_back(std::move(partial));
                partial.clear();
            }
            start = i + 1;
            if (++sinceCheck == CheckEvery) {
                sinceCheck = 0;
                if (pump.due()) {
                    flush();
                    pump.process();
                }
            }
        }
        if (start < n)
            partial += QStringView(text).mid(start);
        if (n > 0)
            blockEndedCR = chars[n - 1] == u'\r';
    }
    if (!partial.isEmpty())
        batch.push_back(partial);
    flush();
}

void SaveTextList(const KeywordList& list, const QString& path, EventPump& pump) {
    // What is written is the list as it stands now, even if another command changes it while the
    // window's events are processed.
    const std::vector<QString> entries = list.items();

    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw AppError(describe(file, "Path/File access error"));

    QStringEncoder encode(QStringEncoder::System);
    QByteArray buffer(BlockSize + 1024, Qt::Uninitialized);
    qsizetype used = 0;
    auto writeOut = [&] {
        if (used > 0 && file.write(buffer.constData(), used) != used) {
            file.cancelWriting();
            throw AppError(describe(file, "Disk full"));
        }
        used = 0;
    };

    int sinceCheck = 0;
    for (const QString& keyword : entries) {
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
        }
    }
    writeOut();
    if (!file.commit())
        throw AppError(describe(file, "Disk full"));
}

} // namespace List
