#pragma once

#include <QString>

// How the program reads numbers typed into its fields.
namespace Conversions {

// True for text that reads as a number: optional blanks, a sign, digits with at most one decimal
// point, an optional exponent. "", "abc", "1,5", "inf" and "nan" are not numbers.
bool IsNumeric(const QString& text);

// The number in the text; throws AppError("Type mismatch") when it is not numeric.
double ToDouble(const QString& text);

// The number rounded to a whole number with halves to even (2.5 -> 2, 3.5 -> 4), as a 16-bit
// integer; throws AppError("Overflow") outside -32768..32767.
int ToInt16(double value);

// The text converted as a flag: "True"/"False" in any case, or a number (non-zero is true).
// Throws AppError("Type mismatch") otherwise.
bool ToBool(const QString& text);

} // namespace Conversions
