#include "fetch/sources/source.h"

#include "base/environment.h"
#include "base/error_report.h"
#include "base/file_routines.h"
#include "build_config.h"
#include "fetch/curl_config.h"
#include "fetch/curl_session.h"
#include "fetch/limits.h"
#include "fetch/run_report.h"

#include <QFileInfo>

namespace Sources {

namespace {

// One source as the program knows it. The dialog's texts may name the key page as "{key page}" and
// the sample key as "{sample key}".
struct Description {
    Source source;
    const char* storedName;
    const char* caption;
    bool needsKey;
    SettingKey keySetting;
    double requestSpacing; // seconds between two requests, as designed
    const char* site;
    bool downloadsNameProgram; // picture downloads carry programUserAgent()
    // The key dialog's texts.
    const char* intro;
    const char* keyName;
    const char* keyPage;
    const char* instructions;
    const char* keyHelp;
};

// Openverse allows anonymous programs about 20 requests a minute; Pexels 200 an hour; Pixabay 100
// a minute; Commons asks for one request at a time, and that programs name themselves.
const Description Descriptions[] = {
    {Source::ContextualWeb, "contextualweb", "Contextual Web Search (RapidAPI key)", true, SettingKey::ApiKey,
     0, "", false,
     "This software uses the RapidAPI/contextualwebsearch as the backbone for image search. Therefore you "
     "must obtain your own RapidAPI/contextualwebsearch key to use this software.",
     "RapidAPI", "https://rapidapi.com/contextualwebsearch/api/web-search",
     "Go to {key page}\rClick 'Subscribe to Test' to login\rClick the Pricing tab and select the 'Basic' "
     "(free) plan\r\nLook at the 'Code Snippets' on the bottom right part of the website\rLook for "
     "x-rapidapi-key and look at the long key next to it.\rYour key should look like\r{sample key}\rPaste "
     "this key into this software.",
     "Your key should look similar to, but not exactly, like this:\r\r{sample key}"},
    {Source::Openverse, "openverse", "Openverse (no key needed)", false, SettingKey::ApiKey, 3,
     "openverse.org", false,
     "This software can search Openverse, a catalogue of openly licensed pictures. Openverse needs no "
     "key: just start downloading.",
     "Openverse", "https://openverse.org/",
     "Openverse needs no key.\rWithout a key it answers about 20 searches a minute and 200 a day, and up "
     "to 240 pictures per keyword.\rEvery picture comes with its creator and licence (see credits.csv in "
     "the folder).",
     "Openverse needs no key."},
    {Source::Commons, "commons", "Wikimedia Commons (no key needed)", false, SettingKey::ApiKey, 1,
     "commons.wikimedia.org", true,
     "This software can search Wikimedia Commons, the free media collection of Wikipedia. Wikimedia "
     "Commons needs no key: just start downloading.",
     "Wikimedia Commons", "https://commons.wikimedia.org/",
     "Wikimedia Commons needs no key.\rEvery picture comes with its creator and licence (see credits.csv "
     "in the folder).",
     "Wikimedia Commons needs no key."},
    {Source::Pexels, "pexels", "Pexels (free key)", true, SettingKey::PexelsKey, 1, "pexels.com", false,
     "This software can search Pexels for free photos. Pexels asks for a free key of your own: get one "
     "and paste it below.",
     "Pexels", "https://www.pexels.com/api/",
     "Go to {key page}\rLog in or create a free account, then request your free API key\rYour key is "
     "shown on that page\rPaste this key into this software.",
     "Your Pexels key is the long line of letters and digits shown on {key page} once you are logged in. "
     "Paste it as it is."},
    {Source::Pixabay, "pixabay", "Pixabay (free key)", true, SettingKey::PixabayKey, 1, "pixabay.com", false,
     "This software can search Pixabay for free photos. Pixabay asks for a free key of your own: get one "
     "and paste it below.",
     "Pixabay", "https://pixabay.com/api/docs/",
     "Go to {key page}\rLog in or create a free account\rYour key is shown on that page, under "
     "'Parameters' (key)\rPaste this key into this software.",
     "Your Pixabay key is shown on {key page} once you are logged in. Paste it as it is."},
    // Each member keeps its own spacing; the end of a run names the sites of those it asked.
    {Source::Free, "free", "All free sources (no key needed)", false, SettingKey::ApiKey, 0,
     "openverse.org, commons.wikimedia.org, pexels.com and pixabay.com", false,
     "This software can search all free sources at once: Openverse and Wikimedia Commons, and Pexels "
     "and Pixabay once their keys are entered. No key is needed: just start downloading.",
     "All Free Sources", "https://openverse.org/",
     "All free sources at once needs no key.\rEach keyword is asked of Openverse and Wikimedia Commons, "
     "and of Pexels and Pixabay when their keys are entered (choose them in this list to enter one).\r"
     "The pictures are taken from each source in turn; a source that fails is left out for the rest of "
     "the run.\rEvery picture comes with its source, creator and licence (see credits.csv in the folder).",
     "All free sources need no key."},
};

const Description& describe(Source source) {
    for (const Description& d : Descriptions)
        if (d.source == source)
            return d;
    return Descriptions[0];
}

} // namespace

QVector<Source> members(Source choice) {
    if (choice == Source::Free)
        return {Source::Openverse, Source::Commons, Source::Pexels, Source::Pixabay};
    return {choice};
}

bool isMix(Source choice) {
    return choice == Source::Free;
}

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

SettingKey keySetting(Source source) {
    return describe(source).keySetting;
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

QString downloadUserAgent(Source source) {
    return describe(source).downloadsNameProgram ? programUserAgent() : QString();
}

QString sampleKey() {
    return QStringLiteral("q7m2x9k4w1c8r5t0b3n6h2j9d4f7g1l5p8s3v0z6y2e9a4u7i1");
}

DialogTexts dialogTexts(Source source) {
    const Description& d = describe(source);
    const QString page = QString::fromLatin1(d.keyPage);
    const auto filled = [&](const char* text) {
        return QString::fromLatin1(text)
            .replace(QLatin1String("{key page}"), page)
            .replace(QLatin1String("{sample key}"), sampleKey());
    };
    return {QString::fromLatin1(d.intro), QString::fromLatin1(d.keyName), page, filled(d.instructions),
            filled(d.keyHelp)};
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

int pageSize(int countPerKeyword) {
    if (countPerKeyword <= 10)
        return 25;
    const int size = countPerKeyword + (3 * countPerKeyword) / 2;
    return size >= 50 ? 50 : size;
}

QStringList limitArguments() {
    return {QStringLiteral("--connect-timeout"),
            QString::number(Limits::ConnectSeconds),
            QStringLiteral("--speed-limit"),
            QString::number(Limits::StallBytesPerSecond),
            QStringLiteral("--speed-time"),
            QString::number(Limits::stallSeconds()),
            QStringLiteral("--max-time"),
            QString::number(Limits::SearchSeconds),
            QStringLiteral("--max-filesize"),
            QString::number(Limits::SearchAnswerBytes),
            QStringLiteral("-sS"),
            QStringLiteral("--write-out"),
            QStringLiteral("%{http_code}\\n%header{retry-after}\\n")};
}

ToolCommand toolCommand(const CurlSession& curl, const SourceRequest& request) {
    ToolCommand command;
    command.program = curl.program();
    command.arguments = curl.commonArguments() + limitArguments();
    command.arguments << QStringLiteral("--globoff") << QStringLiteral("-K") << QStringLiteral("-")
                      << QStringLiteral("--output") << curl.responseFile();
    command.standardInput = request.curlConfig;
    command.fileSizeLimit = Limits::SearchAnswerBytes;
    return command;
}

bool answerTooLarge(int curlExit, const QString& answerFile) {
    constexpr int AnnouncedTooLarge = 63; // curl: "Maximum file size exceeded"
    constexpr int WriteFailed = 23;
    return curlExit == AnnouncedTooLarge ||
           (curlExit == WriteFailed && QFileInfo(answerFile).size() >= Limits::SearchAnswerBytes);
}

PageQuery nextQuery(const PageQuery& asked, const SourceAnswer& answer) {
    PageQuery next = asked;
    next.page = answer.nextPage;
    next.offset = answer.nextOffset;
    return next;
}

ToolCommand ImageSource::command(const CurlSession& curl, const SourceRequest& request) const {
    return toolCommand(curl, request);
}

QByteArray ImageSource::readAnswerFile(const QString& path) const {
    return Main::ReadFileBytes(path, Limits::SearchAnswerBytes);
}

SourceAnswer ImageSource::readInRun(const QByteArray& answer, int httpStatus, const PageQuery& asked,
                                    ErrorTrap&, bool) {
    return read(answer, httpStatus, asked);
}

AnswerProblem ImageSource::problem(const SourceAnswer& answer, int httpStatus) const {
    AnswerProblem problem;
    const QString name = shownName(source());
    if (answer.kind == SourceAnswer::Kind::Error) {
        const QString said = answer.message.isEmpty() ? RunTexts::serviceError(httpStatus) : answer.message;
        problem.message = name + QStringLiteral(": ") + said;
        // Pixabay answers a wrong key with 400 and says so.
        problem.refusesAll = httpStatus == 401 || httpStatus == 403 || httpStatus == 429 ||
                             (httpStatus == 400 && said.contains(QLatin1String("key"), Qt::CaseInsensitive));
    } else {
        problem.message = name + QStringLiteral(": the answer could not be read (HTTP %1).").arg(httpStatus);
    }
    return problem;
}

KeyTestResult ImageSource::keyTest(const QByteArray& bytes, int httpStatus, const PageQuery& asked,
                                   Prompts&) const {
    const SourceAnswer answer = read(bytes, httpStatus, asked);
    const bool keyed = needsKey(source());
    if (answer.kind == SourceAnswer::Kind::Results)
        return {KeyVerdict::Valid, keyed ? RunTexts::keyValid() : RunTexts::sourceWorks(shownName(source()))};
    if (answer.kind == SourceAnswer::Kind::Unreadable || httpStatus >= 500)
        return {KeyVerdict::Unreachable, RunTexts::serviceError(httpStatus)};
    if (httpStatus == 429 || !keyed)
        return {KeyVerdict::Refused,
                answer.message.isEmpty() ? RunTexts::serviceError(httpStatus) : answer.message};
    return {KeyVerdict::Refused, RunTexts::keyInvalid(answer.message)};
}

int ImageSource::pageSizeFor(const PageQuery& query) const {
    return qBound(smallestPageSize(), query.pageSize, largestPageSize());
}

bool honours(Source source, LicenceChoice choice) {
    return choice == LicenceChoice::Any || source != Source::ContextualWeb;
}

QVector<Source> sourcesHonouring(LicenceChoice choice) {
    QVector<Source> out;
    for (const Source source : Choices)
        if (honours(source, choice))
            out << source;
    return out;
}

QString licenceRefusal(Source source, LicenceChoice choice) {
    if (honours(source, choice))
        return QString();
    QStringList names;
    for (const Source s : sourcesHonouring(choice))
        names << shownName(s);
    return QStringLiteral("%1 tells no licence of its pictures, so it cannot keep to \"%2\". The sources "
                          "that tell it: %3.")
        .arg(shownName(source), caption(choice), names.join(QStringLiteral(", ")));
}

} // namespace Sources
