#pragma once

#include "base/surface.h"

#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>

class KeywordList;

// What a download run reports, on a console. Standard output carries what scripts read: on a
// terminal one status line rewritten in place, otherwise the path of each picture kept, one a line,
// or with JSON one object per result looked at. Messages, the run's problems and the summary go to
// standard error.
class ConsoleObserver : public RunObserver {
public:
    enum class Output {
        Status, // a terminal: the status line
        Lines,  // a pipe or a file: one line per picture kept
        Json,   // one JSON object per result
        Quiet,  // nothing but errors and the summary
    };
    ConsoleObserver(Output output, const KeywordList& keywords, const QString& folder);

    int pointer() const override { return pointer_; }
    void setPointer(int value) override { pointer_ = value; }
    int progressValue() const override { return value_; }
    void setProgressValue(int value) override { value_ = value; }
    QString progressText() const override { return text_; }
    void setProgressText(const QString& text) override;

    void showMessage(const QString& text) override;
    void showReport(const QString& text, const QString& details, const QString& folder) override;
    void resultDone(const Result& result) override;

    // The lines that end a run: pictures kept and where, results skipped by reason, keywords that
    // got no picture, and (when none was kept) the run's own word on what happened, or "Nothing
    // new" when every picture found was in the folder already. `kept` is the run's own count; `cause`,
    // when given, ends the run's word in brackets (curl's own words on a source out of reach).
    QStringList summary(int kept, bool stopped, const QString& cause = QString()) const;

    // Results skipped, and those of them skipped because the folder holds the picture already.
    int skipped() const { return skippedCount_; }
    int alreadyThere() const { return already_; }
    // The last message shown (a check that kept the run from starting), and the run's end message.
    const QString& lastMessage() const { return lastMessage_; }
    const QString& endText() const { return endText_; }

    // One result as a JSON object on one line: keyword, address, outcome ("kept" or "skipped"),
    // file (the kept picture's path, else null), for a skipped one the reason, the source, and what
    // the source says of the picture where it says it (title, creator, licence, licence_address,
    // source_page).
    static QByteArray jsonLine(const Result& result, const QString& folder);

private:
    void drawStatus();
    void clearStatus();

    Output output_;
    const KeywordList& keywords_;
    QString folder_;
    int pointer_ = Default;
    int value_ = 0;
    QString text_;
    int current_ = 0; // the keyword being worked on, 1-based; 0 before the first
    int kept_ = 0;
    QMap<QString, int> skipped_; // reason -> results
    QSet<QString> keywordsKept_; // keywords that got at least one picture
    QString endText_;
    QString lastMessage_;
    int skippedCount_ = 0;
    int already_ = 0;
    bool statusShown_ = false;
};
