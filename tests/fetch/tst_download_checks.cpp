#include "base/error_report.h"
#include "fetch/address_check.h"
#include "fetch/download_checks.h"
#include "fetch/download_target.h"
#include "fetch/pace.h"
#include "fetch/picture_type.h"
#include "fetch/sources/contextualweb.h"
#include "fetch/sources/source.h"
#include "test_settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QTemporaryDir>
#include <QTest>

// The filters that decide about a result before its download, the check that decides about the
// file after it, and the names the kept pictures get.
class TestDownloadChecks : public QObject {
    Q_OBJECT
private slots:
    void init() { TestSettings::clear(); }

    void readingFilters_data();
    void readingFilters();
    void dimensionFilter_data();
    void dimensionFilter();
    void badComparisonIsReportedAndComparesAsGreaterThan();

    void readTextLines_data();
    void readTextLines();
    void readTextLinesOfMissingFileFails();
    void errorPage_data();
    void errorPage();

    void freeNames_data();
    void freeNames();
    void namePart_data();
    void namePart();
    void keepNeverReplaces_data();
    void keepNeverReplaces();
    void pictureTypes_data();
    void pictureTypes();
    void keptExtension_data();
    void keptExtension();
    void localAddresses_data();
    void localAddresses();
    void serviceHostSeam_data();
    void serviceHostSeam();
    void paceSeam_data();
    void paceSeam();

private:
    QTemporaryDir dir;
    QString write(const QString& name, const QByteArray& bytes) {
        QFile f(dir.filePath(name));
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            qFatal("cannot write %s", qPrintable(f.fileName()));
        f.write(bytes);
        return f.fileName();
    }
};

void TestDownloadChecks::readingFilters_data() {
    QTest::addColumn<QString>("option2");
    QTest::addColumn<QString>("option3");
    QTest::addColumn<QString>("text5");
    QTest::addColumn<QString>("text6");
    QTest::addColumn<bool>("heightOn");
    QTest::addColumn<bool>("widthOn");
    QTest::addColumn<int>("widthLimit");
    QTest::addColumn<int>("heightLimit");
    // An empty text means "not stored": the defaults of a fresh profile.
    QTest::newRow("fresh profile") << ""
                                   << ""
                                   << ""
                                   << "" << false << false << 500 << 500;
    QTest::newRow("both on") << "4"
                             << "6"
                             << "640"
                             << "480" << true << true << 640 << 480;
    QTest::newRow("switch texts are exact") << " 4"
                                            << "6 "
                                            << "100"
                                            << "100" << false << false << 100 << 100;
    QTest::newRow("not numeric") << "4"
                                 << "6"
                                 << "abc"
                                 << "1,5" << true << true << 500 << 500;
    QTest::newRow("negative") << "4"
                              << "6"
                              << "-5"
                              << "-0.6" << true << true << 500 << 500;
    QTest::newRow("zero stays") << "4"
                                << "6"
                                << "0"
                                << "-0.4" << true << true << 0 << 0;
    QTest::newRow("halves to even") << "4"
                                    << "6"
                                    << "500.5"
                                    << "501.5" << true << true << 500 << 502;
}

void TestDownloadChecks::readingFilters() {
    QFETCH(QString, option2);
    QFETCH(QString, option3);
    QFETCH(QString, text5);
    QFETCH(QString, text6);
    if (!option2.isEmpty()) {
        TestSettings::seed(SettingKey::HeightFilter, option2);
        TestSettings::seed(SettingKey::WidthFilter, option3);
        TestSettings::seed(SettingKey::WidthLimit, text5);
        TestSettings::seed(SettingKey::HeightLimit, text6);
    }
    const FilterSettings f = FilterSettings::read();
    QTEST(f.heightOn, "heightOn");
    QTEST(f.widthOn, "widthOn");
    QTEST(f.widthLimit, "widthLimit");
    QTEST(f.heightLimit, "heightLimit");
}

