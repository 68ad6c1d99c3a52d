#include "fetch/download_command.h"

#include "fetch/curl_session.h"
#include "fetch/limits.h"

namespace Download {

QString UserAgent() {
    return QStringLiteral(
        "Mozilla/5.0 (Macintosh; Intel Mac OS X 10_10_3) AppleWebKit/537.36 (KHTML, like Gecko) "
        "Chrome/44.0.2403.89 Safari/537.36");
}

namespace {
QString quoted(const QString& text) {
    return QLatin1Char('"') + text + QLatin1Char('"');
}
} // namespace

QString DownloadCommandText(const CurlSession& curl, const QString& address, const QString& target) {
    return curl.command() + QStringLiteral(" ") + QStringLiteral(" -X GET --user-agent ") +
           quoted(UserAgent()) +
           QStringLiteral(" --connect-timeout %1 --max-time 60 ").arg(Limits::DownloadConnectSeconds) +
           quoted(address) + QStringLiteral(" --output ") + quoted(target);
}

ToolCommand DownloadCommand(const CurlSession& curl, const QString& address, const QString& target,
                            const QString& connectTo, const QString& userAgent) {
    ToolCommand command;
    command.program = curl.program();
    command.arguments = curl.commonArguments();
    command.arguments << QStringLiteral("-X") << QStringLiteral("GET") << QStringLiteral("--user-agent")
                      << (userAgent.isEmpty() ? UserAgent() : userAgent)
                      << QStringLiteral("--connect-timeout")
                      << QString::number(Limits::DownloadConnectSeconds) << QStringLiteral("--max-time")
                      << QStringLiteral("60") << QStringLiteral("--proto") << QStringLiteral("=http,https")
                      << QStringLiteral("--globoff") << QStringLiteral("--speed-limit")
                      << QString::number(Limits::StallBytesPerSecond) << QStringLiteral("--speed-time")
                      << QString::number(Limits::stallSeconds()) << QStringLiteral("--max-filesize")
                      << QString::number(Limits::DownloadBytes) << QStringLiteral("-sS")
                      << QStringLiteral("--write-out") << QString::fromLatin1(WriteOut);
    if (!connectTo.isEmpty())
        command.arguments << QStringLiteral("--connect-to") << connectTo;
    command.arguments << QStringLiteral("--output") << target << QStringLiteral("--") << address;
    command.fileSizeLimit = Limits::DownloadBytes;
    return command;
}

} // namespace Download
