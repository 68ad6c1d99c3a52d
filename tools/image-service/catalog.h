// The image search answers of the local image service: which results a keyword has and how a page of
// them is written, in the field order and escaping of the hosted service.
#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QVector>

namespace ImageService {

// One search result. Everything the picture address needs is in its path, so any number of services
// and restarts serve the same bytes for the same address.
struct Result {
    QString kind = QStringLiteral("jpeg"); // png, jpeg, html, doctype, jsonerror, redirect, ...
    int width = 640;
    int height = 480;
    QString ext = QStringLiteral("jpg"); // the address's extension, without the dot ("" for none)
    QString query;                       // appended to the address as is ("?w=979")
    QString name;                        // file name before the extension ("" = keyword and number)
    QString url;      // replaces the whole address when set; "{host}" and "{port}" are replaced
    quint32 seed = 0; // varies the drawing
    qint64 bytes = 0; // huge: body size (0 = 30 MB)
    int rate = 0;     // slow: bytes per second (0 = 16)
};

// What one keyword answers.
struct Entry {
    // A raw answer replaces the image answer: status and body are sent as they are.
    bool raw = false;
    int status = 200;
    QByteArray body;
    QByteArray contentType = "application/json; charset=utf-8";

    qint64 totalCount = 0;
    QVector<Result> results;
    int delayMs = 0;   // the answer is held back this long
    int failFirst = 0; // the first this many searches get failStatus and failBody
    int failStatus = 503;
    QByteArray failBody = "{\"message\":\"Service Unavailable\"}";
    int retryAfter = -1;         // with failFirst: the Retry-After header's seconds (-1: none)
    int trickleMs = 0;           // the answer is sent one byte every this many milliseconds
    qint64 answerBytes = 0;      // the answer is an image answer padded to this many bytes, streamed
    bool answerAnnounced = true; // with answerBytes: its Content-Length is sent (else the close ends it)
};

class Catalog {
public:
    // Reads a catalogue file (see README.md). Returns false and sets error when it cannot be used.
    bool load(const QByteArray& json, QString* error);

    // The entry for a keyword: the catalogue's own, else its "*" entry, else the special keywords,
    // else the default catalogue of 60 pictures.
    Entry entryFor(const QString& keyword) const;

private:
    QHash<QString, Entry> entries_;
};

// The default catalogue: totalCount 60, sixty pictures (PNG and JPEG, mixed sizes, some addresses with
// query strings), the same for the same keyword.
Entry defaultEntry(const QString& keyword);

// The address path of a result's picture, "/img/<kind>/<w>x<h>/<seed>/<name>.<ext>" without the query.
QString picturePath(const Result& result, const QString& keyword, int index);

// The whole address of a result's picture at the service: "https://HOST" and its path and query, or
// its own `url` with "{host}" (host:port) and "{port}" replaced.
QString pictureAddress(const Result& result, const QString& keyword, int index, const QString& host);

// The compact JSON of one page of results. host is "127.0.0.1:PORT" as the client reached the service.
QByteArray searchAnswer(const Entry& entry, const QString& keyword, int pageNumber, int pageSize,
                        const QString& host);

// A JSON string literal with the service's escaping: slashes as "\/", control characters escaped,
// everything else as UTF-8.
QByteArray jsonString(const QString& text);

// A stable 32-bit hash (FNV-1a over UTF-8), the same on every machine and run.
quint32 stableHash(const QString& text);

} // namespace ImageService
