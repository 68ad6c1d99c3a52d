#include "base/globals.h"

#include "base/prompts.h"

#include <QUrl>

namespace {
QString title = Globals::DisplayName;
}

namespace Globals {

bool RunBusy = false;

QString applicationTitle() {
    return title;
}

void setApplicationTitle(const QString& t) {
    title = t;
}

QString applicationTitleFrom(const QString& name) {
    const int limit = 40;
    QString result = name;
    while (result.size() > limit) {
        const qsizetype space = result.lastIndexOf(QLatin1Char(' '));
        // A single word longer than the limit is cut at the limit instead of looping for ever.
        result = space >= 0 ? result.left(space) : result.left(limit);
    }
    return result;
}

} // namespace Globals

void Prompts::tell(const QString& text) {
    messageBox(text, Globals::applicationTitle(), Buttons::Ok, Icon::None);
}

Prompts::ReportChoice Prompts::report(const QString& text, const QString& details, const QString& folder) {
    const ReportChoice choice = runReport(text, details, Globals::applicationTitle());
    if (choice == ReportChoice::OpenFolder)
        openUrl(QUrl::fromLocalFile(folder).toString());
    return choice;
}
