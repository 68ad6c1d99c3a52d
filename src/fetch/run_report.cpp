#include "fetch/run_report.h"

#include "build_config.h"
#include "fetch/limits.h"

#include <QUrl>

namespace {

const QString Paragraph = QStringLiteral("\r\n\r\n");
const QString Line = QStringLiteral("\r\n");

// The most keywords a message names one by one.
constexpr int NamedKeywords = 5;

QString counted(int count, const char* one, const char* many) {
    return QString::number(count) + QLatin1Char(' ') + QLatin1String(count == 1 ? one : many);
}

QString folderShown(const QString& folder) {
    return folder.size() > 1 && folder.endsWith(QLatin1Char('/')) ? folder.chopped(1) : folder;
}

} // namespace

namespace Download {

QString DoneText(const QString& sourceSite) {
    QString site =
        sourceSite.isEmpty() ? QUrl(QString::fromLatin1(BuildConfig::ServiceSite)).host() : sourceSite;
    if (site.isEmpty())
        site = QString::fromLatin1(BuildConfig::ServiceSite);
    return QStringLiteral("Done.") + Paragraph +
           QStringLiteral(
               "Please note: Downloaded amount could be less than desired because of filters applied or "
               "the amount of images that could be found on ") +
           site + QLatin1Char('.');
}

QString NothingFoundText(const QString& serviceMessage) {
    return QStringLiteral("Nothing found.") + Paragraph + serviceMessage;
}

} // namespace Download

void RunReport::keptAs(const QString& keyword, const QString& address, const QString& file) {
    lines << keyword + QStringLiteral(": ") + address + QStringLiteral(" \u2192 kept as ") + file;
}

void RunReport::skipped(const QString& keyword, const QString& address, const QString& reason) {
    lines << keyword + QStringLiteral(": ") + address + QStringLiteral(" \u2192 skipped: ") + reason;
}

QString RunReport::detailsText() const {
    return lines.join(QLatin1Char('\n'));
}

void RunReport::notPicture(const QString& reason) {
    ++notPictures;
    ++reasons[reason];
}

void RunReport::failure(const QString& reason) {
    ++failed;
    ++reasons[reason];
}

QString RunReport::mostFrequentReason() const {
    QString best;
    int most = 0;
    for (auto it = reasons.cbegin(); it != reasons.cend(); ++it) {
        if (it.value() > most) {
            most = it.value();
            best = it.key();
        }
    }
    return best;
}

