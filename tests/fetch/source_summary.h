// How the image source tests show an answer: one line for its kind and counts, one for a result.
#pragma once

#include "fetch/sources/source.h"

#include <QString>
#include <QVector>

// One result in one line: "address WxH ext mime | title | creator <address> | licence <address> | page".
inline QString describe(const QVector<Sources::SourceResult>& results, qsizetype index) {
    if (index < 0 || index >= results.size())
        return {};
    const Sources::SourceResult& r = results.at(index);
    const Sources::Credits& c = r.credits;
    return r.address + QLatin1Char(' ') + QString::number(r.width) + QLatin1Char('x') +
           QString::number(r.height) + QLatin1Char(' ') + r.extension + QLatin1Char(' ') + r.mimeType +
           QStringLiteral(" | ") + c.title + QStringLiteral(" | ") + c.creator + QStringLiteral(" <") +
           c.creatorAddress + QStringLiteral("> | ") + c.licence + QStringLiteral(" <") + c.licenceAddress +
           QStringLiteral("> | ") + c.sourcePage;
}

// The answer apart from its results: "results 3 skipped 0 total 143 next page 2".
inline QString summary(const Sources::SourceAnswer& a) {
    static const char* const kinds[] = {"results", "error", "unreadable"};
    QString out = QStringLiteral("%1 %2 skipped %3 total %4")
                      .arg(QLatin1String(kinds[int(a.kind)]))
                      .arg(a.results.size())
                      .arg(a.skipped)
                      .arg(a.total);
    if (a.hasNext)
        out += a.nextOffset > 0 ? QStringLiteral(" next offset %1").arg(a.nextOffset)
                                : QStringLiteral(" next page %1").arg(a.nextPage);
    if (!a.message.isEmpty())
        out += QStringLiteral(" message ") + a.message;
    return out;
}
