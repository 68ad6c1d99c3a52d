#include "catalog.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>

namespace ImageService {

namespace {

const char* const Kinds[] = {
    "png",    "jpeg", "html",      "doctype",   "jsonerror",     "redirect",  "redirectloop",  "slow",
    "cutoff", "huge", "notfound",  "empty",     "forbidden",     "denied",    "okdenied",      "lfhtml",
    "text",   "svg",  "svgscript", "jpegerror", "redirectlocal", "pngstatus", "redirectadmin", "flaky"};

// A kind, or a kind with its number ("pngstatus-404").
bool knownKind(const QString& kindAndNumber) {
    const QString kind = kindAndNumber.section(QLatin1Char('-'), 0, 0);
    for (const char* k : Kinds)
        if (kind == QLatin1String(k))
            return true;
    return false;
}

struct Size {
    int width;
    int height;
};

// Sizes of the default catalogue: some sides above 500 pixels, some below.
const Size DefaultSizes[] = {{640, 480},  {320, 240}, {1024, 768}, {480, 640}, {800, 600}, {200, 150},
                             {1200, 800}, {400, 300}, {960, 540},  {300, 450}, {512, 512}, {150, 200}};

QString slug(const QString& keyword) {
    QString out;
    for (QChar c : keyword) {
        const ushort u = c.unicode();
        if ((u >= 'a' && u <= 'z') || (u >= '0' && u <= '9'))
            out += c;
        else if (u >= 'A' && u <= 'Z')
            out += QChar(u - 'A' + 'a');
        else if (!out.isEmpty() && !out.endsWith(QLatin1Char('-')))
            out += QLatin1Char('-');
    }
    while (out.endsWith(QLatin1Char('-')))
        out.chop(1);
    return out.isEmpty() ? QStringLiteral("picture") : out;
}

QString extFor(const QString& kind, int index) {
    if (kind == QLatin1String("png"))
        return QStringLiteral("png");
    if (kind == QLatin1String("jpeg"))
        return index % 7 == 6 ? QStringLiteral("jpeg") : QStringLiteral("jpg");
    if (kind == QLatin1String("html") || kind == QLatin1String("doctype") ||
        kind == QLatin1String("notfound"))
        return QStringLiteral("jpg");
    if (kind == QLatin1String("jsonerror"))
        return QStringLiteral("png");
    return QStringLiteral("png");
}

Entry generated(const QString& keyword, const QVector<QString>& kinds, qint64 total) {
    Entry e;
    e.totalCount = total;
    const quint32 base = stableHash(keyword);
    for (int i = 0; i < int(total); ++i) {
        Result r;
        r.kind = kinds.at(i % kinds.size());
        const Size s =
            DefaultSizes[(base + quint32(i) * 7u) % (sizeof DefaultSizes / sizeof DefaultSizes[0])];
        r.width = s.width;
        r.height = s.height;
        r.ext = extFor(r.kind, i);
        if (i % 4 == 1)
            r.query = QStringLiteral("?w=979");
        else if (i % 4 == 3)
            r.query = QStringLiteral("?width=3200&height=1809&fit=crop");
        r.seed = base ^ (quint32(i + 1) * 2654435761u);
        e.results.push_back(r);
    }
    return e;
}

bool readResult(const QJsonObject& o, Result* r, QString* error) {
    r->kind = o.value(QLatin1String("kind")).toString(QStringLiteral("png"));
    if (!knownKind(r->kind)) {
        *error = QStringLiteral("unknown kind \"%1\"").arg(r->kind);
        return false;
    }
    r->width = o.value(QLatin1String("width")).toInt(640);
    r->height = o.value(QLatin1String("height")).toInt(480);
    r->ext = o.value(QLatin1String("ext"))
                 .toString(r->kind == QLatin1String("jpeg") ? QStringLiteral("jpg") : QStringLiteral("png"));
    r->query = o.value(QLatin1String("query")).toString();
    r->name = o.value(QLatin1String("name")).toString();
    r->url = o.value(QLatin1String("url")).toString();
    r->bytes = qint64(o.value(QLatin1String("bytes")).toDouble(0));
    r->rate = o.value(QLatin1String("rate")).toInt(0);
    if (o.contains(QLatin1String("seed")))
        r->seed = quint32(o.value(QLatin1String("seed")).toDouble());
    return true;
}

} // namespace

quint32 stableHash(const QString& text) {
    quint32 h = 2166136261u;
    for (char c : text.toUtf8()) {
        h ^= quint8(c);
        h *= 16777619u;
    }
    return h;
}

QByteArray jsonString(const QString& text) {
    QByteArray out = "\"";
    for (char ch : text.toUtf8()) {
        const auto c = quint8(ch);
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '/':
            out += "\\/";
            break;
        case '\b':
            out += "\\b";
            break;
        case '\f':
            out += "\\f";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20)
                out += "\\u00" + QByteArray::number(c, 16).rightJustified(2, '0');
            else
                out += char(c);
        }
    }
    out += '"';
    return out;
}

