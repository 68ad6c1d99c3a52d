#include "fetch/search_request.h"

#include "base/error_report.h"
#include "base/file_routines.h"
#include "base/globals.h"
#include "base/prompts.h"
#include "base/settings_store.h"
#include "base/surface.h"
#include "base/waiting.h"
#include "build_config.h"
#include "fetch/curl_config.h"
#include "fetch/curl_session.h"
#include "fetch/limits.h"
#include "fetch/pace.h"
#include "fetch/picture_fetch.h"
#include "fetch/response_scan.h"
#include "fetch/run_report.h"
#include "fetch/sources/source.h"

#include <QFileInfo>

#include <optional>

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

} // namespace

QString ServiceHost() {
    return Sources::host(QString::fromUtf8(BuildConfig::ServiceHost));
}

int PageSize(int countPerKeyword) {
    if (countPerKeyword <= 10)
        return 25;
    const int size = countPerKeyword + (3 * countPerKeyword) / 2;
    return size >= 50 ? 50 : size;
}

QByteArray HeaderConfig(const QString& host, const QString& key) {
    return CurlConfig::line("header", QStringLiteral("x-rapidapi-host: ") + host) +
           CurlConfig::line("header", QStringLiteral("x-rapidapi-key: ") + key);
}

ToolCommand SearchCommand(const CurlSession& curl, const QString& keyword, int pageNumber, int pageSize) {
    return SearchCommand(curl, keyword, pageNumber, pageSize, SettingsStore::read(SettingKey::ApiKey));
}

ToolCommand SearchCommand(const CurlSession& curl, const QString& keyword, int pageNumber, int pageSize,
                          const QString& key) {
    const QString host = ServiceHost();
    ToolCommand command;
    command.program = curl.program();
    command.arguments = curl.commonArguments() + LimitArguments();
    command.arguments << QStringLiteral("-X") << QStringLiteral("GET")
                      << address(host, keyword, pageNumber, pageSize) << QStringLiteral("-K")
                      << QStringLiteral("-") << QStringLiteral("--output") << curl.responseFile();
    command.standardInput = HeaderConfig(host, key);
    command.fileSizeLimit = Limits::SearchAnswerBytes;
    return command;
}

