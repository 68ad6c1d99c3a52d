#include "app/form1.h"
#include "app/pictures_window.h"
#include "base/settings_store.h"
#include "fake_prompts.h"
#include "image_service.h"
#include "keywords/keyword_list.h"
#include "service_fixture.h"
#include "test_files.h"
#include "test_settings.h"
#include "test_windows.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLineEdit>
#include <QListView>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <memory>

Q_DECLARE_METATYPE(Prompts::ReportChoice)

// "Start Downloading" on the main window, with real curl and the local image service: what a fresh
// profile saves into, and what the progress bar shows while the run works.
class TestForm1Run : public QObject, public ServiceFixture {
    Q_OBJECT
private slots:
    void initTestCase();
    void init() { TestSettings::clear(); }

    void freshProfileSavesIntoTheDefaultFolder_data();
    void freshProfileSavesIntoTheDefaultFolder();
    void barShowsKeywordsAsTyped();
    void picturesWindowFillsDuringTheRun_data();
    void picturesWindowFillsDuringTheRun();
};

namespace {

// Keywords whose search answer is held back, so the bar shows their text for a while.
const QByteArray catalog = R"({
  "100%": {"delay": 250, "results": [{"kind": "png"}]},
  "a%pb": {"delay": 250, "results": [{"kind": "png"}]}
})";

QStringList picturesIn(const QString& folder) {
    QStringList entries = QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    entries.removeOne(QStringLiteral("credits.csv"));
    return entries;
}

PicturesWindow* picturesWindow() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* pictures = qobject_cast<PicturesWindow*>(w); pictures && pictures->isVisible())
            return pictures;
    return nullptr;
}

QStringList tilesOf(PicturesWindow* window) {
    QStringList names;
    if (!window)
        return names;
    const QAbstractItemModel* model = window->findChild<QListView*>("ListPictures")->model();
    for (int row = 0; row < model->rowCount(); ++row)
        names << model->index(row, 0).data().toString();
    return names;
}

} // namespace

void TestForm1Run::initTestCase() {
    QVERIFY2(startService(catalog), qPrintable(service->errorText()));
}

void TestForm1Run::freshProfileSavesIntoTheDefaultFolder_data() {
    // Folders in a fresh home folder, the user's folder names, and where the pictures go (relative
    // to the home folder); the settings file a profile holds already ("": none, a new profile) and
    // the source the run asks.
    QTest::addColumn<QStringList>("folders");
    QTest::addColumn<QString>("userDirs");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QString>("settings");
    QTest::addColumn<QString>("searchPath");
    const QString openverse = "/v1/images/";
    QTest::newRow("the user's own desktop name")
        << QStringList{"Desktop", "Bureau", "Images"}
        << "XDG_DESKTOP_DIR=\"$HOME/Bureau\"\nXDG_PICTURES_DIR=\"$HOME/Images\"\n"
        << "Bureau/"
        << "" << openverse;
    QTest::newRow("no desktop: pictures") << QStringList{"Pictures"} << ""
                                          << "Pictures/"
                                          << "" << openverse;
    QTest::newRow("neither: home") << QStringList() << ""
                                   << ""
                                   << "" << openverse;
    // Settings written before there was a choice of source keep the original service.
    QTest::newRow("settings without a source")
        << QStringList{"Desktop"} << ""
        << "Desktop/"
        << "[Glimmerfetch]\nFirstTime=True\nSID=" + ImageService::validKey() + "\n"
        << "/api/Search/ImageSearchAPI";
}