QString RunReport::endText() const {
    QStringList notes;
    if (keywordsLeftOut > 0)
        notes << counted(keywordsLeftOut, "keyword", "keywords") +
                     QStringLiteral(" after the first 100 %1 not processed.")
                         .arg(keywordsLeftOut == 1 ? QStringLiteral("was") : QStringLiteral("were"));
    if (!unusableKeywords.isEmpty()) {
        QStringList named;
        for (const QString& keyword : unusableKeywords.mid(0, NamedKeywords))
            named << QLatin1Char('"') + keyword + QLatin1Char('"');
        QString note =
            QStringLiteral("Skipped, because they cannot name a file: ") + named.join(QStringLiteral(", "));
        if (unusableKeywords.size() > NamedKeywords)
            note += QStringLiteral(" and %1 more").arg(unusableKeywords.size() - NamedKeywords);
        notes << note + QLatin1Char('.');
    }
    // When no source could be reached, the box says so once; curl's words are in the details.
    if (unreachableHost.isEmpty())
        for (const QString& source : leftOut)
            notes << QStringLiteral("Left out for the rest of the run: ") + source;
    const auto withNotes = [&](const QString& text) {
        return notes.isEmpty() ? text : text + Paragraph + notes.join(Paragraph);
    };

    if (kept > 0) {
        if (unreadable > 0)
            notes << counted(unreadable, "result", "results") +
                         QStringLiteral(
                             " could not be read (an address, width or height that is not usable).");
        if (licence > 0)
            notes << counted(licence, "result was", "results were") +
                         QStringLiteral(" skipped because their licence does not allow the use chosen.");
        if (alreadyThere > 0)
            notes << counted(alreadyThere, "picture was", "pictures were") +
                         QStringLiteral(" already in the folder and not saved again.");
        if (!unreachableHost.isEmpty())
            notes << RunTexts::cannotReach(unreachableHost);
        else if (!serviceProblem.isEmpty())
            notes << QStringLiteral("Some searches failed: ") + serviceProblem;
        if (!creditsProblem.isEmpty())
            notes << QStringLiteral("The credits list (credits.csv) could not be written: ") +
                         creditsProblem + QLatin1Char('.');
        notes << counted(kept, "picture", "pictures") + QStringLiteral(" saved in ") + folderShown(folder) +
                     QLatin1Char('.');
        return withNotes(stoppedBecause.isEmpty() ? Download::DoneText(site) : stoppedBecause);
    }
    if (!stoppedBecause.isEmpty())
        return withNotes(stoppedBecause);
    // curl's own words are in the details.
    if (!unreachableHost.isEmpty())
        return withNotes(RunTexts::cannotReach(unreachableHost));
    if (resultsSeen > 0) {
        QStringList details{QStringLiteral("Results looked at: %1").arg(resultsSeen),
                            QStringLiteral("Filtered by width or height: %1").arg(filtered)};
        if (licence > 0)
            details << QStringLiteral("Licence does not allow the use chosen: %1").arg(licence);
        if (unreadable > 0)
            details << QStringLiteral("Could not be read: %1").arg(unreadable);
        if (alreadyThere > 0)
            details << QStringLiteral("Already in the folder: %1").arg(alreadyThere);
        details << QStringLiteral("Not pictures: %1").arg(notPictures)
                << QStringLiteral("Failed to download: %1").arg(failed);
        if (!reasons.isEmpty())
            details << QStringLiteral("Most frequent reason: ") + mostFrequentReason();
        return withNotes(QStringLiteral("No pictures were saved.") + Paragraph + details.join(Line));
    }
    if (!serviceProblem.isEmpty())
        return withNotes(RunTexts::searchFailed(serviceProblem, serviceAnswerTooLarge));
    if (serviceStatus != 0 && serviceMessage.isEmpty())
        return withNotes(RunTexts::serviceError(serviceStatus));
    return withNotes(Download::NothingFoundText(serviceMessage));
}

namespace RunTexts {

QString unreachable(const QString& curlError) {
    return QStringLiteral("Could not reach the image search service.") + Paragraph + curlError;
}

QString cannotReach(const QString& host) {
    return QStringLiteral("Could not reach %1. Check the internet connection, or the proxy settings, and try "
                          "again.")
        .arg(host);
}

QString answerTooLarge(const QString& curlError) {
    return QStringLiteral(
               "The image search service's answer was too large (more than %1 MB) and was not read.")
               .arg(Limits::SearchAnswerBytes / (1024 * 1024)) +
           Paragraph + curlError;
}

QString searchFailed(const QString& curlError, bool tooLarge) {
    return tooLarge ? answerTooLarge(curlError) : unreachable(curlError);
}

QString serviceError(int httpStatus) {
    return QStringLiteral("The image search service answered with an error (HTTP %1).").arg(httpStatus);
}

QString folderUnusable(const QString& folder, const QString& reason) {
    return QStringLiteral("Cannot save pictures in the folder \"%1\": %2.").arg(folderShown(folder), reason);
}

QString keyValid() {
    return QStringLiteral("Congratulations! Your API Key is valid and working.");
}

QString keyInvalid(const QString& serviceMessage) {
    return QStringLiteral("Incorrect. Please check your API key.") + Paragraph + serviceMessage;
}

QString sourceWorks(const QString& name) {
    return name + QStringLiteral(" answered: it works, and needs no key.");
}

} // namespace RunTexts
