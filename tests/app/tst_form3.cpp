#include "app/form1.h"
#include "app/form3.h"
#include "app/window_look.h"
#include "base/globals.h"
#include "base/settings_store.h"
#include "base/surface.h"
#include "fake_prompts.h"
#include "image_service.h"
#include "test_settings.h"
#include "test_windows.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMap>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalBlocker>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <memory>

using Sources::Source;
Q_DECLARE_METATYPE(Sources::Source)
Q_DECLARE_METATYPE(SettingKey)

namespace {

QString s(const char* text) {
    return QString::fromLatin1(text);
}

// The original service's key page and instructions, as the table of sources holds them.
QString originalKeyPage() {
    return Sources::dialogTexts(Source::ContextualWeb).keyPage;
}
QString originalInstructions() {
    return Sources::dialogTexts(Source::ContextualWeb).instructions;
}

// The key dialog that is loaded now.
Form3* keyDialog() {
    Form3* found = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* f = qobject_cast<Form3*>(w); f && !f->unloaded())
            found = f;
    return found;
}

int loadedKeyDialogs() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    int count = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        count += qobject_cast<Form3*>(w) ? 1 : 0;
    return count;
}

// Opens the key dialog from the main window, as the person does.
Form3* open(Form1& main) {
    QTest::mouseClick(child<QPushButton>(&main, "PushButton11"), Qt::LeftButton);
    return keyDialog();
}

// A key of its own in each source's setting.
void seedKeys() {
    TestSettings::seed(SettingKey::ApiKey, s("sid-key"));
    TestSettings::seed(SettingKey::PexelsKey, s("pexels-key"));
    TestSettings::seed(SettingKey::PixabayKey, s("pixabay-key"));
}

// Chooses a source in the list with the keyboard, as the person does.
void choose(Form3* form, Source source) {
    auto* list = child<QComboBox>(form, "ComboSource");
    list->setFocus();
    const int target =
        int(std::find(Sources::Choices.begin(), Sources::Choices.end(), source) - Sources::Choices.begin());
    while (list->currentIndex() < target)
        QTest::keyClick(list, Qt::Key_Down);
    while (list->currentIndex() > target)
        QTest::keyClick(list, Qt::Key_Up);
}

} // namespace

class TestForm3 : public QObject {
    Q_OBJECT
private slots:
    void init() {
        TestSettings::clear();
        Globals::RunBusy = false;
    }
    void freshProfile();
    void keyStoredAsPasted();
    void tabSelectsTheKey();
    void instructions();
    void keyPage();
    void closeKeepsFieldCloseBoxRereads_data();
    void closeKeepsFieldCloseBoxRereads();
    void keyTest_data();
    void keyTest();
    void closeBoxDuringTest();
    void hoverRule();
    void storedSourceShown_data();
    void storedSourceShown();
    void switchingSource_data();
    void switchingSource();
    void licenceList_data();
    void licenceList();
    void creditsBox_data();
    void creditsBox();
    void otherSourceKeyTest_data();
    void otherSourceKeyTest();
};

void TestForm3::freshProfile() {
    FakePrompts prompts;
    auto main = startSeenForm1(prompts);
    main->show();
    QVERIFY(!keyDialog()); // created when first opened
    Form3* form = open(*main);
    QVERIFY(form && form->isVisible());
    QVERIFY(!main->isVisible());
    QCOMPARE(form->windowTitle(), s("Glimmerfetch"));
    QCOMPARE(child<QLineEdit>(form, "Text1")->text(), QString());
    QVERIFY(SettingsStore::contains(SettingKey::ApiKey));
    QCOMPARE(SettingsStore::read(SettingKey::ApiKey, s("absent")), QString());
    QVERIFY(prompts.messages().isEmpty());
}

void TestForm3::keyStoredAsPasted() {
    TestSettings::seed(SettingKey::ApiKey, s("old-key"));
    FakePrompts prompts;
    auto main = startSeenForm1(prompts);
    main->show();
    Form3* form = open(*main);
    auto* field = child<QLineEdit>(form, "Text1");
    QApplication::clipboard()->setText(s("pasted-key "));
    field->setFocus();
    field->selectAll();
    field->paste();
    QCOMPARE(SettingsStore::read(SettingKey::ApiKey), s("pasted-key "));
    QTest::keyClick(field, Qt::Key_Backspace);
    QTest::keyClick(field, Qt::Key_Backspace);
    QCOMPARE(SettingsStore::read(SettingKey::ApiKey), s("pasted-ke"));
}

