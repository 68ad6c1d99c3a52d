#include "sources.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>

#include <algorithm>

namespace ImageService {

namespace {

const QByteArray Json = "application/json";
const QByteArray Text = "text/plain; charset=utf-8";

// The keyword that every source answers with its "too many requests" answer.
const QString Throttled = QStringLiteral("throttled");

// The limits of the real services.
constexpr int OpenverseLargestPage = 20;
constexpr int OpenversePages = 20;
constexpr qint64 OpenverseResults = 240;
constexpr int CommonsLargestPage = 500;
constexpr int PexelsLargestPage = 80;
constexpr int PixabaySmallestPage = 3;
constexpr int PixabayLargestPage = 200;
constexpr qint64 PixabayReachable = 500;

Reply reply(int status, const QByteArray& contentType, const QByteArray& body) {
    Reply r;
    r.status = status;
    r.contentType = contentType;
    r.body = body;
    return r;
}

Reply json(int status, const QJsonObject& body) {
    return reply(status, Json, QJsonDocument(body).toJson(QJsonDocument::Compact));
}

// One page of a keyword: which results of its catalogue entry it holds and what to call them.
struct Page {
    QString keyword;
    Entry entry;
    QString host;
    qint64 first = 0; // index of the page's first result
    int size = 0;

    QString origin() const { return QStringLiteral("https://") + host; }
    qint64 end() const { return qMin<qint64>(first + size, entry.results.size()); }
    QString address(qint64 i) const {
        return pictureAddress(entry.results.at(int(i)), keyword, int(i), host);
    }
    QString seed(qint64 i) const {
        return QStringLiteral("%1").arg(entry.results.at(int(i)).seed, 8, 16, QLatin1Char('0'));
    }
    QString page(qint64 i) const {
        return origin() + QStringLiteral("/page/") + seed(i) + QStringLiteral(".html");
    }
    QString title(qint64 i) const { return keyword + QLatin1Char(' ') + QString::number(i + 1); }
    QString maker(qint64 i) const { return QStringLiteral("Maker %1").arg(i % 5 + 1); }
    QString makerPage(qint64 i) const {
        return origin() + QStringLiteral("/page/maker-%1.html").arg(i % 5 + 1);
    }
};

struct Licence {
    const char* code; // Openverse's
    const char* version;
    const char* name;
    const char* address;      // "" for none
    const char* commonsCode;  // Commons' "License"
    bool attributionRequired; // Commons' "AttributionRequired"
    bool nonFree;             // Commons' "NonFree" (only written when true)
};

// Results take these in turn: free licences, one that forbids commercial use (which Commons marks
// non-free) and one that forbids changes.
const Licence Licences[] = {
    {"by-sa", "4.0", "CC BY-SA 4.0", "https://creativecommons.org/licenses/by-sa/4.0/", "cc-by-sa-4.0", true,
     false},
    {"cc0", "1.0", "CC0", "https://creativecommons.org/publicdomain/zero/1.0/", "cc0", false, false},
    {"by", "2.0", "CC BY 2.0", "https://creativecommons.org/licenses/by/2.0/", "cc-by-2.0", true, false},
    {"pdm", "1.0", "Public domain", "", "pd", false, false},
    {"by-nc", "2.0", "CC BY-NC 2.0", "https://creativecommons.org/licenses/by-nc/2.0/", "cc-by-nc-2.0", true,
     true},
    {"by-nd", "4.0", "CC BY-ND 4.0", "https://creativecommons.org/licenses/by-nd/4.0/", "cc-by-nd-4.0", true,
     false},
};

const Licence& licenceOf(qint64 i) {
    return Licences[i % (sizeof Licences / sizeof Licences[0])];
}

// Openverse's licence filters: "license" lists licences; "license_type" names groups of them
// ("commercial": none with "nc"; "modification": none with "nd"), and several groups mean the
// licences in all of them. Returns false with the complaint for an unknown value.
bool openverseFilter(const QMap<QString, QString>& items, QStringList* allowed, QJsonObject* complaint) {
    const QString all =
        QStringLiteral("by-sa,cc0,by,pdm,by-nc,by-nd,by-nc-sa,by-nc-nd,sampling+,nc-sampling+");
    *allowed = all.split(QLatin1Char(','));
    if (items.contains(QStringLiteral("license"))) {
        const QStringList asked = items.value(QStringLiteral("license")).toLower().split(QLatin1Char(','));
        for (const QString& code : asked)
            if (!allowed->contains(code)) {
                *complaint = {
                    {"license", QJsonArray{QStringLiteral("License '%1' does not exist.").arg(code)}}};
                return false;
            }
        *allowed = asked;
    }
    if (items.contains(QStringLiteral("license_type"))) {
        for (const QString& type :
             items.value(QStringLiteral("license_type")).toLower().split(QLatin1Char(','))) {
            const char* forbidden = type == QLatin1String("commercial")     ? "nc"
                                    : type == QLatin1String("modification") ? "nd"
                                    : type == QLatin1String("all") || type == QLatin1String("all-cc")
                                        ? ""
                                        : nullptr;
            if (!forbidden) {
                *complaint = {{"license_type",
                               QJsonArray{QStringLiteral("License type '%1' does not exist.").arg(type)}}};
                return false;
            }
            if (*forbidden)
                allowed->erase(
                    std::remove_if(allowed->begin(), allowed->end(),
                                   [&](const QString& code) {
                                       return code.split(QLatin1Char('-')).contains(QLatin1String(forbidden));
                                   }),
                    allowed->end());
        }
    }
    return true;
}

QString mimeOf(const Result& r) {
    if (r.kind == QLatin1String("png") || r.ext == QLatin1String("png"))
        return QStringLiteral("image/png");
    return QStringLiteral("image/jpeg");
}

// Openverse: GET /v1/images/?q=&page=&page_size=
Reply openverse(const QMap<QString, QString>& items, Page p) {
    if (p.keyword == Throttled)
        return json(429, {{"detail", "Request was throttled. Expected available in 3600 seconds."}});
    const int size = positiveNumber(items.value(QStringLiteral("page_size")), 20);
    if (size > OpenverseLargestPage)
        return json(401, {{"detail", "page_size may not exceed 20 for anonymous requests"}});
    const int number = positiveNumber(items.value(QStringLiteral("page")), 1);
    if (number > OpenversePages)
        return json(400, {{"detail", QJsonObject{{"page", QJsonArray{"Ensure this value is less than or "
                                                                     "equal to 20."}}}}});
    QStringList allowed;
    QJsonObject complaint;
    if (!openverseFilter(items, &allowed, &complaint))
        return json(400, {{"detail", complaint}});
    // The results of the licences asked for, in their order.
    QVector<qint64> fitting;
    for (qint64 i = 0; i < p.entry.results.size(); ++i)
        if (allowed.contains(QLatin1String(licenceOf(i).code)))
            fitting << i;
    const bool filtered = fitting.size() < p.entry.results.size();
    const qint64 first = qint64(number - 1) * size;
    QJsonArray results;
    for (qint64 k = first; k < qMin<qint64>(first + size, fitting.size()); ++k) {
        const qint64 i = fitting.at(k);
        const Licence& l = licenceOf(i);
        const Result& r = p.entry.results.at(int(i));
        results.append(QJsonObject{
            {"id", p.seed(i) + QStringLiteral("-0000-4000-8000-%1").arg(i, 12, 10, QLatin1Char('0'))},
            {"title", p.title(i)},
            {"foreign_landing_url", p.page(i)},
            {"url", p.address(i)},
            {"creator", p.maker(i)},
            {"creator_url", i % 3 == 2 ? QJsonValue() : QJsonValue(p.makerPage(i))},
            {"license", l.code},
            {"license_version", l.version},
            {"license_url", QString::fromLatin1(l.address)},
            {"provider", "local"},
            {"source", "local"},
            {"filesize", QJsonValue()},
            // Some providers leave the type out; the address tells it then.
            {"filetype", i % 3 == 1 ? QJsonValue() : QJsonValue(r.ext)},
            {"mature", false},
            {"height", r.height},
            {"width", r.width},
            {"thumbnail", p.origin() + QStringLiteral("/img/jpeg/240x180/") + p.seed(i) + "/thumb.jpg"},
        });
    }
    const qint64 count = qMin(filtered ? qint64(fitting.size()) : p.entry.totalCount, OpenverseResults);
    return json(200, {{"result_count", count},
                      {"page_count", qMin<qint64>(OpenversePages, (count + size - 1) / size)},
                      {"page_size", size},
                      {"page", number},
                      {"results", results}});
}

QJsonObject metadataValue(const QString& value) {
    return {{"value", value}, {"source", "commons-desc-page"}};
}

QJsonObject commonsPage(const Page& p, qint64 i, const QStringList& fields) {
    const Result& r = p.entry.results.at(int(i));
    const Licence& l = licenceOf(i);
    QJsonObject meta{
        {"ObjectName", metadataValue(p.title(i))},
        {"Artist", metadataValue(QStringLiteral("<a href=\"//%1/page/maker-%2.html\" title=\"User:%3\">"
                                                "<bdi>%3</bdi></a> &amp; friends")
                                     .arg(p.host)
                                     .arg(i % 5 + 1)
                                     .arg(p.maker(i)))},
        {"LicenseShortName", metadataValue(QString::fromLatin1(l.name))},
        {"License", metadataValue(QString::fromLatin1(l.commonsCode))},
        {"AttributionRequired", metadataValue(l.attributionRequired ? "true" : "false")}};
    if (*l.address)
        meta.insert(QStringLiteral("LicenseUrl"), metadataValue(QString::fromLatin1(l.address)));
    if (l.nonFree)
        meta.insert(QStringLiteral("NonFree"), metadataValue(QStringLiteral("true")));
    // Only the fields asked for, when the request names them.
    if (!fields.isEmpty())
        for (const QString& key : meta.keys())
            if (!fields.contains(key))
                meta.remove(key);
    const QString name = QUrl(p.address(i)).fileName();
    return {{"pageid", 1000 + i},
            {"ns", 6},
            {"title", QStringLiteral("File:") + (name.isEmpty() ? p.title(i) : name)},
            {"index", i + 1},
            {"imageinfo", QJsonArray{QJsonObject{{"size", 1000 + r.width * r.height / 10},
                                                 {"width", r.width},
                                                 {"height", r.height},
                                                 {"url", p.address(i)},
                                                 {"descriptionurl", p.page(i)},
                                                 {"mime", mimeOf(r)},
                                                 {"extmetadata", meta}}}}};
}

// Wikimedia Commons: GET /w/api.php?action=query&generator=search&gsrsearch=filetype:bitmap KEYWORD
// &gsrlimit=&gsroffset=... Wikimedia answers no program that does not name itself and its maker.
Reply commons(const Request& request, const QMap<QString, QString>& items, Page p) {
    const QByteArray agent = request.header("user-agent");
    if (!agent.contains('(') || agent.startsWith("curl/"))
        return reply(403, Text,
                     "Please set a user-agent and respect our robot policy https://w.wiki/4wJS. See also "
                     "T400119.\n");
    if (p.keyword == Throttled)
        return json(429, {{"error", QJsonObject{{"code", "ratelimited"},
                                                {"info", "You've exceeded your rate limit. Please wait some "
                                                         "time and try again."}}}});
    const int size = qMin(CommonsLargestPage, positiveNumber(items.value(QStringLiteral("gsrlimit")), 10));
    p.first = qMax(0, items.value(QStringLiteral("gsroffset")).toInt());
    p.size = size;
    QJsonObject top{{"batchcomplete", true}};
    if (p.first >= p.end())
        return json(200, top); // no hits: no "query" at all
    // The pages come in no particular order, as the real service sends them: each pair swapped.
    const QStringList fields =
        items.value(QStringLiteral("iiextmetadatafilter")).split(QLatin1Char('|'), Qt::SkipEmptyParts);
    QJsonArray pages;
    for (qint64 i = p.first; i < p.end(); i += 2) {
        if (i + 1 < p.end())
            pages.append(commonsPage(p, i + 1, fields));
        pages.append(commonsPage(p, i, fields));
    }
    if (p.first + size < qMin<qint64>(p.entry.totalCount, p.entry.results.size()))
        top.insert(QStringLiteral("continue"),
                   QJsonObject{{"gsroffset", p.first + size}, {"continue", "gsroffset||"}});
    top.insert(QStringLiteral("query"), QJsonObject{{"pages", pages}});
    return json(200, top);
}

QString pexelsSearch(const QString& host, int page, int size, const QString& keyword) {
    return QStringLiteral("https://%1/v1/search/?page=%2&per_page=%3&query=%4")
        .arg(host)
        .arg(page)
        .arg(size)
        .arg(QString::fromLatin1(QUrl::toPercentEncoding(keyword.toLower())));
}

// Pexels: GET /v1/search?query=&page=&per_page= with "Authorization: KEY".
Reply pexels(const Request& request, const QMap<QString, QString>& items, const Settings& settings, Page p) {
    const QString key = QString::fromUtf8(request.header("authorization"));
    if (key.isEmpty() || (!settings.validKeys.contains(key) && !settings.quotaKeys.contains(key)))
        return json(401, {{"status", 401}, {"code", "Unauthorized"}});
    if (settings.quotaKeys.contains(key) || p.keyword == Throttled)
        return json(429, {{"status", 429}, {"code", "Too Many Requests"}});
    if (p.keyword.isEmpty())
        return json(400, {{"status", 400}, {"code", "No query param given"}});
    const int number = positiveNumber(items.value(QStringLiteral("page")), 1);
    const int size = qMin(PexelsLargestPage, positiveNumber(items.value(QStringLiteral("per_page")), 15));
    p.first = qint64(number - 1) * size;
    p.size = size;
    QJsonArray photos;
    for (qint64 i = p.first; i < p.end(); ++i) {
        const Result& r = p.entry.results.at(int(i));
        const QString original = p.address(i);
        const QString sized = original + (original.contains(QLatin1Char('?')) ? "&" : "?") +
                              QStringLiteral("auto=compress&cs=tinysrgb&h=350");
        photos.append(QJsonObject{
            {"id", 5000 + i},
            {"width", r.width},
            {"height", r.height},
            {"url", p.page(i)},
            {"photographer", p.maker(i)},
            {"photographer_url", p.makerPage(i)},
            {"photographer_id", i % 5 + 1},
            {"avg_color", "#757F8A"},
            {"src",
             QJsonObject{{"original", original}, {"large", sized}, {"medium", sized}, {"tiny", sized}}},
            {"liked", false},
            {"alt", p.title(i)},
        });
    }
    QJsonObject top{
        {"page", number}, {"per_page", size}, {"photos", photos}, {"total_results", p.entry.totalCount}};
    if (qint64(number) * size < p.entry.totalCount)
        top.insert(QStringLiteral("next_page"), pexelsSearch(p.host, number + 1, size, p.keyword));
    if (number > 1)
        top.insert(QStringLiteral("prev_page"), pexelsSearch(p.host, number - 1, size, p.keyword));
    return json(200, top);
}

// Pixabay: GET /api/?key=&q=&page=&per_page=&image_type=photo. Its errors are plain text.
Reply pixabay(const QMap<QString, QString>& items, const Settings& settings, Page p) {
    const QString key = items.value(QStringLiteral("key"));
    if (!settings.validKeys.contains(key) && !settings.quotaKeys.contains(key))
        return reply(400, Text, "[ERROR 400] Invalid or missing API key");
    if (settings.quotaKeys.contains(key) || p.keyword == Throttled)
        return reply(429, Text, "[ERROR 429] Too many requests. Limit: 100 requests per 60 seconds.");
    const int size = positiveNumber(items.value(QStringLiteral("per_page")), 20);
    if (size < PixabaySmallestPage || size > PixabayLargestPage)
        return reply(400, Text, "[ERROR 400] \"per_page\" is out of valid range.");
    const int number = positiveNumber(items.value(QStringLiteral("page")), 1);
    p.first = qint64(number - 1) * size;
    p.size = size;
    const qint64 reachable = qMin(p.entry.totalCount, PixabayReachable);
    if (number > 1 && p.first >= reachable)
        return reply(400, Text, "[ERROR 400] \"page\" is out valid range.");
    QJsonArray hits;
    for (qint64 i = p.first; i < p.end() && i < reachable; ++i) {
        const Result& r = p.entry.results.at(int(i));
        hits.append(QJsonObject{
            {"id", 7000 + i},
            {"pageURL", p.page(i)},
            {"type", "photo"},
            {"tags", p.keyword + QStringLiteral(", picture")},
            {"previewURL", p.origin() + QStringLiteral("/img/jpeg/150x100/") + p.seed(i) + "/preview.jpg"},
            {"largeImageURL", p.address(i)},
            {"imageWidth", r.width},
            {"imageHeight", r.height},
            {"imageSize", 1000 + r.width * r.height / 10},
            {"likes", int(i % 40)},
            {"user_id", i % 5 + 1},
            {"user", p.maker(i)},
            {"userImageURL", ""},
        });
    }
    return json(200, {{"total", p.entry.totalCount}, {"totalHits", reachable}, {"hits", hits}});
}

} // namespace

bool sourceReply(const QString& path, const Request& request, const Settings& settings, Reply* out) {
    enum { Openverse, Commons, Pexels, Pixabay, None } source = None;
    if (path == QLatin1String("/v1/images/"))
        source = Openverse;
    else if (path == QLatin1String("/w/api.php"))
        source = Commons;
    else if (path == QLatin1String("/v1/search"))
        source = Pexels;
    else if (path == QLatin1String("/api/"))
        source = Pixabay;
    if (source == None)
        return false;

    const QMap<QString, QString> items = queryItems(request.rawQuery);
    Page p;
    p.host = hostOf(request);
    p.keyword = items.value(source == Commons  ? QStringLiteral("gsrsearch")
                            : source == Pexels ? QStringLiteral("query")
                                               : QStringLiteral("q"));
    if (source == Commons && p.keyword.startsWith(QLatin1String("filetype:bitmap ")))
        p.keyword.remove(0, 16);
    p.entry = settings.catalog.entryFor(p.keyword);
    static const char* const names[] = {"openverse", "commons", "pexels", "pixabay"};
    if (settings.unavailable.contains(QLatin1String(names[source])))
        *out = reply(503, Text, "Service Unavailable\n");
    else if (request.method != "GET")
        *out = reply(405, Json, "{\"detail\":\"Method not allowed.\"}");
    else if (source == Openverse)
        *out = openverse(items, p);
    else if (source == Commons)
        *out = commons(request, items, p);
    else if (source == Pexels)
        *out = pexels(request, items, settings, p);
    else
        *out = pixabay(items, settings, p);
    // A catalogue entry with a body of its own answers as it is, once the source's checks passed.
    if (p.entry.raw && out->status == 200)
        *out = reply(p.entry.status, p.entry.contentType, p.entry.body);
    out->delayMs = p.entry.delayMs;
    return true;
}

} // namespace ImageService
