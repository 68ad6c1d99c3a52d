#include "fetch/sources/pixabay.h"

#include "fetch/limits.h"
#include "fetch/sources/answer_fields.h"

#include <QJsonArray>

#include <limits>

namespace Sources {

namespace {

using namespace AnswerFields;

bool readHit(const QJsonObject& hit, SourceResult* r) {
    r->address = address(hit.value(QLatin1String("largeImageURL")));
    if (r->address.isEmpty())
        return false;
    r->width = side(hit.value(QLatin1String("imageWidth")));
    r->height = side(hit.value(QLatin1String("imageHeight")));
    r->extension = extensionOfAddress(r->address);
    Credits& c = r->credits;
    c.creator = text(hit.value(QLatin1String("user")));
    c.licence = QString::fromLatin1(PixabaySource::Licence);
    c.licenceAddress = QString::fromLatin1(PixabaySource::LicenceAddress);
    c.sourcePage = address(hit.value(QLatin1String("pageURL")));
    return true;
}

QString searchAddress(const QString& serviceHost, const QString& key, const PageQuery& query, int pageSize) {
    return QStringLiteral("https://") + serviceHost + QStringLiteral("/api/?key=") + key +
           QStringLiteral("&q=") + queryValue(query.keyword) + QStringLiteral("&page=") +
           QString::number(qMax(1, query.page)) + QStringLiteral("&per_page=") + QString::number(pageSize) +
           QStringLiteral("&image_type=photo");
}

} // namespace

SourceRequest PixabaySource::request(const PageQuery& query) const {
    const QString serviceHost = host(QLatin1String(OwnHost));
    const int pageSize = pageSizeFor(query);
    return makeRequest(searchAddress(serviceHost, queryValue(query.key), query, pageSize),
                       searchAddress(serviceHost, QStringLiteral("..."), query, pageSize));
}

SourceAnswer PixabaySource::read(const QByteArray& answer, int httpStatus, const PageQuery& asked) const {
    QJsonObject top;
    int dropped = 0;
    const bool json = parseObject(leadingEntries(answer, {"hits"}, Limits::AnswerResults, &dropped), &top);
    // Errors are plain text: "[ERROR 400] Invalid or missing API key".
    if (isFailure(httpStatus) || (!json && answer.trimmed().startsWith("[ERROR")))
        return errorAnswer(plainTextMessage(answer));
    const QJsonValue list = top.value(QLatin1String("hits"));
    if (!list.isArray())
        return {};

    SourceAnswer out;
    out.kind = SourceAnswer::Kind::Results;
    out.skipped = dropped;
    const QJsonArray hits = list.toArray();
    const qsizetype readable = readableEntries(hits, &out);
    out.results.reserve(readable);
    for (qsizetype i = 0; i < readable; ++i) {
        const QJsonValue entry = hits.at(i);
        SourceResult r;
        if (readHit(entry.toObject(), &r))
            out.results.append(r);
        else
            ++out.skipped;
    }
    out.total = count(top.value(QLatin1String("totalHits")));
    const int page = qMax(1, asked.page);
    out.hasNext = !hits.isEmpty() && out.total >= 0 && page < std::numeric_limits<int>::max() &&
                  qint64(page) * pageSizeFor(asked) < out.total;
    if (out.hasNext)
        out.nextPage = page + 1;
    return out;
}

} // namespace Sources
