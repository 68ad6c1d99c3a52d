#include "base/prompts.h"

#include "base/globals.h"

#include <QUrl>

void Prompts::tell(const QString& text) {
    messageBox(text, Globals::applicationTitle(), Buttons::Ok, Icon::None);
}

Prompts::ReportChoice Prompts::report(const QString& text, const QString& details, const QString& folder) {
    const ReportChoice choice = runReport(text, details, Globals::applicationTitle());
    if (choice == ReportChoice::OpenFolder)
        openUrl(QUrl::fromLocalFile(folder).toString());
    return choice;
}