void TestForm3::tabSelectsTheKey() {
    TestSettings::seed(SettingKey::ApiKey, s("stored-key"));
    FakePrompts prompts;
    auto main = startSeenForm1(prompts);
    main->show();
    Form3* form = open(*main);
    form->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(form));
    auto* field = child<QLineEdit>(form, "Text1");
    // Opening puts the focus in the key field with the key selected.
    QCOMPARE(QApplication::focusWidget(), field);
    QCOMPARE(field->selectedText(), s("stored-key"));
    // Back into the field with the Tab key, and by any other way.
    QTest::keyClick(field, Qt::Key_Tab);
    QVERIFY(QApplication::focusWidget() != field);
    for (int i = 0; i < 20 && QApplication::focusWidget() != field; ++i)
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), field);
    QCOMPARE(field->selectedText(), s("stored-key"));
    child<QPushButton>(form, "PushButton3")->setFocus(Qt::OtherFocusReason);
    field->deselect();
    field->setFocus(Qt::OtherFocusReason);
    QCOMPARE(field->selectedText(), s("stored-key"));
}

void TestForm3::instructions() {
    FakePrompts prompts;
    auto main = startSeenForm1(prompts);
    main->show();
    Form3* form = open(*main);
    QTest::mouseClick(child<QPushButton>(form, "PushButton2"), Qt::LeftButton);
    QTest::mouseClick(child<QPushButton>(form, "PushButton4"), Qt::LeftButton);
    QCOMPARE(prompts.messages().size(), 2);
    const QString text = prompts.messages().at(0);
    const QStringList lines = text.split(QRegularExpression(s("\r\n|\r")));
    QCOMPARE(lines.size(), 8);
    QCOMPARE(lines.at(0), s("Go to ") + originalKeyPage());
    QCOMPARE(lines.at(6), Sources::sampleKey());
    QCOMPARE(lines.at(7), s("Paste this key into this software."));
    // Carriage returns alone between the lines, one CR LF after the third.
    QCOMPARE(text.count(QLatin1Char('\n')), 1);
    QVERIFY(text.contains(lines.at(2) + s("\r\n") + lines.at(3)));
    QVERIFY(QRegularExpression(s("^[a-z0-9]{50}$")).match(Sources::sampleKey()).hasMatch());
    QCOMPARE(prompts.messages().at(1),
             s("Your key should look similar to, but not exactly, like this:\r\r") + Sources::sampleKey());
    for (const auto& call : prompts.calls) {
        QCOMPARE(call.title, s("Glimmerfetch"));
        QCOMPARE(call.icon, Prompts::Icon::None);
    }
}

void TestForm3::keyPage() {
    FakePrompts prompts;
    auto main = startSeenForm1(prompts);
    main->show();
    Form3* form = open(*main);
    auto* button = child<QPushButton>(form, "PushButton1");
    QCOMPARE(button->text(), s("Open ") + originalKeyPage());
    QVERIFY(originalKeyPage().startsWith(s("https://rapidapi.com/")));
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(prompts.callsOf(s("url")).size(), 1);
    QCOMPARE(prompts.callsOf(s("url")).at(0).text, originalKeyPage());
    QVERIFY(prompts.messages().isEmpty());
}

void TestForm3::closeKeepsFieldCloseBoxRereads_data() {
    QTest::addColumn<bool>("closeBox");
    QTest::addColumn<QString>("shownAgain");
    QTest::newRow("Close keeps the field") << false << "typed";
    QTest::newRow("close box re-reads the store") << true << "changed elsewhere";
}

