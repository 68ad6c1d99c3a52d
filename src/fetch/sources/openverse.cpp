#include "fetch/sources/openverse.h"

#include "fetch/limits.h"
#include "fetch/sources/answer_fields.h"

#include <QJsonArray>

#include <limits>

namespace Sources {

namespace {

using namespace AnswerFields;

// The message of an error answer: "detail" is a text, or an object of field names with their
// complaints ({"page": ["Ensure this value is less than or equal to 20."]}).
QString detailText(const QJsonValue& detail) {
    if (detail.isString())
        return detail.toString();
    const QJsonObject fields = detail.toObject();
    for (auto it = fields.begin(); it != fields.end(); ++it) {
        const QJsonValue complaint = it.value().isArray() ? it.value().toArray().at(0) : it.value();
        if (complaint.isString())
            return it.key() + QStringLiteral(": ") + complaint.toString();
    }
    return {};
}

// The request's part that asks for the licences of the choice only. Several licence types ask for
// the licences that are in all of them; "license" lists licences.
QString licenceFilter(LicenceChoice choice) {
    switch (choice) {
    case LicenceChoice::Any:
        break;
    case LicenceChoice::Commercial:
        return QStringLiteral("&license_type=commercial");
    case LicenceChoice::Modify:
        return QStringLiteral("&license_type=commercial,modification");
    case LicenceChoice::NoCredit:
        return QStringLiteral("&license=cc0,pdm");
    }
    return {};
}

bool readResult(const QJsonObject& o, LicenceChoice asked, SourceResult* r) {
    r->address = address(o.value(QLatin1String("url")));
    if (r->address.isEmpty())
        return false;
    r->width = side(o.value(QLatin1String("width")));
    r->height = side(o.value(QLatin1String("height")));
    r->extension = extension(o.value(QLatin1String("filetype")));
    if (r->extension.isEmpty())
        r->extension = extensionOfAddress(r->address);
    Credits& c = r->credits;
    c.title = text(o.value(QLatin1String("title")));
    c.creator = text(o.value(QLatin1String("creator")));
    c.creatorAddress = address(o.value(QLatin1String("creator_url")));
    const QString code = text(o.value(QLatin1String("license")));
    c.licence = OpenverseSource::licenceName(code, text(o.value(QLatin1String("license_version"))));
    // The service keeps to the licences asked for; a result that does not is not taken on trust.
    r->licenceFits = fits(asked, termsOfCode(code));
    c.licenceAddress = address(o.value(QLatin1String("license_url")));
    c.sourcePage = address(o.value(QLatin1String("foreign_landing_url")));
    return true;
}

} // namespace

SourceRequest OpenverseSource::request(const PageQuery& query) const {
    const QString address =
        QStringLiteral("https://") + host(QLatin1String(OwnHost)) + QStringLiteral("/v1/images/?q=") +
        queryValue(query.keyword) + QStringLiteral("&page=") + QString::number(qMax(1, query.page)) +
        QStringLiteral("&page_size=") + QString::number(pageSizeFor(query)) + licenceFilter(query.licence);
    return makeRequest(address, address);
}

SourceAnswer OpenverseSource::read(const QByteArray& answer, int httpStatus, const PageQuery& asked) const {
    QJsonObject top;
    int dropped = 0;
    const bool json = parseObject(leadingEntries(answer, {"results"}, Limits::AnswerResults, &dropped), &top);
    const QJsonValue list = top.value(QLatin1String("results"));
    if (isFailure(httpStatus) || (json && !list.isArray() && top.contains(QLatin1String("detail"))))
        return errorAnswer(json ? detailText(top.value(QLatin1String("detail"))) : plainTextMessage(answer));
    if (!list.isArray())
        return {};

    SourceAnswer out;
    out.kind = SourceAnswer::Kind::Results;
    out.skipped = dropped;
    const QJsonArray results = list.toArray();
    const qsizetype readable = readableEntries(results, &out);
    out.results.reserve(readable);
    for (qsizetype i = 0; i < readable; ++i) {
        const QJsonValue entry = results.at(i);
        SourceResult r;
        if (readResult(entry.toObject(), asked.licence, &r))
            out.results.append(r);
        else
            ++out.skipped;
    }
    out.total = count(top.value(QLatin1String("result_count")));
    const qint64 pages = count(top.value(QLatin1String("page_count")));
    const int page = qMax(1, asked.page);
    // An empty page ends the keyword, whatever the counts claim.
    out.hasNext =
        !results.isEmpty() && page < std::numeric_limits<int>::max() &&
        (pages >= 0 ? page < pages : out.total >= 0 && qint64(page) * pageSizeFor(asked) < out.total);
    if (out.hasNext)
        out.nextPage = page + 1;
    return out;
}

QString OpenverseSource::licenceName(const QString& licence, const QString& version) {
    const QString name = licence.toLower();
    if (name.isEmpty())
        return {};
    QString out;
    if (name == QLatin1String("cc0"))
        out = QStringLiteral("CC0");
    else if (name == QLatin1String("pdm"))
        out = QStringLiteral("Public Domain Mark");
    else if (name.startsWith(QLatin1String("by")))
        out = QStringLiteral("CC ") + name.toUpper();
    else
        out = licence;
    return version.isEmpty() ? out : out + QLatin1Char(' ') + version;
}

} // namespace Sources
