#include "keywords/keyword_text.h"

namespace KeywordText {

namespace {

bool dropped(char16_t c) {
    return (c < 0x20 && c != u'\t') || (c >= 0x7F && c <= 0x9F);
}

} // namespace

QString withoutControlCharacters(const QString& text) {
    const QChar* chars = text.constData();
    const qsizetype n = text.size();
    qsizetype i = 0;
    while (i < n && !dropped(chars[i].unicode()))
        ++i;
    if (i == n)
        return text; // the usual case: shared, not copied
    QString out;
    out.reserve(n - 1);
    out.append(chars, i);
    for (++i; i < n; ++i)
        if (!dropped(chars[i].unicode()))
            out.append(chars[i]);
    return out;
}

} // namespace KeywordText
