#pragma once

#include "fetch/image_result.h"

#include <QByteArray>
#include <QString>

#include <array>

class Prompts;

// Reading the search service's answer without a JSON parser: fixed markers are searched
// (case-insensitively unless said otherwise) and the text between them is cut out. Positions here
// are 0-based indexes; "not found" is -1 and a scan that is over says so itself, so a marker at
// the very start of the text is found like any other.
namespace CurlFunctions {

// The answer file as text: "" when it does not exist, "empty file" when it has no bytes, else its
// bytes decoded as UTF-8 (so a picture address with non-ASCII characters reaches curl as the
// bytes the service sent). Throws AppError when the file cannot be read.
QString ReadResponse(const QString& path);
// The same before the decoding: the file's bytes, none when it does not exist, "empty file".
QByteArray ReadResponseBytes(const QString& path);

// The value after the first occurrence of `key` anywhere in the text (a bare substring, any case),
// up to the first "," after it, else the first double quote followed by a space, else the first
// "}"; double quotes and ":" removed, "," widened to ", ", surrounding spaces trimmed. "" for an
// empty text or a missing key. When no end marker follows the key the value cannot be cut: with
// `prompts` the error box of "CurlFunctions.GetJSValue" is shown; the value is "".
QString GetJSValue(const QString& text, const QString& key, Prompts* prompts = nullptr);

// The text holds "\"_type\":\"images\"".
bool IsImageAnswer(const QString& text);

// The text holds "\"message\":".
bool HasServiceMessage(const QString& text);

// GetJSValue(text, "message") when the text holds "\"message\":", else "", cleaned as every text of a
// service is before it is shown (AnswerFields::message: no control characters, at most 500 characters).
QString ServiceMessage(const QString& text, Prompts* prompts = nullptr);

// The text holds "\"totalCount".
bool HasTotal(const QString& text);

// The service's total for the keyword: GetJSValue(text, "totalCount") when that is numeric, rounded
// (halves to even) and held in 32 bits (clamped at the ends); else 0.
qint32 ReadTotal(const QString& text, Prompts* prompts = nullptr);

// The scan of one answer's results. Each step costs time in proportion to the text it passes, so
// a whole scan is linear in the answer's length, whatever the answer holds.
class ResultScanner {
public:
    enum class Step {
        Found,   // `result` holds the next result
        Skipped, // a "\"url\":" without its end, with an empty extension or with control characters
                 // (AnswerFields::isControl): nothing to download
        Over,    // no further "\"url\":": the scan is over
    };

    // Starts 9 characters after "\"totalCount" (the length of "\"value\":["); over at once when
    // the answer has no "\"totalCount".
    explicit ResultScanner(QString text);

    // One step. On Found, address, stem, extension and download address are replaced; width and
    // height are replaced where found and otherwise keep what `result` held. On Skipped and Over
    // `result` keeps its address fields (the run does not use them then).
    Step next(ImageResult& result);

    bool over() const { return position_ < 0; }

    // The 0-based index the next step searches from; -1 once the scan is over.
    qsizetype position() const { return position_; }

    const QString& text() const { return text_; }

private:
    enum Marker { Url, AddressEnd, Width, Height, WidthEnd, HeightEnd, MarkerCount };

    // Index of the marker at or after `from`, -1 when none. Remembers the last answer per marker,
    // so searches that move forward never pass the same text twice.
    qsizetype find(Marker marker, qsizetype from);
    bool readSize(Marker marker, Marker end, qsizetype from, qint32& size, QString& error);

    QString text_;
    qsizetype position_ = -1;
    struct Memo {
        qsizetype from = -1;
        qsizetype found = -1;
    };
    std::array<Memo, MarkerCount> memo_{};
};

} // namespace CurlFunctions
