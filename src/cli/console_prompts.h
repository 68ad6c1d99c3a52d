#pragma once

#include "base/prompts.h"

#include <QString>

// Writing to the console: whole lines, flushed at once, so that a script reading the output sees
// each line as soon as it is decided.
namespace Console {

void out(const QString& line); // a line on standard output
void err(const QString& line); // "glimmerfetch: " and the line on standard error
// Text as it goes to a console: the CR LF and CR line ends of the program's messages as LF, and any
// other control or bidirectional formatting character as "?".
QString plain(const QString& text);

} // namespace Console

// What the core would ask a person, answered on a console where nobody is there to answer: every
// message goes to standard error and every question gets its cautious answer (Cancel, No, nothing
// chosen).
class ConsolePrompts : public Prompts {
public:
    Answer messageBox(const QString& text, const QString& title, Buttons buttons, Icon icon) override;
    QString inputBox(const QString& prompt, const QString& title) override;
    QStringList openFiles(const FileRequest& request) override;
    QString saveFile(const FileRequest& request) override;
    QString browseForFolder(const QString& prompt, const QString& startFolder) override;
    bool openUrl(const QString& url) override;
    std::optional<CellRange> chooseCellBlock(const Sheet& sheet, const QString& prompt) override;
    ReportChoice runReport(const QString& text, const QString& details, const QString& title,
                           bool offerFolder) override;
};
