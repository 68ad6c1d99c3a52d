#include "app/form1.h"
#include "app/form2.h"
#include "app/form3.h"
#include "app/qt_prompts.h"
#include "base/settings_store.h"
#include "base/waiting.h"
#include "build_config.h"
#include "fake_prompts.h"
#include "keywords/keyword_list.h"
#include "test_settings.h"
#include "test_windows.h"

#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QHeaderView>
#include <QHelpEvent>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolTip>

#include <memory>

namespace {

void showActive(QWidget& w) {
    w.show();
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
}

// A Windows cursor file: an icon file whose type field says cursor and whose first entry carries
// the hot spot.
QByteArray cursorFile(int hotX, int hotY) {
    QImage image(32, 32, QImage::Format_ARGB32);
    image.fill(Qt::red);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "ICO");
    bytes[2] = 2;
    bytes[10] = static_cast<char>(hotX);
    bytes[11] = 0;
    bytes[12] = static_cast<char>(hotY);
    bytes[13] = 0;
    return bytes;
}

} // namespace

class TestForm1 : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init() { TestSettings::clear(); }
    void firstStart();
    void firstTimeMark_data();
    void firstTimeMark();
    void homePageVisit_data();
    void homePageVisit();
    void controls_data();
    void controls();
    void listColumn();
    void fieldsRestored();
    void numberCheck_data();
    void numberCheck();
    void everyKeystrokeStored();
    void helpTexts();
    void hoverRule();
    void handCursor_data();
    void handCursor();
    void realMessageBox_data();
    void realMessageBox();
    void progressTextAsTyped_data();
    void progressTextAsTyped();
    // Last: the program's end is final for this process.
    void closingEndsTheProgram();
};

void TestForm1::initTestCase() {
    // A home folder of this test's own, with a desktop folder: a fresh profile saves there.
    static QTemporaryDir home;
    QVERIFY(home.isValid());
    QVERIFY(QDir(home.path()).mkdir(QStringLiteral("Desktop")));
    qputenv("HOME", QFile::encodeName(home.path()));
}

void TestForm1::firstStart() {
    FakePrompts prompts;
    bool windowVisibleDuringHelp = true;
    QWidget* seen = nullptr;
    prompts.onMessage = [&](const FakePrompts::Call&) {
        windowVisibleDuringHelp = false;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->objectName() == QLatin1String("Form1")) {
                seen = w;
                windowVisibleDuringHelp = w->isVisible();
            }
    };
    Form1 form(prompts, {[] { return 1; }, {}});
    QCOMPARE(prompts.messages(), QStringList{Form1::helpText()});
    QCOMPARE(prompts.calls.at(0).title, QStringLiteral("Glimmerfetch"));
    QCOMPARE(prompts.calls.at(0).icon, Prompts::Icon::None);
    QVERIFY(seen);
    QVERIFY(!windowVisibleDuringHelp);
    QCOMPARE(form.windowTitle(), QStringLiteral("Glimmerfetch"));
    QVERIFY(!form.windowIcon().isNull());

    const QString desktop = QDir::homePath() + "/Desktop/";
    QCOMPARE(form.findChild<QLineEdit*>("Text1")->text(), desktop);
    QCOMPARE(form.findChild<QLineEdit*>("Text2")->text(), QStringLiteral("5"));
    QCOMPARE(form.findChild<QLineEdit*>("Text3")->text(), QStringLiteral("1"));
    const QString file = TestSettings::fileText();
    QVERIFY(file.contains(QStringLiteral("FirstTime=True")));
    QVERIFY(file.contains(QStringLiteral("Text2=5")));
    QVERIFY(file.contains(QStringLiteral("Text3=1")));
    QCOMPARE(SettingsStore::read(SettingKey::SaveFolder, QStringLiteral("absent")), desktop);

    FakePrompts again;
    Form1 second(again, {[] { return 1; }, {}});
    QVERIFY(again.messages().isEmpty());
}