void TestForm3::closeKeepsFieldCloseBoxRereads() {
    QFETCH(bool, closeBox);
    QFETCH(QString, shownAgain);
    FakePrompts prompts;
    auto main = startSeenForm1(prompts);
    main->show();
    Form3* form = open(*main);
    QTest::keyClicks(child<QLineEdit>(form, "Text1"), s("typed"));
    if (closeBox)
        form->close();
    else
        QTest::mouseClick(child<QPushButton>(form, "PushButton6"), Qt::LeftButton);
    QVERIFY(main->isVisible());
    QVERIFY(!form->isVisible() || closeBox);
    QCOMPARE(loadedKeyDialogs(), closeBox ? 0 : 1);

    TestSettings::seed(SettingKey::ApiKey, s("changed elsewhere"));
    Form3* again = open(*main);
    QVERIFY(again && again->isVisible());
    QVERIFY(!main->isVisible());
    QCOMPARE(child<QLineEdit>(again, "Text1")->text(), shownAgain);
    QCOMPARE(loadedKeyDialogs(), 1);
}

void TestForm3::keyTest_data() {
    QTest::addColumn<QString>("field"); // the key field; the store holds the service's valid key
    QTest::addColumn<bool>("runBusy");  // a download run is under way
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<int>("requests");
    QTest::newRow("valid key") << ImageService::validKey() << false
                               << QStringList{"Congratulations! Your API Key is valid and working."} << 1;
    QTest::newRow("empty field") << "" << false << QStringList{"You must enter your API Key first."} << 0;
    QTest::newRow("during a run") << ImageService::validKey() << true << QStringList{} << 0;
}

void TestForm3::keyTest() {
    QFETCH(QString, field);
    QFETCH(bool, runBusy);
    QFETCH(QStringList, messages);
    QFETCH(int, requests);
    ImageService service;
    QVERIFY2(service.isRunning(), qPrintable(service.errorText()));
    service.applyToEnvironment();
    TestSettings::seed(SettingKey::ApiKey, ImageService::validKey());
    FakePrompts prompts;
    auto main = startSeenForm1(prompts);
    main->show();
    Form3* form = open(*main);
    {
        // The field differs from the store only here: an empty field is refused whatever is stored.
        const QSignalBlocker quiet(child<QLineEdit>(form, "Text1"));
        child<QLineEdit>(form, "Text1")->setText(field);
    }
    QList<int> pointerDuringBoxes;
    prompts.onMessage = [&](const FakePrompts::Call&) { pointerDuringBoxes << form->pointer(); };
    form->setPointer(Surface::Hourglass);
    Globals::RunBusy = runBusy;

    QTest::mouseClick(child<QPushButton>(form, "PushButton3"), Qt::LeftButton);
    QCOMPARE(prompts.messages(), messages);
    for (const auto& call : prompts.calls)
        QCOMPARE(call.title, s("Glimmerfetch"));
    // The hourglass while the empty field is reported; the default pointer before the verdict.
    if (!messages.isEmpty())
        QCOMPARE(pointerDuringBoxes.at(0), int(requests ? Surface::Default : Surface::Hourglass));
    QCOMPARE(form->pointer(), int(Surface::Default));
    QCOMPARE(Globals::RunBusy, runBusy);
    const auto sent = service.searchRequests();
    QCOMPARE(sent.size(), requests);
    QCOMPARE(service.requests().size(), requests);
    if (requests) {
        QCOMPARE(sent.at(0).queryValue(s("pageNumber")), s("1"));
        QCOMPARE(sent.at(0).queryValue(s("pageSize")), s("4"));
        QCOMPARE(sent.at(0).queryValue(s("q")), s("city"));
        QCOMPARE(sent.at(0).header(s("x-rapidapi-key")), ImageService::validKey());
    }
}

