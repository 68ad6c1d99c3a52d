#include "fetch/embedded_credits.h"

#include "fetch/download_target.h"
#include "fetch/picture_type.h"
#include "fetch/sources/answer_fields.h"

#include <QFile>
#include <QFileInfo>
#include <QtEndian>

#include <exiv2/exiv2.hpp>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace EmbeddedCredits {

namespace {

// What exiv2 inflates of a PNG's compressed text and colour profile chunks is not bounded by the
// file's size: their compressed bytes are, here. Real pictures carry a few kilobytes.
constexpr qint64 PngCompressedMetadataBytes = 256 * 1024;

// The longest reason exiv2 gives that a note shows.
constexpr int ReasonChars = 200;

struct Failure {
    QString reason;
};

Outcome failed(const QString& reason) {
    Outcome out;
    out.note = QStringLiteral("credits not written into the picture: ") + reason;
    return out;
}

QString systemReason(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

std::string utf8(const QString& text) {
    return text.toStdString();
}

// Takes out a field with its array items and structure fields.
void erase(Exiv2::XmpData& xmp, const std::string& key) {
    for (auto it = xmp.begin(); it != xmp.end();) {
        const std::string k = it->key();
        if (k == key || k.rfind(key + '[', 0) == 0 || k.rfind(key + '/', 0) == 0)
            it = xmp.erase(it);
        else
            ++it;
    }
}

// The values are set as they are, never parsed: a title that reads 'type="Bag"' or 'lang="de"' is a
// title.
void setText(Exiv2::XmpData& xmp, const char* key, const QString& text) {
    erase(xmp, key);
    Exiv2::XmpTextValue value;
    value.value_ = utf8(text);
    xmp.add(Exiv2::XmpKey(key), &value);
}

void setLanguageAlternative(Exiv2::XmpData& xmp, const char* key, const QString& text) {
    erase(xmp, key);
    Exiv2::LangAltValue value;
    value.value_["x-default"] = utf8(text);
    xmp.add(Exiv2::XmpKey(key), &value);
}

void setSequence(Exiv2::XmpData& xmp, const char* key, const QString& item) {
    erase(xmp, key);
    Exiv2::XmpArrayValue value(Exiv2::xmpSeq);
    value.read(utf8(item)); // one item, taken as it is
    xmp.add(Exiv2::XmpKey(key), &value);
}

// A structure (in `array`, a sequence of one) holding one field.
void setStructureField(Exiv2::XmpData& xmp, const char* structure, bool array, const char* field,
                       const QString& text) {
    erase(xmp, structure);
    Exiv2::XmpTextValue node;
    std::string path = structure;
    if (array) {
        node.setXmpArrayType(Exiv2::XmpValue::xaSeq);
        xmp.add(Exiv2::XmpKey(path), &node);
        node.setXmpArrayType(Exiv2::XmpValue::xaNone);
        path += "[1]";
    }
    node.setXmpStruct();
    xmp.add(Exiv2::XmpKey(path), &node);
    Exiv2::XmpTextValue value;
    value.value_ = utf8(text);
    xmp.add(Exiv2::XmpKey(path + '/' + field), &value);
}

// Whether a licence is the public domain or CC0 rather than one that keeps rights.
bool isPublicDomain(const Sources::Credits& c) {
    const QString name = c.licence.toLower();
    return name.contains(QLatin1String("cc0")) || name.contains(QLatin1String("public domain")) ||
           c.licenceAddress.contains(QLatin1String("/publicdomain/"));
}

void setCredits(Exiv2::XmpData& xmp, const CreditsFile::Line& line, const QString& rights) {
    const Sources::Credits& c = line.credits;
    if (!c.title.isEmpty())
        setLanguageAlternative(xmp, "Xmp.dc.title", c.title);
    if (!c.creator.isEmpty())
        setSequence(xmp, "Xmp.dc.creator", c.creator);
    setLanguageAlternative(xmp, "Xmp.dc.rights", rights);
    if (!c.licenceAddress.isEmpty())
        setText(xmp, "Xmp.xmpRights.WebStatement", c.licenceAddress);
    // Marked tells rights kept from the public domain; unknown terms leave it out.
    if (!c.licence.isEmpty() || !c.licenceAddress.isEmpty())
        setText(xmp, "Xmp.xmpRights.Marked",
                isPublicDomain(c) ? QStringLiteral("False") : QStringLiteral("True"));
    const QString source = CreditsFile::sourceName(line);
    setText(xmp, "Xmp.photoshop.Credit",
            c.creator.isEmpty() ? source : c.creator + QStringLiteral(" / ") + source);
    if (!c.sourcePage.isEmpty())
        setStructureField(xmp, "Xmp.plus.Licensor", true, "plus:LicensorURL", c.sourcePage);
    if (!c.creatorAddress.isEmpty())
        setStructureField(xmp, "Xmp.iptc.CreatorContactInfo", false, "Iptc4xmpCore:CiUrlWork",
                          c.creatorAddress);
}

// Whether the compressed chunks of a PNG stay within PngCompressedMetadataBytes.
bool pngMetadataFits(const QByteArray& bytes) {
    qint64 compressed = 0;
    for (qsizetype at = 8; at + 8 <= bytes.size();) {
        const quint32 length = qFromBigEndian<quint32>(bytes.constData() + at);
        const QByteArray type = bytes.mid(at + 4, 4);
        if (type == "zTXt" || type == "iTXt" || type == "iCCP")
            compressed += length;
        if (type == "IEND" || compressed > PngCompressedMetadataBytes)
            break;
        at += 12 + qsizetype(length);
    }
    return compressed <= PngCompressedMetadataBytes;
}

Exiv2::Image::AutoPtr openInMemory(const QByteArray& bytes) {
    Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(
        reinterpret_cast<const Exiv2::byte*>(bytes.constData()), long(bytes.size()));
    if (!image.get())
        throw Failure{QStringLiteral("exiv2 does not know the file")};
    image->readMetadata();
    return image;
}

// The picture's bytes with the credits, or a Failure.
QByteArray credited(const QByteArray& bytes, const CreditsFile::Line& line) {
    static std::once_flag ready;
    std::call_once(ready, [] {
        Exiv2::XmpParser::initialize();
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute); // nothing goes to the terminal
    });
    const QString rights = CreditsFile::attribution(line);
    try {
        Exiv2::Image::AutoPtr image = openInMemory(bytes);
        setCredits(image->xmpData(), line, rights);
        image->writeMetadata();
        Exiv2::BasicIo& io = image->io();
        if (io.open() != 0)
            throw Failure{QStringLiteral("exiv2 could not write the metadata")};
        const Exiv2::DataBuf written = io.read(long(io.size()));
        io.close();
        const QByteArray out(reinterpret_cast<const char*>(written.pData_), written.size_);
        // exiv2 reports some failures only to its log: the copy must read back with the credits.
        const Exiv2::Image::AutoPtr back = openInMemory(out);
        const auto found = back->xmpData().findKey(Exiv2::XmpKey("Xmp.dc.rights"));
        if (found == back->xmpData().end() || found->toString(0) != utf8(rights))
            throw Failure{QStringLiteral("exiv2 could not write the metadata")};
        return out;
    } catch (const Failure&) {
        throw;
    } catch (const std::exception& e) {
        // exiv2's reasons ("This does not look like a JPEG image"); also running out of memory.
        throw Failure{AnswerFields::cleanText(QString::fromLocal8Bit(e.what()), ReasonChars)};
    } catch (...) {
        throw Failure{QStringLiteral("exiv2 could not read the picture")};
    }
}

// Reads the picture from the open `fd` whole: at most LargestPictureBytes.
QByteArray readAll(int fd, qint64 size) {
    QByteArray bytes(size, Qt::Uninitialized);
    qint64 done = 0;
    while (done < size) {
        const ssize_t got = ::pread(fd, bytes.data() + done, size_t(size - done), done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            throw Failure{got < 0 ? systemReason(errno)
                                  : QStringLiteral("the picture was cut short meanwhile")};
        done += got;
    }
    return bytes;
}

bool writeAll(int fd, const QByteArray& bytes) {
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t put = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0) {
            if (put == 0)
                errno = ENOSPC;
            return false;
        }
        done += put;
    }
    return true;
}

