#pragma once

#include "base/settings_store.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

// The two decisions the download run makes about a result: before the download, the width and
// height filters the user set in the filter dialog; after it, whether the file that arrived is a
// picture or a web page / error text.

// The width and height filters of a run: as the user set them in the filter dialog, read from the
// settings store when the run starts, or as a caller gives them (the command line).
struct FilterSettings {
    bool heightOn = false;
    bool widthOn = false;
    int heightLimit = 500;
    int widthLimit = 500;
    // The comparisons, 0 "Greater than" and 1 "Less than". Unset: the dialog's choices, read from the
    // settings for every result a switched-on filter looks at (ReadComparison).
    std::optional<int> heightComparison;
    std::optional<int> widthComparison;

    // The four reads of a run's start, in the order the run makes them, each on its own: a read that
    // fails (a limit beyond the 32-bit range throws AppError("Overflow")) keeps that field as it was.
    // HeightFilter = "4" switches the height filter on, WidthFilter = "6" the width filter; any other
    // text leaves it off. The limits come from WidthLimit and HeightLimit (limitFrom()).
    void readHeightSwitch();
    void readWidthSwitch();
    void readWidthLimit();
    void readHeightLimit();
    // All four: the first failure is thrown.
    static FilterSettings read();

    // One limit text as the run reads it: not numeric or negative gives 500. Throws
    // AppError("Overflow") beyond the 32-bit range.
    static int limitFrom(const QString& text);
};

// The comparison stored under HeightComparison or WidthComparison: the position in the dialog's
// list, 0 "Greater than", 1 "Less than". Throws AppError("Type mismatch") for text that is not a
// number; the caller then compares as for 0.
int ReadComparison(SettingKey key);

// Whether one size passes one comparison. Both comparisons are strict; any other comparison
// number never passes.
bool DimensionPasses(int value, int limit, int comparison);

// Reads a comparison for a switched-on filter. The run passes one that reports a failed read and
// then answers 0.
using ComparisonReader = std::function<int(SettingKey key)>;

// Keep (true) or reject a result of the given width and height. A comparison the filters do not give
// is read for each result, for every filter that is on (height first), even when the first has
// already rejected it.
bool DimensionFilter(const FilterSettings& filters, int width, int height,
                     const ComparisonReader& readComparison = ReadComparison);

namespace RFTSFSO {

// The file's lines as 8-bit text in the system's encoding, without their terminators (LF, CR or
// CR LF). An empty file gives one empty line. Throws AppError when the file cannot be opened.
QStringList ReadTextLines(const QString& path);

} // namespace RFTSFSO

// The texts that mark a downloaded file as a web page or an error text when its first line holds
// one of them, in any case.
const QStringList& ErrorPageSignatures();

// True when the line holds one of the signatures, ignoring case.
bool IsErrorPageLine(const QString& firstLine);

// True when the downloaded file's first line holds a signature. Throws AppError when the file
// cannot be read.
bool IsErrorPage(const QString& path);
