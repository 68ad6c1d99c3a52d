#include "cli/console_prompts.h"

#include "fetch/sources/answer_fields.h"
#include "sheets/workbook.h"

#include <cstdio>

namespace Console {

namespace {

void write(std::FILE* stream, const QString& text) {
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stream);
    std::fflush(stream);
}

} // namespace

QString plain(const QString& text) {
    QString result = text;
    result.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    result.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    // Whatever a line carries (a value typed, a name from a list or a service), a terminal command or
    // a bidirectional override in it is shown as a mark and never acted on.
    for (QChar& c : result)
        if (c != QLatin1Char('\n') && c != QLatin1Char('\t') && AnswerFields::isControl(c.unicode()))
            c = QLatin1Char('?');
    return result;
}

void out(const QString& line) {
    write(stdout, line + QLatin1Char('\n'));
}

void err(const QString& line) {
    write(stderr, QStringLiteral("glimmerfetch: ") + plain(line) + QLatin1Char('\n'));
}

} // namespace Console

Prompts::Answer ConsolePrompts::messageBox(const QString& text, const QString& title, Buttons buttons,
                                           Icon icon) {
    (void)title;
    (void)icon;
    Console::err(text);
    switch (buttons) {
    case Buttons::Ok:
        return Answer::Ok;
    case Buttons::YesNo:
        return Answer::No;
    case Buttons::OkCancel:
    case Buttons::YesNoCancel:
        break;
    }
    return Answer::Cancel;
}

QString ConsolePrompts::inputBox(const QString& prompt, const QString& title) {
    (void)prompt;
    (void)title;
    return QString();
}

QStringList ConsolePrompts::openFiles(const FileRequest& request) {
    (void)request;
    return {};
}

QString ConsolePrompts::saveFile(const FileRequest& request) {
    (void)request;
    return QString();
}

QString ConsolePrompts::browseForFolder(const QString& prompt, const QString& startFolder) {
    (void)prompt;
    (void)startFolder;
    return QString();
}

bool ConsolePrompts::openUrl(const QString& url) {
    (void)url;
    return false;
}

std::optional<CellRange> ConsolePrompts::chooseCellBlock(const Sheet& sheet, const QString& prompt) {
    (void)sheet;
    (void)prompt;
    return std::nullopt;
}

Prompts::ReportChoice ConsolePrompts::runReport(const QString& text, const QString& details,
                                                const QString& title, bool offerFolder) {
    (void)details;
    (void)title;
    (void)offerFolder;
    Console::err(text);
    return ReportChoice::Ok;
}
