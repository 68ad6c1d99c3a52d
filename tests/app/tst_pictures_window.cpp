#include "app/picture_tiles.h"
#include "app/pictures_window.h"
#include "app/thumbnails.h"
#include "fake_prompts.h"
#include "test_files.h"
#include "test_settings.h"
#include "test_windows.h"

#include <QAccessible>
#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <QtEndian>

#include <memory>

#include <sys/resource.h>
#include <sys/stat.h>

// The Pictures window offscreen on a folder of real pictures, with its own thumbnail cache and trash.
class TestPicturesWindow : public QObject {
    Q_OBJECT
private slots:
    void init();
    void thumbnails_data();
    void thumbnails();
    void cachedThumbnail_data();
    void cachedThumbnail();
    void filter_data();
    void filter();
    void trashAndPutBack_data();
    void trashAndPutBack();
    void openAndNames();

private:
    std::unique_ptr<PicturesWindow> open();
    QStringList tiles() const;
    void waitForThumbnails() const;

    std::unique_ptr<QTemporaryDir> home; // the folder, the cache and the trash
    QString folder;
    std::unique_ptr<ScopedEnvironment> cache, data;
    FakePrompts prompts;
    PicturesWindow* window = nullptr;
};

namespace {

QByteArray pictureBytes(const QSize& size, const char* format, QColor colour = Qt::darkCyan) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

quint32 crc(const QByteArray& bytes) {
    quint32 c = 0xFFFFFFFFu;
    for (const char b : bytes) {
        c ^= static_cast<quint8>(b);
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    }
    return ~c;
}

// A PNG that declares 50,000 x 50,000 pixels (10 GB decoded) in a few hundred bytes.
QByteArray hugePng() {
    QByteArray png = pictureBytes({8, 8}, "PNG");
    QByteArray header = png.mid(12, 17); // "IHDR" and its data
    qToBigEndian<quint32>(50000, header.data() + 4);
    qToBigEndian<quint32>(50000, header.data() + 8);
    QByteArray sum(4, '\0');
    qToBigEndian(crc(header), sum.data());
    return png.left(12) + header + sum + png.mid(33);
}

QString mode(const QString& path) {
    struct stat st {};
    ::stat(QFile::encodeName(path).constData(), &st);
    return QString::number(st.st_mode & 0777, 8);
}

long peakKilobytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

QString uriOf(const QString& path) {
    return QStringLiteral("file://") + QString::fromLatin1(QFile::encodeName(path).toPercentEncoding("/"));
}

QString cacheFile(const QString& size, const QString& path) {
    const QByteArray md5 = QCryptographicHash::hash(uriOf(path).toLatin1(), QCryptographicHash::Md5).toHex();
    return QString::fromLocal8Bit(qgetenv("XDG_CACHE_HOME")) + "/thumbnails/" + size + "/" + md5 + ".png";
}

} // namespace

void TestPicturesWindow::init() {
    TestSettings::clear();
    prompts.reset();
    cache.reset(); // the previous test's values go before the new ones are set
    data.reset();
    home = std::make_unique<QTemporaryDir>();
    QVERIFY(home->isValid());
    folder = home->path() + "/pictures/";
    QVERIFY(QDir().mkpath(folder));
    cache = std::make_unique<ScopedEnvironment>("XDG_CACHE_HOME", home->path() + "/cache");
    data = std::make_unique<ScopedEnvironment>("XDG_DATA_HOME", home->path() + "/data");
}

std::unique_ptr<PicturesWindow> TestPicturesWindow::open() {
    auto w = std::make_unique<PicturesWindow>(prompts);
    w->setAttribute(Qt::WA_DeleteOnClose, false);
    w->showFolder(folder);
    w->show();
    w->activateWindow();
    [&] { QVERIFY(QTest::qWaitForWindowActive(w.get())); }();
    window = w.get();
    return w;
}

