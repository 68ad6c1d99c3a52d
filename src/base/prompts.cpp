#include "base/prompts.h"

#include "base/globals.h"

#include <QDir>
#include <QUrl>

void Prompts::tell(const QString& text) {
    messageBox(text, Globals::applicationTitle(), Buttons::Ok, Icon::None);
}

void Prompts::openFolder(const QString& folder) {
    if (openUrl(QUrl::fromLocalFile(folder).toString()))
        return;
    QString shown = QDir::toNativeSeparators(folder);
    if (shown.size() > 1 && shown.endsWith(QDir::separator()))
        shown.chop(1);
    tell(QStringLiteral("The folder could not be opened: no file manager was found.\r\n\r\nThe pictures are "
                        "in:\r\n") +
         shown);
}

Prompts::ReportChoice Prompts::report(const QString& text, const QString& details, const QString& folder) {
    const ReportChoice choice = runReport(text, details, Globals::applicationTitle(), !folder.isEmpty());
    if (choice == ReportChoice::OpenFolder)
        openFolder(folder);
    return choice;
}