void TestDownloadChecks::dimensionFilter_data() {
    QTest::addColumn<bool>("heightOn");
    QTest::addColumn<QString>("combo3");
    QTest::addColumn<bool>("widthOn");
    QTest::addColumn<QString>("combo4");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<bool>("kept");
    QTest::newRow("both off keep anything") << false << "7" << false << "7" << 0 << 0 << true;
    QTest::newRow("taller than 500") << true << "0" << false << "0" << 1 << 501 << true;
    QTest::newRow("exactly 500 is not greater") << true << "0" << false << "0" << 1 << 500 << false;
    QTest::newRow("less than 500") << true << "1" << false << "0" << 1 << 499 << true;
    QTest::newRow("exactly 500 is not less") << true << "1" << false << "0" << 1 << 500 << false;
    QTest::newRow("no list entry rejects all") << true << "-1" << false << "0" << 1 << 9999 << false;
    QTest::newRow("width greater") << false << "0" << true << "0" << 501 << 1 << true;
    QTest::newRow("height fails width passes") << true << "0" << true << "0" << 900 << 100 << false;
    QTest::newRow("height passes width fails") << true << "0" << true << "0" << 100 << 900 << false;
    QTest::newRow("both pass") << true << "1" << true << "0" << 900 << 100 << true;
}

void TestDownloadChecks::dimensionFilter() {
    QFETCH(bool, heightOn);
    QFETCH(QString, combo3);
    QFETCH(bool, widthOn);
    QFETCH(QString, combo4);
    QFETCH(int, width);
    QFETCH(int, height);
    TestSettings::seed(SettingKey::HeightComparison, combo3);
    TestSettings::seed(SettingKey::WidthComparison, combo4);
    FilterSettings f;
    f.heightOn = heightOn;
    f.widthOn = widthOn;
    QTEST(DimensionFilter(f, width, height), "kept");
}

void TestDownloadChecks::badComparisonIsReportedAndComparesAsGreaterThan() {
    TestSettings::seed(SettingKey::HeightComparison, "less");
    QVERIFY_THROWS_EXCEPTION(AppError, ReadComparison(SettingKey::HeightComparison));
    FilterSettings f;
    f.heightOn = true;
    QStringList reported;
    const ComparisonReader reporting = [&](SettingKey key) {
        try {
            return ReadComparison(key);
        } catch (const AppError& e) {
            reported << SettingsStore::storedName(key) + ": " + e.description();
            return 0;
        }
    };
    QVERIFY(DimensionFilter(f, 1, 501, reporting));
    QVERIFY(!DimensionFilter(f, 1, 499, reporting));
    QCOMPARE(reported, QStringList({"Combo3: Type mismatch", "Combo3: Type mismatch"}));

    // With both filters on, the width's comparison is read (and its failure reported) also for a
    // result the height has already rejected.
    reported.clear();
    TestSettings::seed(SettingKey::WidthComparison, "wider");
    f.widthOn = true;
    QVERIFY(!DimensionFilter(f, 501, 499, reporting));
    QCOMPARE(reported, QStringList({"Combo3: Type mismatch", "Combo4: Type mismatch"}));
}

void TestDownloadChecks::readTextLines_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("empty file") << QByteArray() << QStringList({""});
    QTest::newRow("crlf") << QByteArray("a\r\nb\r\n") << QStringList({"a", "b"});
    QTest::newRow("lf and lone cr") << QByteArray("a\nb\rc") << QStringList({"a", "b", "c"});
    QTest::newRow("binary start") << QByteArray("\x89PNG\r\n\x1a\n", 8) << QStringList({"\uFFFDPNG", "\x1a"});
}

void TestDownloadChecks::readTextLines() {
    QFETCH(QByteArray, bytes);
    QTEST(RFTSFSO::ReadTextLines(write("lines.txt", bytes)), "lines");
}

void TestDownloadChecks::readTextLinesOfMissingFileFails() {
    QVERIFY_THROWS_EXCEPTION(AppError, RFTSFSO::ReadTextLines(dir.filePath("missing.txt")));
    QVERIFY_THROWS_EXCEPTION(AppError, IsErrorPage(dir.path()));
}

void TestDownloadChecks::errorPage_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("errorPage");
    QTest::newRow("doctype") << QByteArray("<!DOCTYPE html>\n<html>") << true;
    QTest::newRow("html tag") << QByteArray("  <HTML lang=en>") << true;
    QTest::newRow("svg with xml declaration") << QByteArray("<?xml version=\"1.0\"?>\n<svg/>") << true;
    QTest::newRow("resource removed")
        << QByteArray("The resource you are looking for has been removed, sorry") << true;
    QTest::newRow("json error") << QByteArray("{\"Error\":\"quota\"}") << true;
    QTest::newRow("cannot complete") << QByteArray("We CANNOT COMPLETE your request") << true;
    QTest::newRow("picture whose first line says error") << QByteArray("\x89PNG terror\r\n", 13) << true;
    QTest::newRow("signature only on second line") << QByteArray("GIF89a\n<html>error") << false;
    QTest::newRow("png") << QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16) << false;
    QTest::newRow("empty file counts") << QByteArray() << false;
}

