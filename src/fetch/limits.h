#pragma once

#include <QtGlobal>

// Every limit a request or a download is held to, in one place. curl is told each of them, and the
// program checks again what it reads.
namespace Limits {

// curl gives up when it cannot connect within this time: a search, and a picture download.
inline constexpr int ConnectSeconds = 15;
inline constexpr int DownloadConnectSeconds = 30;

// curl gives up when less than StallBytesPerSecond arrive for StallSeconds in a row, so an answer
// that trickles cannot hold a run forever.
inline constexpr int StallBytesPerSecond = 1;
inline constexpr int StallSeconds = 30;

// The stall limit every request is given: StallSeconds. A test may shorten it for its whole process,
// to see a trickling answer end (and be tried again) in a fraction of the time; the program never
// changes it. setStallSeconds with 0 or less restores StallSeconds.
int stallSeconds();
void setStallSeconds(int seconds);

// The search request as a whole.
inline constexpr int SearchSeconds = 120;

// The largest search answer curl writes and the scanner reads.
inline constexpr qint64 SearchAnswerBytes = 32 * 1024 * 1024;

// The largest picture a download may bring.
inline constexpr qint64 DownloadBytes = 100 * 1024 * 1024;

// Redirects followed for one picture, each target checked before it is requested.
inline constexpr int Redirects = 5;

// The longest file name the file systems of this platform take, in bytes.
inline constexpr int FileNameBytes = 255;

// How long the program waits for a host name to be resolved before a download.
inline constexpr int ResolveSeconds = ConnectSeconds;

// What is kept of one text of a search answer (a title, a creator, a licence name): longer texts are
// cut, so a hostile answer cannot make a credits line of megabytes.
inline constexpr int AnswerTextChars = 1000;

// The longest address an answer may give for a picture, a page or a licence; a longer one is not used.
inline constexpr int AnswerAddressChars = 8192;

// What is kept of a service's error message.
inline constexpr int ServiceMessageChars = 500;

// The results read from one answer of a public source. A page holds at most 200; a run never keeps
// more than 50 a keyword. Entries beyond are not read.
inline constexpr int AnswerResults = 500;

// The pages of results a public source is asked for one keyword. A run keeps at most 50 pictures a
// keyword from pages of 20 or more; a source that offers a next page after every page (or the same
// page again) ends here.
inline constexpr int PagesPerKeyword = 10;

// The largest picture side an answer may claim; a larger number counts as unknown.
inline constexpr qint32 PictureSidePixels = 1'000'000;

} // namespace Limits
