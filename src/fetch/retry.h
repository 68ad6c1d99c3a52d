#pragma once

#include "fetch/tool_runner.h"

#include <QString>

// When a request that failed is worth another try, and how long to wait before it. A busy gateway
// (HTTP 429 with a per-second or per-minute limit, or a 5xx) and a connection that failed often
// answer a little later; a spent quota, a refused key and a missing picture do not. The waits are
// designed seconds: the caller scales them with GLIMMERFETCH_PACE like the run's other pauses.
namespace Retry {

// A search is tried this many more times, waiting FirstWaitSeconds, then twice as long each time
// (2, 4, 8 s), or longer when the answer's Retry-After asks for longer; one that asks for more than
// LongestWaitSeconds is not tried again.
inline constexpr int SearchRetries = 3;
inline constexpr int FirstWaitSeconds = 2;
inline constexpr int LongestWaitSeconds = 60;

// A download is tried once more after a connection failure or a 5xx, after this pause.
inline constexpr int DownloadRetries = 1;
inline constexpr int DownloadWaitSeconds = 1;

// True for curl's exits of a connection that failed or broke: refused, timed out, cut, empty reply.
bool isConnectionFailure(int curlExit);

// True for curl's exits that say the host was never reached, so that asking again at once, or for
// the next keyword, would fail alike: a host or proxy name that does not resolve (6, 5), a
// connection refused or a network unreachable (7), a proxy that refused the tunnel (97), a TLS
// handshake that failed (35) or a certificate that could not be checked (60, 58, 77), and a time-out
// before any HTTP answer (28 without a status: the connect time-out, or a handshake that hung). A
// time-out after the answer began (a trickling answer) is not one of them.
bool isUnreachable(int curlExit, const ToolOutput& output);

// The seconds to wait before search retry number `retry` (0 for the first), or -1 when the search
// is not tried again. `answer` is the answer file's text (a 429 that names a daily or monthly quota
// is final).
int searchWait(int retry, int curlExit, const ToolOutput& output, const QString& answer);

// True when a download that ended so is tried again.
bool downloadAgain(int curlExit, int httpStatus);

} // namespace Retry
