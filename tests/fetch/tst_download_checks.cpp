#include "fetch/download_checks.h"
#include "fetch/download_target.h"
#include "shell/error_report.h"
#include "test_settings.h"

#include <QDir>
#include <QFile>
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
    void usableExtension_data();
    void usableExtension();

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
        TestSettings::seed("Option2", option2);
        TestSettings::seed("Option3", option3);
        TestSettings::seed("Text5", text5);
        TestSettings::seed("Text6", text6);
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
    TestSettings::seed("Combo3", combo3);
    TestSettings::seed("Combo4", combo4);
    FilterSettings f;
    f.heightOn = heightOn;
    f.widthOn = widthOn;
    QTEST(DimensionFilter(f, width, height), "kept");
}

void TestDownloadChecks::badComparisonIsReportedAndComparesAsGreaterThan() {
    TestSettings::seed("Combo3", "less");
    QVERIFY_THROWS_EXCEPTION(AppError, ReadComparison("Combo3"));
    FilterSettings f;
    f.heightOn = true;
    QStringList reported;
    const ComparisonReader reporting = [&](const QString& key) {
        try {
            return ReadComparison(key);
        } catch (const AppError& e) {
            reported << key + ": " + e.description();
            return 0;
        }
    };
    QVERIFY(DimensionFilter(f, 1, 501, reporting));
    QVERIFY(!DimensionFilter(f, 1, 499, reporting));
    QCOMPARE(reported, QStringList({"Combo3: Type mismatch", "Combo3: Type mismatch"}));

    // With both filters on, the width's comparison is read (and its failure reported) also for a
    // result the height has already rejected.
    reported.clear();
    TestSettings::seed("Combo4", "wider");
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

    const QString download = DownloadTarget::temporaryPath(prefix + expected);
    QFile part(download);
    QVERIFY(part.open(QIODevice::WriteOnly));
    part.write("picture");
    part.close();
    QCOMPARE(DownloadTarget::keep(download, prefix, "cat", kept, "jpg"), prefix + expected);
    QVERIFY(!QFile::exists(download));
    QCOMPARE(QDir(folder.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).size(),
             existing.size() + 1);
}

void TestDownloadChecks::usableExtension_data() {
    QTest::addColumn<QString>("extension");
    QTest::addColumn<bool>("usable");
    QTest::newRow("jpg") << "jpg" << true;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("path out of the folder") << "b/../../../tmp/x" << false;
    QTest::newRow("backslash") << "b\\x" << false;
}

void TestDownloadChecks::usableExtension() {
    QFETCH(QString, extension);
    QTEST(DownloadTarget::usableExtension(extension), "usable");
}

QTEST_GUILESS_MAIN(TestDownloadChecks)
#include "tst_download_checks.moc"
