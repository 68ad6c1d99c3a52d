#include "fetch/picture_type.h"

#include <QFile>
#include <QXmlStreamReader>

namespace PictureType {

namespace {

// Elements and documents of an SVG deeper than this are not drawn by anyone: the file is refused.
constexpr int MaxSvgDepth = 256;

// How much of a file's head the binary signatures need.
constexpr qint64 HeadBytes = 64;

bool startsWith(const QByteArray& head, const char* signature, qsizetype length, qsizetype at = 0) {
    return head.size() >= at + length && std::equal(signature, signature + length, head.constData() + at);
}

quint32 bigEndian32(const QByteArray& bytes, qsizetype at) {
    const auto* b = reinterpret_cast<const uchar*>(bytes.constData() + at);
    return (quint32(b[0]) << 24) | (quint32(b[1]) << 16) | (quint32(b[2]) << 8) | quint32(b[3]);
}

// AVIF and HEIC share the ISO media file box "ftyp"; the brands say which of the two it is.
QString isoMediaType(const QByteArray& head) {
    if (!startsWith(head, "ftyp", 4, 4) || head.size() < 12)
        return QString();
    const qsizetype boxEnd = qMin<qsizetype>(head.size(), bigEndian32(head, 0));
    QList<QByteArray> brands{head.mid(8, 4)};
    for (qsizetype at = 16; at + 4 <= boxEnd; at += 4)
        brands << head.mid(at, 4);
    for (const QByteArray& brand : brands)
        if (brand == "avif" || brand == "avis")
            return QStringLiteral("avif");
    for (const QByteArray& brand : brands)
        if (brand == "heic" || brand == "heix" || brand == "heim" || brand == "heis" || brand == "hevc" ||
            brand == "hevx" || brand == "mif1" || brand == "msf1")
            return QStringLiteral("heic");
    return QString();
}

// True when the head may begin an XML document: optional byte-order mark, white space, "<".
bool looksLikeXml(const QByteArray& head) {
    qsizetype at = startsWith(head, "\xEF\xBB\xBF", 3) ? 3 : 0;
    while (at < head.size() && (head[at] == ' ' || head[at] == '\t' || head[at] == '\r' || head[at] == '\n'))
        ++at;
    return at < head.size() && head[at] == '<';
}

// An address that runs something when followed. A browser drops tabs and line breaks anywhere in an
// address and spaces and control characters around it ("java&#9;script:" is "javascript:"); the
// reader has decoded the character references already.
bool isActiveAddress(QStringView value) {
    QString address;
    address.reserve(value.size());
    for (const QChar c : value)
        if (c.unicode() > 0x20 && c.unicode() != 0x7F)
            address += c;
    for (const char* scheme : {"javascript:", "vbscript:", "data:text/html"})
        if (address.startsWith(QLatin1String(scheme), Qt::CaseInsensitive))
            return true;
    return false;
}

bool isActiveAttribute(const QXmlStreamAttribute& attribute) {
    if (attribute.name().startsWith(QLatin1String("on"), Qt::CaseInsensitive))
        return true;
    // An animation's values are a list: "0;javascript:alert(1)".
    for (const QStringView value : attribute.value().split(QLatin1Char(';')))
        if (isActiveAddress(value))
            return true;
    return false;
}

bool isActiveElement(QStringView name) {
    for (const char* active : {"script", "foreignObject", "iframe", "embed", "object"})
        if (name.compare(QLatin1String(active), Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

// An animation that changes a link (<animate attributeName="href" ...>, <set ...>): where the link
// leads would only show once it plays.
bool animatesLink(const QXmlStreamReader& xml) {
    for (const char* animation : {"animate", "set", "animateMotion", "animateTransform", "animateColor"})
        if (xml.name().compare(QLatin1String(animation), Qt::CaseInsensitive) == 0) {
            const QStringView target = xml.attributes().value(QLatin1String("attributeName")).trimmed();
            return target.endsWith(QLatin1String("href"), Qt::CaseInsensitive);
        }
    return false;
}

// A well-formed XML document whose root element is "svg" and that carries nothing that runs.
bool isPlainSvg(QIODevice& device) {
    QXmlStreamReader xml(&device);
    int depth = 0;
    bool rootSeen = false;
    while (!xml.atEnd()) {
        switch (xml.readNext()) {
        case QXmlStreamReader::DTD:
            if (!xml.entityDeclarations().isEmpty())
                return false;
            break;
        case QXmlStreamReader::StartElement:
            if (!rootSeen && xml.name() != QLatin1String("svg"))
                return false;
            rootSeen = true;
            if (++depth > MaxSvgDepth || isActiveElement(xml.name()) || animatesLink(xml))
                return false;
            for (const QXmlStreamAttribute& attribute : xml.attributes())
                if (isActiveAttribute(attribute))
                    return false;
            break;
        case QXmlStreamReader::EndElement:
            --depth;
            break;
        case QXmlStreamReader::EntityReference:
            return false;
        default:
            break;
        }
    }
    return rootSeen && !xml.hasError();
}

} // namespace

QString ofHead(const QByteArray& head) {
    if (startsWith(head, "\xFF\xD8\xFF", 3))
        return QStringLiteral("jpg");
    if (startsWith(head, "\x89PNG\r\n\x1A\n", 8))
        return QStringLiteral("png");
    if (startsWith(head, "GIF87a", 6) || startsWith(head, "GIF89a", 6))
        return QStringLiteral("gif");
    if (startsWith(head, "RIFF", 4) && startsWith(head, "WEBP", 4, 8))
        return QStringLiteral("webp");
    if (startsWith(head, "II*\0", 4) || startsWith(head, "MM\0*", 4))
        return QStringLiteral("tif");
    // "BM" alone begins many texts; a bitmap's header has its four reserved bytes at zero.
    if (startsWith(head, "BM", 2) && startsWith(head, "\0\0\0\0", 4, 6) && head.size() >= 26)
        return QStringLiteral("bmp");
    if (startsWith(head, "\0\0\1\0", 4) && head.size() >= 6 && (head[4] != 0 || head[5] != 0))
        return QStringLiteral("ico");
    if (startsWith(head, "\xFF\x0A", 2) || startsWith(head, "\0\0\0\x0CJXL \r\n\x87\n", 12))
        return QStringLiteral("jxl");
    return isoMediaType(head);
}

QString ofFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    const QByteArray head = file.read(HeadBytes);
    const QString binary = ofHead(head);
    if (!binary.isEmpty() || !looksLikeXml(head))
        return binary;
    file.seek(0);
    return isPlainSvg(file) ? QStringLiteral("svg") : QString();
}

bool isPictureExtension(const QString& extension) {
    for (const char* known :
         {"jpg", "jpeg", "png", "gif", "bmp", "webp", "tif", "tiff", "svg", "ico", "avif", "heic", "jxl"})
        if (extension.compare(QLatin1String(known), Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

QString extensionFor(const QString& answerExtension, const QString& contentExtension) {
    if (!isPictureExtension(answerExtension))
        return contentExtension;
    QString answer = answerExtension.toLower();
    if (answer == QLatin1String("jpeg"))
        answer = QStringLiteral("jpg");
    else if (answer == QLatin1String("tiff"))
        answer = QStringLiteral("tif");
    return answer == contentExtension ? answerExtension : contentExtension;
}

} // namespace PictureType
