#include "fetch/sources/commons.h"

#include "fetch/limits.h"
#include "fetch/sources/answer_fields.h"

#include <QJsonArray>

#include <algorithm>
#include <limits>
#include <optional>
#include <utility>
#include <vector>

namespace Sources {

namespace {

using namespace AnswerFields;

// "File:Mitochondria, mammalian lung - TEM.jpg" -> "Mitochondria, mammalian lung - TEM".
QString titleOfFile(const QString& pageTitle) {
    QString title = pageTitle;
    if (title.startsWith(QLatin1String("File:")))
        title.remove(0, 5);
    const qsizetype dot = title.lastIndexOf(QLatin1Char('.'));
    if (dot > 0 && title.size() - dot <= 6)
        title.truncate(dot);
    return title;
}

// The "value" of one metadata field ({"value": ..., "source": ..., "hidden": ...}).
QJsonValue metadata(const QJsonObject& extmetadata, const char* name) {
    return extmetadata.value(QLatin1String(name)).toObject().value(QLatin1String("value"));
}

// A yes-or-no field ("true", "false"; a JSON boolean too); nothing when it is neither.
std::optional<bool> flag(const QJsonValue& value) {
    if (value.isBool())
        return value.toBool();
    const QString word = value.toString().trimmed();
    if (word.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
        return true;
    if (word.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0)
        return false;
    return std::nullopt;
}

// What the file's licence allows: the licence's code ("cc-by-sa-4.0", "pd"; else its short name),
// whether it asks for credit, and whether the file is free at all. A file marked non-free allows
// nothing beyond what the law allows anyway.
LicenceTerms termsOf(const QJsonObject& meta) {
    if (flag(metadata(meta, "NonFree")).value_or(false))
        return {true, false, false, false};
    QString code = text(metadata(meta, "License"));
    if (code.isEmpty())
        code = text(metadata(meta, "LicenseShortName"));
    LicenceTerms terms = termsOfCode(code);
    if (const std::optional<bool> credit = flag(metadata(meta, "AttributionRequired")))
        terms.noCredit = terms.known && !*credit;
    return terms;
}

bool readPage(const QJsonObject& page, LicenceChoice asked, SourceResult* r) {
    const QJsonObject info = page.value(QLatin1String("imageinfo")).toArray().at(0).toObject();
    r->address = address(info.value(QLatin1String("url")));
    if (r->address.isEmpty())
        return false;
    r->width = side(info.value(QLatin1String("width")));
    r->height = side(info.value(QLatin1String("height")));
    r->mimeType = imageType(info.value(QLatin1String("mime")));
    const QString pageTitle = text(page.value(QLatin1String("title")));
    r->extension = extensionOfType(r->mimeType);
    if (r->extension.isEmpty())
        r->extension = extensionOfAddress(r->address);
    if (r->extension.isEmpty())
        r->extension = extensionOfAddress(QStringLiteral("https://file/") + pageTitle);

    const QJsonObject meta = info.value(QLatin1String("extmetadata")).toObject();
    Credits& c = r->credits;
    const QJsonValue objectName = metadata(meta, "ObjectName");
    c.title = objectName.isString() ? htmlText(objectName.toString()) : QString();
    if (c.title.isEmpty())
        c.title = titleOfFile(pageTitle);
    const QJsonValue artist = metadata(meta, "Artist");
    c.creator = artist.isString() ? htmlText(artist.toString()) : QString();
    c.licence = text(metadata(meta, "LicenseShortName"));
    c.licenceAddress = address(metadata(meta, "LicenseUrl"));
    c.sourcePage = address(info.value(QLatin1String("descriptionurl")));
    r->licenceFits = fits(asked, termsOf(meta));
    return true;
}

QString errorText(const QJsonObject& error) {
    const QJsonValue info = error.value(QLatin1String("info"));
    return info.isString() ? info.toString() : text(error.value(QLatin1String("code")));
}

// The pages of the answer: an array (formatversion 2) or an object keyed by page id (version 1).
// False when "pages" is something else.
bool pagesOf(const QJsonObject& top, QJsonArray* pages) {
    const QJsonValue query = top.value(QLatin1String("query"));
    if (query.isUndefined()) // a search without hits has no "query" at all
        return top.contains(QLatin1String("batchcomplete")) || top.contains(QLatin1String("continue"));
    const QJsonValue list = query.toObject().value(QLatin1String("pages"));
    if (list.isArray()) {
        *pages = list.toArray();
        return true;
    }
    if (list.isObject()) {
        const QJsonObject byId = list.toObject();
        for (auto it = byId.begin(); it != byId.end(); ++it)
            pages->append(it.value());
        return true;
    }
    return query.isObject() && list.isUndefined();
}

} // namespace

SourceRequest CommonsSource::request(const PageQuery& query) const {
    const QString address =
        QStringLiteral("https://") + host(QLatin1String(OwnHost)) +
        QStringLiteral("/w/api.php?action=query&format=json&formatversion=2&generator=search&gsrsearch=") +
        queryValue(QStringLiteral("filetype:bitmap ") + query.keyword) +
        QStringLiteral("&gsrnamespace=6&gsrlimit=") + QString::number(pageSizeFor(query)) +
        QStringLiteral("&gsroffset=") + QString::number(qMax(0, query.offset)) +
        QStringLiteral("&prop=imageinfo&iiprop=") + queryValue(QStringLiteral("url|size|mime|extmetadata")) +
        QStringLiteral("&iiextmetadatafilter=") + queryValue(QLatin1String(MetadataFields));
    return makeRequest(address, address);
}

SourceAnswer CommonsSource::read(const QByteArray& answer, int httpStatus, const PageQuery& asked) const {
    QJsonObject top;
    int dropped = 0;
    const bool json =
        parseObject(leadingEntries(answer, {"query", "pages"}, Limits::AnswerResults, &dropped), &top);
    const QJsonValue error = top.value(QLatin1String("error"));
    if (isFailure(httpStatus) || error.isObject())
        return errorAnswer(json ? errorText(error.toObject()) : plainTextMessage(answer));
    QJsonArray pages;
    if (!json || !pagesOf(top, &pages))
        return {};

    SourceAnswer out;
    out.kind = SourceAnswer::Kind::Results;
    out.skipped = dropped;
    // The pages come in no particular order; "index" is each one's rank.
    std::vector<std::pair<qint64, SourceResult>> ranked;
    const qsizetype readable = readableEntries(pages, &out);
    ranked.reserve(size_t(readable));
    for (qsizetype i = 0; i < readable; ++i) {
        const QJsonValue entry = pages.at(i);
        const QJsonObject page = entry.toObject();
        SourceResult r;
        if (readPage(page, asked.licence, &r))
            ranked.emplace_back(
                wholeNumber(page.value(QLatin1String("index"))).value_or(std::numeric_limits<qint64>::max()),
                std::move(r));
        else
            ++out.skipped;
    }
    std::stable_sort(ranked.begin(), ranked.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    out.results.reserve(qsizetype(ranked.size()));
    for (auto& entry : ranked)
        out.results.append(std::move(entry.second));

    // The next page starts where the answer says, and only ever further on: an answer that sends
    // the run back could keep it asking forever.
    const std::optional<qint64> next =
        wholeNumber(top.value(QLatin1String("continue")).toObject().value(QLatin1String("gsroffset")));
    out.hasNext =
        !pages.isEmpty() && next && *next > qMax(0, asked.offset) && *next <= std::numeric_limits<int>::max();
    if (out.hasNext)
        out.nextOffset = int(*next);
    return out;
}

} // namespace Sources
