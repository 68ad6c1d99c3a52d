#pragma once

#include "fetch/tool_runner.h"

#include <QString>

#include <functional>
#include <optional>

class CurlSession;

// One picture download: each address, the answer's and every redirect's, is checked before curl is
// asked for it, and the outcome is judged by curl's exit, the and the HTTP status.
namespace PictureFetch {

struct Outcome {
    bool arrived = false; // a 2xx answer is in the file (whether it is a picture is judged apart)
    QString failure;      // why not, short and stable ("HTTP 404", "timed out", ...)
};

// The reason for a download that curl could not write (full disk, folder gone or read-only).
const QString& writeFailure();

// Runs one curl command and returns its exit code (RunAndWait with the run's progress bar).
using Runner = std::function<int(const ToolCommand&, ToolOutput*)>;

// One download as a sequence of curl commands: the address, then each redirect's, each checked
// before it is asked for, with one more try after a broken connection or a busy server. For callers
// that run the commands themselves (several downloads at once); fetch() runs them one by one.
class Fetch {
public:
    // `descriptor`, when not -1, is the open file that `file` ("/dev/fd/N") reaches: curl inherits it.
    Fetch(const CurlSession& curl, const QString& address, const QString& file,
          const QString& userAgent = QString(), int descriptor = -1);

    // The seconds to wait before the next command (a retry waits a moment; 0 otherwise).
    double waitSeconds() const { return wait_; }
    // The host the next command goes to (lower case).
    QString host() const;
    // Checks the next address and gives the command for it; nothing once the download is over (its
    // outcome is then final), a refused address included. Waits for the name's resolution in the
    // window's event loop; throws ProgramEnding when the program ends meanwhile.
    std::optional<ToolCommand> next();
    // What became of the command next() gave.
    void ended(int exitCode, const ToolOutput& output);

    bool over() const { return over_; }
    const Outcome& outcome() const { return outcome_; }

private:
    const CurlSession& curl_;
    QString next_;
    QString file_;
    QString userAgent_;
    int descriptor_ = -1;
    int redirects_ = 0;
    int retries_ = 0;
    double wait_ = 0;
    bool over_ = false;
    Outcome outcome_;
};

// Downloads `address` into `file` (which exists), following at most Limits::Redirects redirects.
// `userAgent` replaces the download's usual User-Agent when not empty; `descriptor` is as for Fetch.
Outcome fetch(const CurlSession& curl, const QString& address, const QString& file, const Runner& run,
              const QString& userAgent = QString(), int descriptor = -1);

// The short reason for a curl that ended with `exitCode` ("timed out", "host name not resolved",
// "TLS error", ...), for the end report.
QString curlReason(int exitCode, const ToolOutput& output);

// curl's own error text ("curl: (6) Could not resolve host: example.invalid"), cleaned of control
// characters as a service's texts are, or the reason when curl printed none.
QString curlErrorText(int exitCode, const ToolOutput& output);

} // namespace PictureFetch
