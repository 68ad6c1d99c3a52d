#include "base/settings_store.h"
#include "test_files.h"
#include "test_settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <cstddef>
#include <iterator>

#include <sys/stat.h>

namespace {
int fileMode(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return -1;
    return static_cast<int>(st.st_mode & 0777);
}
} // namespace

class TestSettingsStore : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init() { TestSettings::clear(); }
    void defaults_data();
    void defaults();
    void defaultFolder_data();
    void defaultFolder();
    void readsCreateNothing();
    void roundTrip_data();
    void roundTrip();
    void lastWriteWins();
    void fileFormatUnchanged();
    void fileIsPrivate();
    void fileLocation();
    void writeSurvivesCrash();
    void symbolicLinkNotFollowed_data();
    void symbolicLinkNotFollowed();
    void failedSaveToldOnce();
};

void TestSettingsStore::initTestCase() {
    // A home folder of this test's own, with a desktop folder.
    static QTemporaryDir home;
    QVERIFY(home.isValid());
    QVERIFY(QDir(home.path()).mkdir(QStringLiteral("Desktop")));
    qputenv("HOME", QFile::encodeName(home.path()));
}

void TestSettingsStore::defaults_data() {
    QTest::addColumn<SettingKey>("key");
    QTest::addColumn<QString>("storedName");
    QTest::addColumn<QString>("expected");
    using K = SettingKey;
    QTest::newRow("save folder") << K::SaveFolder << "Text1" << QDir::homePath() + "/Desktop/";
    QTest::newRow("pictures per keyword") << K::PicturesPerKeyword << "Text2"
                                          << "5";
    QTest::newRow("start position") << K::StartPosition << "Text3"
                                    << "1";
    QTest::newRow("file-size threshold") << K::FileSizeLimit << "Text4"
                                         << "1";
    QTest::newRow("width threshold") << K::WidthLimit << "Text5"
                                     << "500";
    QTest::newRow("height threshold") << K::HeightLimit << "Text6"
                                      << "500";
    QTest::newRow("file-size comparison") << K::FileSizeComparison << "Combo1"
                                          << "0";
    QTest::newRow("file-size unit Bytes") << K::FileSizeUnit << "Combo2"
                                          << "2";
    QTest::newRow("height comparison") << K::HeightComparison << "Combo3"
                                       << "0";
    QTest::newRow("width comparison") << K::WidthComparison << "Combo4"
                                      << "0";
    QTest::newRow("all file sizes") << K::FileSizeFilter << "Option1"
                                    << "1";
    QTest::newRow("all heights") << K::HeightFilter << "Option2"
                                 << "3";
    QTest::newRow("all widths") << K::WidthFilter << "Option3"
                                << "5";
    QTest::newRow("not started yet") << K::FirstTime << "FirstTime"
                                     << "False";
    QTest::newRow("no folder chosen") << K::LastFolder << "LastFolderDot"
                                      << "";
    QTest::newRow("no key") << K::ApiKey << "SID"
                            << "";
    QTest::newRow("pictures shown as they arrive") << K::ShowPictures << "ShowPictures"
                                                   << "True";
    QTest::newRow("any licence") << K::Licence << "Licence"
                                 << "any";
    QTest::newRow("credits not written into pictures") << K::EmbedCredits << "EmbedCredits"
                                                       << "False";
}

void TestSettingsStore::defaults() {
    QFETCH(SettingKey, key);
    QFETCH(QString, storedName);
    QFETCH(QString, expected);
    QCOMPARE(SettingsStore::storedName(key), storedName);
    QCOMPARE(SettingsStore::read(key), expected);
    QCOMPARE(SettingsStore::read(key, QStringLiteral("fallback")), QStringLiteral("fallback"));
}

