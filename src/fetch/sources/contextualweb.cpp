#include "fetch/sources/contextualweb.h"

#include "base/error_report.h"
#include "build_config.h"
#include "fetch/curl_config.h"
#include "fetch/curl_session.h"
#include "fetch/limits.h"
#include "fetch/response_scan.h"
#include "fetch/run_report.h"
#include "fetch/sources/answer_fields.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>

namespace UrLenc {

namespace {

void appendByte(QString& out, unsigned byte) {
    static const char hex[] = "0123456789ABCDEF";
    const bool letterOrDigit =
        (byte >= '0' && byte <= '9') || (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z');
    if (letterOrDigit) {
        out.append(QLatin1Char(static_cast<char>(byte)));
        return;
    }
    out.append(QLatin1Char('%'));
    out.append(QLatin1Char(hex[(byte >> 4) & 0xF]));
    out.append(QLatin1Char(hex[byte & 0xF]));
}

} // namespace

QString URLEncode(const QString& text) {
    QString out;
    out.reserve(text.size() * 3);
    for (const QChar c : text) {
        const unsigned v = c.unicode();
        if (v < 128) {
            appendByte(out, v);
        } else if (v < 2048) {
            appendByte(out, 0xC0 + ((v / 64) & 0x1F));
            appendByte(out, 0x80 + (v & 0x3F));
        } else {
            appendByte(out, 0xE0 + ((v / 4096) & 0x0F));
            appendByte(out, 0x80 + ((v / 64) & 0x3F));
            appendByte(out, 0x80 + (v & 0x3F));
        }
    }
    return out;
}

} // namespace UrLenc

namespace Search {

namespace {

const QString SearchPath = QStringLiteral("/api/Search/ImageSearchAPI");

QString address(const QString& host, const QString& keyword, int pageNumber, int pageSize) {
    return QStringLiteral("https://") + host + SearchPath + QStringLiteral("?q=") +
           UrLenc::URLEncode(keyword) + QStringLiteral("&pageNumber=") + QString::number(pageNumber) +
           QStringLiteral("&pageSize=") + QString::number(pageSize) + QStringLiteral("&autoCorrect=true");
}

Sources::SourceRequest requestFor(const QString& keyword, int pageNumber, int pageSize, const QString& key) {
    const QString host = ServiceHost();
    const QString searched = address(host, keyword, pageNumber, pageSize);
    return {searched, searched, HeaderConfig(host, key)};
}

} // namespace

QString ServiceHost() {
    return Sources::host(QString::fromUtf8(BuildConfig::ServiceHost));
}

QByteArray HeaderConfig(const QString& host, const QString& key) {
    return CurlConfig::line("header", QStringLiteral("x-rapidapi-host: ") + host) +
           CurlConfig::line("header", QStringLiteral("x-rapidapi-key: ") + key);
}

ToolCommand SearchCommand(const CurlSession& curl, const QString& keyword, int pageNumber, int pageSize,
                          const QString& key) {
    return Sources::ContextualWebSource().command(curl, requestFor(keyword, pageNumber, pageSize, key));
}

QString SearchCommandText(const CurlSession& curl, const QString& keyword, int pageNumber, int pageSize,
                          const QString& key) {
    const QString host = ServiceHost();
    const QChar q('"');
    return curl.command() + QStringLiteral(" ") + QStringLiteral(" -X GET  ") + QStringLiteral(" ") + q +
           address(host, keyword, pageNumber, pageSize) + q + QStringLiteral(" --header ") + q +
           QStringLiteral("x-rapidapi-host: ") + host + q + QStringLiteral(" ") +
           QStringLiteral(" --header ") + q + QStringLiteral("x-rapidapi-key: ") + key + q +
           QStringLiteral("  --output ") + q + curl.responseFile() + q;
}

} // namespace Search

namespace Sources {

namespace {

// A text field of one result: the JSON string after "KEY": within `item`, decoded; "" when the
// item has none.
QString itemText(QStringView item, QLatin1String key) {
    const QString marker = QLatin1Char('"') + key + QStringLiteral("\":\"");
    const qsizetype start = item.indexOf(marker);
    if (start < 0)
        return {};
    qsizetype end = start + marker.size();
    while (end < item.size() && item.at(end) != QLatin1Char('"'))
        end += item.at(end) == QLatin1Char('\\') ? 2 : 1;
    if (end >= item.size())
        return {};
    const QString quoted = item.mid(start + marker.size() - 1, end - start - marker.size() + 2).toString();
    const QJsonArray decoded =
        QJsonDocument::fromJson((QLatin1Char('[') + quoted + QLatin1Char(']')).toUtf8()).array();
    return AnswerFields::text(decoded.at(0));
}

// The answer's results, scanned one by one as they are taken, at most as many as were asked for
// (an answer may hold more). The answer names each picture's page and title after the picture's
// address: they are read for the credits list.
class ScannedResults : public ResultFeed {
public:
    ScannedResults(const QString& text, int asked, bool credits,
                   std::shared_ptr<CurlFunctions::ImageResult> scanned)
        : scanner_(text)
        , left_(asked)
        , credits_(credits)
        , scanned_(std::move(scanned)) {}