void TestForm3::closeBoxDuringTest() {
    // The close box works while the test waits for the service; the test still shows its verdict
    // and the window goes only afterwards.
    ImageService service;
    QVERIFY2(service.isRunning(), qPrintable(service.errorText()));
    service.applyToEnvironment();
    TestSettings::seed(SettingKey::ApiKey, s("wrong-key"));
    FakePrompts prompts;
    auto main = startSeenForm1(prompts);
    main->show();
    QPointer<Form3> form = open(*main);
    bool closedDuringTest = false;
    QTimer::singleShot(0, form, [&] {
        closedDuringTest = Globals::RunBusy;
        form->close();
    });
    QTest::mouseClick(child<QPushButton>(form, "PushButton3"), Qt::LeftButton);
    QVERIFY(closedDuringTest);
    QCOMPARE(prompts.messages().size(), 1);
    QVERIFY(prompts.messages().at(0).startsWith(s("Incorrect. Please check your API key.")));
    QVERIFY(main->isVisible());
    QCOMPARE(loadedKeyDialogs(), 0);
    QVERIFY(form.isNull());
    // The next opening loads a new dialog.
    Form3* again = open(*main);
    QVERIFY(again && again->isVisible());
    QCOMPARE(child<QLineEdit>(again, "Text1")->text(), s("wrong-key"));
}

void TestForm3::hoverRule() {
    FakePrompts prompts;
    auto main = startSeenForm1(prompts);
    main->show();
    Form3* form = open(*main);
    auto enter = [&](const char* name) {
        QWidget* w = QLatin1String(name) == QLatin1String("Form3") ? form : child<QWidget>(form, name);
        QEvent e(QEvent::Enter);
        QApplication::sendEvent(w, &e);
        return form->pointer();
    };
    QCOMPARE(enter("PushButton3"), int(Surface::Hand));
    QCOMPARE(enter("Frame2"), int(Surface::Default));
    QCOMPARE(enter("PushButton1"), int(Surface::Hand));
    QCOMPARE(enter("Form3"), int(Surface::Default));
    QCOMPARE(enter("PushButton4"), int(Surface::Hand));
    QCOMPARE(enter("ComboSource"), int(Surface::Default));
    QCOMPARE(enter("PushButton2"), int(Surface::Hand));
    QCOMPARE(enter("CheckCredits"), int(Surface::Default));
    // While the key test works the hourglass stays, wherever the mouse goes.
    form->setPointer(Surface::Hourglass);
    for (const char* name : {"PushButton6", "Frame1", "Form3"})
        QCOMPARE(enter(name), int(Surface::Hourglass));
    QCOMPARE(form->cursor().shape(), Qt::WaitCursor);
}

void TestForm3::storedSourceShown_data() {
    QTest::addColumn<QString>("stored"); // "-" for no entry
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("field"); // "-" for a disabled field
    QTest::addColumn<QString>("noKey"); // the line in place of the key row; "" for a source with a key
    QTest::newRow("no entry") << "-" << 0 << "sid-key"
                              << "";
    QTest::newRow("contextualweb") << "contextualweb" << 0 << "sid-key"
                                   << "";
    QTest::newRow("openverse") << "openverse" << 1 << "-"
                               << "Openverse needs no key.";
    QTest::newRow("commons") << "commons" << 2 << "-"
                             << "Wikimedia Commons needs no key.";
    QTest::newRow("pexels") << "pexels" << 3 << "pexels-key"
                            << "";
    QTest::newRow("pixabay") << "pixabay" << 4 << "pixabay-key"
                             << "";
    QTest::newRow("unknown name") << "flickr" << 0 << "sid-key"
                                  << "";
    QTest::newRow("other case") << "Pexels" << 0 << "sid-key"
                                << "";
    QTest::newRow("empty") << "" << 0 << "sid-key"
                           << "";
}

