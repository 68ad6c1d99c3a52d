// What the local image service sends back for one request: the search answer, the pictures and the
// faulty downloads.
#pragma once

#include "catalog.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMap>
#include <QPair>
#include <QSet>
#include <QString>

namespace ImageService {

struct Request {
    QByteArray method;
    QByteArray target;                    // as sent: path and query, still percent-encoded
    QByteArray rawPath;                   // target before "?"
    QByteArray rawQuery;                  // target after "?", without it
    QMap<QByteArray, QByteArray> headers; // lower-case names; repeated headers joined with ", "
    QByteArray body;
    quint16 localPort = 0;

    QByteArray header(const char* name) const { return headers.value(QByteArray(name)); }
};

struct Reply {
    enum class Mode {
        Whole,  // headers and body at once
        Slow,   // the body a few bytes at a time
        Cutoff, // a Content-Length larger than the body, then the connection closes
        Huge,   // a long body streamed in pieces
    };
    int status = 200;
    QByteArray contentType;
    QList<QPair<QByteArray, QByteArray>> headers; // extra headers (Location)
    QByteArray body;
    Mode mode = Mode::Whole;
    qint64 declaredLength = -1; // Cutoff: the Content-Length sent
    qint64 totalLength = 0;     // Huge: the whole body's length; body holds its first part
    bool announced = true;      // Huge: the length is sent as Content-Length
    int rate = 16;              // Slow: bytes per second
    int intervalMs = 0;         // Slow: one byte every this many milliseconds instead
    int delayMs = 0;            // the answer is held back this long
};

struct Settings {
    // How often each search keyword and each picture path was asked, for answers that fail the
    // first times ("failFirst", the "flaky" pictures).
    mutable QHash<QString, int> asked;
    QSet<QString> validKeys;
    QSet<QString> quotaKeys;
    Catalog catalog;
    int latencyMs = 0;         // every picture's answer is held back this long (a distant server)
    int searchLatencyMs = 0;   // every search answer, of every source, is held back this long
    QSet<QString> unavailable; // sources ("openverse", "commons", ...) whose searches answer 503
};

// The reply to one request.
Reply replyTo(const Request& request, const Settings& settings);

// The reply for a picture path "/img/<kind>/<w>x<h>/<seed>/<name>"; host is used for redirects.
Reply pictureReply(const QString& path, const QByteArray& rawQuery, const QString& host);

// A drawn picture: PNG or JPEG bytes, the same for the same kind, size and seed.
QByteArray pictureBytes(bool png, int width, int height, quint32 seed);

// The filler bytes at [offset, offset + length) of a huge body after its picture.
QByteArray fillerBytes(qint64 offset, qint64 length);

// The query's items, decoded as UTF-8 ("+" is a space); the first of repeated keys counts.
QMap<QString, QString> queryItems(const QByteArray& rawQuery);

// The number in text when it is 1 or more, else fallback.
int positiveNumber(const QString& text, int fallback);

// The host and port the client used for this service, for the addresses in answers and redirects.
QString hostOf(const Request& request);

// Reason phrase of a status code.
QByteArray reasonPhrase(int status);

} // namespace ImageService