void TestForm1::firstTimeMark_data() {
    QTest::addColumn<QString>("stored");
    QTest::addColumn<bool>("helpShown");
    QTest::addColumn<QString>("storedAfter");
    QTest::addColumn<bool>("reported");
    QTest::newRow("True") << "True" << false << "True" << false;
    QTest::newRow("False") << "False" << true << "True" << false;
    QTest::newRow("zero") << "0" << true << "True" << false;
    QTest::newRow("minus one") << "-1" << false << "-1" << false;
    QTest::newRow("not a flag") << "maybe" << false << "maybe" << true;
}

void TestForm1::firstTimeMark() {
    QFETCH(QString, stored);
    QFETCH(bool, helpShown);
    QFETCH(QString, storedAfter);
    QFETCH(bool, reported);
    TestSettings::seed(SettingKey::FirstTime, stored);
    TestSettings::seed(SettingKey::PicturesPerKeyword, QStringLiteral("9"));
    FakePrompts prompts;
    Form1 form(prompts, {[] { return 1; }, {}});
    QCOMPARE(prompts.messages().contains(Form1::helpText()), helpShown);
    QCOMPARE(SettingsStore::read(SettingKey::FirstTime), storedAfter);
    if (reported) {
        // The failed statement is reported and the load goes on with the next ones.
        QCOMPARE(prompts.messages().size(), 1);
        QCOMPARE(prompts.calls.at(0).title, QStringLiteral("Application Error"));
        QVERIFY(prompts.messages().at(0).startsWith(
            QStringLiteral("Type mismatch\r\nin Snapquarry2021/08/31.Form1.Form_Load at line 128\r\r")));
    }
    QCOMPARE(form.findChild<QLineEdit*>("Text2")->text(), QStringLiteral("9"));
}

void TestForm1::homePageVisit_data() {
    QTest::addColumn<int>("drawn");
    QTest::addColumn<bool>("visited");
    QTest::newRow("seven visits") << 7 << true;
    QTest::newRow("one") << 1 << false;
    QTest::newRow("six") << 6 << false;
    QTest::newRow("hundred") << 100 << false;
}

void TestForm1::homePageVisit() {
    QFETCH(int, drawn);
    QFETCH(bool, visited);
    FakePrompts prompts;
    auto form = startSeenForm1(prompts, {[drawn] { return drawn; }, {}});
    const auto urls = prompts.callsOf(QStringLiteral("url"));
    QCOMPARE(urls.size(), visited ? 1 : 0);
    if (visited)
        QCOMPARE(urls.at(0).text, QString::fromLatin1(BuildConfig::HomePage));
}

void TestForm1::controls_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QRect>("geometry"); // pixels at 15 twips each
    QTest::newRow("PushButton11") << "PushButton11"
                                  << "Getting Started / Enter Your RapidAPI/contextualwebsearch API Key"
                                  << QRect(8, 8, 520, 27);
    QTest::newRow("PushButton20") << "PushButton20"
                                  << "Add One Keyword To List" << QRect(8, 168, 256, 27);
    QTest::newRow("PushButton5") << "PushButton5"
                                 << "Load Sample/Example Keywords" << QRect(272, 168, 256, 27);
    QTest::newRow("PushButton3") << "PushButton3"
                                 << "Load List From Text File" << QRect(8, 202, 256, 27);
    QTest::newRow("PushButton7") << "PushButton7"
                                 << "Save List To Text File" << QRect(272, 202, 256, 27);
    QTest::newRow("PushButton13") << "PushButton13"
                                  << "Load List From Excel File" << QRect(8, 236, 256, 27);
    QTest::newRow("PushButton14") << "PushButton14"
                                  << "Save List To Excel File" << QRect(272, 236, 256, 27);
    QTest::newRow("PushButton9") << "PushButton9"
                                 << "Remove Keywords Containing X" << QRect(8, 270, 256, 27);
    QTest::newRow("PushButton10") << "PushButton10"
                                  << "Remove Keywords Not Cont. X" << QRect(272, 270, 256, 27);
    QTest::newRow("PushButton4") << "PushButton4"
                                 << "Help" << QRect(8, 304, 256, 27);
    QTest::newRow("PushButton1") << "PushButton1"
                                 << "Clear List" << QRect(272, 304, 256, 27);
    QTest::newRow("PushButton15") << "PushButton15"
                                  << "?" << QRect(464, 20, 40, 23);
    QTest::newRow("PushButton6") << "PushButton6"
                                 << "?" << QRect(464, 20, 40, 23);
    QTest::newRow("PushButton8") << "PushButton8"
                                 << "Filter: Download By Certain Filesize Or Image Size"
                                 << QRect(8, 453, 520, 27);
    QTest::newRow("PushButton12") << "PushButton12"
                                  << "..." << QRect(464, 20, 40, 23);
    QTest::newRow("PushButton2") << "PushButton2"
                                 << "Start Downloading" << QRect(8, 545, 520, 27);
    QTest::newRow("Frame2") << "Frame2"
                            << "How many files would you like to download per keyword?"
                            << QRect(8, 334, 520, 54);
    QTest::newRow("Frame3") << "Frame3"
                            << "What position would you start from?" << QRect(8, 392, 520, 54);
    QTest::newRow("Frame1") << "Frame1"
                            << "Save Results To This Folder" << QRect(8, 483, 520, 54);
    QTest::newRow("ProgressBar1") << "ProgressBar1"
                                  << "Progress Bar" << QRect(8, 579, 520, 27);
}

