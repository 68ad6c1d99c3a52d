#include "fetch/sources/pexels.h"

#include "fetch/limits.h"
#include "fetch/sources/answer_fields.h"

#include <QJsonArray>

#include <limits>

namespace Sources {

namespace {

using namespace AnswerFields;

bool readPhoto(const QJsonObject& photo, SourceResult* r) {
    r->address = address(photo.value(QLatin1String("src")).toObject().value(QLatin1String("original")));
    if (r->address.isEmpty())
        return false;
    r->width = side(photo.value(QLatin1String("width")));
    r->height = side(photo.value(QLatin1String("height")));
    r->extension = extensionOfAddress(r->address);
    Credits& c = r->credits;
    c.title = text(photo.value(QLatin1String("alt")));
    c.creator = text(photo.value(QLatin1String("photographer")));
    c.creatorAddress = address(photo.value(QLatin1String("photographer_url")));
    c.licence = QString::fromLatin1(PexelsSource::Licence);
    c.licenceAddress = QString::fromLatin1(PexelsSource::LicenceAddress);
    c.sourcePage = address(photo.value(QLatin1String("url")));
    return true;
}

// {"status":401,"code":"Unauthorized"} or {"error":"Rate limit exceeded"}; a bad key may be told in
// an answer with status 200.
bool isErrorShape(const QJsonObject& top) {
    if (top.value(QLatin1String("photos")).isArray())
        return false;
    return top.value(QLatin1String("error")).isString() || top.value(QLatin1String("code")).isString() ||
           top.value(QLatin1String("status")).toDouble() >= 400;
}

QString errorText(const QJsonObject& top) {
    const QJsonValue error = top.value(QLatin1String("error"));
    return error.isString() ? error.toString() : text(top.value(QLatin1String("code")));
}

} // namespace

SourceRequest PexelsSource::request(const PageQuery& query) const {
    const QString address = QStringLiteral("https://") + host(QLatin1String(OwnHost)) +
                            QStringLiteral("/v1/search?query=") + queryValue(query.keyword) +
                            QStringLiteral("&page=") + QString::number(qMax(1, query.page)) +
                            QStringLiteral("&per_page=") + QString::number(pageSizeFor(query));
    return makeRequest(address, address, {QStringLiteral("Authorization: ") + query.key});
}

SourceAnswer PexelsSource::read(const QByteArray& answer, int httpStatus, const PageQuery& asked) const {
    QJsonObject top;
    int dropped = 0;
    const bool json = parseObject(leadingEntries(answer, {"photos"}, Limits::AnswerResults, &dropped), &top);
    if (isFailure(httpStatus) || (json && isErrorShape(top)))
        return errorAnswer(json ? errorText(top) : plainTextMessage(answer));
    const QJsonValue list = top.value(QLatin1String("photos"));
    if (!list.isArray())
        return {};

    SourceAnswer out;
    out.kind = SourceAnswer::Kind::Results;
    out.skipped = dropped;
    const QJsonArray photos = list.toArray();
    const qsizetype readable = readableEntries(photos, &out);
    out.results.reserve(readable);
    for (qsizetype i = 0; i < readable; ++i) {
        const QJsonValue entry = photos.at(i);
        SourceResult r;
        if (readPhoto(entry.toObject(), &r))
            out.results.append(r);
        else
            ++out.skipped;
    }
    out.total = count(top.value(QLatin1String("total_results")));
    // "next_page" is there only when a further page is.
    const int page = qMax(1, asked.page);
    out.hasNext = !photos.isEmpty() && !text(top.value(QLatin1String("next_page"))).isEmpty() &&
                  page < std::numeric_limits<int>::max();
    if (out.hasNext)
        out.nextPage = page + 1;
    return out;
}

} // namespace Sources
