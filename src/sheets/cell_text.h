#pragma once

#include <QDateTime>
#include <QString>

#include <optional>

// How a spreadsheet shows a stored value: numbers in the general form, dates and times in the
// cell's number format.
namespace CellText {

// A number as the general format shows it: 3, 0.5, 1234567, -2.25, 1E+20; no trailing ".0".
QString generalNumber(double value);

// The format code of a built-in date or time format id of the Office Open XML styles (14
// "m/d/yyyy", 22 "m/d/yyyy h:mm", ...); "" for the East Asian date ids, whose dates are shown in
// ISO form; nothing for ids that are no date or time formats.
std::optional<QString> builtInDateFormat(int id);

// True when the format code shows dates or times (it has y, m, d, h or s outside quotes and
// brackets and no digit placeholders).
bool isDateFormat(const QString& code);

// A serial day number of a workbook as a date and time. `date1904` selects the 1904 date system.
// Nothing for values outside the years 1900 to 9999.
std::optional<QDateTime> serialToDateTime(double serial, bool date1904 = false);

// The date and time shown through a date format code (first section only). Nothing when the code
// holds parts this renderer does not know; the caller then uses isoDateTime().
std::optional<QString> formatDateTime(const QDateTime& when, double serial, const QString& code);

// "2021-08-31", "2021-08-31 14:05:00" or "14:05:00" (when the date part is the zero day).
QString isoDateTime(const QDateTime& when, double serial);

// A stored serial number shown through a date format: the format where it can be rendered, ISO
// form otherwise (an empty code included), the general number when it is no valid date.
QString dateText(double serial, const QString& code, bool date1904 = false);

} // namespace CellText
