#include "fetch/picture_fetch.h"

#include "base/waiting.h"
#include "fetch/address_check.h"
#include "fetch/download_command.h"
#include "fetch/limits.h"
#include "fetch/pace.h"
#include "fetch/retry.h"
#include "fetch/sources/answer_fields.h"

#include <QFileInfo>
#include <QUrl>

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
        // curl repeats what servers and addresses say: cleaned as every text of a service.
        const QString text = AnswerFields::message(QString::fromUtf8(line));
        if (!text.isEmpty())
            return text;
    }
    return curlReason(exitCode, output);
}

Fetch::Fetch(const CurlSession& curl, const QString& address, const QString& file, const QString& userAgent,
             int descriptor)
    : curl_(curl)
    , next_(address)
    , file_(file)
    , userAgent_(userAgent)
    , descriptor_(descriptor) {}

QString Fetch::host() const {
    return QUrl(next_).host().toLower();
}

std::optional<ToolCommand> Fetch::next() {
    if (over_)
        return std::nullopt;
    wait_ = 0;
    const AddressCheck::Target target = AddressCheck::check(next_);
    if (!target.refusal.isEmpty()) {
        outcome_.failure = target.refusal;
        over_ = true;
        return std::nullopt;
    }
    ToolCommand command =
        Download::DownloadCommand(curl_, next_, file_, AddressCheck::connectTo(target), userAgent_);
    command.sharedDescriptor = descriptor_;
    return command;
}

void Fetch::ended(int exitCode, const ToolOutput& output) {
    if (!output.crashed && retries_ < Retry::DownloadRetries &&
        Retry::downloadAgain(exitCode, exitCode == 0 ? output.httpStatus() : 0)) {
        // A broken connection or a busy server: once more, a moment later.
        ++retries_;
        wait_ = Pace::seconds(Retry::DownloadWaitSeconds);
        return;
    }
    over_ = true;
    if (exitCode != 0 || output.crashed) {
        outcome_.failure = curlReason(exitCode, output);
        // The file size limit makes a write fail too.
        if (outcome_.failure == writeFailure() && QFileInfo(file_).size() >= Limits::DownloadBytes)
            outcome_.failure = TooLarge;
        return;
    }
    const int status = output.httpStatus();
    const QString redirect = redirectTarget(output);
    if (status >= 300 && status < 400 && !redirect.isEmpty()) {
        if (redirects_ >= Limits::Redirects) {
            outcome_.failure = QStringLiteral("too many redirects");
            return;
        }
        ++redirects_;
        next_ = redirect;
        over_ = false;
        return;
    }
    if (status < 200 || status > 299) {
        outcome_.failure = QStringLiteral("HTTP %1").arg(status);
        return;
    }
    outcome_.arrived = true;
}

Outcome fetch(const CurlSession& curl, const QString& address, const QString& file, const Runner& run,
              const QString& userAgent, int descriptor) {
    Fetch download(curl, address, file, userAgent, descriptor);
    for (;;) {
        if (download.waitSeconds() > 0)
            Main::PauseSeconds(download.waitSeconds());
        const std::optional<ToolCommand> command = download.next();
        if (!command)
            return download.outcome();
        ToolOutput output;
        const int exitCode = run(*command, &output);
        download.ended(exitCode, output);
    }
}

} // namespace PictureFetch