void TestForm1::controls() {
    QFETCH(QString, name);
    QFETCH(QString, caption);
    QFETCH(QRect, geometry);
    FakePrompts prompts;
    auto form = startSeenForm1(prompts);
    QCOMPARE(form->size(), QSize(536, 613));
    QWidget* w = form->findChild<QWidget*>(name);
    QVERIFY2(w, qPrintable(name));
    QCOMPARE(w->geometry(), geometry);
    if (auto* b = qobject_cast<QPushButton*>(w)) {
        QCOMPARE(b->text(), caption);
        QCOMPARE(b->font().pointSizeF(), 11.25);
        QVERIFY(b->font().bold());
    } else if (auto* f = qobject_cast<QGroupBox*>(w)) {
        QCOMPARE(f->title(), caption);
    } else if (auto* p = qobject_cast<QProgressBar*>(w)) {
        QCOMPARE(p->text(), caption);
        QCOMPARE(form->progressText(), caption);
    }
    QCOMPARE(form->findChildren<QPushButton*>().size(), 16);
}

void TestForm1::listColumn() {
    FakePrompts prompts;
    auto form = startSeenForm1(prompts);
    auto* list = form->findChild<QTableView*>("ListView1");
    QVERIFY(list);
    QCOMPARE(list->model()->headerData(0, Qt::Horizontal).toString(), QStringLiteral("Keyword/s"));
    QCOMPARE(list->model()->columnCount(), 1);
    QCOMPARE(list->columnWidth(0), 467);
    QCOMPARE(list->toolTip(),
             QStringLiteral("Drag and drop files here. Double-click item to remove it. Move | "
                            "line to right and out of window to reveal full names."));
    // Over an entry too, the list's own tooltip shows, not the entry's text.
    form->keywords().add(QStringLiteral("apple"));
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    const QModelIndex first = list->model()->index(0, 0);
    QVERIFY(!first.data(Qt::ToolTipRole).isValid());
    const QPoint at = list->visualRect(first).center();
    QHelpEvent help(QEvent::ToolTip, at, list->viewport()->mapToGlobal(at));
    QApplication::sendEvent(list->viewport(), &help);
    QTRY_COMPARE(QToolTip::text(), list->toolTip());
}

void TestForm1::fieldsRestored() {
    TestSettings::seed(SettingKey::SaveFolder, QStringLiteral("/srv/pictures/"));
    TestSettings::seed(SettingKey::PicturesPerKeyword, QStringLiteral("abc"));
    TestSettings::seed(SettingKey::StartPosition, QStringLiteral(""));
    FakePrompts prompts;
    auto form = startSeenForm1(prompts);
    QCOMPARE(form->findChild<QLineEdit*>("Text1")->text(), QStringLiteral("/srv/pictures/"));
    QCOMPARE(form->findChild<QLineEdit*>("Text2")->text(), QStringLiteral("abc"));
    QCOMPARE(form->findChild<QLineEdit*>("Text3")->text(), QString());
    QVERIFY(prompts.messages().isEmpty());
}

