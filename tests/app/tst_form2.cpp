#include "app/form1.h"
#include "app/form2.h"
#include "base/settings_store.h"
#include "fake_prompts.h"
#include "test_settings.h"
#include "test_windows.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include <memory>

namespace {

QString s(const char* text) {
    return QString::fromLatin1(text);
}

// The filter dialog that is loaded now (the one start-up made, or the one opened last).
Form2* filterDialog() {
    Form2* found = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* f = qobject_cast<Form2*>(w); f && !f->unloaded())
            found = f;
    return found;
}

int loadedFilterDialogs() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    int count = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        count += qobject_cast<Form2*>(w) ? 1 : 0;
    return count;
}

QString checkedOptions(QWidget* form) {
    QStringList on;
    for (int i = 1; i <= 6; ++i)
        if (child<QRadioButton>(form, qPrintable(QStringLiteral("Option%1").arg(i)))->isChecked())
            on << QString::number(i);
    return on.join(QLatin1Char(','));
}

void showActive(QWidget* w) {
    w->show();
    w->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(w));
}

} // namespace

class TestForm2 : public QObject {
    Q_OBJECT
private slots:
    void init() { TestSettings::clear(); }
    void freshProfile();
    void storing_data();
    void storing();
    void thresholdCheck_data();
    void thresholdCheck();
    void storedPositionOutsideList_data();
    void storedPositionOutsideList();
    void storedNoChoice_data();
    void storedNoChoice();
    void storedOptionText_data();
    void storedOptionText();
    void storedRunChoice_data();
    void storedRunChoice();
    void openingAndClosing_data();
    void openingAndClosing();
    void closeBoxWithLettersInField();
};

void TestForm2::freshProfile() {
    FakePrompts prompts;
    auto main = startSeenForm1(prompts);
    QVERIFY(prompts.messages().isEmpty());
    Form2* form = filterDialog();
    QVERIFY(form);
    QVERIFY(!form->isVisible());
    QCOMPARE(form->windowTitle(), s("Glimmerfetch"));

    QCOMPARE(checkedOptions(form), s("1,3,5"));
    QCOMPARE(child<QComboBox>(form, "Combo3")->currentText(), s("Greater than"));
    QCOMPARE(child<QComboBox>(form, "Combo4")->currentText(), s("Greater than"));
    QCOMPARE(child<QComboBox>(form, "Combo1")->currentText(), s("Only download files greater than"));
    QCOMPARE(child<QComboBox>(form, "Combo2")->currentText(), s("Bytes"));
    QCOMPARE(child<QLineEdit>(form, "Text4")->text(), s("1"));
    QCOMPARE(child<QLineEdit>(form, "Text5")->text(), s("500"));
    QCOMPARE(child<QLineEdit>(form, "Text6")->text(), s("500"));

    // What the first start leaves in the store for the download run.
    using K = SettingKey;
    const QList<QPair<SettingKey, const char*>> stored = {
        {K::HeightFilter, "3"},  {K::WidthFilter, "5"},      {K::FileSizeComparison, "0"},
        {K::FileSizeUnit, "2"},  {K::HeightComparison, "0"}, {K::WidthComparison, "0"},
        {K::FileSizeLimit, "1"}, {K::WidthLimit, "500"},     {K::HeightLimit, "500"}};
    for (const auto& [key, value] : stored)
        QCOMPARE(SettingsStore::read(key, s("absent")), s(value));

    // The file-size group lies under the visible part of the window.
    QVERIFY(child<QWidget>(form, "Frame4")->geometry().top() >= form->height());

    // The download group lies below the filters and above "Close", in the window: one download at
    // a time with the designed pauses, shown but not stored.
    auto* run = child<QWidget>(form, "FrameRun");
    QVERIFY(run->geometry().top() > child<QWidget>(form, "Frame2")->geometry().bottom());
    QVERIFY(child<QWidget>(form, "PushButton1")->geometry().top() > run->geometry().bottom());
    QVERIFY(child<QWidget>(form, "PushButton1")->geometry().bottom() < form->height());
    QCOMPARE(child<QComboBox>(form, "ComboParallel")->currentText(), s("1"));
    QCOMPARE(child<QComboBox>(form, "ComboPace")->currentText(), s("As designed"));
    auto* showPictures = child<QCheckBox>(form, "CheckShowPictures");
    QCOMPARE(showPictures->parentWidget(), run);
    QVERIFY(showPictures->isChecked());
    QVERIFY(showPictures->geometry().bottom() < run->height());
    QVERIFY(!SettingsStore::contains(K::Parallel));
    QVERIFY(!SettingsStore::contains(K::Pace));
    QVERIFY(!SettingsStore::contains(K::ShowPictures));
}

