#include "replies.h"

#include "sources.h"

#include <QBuffer>
#include <QCache>
#include <QImage>
#include <QImageWriter>
#include <QPainter>
#include <QRegularExpression>
#include <QUrl>

namespace ImageService {

namespace {

const QByteArray Json = "application/json; charset=utf-8";
const QByteArray Html = "text/html; charset=utf-8";

// The gateway's own texts for key problems.
const QByteArray MissingKey =
    "{\"message\":\"Invalid API key. Go to https:\\/\\/docs.rapidapi.com\\/docs\\/keys for more info.\"}";
const QByteArray UnknownKey = "{\"message\":\"You are not subscribed to this API.\"}";
const QByteArray QuotaSpent = "{\"message\":\"You have exceeded the MONTHLY quota for Requests on your "
                              "current plan, BASIC. Upgrade your "
                              "plan at https:\\/\\/rapidapi.com\\/contextualwebsearch\\/api\\/web-search\"}";

// Larger pictures than this are refused rather than drawn.
constexpr int MaxSide = 5000;
constexpr qint64 MaxPixels = 16'000'000;
constexpr qint64 DefaultHugeBytes = 30 * 1024 * 1024;

Reply simple(int status, const QByteArray& contentType, const QByteArray& body) {
    Reply r;
    r.status = status;
    r.contentType = contentType;
    r.body = body;
    return r;
}

Reply notFoundPage() {
    return simple(
        404, Html,
        "<html>\n<head><title>404 Not Found</title></head>\n<body>\n<h1>Not Found</h1>\n<p>The resource you "
        "are looking for has been removed or never existed.</p>\n</body>\n</html>\n");
}

QString decoded(QByteArray part) {
    part.replace('+', ' ');
    return QString::fromUtf8(QByteArray::fromPercentEncoding(part));
}

} // namespace

QMap<QString, QString> queryItems(const QByteArray& rawQuery) {
    QMap<QString, QString> items;
    for (const QByteArray& item : rawQuery.split('&')) {
        if (item.isEmpty())
            continue;
        const int eq = item.indexOf('=');
        const QString key = decoded(eq < 0 ? item : item.left(eq));
        if (!items.contains(key)) // the first of repeated keys counts
            items.insert(key, eq < 0 ? QString() : decoded(item.mid(eq + 1)));
    }
    return items;
}

int positiveNumber(const QString& text, int fallback) {
    bool ok = false;
    const int n = text.toInt(&ok);
    return ok && n >= 1 ? n : fallback;
}

// The address the client used for this service, for the addresses in answers and redirects.
QString hostOf(const Request& request) {
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9.\\-]+(:[0-9]{1,5})?$"));
    const QString host = QString::fromLatin1(request.header("host"));
    if (plain.match(host).hasMatch())
        return host;
    return QStringLiteral("127.0.0.1:%1").arg(request.localPort);
}

