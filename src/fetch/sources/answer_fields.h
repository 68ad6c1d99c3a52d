#pragma once

#include "fetch/sources/source.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <initializer_list>
#include <optional>

// Reading the fields of a source's answer. Every field is hostile until checked: it may be missing,
// of another type, enormous or an address of a kind the program must not fetch. Each reader returns
// an empty or "unknown" value for such a field instead of failing.
namespace AnswerFields {

// The answer with the entries of one list after the first `keep` left out, so that the JSON parser
// builds no more than will be read; `dropped` tells how many were left out. The list is found by
// its path of keys from the top ({"results"}, {"query", "pages"}). The answer is returned whole when
// the list is not there, not a list, or the answer's nesting is not sound (the parser judges it then).
// One pass over the bytes, no recursion.
QByteArray leadingEntries(const QByteArray& answer, std::initializer_list<QByteArrayView> path, int keep,
                          int* dropped);

// A character no text of a service may bring to a screen or a file: C0 and C1 controls, DEL, the
// line and paragraph separators and the bidirectional formatting characters.
bool isControl(char16_t c);

// The answer as a JSON object; false when it is not one (not JSON, nested too deep, an array, ...).
bool parseObject(const QByteArray& answer, QJsonObject* object);

// A text field: strings only; control characters (isControl) become spaces, runs of white space one
// space, and the text is cut to Limits::AnswerTextChars.
QString text(const QJsonValue& value);

// The same for a text that is already a QString.
QString cleanText(const QString& text, int maxChars);

// The text of an HTML fragment (Commons' creator): tags left out, entities decoded, then cleaned as
// text(). Reads the fragment once from start to end.
QString htmlText(const QString& html);

// An address field: an absolute http or https address with a host, at most
// Limits::AnswerAddressChars long, without spaces or control characters; else "". A
// protocol-relative address ("//host/path") is taken as https.
QString address(const QJsonValue& value);

// A whole number from 0 to 2^53, else nothing (strings, fractions, negative or larger numbers).
std::optional<qint64> wholeNumber(const QJsonValue& value);

// A picture side: 1 to Limits::PictureSidePixels, else 0 (unknown).
qint32 side(const QJsonValue& value);

// A count (a total, a page count): a whole number, else -1.
qint64 count(const QJsonValue& value);

// The extension of an address's last path part, without query or fragment, in lower case, when it
// is 1 to 5 letters or digits; else "".
QString extensionOfAddress(const QString& address);

// An extension given by the source ("jpg", "JPEG"): lower case when 1 to 5 letters or digits, else "".
QString extension(const QJsonValue& value);

// A picture MIME type ("image/jpeg") when the value is one, else "".
QString imageType(const QJsonValue& value);

// The usual extension of a picture MIME type ("image/jpeg" -> "jpg"); "" for others.
QString extensionOfType(const QString& mimeType);

// A service's message, cleaned and cut to Limits::ServiceMessageChars.
QString message(const QString& text);

// The message of an error answer that is not JSON: its first line, unless it is an HTML page or
// not text.
QString plainTextMessage(const QByteArray& answer);

// An HTTP status that means the request failed (400 and above; 0 is "unknown" and is not).
bool isFailure(int httpStatus);

// How many entries of an answer's list are read: at most Limits::AnswerResults; the others are
// counted as skipped in `answer`.
qsizetype readableEntries(const QJsonArray& entries, Sources::SourceAnswer* answer);

// An error answer with the service's message.
Sources::SourceAnswer errorAnswer(const QString& message);

} // namespace AnswerFields
