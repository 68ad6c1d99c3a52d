#include "app/thumbnails.h"

#include "base/file_routines.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QStandardPaths>
#include <QUrl>
#include <QtEndian>

#include <array>
#include <cstdio>
#include <cstdlib>

#include <sys/stat.h>
#include <unistd.h>

namespace Thumbnails {

namespace {

const QByteArray PngSignature("\x89PNG\r\n\x1a\n", 8);

QString cacheRoot() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
           QStringLiteral("/thumbnails");
}

quint32 crc32(const QByteArray& bytes) {
    static const std::array<quint32, 256> table = [] {
        std::array<quint32, 256> t{};
        for (quint32 n = 0; n < 256; ++n) {
            quint32 c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    quint32 c = 0xFFFFFFFFu;
    for (const char b : bytes)
        c = table[(c ^ static_cast<quint8>(b)) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

QByteArray bigEndian(quint32 value) {
    QByteArray out(4, Qt::Uninitialized);
    qToBigEndian(value, out.data());
    return out;
}

QByteArray chunk(const QByteArray& type, const QByteArray& data) {
    const QByteArray body = type + data;
    return bigEndian(static_cast<quint32>(data.size())) + body + bigEndian(crc32(body));
}

// Calls `each(type, data, whole chunk)` for every chunk; false when the bytes are no PNG or a chunk
// runs past the end.
template <class Each> bool walkChunks(const QByteArray& png, Each each) {
    if (!png.startsWith(PngSignature))
        return false;
    qsizetype at = PngSignature.size();
    while (at + 12 <= png.size()) {
        const quint32 length = qFromBigEndian<quint32>(png.constData() + at);
        if (length > static_cast<quint64>(png.size() - at - 12))
            return false;
        const qsizetype whole = 12 + static_cast<qsizetype>(length);
        each(png.mid(at + 4, 4), png.mid(at + 8, length), png.mid(at, whole));
        at += whole;
    }
    return at == png.size();
}

bool isTextChunk(const QByteArray& type) {
    return type == "tEXt" || type == "zTXt" || type == "iTXt";
}

// The picture's thumbnail as PNG bytes with the cache's keys, each in a tEXt chunk of its own right
// after the header (the desktop's readers look for them there, uncompressed). Text that the picture
// carried is not passed on.
QByteArray thumbnailPng(const QImage& image, const QList<QPair<QByteArray, QByteArray>>& keys) {
    QByteArray encoded;
    {
        QBuffer buffer(&encoded);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, "png");
        if (!writer.write(image))
            return QByteArray();
    }
    QByteArray out = PngSignature;
    const bool whole =
        walkChunks(encoded, [&](const QByteArray& type, const QByteArray&, const QByteArray& c) {
            if (isTextChunk(type))
                return;
            out += c;
            if (type == "IHDR")
                for (const auto& [key, value] : keys)
                    out += chunk("tEXt", key + '\0' + value);
        });
    return whole ? out : QByteArray();
}

// Writes the bytes as `path` at once: into a private file beside it, then renamed over it, so a
// reader sees the old thumbnail or the new one, never half of one.
bool writeAtomically(const QString& path, const QByteArray& bytes) {
    QByteArray pattern = QFile::encodeName(path) + ".XXXXXX";
    const int fd = ::mkstemp(pattern.data()); // mode 0600
    if (fd < 0)
        return false;
    qsizetype written = 0;
    while (written < bytes.size()) {
        const ssize_t n =
            ::write(fd, bytes.constData() + written, static_cast<size_t>(bytes.size() - written));
        if (n <= 0)
            break;
        written += n;
    }
    const bool ok = ::close(fd) == 0 && written == bytes.size() &&
                    std::rename(pattern.constData(), QFile::encodeName(path).constData()) == 0;
    if (!ok)
        ::unlink(pattern.constData());
    return ok;
}

QSize fitted(const QSize& size, int edge) {
    if (size.width() <= edge && size.height() <= edge)
        return size;
    return size.scaled(edge, edge, Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
}

// The size keys of a thumbnail: the picture's width and height when both are there.
QSize pixelsIn(const QImage& thumbnail) {
    const int w = thumbnail.text(QStringLiteral("Thumb::Image::Width")).toInt();
    const int h = thumbnail.text(QStringLiteral("Thumb::Image::Height")).toInt();
    return w > 0 && h > 0 ? QSize(w, h) : QSize();
}

// The cached thumbnail of that size when it was made from the file as it is now: same URI, same
// modification time and, where the thumbnail says it, the same size in bytes.
QImage cached(const QString& path, const QFileInfo& file, int edge) {
    const QString cachePath = cachePathOf(path, edge);
    const QFileInfo info(cachePath);
    if (!info.isFile() || info.size() > MostThumbnailBytes)
        return QImage();
    QImageReader reader(cachePath, "png");
    reader.setAllocationLimit(16);
    QImage image = reader.read();
    if (image.isNull() || image.width() > edge || image.height() > edge)
        return QImage();
    if (image.text(QStringLiteral("Thumb::URI")).toLatin1() != uriOf(path) ||
        image.text(QStringLiteral("Thumb::MTime")) != QString::number(file.lastModified().toSecsSinceEpoch()))
        return QImage();
    const QString size = image.text(QStringLiteral("Thumb::Size"));
    if (!size.isEmpty() && size != QString::number(file.size()))
        return QImage();
    return image;
}

void store(const QString& path, const QFileInfo& file, const QImage& large, const QSize& pixels) {
    // The cache keeps no thumbnails of its own files.
    const QString root = cacheRoot();
    if (file.absoluteFilePath().startsWith(root + QLatin1Char('/')))
        return;
    using Key = QPair<QByteArray, QByteArray>;
    QList<Key> keys{
        {"Thumb::URI", uriOf(path)},
        {"Thumb::MTime", QByteArray::number(file.lastModified().toSecsSinceEpoch())},
        {"Thumb::Size", QByteArray::number(file.size())},
    };
    if (pixels.isValid()) {
        keys.append(Key("Thumb::Image::Width", QByteArray::number(pixels.width())));
        keys.append(Key("Thumb::Image::Height", QByteArray::number(pixels.height())));
    }
    keys.append(Key("Software", "Glimmerfetch"));
    for (const int edge : {LargeEdge, NormalEdge}) {
        if (!Main::MakePrivateFolders(cacheFolder(edge)))
            return;
        const QImage image =
            edge == LargeEdge
                ? large
                : large.scaled(fitted(large.size(), edge), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        const QByteArray png = thumbnailPng(image, keys);
        if (!png.isEmpty())
            writeAtomically(cachePathOf(path, edge), png);
    }
}

} // namespace

QByteArray uriOf(const QString& path) {
    return QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()).toEncoded();
}

QString cacheFolder(int edge) {
    return cacheRoot() + (edge > NormalEdge ? QStringLiteral("/large") : QStringLiteral("/normal"));
}

QString cachePathOf(const QString& path, int edge) {
    const QByteArray digest = QCryptographicHash::hash(uriOf(path), QCryptographicHash::Md5).toHex();
    return cacheFolder(edge) + QLatin1Char('/') + QString::fromLatin1(digest) + QStringLiteral(".png");
}

QList<QPair<QByteArray, QByteArray>> textChunks(const QByteArray& png) {
    QList<QPair<QByteArray, QByteArray>> out;
    walkChunks(png, [&](const QByteArray& type, const QByteArray& data, const QByteArray&) {
        const qsizetype nul = data.indexOf('\0');
        if (type == "tEXt" && nul > 0)
            out.append({data.left(nul), data.mid(nul + 1)});
    });
    return out;
}

bool jpegComplete(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    auto byte = [&file]() -> int {
        char c = 0;
        return file.getChar(&c) ? static_cast<quint8>(c) : -1;
    };
    if (byte() != 0xFF || byte() != 0xD8)
        return false;
    // The segments before the image data, each with its length, up to the first scan.
    for (;;) {
        int marker = byte();
        if (marker != 0xFF)
            return false;
        while (marker == 0xFF)
            marker = byte();
        if (marker < 0)
            return false;
        if (marker == 0xD9)
            return true; // an end without image data: the reader tells what it makes of it
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7))
            continue;
        const int high = byte();
        const int low = byte();
        if (high < 0 || low < 0)
            return false;
        const qint64 length = (high << 8) | low;
        if (length < 2 || !file.seek(file.pos() + length - 2) || file.pos() > file.size())
            return false;
        if (marker == 0xDA)
            break;
    }
    // In the image data a 0xFF byte is always followed by 0, a restart marker or another marker;
    // the end marker is 0xFF 0xD9.
    QByteArray block;
    char previous = 0;
    while (!(block = file.read(64 * 1024)).isEmpty()) {
        if (previous == '\xFF' && block.at(0) == '\xD9')
            return true;
        if (block.contains("\xFF\xD9"))
            return true;
        previous = block.back();
    }
    return false;
}

Thumbnail make(const QString& path) {
    Thumbnail result;
    const QFileInfo file(path);
    if (!file.isFile())
        return result;
    result.image = cached(path, file, LargeEdge);
    if (!result.image.isNull()) {
        result.fromCache = true;
        result.pixels = pixelsIn(result.image);
        if (!result.pixels.isValid())
            result.pixels = QImageReader(path).size();
        return result;
    }

    QImageReader reader(path);
    reader.setDecideFormatFromContent(true);
    reader.setAllocationLimit(ReaderLimitMegabytes);
    reader.setAutoTransform(true);
    const QByteArray format = reader.format();
    const QSize declared = reader.size();
    const bool drawing = format == "svg" || format == "svgz";
    if (!drawing && declared.isValid() && qint64(declared.width()) * declared.height() > MostPixels)
        return result;
    if (format == "jpeg" && !jpegComplete(path))
        return result;
    // JPEG pictures and drawings are read at the thumbnail's size; the others whole, then scaled.
    const bool scalesWhileReading = format == "jpeg" || drawing;
    if (declared.isValid() && scalesWhileReading && reader.supportsOption(QImageIOHandler::ScaledSize))
        reader.setScaledSize(fitted(declared, LargeEdge));
    QImage image = reader.read();
    if (image.isNull())
        return result;
    if (image.width() > LargeEdge || image.height() > LargeEdge)
        image =
            image.scaled(fitted(image.size(), LargeEdge), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    image = image.convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied
                                                          : QImage::Format_RGB32);
    result.pixels = declared;
    if (declared.isValid() && (reader.transformation() & QImageIOHandler::TransformationRotate90))
        result.pixels.transpose();
    result.image = image;
    store(path, file, image, result.pixels);
    return result;
}

} // namespace Thumbnails
