#include "base/globals.h"

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