void TestForm2::storing_data() {
    QTest::addColumn<QString>("control");
    QTest::addColumn<int>("choice"); // option: ignored; list: the position chosen
    QTest::addColumn<SettingKey>("key");
    QTest::addColumn<QString>("stored");
    QTest::newRow("by width") << "Option6" << 0 << SettingKey::WidthFilter << "6";
    QTest::newRow("by height") << "Option4" << 0 << SettingKey::HeightFilter << "4";
    QTest::newRow("by file size") << "Option2" << 0 << SettingKey::FileSizeFilter << "2";
    QTest::newRow("height less than") << "Combo3" << 1 << SettingKey::HeightComparison << "1";
    QTest::newRow("width less than") << "Combo4" << 1 << SettingKey::WidthComparison << "1";
    QTest::newRow("unit MB") << "Combo2" << 0 << SettingKey::FileSizeUnit << "0";
    QTest::newRow("eight at once") << "ComboParallel" << 7 << SettingKey::Parallel << "8";
    QTest::newRow("two at once") << "ComboParallel" << 1 << SettingKey::Parallel << "2";
    QTest::newRow("short pauses") << "ComboPace" << 1 << SettingKey::Pace << "short";
    QTest::newRow("no pauses") << "ComboPace" << 2 << SettingKey::Pace << "none";
    QTest::newRow("pictures not shown as they arrive")
        << "CheckShowPictures" << 0 << SettingKey::ShowPictures << "False";
}

void TestForm2::storing() {
    QFETCH(QString, control);
    QFETCH(int, choice);
    QFETCH(SettingKey, key);
    QFETCH(QString, stored);
    FakePrompts prompts;
    auto main = startSeenForm1(prompts);
    Form2* form = filterDialog();
    showActive(form);
    if (auto* option = form->findChild<QRadioButton*>(control)) {
        QTest::mouseClick(option, Qt::LeftButton, {}, QPoint(8, option->height() / 2));
        QVERIFY(option->isChecked());
    } else if (auto* check = form->findChild<QCheckBox*>(control)) {
        QTest::mouseClick(check, Qt::LeftButton, {}, QPoint(8, check->height() / 2));
    } else {
        auto* list = form->findChild<QComboBox*>(control);
        QVERIFY(list);
        list->setFocus();
        // Picking from the closed list with the keyboard, as a person can.
        for (int i = list->currentIndex(); i < choice; ++i)
            QTest::keyClick(list, Qt::Key_Down);
        for (int i = list->currentIndex(); i > choice; --i)
            QTest::keyClick(list, Qt::Key_Up);
        QCOMPARE(list->currentIndex(), choice);
    }
    QCOMPARE(SettingsStore::read(key), stored);
}

void TestForm2::thresholdCheck_data() {
    QTest::addColumn<QString>("field");
    QTest::addColumn<SettingKey>("key");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("after"); // the field's text (and the stored one) after leaving it
    QTest::addColumn<bool>("refused");  // "Must be numeric." with the focus back in the field
    QTest::newRow("negative width") << "Text5" << SettingKey::WidthLimit << "-5"
                                    << "500" << false;
    QTest::newRow("zero height") << "Text6" << SettingKey::HeightLimit << "0"
                                 << "500" << false;
    QTest::newRow("negative file size") << "Text4" << SettingKey::FileSizeLimit << "-0.5"
                                        << "1" << false;
    QTest::newRow("fraction kept") << "Text5" << SettingKey::WidthLimit << "2.5"
                                   << "2.5" << false;
    QTest::newRow("blanks around a number") << "Text6" << SettingKey::HeightLimit << " 640 "
                                            << " 640 " << false;
    QTest::newRow("letters") << "Text5" << SettingKey::WidthLimit << "12px"
                             << "12px" << true;
    QTest::newRow("empty") << "Text6" << SettingKey::HeightLimit << ""
                           << "" << true;
}

void TestForm2::thresholdCheck() {
    QFETCH(QString, field);
    QFETCH(SettingKey, key);
    QFETCH(QString, typed);
    QFETCH(QString, after);
    QFETCH(bool, refused);
    FakePrompts prompts;
    auto main = startSeenForm1(prompts);
    Form2* form = filterDialog();
    showActive(form);
    auto* box = form->findChild<QLineEdit*>(field);
    box->setFocus();
    box->selectAll();
    QTest::keyClick(box, Qt::Key_Delete);
    QTest::keyClicks(box, typed);
    // Every keystroke is stored, checked or not.
    QCOMPARE(SettingsStore::read(key), typed);

    QTest::keyClick(box, Qt::Key_Tab);
    QCOMPARE(box->text(), after);
    QCOMPARE(SettingsStore::read(key), after);
    QCOMPARE(prompts.messages(), refused ? QStringList{s("Must be numeric.")} : QStringList{});
    if (refused) {
        QCOMPARE(prompts.calls.at(0).title, s("Glimmerfetch"));
        QCOMPARE(prompts.calls.at(0).icon, Prompts::Icon::None);
    }
    QCOMPARE(QApplication::focusWidget() == box, refused);
}

