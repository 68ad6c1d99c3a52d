#include "base/error_report.h"
#include "base/file_routines.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestFileRoutines : public QObject {
    Q_OBJECT
private slots:
    void pathParts_data();
    void pathParts();
    void collapse_data();
    void collapse();
    void existence();
    void readWholeFile_data();
    void readWholeFile();
    void saveBytesKeepsTail();
    void saveBytesIntoMissingFolderFails();
    void removeFile();

private:
    QTemporaryDir dir;
    QString path(const QString& name) const { return dir.filePath(name); }
};

void TestFileRoutines::pathParts_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("separator");
    QTest::addColumn<QString>("last");
    QTest::addColumn<QString>("stripped");
    QTest::addColumn<QString>("extension");
    QTest::newRow("windows path") << "C:\\x\\y.jpg"
                                  << "\\"
                                  << "y.jpg"
                                  << "C:\\x\\y"
                                  << "jpg";
    QTest::newRow("bare name") << "y.jpg"
                               << "\\"
                               << "y.jpg"
                               << "y"
                               << "jpg";
    QTest::newRow("linux path") << "/home/a/y.png"
                                << "/"
                                << "y.png"
                                << "/home/a/y"
                                << "png";
    QTest::newRow("two dots") << "a.b.jpg"
                              << "/"
                              << "a.b.jpg"
                              << "a.b"
                              << "jpg";
    QTest::newRow("leading dot only") << ".profile"
                                      << "/"
                                      << ".profile"
                                      << ".profile"
                                      << "profile";
    QTest::newRow("no dot") << "noext"
                            << "/"
                            << "noext"
                            << "noext"
                            << "noext";
    QTest::newRow("empty") << ""
                           << "/"
                           << ""
                           << ""
                           << "";
    QTest::newRow("dot in folder") << "/a.b/c"
                                   << "/"
                                   << "c"
                                   << "/a"
                                   << "b/c";
    QTest::newRow("trailing separator") << "/home/a/"
                                        << "/"
                                        << ""
                                        << "/home/a/"
                                        << "/home/a/";
}

void TestFileRoutines::pathParts() {
    QFETCH(QString, text);
    QFETCH(QString, separator);
    QFETCH(QString, last);
    QFETCH(QString, stripped);
    QFETCH(QString, extension);
    QCOMPARE(Main::LastPathPart(text, separator.at(0)), last);
    QCOMPARE(Main::StripExtension(text), stripped);
    QCOMPARE(Main::ExtensionOf(text), extension);
}

void TestFileRoutines::collapse_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("separator");
    QTest::addColumn<QString>("expected");
    QTest::newRow("windows doubles") << "C:\\\\x\\\\y"
                                     << "\\"
                                     << "C:\\x\\y";
    QTest::newRow("windows triple") << "C:\\\\\\x"
                                    << "\\"
                                    << "C:\\\\x";
    QTest::newRow("windows three leading") << "\\\\\\server\\share"
                                           << "\\"
                                           << "\\\\server\\share";
    QTest::newRow("windows one leading") << "\\server\\share"
                                         << "\\"
                                         << "\\\\server\\share";
    QTest::newRow("windows only separators") << "\\\\\\"
                                             << "\\"
                                             << "\\\\";
    QTest::newRow("linux doubles") << "home//a//b"
                                   << "/"
                                   << "home/a/b";
    QTest::newRow("linux leading run") << "///home//a"
                                       << "/"
                                       << "/home/a";
    QTest::newRow("linux one leading") << "/home/a"
                                       << "/"
                                       << "/home/a";
    QTest::newRow("linux backslash untouched") << "/a\\\\b"
                                               << "/"
                                               << "/a\\\\b";
    QTest::newRow("empty") << ""
                           << "/"
                           << "";
}

void TestFileRoutines::collapse() {
    QFETCH(QString, path);
    QFETCH(QString, separator);
    QFETCH(QString, expected);
    QCOMPARE(Main::CollapseDoubleBackslashes(path, separator.at(0)), expected);
}

void TestFileRoutines::existence() {
    QFile file(path("a.txt"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    QVERIFY(Main::FileExists(path("a.txt")));
    QVERIFY(!Main::FolderExists(path("a.txt")));
    QVERIFY(Main::FolderExists(dir.path()));
    QVERIFY(Main::FileExists(dir.path()));
    QVERIFY(!Main::FileExists(path("missing")));
    QVERIFY(!Main::FolderExists(path("missing/deeper")));
    QVERIFY(!Main::FileExists(QString()));
    QVERIFY(!Main::FolderExists(QString()));
}

void TestFileRoutines::readWholeFile_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("expected");
    QTest::newRow("empty file") << QByteArray() << "empty file";
    QTest::newRow("utf-16 mark and A")
        << QByteArray("\xFF\xFE\x41\x00", 4) << (QString(QChar(0xFEFF)) + QLatin1Char('A'));
    QTest::newRow("big-endian mark read low byte first")
        << QByteArray("\xFE\xFF\x00\x41", 4) << (QString(QChar(0xFFFE)) + QChar(0x4100));
    QTest::newRow("plain text") << QByteArray("apple\r\ndog") << "apple\r\ndog";
    QTest::newRow("utf-8") << QByteArray("K\xC3\xA4se") << QString::fromUtf16(u"K\u00E4se");
}

void TestFileRoutines::readWholeFile() {
    QFETCH(QByteArray, bytes);
    QFETCH(QString, expected);
    QFile file(path("read.bin"));
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
    file.close();
    QCOMPARE(Main::ReadWholeFile(path("read.bin")), expected);
    QCOMPARE(Main::ReadWholeFile(path("not-there.bin")), QString());
}

void TestFileRoutines::saveBytesKeepsTail() {
    QFile file(path("ten.bin"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("0123456789");
    file.close();
    Main::SaveBytesToFile("abc", path("ten.bin"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("abc3456789"));
    file.close();
    Main::SaveBytesToFile("new", path("fresh.bin"));
    QFile fresh(path("fresh.bin"));
    QVERIFY(fresh.open(QIODevice::ReadOnly));
    QCOMPARE(fresh.readAll(), QByteArray("new"));
}

void TestFileRoutines::saveBytesIntoMissingFolderFails() {
    QVERIFY_THROWS_EXCEPTION(AppError, Main::SaveBytesToFile("x", path("no/such/folder/f.bin")));
}

void TestFileRoutines::removeFile() {
    QFile file(path("ro.txt"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    QFile::setPermissions(path("ro.txt"), QFileDevice::ReadOwner);
    Main::RemoveFile(path("ro.txt"));
    QVERIFY(!QFile::exists(path("ro.txt")));
    Main::RemoveFile(path("never-was.txt")); // no error
    Main::RemoveFile(QString());
}

QTEST_GUILESS_MAIN(TestFileRoutines)
#include "tst_file_routines.moc"
