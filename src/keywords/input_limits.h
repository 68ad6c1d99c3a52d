#pragma once

// Every limit that keeps a hostile keyword file (a text list, a workbook) from crashing the
// program or exhausting its memory, in one place. A file that breaks one of them is refused with
// a message that names the file and the limit; the list keeps what it had before that file.

#include "base/error_report.h"

#include <QDir>
#include <QString>

namespace InputLimits {

// Nesting depth of the XML inside a workbook; real workbooks stay under a dozen levels.
constexpr int MaxXmlDepth = 64;

// A zip member may inflate to at most this many bytes ...
constexpr quint64 MaxMemberBytes = 512ull * 1024 * 1024;
// ... and, once it is larger than RatioCheckedAbove, to at most this many times its compressed size.
constexpr quint64 MaxInflateRatio = 100;
constexpr quint64 RatioCheckedAbove = 16ull * 1024 * 1024;
// Members listed in one archive; a workbook has a few dozen.
constexpr int MaxArchiveMembers = 10000;

// Characters a workbook may hold in its shared strings and in the cells of its sheet (each
// counted once, however often a repeated cell shows it), and characters of the keywords one
// import may add.
constexpr qint64 MaxWorkbookCharacters = 100'000'000;
constexpr qint64 MaxImportCharacters = 100'000'000;
// Cells of a sheet that show something (a repeated cell counted once). Each costs about a hundred
// bytes and a microsecond to read, whatever its length, so a sheet of millions of one-character
// cells meets this long before the character limit; at 25 characters a cell the two agree.
constexpr qint64 MaxWorkbookCells = 4'000'000;

// The longest line of a text list or of a CSV file, in bytes.
constexpr qint64 MaxLineBytes = 1024 * 1024;
// Characters one text list file may add (a file of short lines meets the entry limit first).
constexpr qint64 MaxTextListCharacters = 200'000'000;

// Entries of the keyword list: a load that would pass it stops there, keeping what it loaded.
constexpr int MaxListEntries = 10'000'000;

// A limit broken by a file; the description names the limit, limitMessage() adds the file.
class LimitExceeded : public AppError {
public:
    using AppError::AppError;
};

// "Loading /home/ann/list.txt stopped: it has a line longer than 1 MB."
inline QString limitMessage(const QString& path, const QString& limit) {
    return QStringLiteral("Loading %1 stopped: %2.").arg(QDir::toNativeSeparators(path), limit);
}

} // namespace InputLimits