void TestForm2::storedRunChoice_data() {
    QTest::addColumn<SettingKey>("key");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("list");
    QTest::addColumn<QString>("shown"); // what the run makes of the stored text
    QTest::newRow("four at once") << SettingKey::Parallel << "4"
                                  << "ComboParallel"
                                  << "4";
    QTest::newRow("more than eight") << SettingKey::Parallel << "20"
                                     << "ComboParallel"
                                     << "8";
    QTest::newRow("none at once") << SettingKey::Parallel << "0"
                                  << "ComboParallel"
                                  << "1";
    QTest::newRow("not a number") << SettingKey::Parallel << "many"
                                  << "ComboParallel"
                                  << "1";
    QTest::newRow("short") << SettingKey::Pace << "short"
                           << "ComboPace"
                           << "Short";
    QTest::newRow("none") << SettingKey::Pace << "none"
                          << "ComboPace"
                          << "None";
    QTest::newRow("unknown pace") << SettingKey::Pace << "fast"
                                  << "ComboPace"
                                  << "As designed";
}

// The dialog shows the stored choice and leaves the stored text alone.
void TestForm2::storedRunChoice() {
    QFETCH(SettingKey, key);
    QFETCH(QString, stored);
    QFETCH(QString, list);
    QFETCH(QString, shown);
    SettingsStore::write(key, stored);
    FakePrompts prompts;
    auto main = startSeenForm1(prompts);
    QCOMPARE(child<QComboBox>(filterDialog(), qPrintable(list))->currentText(), shown);
    QCOMPARE(SettingsStore::read(key), stored);
    QVERIFY(prompts.messages().isEmpty());
}

void TestForm2::storedPositionOutsideList_data() {
    QTest::addColumn<QString>("list");
    QTest::addColumn<SettingKey>("key");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("description");
    QTest::addColumn<int>("dialogStatement"); // in the dialog's own load step
    QTest::addColumn<int>("startStatement");  // in the main window's start-up
    QTest::newRow("height comparison 7") << "Combo3" << SettingKey::HeightComparison << "7"
                                         << "Invalid property value" << 128 << 160;
    QTest::newRow("unit 5") << "Combo2" << SettingKey::FileSizeUnit << "5"
                            << "Invalid property value" << 146 << 178;
    QTest::newRow("width comparison not a number") << "Combo4" << SettingKey::WidthComparison << "first"
                                                   << "Type mismatch" << 136 << 168;
}

// "-1" is the list's own "nothing chosen": the list shows no item, nothing is reported and the
// stored text stays.
void TestForm2::storedNoChoice_data() {
    QTest::addColumn<QString>("list");
    QTest::addColumn<SettingKey>("key");
    QTest::newRow("file-size comparison") << "Combo1" << SettingKey::FileSizeComparison;
    QTest::newRow("height comparison") << "Combo3" << SettingKey::HeightComparison;
    QTest::newRow("unit") << "Combo2" << SettingKey::FileSizeUnit;
}

void TestForm2::storedNoChoice() {
    QFETCH(QString, list);
    QFETCH(SettingKey, key);
    TestSettings::seed(key, s("-1"));
    TestSettings::seed(SettingKey::HeightFilter, s("4"));
    FakePrompts prompts;
    auto main = startSeenForm1(prompts);
    QCOMPARE(prompts.messages(), QStringList());
    Form2* form = filterDialog();
    QCOMPARE(prompts.messages(), QStringList());
    QCOMPARE(child<QComboBox>(form, qPrintable(list))->currentIndex(), -1);
    QCOMPARE(SettingsStore::read(key), s("-1"));
    QCOMPARE(checkedOptions(form), s("1,4,5"));
}