Entry defaultEntry(const QString& keyword) {
    return generated(keyword, {QStringLiteral("jpeg"), QStringLiteral("jpeg"), QStringLiteral("png")}, 60);
}

bool Catalog::load(const QByteArray& json, QString* error) {
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &parseError);
    if (!doc.isObject()) {
        *error = parseError.error != QJsonParseError::NoError
                     ? parseError.errorString()
                     : QStringLiteral("the catalogue is not an object");
        return false;
    }
    const QJsonObject top = doc.object();
    for (auto it = top.begin(); it != top.end(); ++it) {
        const QJsonObject o = it.value().toObject();
        Entry e;
        e.delayMs = o.value(QLatin1String("delay")).toInt(0);
        e.trickleMs = o.value(QLatin1String("trickle")).toInt(0);
        e.failFirst = o.value(QLatin1String("failFirst")).toInt(0);
        e.failStatus = o.value(QLatin1String("failStatus")).toInt(503);
        if (o.contains(QLatin1String("failBody")))
            e.failBody = o.value(QLatin1String("failBody")).toString().toUtf8();
        e.retryAfter = o.value(QLatin1String("retryAfter")).toInt(-1);
        e.answerBytes = qint64(o.value(QLatin1String("answerBytes")).toDouble(0));
        e.answerAnnounced = o.value(QLatin1String("announced")).toBool(true);
        if (o.contains(QLatin1String("body"))) {
            e.raw = true;
            e.status = o.value(QLatin1String("status")).toInt(200);
            e.body = o.value(QLatin1String("body")).toString().toUtf8();
            if (o.contains(QLatin1String("contentType")))
                e.contentType = o.value(QLatin1String("contentType")).toString().toUtf8();
        } else {
            const QJsonArray list = o.value(QLatin1String("results")).toArray();
            for (int i = 0; i < list.size(); ++i) {
                Result r;
                if (!readResult(list.at(i).toObject(), &r, error)) {
                    *error =
                        QStringLiteral("keyword \"%1\", result %2: %3").arg(it.key()).arg(i + 1).arg(*error);
                    return false;
                }
                if (!list.at(i).toObject().contains(QLatin1String("seed")))
                    r.seed = stableHash(it.key()) ^ (quint32(i + 1) * 2654435761u);
                e.results.push_back(r);
            }
            e.totalCount = qint64(o.value(QLatin1String("totalCount")).toDouble(double(list.size())));
        }
        entries_.insert(it.key(), e);
    }
    return true;
}

Entry Catalog::entryFor(const QString& keyword) const {
    auto it = entries_.constFind(keyword);
    if (it != entries_.constEnd())
        return *it;
    it = entries_.constFind(QStringLiteral("*"));
    if (it != entries_.constEnd())
        return *it;
    // Nothing to search for finds nothing (a keyword of spaces is still a keyword).
    if (keyword.isEmpty() || keyword == QLatin1String("nothing"))
        return Entry{};
    if (keyword.startsWith(QLatin1String("kind-")) && knownKind(keyword.mid(5)))
        return generated(keyword, {keyword.mid(5)}, 60);
    if (keyword == QLatin1String("faults")) {
        const QVector<QString> kinds = {
            QStringLiteral("png"),      QStringLiteral("html"),     QStringLiteral("jpeg"),
            QStringLiteral("doctype"),  QStringLiteral("png"),      QStringLiteral("jsonerror"),
            QStringLiteral("jpeg"),     QStringLiteral("redirect"), QStringLiteral("png"),
            QStringLiteral("notfound"), QStringLiteral("jpeg"),     QStringLiteral("redirectloop"),
            QStringLiteral("png"),      QStringLiteral("cutoff"),   QStringLiteral("jpeg")};
        return generated(keyword, kinds, kinds.size());
    }
    return defaultEntry(keyword);
}

