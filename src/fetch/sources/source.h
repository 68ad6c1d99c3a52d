#pragma once

#include "base/settings_store.h"
#include "fetch/image_result.h"
#include "fetch/sources/licence.h"
#include "fetch/tool_runner.h"

#include <QByteArray>
#include <QString>
#include <QVector>

#include <array>
#include <memory>
#include <optional>

// The image search services the program can ask, each through an adapter (an ImageSource) that
// builds the request for one page of one keyword and reads the answer into the same records: the
// original service (sources/contextualweb) and four public ones. Sources::makeAdapter()
// (sources/adapters.h) makes them.
//
//     const auto source = Sources::makeAdapter(Sources::Source::Openverse);
//     Sources::PageQuery query{keyword, 1, 0, 20, key};
//     ToolCommand command = source->command(curl, source->request(query));
//     ... RunAndWait(command, ..., &output) ...
//     const QByteArray bytes = source->readAnswerFile(curl.responseFile());
//     Sources::SourceAnswer answer = source->read(bytes, output.httpStatus(), query);
//     if (answer.hasNext) query = Sources::nextQuery(query, answer);
class CurlSession;
class ErrorTrap;
class Prompts;

namespace Sources {

// The image sources, and Free: all free sources at once, a mix of them that has no adapter of its
// own (its members() are asked each in turn).
enum class Source { ContextualWeb, Openverse, Commons, Pexels, Pixabay, Free };

// Every source with an adapter, in the order the key dialog lists them.
inline constexpr std::array<Source, 5> All = {Source::ContextualWeb, Source::Openverse, Source::Commons,
                                              Source::Pexels, Source::Pixabay};

// What the key dialog and the command line offer: every source, then all free sources at once.
inline constexpr std::array<Source, 6> Choices = {Source::ContextualWeb, Source::Openverse, Source::Commons,
                                                  Source::Pexels,        Source::Pixabay,   Source::Free};

// The sources a run of `choice` asks, in the order it takes their results: the free sources for
// Free (a run leaves out those that need a key where none is kept), else the source itself.
QVector<Source> members(Source choice);

// Whether the choice mixes several sources (Free).
bool isMix(Source choice);

// What the table of sources (source.cpp) says of each.

// The name stored in the settings ("contextualweb", "openverse", "commons", "pexels", "pixabay",
// "free").
QString storedName(Source source);

// The source a stored name means, exactly as stored; nothing for an unknown name.
std::optional<Source> named(const QString& name);

// The source a stored name means: an empty or unknown name means the original service, so settings
// written before there was a choice keep working as they did.
Source fromStoredName(const QString& name);

// Where a source's key is kept in the settings (ApiKey, PexelsKey, PixabayKey); ApiKey for the
// sources without a key, which never read it.
SettingKey keySetting(Source source);

// The caption in the key dialog ("Openverse (no key needed)").
QString caption(Source source);

// The source's name in messages: its caption without the part in brackets ("Openverse").
QString shownName(Source source);

// The source's public site, as the end of a run names it ("openverse.org"); "" for the original
// service, whose site the build names.
QString site(Source source);

// Whether the source answers only with a key of the user's.
bool needsKey(Source source);

// The requests a source takes without complaint: the least time between two of them, in seconds as
// designed (the run's pace scales it; 0 where the run's own pauses are enough, and for Free, whose
// members keep each their own).
double requestSpacing(Source source);

// How long a source's answers are kept and used again instead of asking once more (0: not kept).
qint64 answerKeepSeconds(Source source);

// The User-Agent of the source's picture downloads: programUserAgent() where the source asks that
// programs name themselves (Wikimedia), else "" (curl's usual one).
QString downloadUserAgent(Source source);

// What the key dialog shows for a source.
struct DialogTexts {
    QString intro;        // the text at the top
    QString keyName;      // in the frame titles: "Get Your RapidAPI Key", "Visit Openverse"
    QString keyPage;      // where the key is obtained; the site itself for a source without a key
    QString instructions; // the instructions box, lines separated by "\r" (and one "\r\n")
    QString keyHelp;      // the "?" beside the key field
};
DialogTexts dialogTexts(Source source);

// The key dialog's made-up key of the original service: 50 lower-case letters and digits, in the
// form the service issues them.
QString sampleKey();

// The host a source's requests go to: GLIMMERFETCH_SERVICE_HOST when set and not empty (a host or
// host:port, the local image service of the demo and the tests), else the source's own host. The
// path and query stay as they are.
QString host(const QString& ownHost);

// "Glimmerfetch/VERSION (CONTACT)": Wikimedia answers only programs that name themselves and a way to
// reach their makers; every request to a public source carries it.
QString programUserAgent();

// A keyword, key or parameter as a query value: its UTF-8 bytes, every byte but ASCII letters, digits
// and "-._~" as "%" and two upper-case hexadecimal digits. Unlike UrLenc::URLEncode, which the original
// service keeps, a character beyond the 16-bit range (an emoji) is sent as its one UTF-8 sequence.
QString queryValue(const QString& text);

// The page size a run asks for with `countPerKeyword` pictures a keyword: 25 up to 10, else count +
// (3 * count) / 2 with the division truncating, at most 50. Each source holds it to its own range.
int pageSize(int countPerKeyword);

// One page of one keyword.
struct PageQuery {
    QString keyword;
    int page = 1;      // 1-based page number, for the sources that count pages
    int offset = 0;    // 0-based position of the page's first result, for Commons
    int pageSize = 20; // held to the source's range when the request is built
    QString key;       // the user's key, for the sources that need one
    // The pictures the user may use: Openverse is asked for them, the others' results are judged.
    LicenceChoice licence = LicenceChoice::Any;
};

// The request for one page. Everything goes to curl on its standard input, the address included:
// Pixabay's carries the key, and no key may show in the process list.
struct SourceRequest {
    QString address;       // may carry the key: never show or log it
    QString shownAddress;  // the address with the key left out, for messages
    QByteArray curlConfig; // `url = "..."`, `user-agent = "..."` and `header = "..."` lines
};

// A request for `address`: its `url` line, the program's `user-agent` line and one `header` line
// for each of `headers` ("Authorization: KEY"), every value quoted for curl.
SourceRequest makeRequest(const QString& address, const QString& shownAddress,
                          const QStringList& headers = {});

// The limits every search request is held to, as curl options: connect, stall, whole request and
// answer size (Limits), "-sS" so that curl prints its own error text, and the HTTP status and
// Retry-After on standard output. They stand right after the session's common arguments.
QStringList limitArguments();

// curl for one request: the session's common arguments, limitArguments(), "--globoff" (an address
// is never a pattern), "-K -" (the request on standard input) and "--output" the session's answer
// file. The answer file is held to the largest search answer.
ToolCommand toolCommand(const CurlSession& curl, const SourceRequest& request);

// True when a search that ended with `curlExit` failed because its answer, written to `answerFile`,
// was larger than Limits::SearchAnswerBytes (curl refused the announced size, or the file size limit
// cut the writing).
bool answerTooLarge(int curlExit, const QString& answerFile);

// Who made a picture and on which terms it may be used. Any of them may be empty.
struct Credits {
    QString title;
    QString creator;
    QString creatorAddress; // http or https
    QString licence;        // "CC BY-SA 4.0", "Pexels License", ...
    QString licenceAddress; // http or https
    QString sourcePage;     // the picture's page at the source, http or https
};

// One picture of an answer. The address is always an http or https address; sizes the answer does
// not give, or gives as nonsense, are 0.
struct SourceResult {
    QString address;
    qint32 width = 0;
    qint32 height = 0;
    QString extension; // lower case, without the dot ("jpg"); "" when neither type nor address tells
    QString mimeType;  // when the source names it ("image/jpeg"), else ""
    Credits credits;
    // Whether the picture's licence fits the licence asked for (PageQuery::licence); a result that
    // does not fit is skipped ("licence").
    bool licenceFits = true;
};

// One result as the run judges it: the address to download, its extension and sizes, and the
// credits.
struct Candidate {
    CurlFunctions::ImageResult image;
    Credits credits;
    Source source = Source::ContextualWeb; // where the result came from
    bool licenceFits = true;               // SourceResult::licenceFits
};

// The results of an answer, or of a keyword's pages, one at a time in answer order.
class ResultFeed {
public:
    enum class Step {
        Found,   // `candidate` holds the next result
        Skipped, // an entry without a usable address: nothing to download
        Over,    // no more results
    };
    virtual ~ResultFeed() = default;
    virtual Step next(Candidate& candidate) = 0;
};

// What one answer says.
struct SourceAnswer {
    enum class Kind {
        Results,    // a page of results (possibly none)
        Error,      // the service refused or failed; `message` holds what it said, if anything
        Unreadable, // neither: not the source's answer shape
    };
    Kind kind = Kind::Unreadable;
    QVector<SourceResult> results;
    int skipped = 0;      // entries left out: no usable picture address, or beyond Limits::AnswerResults
    qint64 total = -1;    // results the source can deliver for the keyword; -1 when it does not say
    bool hasNext = false; // a further page exists: nextQuery() asks for it
    int nextPage = 0;
    int nextOffset = 0;
    QString message; // the service's own message for an error (cleaned, shortened)
    // Results that are read only as they are taken (the original service's answer); `results` is
    // empty then.
    std::shared_ptr<ResultFeed> feed;
};

// The query for the page after `asked`, when `answer.hasNext`.
PageQuery nextQuery(const PageQuery& asked, const SourceAnswer& answer);

// What the end of a run says of an answer that brought no results, and whether the source would
// refuse every further keyword alike (a refused key, requests refused for the day).
struct AnswerProblem {
    std::optional<QString> message; // becomes the run's last service message
    int httpStatus = 0;             // an HTTP error without a message of the service's (0: none)
    bool refusesAll = false;
};

// What a key test found.
enum class KeyVerdict {
    NotRun,      // another run was under way, or the key was missing
    Valid,       // the source answered with results (or an empty page)
    Refused,     // the source answered with an error: a wrong key, a spent quota, ...
    Unreachable, // no answer: curl failed, or the answer was not the source's
};
struct KeyTestResult {
    KeyVerdict verdict = KeyVerdict::Unreachable;
    QString text; // what the person is told
};

// One source's adapter. A run or key test makes its own (makeAdapter()): what a source carries from
// one answer to the next lasts as long as the adapter.
class ImageSource {
public:
    virtual ~ImageSource() = default;
    virtual Source source() const = 0;
    // The page sizes the source takes; requests are held to them.
    virtual int smallestPageSize() const = 0;
    virtual int largestPageSize() const = 0;
    virtual SourceRequest request(const PageQuery& query) const = 0;
    // Reads an answer (at most Limits::SearchAnswerBytes). `httpStatus` is the status curl reported
    // (0 when unknown); `asked` is the query the answer belongs to.
    virtual SourceAnswer read(const QByteArray& answer, int httpStatus, const PageQuery& asked) const = 0;