void TestForm2::storedPositionOutsideList() {
    QFETCH(QString, list);
    QFETCH(SettingKey, key);
    QFETCH(QString, stored);
    QFETCH(QString, description);
    QFETCH(int, dialogStatement);
    QFETCH(int, startStatement);
    TestSettings::seed(key, stored);
    TestSettings::seed(SettingKey::HeightFilter, s("4"));
    FakePrompts prompts;
    auto main = startSeenForm1(prompts);

    const QStringList expected = {description + s("\r\nin Snapquarry2021/08/31.Form2.Form_Load at line ") +
                                      QString::number(dialogStatement),
                                  description + s("\r\nin Snapquarry2021/08/31.Form1.Form_Load at line ") +
                                      QString::number(startStatement)};
    QCOMPARE(prompts.messages().size(), 2);
    for (int i = 0; i < 2; ++i) {
        QVERIFY2(prompts.messages().at(i).startsWith(expected.at(i)), qPrintable(prompts.messages().at(i)));
        QCOMPARE(prompts.calls.at(i).title, s("Application Error"));
    }
    Form2* form = filterDialog();
    QCOMPARE(child<QComboBox>(form, qPrintable(list))->currentIndex(), -1);
    QCOMPARE(SettingsStore::read(key), stored);
    // The steps after the failing one still ran.
    QCOMPARE(checkedOptions(form), s("1,4,5"));
    QCOMPARE(child<QComboBox>(form, "Combo2")->count(), 3);
}

void TestForm2::storedOptionText_data() {
    QTest::addColumn<SettingKey>("key");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("checked");
    QTest::newRow("height 7 keeps the designed choice") << SettingKey::HeightFilter << "7"
                                                        << "1,4,5";
    QTest::newRow("width 6 with a blank selects nothing") << SettingKey::WidthFilter << "6 "
                                                          << "1,3";
    QTest::newRow("by width") << SettingKey::WidthFilter << "6"
                              << "1,3,6";
    QTest::newRow("by file size") << SettingKey::FileSizeFilter << "2"
                                  << "2,3,5";
}

void TestForm2::storedOptionText() {
    QFETCH(SettingKey, key);
    QFETCH(QString, stored);
    QFETCH(QString, checked);
    TestSettings::seed(key, stored);
    FakePrompts prompts;
    auto main = startSeenForm1(prompts);
    QVERIFY(prompts.messages().isEmpty());
    Form2* form = filterDialog();
    QCOMPARE(checkedOptions(form), checked);
    // Restoring leaves the stored text alone when it selects nothing.
    QCOMPARE(SettingsStore::read(key), stored);
    if (stored == QLatin1String("7")) {
        // Clicking the choice that shows stores it, so the run then does what the window shows.
        auto* shown = child<QRadioButton>(form, "Option4");
        showActive(form);
        QTest::mouseClick(shown, Qt::LeftButton, {}, QPoint(8, shown->height() / 2));
        QCOMPARE(SettingsStore::read(key), s("4"));
    }
}

void TestForm2::openingAndClosing_data() {
    QTest::addColumn<bool>("closeBox");
    QTest::newRow("Close") << false;
    QTest::newRow("close box") << true;
}

void TestForm2::openingAndClosing() {
    QFETCH(bool, closeBox);
    FakePrompts prompts;
    auto main = startSeenForm1(prompts);
    main->show();
    Form2* atStart = filterDialog();

    QTest::mouseClick(child<QPushButton>(main.get(), "PushButton8"), Qt::LeftButton);
    QCOMPARE(filterDialog(), atStart); // the first opening shows the dialog start-up loaded
    QVERIFY(atStart->isVisible());
    QVERIFY(!main->isVisible());

    if (closeBox)
        atStart->close();
    else
        QTest::mouseClick(child<QPushButton>(atStart, "PushButton1"), Qt::LeftButton);
    QVERIFY(main->isVisible());
    QCOMPARE(loadedFilterDialogs(), 0);

    // The next opening loads the dialog anew, from the store.
    TestSettings::seed(SettingKey::WidthLimit, s("640"));
    QTest::mouseClick(child<QPushButton>(main.get(), "PushButton8"), Qt::LeftButton);
    Form2* again = filterDialog();
    QVERIFY(again && again->isVisible());
    QVERIFY(!main->isVisible());
    QCOMPARE(child<QLineEdit>(again, "Text5")->text(), s("640"));
    QCOMPARE(loadedFilterDialogs(), 1);
    QVERIFY(prompts.messages().isEmpty());
}

void TestForm2::closeBoxWithLettersInField() {
    // Closing the dialog is no leaving of the field: no check, and the letters stay stored.
    FakePrompts prompts;
    auto main = startSeenForm1(prompts);
    main->show();
    QTest::mouseClick(child<QPushButton>(main.get(), "PushButton8"), Qt::LeftButton);
    Form2* form = filterDialog();
    showActive(form);
    auto* field = child<QLineEdit>(form, "Text5");
    field->setFocus();
    field->selectAll();
    QTest::keyClicks(field, s("abc"));
    form->close();
    QVERIFY(prompts.messages().isEmpty());
    QVERIFY(main->isVisible());
    QCOMPARE(loadedFilterDialogs(), 0);
    QCOMPARE(SettingsStore::read(SettingKey::WidthLimit), s("abc"));
}

QTEST_MAIN(TestForm2)
#include "tst_form2.moc"