namespace {

Reply search(const Request& request, const Settings& settings) {
    const QString key = QString::fromUtf8(request.header("x-rapidapi-key"));
    if (key.isEmpty())
        return simple(401, Json, MissingKey);
    if (settings.quotaKeys.contains(key))
        return simple(429, Json, QuotaSpent);
    if (!settings.validKeys.contains(key))
        return simple(403, Json, UnknownKey);
    // The gateway routes by this header: it must name the host the request went to.
    const QByteArray routedTo = request.header("x-rapidapi-host");
    if (routedTo.isEmpty() || routedTo.compare(request.header("host"), Qt::CaseInsensitive) != 0)
        return simple(400, Json, "{\"message\":\"Missing or wrong x-rapidapi-host header.\"}");
    if (request.method != "GET")
        return simple(405, Json, "{\"message\":\"Only GET is allowed on this endpoint.\"}");

    const QMap<QString, QString> items = queryItems(request.rawQuery);
    const QString keyword = items.value(QStringLiteral("q"));
    const int pageNumber = positiveNumber(items.value(QStringLiteral("pageNumber")), 1);
    const int pageSize = qMin(50, positiveNumber(items.value(QStringLiteral("pageSize")), 10));

    const Entry entry = settings.catalog.entryFor(keyword);
    if (entry.failFirst > 0 && settings.asked[QStringLiteral("search:") + keyword]++ < entry.failFirst) {
        Reply busy = simple(entry.failStatus, Json, entry.failBody);
        if (entry.retryAfter >= 0)
            busy.headers.append({"Retry-After", QByteArray::number(entry.retryAfter)});
        return busy;
    }
    Reply r;
    if (entry.raw)
        r = simple(entry.status, entry.contentType, entry.body);
    else
        r = simple(200, Json, searchAnswer(entry, keyword, pageNumber, pageSize, hostOf(request)));
    r.delayMs = entry.delayMs;
    if (entry.trickleMs > 0) {
        r.mode = Reply::Mode::Slow;
        r.intervalMs = entry.trickleMs;
    } else if (entry.answerBytes > r.body.size()) {
        // The answer's opening, then filler: an answer far larger than any real one.
        r.body = "{\"_type\":\"images\",\"totalCount\":1,\"value\":[{\"url\":\"";
        r.mode = Reply::Mode::Huge;
        r.totalLength = entry.answerBytes;
        r.announced = entry.answerAnnounced;
    }
    return r;
}

// A few shapes in colours taken from the seed, so that pictures differ and compress like pictures.
QImage drawPicture(int width, int height, quint32 seed) {
    QImage image(width, height, QImage::Format_RGB32);
    quint32 state = seed | 1u;
    auto next = [&state] {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    };
    auto colour = [&next] {
        return QColor::fromHsv(int(next() % 360), 90 + int(next() % 160), 120 + int(next() % 130));
    };
    image.fill(colour());
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing, false);
    QLinearGradient sky(0, 0, 0, height);
    sky.setColorAt(0, colour());
    sky.setColorAt(1, colour());
    painter.fillRect(0, 0, width, height / 2 + 1, sky);
    painter.setPen(Qt::NoPen);
    for (int i = 0; i < 6; ++i) {
        painter.setBrush(colour());
        const int w = 1 + int(next() % quint32(qMax(1, width / 2)));
        const int h = 1 + int(next() % quint32(qMax(1, height / 2)));
        const int x = int(next() % quint32(qMax(1, width)));
        const int y = int(next() % quint32(qMax(1, height)));
        if (i % 2)
            painter.drawEllipse(x - w / 2, y - h / 2, w, h);
        else
            painter.drawRect(x - w / 2, y - h / 2, w, h);
    }
    painter.end();
    return image;
}

struct PicturePath {
    QString kind;
    qint64 parameter = 0;
    int width = 0;
    int height = 0;
    quint32 seed = 0;
    QString rest; // name and extension
};

bool parsePicturePath(const QString& path, PicturePath* p) {
    static const QRegularExpression shape(QStringLiteral(
        "^/img/([a-z]+)(?:-([0-9]{1,12}))?/([0-9]{1,5})x([0-9]{1,5})/([0-9a-fA-F]{1,8})/(.*)$"));
    const QRegularExpressionMatch m = shape.match(path);
    if (!m.hasMatch())
        return false;
    p->kind = m.captured(1);
    p->parameter = m.captured(2).toLongLong();
    p->width = m.captured(3).toInt();
    p->height = m.captured(4).toInt();
    p->seed = m.captured(5).toUInt(nullptr, 16);
    p->rest = m.captured(6);
    return p->width >= 1 && p->height >= 1 && p->width <= MaxSide && p->height <= MaxSide &&
           qint64(p->width) * p->height <= MaxPixels;
}

QString sizePath(const QString& kind, const PicturePath& p) {
    return QStringLiteral("/img/%1/%2x%3/%4/")
        .arg(kind)
        .arg(p.width)
        .arg(p.height)
        .arg(p.seed, 8, 16, QLatin1Char('0'));
}

// A picture whose first bytes hold "error" before any line break: a JPEG that opens with a comment.
QByteArray jpegWithErrorComment(const PicturePath& p) {
    const QByteArray picture = pictureBytes(false, p.width, p.height, p.seed);
    const QByteArray comment = "error: none, cannot complete nothing";
    const int length = comment.size() + 2;
    return QByteArray("\xFF\xD8\xFF\xFE", 4) + char(length >> 8) + char(length & 0xFF) + comment +
           picture.mid(2);
}