void TestSettingsStore::defaultFolder_data() {
    // Folders and files made in a fresh home folder, the user's folder names, and the save folder a
    // fresh profile gets (relative to the home folder).
    QTest::addColumn<QStringList>("folders");
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QString>("userDirs");
    QTest::addColumn<QString>("expected");
    const QString german = "XDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\nXDG_PICTURES_DIR=\"$HOME/Bilder\"\n";
    QTest::newRow("desktop") << QStringList{"Desktop", "Pictures"} << QStringList() << ""
                             << "Desktop/";
    QTest::newRow("no desktop: pictures") << QStringList{"Pictures"} << QStringList() << ""
                                          << "Pictures/";
    QTest::newRow("neither: home") << QStringList() << QStringList() << ""
                                   << "";
    QTest::newRow("desktop is a file") << QStringList() << QStringList{"Desktop", "Pictures"} << ""
                                       << "";
    QTest::newRow("the user's own desktop name")
        << QStringList{"Desktop", "Schreibtisch", "Bilder"} << QStringList() << german << "Schreibtisch/";
    QTest::newRow("named desktop missing: named pictures")
        << QStringList{"Desktop", "Bilder"} << QStringList() << german << "Bilder/";
    QTest::newRow("named folders missing: home")
        << QStringList{"Desktop", "Pictures"} << QStringList() << german << "";
    QTest::newRow("a name with a space") << QStringList{"Mein Schreibtisch"} << QStringList()
                                         << "XDG_DESKTOP_DIR=\"$HOME/Mein Schreibtisch\"\n"
                                         << "Mein Schreibtisch/";
}

void TestSettingsStore::defaultFolder() {
    QFETCH(QStringList, folders);
    QFETCH(QStringList, files);
    QFETCH(QString, userDirs);
    QFETCH(QString, expected);
    QTemporaryDir home;
    QVERIFY(home.isValid());
    QVERIFY(makeHome(home.path(), folders, files, userDirs));
    QDir dir(home.path());
    // A fresh profile in that home folder; the home folder is given with a trailing "/" as some
    // sessions do.
    ScopedEnvironment homeScope("HOME", home.path() + "/");
    ScopedEnvironment config("XDG_CONFIG_HOME", dir.filePath(".config"));
    QVERIFY(!SettingsStore::contains(SettingKey::SaveFolder));
    QCOMPARE(SettingsStore::read(SettingKey::SaveFolder), home.path() + "/" + expected);
    QCOMPARE(SettingsStore::defaultFor(SettingKey::SaveFolder), home.path() + "/" + expected);
}

void TestSettingsStore::readsCreateNothing() {
    for (const SettingKey key : SettingsStore::keys())
        SettingsStore::read(key);
    QVERIFY(!QFile::exists(SettingsStore::filePath()));
    QCOMPARE(SettingsStore::keys().size(), 25);
}

void TestSettingsStore::roundTrip_data() {
    QTest::addColumn<QString>("value");
    QTest::newRow("empty is stored, not deleted") << "";
    QTest::newRow("comma") << "a, b, c";
    QTest::newRow("at sign") << "@Variant(x)";
    QTest::newRow("quotes and equals") << "k=\"v\"; x";
    QTest::newRow("leading blank and trailing blank") << " key ";
    QTest::newRow("non-ASCII") << QString::fromUtf8("Bilder/Käse 日本");
    QTest::newRow("backslashes") << "C:\\x\\\\y";
    QTest::newRow("number-like") << "007";
}

void TestSettingsStore::roundTrip() {
    QFETCH(QString, value);
    SettingsStore::write(SettingKey::ApiKey, value);
    QVERIFY(SettingsStore::contains(SettingKey::ApiKey));
    QCOMPARE(SettingsStore::read(SettingKey::ApiKey), value);
    // A second program run sees it too: read the file with a fresh process-independent reader.
    QSettings other(SettingsStore::filePath(), QSettings::IniFormat);
    QCOMPARE(other.value(QStringLiteral("Glimmerfetch/SID")).toString(), value);
}

void TestSettingsStore::lastWriteWins() {
    SettingsStore::write(SettingKey::PicturesPerKeyword, QStringLiteral("1"));
    SettingsStore::write(SettingKey::PicturesPerKeyword, QStringLiteral("12"));
    QCOMPARE(SettingsStore::read(SettingKey::PicturesPerKeyword), QStringLiteral("12"));
}