// Puts the credited copy in the picture's place: written beside it, then renamed over it while the
// name still holds the picture read from `fd`.
void replace(const QString& picture, int fd, const struct stat& status, const QByteArray& bytes) {
    QString error;
    int out = -1;
    const QString copy = DownloadTarget::createPartial(QFileInfo(picture).path(), &error, &out);
    if (copy.isEmpty())
        throw Failure{error};
    const bool written =
        writeAll(out, bytes) && ::fchmod(out, status.st_mode & 07777) == 0 && ::fsync(out) == 0;
    const int writeError = errno;
    if (!written) {
        DownloadTarget::removePartial(copy, out);
        throw Failure{systemReason(writeError)};
    }
    if (!DownloadTarget::isSameFile(picture, fd)) {
        DownloadTarget::removePartial(copy, out);
        throw Failure{QStringLiteral("the picture was replaced meanwhile")};
    }
    if (::rename(QFile::encodeName(copy).constData(), QFile::encodeName(picture).constData()) != 0) {
        const int renameError = errno;
        DownloadTarget::removePartial(copy, out);
        throw Failure{systemReason(renameError)};
    }
    ::close(out);
}

} // namespace

bool takesCredits(const QString& contentExtension) {
    return contentExtension == QLatin1String("jpg") || contentExtension == QLatin1String("png") ||
           contentExtension == QLatin1String("webp") || contentExtension == QLatin1String("tif");
}

Outcome write(const QString& picture, const CreditsFile::Line& line) {
    const int fd =
        ::open(QFile::encodeName(picture).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return failed(systemReason(errno));
    Outcome out;
    try {
        struct stat status {};
        if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode))
            throw Failure{QStringLiteral("not a regular file")};
        if (status.st_size > LargestPictureBytes)
            throw Failure{QStringLiteral("the picture is larger than %1 MB").arg(LargestPictureBytes >> 20)};
        const QByteArray bytes = readAll(fd, status.st_size);
        const QString kind = PictureType::ofHead(bytes.left(64));
        if (!takesCredits(kind)) {
            ::close(fd);
            out.note = QStringLiteral("only the credits list: credits are not written into %1 pictures")
                           .arg(kind.isEmpty() ? QStringLiteral("such") : kind.toUpper());
            return out;
        }
        if (kind == QLatin1String("png") && !pngMetadataFits(bytes))
            throw Failure{QStringLiteral("its compressed metadata is larger than %1 KB")
                              .arg(PngCompressedMetadataBytes >> 10)};
        const QByteArray result = credited(bytes, line);
        if (PictureType::ofHead(result.left(64)) != kind)
            throw Failure{QStringLiteral("exiv2 could not write the metadata")};
        replace(picture, fd, status, result);
        out.written = true;
        out.asArrived = FolderPictures::originalOf(bytes);
    } catch (const Failure& failure) {
        ::close(fd);
        return failed(failure.reason);
    }
    ::close(fd);
    const QString listProblem = FolderPictures::rememberOriginal(picture, out.asArrived);
    if (!listProblem.isEmpty())
        out.note = QStringLiteral("the list of originals could not be written: ") + listProblem;
    return out;
}

} // namespace EmbeddedCredits