void TestForm1::numberCheck_data() {
    QTest::addColumn<QString>("field");
    QTest::addColumn<SettingKey>("key");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("after");
    QTest::addColumn<bool>("refused");
    QTest::newRow("count above 50") << "Text2" << SettingKey::PicturesPerKeyword << "120"
                                    << "50" << false;
    QTest::newRow("count zero") << "Text2" << SettingKey::PicturesPerKeyword << "0"
                                << "5" << false;
    QTest::newRow("count negative") << "Text2" << SettingKey::PicturesPerKeyword << "-3"
                                    << "5" << false;
    QTest::newRow("count fraction kept") << "Text2" << SettingKey::PicturesPerKeyword << "2.5"
                                         << "2.5" << false;
    QTest::newRow("count letters") << "Text2" << SettingKey::PicturesPerKeyword << "abc"
                                   << "abc" << true;
    QTest::newRow("count empty") << "Text2" << SettingKey::PicturesPerKeyword << ""
                                 << "" << true;
    QTest::newRow("start above 50") << "Text3" << SettingKey::StartPosition << "99"
                                    << "50" << false;
    QTest::newRow("start zero") << "Text3" << SettingKey::StartPosition << "0"
                                << "1" << false;
    QTest::newRow("start 50 kept") << "Text3" << SettingKey::StartPosition << "50"
                                   << "50" << false;
    QTest::newRow("start letters") << "Text3" << SettingKey::StartPosition << "x1"
                                   << "x1" << true;
}

void TestForm1::numberCheck() {
    QFETCH(QString, field);
    QFETCH(SettingKey, key);
    QFETCH(QString, typed);
    QFETCH(QString, after);
    QFETCH(bool, refused);
    FakePrompts prompts;
    auto form = startSeenForm1(prompts);
    showActive(*form);
    auto* box = form->findChild<QLineEdit*>(field);
    auto* other = form->findChild<QLineEdit*>("Text1");
    box->setFocus(Qt::MouseFocusReason);
    QTRY_VERIFY(box->hasFocus());
    box->selectAll();
    QTest::keyClick(box, Qt::Key_Delete);
    QTest::keyClicks(box, typed);
    other->setFocus(Qt::MouseFocusReason);
    QCOMPARE(box->text(), after);
    QCOMPARE(SettingsStore::read(key), after);
    if (refused) {
        QCOMPARE(prompts.messages(), QStringList{QStringLiteral("Must be numeric.")});
        QCOMPARE(prompts.calls.at(0).title, QStringLiteral("Glimmerfetch"));
        QCOMPARE(prompts.calls.at(0).buttons, Prompts::Buttons::Ok);
        QCOMPARE(prompts.calls.at(0).icon, Prompts::Icon::None);
        QTRY_VERIFY(box->hasFocus());
    } else {
        QVERIFY(prompts.messages().isEmpty());
        QVERIFY(other->hasFocus());
    }
}

void TestForm1::everyKeystrokeStored() {
    FakePrompts prompts;
    auto form = startSeenForm1(prompts);
    showActive(*form);
    auto* box = form->findChild<QLineEdit*>("Text2");
    box->setFocus();
    box->selectAll();
    QTest::keyClick(box, Qt::Key_1);
    QVERIFY(TestSettings::fileText().contains(QStringLiteral("Text2=1\n")));
    QTest::keyClick(box, Qt::Key_2);
    QVERIFY(TestSettings::fileText().contains(QStringLiteral("Text2=12\n")));
    auto* folder = form->findChild<QLineEdit*>("Text1");
    folder->setFocus();
    folder->selectAll();
    QTest::keyClicks(folder, QStringLiteral("/tmp/a b/"));
    QCOMPARE(SettingsStore::read(SettingKey::SaveFolder), QStringLiteral("/tmp/a b/"));
}

