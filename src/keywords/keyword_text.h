#pragma once

#include <QString>

namespace KeywordText {

// The text without NUL and the other control characters (U+0000 to U+001F, U+007F to U+009F);
// tabs stay. Every reader of keyword files (text lists and every workbook format) passes each
// keyword through here, so no keyword carries a character that ends a C string or a line.
QString withoutControlCharacters(const QString& text);

} // namespace KeywordText