void TestForm3::storedSourceShown() {
    QFETCH(QString, stored);
    QFETCH(int, index);
    QFETCH(QString, field);
    QFETCH(QString, noKey);
    seedKeys();
    if (stored != s("-"))
        TestSettings::seed(SettingKey::Source, stored);
    FakePrompts prompts;
    auto main = startSeenForm1(prompts);
    main->show();
    Form3* form = open(*main);
    auto* list = child<QComboBox>(form, "ComboSource");
    QCOMPARE(list->count(), 6);
    QCOMPARE(list->itemText(0), s("Contextual Web Search (RapidAPI key)"));
    QCOMPARE(list->itemText(4), s("Pixabay (free key)"));
    QCOMPARE(list->currentIndex(), index);
    auto* key = child<QLineEdit>(form, "Text1");
    QCOMPARE(key->isEnabled(), field != s("-"));
    QCOMPARE(key->text(), field == s("-") ? QString() : field);
    // Without a key: one line says so where the key row was, and the instructions and the key test
    // are out of reach.
    const bool keyed = noKey.isEmpty();
    auto* noKeyLine = child<QLabel>(form, "LabelNoKey");
    QCOMPARE(noKeyLine->isVisible(), !keyed);
    QCOMPARE(noKeyLine->text(), noKey);
    QCOMPARE(key->isVisible(), keyed);
    QCOMPARE(child<QGroupBox>(form, "Frame1")->isEnabled(), keyed);
    QCOMPARE(child<QPushButton>(form, "PushButton3")->isEnabled(), keyed);
    // Opening stores no source: a name this version does not know stays for the one that does.
    QCOMPARE(SettingsStore::read(SettingKey::Source, s("-")), stored);
    QCOMPARE(SettingsStore::read(SettingKey::ApiKey), s("sid-key"));
    if (index == 0) {
        // The original service's dialog as it always was.
        QCOMPARE(child<QGroupBox>(form, "Frame2")->title(), s("Enter Your RapidAPI Key"));
        QCOMPARE(child<QGroupBox>(form, "Frame3")->title(), s("Get Your RapidAPI Key"));
        QCOMPARE(child<QPushButton>(form, "PushButton1")->text(), s("Open ") + originalKeyPage());
    }
    QVERIFY(prompts.messages().isEmpty());
}

void TestForm3::switchingSource_data() {
    QTest::addColumn<Source>("source");
    QTest::addColumn<QString>("storedName");
    QTest::addColumn<SettingKey>("keySetting"); // ApiKey for the sources without a key: untouched
    QTest::addColumn<QString>("page");
    QTest::newRow("Openverse") << Source::Openverse << "openverse" << SettingKey::ApiKey
                               << "https://openverse.org/";
    QTest::newRow("Commons") << Source::Commons << "commons" << SettingKey::ApiKey
                             << "https://commons.wikimedia.org/";
    QTest::newRow("Pexels") << Source::Pexels << "pexels" << SettingKey::PexelsKey
                            << "https://www.pexels.com/api/";
    QTest::newRow("Pixabay") << Source::Pixabay << "pixabay" << SettingKey::PixabayKey
                             << "https://pixabay.com/api/docs/";
    QTest::newRow("All free sources")
        << Source::Free << "free" << SettingKey::ApiKey << "https://openverse.org/";
}

void TestForm3::switchingSource() {
    QFETCH(Source, source);
    QFETCH(QString, storedName);
    QFETCH(SettingKey, keySetting);
    QFETCH(QString, page);
    seedKeys();
    const QMap<SettingKey, QString> seeded{{SettingKey::ApiKey, s("sid-key")},
                                           {SettingKey::PexelsKey, s("pexels-key")},
                                           {SettingKey::PixabayKey, s("pixabay-key")}};
    const bool keyed = keySetting != SettingKey::ApiKey;
    FakePrompts prompts;
    auto main = startSeenForm1(prompts);
    main->show();
    Form3* form = open(*main);
    auto* key = child<QLineEdit>(form, "Text1");
    // Over every other source on the way, then to this one.
    choose(form, Source::Pixabay);
    choose(form, source);
    QCOMPARE(SettingsStore::read(SettingKey::Source), storedName);
    QCOMPARE(key->isEnabled(), keyed);
    QCOMPARE(child<QPushButton>(form, "PushButton4")->isEnabled(), keyed);
    QCOMPARE(child<QLabel>(form, "LabelNoKey")->isVisible(), !keyed);
    QCOMPARE(child<QPushButton>(form, "PushButton3")->isEnabled(), keyed);
    QCOMPARE(key->text(), keyed ? seeded.value(keySetting) : QString());
    if (keyed)
        QTest::keyClicks(key, s("+typed"));

    // The instructions (none without a key) and the key page are the source's own.
    QTest::mouseClick(child<QPushButton>(form, "PushButton2"), Qt::LeftButton);
    QTest::mouseClick(child<QPushButton>(form, "PushButton1"), Qt::LeftButton);
    QCOMPARE(prompts.messages().size(), keyed ? 1 : 0);
    if (keyed)
        QVERIFY(prompts.messages().at(0) != originalInstructions() &&
                prompts.messages().at(0).contains(page));
    QCOMPARE(child<QPushButton>(form, "PushButton1")->text(), s("Open ") + page);
    QCOMPARE(prompts.callsOf(s("url")).size(), 1);
    QCOMPARE(prompts.callsOf(s("url")).at(0).text, page);

    // Each key stays in its own setting; back at the original service the field shows its key.
    choose(form, Source::ContextualWeb);
    QCOMPARE(SettingsStore::read(SettingKey::Source), s("contextualweb"));
    QCOMPARE(key->text(), s("sid-key"));
    QVERIFY(key->isEnabled() && key->isVisible());
    QVERIFY(!child<QLabel>(form, "LabelNoKey")->isVisible());
    QVERIFY(child<QPushButton>(form, "PushButton3")->isEnabled());
    for (auto it = seeded.begin(); it != seeded.end(); ++it)
        QCOMPARE(SettingsStore::read(it.key()),
                 it.key() == keySetting && keyed ? it.value() + s("+typed") : it.value());
    QTest::mouseClick(child<QPushButton>(form, "PushButton2"), Qt::LeftButton);
    QCOMPARE(prompts.messages().last(), originalInstructions());
    choose(form, source);
    QCOMPARE(key->text(), keyed ? seeded.value(keySetting) + s("+typed") : QString());
}