void TestDownloadChecks::errorPage() {
    QFETCH(QByteArray, bytes);
    QTEST(IsErrorPage(write("download", bytes)), "errorPage");
}

void TestDownloadChecks::freeNames_data() {
    QTest::addColumn<QStringList>("existing");
    QTest::addColumn<int>("kept");
    QTest::addColumn<QString>("expected");
    QTest::newRow("empty folder") << QStringList() << 0 << "cat 1.jpg";
    QTest::newRow("earlier run's picture") << QStringList({"cat 1.jpg"}) << 0 << "cat 2.jpg";
    QTest::newRow("gap is used") << QStringList({"cat 1.jpg", "cat 3.jpg"}) << 0 << "cat 2.jpg";
    QTest::newRow("never below kept + 1") << QStringList({"cat 2.jpg"}) << 2 << "cat 3.jpg";
    QTest::newRow("other extension is no clash") << QStringList({"cat 1.png"}) << 0 << "cat 1.jpg";
    QTest::newRow("a folder takes a name too") << QStringList({"cat 1.jpg/"}) << 0 << "cat 2.jpg";
}

void TestDownloadChecks::freeNames() {
    QFETCH(QStringList, existing);
    QFETCH(int, kept);
    QFETCH(QString, expected);
    QTemporaryDir folder;
    for (const QString& name : existing) {
        if (name.endsWith('/'))
            QDir(folder.path()).mkdir(name.chopped(1));
        else
            QFile(folder.filePath(name)).open(QIODevice::WriteOnly);
    }
    const QString prefix = folder.path() + '/';
    QCOMPARE(DownloadTarget::freePath(prefix, "cat", kept, "jpg"), prefix + expected);

    const QString download = DownloadTarget::createPartial(prefix);
    QVERIFY(QFileInfo(download).fileName().startsWith(".glimmerfetch-"));
    QFile part(download);
    QVERIFY(part.open(QIODevice::WriteOnly));
    part.write("picture");
    part.close();
    QCOMPARE(DownloadTarget::keep(download, prefix, "cat", kept, "jpg"), prefix + expected);
    QVERIFY(!QFile::exists(download));
    QCOMPARE(QDir(folder.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).size(),
             existing.size() + 1);
}

void TestDownloadChecks::namePart_data() {
    QTest::addColumn<QString>("keyword");
    QTest::addColumn<QString>("part");
    QTest::addColumn<bool>("usable");
    QTest::newRow("plain") << "red car"
                           << "red car" << true;
    QTest::newRow("as typed, markup and percent") << "<b>50%</b>"
                                                  << "<b>50%<_b>" << true;
    QTest::newRow("slash") << "AC/DC"
                           << "AC_DC" << true;
    QTest::newRow("backslash") << "a\\b"
                               << "a_b" << true;
    QTest::newRow("climbing out, not hidden") << "../escaped"
                                              << "_._escaped" << true;
    QTest::newRow("NUL") << QString("../.bashrc") + QChar(0) + "x"
                         << "_._.bashrc_x" << true;
    QTest::newRow("leading dot") << ".cat"
                                 << "_cat" << true;
    QTest::newRow("dot inside") << "a.b."
                                << "a.b." << true;
    QTest::newRow("line break and tab") << "a\nb\tc"
                                        << "a_b_c" << true;
    QTest::newRow("empty") << ""
                           << "" << false;
    QTest::newRow("dot") << "."
                         << "." << false;
    QTest::newRow("dot dot") << ".."
                             << ".." << false;
    QTest::newRow("three dots") << "..."
                                << "_.." << true;
}

void TestDownloadChecks::namePart() {
    QFETCH(QString, keyword);
    QFETCH(QString, part);
    QCOMPARE(DownloadTarget::namePart(keyword), part);
    QTEST(DownloadTarget::usableNamePart(part), "usable");
}

