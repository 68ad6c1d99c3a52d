#pragma once

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QPair>
#include <QSize>
#include <QString>

// Thumbnails the desktop's way: PNG files in $XDG_CACHE_HOME/thumbnails, "normal" (at most 128
// pixels a side) and "large" (at most 256), named by the MD5 of the picture's file URI and carrying
// that URI and the picture's modification time in tEXt chunks. So the thumbnails a file manager made
// are used here, and the ones made here serve the file manager.
//
// Everything here may run on any thread: the window has its thumbnails made off its own thread.
namespace Thumbnails {

inline constexpr int NormalEdge = 128;
inline constexpr int LargeEdge = 256;
// A picture reader never allocates more than this for one picture, and a picture (not a drawing)
// that declares more pixels than MostPixels is not decoded at all: a stranger's file may declare any
// size.
inline constexpr int ReaderLimitMegabytes = 256;
inline constexpr qint64 MostPixels = 50'000'000;
// A cached thumbnail is small; a bigger file there is not read.
inline constexpr qint64 MostThumbnailBytes = 4 * 1024 * 1024;

// "file:///path/to/cat%201.jpg": the absolute path, percent-encoded as the desktop writes it.
QByteArray uriOf(const QString& path);

// $XDG_CACHE_HOME/thumbnails/normal or .../large (by the edge, NormalEdge or LargeEdge).
QString cacheFolder(int edge);

// The cache file of a picture: the folder of that size and the MD5 of its URI, in hex, ".png".
QString cachePathOf(const QString& path, int edge);

struct Thumbnail {
    QImage image; // at most LargeEdge pixels a side; null when the picture cannot be shown
    QSize pixels; // the picture's own size, when it could be told
    bool fromCache = false;
};

// The picture's large thumbnail: the cached one when it is valid for the file as it is now, else
// one made from the picture (read at a reduced size where the format allows) and written to the
// cache in both sizes. A picture that is damaged, cut short or declares too many pixels gives a null
// image and leaves the cache alone.
Thumbnail make(const QString& path);

// True for a JPEG file whose image data ends with its end marker; false for one cut short. Data
// after the end marker (as some cameras append) does not matter.
bool jpegComplete(const QString& path);

// The tEXt chunks of PNG bytes, in order: keyword and text.
QList<QPair<QByteArray, QByteArray>> textChunks(const QByteArray& png);

} // namespace Thumbnails