// Every key written through the store gives the file that earlier versions wrote: the same names,
// in the same group, sorted, with the values escaped the same way. Files already on users' disks,
// and the versions that read them, rely on it.
void TestSettingsStore::fileFormatUnchanged() {
    struct Stored {
        SettingKey key;
        const char* name;
        const char* value;
        const char* inFile;
    };
    using K = SettingKey;
    const Stored written[] = {
        {K::SaveFolder, "Text1", "/home/ann/My Pictures/", "/home/ann/My Pictures/"},
        {K::PicturesPerKeyword, "Text2", "12", "12"},
        {K::StartPosition, "Text3", "3", "3"},
        {K::FileSizeLimit, "Text4", "2.5", "2.5"},
        {K::WidthLimit, "Text5", "640", "640"},
        {K::HeightLimit, "Text6", " 480 ", "\" 480 \""},
        {K::FileSizeComparison, "Combo1", "1", "1"},
        {K::FileSizeUnit, "Combo2", "0", "0"},
        {K::HeightComparison, "Combo3", "-1", "-1"},
        {K::WidthComparison, "Combo4", "1", "1"},
        {K::FileSizeFilter, "Option1", "2", "2"},
        {K::HeightFilter, "Option2", "4", "4"},
        {K::WidthFilter, "Option3", "6", "6"},
        {K::FirstTime, "FirstTime", "True", "True"},
        {K::LastFolder, "LastFolderDot", "", ""},
        {K::ApiKey, "SID", "a1b2, c3", "\"a1b2, c3\""},
        {K::Source, "Source", "openverse", "openverse"},
        {K::PexelsKey, "PexelsKey", "p1", "p1"},
        {K::PixabayKey, "PixabayKey", "12-ab", "12-ab"},
        {K::Credits, "Credits", "False", "False"},
        {K::Parallel, "Parallel", "4", "4"},
        {K::Pace, "Pace", "short", "short"},
        {K::ShowPictures, "ShowPictures", "False", "False"},
        {K::Licence, "Licence", "nocredit", "nocredit"},
        {K::EmbedCredits, "EmbedCredits", "True", "True"},
    };
    QCOMPARE(std::size(written), std::size_t(SettingsStore::keys().size()));
    QMap<QString, QByteArray> lines; // sorted by name, as the file is
    for (const Stored& s : written) {
        SettingsStore::write(s.key, QString::fromLatin1(s.value));
        lines.insert(QString::fromLatin1(s.name), QByteArray(s.name) + '=' + s.inFile + '\n');
    }
    QByteArray expected = "[Glimmerfetch]\n";
    for (const QByteArray& line : lines)
        expected += line;
    QFile file(SettingsStore::filePath());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), expected);
}

void TestSettingsStore::fileIsPrivate() {
    SettingsStore::write(SettingKey::ApiKey, QStringLiteral("secret"));
    QCOMPARE(fileMode(SettingsStore::filePath()), 0600);
    // A file made world-readable by something else is mended at the next write.
    QFile::setPermissions(SettingsStore::filePath(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                         QFileDevice::ReadOther | QFileDevice::ReadGroup);
    SettingsStore::write(SettingKey::ApiKey, QStringLiteral("secret2"));
    QCOMPARE(fileMode(SettingsStore::filePath()), 0600);
}

void TestSettingsStore::fileLocation() {
    SettingsStore::write(SettingKey::StartPosition, QStringLiteral("2"));
    const QString expected =
        qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/Kestrelon/Glimmerfetch.conf");
    QCOMPARE(QFileInfo(SettingsStore::filePath()).absoluteFilePath(), QFileInfo(expected).absoluteFilePath());
    QVERIFY(TestSettings::fileText().contains(QStringLiteral("[Glimmerfetch]")));
    QVERIFY(TestSettings::fileText().contains(QStringLiteral("Text3=2")));
}

void TestSettingsStore::writeSurvivesCrash() {
    // The write is on disk before write() returns: a process that writes and is then killed
    // without any shutdown leaves the value behind.
    if (qEnvironmentVariableIsSet("GLIMMERFETCH_CRASH_CHILD")) {
        SettingsStore::write(SettingKey::PicturesPerKeyword,
                             qEnvironmentVariable("GLIMMERFETCH_CRASH_CHILD"));
        ::abort();
    }
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("GLIMMERFETCH_CRASH_CHILD"), QStringLiteral("37"));
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("writeSurvivesCrash")});
    QVERIFY(child.waitForFinished(30000));
    QCOMPARE(child.exitStatus(), QProcess::CrashExit);
    QCOMPARE(SettingsStore::read(SettingKey::PicturesPerKeyword), QStringLiteral("37"));
}