void TestForm1Run::freshProfileSavesIntoTheDefaultFolder() {
    QFETCH(QStringList, folders);
    QFETCH(QString, userDirs);
    QFETCH(QString, expected);
    QFETCH(QString, settings);
    QFETCH(QString, searchPath);
    QTemporaryDir home;
    QVERIFY(home.isValid());
    QVERIFY(makeHome(home.path(), folders, {}, userDirs));
    QDir dir(home.path());
    ScopedEnvironment homeScope("HOME", home.path());
    ScopedEnvironment config("XDG_CONFIG_HOME", dir.filePath(".config"));
    if (!settings.isEmpty()) {
        QVERIFY(QDir().mkpath(QFileInfo(SettingsStore::filePath()).path()));
        writeBytes(SettingsStore::filePath(), settings.toUtf8());
    }

    // The first start: the help, then the window with the save folder filled in.
    FakePrompts prompts;
    Form1 form(prompts, {[] { return 1; }, {}});
    QCOMPARE(prompts.messages(), settings.isEmpty() ? QStringList{Form1::helpText()} : QStringList());
    const QString saveFolder = home.path() + "/" + expected;
    QCOMPARE(child<QLineEdit>(&form, "Text1")->text(), saveFolder);

    // The samples and Start, no key entered on a new profile.
    child<QPushButton>(&form, "PushButton5")->click();
    child<QLineEdit>(&form, "Text2")->setText("2");
    prompts.reset();
    service->clearRequests();
    child<QPushButton>(&form, "PushButton2")->click();

    QCOMPARE(prompts.messages().size(), 1);
    QVERIFY2(prompts.messages().first().startsWith("Done."), qPrintable(prompts.messages().first()));
    const auto requests = service->requests();
    QVERIFY(!requests.isEmpty());
    for (const auto& request : requests)
        QVERIFY2(request.path.startsWith("/img/") || request.path == searchPath, qPrintable(request.path));
    for (const QString keyword : {"apple", "dog", "city"}) {
        const QStringList kept = picturesIn(saveFolder).filter(QRegularExpression("^" + keyword + " "));
        QCOMPARE(kept.size(), 2);
        for (const QString& name : kept)
            QVERIFY2(!QImage(saveFolder + name).isNull(), qPrintable(name));
    }
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

void TestForm1Run::picturesWindowFillsDuringTheRun_data() {
    QTest::addColumn<QString>("showPictures"); // the setting
    QTest::addColumn<bool>("openBefore");      // the window is open on another folder at the start
    QTest::addColumn<bool>("openAtEnd");       // the tiles are there when the end box shows
    QTest::addColumn<Prompts::ReportChoice>("endChoice");
    using C = Prompts::ReportChoice;
    QTest::newRow("opens by itself") << "True" << false << true << C::Ok;
    QTest::newRow("follows the run's folder") << "False" << true << true << C::Ok;
    QTest::newRow("setting off: from the end box") << "False" << false << false << C::ShowPictures;
}

// The tiles are the folder's pictures, then each picture the run keeps, in the order kept.
void TestForm1Run::picturesWindowFillsDuringTheRun() {
    QFETCH(QString, showPictures);
    QFETCH(bool, openBefore);
    QFETCH(bool, openAtEnd);
    QFETCH(Prompts::ReportChoice, endChoice);
    QTemporaryDir folder, other;
    QVERIFY(folder.isValid() && other.isValid());
    writeBytes(folder.filePath("old 1.png"), ImageService::pictureBytes("/img/png/40x30/1/old.png"));
    QFile old(folder.filePath("old 1.png"));
    QVERIFY(old.open(QIODevice::ReadWrite) &&
            old.setFileTime(QDateTime::currentDateTime().addSecs(-3600), QFileDevice::FileModificationTime));
    SettingsStore::write(SettingKey::ShowPictures, showPictures);
    FakePrompts prompts;
    auto form = startSeenForm1(prompts);
    SettingsStore::write(SettingKey::ApiKey, ImageService::validKey());
    child<QLineEdit>(form.get(), "Text1")->setText(folder.path() + "/");
    child<QLineEdit>(form.get(), "Text2")->setText("3");
    form->keywords().add("apple");
    form->keywords().add("pear");
    if (openBefore)
        form->showPictures(other.path() + "/");
    QStringList atEnd;
    prompts.onMessage = [&](const FakePrompts::Call&) { atEnd = tilesOf(picturesWindow()); };
    prompts.reportAnswers.enqueue(endChoice);
    child<QPushButton>(form.get(), "PushButton2")->click();

    QCOMPARE(prompts.messages().size(), 1);
    QStringList kept{"old 1.png"};
    static const QRegularExpression keptAs(" kept as (.*)$");
    for (const QString& line : prompts.calls.at(0).details.split('\n'))
        if (const auto match = keptAs.match(line); match.hasMatch())
            kept << match.captured(1);
    QCOMPARE(kept.size(), 7);
    QCOMPARE(atEnd, openAtEnd ? kept : QStringList());
    QCOMPARE(tilesOf(picturesWindow()), kept);
    QCOMPARE(picturesWindow()->folder(), folder.path() + "/");
}

QTEST_MAIN(TestForm1Run)
#include "tst_form1_run.moc"