    // What follows is done the public sources' way unless a source does it its own way (the
    // original service does).

    // curl for a request: toolCommand().
    virtual ToolCommand command(const CurlSession& curl, const SourceRequest& request) const;
    // The answer file as read() takes it: its first Limits::SearchAnswerBytes bytes, none when it
    // cannot be opened.
    virtual QByteArray readAnswerFile(const QString& path) const;
    // An answer as a run reads it: read(). `trap` is the run's, for steps a source reports under
    // numbers of their own; `credits` says whether the run keeps a credits list.
    virtual SourceAnswer readInRun(const QByteArray& answer, int httpStatus, const PageQuery& asked,
                                   ErrorTrap& trap, bool credits);
    // An answer without results (an Error or Unreadable one) as the end of a run tells it: the
    // source's name and what it said, or that the answer could not be read. A refused key (401,
    // 403, or a 400 that names the key) and refused requests (429) refuse every keyword.
    virtual AnswerProblem problem(const SourceAnswer& answer, int httpStatus) const;
    // The key test's verdict on an answer that arrived. `prompts` shows the boxes of steps that fail.
    virtual KeyTestResult keyTest(const QByteArray& answer, int httpStatus, const PageQuery& asked,
                                  Prompts& prompts) const;

    // The query's page size held to the source's range.
    int pageSizeFor(const PageQuery& query) const;
};

// Whether a source can keep to the choice: every source keeps to `any`; the original service tells
// no licence, so it keeps to no other; the free sources all keep to every choice.
bool honours(Source source, LicenceChoice choice);

// The sources that keep to the choice, in the key dialog's order (Choices).
QVector<Source> sourcesHonouring(LicenceChoice choice);

// Why a run of `source` cannot start with the choice, naming the sources that can; "" when it can.
QString licenceRefusal(Source source, LicenceChoice choice);

} // namespace Sources