void TestForm3::creditsBox_data() {
    QTest::addColumn<QString>("box");
    QTest::addColumn<SettingKey>("key");
    QTest::addColumn<QString>("stored"); // "-" for no entry
    QTest::addColumn<bool>("shown");
    const QString list = "CheckCredits";
    QTest::newRow("no entry") << list << SettingKey::Credits << "-" << true;
    QTest::newRow("True") << list << SettingKey::Credits << "True" << true;
    QTest::newRow("False") << list << SettingKey::Credits << "False" << false;
    QTest::newRow("false") << list << SettingKey::Credits << "false" << false;
    QTest::newRow("not a truth value") << list << SettingKey::Credits << "maybe" << true;
    // Credits inside the pictures are off unless asked for.
    const QString inside = "CheckEmbed";
    QTest::newRow("inside: no entry") << inside << SettingKey::EmbedCredits << "-" << false;
    QTest::newRow("inside: True") << inside << SettingKey::EmbedCredits << "True" << true;
    QTest::newRow("inside: not a truth value") << inside << SettingKey::EmbedCredits << "maybe" << false;
}

void TestForm3::creditsBox() {
    QFETCH(QString, box);
    QFETCH(SettingKey, key);
    QFETCH(QString, stored);
    QFETCH(bool, shown);
    if (stored != s("-"))
        TestSettings::seed(key, stored);
    FakePrompts prompts;
    auto main = startSeenForm1(prompts);
    main->show();
    Form3* form = open(*main);
    auto* check = child<QCheckBox>(form, qPrintable(box));
    QCOMPARE(check->text(), key == SettingKey::Credits ? s("Keep a credits list (credits.csv) in the folder")
                                                       : s("Write the credits into each picture"));
    QCOMPARE(check->isChecked(), shown);
    const QPoint onBox(Look::px(120), check->height() / 2); // the box, not the space after the text
    QCOMPARE(SettingsStore::read(key, s("-")), stored);     // opening stores nothing
    QTest::mouseClick(check, Qt::LeftButton, {}, onBox);
    QCOMPARE(SettingsStore::read(key), shown ? s("False") : s("True"));
    QTest::mouseClick(check, Qt::LeftButton, {}, onBox);
    QCOMPARE(SettingsStore::read(key), shown ? s("True") : s("False"));
    QTest::mouseClick(check, Qt::LeftButton, {}, onBox);
    // The next dialog shows what was stored.
    form->close();
    Form3* again = open(*main);
    QCOMPARE(child<QCheckBox>(again, qPrintable(box))->isChecked(), !shown);
    QVERIFY(prompts.messages().isEmpty());
}