void TestDownloadChecks::keepNeverReplaces_data() {
    QTest::addColumn<QString>("part");
    QTest::addColumn<QString>("expected");
    QTest::newRow("taken name") << "cat"
                                << "cat 2.jpg";
    QTest::newRow("long name cut to 255 bytes")
        << QString(300, QChar(0x00E9)) << QString(124, QChar(0x00E9)) + " 1.jpg";
    QTest::newRow("long name, the number's own length kept")
        << QString(400, 'x') << QString(249, 'x') + " 1.jpg";
}

// An existing file, and one reached through a link, survive byte for byte: the kept picture takes
// the next free number.
void TestDownloadChecks::keepNeverReplaces() {
    QFETCH(QString, part);
    QFETCH(QString, expected);
    QTemporaryDir folder;
    const QString prefix = folder.path() + '/';
    QFile existing(prefix + "cat 1.jpg");
    QVERIFY(existing.open(QIODevice::WriteOnly));
    existing.write("the user's own file");
    existing.close();
    QTemporaryDir elsewhere;
    QFile outside(elsewhere.filePath("target"));
    QVERIFY(outside.open(QIODevice::WriteOnly));
    outside.write("outside the folder");
    outside.close();
    QVERIFY(QFile::link(outside.fileName(), prefix + "cat 2.png"));

    const QString download = DownloadTarget::createPartial(prefix);
    QFile partial(download);
    QVERIFY(partial.open(QIODevice::WriteOnly));
    partial.write("picture");
    partial.close();
    const QString kept = DownloadTarget::keep(download, prefix, part, 0, "jpg");
    QCOMPARE(kept, prefix + expected);
    QVERIFY(QFileInfo(kept).fileName().toUtf8().size() <= 255);
    QVERIFY(!QFile::exists(download));
    QFile check(kept);
    QVERIFY(check.open(QIODevice::ReadOnly));
    QCOMPARE(check.readAll(), QByteArray("picture"));
    QVERIFY(existing.open(QIODevice::ReadOnly));
    QCOMPARE(existing.readAll(), QByteArray("the user's own file"));
    QVERIFY(outside.open(QIODevice::ReadOnly));
    QCOMPARE(outside.readAll(), QByteArray("outside the folder"));
    outside.close();

    // The same through a linked name: the link is a taken name, never written through.
    const QString second = DownloadTarget::createPartial(prefix);
    QCOMPARE(DownloadTarget::keep(second, prefix, "cat", 1, "png"), prefix + "cat 3.png");
    QVERIFY(outside.open(QIODevice::ReadOnly));
    QCOMPARE(outside.readAll(), QByteArray("outside the folder"));
}

