#include "fetch/picture_fetch.h"

#include "base/waiting.h"
#include "fetch/address_check.h"
#include "fetch/download_command.h"
#include "fetch/limits.h"
#include "fetch/pace.h"
#include "fetch/retry.h"

#include <QFileInfo>

namespace PictureFetch {

const QString& writeFailure() {
    static const QString reason = QStringLiteral("could not write the file");
    return reason;
}

namespace {

const QString TooLarge = QStringLiteral("larger than %1 MB").arg(Limits::DownloadBytes / (1024 * 1024));

QList<QByteArray> writtenLines(const ToolOutput& output) {
    return output.standardOutput.split('\n');
}

QString redirectTarget(const ToolOutput& output) {
    const QList<QByteArray> lines = writtenLines(output);
    return lines.size() > 1 ? QString::fromUtf8(lines.at(1)).trimmed() : QString();
}

} // namespace

int httpStatus(const ToolOutput& output) {
    return writtenLines(output).value(0).trimmed().toInt();
}

QString curlReason(int exitCode, const ToolOutput& output) {
    if (exitCode == Shell32::Stopped)
        return QStringLiteral("stopped");
    if (output.crashed || exitCode == Shell32::Crashed)
        return QStringLiteral("curl ended unexpectedly");
    switch (exitCode) {
    case 5:
    case 6:
        return QStringLiteral("host name not resolved");
    case 7:
        return QStringLiteral("connection failed");
    case 18:
        return QStringLiteral("transfer cut off");
    case 28:
        return QStringLiteral("timed out");
    case 23:
        return writeFailure();
    case 63:
        return TooLarge;
    case 35:
    case 51:
    case 53:
    case 54:
    case 58:
    case 59:
    case 60:
    case 66:
    case 77:
    case 80:
    case 82:
    case 83:
    case 90:
    case 91:
        return QStringLiteral("TLS error");
    case 47:
        return QStringLiteral("too many redirects");
    case 52:
        return QStringLiteral("empty reply");
    case 55:
    case 56:
        return QStringLiteral("connection cut");
    default:
        return exitCode < 0 ? QStringLiteral("curl could not be started")
                            : QStringLiteral("curl error %1").arg(exitCode);
    }
}

QString curlErrorText(int exitCode, const ToolOutput& output) {
    for (const QByteArray& line : output.standardError.split('\n')) {
        const QString text = QString::fromUtf8(line).trimmed();
        if (!text.isEmpty())
            return text;
    }
    return curlReason(exitCode, output);
}

Outcome fetch(const CurlSession& curl, const QString& address, const QString& file, const Runner& run,
              const QString& userAgent) {
    Outcome outcome;
    QString next = address;
    int retries = 0;
    for (int redirects = 0;; ++redirects) {
        const AddressCheck::Target target = AddressCheck::check(next);
        if (!target.refusal.isEmpty()) {
            outcome.failure = target.refusal;
            return outcome;
        }
        ToolOutput output;
        const int exitCode = run(
            Download::DownloadCommand(curl, next, file, AddressCheck::connectTo(target), userAgent), &output);
        if (!output.crashed && retries < Retry::DownloadRetries &&
            Retry::downloadAgain(exitCode, exitCode == 0 ? httpStatus(output) : 0)) {
            // A broken connection or a busy server: once more, a moment later.
            ++retries;
            --redirects;
            Main::PauseSeconds(Pace::seconds(Retry::DownloadWaitSeconds));
            continue;
        }
        if (exitCode != 0 || output.crashed) {
            outcome.failure = curlReason(exitCode, output);
            // The file size limit makes a write fail too.
            if (outcome.failure == writeFailure() && QFileInfo(file).size() >= Limits::DownloadBytes)
                outcome.failure = TooLarge;
            return outcome;
        }
        const int status = httpStatus(output);
        const QString redirect = redirectTarget(output);
        if (status >= 300 && status < 400 && !redirect.isEmpty()) {
            if (redirects >= Limits::Redirects) {
                outcome.failure = QStringLiteral("too many redirects");
                return outcome;
            }
            next = redirect;
            continue;
        }
        if (status < 200 || status > 299) {
            outcome.failure = QStringLiteral("HTTP %1").arg(status);
            return outcome;
        }
        outcome.arrived = true;
        return outcome;
    }
}

} // namespace PictureFetch
