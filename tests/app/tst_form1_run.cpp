#include "app/form1.h"
#include "base/settings_store.h"
#include "fake_prompts.h"
#include "image_service.h"
#include "keywords/keyword_list.h"
#include "test_files.h"
#include "test_settings.h"
#include "test_windows.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <memory>

// "Start Downloading" on the main window, with real curl and the local image service: what a fresh
// profile saves into, and what the progress bar shows while the run works.
class TestForm1Run : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init() { TestSettings::clear(); }

    void freshProfileSavesIntoTheDefaultFolder_data();
    void freshProfileSavesIntoTheDefaultFolder();
    void barShowsKeywordsAsTyped();

private:
    std::unique_ptr<ImageService> service;
    QTemporaryDir privateTemp; // the run's temporary location
};

namespace {

// Keywords whose search answer is held back, so the bar shows their text for a while.
const QByteArray catalog = R"({
  "100%": {"delay": 500, "results": [{"kind": "png"}]},
  "a%pb": {"delay": 500, "results": [{"kind": "png"}]}
})";

QStringList picturesIn(const QString& folder) {
    QStringList entries = QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    entries.removeOne(QStringLiteral("credits.csv"));
    return entries;
}

} // namespace

void TestForm1Run::initTestCase() {
    service = std::make_unique<ImageService>(QStringList(), catalog);
    QVERIFY2(service->isRunning(), qPrintable(service->errorText()));
    service->applyToEnvironment();
    QVERIFY(privateTemp.isValid());
    qputenv("TMPDIR", QFile::encodeName(privateTemp.path()));
}

void TestForm1Run::freshProfileSavesIntoTheDefaultFolder_data() {
    // Folders in a fresh home folder, the user's folder names, and where the pictures go (relative
    // to the home folder).
    QTest::addColumn<QStringList>("folders");
    QTest::addColumn<QString>("userDirs");
    QTest::addColumn<QString>("expected");
    QTest::newRow("the user's own desktop name")
        << QStringList{"Desktop", "Bureau", "Images"}
        << "XDG_DESKTOP_DIR=\"$HOME/Bureau\"\nXDG_PICTURES_DIR=\"$HOME/Images\"\n"
        << "Bureau/";
    QTest::newRow("no desktop: pictures") << QStringList{"Pictures"} << ""
                                          << "Pictures/";
    QTest::newRow("neither: home") << QStringList() << ""
                                   << "";
}

void TestForm1Run::freshProfileSavesIntoTheDefaultFolder() {
    QFETCH(QStringList, folders);
    QFETCH(QString, userDirs);
    QFETCH(QString, expected);
    QTemporaryDir home;
    QVERIFY(home.isValid());
    QVERIFY(makeHome(home.path(), folders, {}, userDirs));
    QDir dir(home.path());
    ScopedEnvironment homeScope("HOME", home.path());
    ScopedEnvironment config("XDG_CONFIG_HOME", dir.filePath(".config"));

    // The first start: the help, then the window with the save folder filled in.
    FakePrompts prompts;
    Form1 form(prompts, {[] { return 1; }, {}});
    QCOMPARE(prompts.messages(), QStringList{Form1::helpText()});
    const QString saveFolder = home.path() + "/" + expected;
    QCOMPARE(child<QLineEdit>(&form, "Text1")->text(), saveFolder);

    SettingsStore::write(SettingKey::ApiKey, ImageService::validKey());
    form.keywords().add("apple");
    child<QLineEdit>(&form, "Text2")->setText("2");
    prompts.reset();
    child<QPushButton>(&form, "PushButton2")->click();

    QCOMPARE(prompts.messages().size(), 1);
    QVERIFY2(prompts.messages().first().startsWith("Done."), qPrintable(prompts.messages().first()));
    const QStringList kept = picturesIn(saveFolder).filter(QRegularExpression("^apple "));
    QCOMPARE(kept.size(), 2);
    for (const QString& name : kept)
        QVERIFY2(!QImage(saveFolder + name).isNull(), qPrintable(name));
}

void TestForm1Run::barShowsKeywordsAsTyped() {
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    ProgressLabelRecorder style; // outlives the window that uses it
    FakePrompts prompts;
    auto form = startSeenForm1(prompts);
    SettingsStore::write(SettingKey::ApiKey, ImageService::validKey());
    child<QLineEdit>(form.get(), "Text1")->setText(folder.path() + "/");
    child<QLineEdit>(form.get(), "Text2")->setText("1");
    form->keywords().add("100%");
    form->keywords().add("a%pb");
    child<QProgressBar>(form.get(), "ProgressBar1")->setStyle(&style);
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    child<QPushButton>(form.get(), "PushButton2")->click();

    QCOMPARE(prompts.messages().size(), 1);
    QVERIFY2(prompts.messages().first().startsWith("Done."), qPrintable(prompts.messages().first()));
    // While each search is held back the bar shows the keyword as typed, and nothing else ever.
    QVERIFY2(style.drawn.contains("Processing: 100%, finding images..."),
             qPrintable(style.drawn.join(" | ")));
    QVERIFY2(style.drawn.contains("Processing: a%pb, finding images..."),
             qPrintable(style.drawn.join(" | ")));
    const QStringList allowed = {"Processing: 100%", "Processing: a%pb", "Progress Bar"};
    for (const QString& text : style.drawn)
        QVERIFY2(
            std::any_of(allowed.begin(), allowed.end(), [&](const QString& a) { return text.startsWith(a); }),
            qPrintable(text));
}

QTEST_MAIN(TestForm1Run)
#include "tst_form1_run.moc"
