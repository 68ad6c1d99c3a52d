#pragma once

#include <QMap>
#include <QString>
#include <QStringList>

// What a download run did, counted as it goes, and the one message that ends it. "Done." means at
// least one picture was kept; otherwise the message says what happened instead.
struct RunReport {
    QString folder;               // as the pictures are named (ends in "/")
    QString site;                 // the source's site, "" for the original service
    int resultsSeen = 0;          // results of the answers that the run looked at
    int filtered = 0;             // rejected by the width or height filter
    int licence = 0;              // left out because their licence does not fit the choice
    int unreadable = 0;           // results whose address, width or height could not be read
    int notPictures = 0;          // downloads that were no picture (error pages, texts, empty files)
    int failed = 0;               // downloads that did not arrive (HTTP errors, time-outs, refused addresses)
    int kept = 0;                 // pictures kept
    int alreadyThere = 0;         // copies of pictures in the folder, and addresses downloaded before
    int keywordsLeftOut = 0;      // keywords past the run's limit
    QStringList unusableKeywords; // keywords that cannot name a file, as typed
    QMap<QString, int> reasons;   // how often each reason of a failure or non-picture was met
    QString serviceMessage;       // the service's last message ("Invalid API key...")
    QString serviceProblem;       // the last search that got no answer: curl's error text
    bool serviceAnswerTooLarge = false; // ... because the answer was larger than a search answer may be
    QString unreachableHost;            // ... because this host could not be reached at all: the run ended
    int serviceStatus = 0;              // the last search answered with an HTTP error and no message
    QString stoppedBecause;             // the run stopped early: why, naming the folder
    QString creditsProblem;             // why the credits list could not be written ("" while it could)
    QStringList leftOut;                // sources of a mix left out for the rest of the run, with why

    QStringList lines; // what became of each result looked at, in order

    // One result's line: "keyword: address → kept as FILE" or "keyword: address → skipped: REASON".
    void keptAs(const QString& keyword, const QString& address, const QString& file);
    void skipped(const QString& keyword, const QString& address, const QString& reason);
    // The lines behind the end box's "Show Details...".
    QString detailsText() const;

    void notPicture(const QString& reason);
    void failure(const QString& reason);

    // The reason met most often ("" when none): the first in order of the map among equals.
    QString mostFrequentReason() const;

    // The message that ends the run.
    QString endText() const;
};

namespace Download {

// The final message when something was sent to download. It names the original service's site, or
// `site` for another source.
QString DoneText(const QString& site = QString());
// The final message when nothing was, with the last message of the service.
QString NothingFoundText(const QString& serviceMessage);

} // namespace Download

// The texts the run and the key test share.
namespace RunTexts {

// The search could not be made: curl failed (no network, name not resolved, TLS, time limit).
QString unreachable(const QString& curlError);

// A search could not reach `host` at all (not resolved, refused, no TLS): what to check.
QString cannotReach(const QString& host);

// The search failed: unreachable(curlError), or answerTooLarge(curlError) when the answer was larger
// than a search answer may be.
QString searchFailed(const QString& curlError, bool tooLarge);

// The service's answer was larger than Limits::SearchAnswerBytes and was not read.
QString answerTooLarge(const QString& curlError);

// The service answered with an HTTP error and no message of its own.
QString serviceError(int httpStatus);

// The folder cannot take pictures.
QString folderUnusable(const QString& folder, const QString& reason);

// The key test's verdicts: the key works; the source refused it, with what it said; a source without
// a key answered (`name` as messages name the source).
QString keyValid();
QString keyInvalid(const QString& serviceMessage);
QString sourceWorks(const QString& name);

} // namespace RunTexts