void TestDownloadChecks::pictureTypes_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("type");
    const QByteArray pad(40, 'x');
    QTest::newRow("jpeg") << QByteArray("\xFF\xD8\xFF\xE0\0\x10JFIF", 10) + pad << "jpg";
    QTest::newRow("jpeg with error in its comment")
        << QByteArray("\xFF\xD8\xFF\xFE\0\x10 error cannot complete", 28) + pad << "jpg";
    QTest::newRow("png") << QByteArray("\x89PNG\r\n\x1A\n", 8) + pad << "png";
    QTest::newRow("gif") << QByteArray("GIF89a") + pad << "gif";
    QTest::newRow("webp") << QByteArray("RIFF\x10\0\0\0WEBPVP8 ", 16) + pad << "webp";
    QTest::newRow("tiff little-endian") << QByteArray("II*\0", 4) + pad << "tif";
    QTest::newRow("tiff big-endian") << QByteArray("MM\0*", 4) + pad << "tif";
    QTest::newRow("bmp") << QByteArray("BM\x36\0\0\0\0\0\0\0\x36\0\0\0", 14) + pad << "bmp";
    QTest::newRow("text starting BM") << QByteArray("BMW for sale, no error here") + pad << "";
    QTest::newRow("ico") << QByteArray("\0\0\1\0\1\0\x10\x10", 8) + pad << "ico";
    QTest::newRow("avif") << QByteArray("\0\0\0\x1C"
                                        "ftypavif\0\0\0\0avifmif1",
                                        24) +
                                 pad
                          << "avif";
    QTest::newRow("heic") << QByteArray("\0\0\0\x18"
                                        "ftypheic\0\0\0\0mif1",
                                        20) +
                                 pad
                          << "heic";
    QTest::newRow("other iso media (mp4)") << QByteArray("\0\0\0\x18"
                                                         "ftypisom\0\0\0\0mp41",
                                                         20) +
                                                  pad
                                           << "";
    QTest::newRow("jxl codestream") << QByteArray("\xFF\x0A", 2) + pad << "jxl";
    QTest::newRow("jxl container") << QByteArray("\0\0\0\x0CJXL \r\n\x87\n", 12) + pad << "jxl";
    QTest::newRow("empty") << QByteArray() << "";
    QTest::newRow("forbidden text") << QByteArray("Forbidden") << "";
    QTest::newRow("json error") << QByteArray("{\"message\":\"Access denied\"}") << "";
    QTest::newRow("html after a line break") << QByteArray("\n<html><body>x</body></html>") << "";
    QTest::newRow("svg") << QByteArray("<?xml version=\"1.0\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\" "
                                       "width=\"10\" height=\"10\"><rect width=\"10\" height=\"10\"/></svg>")
                         << "svg";
    QTest::newRow("svg with a document type")
        << QByteArray("<!DOCTYPE svg PUBLIC \"-//W3C//DTD SVG 1.1//EN\" "
                      "\"http://www.w3.org/Graphics/SVG/1.1/DTD/svg11.dtd\">\n<svg "
                      "xmlns=\"http://www.w3.org/2000/svg\"/>")
        << "svg";
    QTest::newRow("svg with a script")
        << QByteArray("<svg xmlns=\"http://www.w3.org/2000/svg\"><script>alert(1)"
                      "</script></svg>")
        << "";
    QTest::newRow("svg with an event attribute")
        << QByteArray("<svg xmlns=\"http://www.w3.org/2000/svg\" onload=\"alert(1)\"/>") << "";
    QTest::newRow("svg with a javascript link")
        << QByteArray("<svg xmlns=\"http://www.w3.org/2000/svg\" xmlns:x=\"http://www.w3.org/1999/xlink\">"
                      "<a x:href=\" javascript:alert(1)\"><text>t</text></a></svg>")
        << "";
    const QByteArray svg(
        "<svg xmlns=\"http://www.w3.org/2000/svg\" xmlns:x=\"http://www.w3.org/1999/xlink\">");
    for (const char* hidden : {"java&#9;script:alert(1)", "java&#10;script:alert(1)",
                               "&#x6A;ava&#x0D;script:alert(1)", "vbscript:msgbox"})
        QTest::addRow("svg with a hidden javascript link: %s", hidden)
            << svg + "<a href=\"" + hidden + "\"><text>t</text></a></svg>"
            << "";
    QTest::newRow("svg animating a link")
        << svg +
               "<a><animate attributeName=\"href\" values=\"https://example.com/\"/><text>t</text></a></svg>"
        << "";
    QTest::newRow("svg setting a link")
        << svg + "<a><set attributeName=\"x:href\" to=\"https://example.com/\"/><text>t</text></a></svg>"
        << "";
    QTest::newRow("svg with javascript among animation values")
        << svg +
               "<a href=\"#\"><animate attributeName=\"fill\" values=\"red;javascript:alert(1)\"/></a></svg>"
        << "";
    QTest::newRow("svg with a harmless animation")
        << svg + "<rect width=\"9\" height=\"9\"><animate attributeName=\"fill\" values=\"red;blue\" "
                 "dur=\"2s\"/></rect></svg>"
        << "svg";
    QTest::newRow("svg with entities")
        << QByteArray("<!DOCTYPE svg [<!ENTITY a \"aaaa\">]><svg>&a;</svg>") << "";
    QTest::newRow("svg cut short") << QByteArray("<svg xmlns=\"http://www.w3.org/2000/svg\"><g>") << "";
    QTest::newRow("svg nested too deep") << QByteArray("<svg>") + QByteArray("<g>").repeated(300) +
                                                QByteArray("</g>").repeated(300) + QByteArray("</svg>")
                                         << "";
    QTest::newRow("other xml") << QByteArray("<?xml version=\"1.0\"?><rss></rss>") << "";
}

void TestDownloadChecks::pictureTypes() {
    QFETCH(QByteArray, bytes);
    QTEST(PictureType::ofFile(write("download", bytes)), "type");
}

