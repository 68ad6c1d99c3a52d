#pragma once

#include "fetch/sources/source.h"

#include <QString>

class CurlSession;

namespace UrLenc {

// Each UTF-16 code unit on its own to UTF-8 bytes (the halves of a surrogate pair become two
// three-byte groups), then every byte that is not an ASCII letter or digit as "%" and two
// upper-case hexadecimal digits: "red car" -> "red%20car", "é" -> "%C3%A9".
QString URLEncode(const QString& text);

} // namespace UrLenc

// The original service's search request.
namespace Search {

// The service host: GLIMMERFETCH_SERVICE_HOST when set and not empty (a host or host:port), else
// the one the program was built with. Used in the address and in the host header.
QString ServiceHost();

// The search request for one keyword. Its arguments are those of the command text below, split as
// a shell would split it, quotes removed, in the same order, with the session's common arguments and
// Sources::limitArguments() first and the two "--header" options replaced by "-K -": the headers
// reach curl on its standard input, so the key never shows in the process list. The keyword is sent
// URL-encoded.
ToolCommand SearchCommand(const CurlSession& curl, const QString& keyword, int pageNumber, int pageSize,
                          const QString& key);

// The command text of the search request as one line (the quoted tool path, two spaces, "-X GET",
// three spaces, the quoted address, the two quoted "--header" options, "--output" and the quoted
// answer file), for messages and tests. It shows the key; never log it.
QString SearchCommandText(const CurlSession& curl, const QString& keyword, int pageNumber, int pageSize,
                          const QString& key);

// The configuration text that carries the two headers to curl ("-K -"), one `header = "..."` line
// each, with backslashes and double quotes escaped so that no key can end the value or add an option.
// Line breaks (and NUL) are left out of the values: curl would send them inside the header and so
// split it into two headers.
QByteArray HeaderConfig(const QString& host, const QString& key);

} // namespace Search

namespace Sources {

// The original service, Contextual Web Search through the RapidAPI gateway: one page per keyword,
// asked with the command above, its answer scanned without a JSON parser (CurlFunctions). The answer
// file is read as it is (a missing file as "", an empty one as "empty file"); its results are scanned
// only as the run takes them, at most as many as were asked for, and a width or height a result
// leaves out keeps the value the result before had, in this answer or an earlier one.
class ContextualWebSource : public ImageSource {
public:
    // The service's page sizes: the run asks for 25 to 50, the key test for 4.
    static constexpr int LargestPageSize = 50;

    Source source() const override { return Source::ContextualWeb; }
    int smallestPageSize() const override { return 1; }
    int largestPageSize() const override { return LargestPageSize; }
    SourceRequest request(const PageQuery& query) const override;
    // The answer with the sizes starting at 0, as at the start of a run.
    SourceAnswer read(const QByteArray& answer, int httpStatus, const PageQuery& asked) const override;

    ToolCommand command(const CurlSession& curl, const SourceRequest& request) const override;
    QByteArray readAnswerFile(const QString& path) const override;
    // The total is read at statement 142 and a service message at 162 of the run; titles and pages
    // only with `credits`.
    SourceAnswer readInRun(const QByteArray& answer, int httpStatus, const PageQuery& asked, ErrorTrap& trap,
                           bool credits) override;
    // The service's message as it gave it, or the HTTP error when it gave none; only a busy gateway
    // (429) refuses every keyword.
    AnswerProblem problem(const SourceAnswer& answer, int httpStatus) const override;
    // "Congratulations! ..." for an image answer; otherwise "Incorrect. ..." with the service's
    // message, unless the gateway failed (5xx) without one.
    KeyTestResult keyTest(const QByteArray& answer, int httpStatus, const PageQuery& asked,
                          Prompts& prompts) const override;

private:
    // The sizes of the result scanned last, carried to the next (0 when the adapter is made).
    std::shared_ptr<CurlFunctions::ImageResult> scanned_ = std::make_shared<CurlFunctions::ImageResult>();
};

} // namespace Sources