    Step next(Candidate& candidate) override {
        using Scan = CurlFunctions::ResultScanner::Step;
        if (left_ <= 0)
            return Step::Over;
        --left_;
        const Scan step = scanner_.next(*scanned_);
        if (step == Scan::Over)
            return Step::Over;
        candidate.image = *scanned_;
        candidate.credits = Credits();
        if (step == Scan::Found && credits_) {
            // The result's fields run from its address to the next result's address.
            const QString& text = scanner_.text();
            const qsizetype from = scanner_.position();
            qsizetype to = text.indexOf(QLatin1String("\"url\":"), from);
            if (to < 0)
                to = text.size();
            const QStringView item = QStringView(text).mid(from, to - from);
            candidate.credits.title = itemText(item, QLatin1String("title"));
            candidate.credits.sourcePage = AnswerFields::address(itemText(item, QLatin1String("webpageUrl")));
        }
        return step == Scan::Found ? Step::Found : Step::Skipped;
    }

private:
    CurlFunctions::ResultScanner scanner_;
    int left_;
    bool credits_;
    std::shared_ptr<CurlFunctions::ImageResult> scanned_;
};

// An answer as the run reads it. `step` runs the steps that report under their own numbers.
using Step = std::function<void(int statement, const std::function<void()>& body)>;

SourceAnswer answerOf(const QString& text, int asked, bool credits,
                      const std::shared_ptr<CurlFunctions::ImageResult>& scanned, Prompts* prompts,
                      const Step& step) {
    SourceAnswer answer;
    if (CurlFunctions::IsImageAnswer(text)) {
        answer.kind = SourceAnswer::Kind::Results;
        if (!CurlFunctions::HasTotal(text))
            return answer; // no results to scan
        qint32 total = 0;
        step(142, [&] { total = CurlFunctions::ReadTotal(text, prompts); });
        answer.total = std::max<qint32>(total, 0);
        if (total >= 1)
            answer.feed = std::make_shared<ScannedResults>(text, asked, credits, scanned);
    } else if (CurlFunctions::HasServiceMessage(text)) {
        answer.kind = SourceAnswer::Kind::Error;
        step(162, [&] { answer.message = CurlFunctions::ServiceMessage(text, prompts); });
    }
    return answer;
}

} // namespace

SourceRequest ContextualWebSource::request(const PageQuery& query) const {
    return Search::requestFor(query.keyword, query.page, pageSizeFor(query), query.key);
}

ToolCommand ContextualWebSource::command(const CurlSession& curl, const SourceRequest& request) const {
    ToolCommand command;
    command.program = curl.program();
    command.arguments = curl.commonArguments() + limitArguments();
    command.arguments << QStringLiteral("-X") << QStringLiteral("GET") << request.address
                      << QStringLiteral("-K") << QStringLiteral("-") << QStringLiteral("--output")
                      << curl.responseFile();
    command.standardInput = request.curlConfig;
    command.fileSizeLimit = Limits::SearchAnswerBytes;
    return command;
}

QByteArray ContextualWebSource::readAnswerFile(const QString& path) const {
    return CurlFunctions::ReadResponseBytes(path);
}

SourceAnswer ContextualWebSource::read(const QByteArray& answer, int, const PageQuery& asked) const {
    return answerOf(QString::fromUtf8(answer), pageSizeFor(asked), true,
                    std::make_shared<CurlFunctions::ImageResult>(), nullptr,
                    [](int, const std::function<void()>& body) { body(); });
}

SourceAnswer ContextualWebSource::readInRun(const QByteArray& answer, int, const PageQuery& asked,
                                            ErrorTrap& trap, bool credits) {
    return answerOf(QString::fromUtf8(answer), pageSizeFor(asked), credits, scanned_, &trap.prompts(),
                    [&](int statement, const std::function<void()>& body) { trap(statement, body); });
}

AnswerProblem ContextualWebSource::problem(const SourceAnswer& answer, int httpStatus) const {
    AnswerProblem problem;
    // A service still busy after the retries is busy for the next keyword too.
    problem.refusesAll = httpStatus == 429;
    if (answer.kind == SourceAnswer::Kind::Error)
        problem.message = answer.message;
    else if (httpStatus < 200 || httpStatus > 299)
        problem.httpStatus = httpStatus;
    return problem;
}

KeyTestResult ContextualWebSource::keyTest(const QByteArray& bytes, int httpStatus, const PageQuery&,
                                           Prompts& prompts) const {
    const QString text = QString::fromUtf8(bytes);
    if (CurlFunctions::IsImageAnswer(text))
        return {KeyVerdict::Valid, RunTexts::keyValid()};
    if (!CurlFunctions::HasServiceMessage(text) && httpStatus >= 500)
        return {KeyVerdict::Unreachable, RunTexts::serviceError(httpStatus)};
    return {KeyVerdict::Refused, RunTexts::keyInvalid(CurlFunctions::ServiceMessage(text, &prompts))};
}

} // namespace Sources
