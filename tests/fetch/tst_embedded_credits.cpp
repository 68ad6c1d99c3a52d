// Credits written into kept pictures: read back with exiv2, the picture still whole and still found
// by the duplicate check; kinds without credits and pictures exiv2 refuses stay as they were.
#include "fetch/download_target.h"
#include "fetch/embedded_credits.h"
#include "fetch/folder_pictures.h"
#include "test_files.h"

#include <QBuffer>
#include <QDir>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <exiv2/exiv2.hpp>

#include <map>

namespace {

QByteArray picture(const char* format) {
    QImage image(64, 48, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

// A PNG whose compressed text would inflate beyond any picture's metadata (its check sum is never read).
QByteArray pngWithHugeText() {
    QByteArray png = picture("png");
    QByteArray chunk(4, '\0');
    qToBigEndian<quint32>(300 * 1024, chunk.data());
    chunk += "zTXt" + QByteArray(300 * 1024, 'x') + QByteArray(4, '\0');
    return png.insert(png.size() - 12, chunk);
}

// The XMP fields of a file as exiv2 reads them, each as its text (a language alternative's default).
std::map<std::string, std::string> xmpOf(const QString& path) {
    std::map<std::string, std::string> fields;
    const Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(path.toStdString());
    image->readMetadata();
    for (const Exiv2::Xmpdatum& d : image->xmpData())
        fields[d.key()] = d.typeId() == Exiv2::langAlt ? d.toString(0) : d.toString();
    return fields;
}

} // namespace

class TestEmbeddedCredits : public QObject {
    Q_OBJECT
private slots:
    void write_data();
    void write();
};

void TestEmbeddedCredits::write_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("note"); // its start; "" for credits written
    QTest::newRow("JPEG") << picture("jpg") << "a.jpg"
                          << "";
    QTest::newRow("PNG") << picture("png") << "a.png"
                         << "";
    QTest::newRow("WebP") << picture("webp") << "a.webp"
                          << "";
    QTest::newRow("TIFF") << picture("tif") << "a.tif"
                          << "";
    QTest::newRow("BMP") << picture("bmp") << "a.bmp"
                         << "only the credits list: credits are not written into BMP pictures";
    const QByteArray jpeg = picture("jpg");
    QTest::newRow("JPEG cut short") << jpeg.left(jpeg.size() / 2) << "a.jpg"
                                    << "credits not written into the picture: Failed to read image data";
    QTest::newRow("PNG with too much compressed text")
        << pngWithHugeText() << "a.png"
        << "credits not written into the picture: its compressed metadata";
    QTest::newRow("a link to a picture")
        << jpeg << "link.jpg"
        << "credits not written into the picture: " + QString::fromLocal8Bit(strerror(ELOOP));
}

void TestEmbeddedCredits::write() {
    QFETCH(QByteArray, bytes);
    QFETCH(QString, name);
    QFETCH(QString, note);
    QTemporaryDir dir;
    const QString folder = dir.path() + '/';
    const QString path = folder + name;
    const bool link = name == QLatin1String("link.jpg");
    writeBytes(link ? folder + "real.jpg" : path, bytes);
    if (link)
        QVERIFY(QFile::link(folder + "real.jpg", path));
    CreditsFile::Line line{name, "coffee", Sources::Source::Openverse, "https://x/a", {}, {}};
    // Texts that look like exiv2's own notations stay text.
    line.credits = {"lang=\"de\" Cup",
                    "type=\"Bag\" Etenil",
                    "https://example.org/etenil",
                    "CC BY-SA 2.0",
                    "https://creativecommons.org/licenses/by-sa/2.0/",
                    "https://example.org/cup"};

    const EmbeddedCredits::Outcome outcome = EmbeddedCredits::write(path, line);
    QCOMPARE(outcome.written, note.isEmpty());
    QVERIFY2(note.isEmpty() ? outcome.note.isEmpty() : outcome.note.startsWith(note),
             qPrintable(outcome.note));
    // Nothing half-written is left beside it.
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System).filter(".part"),
             QStringList());
    if (!outcome.written) {
        QCOMPARE(readBytes(link ? folder + "real.jpg" : path), bytes);
        QVERIFY(QFileInfo(path).isSymLink() == link);
        return;
    }

    const std::map<std::string, std::string> expected{
        {"Xmp.dc.title", "lang=\"de\" Cup"},
        {"Xmp.dc.creator", "type=\"Bag\" Etenil"},
        {"Xmp.dc.rights", "\"lang=\"de\" Cup\" by type=\"Bag\" Etenil, Openverse, CC BY-SA 2.0 "
                          "(https://creativecommons.org/licenses/by-sa/2.0/)"},
        {"Xmp.xmpRights.WebStatement", "https://creativecommons.org/licenses/by-sa/2.0/"},
        {"Xmp.xmpRights.Marked", "True"},
        {"Xmp.photoshop.Credit", "type=\"Bag\" Etenil / Openverse"},
        {"Xmp.plus.Licensor", "type=\"Seq\""},
        {"Xmp.plus.Licensor[1]", "type=\"Struct\""},
        {"Xmp.plus.Licensor[1]/plus:LicensorURL", "https://example.org/cup"},
        {"Xmp.iptc.CreatorContactInfo", "type=\"Struct\""},
        {"Xmp.iptc.CreatorContactInfo/Iptc4xmpCore:CiUrlWork", "https://example.org/etenil"},
    };
    std::map<std::string, std::string> read = xmpOf(path);
    read.erase("Xmp.tiff.ImageWidth"); // what exiv2 adds of its own for a TIFF
    read.erase("Xmp.tiff.ImageLength");
    QCOMPARE(read, expected);
    QCOMPARE(QImage(path).size(), QSize(64, 48));

    // A later download of the picture as it arrived is a copy; one byte changed, it is not.
    FolderPictures pictures(folder);
    const QString download = DownloadTarget::createPartial(folder);
    writeBytes(download, bytes);
    QVERIFY(pictures.holdsCopyOf(download));
    QByteArray other = bytes;
    other[other.size() / 2] = char(other[other.size() / 2] ^ 1);
    writeBytes(download, other);
    QVERIFY(!pictures.holdsCopyOf(download));
    QCOMPARE(outcome.asArrived.sha256, FolderPictures::originalOf(bytes).sha256);
}

QTEST_MAIN(TestEmbeddedCredits)
#include "tst_embedded_credits.moc"
