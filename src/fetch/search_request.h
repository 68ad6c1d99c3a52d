#pragma once

#include "fetch/sources/source.h"
#include "fetch/tool_runner.h"

#include <QString>

#include <functional>

class CurlSession;
class ErrorTrap;
class Prompts;
class RunObserver;

namespace UrLenc {

// Each UTF-16 code unit on its own to UTF-8 bytes (the halves of a surrogate pair become two
// three-byte groups), then every byte that is not an ASCII letter or digit as "%" and two
// upper-case hexadecimal digits: "red car" -> "red%20car", "é" -> "%C3%A9".
QString URLEncode(const QString& text);

} // namespace UrLenc

// The image search request and the key test.
namespace Search {

// The service host: GLIMMERFETCH_SERVICE_HOST when set and not empty (a host or host:port), else
// the one the program was built with. Used in the address and in the host header.
QString ServiceHost();

// The page size for a count per keyword: 25 up to 10, else count + (3 * count) / 2 with the
// division truncating, at most 50.
int PageSize(int countPerKeyword);

// The search request for one keyword. Its arguments are those of the command text below, split as
// a shell would split it, quotes removed, in the same order, with the session's common arguments and
// LimitArguments() first and the two "--header" options replaced by "-K -": the headers reach curl on
// its standard input, so the key never shows in the process list. Uses the session's curl and answer
// file and the stored ApiKey. The keyword is sent URL-encoded.
ToolCommand SearchCommand(const CurlSession& curl, const QString& keyword, int pageNumber, int pageSize);
// The same with `key` instead of the stored one.
ToolCommand SearchCommand(const CurlSession& curl, const QString& keyword, int pageNumber, int pageSize,
                          const QString& key);

// The limits every search request is held to, as curl options: connect, stall, whole request and
// answer size (Limits), "-sS" so that curl prints its own error text, and the HTTP status on
// standard output. They stand right after the common arguments.
QStringList LimitArguments();

// True when a search that ended with `curlExit` failed because its answer, written to `answerFile`,
// was larger than Limits::SearchAnswerBytes (curl refused the announced size, or the file size limit
// cut the writing).
bool AnswerTooLarge(int curlExit, const QString& answerFile);

// The key test's request: keyword "city", page 1, page size 4.
ToolCommand KeyTestCommand(const CurlSession& curl);

// The command text of the search request as one line (the quoted tool path, two spaces, "-X GET",
// three spaces, the quoted address, the two quoted "--header" options, "--output" and the quoted
// answer file), for messages and tests. It shows the key; never log it.
QString SearchCommandText(const CurlSession& curl, const QString& keyword, int pageNumber, int pageSize);

// The configuration text that carries the two headers to curl ("-K -"), one `header = "..."` line
// each, with backslashes and double quotes escaped so that no key can end the value or add an option.
// Line breaks (and NUL) are left out of the values: curl would send them inside the header and so
// split it into two headers.
QByteArray HeaderConfig(const QString& host, const QString& key);

// The key dialog's "Test API Key": tests the stored key against the service and shows the verdict
// through `observer` (only its pointer and messages are used). `keyFieldText` is the dialog's key
// field (only its emptiness matters, the request uses the stored ApiKey). Refuses to start
// while Globals::RunBusy is set; errors are reported through `trap`. Pauses one (paced) second
// before the verdict.
enum class KeyVerdict {
    NotRun,      // another run was under way, or the key was missing
    Valid,       // the source answered with results (or an empty page)
    Refused,     // the source answered with an error: a wrong key, a spent quota, ...
    Unreachable, // no answer: curl failed, or the answer was not the source's
};
KeyVerdict KeyTest(RunObserver& observer, ErrorTrap& trap, const QString& keyFieldText);

// The same for any source, with `key` (the key field's text; ignored by the sources without a key):
// one small search ("city", the first page), the verdict through `observer`. For a source without
// a key the test tells whether the source answers.
KeyVerdict KeyTest(RunObserver& observer, ErrorTrap& trap, Sources::Source source, const QString& key);

// The verdict texts.
QString KeyValidText();
QString KeyInvalidText(const QString& serviceMessage);
QString SourceWorksText(Sources::Source source); // a source without a key answered

} // namespace Search
