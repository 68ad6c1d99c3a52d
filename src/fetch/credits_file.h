#pragma once

#include "fetch/sources/source.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

// The credits list of a folder, "credits.csv": one line for every picture kept, saying where it came
// from, who made it and under which licence. The file is created with its header line on the first
// picture and only ever appended to (RFC 4180: fields with a comma, quote or line break are quoted,
// quotes doubled, lines end in CR LF), so lines of earlier runs stay as they are.
namespace CreditsFile {

inline constexpr char FileName[] = "credits.csv";

// What one line says about one kept picture.
struct Line {
    QString file; // the name in the folder ("cat 1.jpg")
    QString keyword;
    Sources::Source source = Sources::Source::ContextualWeb;
    QString address; // the picture's address
    Sources::Credits credits;
    QDateTime time; // when it was kept (written in UTC)
};

// "file,keyword,source,address,source page,title,creator,licence,licence address,time,attribution"
// and CR LF.
QByteArray header();

// Where the picture came from, as a credit names it: the source ("Openverse"), or for the original
// service, which only finds pictures, the host of the picture's address.
QString sourceName(const Line& line);

// The credit as people write it under a picture: title, creator, source, licence with its address,
// those that are known: "\"Cup of coffee\" by Etenil, Openverse, CC BY-SA 2.0
// (https://creativecommons.org/licenses/by-sa/2.0/)", "By Etenil, Pexels, Pexels License (...)",
// "Wikimedia Commons, Public domain".
QString attribution(const Line& line);

// One line as written, CR LF included; without the attribution, the columns of the lists written
// before there was one. A field that a spreadsheet would read as a formula (it starts with "=", "+",
// "-", "@", a tab or CR) gets a leading "'", so that opening the list never runs what a stranger
// wrote into a title.
QByteArray format(const Line& line, bool withAttribution = true);

// One field, quoted where it must be; control characters but CR, LF and tab become "_".
QByteArray field(const QString& text);

// Appends the line to the folder's credits list (`folder` ends in "/"), writing the header first
// when the list is new or empty. A list that begins with the header of the lists written before
// there was an attribution column gets lines without it, so that every line has its header's
// columns. The list is never created or written through a symbolic link, and
// nothing but a regular file is appended to. A line that did not fit whole (a full disk) is taken
// out again, so the list always ends with a whole line. Returns "" or the reason it could not be
// written.
QString append(const QString& folder, const Line& line);

} // namespace CreditsFile