QStringList TestPicturesWindow::tiles() const {
    const QAbstractItemModel* model = child<QListView>(window, "ListPictures")->model();
    QStringList names;
    for (int row = 0; row < model->rowCount(); ++row)
        names << model->index(row, 0).data().toString();
    return names;
}

void TestPicturesWindow::waitForThumbnails() const {
    const QAbstractItemModel* model = child<QListView>(window, "ListPictures")->model();
    auto done = [model] {
        for (int row = 0; row < model->rowCount(); ++row) {
            const QModelIndex index = model->index(row, 0);
            if (index.data(Qt::DecorationRole).isNull() &&
                !index.data(PictureModel::PlaceholderRole).toBool())
                return false;
        }
        return true;
    };
    QTRY_VERIFY_WITH_TIMEOUT(done(), 20000);
}

void TestPicturesWindow::thumbnails_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QSize>("thumbnail"); // invalid: a placeholder, and nothing in the cache
    QTest::addColumn<QString>("pixels");
    const QByteArray jpeg = pictureBytes({640, 480}, "JPEG");
    QTest::newRow("photo") << "photo 1.jpg" << jpeg << QSize(256, 192) << "640 \u00d7 480 pixels";
    QTest::newRow("small: not enlarged")
        << "small 1.png" << pictureBytes({100, 50}, "PNG") << QSize(100, 50) << "100 \u00d7 50 pixels";
    QTest::newRow("content decides, not the name")
        << "named 1.png" << pictureBytes({300, 600}, "JPEG") << QSize(128, 256) << "300 \u00d7 600 pixels";
    QTest::newRow("50,000 x 50,000 declared") << "huge 1.png" << hugePng() << QSize() << "No preview";
    QTest::newRow("cut short") << "cut 1.jpg" << jpeg.left(jpeg.size() / 2) << QSize() << "No preview";
}

// Each picture gets a thumbnail of at most 256 pixels, written to the cache in both sizes as the
// desktop reads them; a hostile one gets a placeholder without being decoded, and nothing cached.
void TestPicturesWindow::thumbnails() {
    QFETCH(QString, name);
    QFETCH(QByteArray, bytes);
    QFETCH(QSize, thumbnail);
    QFETCH(QString, pixels);
    writeBytes(folder + name, bytes);
    const long before = peakKilobytes();
    auto w = open();
    waitForThumbnails();
    QVERIFY2(peakKilobytes() - before < 100 * 1024, qPrintable(QString::number(peakKilobytes() - before)));

    const QModelIndex tile = child<QListView>(window, "ListPictures")->model()->index(0, 0);
    const QImage image = tile.data(Qt::DecorationRole).value<QImage>();
    QCOMPARE(image.isNull() ? QSize() : image.size(), thumbnail);
    const QString details = tile.data(Qt::ToolTipRole).toString();
    QVERIFY2(details.contains(pixels) && details.contains(QLocale().toString(bytes.size()) + " bytes"),
             qPrintable(details));

    const QString path = folder + name;
    const QString mtime = QString::number(QFileInfo(path).lastModified().toSecsSinceEpoch());
    for (const auto& [size, edge] :
         {std::pair{QStringLiteral("large"), 256}, {QStringLiteral("normal"), 128}}) {
        const QString file = cacheFile(size, path);
        QCOMPARE(QFile::exists(file), thumbnail.isValid());
        if (!thumbnail.isValid())
            continue;
        QCOMPARE(mode(file), QStringLiteral("600"));
        QCOMPARE(mode(QFileInfo(file).path()), QStringLiteral("700"));
        const QImage cached(file);
        QCOMPARE(cached.size(), thumbnail.scaled(edge, edge, Qt::KeepAspectRatio).boundedTo(thumbnail));
        // Uncompressed tEXt chunks: the desktop's own readers look only at those.
        QMap<QByteArray, QByteArray> keys;
        for (const auto& [key, text] : Thumbnails::textChunks(readBytes(file)))
            keys.insert(key, text);
        QCOMPARE(keys.value("Thumb::URI"), uriOf(path).toLatin1());
        QCOMPARE(keys.value("Thumb::MTime"), mtime.toLatin1());
        QCOMPARE(keys.value("Thumb::Size"), QByteArray::number(bytes.size()));
    }
}

