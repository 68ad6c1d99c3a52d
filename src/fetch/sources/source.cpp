#include "fetch/sources/source.h"

#include "base/environment.h"
#include "build_config.h"
#include "fetch/curl_config.h"
#include "fetch/curl_session.h"
#include "fetch/limits.h"
#include "fetch/search_request.h"
#include "fetch/sources/commons.h"
#include "fetch/sources/openverse.h"
#include "fetch/sources/pexels.h"
#include "fetch/sources/pixabay.h"

namespace Sources {

namespace {

struct Description {
    Source source;
    const char* storedName;
    const char* caption;
    bool needsKey;
    SettingKey keySetting;
    double requestSpacing; // seconds between two requests, as designed
    const char* site;
};

// Openverse allows anonymous programs about 20 requests a minute; Pexels 200 an hour; Pixabay 100
// a minute; Commons asks for one request at a time.
const Description Descriptions[] = {
    {Source::ContextualWeb, "contextualweb", "Contextual Web Search (RapidAPI key)", true, SettingKey::ApiKey,
     0, ""},
    {Source::Openverse, "openverse", "Openverse (no key needed)", false, SettingKey::ApiKey, 3,
     "openverse.org"},
    {Source::Commons, "commons", "Wikimedia Commons (no key needed)", false, SettingKey::ApiKey, 1,
     "commons.wikimedia.org"},
    {Source::Pexels, "pexels", "Pexels (free key)", true, SettingKey::PexelsKey, 1, "pexels.com"},
    {Source::Pixabay, "pixabay", "Pixabay (free key)", true, SettingKey::PixabayKey, 1, "pixabay.com"},
};

const Description& describe(Source source) {
    for (const Description& d : Descriptions)
        if (d.source == source)
            return d;
    return Descriptions[0];
}

} // namespace

QString storedName(Source source) {
    return QString::fromLatin1(describe(source).storedName);
}

std::optional<Source> named(const QString& name) {
    for (const Description& d : Descriptions)
        if (name == QLatin1String(d.storedName))
            return d.source;
    return std::nullopt;
}

Source fromStoredName(const QString& name) {
    return named(name).value_or(Source::ContextualWeb);
}

QString shownName(Source source) {
    return caption(source).section(QLatin1String(" ("), 0, 0);
}

Source chosen() {
    return fromStoredName(SettingsStore::read(SettingKey::Source));
}

SettingKey keySetting(Source source) {
    return describe(source).keySetting;
}

QString storedKey(Source source) {
    return needsKey(source) ? SettingsStore::read(keySetting(source)) : QString();
}

qint64 answerKeepSeconds(Source source) {
    // Pixabay asks that the same request is not sent again within 24 hours.
    return source == Source::Pixabay ? 24 * 60 * 60 : 0;
}

QString site(Source source) {
    return QString::fromLatin1(describe(source).site);
}

double requestSpacing(Source source) {
    return describe(source).requestSpacing;
}

QString caption(Source source) {
    return QString::fromLatin1(describe(source).caption);
}

bool needsKey(Source source) {
    return describe(source).needsKey;
}

QString host(const QString& ownHost) {
    const QString fromEnvironment = Environment::serviceHost();
    return fromEnvironment.isEmpty() ? ownHost : fromEnvironment;
}

QString programUserAgent() {
    return QStringLiteral("Glimmerfetch/") + QString::fromUtf8(BuildConfig::Version) + QStringLiteral(" (") +
           QString::fromUtf8(BuildConfig::ContactPage) + QLatin1Char(')');
}

SourceRequest makeRequest(const QString& address, const QString& shownAddress, const QStringList& headers) {
    SourceRequest request;
    request.address = address;
    request.shownAddress = shownAddress;
    request.curlConfig =
        CurlConfig::line("url", address) + CurlConfig::line("user-agent", programUserAgent());
    for (const QString& header : headers)
        request.curlConfig += CurlConfig::line("header", header);
    return request;
}

QString queryValue(const QString& text) {
    return QString::fromLatin1(text.toUtf8().toPercentEncoding());
}

ToolCommand toolCommand(const CurlSession& curl, const SourceRequest& request) {
    ToolCommand command;
    command.program = curl.program();
    command.arguments = curl.commonArguments() + Search::LimitArguments();
    command.arguments << QStringLiteral("--globoff") << QStringLiteral("-K") << QStringLiteral("-")
                      << QStringLiteral("--output") << curl.responseFile();
    command.standardInput = request.curlConfig;
    command.fileSizeLimit = Limits::SearchAnswerBytes;
    return command;
}

PageQuery nextQuery(const PageQuery& asked, const SourceAnswer& answer) {
    PageQuery next = asked;
    next.page = answer.nextPage;
    next.offset = answer.nextOffset;
    return next;
}

int ImageSource::pageSizeFor(const PageQuery& query) const {
    return qBound(smallestPageSize(), query.pageSize, largestPageSize());
}

const ImageSource* adapter(Source source) {
    static const OpenverseSource openverse;
    static const CommonsSource commons;
    static const PexelsSource pexels;
    static const PixabaySource pixabay;
    switch (source) {
    case Source::Openverse:
        return &openverse;
    case Source::Commons:
        return &commons;
    case Source::Pexels:
        return &pexels;
    case Source::Pixabay:
        return &pixabay;
    case Source::ContextualWeb:
        break;
    }
    return nullptr;
}

} // namespace Sources