void TestForm1::helpTexts() {
    FakePrompts prompts;
    auto form = startSeenForm1(prompts);
    QTest::mouseClick(form->findChild<QPushButton*>("PushButton4"), Qt::LeftButton);
    QTest::mouseClick(form->findChild<QPushButton*>("PushButton15"), Qt::LeftButton);
    QTest::mouseClick(form->findChild<QPushButton*>("PushButton6"), Qt::LeftButton);
    const QStringList expected{
        QStringLiteral("This software uses ") + QString::fromLatin1(BuildConfig::ServiceSite) +
            QStringLiteral(
                " as the backbone for finding images. This website was choosen because it is favorable to "
                "automated softwares like this.\r\n\r\nUnfortunately, Google Images is not so Google "
                "Images was not used as the backbone for this software.\r\n\r\nQuestions? Please "
                "contact Team Kestrelon at ") +
            QString::fromLatin1(BuildConfig::ContactPage),
        QStringLiteral(
            "This is the number of files to download per keyword.\r\n\rFor example, if you have 3 keyword "
            "item in the list above and the number 5 here then 15 files total will be downloaded.\r\n\r\n"
            "Software has a limit of 50 pictures per keyword."),
        QStringLiteral("Increasing this value let You to find more rare or interesting pictures.")};
    QCOMPARE(prompts.messages(), expected);
    for (const FakePrompts::Call& call : prompts.calls) {
        QCOMPARE(call.title, QStringLiteral("Glimmerfetch"));
        QCOMPARE(call.icon, Prompts::Icon::None);
        QCOMPARE(call.buttons, Prompts::Buttons::Ok);
    }
}

void TestForm1::hoverRule() {
    FakePrompts prompts;
    auto form = startSeenForm1(prompts);
    auto enter = [&](const char* name) {
        QWidget* w =
            QLatin1String(name) == QLatin1String("Form1") ? form.get() : form->findChild<QWidget*>(name);
        QEvent e(QEvent::Enter);
        QApplication::sendEvent(w, &e);
        return form->pointer();
    };
    QCOMPARE(enter("PushButton2"), int(Surface::Hand));
    QCOMPARE(enter("Text1"), int(Surface::Default));
    QCOMPARE(enter("PushButton12"), int(Surface::Hand));
    QCOMPARE(enter("Frame2"), int(Surface::Default));
    QCOMPARE(enter("PushButton4"), int(Surface::Hand));
    QCOMPARE(enter("ListView1"), int(Surface::Default));
    QCOMPARE(enter("PushButton4"), int(Surface::Hand));
    QCOMPARE(enter("Form1"), int(Surface::Default));
    // The progress bar has no rule.
    enter("PushButton4");
    QCOMPARE(enter("ProgressBar1"), int(Surface::Hand));
    // Nothing changes the hourglass.
    form->setPointer(Surface::Hourglass);
    QCOMPARE(form->cursor().shape(), Qt::WaitCursor);
    for (const char* name : {"PushButton2", "Text2", "Frame1", "ListView1", "Form1"})
        QCOMPARE(enter(name), int(Surface::Hourglass));
    // Without a hand cursor file the hand shows the default pointer.
    form->setPointer(Surface::Default);
    enter("PushButton2");
    QVERIFY(!form->hasHandCursor());
    QCOMPARE(form->cursor().shape(), Qt::ArrowCursor);
}

void TestForm1::handCursor_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<bool>("loaded");
    QTest::addColumn<QPoint>("hotSpot");
    QTest::newRow("no file") << QByteArray() << false << QPoint();
    QTest::newRow("cursor file") << cursorFile(5, 9) << true << QPoint(5, 9);
    QTest::newRow("not a picture") << QByteArray("garbage, not a cursor") << false << QPoint();
}