QString picturePath(const Result& r, const QString& keyword, int index) {
    QString kind = r.kind;
    if (kind == QLatin1String("huge") && r.bytes > 0)
        kind += QLatin1Char('-') + QString::number(r.bytes);
    else if (kind == QLatin1String("slow") && r.rate > 0)
        kind += QLatin1Char('-') + QString::number(r.rate);
    const QString name =
        r.name.isEmpty() ? slug(keyword) + QLatin1Char('-') + QString::number(index + 1) : r.name;
    QString path = QStringLiteral("/img/%1/%2x%3/%4/%5")
                       .arg(kind)
                       .arg(r.width)
                       .arg(r.height)
                       .arg(r.seed, 8, 16, QLatin1Char('0'))
                       .arg(name);
    if (!r.ext.isEmpty())
        path += QLatin1Char('.') + r.ext;
    return path;
}

QString pictureAddress(const Result& r, const QString& keyword, int index, const QString& host) {
    QString url = r.url.isEmpty()
                      ? QStringLiteral("https://") + host + picturePath(r, keyword, index) + r.query
                      : r.url;
    url.replace(QLatin1String("{host}"), host);
    url.replace(QLatin1String("{port}"), host.section(QLatin1Char(':'), -1));
    return url;
}

QByteArray searchAnswer(const Entry& entry, const QString& keyword, int pageNumber, int pageSize,
                        const QString& host) {
    const QString origin = QStringLiteral("https://") + host;
    QByteArray out =
        "{\"_type\":\"images\",\"totalCount\":" + QByteArray::number(entry.totalCount) + ",\"value\":[";
    const qint64 first = qint64(pageNumber - 1) * pageSize;
    bool any = false;
    for (qint64 i = first; i < first + pageSize && i < entry.results.size(); ++i) {
        const Result& r = entry.results.at(int(i));
        const int index = int(i);
        const QString url = pictureAddress(r, keyword, index, host);
        const int tw = r.width >= r.height ? 240 : qMax(1, 240 * r.width / qMax(1, r.height));
        const int th = r.width >= r.height ? qMax(1, 240 * r.height / qMax(1, r.width)) : 240;
        const QString seedText = QStringLiteral("%1").arg(r.seed, 8, 16, QLatin1Char('0'));
        const QString thumb =
            QStringLiteral("%1/img/jpeg/%2x%3/%4/thumbnail.jpg").arg(origin).arg(tw).arg(th).arg(seedText);
        const QString title = keyword + QLatin1Char(' ') + QString::number(index + 1);
        if (any)
            out += ',';
        any = true;
        out += "{\"url\":" + jsonString(url);
        out += ",\"height\":" + QByteArray::number(r.height);
        out += ",\"width\":" + QByteArray::number(r.width);
        out += ",\"thumbnail\":" + jsonString(thumb);
        out += ",\"thumbnailHeight\":" + QByteArray::number(th);
        out += ",\"thumbnailWidth\":" + QByteArray::number(tw);
        out += ",\"base64Encoding\":null";
        out += ",\"name\":" + jsonString(title);
        out += ",\"title\":" + jsonString(title + QStringLiteral(" - Pictures of ") + keyword);
        out += ",\"provider\":{\"name\":" + jsonString(QStringLiteral("pictures.example"));
        out += ",\"favIcon\":" + jsonString(origin + QStringLiteral("/img/png/16x16/") + seedText +
                                            QStringLiteral("/favicon.png"));
        out += ",\"favIconBase64Encoding\":\"\"}";
        out += ",\"imageWebSearchUrl\":" + jsonString(origin + QStringLiteral("/search?q=") +
                                                      QString::fromLatin1(QUrl::toPercentEncoding(keyword)) +
                                                      QStringLiteral("&type=images"));
        out += ",\"webpageUrl\":" +
               jsonString(origin + QStringLiteral("/page/") + seedText + QStringLiteral(".html"));
        out += '}';
    }
    out += "]}";
    return out;
}

} // namespace ImageService
