#include "fetch/retry.h"

#include <QRegularExpression>

namespace Retry {

namespace {

// The Retry-After seconds curl wrote after the status (--write-out), -1 when there were none. A
// date instead of seconds counts as none.
int retryAfter(const ToolOutput& output) {
    const QList<QByteArray> lines = output.standardOutput.split('\n');
    bool ok = false;
    const int seconds = lines.value(1).trimmed().toInt(&ok);
    return ok && seconds >= 0 ? seconds : -1;
}

bool namesQuota(const QString& answer) {
    static const QRegularExpression quota(
        QStringLiteral("\\b(daily|monthly)\\b.*\\bquota\\b|\\bquota\\b.*\\b(daily|monthly)\\b"),
        QRegularExpression::CaseInsensitiveOption);
    return quota.match(answer).hasMatch();
}

} // namespace

bool isConnectionFailure(int curlExit) {
    switch (curlExit) {
    case 7:  // could not connect
    case 18: // transfer cut off
    case 28: // timed out
    case 52: // empty reply
    case 55: // sending failed
    case 56: // receiving failed
        return true;
    default:
        return false;
    }
}

bool isUnreachable(int curlExit, const ToolOutput& output) {
    if (output.crashed)
        return false;
    switch (curlExit) {
    case 5:  // proxy name not resolved
    case 6:  // host name not resolved
    case 7:  // could not connect: refused, network or host unreachable
    case 35: // TLS handshake failed
    case 58: // client certificate problem
    case 60: // the server's certificate could not be verified
    case 77: // the CA certificates could not be read
    case 97: // the proxy refused the connection or the tunnel
        return true;
    case 28: // timed out
        return output.httpStatus() == 0;
    default:
        return false;
    }
}

int searchWait(int retry, int curlExit, const ToolOutput& output, const QString& answer) {
    if (retry >= SearchRetries)
        return -1;
    const int status = curlExit == 0 ? output.httpStatus() : 0;
    const bool busy = (status == 429 && !namesQuota(answer)) || (status >= 500 && status <= 599);
    if (!busy && !(curlExit != 0 && isConnectionFailure(curlExit)))
        return -1;
    const int asked = status == 429 || status == 503 ? retryAfter(output) : -1;
    // A service that asks for more than the longest wait (Openverse's "available in 3600 seconds")
    // would only refuse the tries before then.
    if (asked > LongestWaitSeconds)
        return -1;
    // "Retry-After: 0" (or any wait shorter than the back-off's step) would have the tries follow
    // each other at once: the step is the least wait.
    const int step = qMin(FirstWaitSeconds << retry, LongestWaitSeconds);
    return qMax(asked, step);
}

bool downloadAgain(int curlExit, int httpStatus) {
    if (curlExit != 0)
        return isConnectionFailure(curlExit);
    return httpStatus >= 500 && httpStatus <= 599;
}

} // namespace Retry