QStringList LimitArguments() {
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

bool AnswerTooLarge(int curlExit, const QString& answerFile) {
    constexpr int AnnouncedTooLarge = 63; // curl: "Maximum file size exceeded"
    constexpr int WriteFailed = 23;
    return curlExit == AnnouncedTooLarge ||
           (curlExit == WriteFailed && QFileInfo(answerFile).size() >= Limits::SearchAnswerBytes);
}

ToolCommand KeyTestCommand(const CurlSession& curl) {
    return SearchCommand(curl, QStringLiteral("city"), 1, 4);
}

QString SearchCommandText(const CurlSession& curl, const QString& keyword, int pageNumber, int pageSize) {
    const QString host = ServiceHost();
    const QChar q('"');
    return curl.command() + QStringLiteral(" ") + QStringLiteral(" -X GET  ") + QStringLiteral(" ") + q +
           address(host, keyword, pageNumber, pageSize) + q + QStringLiteral(" --header ") + q +
           QStringLiteral("x-rapidapi-host: ") + host + q + QStringLiteral(" ") +
           QStringLiteral(" --header ") + q + QStringLiteral("x-rapidapi-key: ") +
           SettingsStore::read(SettingKey::ApiKey) + q + QStringLiteral("  --output ") + q +
           curl.responseFile() + q;
}

QString KeyValidText() {
    return QStringLiteral("Congratulations! Your API Key is valid and working.");
}

QString KeyInvalidText(const QString& serviceMessage) {
    return QStringLiteral("Incorrect. Please check your API key.") + QStringLiteral("\r\n\r\n") +
           serviceMessage;
}

QString SourceWorksText(Sources::Source source) {
    return Sources::shownName(source) + QStringLiteral(" answered: it works, and needs no key.");
}

namespace {

struct Verdict {
    KeyVerdict verdict = KeyVerdict::Unreachable;
    QString text;
};

// A key is only blamed when the service answered: a search that never reached it says so.
Verdict Failed(int exitCode, const ToolOutput& output, const QString& answerFile) {
    return {KeyVerdict::Unreachable, RunTexts::searchFailed(PictureFetch::curlErrorText(exitCode, output),
                                                            AnswerTooLarge(exitCode, answerFile))};
}

Verdict OriginalVerdict(int exitCode, const ToolOutput& output, const QString& text, Prompts& prompts,
                        const QString& answerFile) {
    if (exitCode != 0 || output.crashed)
        return Failed(exitCode, output, answerFile);
    if (CurlFunctions::IsImageAnswer(text))
        return {KeyVerdict::Valid, KeyValidText()};
    const int status = PictureFetch::httpStatus(output);
    if (!CurlFunctions::HasServiceMessage(text) && status >= 500)
        return {KeyVerdict::Unreachable, RunTexts::serviceError(status)};
    return {KeyVerdict::Refused, KeyInvalidText(CurlFunctions::ServiceMessage(text, &prompts))};
}

Verdict SourceVerdict(Sources::Source source, int exitCode, const ToolOutput& output, const QByteArray& bytes,
                      const Sources::PageQuery& query, const QString& answerFile) {
    if (exitCode != 0 || output.crashed)
        return Failed(exitCode, output, answerFile);
    const int status = PictureFetch::httpStatus(output);
    const Sources::SourceAnswer answer = Sources::adapter(source)->read(bytes, status, query);
    if (answer.kind == Sources::SourceAnswer::Kind::Results)
        return {KeyVerdict::Valid, Sources::needsKey(source) ? KeyValidText() : SourceWorksText(source)};
    if (answer.kind == Sources::SourceAnswer::Kind::Unreadable || status >= 500)
        return {KeyVerdict::Unreachable, RunTexts::serviceError(status)};
    if (status == 429 || !Sources::needsKey(source))
        return {KeyVerdict::Refused,
                answer.message.isEmpty() ? RunTexts::serviceError(status) : answer.message};
    return {KeyVerdict::Refused, KeyInvalidText(answer.message)};
}

// The test with `key`; `keyFieldText` is what the person typed (only its emptiness matters).
KeyVerdict TestKey(RunObserver& observer, ErrorTrap& trap, Sources::Source source,
                   const QString& keyFieldText, const QString& key) {
    if (Globals::RunBusy) {
        trap(100, [&] { observer.setPointer(Surface::Default); });
        return KeyVerdict::NotRun;
    }

    // Whatever happens below, the busy mark is cleared and the private folder removed, also when a
    // wait unwinds because the program is ending.
    Globals::RunBusy = true;
    struct Busy {
        ~Busy() { Globals::RunBusy = false; }
    } busy;
    std::optional<CurlSession> curl;

    trap(102, [&] { observer.setPointer(Surface::Hourglass); });
    if (keyFieldText.isEmpty() && Sources::needsKey(source)) {
        trap(104, [&] { observer.showMessage(QStringLiteral("You must enter your API Key first.")); });
        Globals::RunBusy = false;
        if (!trap.ended())
            trap(106, [&] { observer.setPointer(Surface::Default); });
        return KeyVerdict::NotRun;
    }

    const Sources::ImageSource* adapter = Sources::adapter(source);
    const Sources::PageQuery query{QStringLiteral("city"), 1, 0, 4, key};
    Verdict verdict;
    int exitCode = Shell32::StartErrorBase + 53; // no session: curl could not be started
    ToolOutput output;
    QString text;
    QByteArray bytes;
    trap(108, [&] { curl.emplace(); });
    if (curl) {
        trap(110, [&] {
            const ToolCommand command = adapter ? Sources::toolCommand(*curl, adapter->request(query))
                                                : SearchCommand(*curl, query.keyword, 1, 4, key);
            exitCode = Shell32::RunAndWait(command, 0, nullptr, QString(), 0, 0, 0, &output);
        });
        trap(112, [&] {
            if (adapter)
                bytes = Main::ReadFileBytes(curl->responseFile(), Limits::SearchAnswerBytes);
            else
                text = CurlFunctions::ReadResponse(curl->responseFile());
        });
    }
    trap(114, [&] {
        const QString answerFile = curl ? curl->responseFile() : QString();
        verdict = adapter ? SourceVerdict(source, exitCode, output, bytes, query, answerFile)
                          : OriginalVerdict(exitCode, output, text, trap.prompts(), answerFile);
    });
    trap(116, [&] { curl.reset(); });
    trap(118, [&] { Main::PauseSeconds(Pace::seconds(1.0)); });
    trap(120, [&] { observer.setPointer(Surface::Default); });
    trap(122, [&] { observer.showMessage(verdict.text); });
    Globals::RunBusy = false;
    trap(124, [&] { observer.setPointer(Surface::Default); });
    if (!trap.ended())
        observer.ended();
    return verdict.verdict;
}

} // namespace

KeyVerdict KeyTest(RunObserver& observer, ErrorTrap& trap, const QString& keyFieldText) {
    // The dialog stores the field on every change; the request sends what is stored.
    return TestKey(observer, trap, Sources::Source::ContextualWeb, keyFieldText,
                   SettingsStore::read(SettingKey::ApiKey));
}

KeyVerdict KeyTest(RunObserver& observer, ErrorTrap& trap, Sources::Source source, const QString& key) {
    return TestKey(observer, trap, source, key, key);
}

} // namespace Search
