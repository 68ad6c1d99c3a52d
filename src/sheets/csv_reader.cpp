// Comma separated values: one sheet, every field shown as written. The separator is the one of
// comma, semicolon and tab that the first line uses most (regional spreadsheet settings write
// semicolons); fields may be quoted with doubled quotes inside.

#include "base/error_report.h"
#include "keywords/event_pump.h"
#include "keywords/input_limits.h"
#include "sheets/workbook_formats.h"

#include <QFile>
#include <QStringDecoder>

#include <functional>

namespace WorkbookFormats {

namespace {

constexpr qint64 BlockSize = 1 << 20;

QChar separatorOf(QStringView text) {
    int comma = 0, semicolon = 0, tab = 0;
    bool quoted = false;
    for (const QChar c : text) {
        if (c == QLatin1Char('"'))
            quoted = !quoted;
        else if (!quoted && (c == QLatin1Char('\n') || c == QLatin1Char('\r')))
            break;
        else if (!quoted && c == QLatin1Char(','))
            ++comma;
        else if (!quoted && c == QLatin1Char(';'))
            ++semicolon;
        else if (!quoted && c == QLatin1Char('\t'))
            ++tab;
    }
    if (semicolon > comma && semicolon >= tab)
        return QLatin1Char(';');
    if (tab > comma && tab > semicolon)
        return QLatin1Char('\t');
    return QLatin1Char(',');
}

// The fields of the file, fed a decoded piece at a time.
class CsvParser {
public:
    explicit CsvParser(Sheet& sheet)
        : sheet_(sheet) {}

    void feed(QStringView text) {
        if (separator_.isNull())
            separator_ = separatorOf(text);
        const qsizetype n = text.size();
        for (qsizetype i = 0; i < n; ++i) {
            const QChar c = text.at(i);
            if (++recordLength_ > InputLimits::MaxLineBytes)
                throw InputLimits::LimitExceeded(QStringLiteral("it has a line longer than %1 MB")
                                                     .arg(InputLimits::MaxLineBytes / (1024 * 1024)));
            if (pendingQuote_) {
                // A quote inside a quoted field, at the end of the previous piece: doubled or closing.
                pendingQuote_ = false;
                if (c == QLatin1Char('"')) {
                    field_ += c;
                    continue;
                }
                quoted_ = false;
            }
            if (skipLineFeed_) {
                skipLineFeed_ = false;
                if (c == QLatin1Char('\n')) {
                    recordLength_ = 0;
                    continue;
                }
            }
            if (quoted_) {
                if (c == QLatin1Char('"'))
                    pendingQuote_ = true;
                else
                    field_ += c;
            } else if (c == QLatin1Char('"') && !fieldStarted_) {
                quoted_ = true;
                fieldStarted_ = true;
            } else if (c == separator_) {
                endField();
                ++column_;
            } else if (c == QLatin1Char('\r') || c == QLatin1Char('\n')) {
                endField();
                if (row_ <= SheetLimits::Rows)
                    sheet_.addRows(row_, 1, {}); // the line is a row of the file, even when empty
                skipLineFeed_ = c == QLatin1Char('\r');
                ++row_;
                column_ = 1;
                recordLength_ = 0;
                if ((row_ & 1023) == 0)
                    pump_.poll();
            } else {
                field_ += c;
                fieldStarted_ = true;
            }
        }
    }

    void finish() { endField(); }

private:
    void endField() {
        // Past the sheet's columns or rows the sheet refuses a field with text.
        if (!field_.isEmpty())
            sheet_.setText(row_, column_, field_);
        field_.clear();
        fieldStarted_ = false;
    }

    Sheet& sheet_;
    List::EventPump pump_; // a file of millions of lines takes seconds: the window stays alive
    QChar separator_;
    QString field_;
    int row_ = 1;
    int column_ = 1;
    qint64 recordLength_ = 0;
    bool quoted_ = false;
    bool pendingQuote_ = false;
    bool fieldStarted_ = false;
    bool skipLineFeed_ = false;
};

// Reads the file a block at a time into the sheet with `decoder`. False when the decoder met bytes
// that are not in its encoding (the sheet is then incomplete).
bool readWith(QFile& file, QStringDecoder decoder, qint64 skip, Sheet& sheet) {
    if (!file.seek(skip))
        throw AppError(QStringLiteral("The file cannot be read: ") + file.errorString());
    CsvParser parser(sheet);
    QByteArray block(BlockSize, Qt::Uninitialized);
    for (;;) {
        const qint64 got = file.read(block.data(), block.size());
        if (got < 0)
            throw AppError(QStringLiteral("The file cannot be read: ") + file.errorString());
        if (got == 0)
            break;
        const QString text = decoder(QByteArrayView(block.constData(), got));
        if (decoder.hasError())
            return false;
        parser.feed(text);
    }
    parser.finish();
    return !decoder.hasError();
}

} // namespace

Workbook readCsv(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw AppError(QStringLiteral("The file cannot be opened: ") + file.errorString());
    const QByteArray head = file.peek(3);

    Workbook book;
    book.sheetNames.push_back(QStringLiteral("Sheet1"));
    book.activeSheet.name = book.sheetNames.front();
    auto fresh = [&] {
        book.activeSheet = Sheet();
        book.activeSheet.name = book.sheetNames.front();
        return std::ref(book.activeSheet);
    };
    if (head.startsWith("\xEF\xBB\xBF"))
        readWith(file, QStringDecoder(QStringDecoder::Utf8), 3, fresh());
    else if (head.startsWith("\xFF\xFE"))
        readWith(file, QStringDecoder(QStringDecoder::Utf16LE), 2, fresh());
    else if (head.startsWith("\xFE\xFF"))
        readWith(file, QStringDecoder(QStringDecoder::Utf16BE), 2, fresh());
    else if (!readWith(file, QStringDecoder(QStringDecoder::Utf8), 0, fresh())) {
        // Not UTF-8: the 8-bit code page that spreadsheet applications on Windows write.
        QStringDecoder windows("windows-1252");
        readWith(file, windows.isValid() ? std::move(windows) : QStringDecoder(QStringDecoder::Latin1), 0,
                 fresh());
    }
    return book;
}

} // namespace WorkbookFormats
