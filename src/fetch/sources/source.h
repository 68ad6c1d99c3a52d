#pragma once

#include "base/settings_store.h"
#include "fetch/sources/licence.h"
#include "fetch/tool_runner.h"

#include <QByteArray>
#include <QString>
#include <QVector>

#include <array>
#include <optional>

// The image search services the program can ask: the original one (its request is Search::, its
// answer scanner CurlFunctions::) and four public ones, each with an adapter that builds the request
// for one page of one keyword and reads the answer into the same records.
//
//     const Sources::ImageSource* source = Sources::adapter(Sources::Source::Openverse);
//     Sources::PageQuery query{keyword, 1, 0, 20, key};
//     ToolCommand command = Sources::toolCommand(curl, source->request(query));
//     ... RunAndWait(command, ..., &output) ...
//     Sources::SourceAnswer answer = source->read(bytes, PictureFetch::httpStatus(output), query);
//     if (answer.hasNext) query = Sources::nextQuery(query, answer);
class CurlSession;

namespace Sources {

enum class Source { ContextualWeb, Openverse, Commons, Pexels, Pixabay };

// Every source, in the order the key dialog lists them.
inline constexpr std::array<Source, 5> All = {Source::ContextualWeb, Source::Openverse, Source::Commons,
                                              Source::Pexels, Source::Pixabay};

// The name stored in the settings ("contextualweb", "openverse", "commons", "pexels", "pixabay").
QString storedName(Source source);

// The source a stored name means, exactly as stored; nothing for an unknown name.
std::optional<Source> named(const QString& name);

// The source a stored name means: an empty or unknown name means the original service, so settings
// written before there was a choice keep working as they did.
Source fromStoredName(const QString& name);

// The source chosen in the settings (SettingKey::Source).
Source chosen();

// Where a source's key is kept in the settings (ApiKey, PexelsKey, PixabayKey); ApiKey for the
// sources without a key, which never read it.
SettingKey keySetting(Source source);

// The key stored for a source; "" for the sources without a key.
QString storedKey(Source source);

// The caption in the key dialog ("Openverse (no key needed)").
QString caption(Source source);

// The source's name in messages: its caption without the part in brackets ("Openverse").
QString shownName(Source source);

// The source's public site, as the end of a run names it ("openverse.org"); "" for the original
// service, whose site the build names.
QString site(Source source);

// Whether the source answers only with a key of the user's.
bool needsKey(Source source);

// The host a source's requests go to: GLIMMERFETCH_SERVICE_HOST when set and not empty (a host or
// host:port, the local image service of the demo and the tests), else the source's own host. The
// path and query stay as they are.
QString host(const QString& ownHost);

// "Glimmerfetch/VERSION (CONTACT)": Wikimedia answers only programs that name themselves and a way to
// reach their makers; every request to a source carries it.
QString programUserAgent();

// A keyword, key or parameter as a query value: its UTF-8 bytes, every byte but ASCII letters, digits
// and "-._~" as "%" and two upper-case hexadecimal digits. Unlike UrLenc::URLEncode, which the original
// service keeps, a character beyond the 16-bit range (an emoji) is sent as its one UTF-8 sequence.
QString queryValue(const QString& text);

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

// curl for one request: the session's common arguments, the search request's limits, "--globoff"
// (an address is never a pattern), "-K -" (the request on standard input) and "--output" the
// session's answer file. The answer file is held to the largest search answer.
ToolCommand toolCommand(const CurlSession& curl, const SourceRequest& request);

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
};

// The query for the page after `asked`, when `answer.hasNext`.
PageQuery nextQuery(const PageQuery& asked, const SourceAnswer& answer);

// One source's adapter.
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

    // The query's page size held to the source's range.
    int pageSizeFor(const PageQuery& query) const;
};

// The requests a source takes without complaint: the least time between two of them, in seconds as
// designed (the run's pace scales it; 0 where the run's own pauses are enough).
double requestSpacing(Source source);

// How long a source's answers are kept and used again instead of asking once more (0: not kept).
qint64 answerKeepSeconds(Source source);

// The adapter of a source; nullptr for the original service.
const ImageSource* adapter(Source source);

} // namespace Sources
