#include "base/error_report.h"
#include "base/settings_store.h"
#include "fake_prompts.h"
#include "keywords/event_pump.h"
#include "keywords/keyword_list.h"
#include "keywords/text_list_file.h"
#include "sheets/workbook_writer.h"
#include "test_files.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cerrno>
#include <cstring>

class TestTextListFile : public QObject {
    Q_OBJECT
private slots:
    void load_data();
    void load();
    void loadFolderFails();
    void save_data();
    void save();
    void roundTripKeepsBytes_data();
    void roundTripKeepsBytes();
    void saveWhileEntriesAreRemoved();
    void fullDiskKeepsTheOldFile_data();
    void fullDiskKeepsTheOldFile();

private:
    QTemporaryDir dir;
    QString path(const QString& name) const { return dir.filePath(name); }
};

void TestTextListFile::load_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("entries");
    QTest::newRow("CR LF lines with a blank one")
        << QByteArray("apple\r\n\r\ndog\r\n") << QStringList{"apple", "", "dog"};
    QTest::newRow("LF only") << QByteArray("apple\ndog\ncity\n") << QStringList{"apple", "dog", "city"};
    QTest::newRow("CR only") << QByteArray("apple\rdog\r") << QStringList{"apple", "dog"};
    QTest::newRow("mixed ends") << QByteArray("a\r\nb\nc\rd") << QStringList{"a", "b", "c", "d"};
    QTest::newRow("LF then CR is two ends") << QByteArray("a\n\rb") << QStringList{"a", "", "b"};
    QTest::newRow("last line without terminator")
        << QByteArray("apple\r\ndog") << QStringList{"apple", "dog"};
    QTest::newRow("blank line at the end") << QByteArray("apple\r\n\r\n") << QStringList{"apple", ""};
    QTest::newRow("only a terminator") << QByteArray("\r\n") << QStringList{""};
    QTest::newRow("empty file") << QByteArray() << QStringList{};
    QTest::newRow("spaces kept") << QByteArray("  new york \r\n\t\r\n") << QStringList{"  new york ", "\t"};
    QTest::newRow("UTF-8") << QByteArray("caf\xc3\xa9\r\n\xe6\x9d\xb1\xe4\xba\xac\r\n")
                           << QStringList{QStringLiteral("café"), QStringLiteral("東京")};
    QTest::newRow("byte-order mark stays") << QByteArray("\xef\xbb\xbf"
                                                         "apple\r\n")
                                           << QStringList{QStringLiteral("\uFEFFapple")};
    // Lines and characters that straddle the reading blocks of 1 MiB.
    const QByteArray longLine(1024 * 1024 - 1, 'x');
    QTest::newRow("CR LF split between blocks") << longLine + "\r\nnext\r\n"
                                                << QStringList{QString(longLine), "next"};
    QTest::newRow("line across blocks")
        << QByteArray("a\r\n") + longLine + "\r\nb" << QStringList{"a", QString(longLine), "b"};
    QTest::newRow("character across blocks") << longLine + "\xc3\xa9\r\n"
                                             << QStringList{QString(longLine) + QStringLiteral("é")};
}

void TestTextListFile::load() {
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, entries);
    writeBytes(path("load.txt"), bytes);
    KeywordList list;
    FakePrompts prompts;
    List::EventPump pump;
    List::LoadTextList(list, path("load.txt"), prompts, pump);
    QCOMPARE(keywordsOf(list), entries);
    QVERIFY(prompts.calls.isEmpty());
}

void TestTextListFile::loadFolderFails() {
    KeywordList list;
    FakePrompts prompts;
    List::EventPump pump;
    QVERIFY_THROWS_EXCEPTION(AppError, List::LoadTextList(list, dir.path(), prompts, pump));
    QCOMPARE(list.Count(), 0);
}

void TestTextListFile::save_data() {
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("blank entry between")
        << QStringList{"apple", "", "dog"} << QByteArray("apple\r\n\r\ndog\r\n");
    QTest::newRow("empty list") << QStringList{} << QByteArray();
    QTest::newRow("one empty entry") << QStringList{""} << QByteArray("\r\n");
    QTest::newRow("duplicates and spaces") << QStringList{" a ", " a "} << QByteArray(" a \r\n a \r\n");
    QTest::newRow("UTF-8") << QStringList{QStringLiteral("café"), QStringLiteral("東京")}
                           << QByteArray("caf\xc3\xa9\r\n\xe6\x9d\xb1\xe4\xba\xac\r\n");
}

