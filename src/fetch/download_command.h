#pragma once

#include "fetch/tool_runner.h"

#include <QString>

// The curl command that downloads one picture.
namespace Download {

// The browser name the downloads announce themselves with (without the quotes the command text
// puts around it).
QString UserAgent();

// The command text: the quoted tool path, two spaces, "-X GET --user-agent", the quoted user
// agent, the time-outs (connect within 30 s, give up after 60 s), "-F \"type=image\"", the quoted
// address, "-L --output" and the quoted target. For messages and tests; nothing runs it.
QString DownloadCommandText(const QString& address, const QString& target);

// The download as curl runs it: CommonArguments() first, then the arguments of the command text in
// their order, quotes removed, with three additions that keep an answer from doing harm:
// "--proto =http,https --proto-redir =http,https" (no "file://" address can copy the user's files
// into the folder, no other protocol is spoken, also after a redirect), "--globoff" (an address
// holding "[1-100000]" or "{a,b}" is one address, not a list that curl would fetch one by one),
// and "--" before the address (an address beginning with "-" stays an address). Because curl reads everything
// after
// "--" as addresses, the address comes last, after "-L --output target".
ToolCommand DownloadCommand(const QString& address, const QString& target);

} // namespace Download
