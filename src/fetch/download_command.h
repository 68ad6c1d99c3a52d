#pragma once

#include "fetch/tool_runner.h"

class CurlSession;

#include <QString>

// The curl command that downloads one picture.
namespace Download {

// The browser name the downloads announce themselves with (without the quotes the command text
// puts around it).
QString UserAgent();

// The command text: the quoted tool path, two spaces, "-X GET --user-agent", the quoted user
// agent, the time-outs (connect within 30 s, give up after 60 s), the quoted address, "--output"
// and the quoted target. For messages and tests; nothing runs it. The GET carries no body: content
// delivery networks refuse a GET with one (CloudFront answers 403), so a form field would lose
// every picture they host.
QString DownloadCommandText(const CurlSession& curl, const QString& address, const QString& target);

// What curl prints after a download (--write-out): the HTTP status and, for a redirect, where it
// points, one a line. curl does not follow redirects itself: each target is checked first.
inline constexpr char WriteOut[] = "%{http_code}\\n%{redirect_url}\\n";

// The download as curl runs it: the session's common arguments first, then the arguments of the command text
// in their order, quotes removed, with the additions that keep an answer from doing harm:
// "--proto =http,https" (no "file://" address can copy the user's files into the folder),
// "--globoff" (an address holding "[1-100000]" or "{a,b}" is one address, not a list), the stall
// and size limits, "-sS" and the write-out, "--connect-to" with `connectTo` when given (the checked
// address every connection must go to), and "--" before the address (an address beginning with "-"
// stays an address). Because curl reads everything after "--" as addresses, the address comes last.
// The command's file size limit is the largest picture. `userAgent` replaces UserAgent() when given
// (Wikimedia's servers answer only programs that name themselves).
ToolCommand DownloadCommand(const CurlSession& curl, const QString& address, const QString& target,
                            const QString& connectTo = QString(), const QString& userAgent = QString());

} // namespace Download