// Bodies that are no picture although some servers send them with status 200 or as a picture, and
// pictures that naive checks take for error pages. Status 0 when the kind is none of these.
Reply hostileReply(const QString& k, const PicturePath& p, const QString& host) {
    if (k == QLatin1String("empty"))
        return simple(200, "image/jpeg", QByteArray());
    if (k == QLatin1String("forbidden"))
        return simple(403, "text/plain", "Forbidden");
    if (k == QLatin1String("denied"))
        return simple(403, Json, "{\"message\":\"Access denied\"}");
    if (k == QLatin1String("okdenied"))
        return simple(200, Json, "{\"message\":\"Access denied\"}");
    if (k == QLatin1String("lfhtml"))
        return simple(200, Html, "\n<html><body><p>Pictures</p></body></html>\n");
    if (k == QLatin1String("text"))
        return simple(200, "image/jpeg", "Just some text, nothing to see.\n");
    if (k == QLatin1String("svg"))
        return simple(
            200, "image/svg+xml",
            QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg xmlns=\"http://www.w3.org/2000/"
                           "svg\" width=\"%1\" height=\"%2\"><rect width=\"%1\" height=\"%2\" "
                           "fill=\"#%3\"/></svg>\n")
                .arg(p.width)
                .arg(p.height)
                .arg(p.seed % 0xFFFFFF, 6, 16, QLatin1Char('0'))
                .toUtf8());
    if (k == QLatin1String("svgscript"))
        return simple(200, "image/svg+xml",
                      "<?xml version=\"1.0\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"10\" "
                      "height=\"10\"><script>fetch('/steal?'+document.cookie)</script></svg>\n");
    if (k == QLatin1String("flaky")) // the server's second answer (replyTo gives the first)
        return simple(200, "image/png", pictureBytes(true, p.width, p.height, p.seed));
    if (k == QLatin1String("jpegerror"))
        return simple(200, "image/jpeg", jpegWithErrorComment(p));
    if (k == QLatin1String("pngstatus"))
        return simple(int(qBound(qint64(200), p.parameter, qint64(599))), "image/png",
                      pictureBytes(true, p.width, p.height, p.seed));
    // Redirects to services on the client's own machine: the same picture through the name
    // "localhost", and a local administration page on another port.
    if (k == QLatin1String("redirectlocal") || k == QLatin1String("redirectadmin")) {
        Reply r = simple(302, Html, "<html><body>Moved</body></html>\n");
        const QString port = host.section(QLatin1Char(':'), -1);
        r.headers.append({"Location", k == QLatin1String("redirectlocal")
                                          ? (QStringLiteral("https://localhost:") + port +
                                             sizePath(QStringLiteral("png"), p))
                                                    .toUtf8() +
                                                QUrl::toPercentEncoding(p.rest, "/")
                                          : QByteArray("http://127.0.0.1:") +
                                                QByteArray::number(p.parameter) + "/local-admin?delete=all"});
        return r;
    }
    Reply none;
    none.status = 0;
    return none;
}

} // namespace

QByteArray reasonPhrase(int status) {
    switch (status) {
    case 100:
        return "Continue";
    case 200:
        return "OK";
    case 302:
        return "Found";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 413:
        return "Payload Too Large";
    case 429:
        return "Too Many Requests";
    case 431:
        return "Request Header Fields Too Large";
    case 500:
        return "Internal Server Error";
    case 503:
        return "Service Unavailable";
    default:
        return "Status";
    }
}

QByteArray pictureBytes(bool png, int width, int height, quint32 seed) {
    static QCache<QString, QByteArray> cache(64 * 1024 * 1024);
    const QString key = QStringLiteral("%1/%2/%3/%4").arg(png).arg(width).arg(height).arg(seed);
    if (const QByteArray* cached = cache.object(key))
        return *cached;
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, png ? "png" : "jpeg");
    // PNG: three bytes a pixel and a lighter compression write the same picture about three times faster.
    writer.setQuality(png ? 50 : 90);
    const QImage picture = drawPicture(width, height, seed);
    writer.write(png ? picture.convertToFormat(QImage::Format_RGB888) : picture);
    buffer.close();
    cache.insert(key, new QByteArray(bytes), qMax<qsizetype>(1, bytes.size()));
    return bytes;
}

QByteArray fillerBytes(qint64 offset, qint64 length) {
    QByteArray out(length, Qt::Uninitialized);
    for (qint64 i = 0; i < length; ++i)
        out[i] = char('a' + (offset + i) % 26);
    return out;
}