void TestPicturesWindow::cachedThumbnail_data() {
    QTest::addColumn<int>("mtimeOffset");
    QTest::addColumn<QRgb>("shown");
    QTest::newRow("made for this file: used") << 0 << qRgb(0, 0, 255);
    QTest::newRow("made before the file changed: made again") << -60 << qRgb(255, 0, 0);
}

// A thumbnail that another program left in the cache is used while it fits the file as it is.
void TestPicturesWindow::cachedThumbnail() {
    QFETCH(int, mtimeOffset);
    QFETCH(QRgb, shown);
    const QString path = folder + "cat 1.png";
    writeBytes(path, pictureBytes({400, 300}, "PNG", Qt::red));
    QImage other(256, 192, QImage::Format_RGB32);
    other.fill(Qt::blue);
    other.setText("Thumb::URI", uriOf(path)); // Qt compresses this one (zTXt): read too
    other.setText("Thumb::MTime",
                  QString::number(QFileInfo(path).lastModified().toSecsSinceEpoch() + mtimeOffset));
    QVERIFY(QDir().mkpath(QFileInfo(cacheFile("large", path)).path()));
    QVERIFY(other.save(cacheFile("large", path)));

    auto w = open();
    waitForThumbnails();
    const QImage image = child<QListView>(window, "ListPictures")
                             ->model()
                             ->index(0, 0)
                             .data(Qt::DecorationRole)
                             .value<QImage>();
    QCOMPARE(image.pixel(10, 10), shown);
    QCOMPARE(QImage(cacheFile("large", path)).pixel(10, 10), shown);
}

void TestPicturesWindow::filter_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QStringList>("shown");
    QTest::newRow("a keyword, any case") << "cat" << QStringList{"cat 1.jpg", "Cathedral 1.png", "cat 2.jpg"};
    QTest::newRow("another") << "dog" << QStringList{"dog 1.jpg"};
    QTest::newRow("none") << "zebra" << QStringList();
    QTest::newRow("empty: all") << ""
                                << QStringList{"cat 1.jpg", "Cathedral 1.png", "dog 1.jpg", "cat 2.jpg"};
}

void TestPicturesWindow::filter() {
    QFETCH(QString, typed);
    QFETCH(QStringList, shown);
    // Kept in this order: the tiles keep it.
    const QStringList names{"cat 1.jpg", "Cathedral 1.png", "dog 1.jpg", "cat 2.jpg"};
    const QDateTime start = QDateTime::currentDateTime().addSecs(-100);
    for (int i = 0; i < names.size(); ++i) {
        writeBytes(folder + names[i], pictureBytes({64, 48}, names[i].endsWith("png") ? "PNG" : "JPEG"));
        QFile file(folder + names[i]);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.setFileTime(start.addSecs(i), QFileDevice::FileModificationTime));
    }
    writeBytes(folder + "credits.csv", "file,keyword\r\n");
    auto w = open();
    QTest::keyClicks(child<QLineEdit>(window, "TextFilter"), typed);
    QCOMPARE(tiles(), shown);
}

void TestPicturesWindow::trashAndPutBack_data() {
    QTest::addColumn<bool>("taken");
    QTest::newRow("names free: all back") << false;
    QTest::newRow("a name taken meanwhile: that one stays in the trash") << true;
}

