#include "base/settings_store.h"
#include "test_settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

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
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("expected");
    QTest::newRow("save folder") << "Text1" << QDir::homePath() + "/Desktop/";
    QTest::newRow("pictures per keyword") << "Text2" << "5";
    QTest::newRow("start position") << "Text3" << "1";
    QTest::newRow("file-size threshold") << "Text4" << "1";
    QTest::newRow("width threshold") << "Text5" << "500";
    QTest::newRow("height threshold") << "Text6" << "500";
    QTest::newRow("file-size comparison") << "Combo1" << "0";
    QTest::newRow("file-size unit Bytes") << "Combo2" << "2";
    QTest::newRow("height comparison") << "Combo3" << "0";
    QTest::newRow("width comparison") << "Combo4" << "0";
    QTest::newRow("all file sizes") << "Option1" << "1";
    QTest::newRow("all heights") << "Option2" << "3";
    QTest::newRow("all widths") << "Option3" << "5";
    QTest::newRow("not started yet") << "FirstTime" << "False";
    QTest::newRow("no folder chosen") << "LastFolderDot" << "";
    QTest::newRow("no key") << "SID" << "";
    QTest::newRow("unknown key") << "Nonsense" << "";
}

void TestSettingsStore::defaults() {
    QFETCH(QString, key);
    QFETCH(QString, expected);
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
    QTest::newRow("desktop") << QStringList{"Desktop", "Pictures"} << QStringList() << "" << "Desktop/";
    QTest::newRow("no desktop: pictures") << QStringList{"Pictures"} << QStringList() << "" << "Pictures/";
    QTest::newRow("neither: home") << QStringList() << QStringList() << "" << "";
    QTest::newRow("desktop is a file") << QStringList() << QStringList{"Desktop", "Pictures"} << "" << "";
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
    QDir dir(home.path());
    for (const QString& f : folders)
        QVERIFY(dir.mkpath(f));
    for (const QString& f : files) {
        QFile file(dir.filePath(f));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    QVERIFY(dir.mkpath(".config"));
    if (!userDirs.isEmpty()) {
        QFile file(dir.filePath(".config/user-dirs.dirs"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(userDirs.toUtf8());
    }
    // A fresh profile in that home folder; the home folder is given with a trailing "/" as some
    // sessions do.
    ScopedEnvironment homeScope("HOME", home.path() + "/");
    ScopedEnvironment config("XDG_CONFIG_HOME", dir.filePath(".config"));
    QVERIFY(!SettingsStore::contains("Text1"));
    QCOMPARE(SettingsStore::read("Text1"), home.path() + "/" + expected);
    QCOMPARE(SettingsStore::defaultFor("Text1"), home.path() + "/" + expected);
}

void TestSettingsStore::readsCreateNothing() {
    for (const QString& key : SettingsStore::keys())
        SettingsStore::read(key);
    QVERIFY(!QFile::exists(SettingsStore::filePath()));
    QCOMPARE(SettingsStore::keys().size(), 16);
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
    SettingsStore::write(QStringLiteral("SID"), value);
    QVERIFY(SettingsStore::contains(QStringLiteral("SID")));
    QCOMPARE(SettingsStore::read(QStringLiteral("SID")), value);
    // A second program run sees it too: read the file with a fresh process-independent reader.
    QSettings other(SettingsStore::filePath(), QSettings::IniFormat);
    QCOMPARE(other.value(QStringLiteral("Glimmerfetch/SID")).toString(), value);
}

void TestSettingsStore::lastWriteWins() {
    SettingsStore::write(QStringLiteral("Text2"), QStringLiteral("1"));
    SettingsStore::write(QStringLiteral("Text2"), QStringLiteral("12"));
    QCOMPARE(SettingsStore::read(QStringLiteral("Text2")), QStringLiteral("12"));
}

void TestSettingsStore::fileIsPrivate() {
    SettingsStore::write(QStringLiteral("SID"), QStringLiteral("secret"));
    QCOMPARE(fileMode(SettingsStore::filePath()), 0600);
    // A file made world-readable by something else is mended at the next write.
    QFile::setPermissions(SettingsStore::filePath(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                         QFileDevice::ReadOther | QFileDevice::ReadGroup);
    SettingsStore::write(QStringLiteral("SID"), QStringLiteral("secret2"));
    QCOMPARE(fileMode(SettingsStore::filePath()), 0600);
}

void TestSettingsStore::fileLocation() {
    SettingsStore::write(QStringLiteral("Text3"), QStringLiteral("2"));
    const QString expected = qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/Kestrelon/Glimmerfetch.conf");
    QCOMPARE(QFileInfo(SettingsStore::filePath()).absoluteFilePath(), QFileInfo(expected).absoluteFilePath());
    QVERIFY(TestSettings::fileText().contains(QStringLiteral("[Glimmerfetch]")));
    QVERIFY(TestSettings::fileText().contains(QStringLiteral("Text3=2")));
}

void TestSettingsStore::writeSurvivesCrash() {
    // The write is on disk before write() returns: a process that writes and is then killed
    // without any shutdown leaves the value behind.
    if (qEnvironmentVariableIsSet("GLIMMERFETCH_CRASH_CHILD")) {
        SettingsStore::write(QStringLiteral("Text2"), qEnvironmentVariable("GLIMMERFETCH_CRASH_CHILD"));
        ::abort();
    }
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("GLIMMERFETCH_CRASH_CHILD"), QStringLiteral("37"));
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("writeSurvivesCrash")});
    QVERIFY(child.waitForFinished(30000));
    QCOMPARE(child.exitStatus(), QProcess::CrashExit);
    QCOMPARE(SettingsStore::read(QStringLiteral("Text2")), QStringLiteral("37"));
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

    SettingsStore::write(QStringLiteral("SID"), QStringLiteral("secret"));
    SettingsStore::write(QStringLiteral("Text2"), QStringLiteral("7"));

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
    SettingsStore::write(QStringLiteral("Text2"), QStringLiteral("7"));
    SettingsStore::write(QStringLiteral("Text3"), QStringLiteral("9"));
    SettingsStore::setFailureReporter(nullptr);
    QFile::remove(folder);
    if (QFileInfo::exists(parked))
        QVERIFY(QDir().rename(parked, folder));

    QCOMPARE(told.size(), 1);
    QVERIFY2(told.first().startsWith(QStringLiteral("The settings could not be saved to ") + path),
             qPrintable(told.first()));
    QVERIFY2(told.first().endsWith(QLatin1String(": Not a directory.")), qPrintable(told.first()));
    QCOMPARE(SettingsStore::read(QStringLiteral("Text2")), QStringLiteral("5"));
}

QTEST_GUILESS_MAIN(TestSettingsStore)
#include "tst_settings_store.moc"