Reply pictureReply(const QString& path, const QByteArray& rawQuery, const QString& host) {
    PicturePath p;
    if (!parsePicturePath(path, &p))
        return notFoundPage();
    const QString origin = QStringLiteral("https://") + host;
    const QString& k = p.kind;
    if (k == QLatin1String("png") || k == QLatin1String("jpeg")) {
        const bool png = k == QLatin1String("png");
        return simple(200, png ? "image/png" : "image/jpeg", pictureBytes(png, p.width, p.height, p.seed));
    }
    if (k == QLatin1String("html"))
        return simple(
            200, Html,
            "<html>\n<head><title>Pictures</title></head>\n<body>\n<p>The page cannot be displayed.</p>\n"
            "</body>\n</html>\n");
    if (k == QLatin1String("doctype"))
        return simple(200, Html,
                      "<!DOCTYPE html>\n<html lang=\"en\">\n<head><meta "
                      "charset=\"utf-8\"><title>Gallery</title></head>\n"
                      "<body><img src=\"/img/png/64x64/1/a.png\" alt=\"\"></body>\n</html>\n");
    if (k == QLatin1String("jsonerror"))
        return simple(403, Json, "{\"error\":{\"code\":403,\"message\":\"Hotlinking is not allowed.\"}}");
    if (k == QLatin1String("notfound"))
        return notFoundPage();
    if (const Reply hostile = hostileReply(k, p, host); hostile.status != 0)
        return hostile;
    if (k == QLatin1String("redirect")) {
        Reply r = simple(302, Html, "<html><body>Moved</body></html>\n");
        r.headers.append({"Location", (origin + sizePath(QStringLiteral("png"), p)).toUtf8() +
                                          QUrl::toPercentEncoding(p.rest, "/")});
        return r;
    }
    if (k == QLatin1String("redirectloop")) {
        const QString hop = QStringLiteral("?hop=%1").arg(
            positiveNumber(queryItems(rawQuery).value(QStringLiteral("hop")), 0) + 1);
        Reply r = simple(302, Html, "<html><body>Moved</body></html>\n");
        r.headers.append({"Location", (origin + sizePath(k, p)).toUtf8() +
                                          QUrl::toPercentEncoding(p.rest, "/") + hop.toUtf8()});
        return r;
    }
    if (k == QLatin1String("slow")) {
        Reply r = simple(200, "image/png", pictureBytes(true, p.width, p.height, p.seed));
        r.mode = Reply::Mode::Slow;
        r.rate = p.parameter > 0 ? int(qMin<qint64>(p.parameter, 1 << 20)) : 16;
        return r;
    }
    if (k == QLatin1String("cutoff")) {
        const QByteArray whole = pictureBytes(true, p.width, p.height, p.seed);
        Reply r = simple(200, "image/png", whole.left(whole.size() / 2));
        r.mode = Reply::Mode::Cutoff;
        r.declaredLength = whole.size();
        return r;
    }
    if (k == QLatin1String("huge")) {
        Reply r = simple(200, "image/png", pictureBytes(true, p.width, p.height, p.seed));
        r.mode = Reply::Mode::Huge;
        r.totalLength = qMax<qint64>(p.parameter > 0 ? p.parameter : DefaultHugeBytes, r.body.size());
        return r;
    }
    return notFoundPage();
}

Reply replyTo(const Request& request, const Settings& settings) {
    const QString path = QString::fromUtf8(QByteArray::fromPercentEncoding(request.rawPath));
    if (path.compare(QLatin1String("/api/Search/ImageSearchAPI"), Qt::CaseInsensitive) == 0) {
        Reply reply = search(request, settings);
        reply.delayMs += settings.searchLatencyMs;
        return reply;
    }
    if (Reply reply; sourceReply(path, request, settings, &reply)) {
        reply.delayMs += settings.searchLatencyMs;
        return reply;
    }
    if (path.startsWith(QLatin1String("/img/"))) {
        // Content delivery networks refuse a picture request that carries a body (a GET with a
        // form, say); so does the service. The request log shows what came.
        if (!request.body.isEmpty() || !request.header("content-type").isEmpty() ||
            request.header("content-length").toLongLong() > 0)
            return simple(400, Html,
                          "<html><body>400 Bad Request: a picture request carries no body</body></html>\n");
        // A flaky server: the first request for each such picture gets a 503.
        if (path.startsWith(QLatin1String("/img/flaky/")) && settings.asked[path]++ == 0)
            return simple(503, Html, "<html><body>Service Unavailable</body></html>\n");
        Reply reply = pictureReply(path, request.rawQuery, hostOf(request));
        reply.delayMs += settings.latencyMs;
        return reply;
    }
    if (path.startsWith(QLatin1String("/page/")))
        return simple(
            200, Html,
            "<!DOCTYPE html>\n<html><head><title>A page with pictures</title></head><body></body></html>\n");
    return notFoundPage();
}

} // namespace ImageService
