#include "fetch/download_command.h"

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

QString DownloadCommandText(const QString& address, const QString& target) {
    return CurlFunctions::CurlCommand + QStringLiteral(" ") + QStringLiteral(" -X GET --user-agent ") +
           quoted(UserAgent()) + QStringLiteral(" --connect-timeout 30 --max-time 60 ") +
           QStringLiteral(" -F \"type=image\" ") + quoted(address) + QStringLiteral(" -L --output ") +
           quoted(target);
}

ToolCommand DownloadCommand(const QString& address, const QString& target) {
    ToolCommand command;
    command.program = CurlFunctions::CurlProgram();
    command.arguments = CurlFunctions::CommonArguments();
    command.arguments << QStringLiteral("-X") << QStringLiteral("GET") << QStringLiteral("--user-agent")
                      << UserAgent() << QStringLiteral("--connect-timeout") << QStringLiteral("30")
                      << QStringLiteral("--max-time") << QStringLiteral("60") << QStringLiteral("-F")
                      << QStringLiteral("type=image") << QStringLiteral("--proto")
                      << QStringLiteral("=http,https") << QStringLiteral("--proto-redir")
                      << QStringLiteral("=http,https") << QStringLiteral("--globoff") << QStringLiteral("-L")
                      << QStringLiteral("--output") << target << QStringLiteral("--") << address;
    return command;
}

} // namespace Download
