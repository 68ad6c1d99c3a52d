#include "fetch/search_request.h"

#include "build_config.h"
#include "fetch/curl_config.h"
#include "fetch/limits.h"
#include "fetch/pace.h"
#include "fetch/picture_fetch.h"
#include "fetch/response_scan.h"
#include "fetch/run_report.h"
#include "fetch/sources/source.h"
#include "shell/error_report.h"
#include "shell/globals.h"
#include "shell/prompts.h"
#include "shell/settings_store.h"
#include "shell/surface.h"
#include "shell/waiting.h"

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

ToolCommand SearchCommand(const QString& keyword, int pageNumber, int pageSize) {
    const QString host = ServiceHost();
    ToolCommand command;
    command.program = CurlFunctions::CurlProgram();
    command.arguments = CurlFunctions::CommonArguments() + LimitArguments();
    command.arguments << QStringLiteral("-X") << QStringLiteral("GET")
                      << address(host, keyword, pageNumber, pageSize) << QStringLiteral("-K")
                      << QStringLiteral("-") << QStringLiteral("--output") << CurlFunctions::ResponseFile;
    command.standardInput = HeaderConfig(host, SettingsStore::read(QStringLiteral("SID")));
    command.fileSizeLimit = Limits::SearchAnswerBytes;
    return command;
}

QStringList LimitArguments() {
    return {QStringLiteral("--connect-timeout"),
            QString::number(Limits::ConnectSeconds),
            QStringLiteral("--speed-limit"),
            QString::number(Limits::StallBytesPerSecond),
            QStringLiteral("--speed-time"),
            QString::number(Limits::StallSeconds),
            QStringLiteral("--max-time"),
            QString::number(Limits::SearchSeconds),
            QStringLiteral("--max-filesize"),
            QString::number(Limits::SearchAnswerBytes),
            QStringLiteral("-sS"),
            QStringLiteral("--write-out"),
            QStringLiteral("%{http_code}")};
}

ToolCommand KeyTestCommand() {
    return SearchCommand(QStringLiteral("city"), 1, 4);
}

QString SearchCommandText(const QString& keyword, int pageNumber, int pageSize) {
    const QString host = ServiceHost();
    const QChar q('"');
    return CurlFunctions::CurlCommand + QStringLiteral(" ") + QStringLiteral(" -X GET  ") +
           QStringLiteral(" ") + q + address(host, keyword, pageNumber, pageSize) + q +
           QStringLiteral(" --header ") + q + QStringLiteral("x-rapidapi-host: ") + host + q +
           QStringLiteral(" ") + QStringLiteral(" --header ") + q + QStringLiteral("x-rapidapi-key: ") +
           SettingsStore::read(QStringLiteral("SID")) + q + QStringLiteral("  --output ") + q +
           CurlFunctions::ResponseFile + q;
}

QString KeyValidText() {
    return QStringLiteral("Congratulations! Your API Key is valid and working.");
}

QString KeyInvalidText(const QString& serviceMessage) {
    return QStringLiteral("Incorrect. Please check your API key.") + QStringLiteral("\r\n\r\n") +
           serviceMessage;
}

namespace {

// A key is only blamed when the service answered: a search that never reached it says so.
QString KeyVerdict(int exitCode, const ToolOutput& output, const QString& text, Prompts& prompts) {
    if (exitCode != 0 || output.crashed)
        return RunTexts::unreachable(PictureFetch::curlErrorText(exitCode, output));
    if (CurlFunctions::IsImageAnswer(text))
        return KeyValidText();
    const int status = PictureFetch::httpStatus(output);
    if (!CurlFunctions::HasServiceMessage(text) && status >= 500)
        return RunTexts::serviceError(status);
    return KeyInvalidText(CurlFunctions::ServiceMessage(text, &prompts));
}

} // namespace

void KeyTest(Prompts& prompts, const std::function<void(int)>& setPointer, const QString& keyFieldText) {
    ErrorTrap trap(prompts, QStringLiteral("Form3.PushButton3_Click"));
    if (Globals::RunBusy) {
        trap(100, [&] { setPointer(Surface::Default); });
        return;
    }

    // Whatever happens below, the busy mark is cleared and the private folder removed, also when a
    // wait unwinds because the program is ending.
    Globals::RunBusy = true;
    struct Busy {
        ~Busy() { Globals::RunBusy = false; }
    } busy;
    CurlFunctions::CurlScope scope;

    trap(102, [&] { setPointer(Surface::Hourglass); });
    if (keyFieldText.isEmpty()) {
        trap(104, [&] { prompts.tell(QStringLiteral("You must enter your API Key first.")); });
        Globals::RunBusy = false;
        if (!trap.ended())
            trap(106, [&] { setPointer(Surface::Default); });
        return;
    }

    QString text;
    QString verdict;
    int exitCode = 0;
    ToolOutput output;
    trap(108, [&] { CurlFunctions::ExtractCurl(); });
    trap(110,
         [&] { exitCode = Shell32::RunAndWait(KeyTestCommand(), 0, nullptr, QString(), 0, 0, 0, &output); });
    trap(112, [&] { text = CurlFunctions::ReadResponse(CurlFunctions::ResponseFile); });
    trap(114, [&] { verdict = KeyVerdict(exitCode, output, text, prompts); });
    trap(116, [&] { CurlFunctions::RemoveCurl(); });
    trap(118, [&] { Main::PauseSeconds(Pace::seconds(1.0)); });
    trap(120, [&] { setPointer(Surface::Default); });
    trap(122, [&] { prompts.tell(verdict); });
    Globals::RunBusy = false;
    trap(124, [&] { setPointer(Surface::Default); });
}

} // namespace Search