void TestForm1::handCursor() {
    QFETCH(QByteArray, file);
    QFETCH(bool, loaded);
    QFETCH(QPoint, hotSpot);
    QTemporaryDir folder;
    if (!file.isEmpty()) {
        QFile cur(folder.filePath(QStringLiteral("HAND-M.CUR")));
        QVERIFY(cur.open(QIODevice::WriteOnly));
        cur.write(file);
    }
    FakePrompts prompts;
    auto form = startSeenForm1(prompts, {[] { return 1; }, folder.path()});
    QCOMPARE(form->hasHandCursor(), loaded);
    const bool broken = !file.isEmpty() && !loaded;
    // The filter dialog, which start-up creates, loads the same file and reports it too.
    QCOMPARE(prompts.messages().size(), broken ? 2 : 0);
    if (broken) {
        QVERIFY(prompts.messages().at(0).contains(QStringLiteral("Form1.Form_Load at line 106\r\r")));
        QVERIFY(prompts.messages().at(1).contains(QStringLiteral("Form2.Form_Load at line 106\r\r")));
    }
    form->setPointer(Surface::Hand);
    QCOMPARE(form->cursor().shape(), loaded ? Qt::BitmapCursor : Qt::ArrowCursor);
    if (loaded)
        QCOMPARE(form->cursor().hotSpot(), hotSpot);

    // The two dialogs load the same file the same way, and show it over their push buttons.
    auto overButton = [](QWidget* dialog) {
        QEvent e(QEvent::Enter);
        QApplication::sendEvent(dialog->findChild<QPushButton*>(), &e);
        return dialog->cursor().shape();
    };
    const Qt::CursorShape hand = loaded ? Qt::BitmapCursor : Qt::ArrowCursor;
    FakePrompts dialogPrompts;
    Form2 filters(dialogPrompts, form.get(), folder.path());
    QCOMPARE(filters.hasHandCursor(), loaded);
    QCOMPARE(overButton(&filters), hand);
    QCOMPARE(filters.pointer(), int(Surface::Hand));
    Form3 key(dialogPrompts, form.get(), folder.path());
    QCOMPARE(key.hasHandCursor(), loaded);
    QCOMPARE(overButton(&key), hand);
    QCOMPARE(key.pointer(), int(Surface::Hand));
    QCOMPARE(dialogPrompts.messages().size(), broken ? 2 : 0);
    if (broken)
        QVERIFY(dialogPrompts.messages().at(1).contains(QStringLiteral("Form3.Form_Load at line 106\r\r")));
}

void TestForm1::closingEndsTheProgram() {
    FakePrompts prompts;
    auto form = startSeenForm1(prompts);
    form->show();
    QVERIFY(!Lifetime::ending());
    form->close();
    QVERIFY(Lifetime::ending());
    QVERIFY(!form->isVisible());
}

void TestForm1::progressTextAsTyped_data() {
    QTest::addColumn<QString>("text");
    QTest::newRow("percent at the end") << "100%";
    QTest::newRow("the bar's own percent code") << "a%pb";
    QTest::newRow("value and maximum codes") << "%v of %m";
    QTest::newRow("doubled percent") << "50%%";
    QTest::newRow("a run's text") << "Processing: 100%, finding images..., Please wait.. 3";
}

void TestForm1::progressTextAsTyped() {
    QFETCH(QString, text);
    ProgressLabelRecorder style; // outlives the window that uses it
    FakePrompts prompts;
    auto form = startSeenForm1(prompts);
    auto* bar = child<QProgressBar>(form.get(), "ProgressBar1");
    bar->setStyle(&style);
    form->setProgressText(text);
    form->setProgressValue(37);
    bar->grab();
    QVERIFY(!style.drawn.isEmpty());
    QCOMPARE(style.drawn.last(), text);
    QCOMPARE(form->progressText(), text);
}

void TestForm1::realMessageBox_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("shown");
    QTest::newRow("carriage returns break lines") << "a\rb\r\nc\r\rd"
                                                  << "a\nb\nc\n\nd";
    QTest::newRow("markup in a file name stays as typed")
        << "Are you sure you wish to overwrite /tmp/<b>list</b>.txt ?"
        << "Are you sure you wish to overwrite /tmp/<b>list</b>.txt ?";
}

void TestForm1::realMessageBox() {
    // The real box, not the scripted one: the text appears exactly as the program gives it.
    QFETCH(QString, text);
    QFETCH(QString, shown);
    QString title;
    QString label;
    Qt::TextFormat format = Qt::AutoText;
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        poll.stop();
        title = box->windowTitle();
        if (auto* l = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"))) {
            label = l->text();
            format = l->textFormat();
        }
        box->done(QMessageBox::Ok);
    });
    poll.start();
    QtPrompts prompts;
    prompts.tell(text);
    QCOMPARE(title, QStringLiteral("Glimmerfetch"));
    QCOMPARE(label, shown);
    QCOMPARE(format, Qt::PlainText);
}

QTEST_MAIN(TestForm1)
#include "tst_form1.moc"