// A settings file that is a symbolic link is never written, created or changed through: the
// file it points to keeps its bytes and its mode, and the refusal is told once.
void TestSettingsStore::symbolicLinkNotFollowed_data() {
    QTest::addColumn<bool>("targetExists");
    QTest::newRow("link to a file") << true;
    QTest::newRow("dangling link") << false;
}

void TestSettingsStore::symbolicLinkNotFollowed() {
    QFETCH(bool, targetExists);
    const QString path = SettingsStore::filePath();
    QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
    const QString target = QFileInfo(path).absolutePath() + QStringLiteral("/precious.txt");
    QFile::remove(target);
    if (targetExists) {
        QFile file(target);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("precious\n");
        file.close();
        QVERIFY(QFile::setPermissions(target, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                  QFileDevice::ReadGroup | QFileDevice::ReadOther));
    }
    QVERIFY(QFile::link(target, path));
    QStringList told;
    SettingsStore::setFailureReporter([&](const QString& text) { told << text; });

    SettingsStore::write(SettingKey::ApiKey, QStringLiteral("secret"));
    SettingsStore::write(SettingKey::PicturesPerKeyword, QStringLiteral("7"));

    QVERIFY(QFileInfo(path).isSymLink());
    if (targetExists) {
        QFile file(target);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("precious\n"));
        QCOMPARE(fileMode(target), 0644);
    } else {
        QVERIFY(!QFileInfo::exists(target));
    }
    QCOMPARE(told.size(), 1);
    QVERIFY2(told.first().contains(path) && told.first().contains(QLatin1String("symbolic link")),
             qPrintable(told.first()));
    SettingsStore::setFailureReporter(nullptr);
    QFile::remove(path);
    QFile::remove(target);
}

// A settings folder that cannot be made (a file stands in its place) loses the writes; the user
// is told once, with the path and the reason, and the program goes on.
void TestSettingsStore::failedSaveToldOnce() {
    const QString path = SettingsStore::filePath();
    const QString folder = QFileInfo(path).absolutePath();
    const QString parked = folder + QStringLiteral(".parked");
    QDir(parked).removeRecursively();
    QVERIFY(!QFileInfo::exists(folder) || QDir().rename(folder, parked));
    {
        QFile blocker(folder);
        QVERIFY(blocker.open(QIODevice::WriteOnly));
    }
    QStringList told;
    SettingsStore::setFailureReporter([&](const QString& text) { told << text; });
    SettingsStore::write(SettingKey::PicturesPerKeyword, QStringLiteral("7"));
    SettingsStore::write(SettingKey::StartPosition, QStringLiteral("9"));
    SettingsStore::setFailureReporter(nullptr);
    QFile::remove(folder);
    if (QFileInfo::exists(parked))
        QVERIFY(QDir().rename(parked, folder));

    QCOMPARE(told.size(), 1);
    QVERIFY2(told.first().startsWith(QStringLiteral("The settings could not be saved to ") + path),
             qPrintable(told.first()));
    QVERIFY2(told.first().endsWith(QLatin1String(": Not a directory.")), qPrintable(told.first()));
    QCOMPARE(SettingsStore::read(SettingKey::PicturesPerKeyword), QStringLiteral("5"));
}

QTEST_GUILESS_MAIN(TestSettingsStore)
#include "tst_settings_store.moc"
