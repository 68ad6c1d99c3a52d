#include "cli/console_observer.h"

#include "base/file_routines.h"
#include "cli/console_prompts.h"
#include "keywords/keyword_list.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>
#include <sys/ioctl.h>
#include <unistd.h>
#include <utility>

namespace {

// The most keywords without pictures the summary names one by one.
constexpr int NamedKeywords = 10;

QString counted(int count, const char* one, const char* many) {
    return QString::number(count) + QLatin1Char(' ') + QLatin1String(count == 1 ? one : many);
}

int terminalColumns() {
    winsize size{};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return 80;
}

} // namespace

ConsoleObserver::ConsoleObserver(Output output, const KeywordList& keywords, const QString& folder)
    : output_(output)
    , keywords_(keywords)
    , folder_(folder) {}

void ConsoleObserver::setProgressText(const QString& text) {
    text_ = text;
    // The run announces each keyword with "Processing: " and the keyword's last path part, once,
    // before the texts of its steps (which add ", finding images..." and the like).
    if (current_ < keywords_.Count() &&
        text == QStringLiteral("Processing: ") +
                    Main::LastPathPart(keywords_.item(current_ + 1), QLatin1Char('\\')))
        ++current_;
    if (output_ == Output::Status)
        drawStatus();
}

void ConsoleObserver::drawStatus() {
    if (text_.isEmpty() || text_ == QLatin1String("Progress Bar"))
        return;
    // "Processing: " says nothing the line does not say already.
    QString step = text_;
    if (step.startsWith(QLatin1String("Processing: ")))
        step.remove(0, 12);
    QString line = QStringLiteral("keyword %1 of %2, %3 kept: %4")
                       .arg(qMax(current_, 1))
                       .arg(keywords_.Count())
                       .arg(kept_)
                       .arg(step);
    line = Console::plain(line).replace(QLatin1Char('\n'), QLatin1Char(' '));
    const int room = terminalColumns() - 1;
    if (line.size() > room)
        line = line.left(qMax(room - 3, 0)) + QStringLiteral("...");
    const QByteArray bytes = "\r" + line.toUtf8() + "\x1b[K";
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
    std::fflush(stdout);
    statusShown_ = true;
}

void ConsoleObserver::clearStatus() {
    if (!statusShown_)
        return;
    std::fputs("\r\x1b[K", stdout);
    std::fflush(stdout);
    statusShown_ = false;
}

void ConsoleObserver::showMessage(const QString& text) {
    clearStatus();
    lastMessage_ = text;
    Console::err(text);
}

void ConsoleObserver::showReport(const QString& text, const QString& details, const QString& folder) {
    (void)details;
    (void)folder;
    clearStatus();
    endText_ = text;
}

QByteArray ConsoleObserver::jsonLine(const Result& result, const QString& folder) {
    QJsonObject object;
    object.insert(QStringLiteral("keyword"), result.keyword);
    object.insert(QStringLiteral("address"), result.address);
    const bool kept = !result.file.isEmpty();
    object.insert(QStringLiteral("outcome"), kept ? QStringLiteral("kept") : QStringLiteral("skipped"));
    object.insert(QStringLiteral("file"),
                  kept ? QJsonValue(QDir(folder).filePath(result.file)) : QJsonValue());
    if (!kept)
        object.insert(QStringLiteral("reason"), result.reason);
    const std::pair<const char*, const QString*> said[] = {
        {"source", &result.source},
        {"title", &result.title},
        {"creator", &result.creator},
        {"licence", &result.licence},
        {"licence_address", &result.licenceAddress},
        {"source_page", &result.sourcePage},
    };
    for (const auto& [name, text] : said)
        if (!text->isEmpty())
            object.insert(QLatin1String(name), *text);
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

void ConsoleObserver::resultDone(const Result& result) {
    const bool kept = !result.file.isEmpty();
    if (kept) {
        ++kept_;
        keywordsKept_.insert(result.keyword);
    } else {
        ++skipped_[result.reason.isEmpty() ? QStringLiteral("no reason given") : result.reason];
        ++skippedCount_;
        if (result.alreadyThere)
            ++already_;
    }
    switch (output_) {
    case Output::Json: {
        const QByteArray line = jsonLine(result, folder_);
        std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stdout);
        std::fflush(stdout);
        break;
    }
    case Output::Lines:
        if (kept)
            Console::out(QDir(folder_).filePath(result.file));
        break;
    case Output::Status:
        drawStatus();
        break;
    case Output::Quiet:
        break;
    }
}

QStringList ConsoleObserver::summary(int kept, bool stopped, const QString& cause) const {
    QStringList lines;
    if (stopped)
        lines << QStringLiteral("Stopped after keyword %1 of %2.").arg(current_).arg(keywords_.Count());
    lines << QStringLiteral("Kept %1 in %2.")
                 .arg(counted(kept, "picture", "pictures"), QDir::toNativeSeparators(folder_));
    int skipped = 0;
    QStringList reasons;
    for (auto it = skipped_.cbegin(); it != skipped_.cend(); ++it) {
        skipped += it.value();
        reasons << QStringLiteral("  %1: %2").arg(it.value()).arg(it.key());
    }
    if (skipped > 0)
        lines << QStringLiteral("Skipped %1:").arg(counted(skipped, "result", "results")) << reasons;
    QStringList without;
    int withoutCount = 0;
    for (int k = 1; k <= current_ && k <= keywords_.Count(); ++k) {
        if (keywordsKept_.contains(keywords_.item(k)))
            continue;
        if (++withoutCount <= NamedKeywords)
            without << keywords_.item(k);
    }
    if (withoutCount > 0) {
        QString line = QStringLiteral("Keywords without pictures (%1): ").arg(withoutCount) +
                       without.join(QStringLiteral(", "));
        if (withoutCount > NamedKeywords)
            line += QStringLiteral(" and %1 more").arg(withoutCount - NamedKeywords);
        lines << line;
    }
    // The run's own end message says what kept every picture away (a refused key, no answer),
    // unless every picture found was there already.
    if (kept == 0 && already_ > 0 && endText_.startsWith(QLatin1String("No pictures were saved.")))
        lines << QStringLiteral("Nothing new: %1 found %2 in the folder already.")
                     .arg(counted(already_, "picture", "pictures"),
                          QLatin1String(already_ == 1 ? "is" : "are"));
    else if (kept == 0 && !endText_.isEmpty())
        lines << Console::plain(endText_).trimmed() +
                     (cause.isEmpty() ? QString() : QStringLiteral(" (") + cause + QLatin1Char(')'));
    return lines;
}