void TestDownloadChecks::keptExtension_data() {
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("content");
    QTest::addColumn<QString>("kept");
    QTest::newRow("agreeing") << "png"
                              << "png"
                              << "png";
    QTest::newRow("jpeg as the service wrote it") << "jpeg"
                                                  << "jpg"
                                                  << "jpeg";
    QTest::newRow("upper case kept") << "JPG"
                                     << "jpg"
                                     << "JPG";
    QTest::newRow("tiff") << "tiff"
                          << "tif"
                          << "tiff";
    QTest::newRow("png at a jpg address") << "jpg"
                                          << "png"
                                          << "png";
    QTest::newRow("not a picture extension") << "desktop"
                                             << "jpg"
                                             << "jpg";
    QTest::newRow("script extension") << "php"
                                      << "gif"
                                      << "gif";
}

void TestDownloadChecks::keptExtension() {
    QFETCH(QString, answer);
    QFETCH(QString, content);
    QTEST(PictureType::extensionFor(answer, content), "kept");
}

void TestDownloadChecks::localAddresses_data() {
    QTest::addColumn<QString>("address");
    QTest::addColumn<bool>("local");
    for (const char* local :
         {"127.0.0.1", "127.255.0.9", "0.0.0.0", "10.1.2.3", "172.16.0.1", "172.31.255.255", "192.168.1.1",
          "169.254.169.254", "100.64.0.1", "224.0.0.1", "255.255.255.255", "::1", "::", "fe80::1", "fc00::1",
          "fd12:3456::1", "ff02::1", "::ffff:127.0.0.1", "::ffff:192.168.0.1"})
        QTest::newRow(local) << local << true;
    for (const char* global :
         {"93.184.216.34", "172.32.0.1", "100.128.0.1", "1.1.1.1", "2606:4700::1111", "::ffff:8.8.8.8"})
        QTest::newRow(global) << global << false;
}

void TestDownloadChecks::localAddresses() {
    QFETCH(QString, address);
    QTEST(AddressCheck::isLocal(QHostAddress(address)), "local");
}

// The service host of the demo and the tests is read once for the requests and the one local host a
// download may reach: both see the same host.
void TestDownloadChecks::serviceHostSeam_data() {
    QTest::addColumn<QString>("value"); // null: unset
    QTest::addColumn<QString>("host");  // where a source's requests go
    QTest::addColumn<bool>("reached");  // whether a picture at pics.localhost:8443 is fetched
    const QString own = QStringLiteral("api.openverse.org");
    QTest::newRow("unset") << QString() << own << false;
    QTest::newRow("blank") << " \t" << own << false;
    QTest::newRow("the host itself") << "pics.localhost:8443"
                                     << "pics.localhost:8443" << true;
    QTest::newRow("blanks and capitals") << " Pics.LocalHost:8443\n"
                                         << "pics.localhost:8443" << true;
    QTest::newRow("localhost covers the names under it") << "LOCALHOST:8443"
                                                         << "localhost:8443" << true;
    QTest::newRow("another port") << "pics.localhost:9443"
                                  << "pics.localhost:9443" << false;
}

void TestDownloadChecks::serviceHostSeam() {
    QFETCH(QString, value);
    QFETCH(QString, host);
    ScopedEnvironment seam("GLIMMERFETCH_SERVICE_HOST", value);
    QCOMPARE(Sources::host(QStringLiteral("api.openverse.org")), host);
    if (!value.trimmed().isEmpty())
        QCOMPARE(Search::ServiceHost(), host);
    const AddressCheck::Target target =
        AddressCheck::check(QStringLiteral("https://pics.localhost:8443/a.png"));
    QTEST(target.refusal.isEmpty(), "reached");
}

void TestDownloadChecks::paceSeam_data() {
    QTest::addColumn<QString>("value");  // null: unset
    QTest::addColumn<double>("seconds"); // what a designed pause of 2 s becomes
    QTest::newRow("unset") << QString() << 2.0;
    QTest::newRow("blank") << " " << 2.0;
    QTest::newRow("none") << "0" << 0.0;
    QTest::newRow("half") << "0.5" << 1.0;
    QTest::newRow("slower, blanks around") << " 3 " << 6.0;
    QTest::newRow("not a number") << "fast" << 2.0;
    QTest::newRow("negative") << "-1" << 2.0;
    QTest::newRow("infinite") << "inf" << 2.0;
    QTest::newRow("not finite") << "nan" << 2.0;
}

void TestDownloadChecks::paceSeam() {
    QFETCH(QString, value);
    ScopedEnvironment seam("GLIMMERFETCH_PACE", value);
    QTEST(Pace::seconds(2.0), "seconds");
}

QTEST_GUILESS_MAIN(TestDownloadChecks)
#include "tst_download_checks.moc"