void TestTextListFile::save() {
    QFETCH(QStringList, entries);
    QFETCH(QByteArray, bytes);
    KeywordList list;
    for (const QString& entry : entries)
        list.add(entry);
    List::EventPump pump;
    List::SaveTextList(list, path("save.txt"), pump);
    QCOMPARE(readBytes(path("save.txt")), bytes);
}

void TestTextListFile::roundTripKeepsBytes_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("CR LF with blank lines") << QByteArray("apple\r\n\r\ndog\r\n\r\n");
    QTest::newRow("byte-order mark") << QByteArray("\xef\xbb\xbf"
                                                   "apple\r\ndog\r\n");
    QTest::newRow("UTF-8") << QByteArray("\xe6\x9d\xb1\xe4\xba\xac\r\n");
    QTest::newRow("many lines") << QByteArray("line\r\n").repeated(300000);
}

void TestTextListFile::roundTripKeepsBytes() {
    QFETCH(QByteArray, bytes);
    writeBytes(path("in.txt"), bytes);
    KeywordList list;
    FakePrompts prompts;
    List::EventPump pump;
    List::LoadTextList(list, path("in.txt"), prompts, pump);
    List::SaveTextList(list, path("out.txt"), pump);
    QCOMPARE(readBytes(path("out.txt")), bytes);
}

// Another command may remove entries while the save processes the window's events: the file then
// holds the list as it stands afterwards, never a mix of before and after.
void TestTextListFile::saveWhileEntriesAreRemoved() {
    KeywordList list;
    std::vector<QString> entries;
    QByteArray expected;
    for (int i = 0; i < 2000; ++i) {
        entries.push_back(QString::number(i));
        if (i >= 1000)
            expected += QByteArray::number(i) + "\r\n";
    }
    list.appendMany(std::move(entries));
    bool removed = false;
    QTimer::singleShot(0, [&] {
        list.removeRun(1, 1000);
        removed = true;
    });
    List::EventPump pump(0); // events at every chance
    List::SaveTextList(list, path("changing.txt"), pump);
    QVERIFY(removed);
    QCOMPARE(readBytes(path("changing.txt")), expected);
    QCOMPARE(QDir(dir.path()).entryList({"changing*"}, QDir::Files | QDir::Hidden),
             QStringList{"changing.txt"});
}

// Every save that replaces a file whole (the text list, the workbook, the settings), on a disk
// with no room left: the save fails with the system's reason and the old file stays as it was.
void TestTextListFile::fullDiskKeepsTheOldFile_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("says");
    const QString full = QString::fromLocal8Bit(std::strerror(ENOSPC));
    QTest::newRow("text list") << "text" << full;
    QTest::newRow("workbook") << "workbook" << full;
    QTest::newRow("settings") << "settings"
                              << "could not be saved";
}

void TestTextListFile::fullDiskKeepsTheOldFile() {
    QFETCH(QString, kind);
    QFETCH(QString, says);
    SmallDisk disk(path("disk"));
    if (!disk.mounted())
        QSKIP(qPrintable(disk.why()));
    const QString file = disk.path() + "/saved";
    KeywordList list;
    list.add("apple");
    List::EventPump pump;
    QString message;
    const auto save = [&] {
        if (kind == "text")
            return List::SaveTextList(list, file, pump);
        if (kind == "workbook")
            return WorkbookWriter::writeKeywords(list.items(), "Keyword/s", file);
        SettingsStore::write(SettingKey::PicturesPerKeyword, QString::number(list.Count()));
    };
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, disk.path());
    SettingsStore::setFailureReporter([&](const QString& text) { message = text; });
    const QString saved = kind == "settings" ? SettingsStore::filePath() : file;
    save();
    const QByteArray before = readBytes(saved);
    QVERIFY(!before.isEmpty());

    disk.fill();
    list.add("dog");
    try {
        save();
    } catch (const AppError& e) {
        message = e.description();
    }
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       qEnvironmentVariable("XDG_CONFIG_HOME"));
    SettingsStore::setFailureReporter(nullptr);
    QVERIFY2(message.contains(says), qPrintable(message));
    QCOMPARE(readBytes(saved), before);
    // Nothing else is left beside it.
    QStringList entries = QDir(QFileInfo(saved).path()).entryList(QDir::Files | QDir::Hidden);
    entries.removeOne(".filler");
    QCOMPARE(entries, QStringList{QFileInfo(saved).fileName()});
}

QTEST_GUILESS_MAIN(TestTextListFile)
#include "tst_text_list_file.moc"