void TestForm3::licenceList_data() {
    QTest::addColumn<QString>("stored"); // "-" for no entry
    QTest::addColumn<int>("index");
    QTest::newRow("no entry") << "-" << 0;
    QTest::newRow("commercial") << "commercial" << 1;
    QTest::newRow("modify") << "modify" << 2;
    QTest::newRow("nocredit") << "nocredit" << 3;
    QTest::newRow("other case") << "NoCredit" << 0;
    QTest::newRow("unknown name") << "cc-by" << 0;
}

void TestForm3::licenceList() {
    QFETCH(QString, stored);
    QFETCH(int, index);
    if (stored != s("-"))
        TestSettings::seed(SettingKey::Licence, stored);
    FakePrompts prompts;
    auto main = startSeenForm1(prompts);
    main->show();
    Form3* form = open(*main);
    QCOMPARE(child<QLabel>(form, "LabelLicence")->text(), s("Pictures I may use:"));
    auto* list = child<QComboBox>(form, "ComboLicence");
    QStringList captions;
    for (int i = 0; i < list->count(); ++i)
        captions << list->itemText(i);
    QCOMPARE(captions, (QStringList{"Any licence", "Commercial use", "Commercial use and changes",
                                    "No credit needed"}));
    QCOMPARE(list->currentIndex(), index);
    QCOMPARE(SettingsStore::read(SettingKey::Licence, s("-")), stored); // opening stores nothing
    list->setFocus();
    QTest::keyClick(list, index == 3 ? Qt::Key_Up : Qt::Key_Down);
    const int next = index == 3 ? 2 : index + 1;
    QCOMPARE(SettingsStore::read(SettingKey::Licence),
             QStringList({"any", "commercial", "modify", "nocredit"}).at(next));
    // The next dialog shows what was stored.
    form->close();
    QCOMPARE(child<QComboBox>(open(*main), "ComboLicence")->currentText(), captions.at(next));
    QVERIFY(prompts.messages().isEmpty());
}

void TestForm3::otherSourceKeyTest_data() {
    QTest::addColumn<Source>("source");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("message"); // "": nothing to test, the button does nothing
    QTest::newRow("Openverse: nothing to test") << Source::Openverse << ""
                                                << "";
    QTest::newRow("Pexels, the field's key") << Source::Pexels << "/v1/search"
                                             << "Congratulations! Your API Key is valid and working.";
    QTest::newRow("all free sources: nothing to test") << Source::Free << ""
                                                       << "";
}

void TestForm3::otherSourceKeyTest() {
    QFETCH(Source, source);
    QFETCH(QString, path);
    QFETCH(QString, message);
    ImageService service;
    QVERIFY2(service.isRunning(), qPrintable(service.errorText()));
    service.applyToEnvironment();
    seedKeys();
    TestSettings::seed(SettingKey::Source, Sources::storedName(source));
    FakePrompts prompts;
    auto main = startSeenForm1(prompts);
    main->show();
    Form3* form = open(*main);
    if (Sources::needsKey(source)) {
        // The test sends what the field holds.
        auto* key = child<QLineEdit>(form, "Text1");
        key->selectAll();
        QTest::keyClicks(key, ImageService::validKey());
    }
    QTest::mouseClick(child<QPushButton>(form, "PushButton3"), Qt::LeftButton);
    QCOMPARE(prompts.messages(), message.isEmpty() ? QStringList() : QStringList{message});
    QCOMPARE(form->pointer(), int(Surface::Default));
    QVERIFY(!Globals::RunBusy);
    const auto sent = service.requests();
    if (message.isEmpty()) {
        QVERIFY(sent.isEmpty());
        return;
    }
    QCOMPARE(sent.size(), 1);
    QCOMPARE(sent.at(0).path, path);
    QVERIFY(sent.at(0).query.contains(s("city")));
    QCOMPARE(sent.at(0).header(s("authorization")),
             Sources::needsKey(source) ? ImageService::validKey() : QString());
    QCOMPARE(SettingsStore::read(SettingKey::ApiKey), s("sid-key"));
}

QTEST_MAIN(TestForm3)
#include "tst_form3.moc"