void TestPicturesWindow::trashAndPutBack() {
    QFETCH(bool, taken);
    const QStringList names{"100% a.png", "b.png", "c.png"};
    for (int i = 0; i < names.size(); ++i)
        writeBytes(folder + names[i], pictureBytes({32, 32 + i}, "PNG"));
    const QByteArray first = readBytes(folder + names[0]);
    auto w = open();
    auto* list = child<QListView>(window, "ListPictures");
    const QStringList before = tiles();
    const int a = before.indexOf(names[0]);
    const int c = before.indexOf(names[2]);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualRect(list->model()->index(a, 0)).center());
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::ControlModifier,
                      list->visualRect(list->model()->index(c, 0)).center());
    QTest::keyClick(list, Qt::Key_Delete);

    QCOMPARE(tiles(), QStringList{"b.png"});
    const QString trash = home->path() + "/data/Trash/";
    QCOMPARE(mode(trash + "files"), QStringLiteral("700"));
    QCOMPARE(mode(trash + "info"), QStringLiteral("700"));
    QCOMPARE(readBytes(trash + "files/" + names[0]), first);
    QVERIFY(!QFile::exists(folder + names[0]) && QFile::exists(trash + "files/c.png"));
    const QByteArray info = readBytes(trash + "info/" + names[0] + ".trashinfo");
    QVERIFY2(info.startsWith("[Trash Info]\nPath=" + QFile::encodeName(folder).toPercentEncoding("/") +
                             "100%25%20a.png\nDeletionDate="),
             info.constData());

    if (taken)
        writeBytes(folder + names[0], "another file");
    QTest::keyClick(list, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(QFile::exists(trash + "files/" + names[0]), taken);
    QCOMPARE(readBytes(folder + names[0]) == first, !taken);
    QVERIFY(!QFile::exists(trash + "files/c.png") && !QFile::exists(trash + "info/c.png.trashinfo"));
    if (taken) {
        QCOMPARE(tiles(), (QStringList{"b.png", "c.png"}));
        QCOMPARE(prompts.messages().size(), 1);
        QVERIFY2(prompts.messages()[0].contains(names[0]), qPrintable(prompts.messages()[0]));
    } else {
        QCOMPARE(tiles(), before);
        QVERIFY(prompts.messages().isEmpty());
    }
}

// Enter and double click open a picture through the desktop, "Open Folder" the folder; the list
// names each tile by its file, the buttons by their captions.
void TestPicturesWindow::openAndNames() {
    writeBytes(folder + "x 1.png", pictureBytes({20, 20}, "PNG"));
    writeBytes(folder + "y 1.png", pictureBytes({20, 20}, "PNG"));
    auto w = open();
    auto* list = child<QListView>(window, "ListPictures");
    const QStringList names = tiles();
    list->setFocus();
    list->setCurrentIndex(list->model()->index(0, 0));
    QTest::keyClick(list, Qt::Key_Return);
    // A double click: the first click, then the second.
    const QPoint second = list->visualRect(list->model()->index(1, 0)).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, second);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, second);
    QTest::mouseClick(child<QPushButton>(window, "ButtonOpenFolder"), Qt::LeftButton);
    QStringList opened;
    for (const auto& call : prompts.callsOf("url"))
        opened << call.text;
    QCOMPARE(opened, (QStringList{QUrl::fromLocalFile(folder + names[0]).toString(),
                                  QUrl::fromLocalFile(folder + names[1]).toString(),
                                  QUrl::fromLocalFile(folder).toString()}));

    QAccessibleInterface* tilesNamed = QAccessible::queryAccessibleInterface(list);
    QVERIFY(tilesNamed);
    QStringList accessible;
    for (int i = 0; i < tilesNamed->childCount(); ++i)
        accessible << tilesNamed->child(i)->text(QAccessible::Name);
    QCOMPARE(accessible, names);
    for (const char* button : {"ButtonOpenFolder", "ButtonTrash", "ButtonPutBack"}) {
        auto* b = child<QPushButton>(window, button);
        QCOMPARE(QAccessible::queryAccessibleInterface(b)->text(QAccessible::Name), b->text());
    }
}

QTEST_MAIN(TestPicturesWindow)
#include "tst_pictures_window.moc"
