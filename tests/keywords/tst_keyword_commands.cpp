#include "app/form1.h"
#include "app/qt_prompts.h"
#include "base/error_report.h"
#include "base/globals.h"
#include "base/settings_store.h"
#include "fake_prompts.h"
#include "keywords/keyword_list.h"
#include "keywords/list_commands.h"
#include "test_files.h"
#include "test_settings.h"

#include <QAbstractItemView>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <memory>
#include <sys/resource.h>

namespace {

const QString TextFilter = QStringLiteral("Text Files (*.txt)|*.txt|All Files (*.*)|*.*|");

} // namespace

// The keyword list commands of the main window, driven through its buttons, keys and the dialog
// seam, as a person would.
class TestKeywordCommands : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void addOneKeyword_data();
    void addOneKeyword();
    void samplesTwice();
    void removeCommands_data();
    void removeCommands();
    void guardsWhileBusy_data();
    void guardsWhileBusy();
    void loadFiles();
    void loadCancelled();
    void saveList_data();
    void saveList();
    void saveFails_data();
    void saveFails();
    void folderPicker_data();
    void folderPicker();
    void folderPickerFirstUse();
    void allFilesMatchEveryName();

private:
    void click(const char* name) {
        auto* button = form->findChild<QPushButton*>(QString::fromLatin1(name));
        QVERIFY(button);
        QTest::mouseClick(button, Qt::LeftButton);
    }
    void fill(const QStringList& entries) {
        for (const QString& entry : entries)
            form->keywords().add(entry);
    }
    QString path(const QString& name) const { return dir.filePath(name); }

    QTemporaryDir dir;
    FakePrompts prompts;
    std::unique_ptr<Form1> form;
};

void TestKeywordCommands::init() {
    TestSettings::clear();
    TestSettings::seed(SettingKey::FirstTime, QStringLiteral("True"));
    TestSettings::seed(SettingKey::SaveFolder, QStringLiteral("/old/"));
    prompts.reset();
    form = std::make_unique<Form1>(prompts, Form1::Options{[] { return 1; }, QString()});
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    prompts.reset();
}

void TestKeywordCommands::cleanup() {
    form.reset();
}

void TestKeywordCommands::addOneKeyword_data() {
    QTest::addColumn<QStringList>("answers");
    QTest::addColumn<QStringList>("entries");
    QTest::newRow("duplicate") << QStringList{"dog", "dog"} << QStringList{"dog", "dog"};
    QTest::newRow("spaces only") << QStringList{"   "} << QStringList{"   "};
    QTest::newRow("empty or cancelled") << QStringList{""} << QStringList{};
}

void TestKeywordCommands::addOneKeyword() {
    QFETCH(QStringList, answers);
    QFETCH(QStringList, entries);
    for (const QString& answer : answers) {
        prompts.inputs.enqueue(answer);
        click("PushButton20");
    }
    QCOMPARE(keywordsOf(form->keywords()), entries);
    QCOMPARE(prompts.calls.size(), answers.size());
    QCOMPARE(prompts.calls[0].kind, QStringLiteral("input"));
    QCOMPARE(prompts.calls[0].text, QStringLiteral("Enter Item To Add To List: "));
    QCOMPARE(prompts.calls[0].title, Globals::applicationTitle());
}

void TestKeywordCommands::samplesTwice() {
    click("PushButton5");
    click("PushButton5");
    QCOMPARE(keywordsOf(form->keywords()), (QStringList{"apple", "dog", "city", "apple", "dog", "city"}));
    QVERIFY(prompts.calls.isEmpty());
}

void TestKeywordCommands::removeCommands_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("prompt");
    QTest::addColumn<QStringList>("left");
    QTest::addColumn<int>("pointerAfter");
    const QStringList five{"apple", "dog", "Cat", "city", ""};
    const QString containing = QStringLiteral("Remove entries containing: ");
    const QString notContaining = QStringLiteral("Remove entries not containing: ");
    QTest::newRow("containing c") << "PushButton9"
                                  << "c" << containing << QStringList{"apple", "dog", "Cat", ""}
                                  << int(Surface::Default);
    QTest::newRow("not containing a")
        << "PushButton10"
        << "a" << notContaining << QStringList{"apple", "Cat"} << int(Surface::Default);
    // An empty answer ends the command before it touches the pointer.
    QTest::newRow("containing, no answer") << "PushButton9"
                                           << "" << containing << five << int(Surface::Hand);
    QTest::newRow("not containing, no answer") << "PushButton10"
                                               << "" << notContaining << five << int(Surface::Hand);
}

void TestKeywordCommands::removeCommands() {
    QFETCH(QString, button);
    QFETCH(QString, answer);
    QFETCH(QString, prompt);
    QFETCH(QStringList, left);
    QFETCH(int, pointerAfter);
    fill({"apple", "dog", "Cat", "city", ""});
    auto* bar = form->findChild<QProgressBar*>(QStringLiteral("ProgressBar1"));
    QVERIFY(bar);
    bar->setValue(42);
    form->setPointer(Surface::Hand);
    prompts.inputs.enqueue(answer);
    click(qPrintable(button));
    QCOMPARE(keywordsOf(form->keywords()), left);
    QCOMPARE(form->pointer(), pointerAfter);
    QCOMPARE(bar->value(), answer.isEmpty() ? 42 : 0);
    QCOMPARE(prompts.calls.size(), 1);
    QCOMPARE(prompts.calls[0].text, prompt);
    QCOMPARE(prompts.calls[0].title, Globals::applicationTitle());
}

// "Clear List", the Delete key and the double-click act on the selected entry, and do nothing (and
// say nothing) while a long command shows the hourglass.
void TestKeywordCommands::guardsWhileBusy_data() {
    QTest::addColumn<QString>("action");
    QTest::addColumn<bool>("busy");
    QTest::addColumn<bool>("select");
    QTest::addColumn<QStringList>("left");
    const QStringList three{"apple", "dog", "city"};
    const QStringList removed{"apple", "city"};
    QTest::newRow("clear") << "clear" << false << true << QStringList{};
    QTest::newRow("clear, busy") << "clear" << true << true << three;
    QTest::newRow("delete") << "delete" << false << true << removed;
    QTest::newRow("shift+delete") << "shift+delete" << false << true << removed;
    QTest::newRow("delete, busy") << "delete" << true << true << three;
    QTest::newRow("delete, nothing selected") << "delete" << false << false << three;
    QTest::newRow("backspace is no delete") << "backspace" << false << true << three;
    QTest::newRow("double-click") << "double-click" << false << true << removed;
    QTest::newRow("double-click, busy") << "double-click" << true << true << three;
    // Below the last entry the double-click still removes the selected one.
    QTest::newRow("double-click below the entries") << "double-click below" << false << true << removed;
}

void TestKeywordCommands::guardsWhileBusy() {
    QFETCH(QString, action);
    QFETCH(bool, busy);
    QFETCH(bool, select);
    QFETCH(QStringList, left);
    List::AddSamples(form->keywords());
    auto* view = form->findChild<QTableView*>(QStringLiteral("ListView1"));
    QVERIFY(view);
    const QModelIndex second = form->keywords().index(1);
    if (select)
        view->setCurrentIndex(second);
    else
        view->clearSelection();
    view->setFocus();
    const QRect rect = view->visualRect(second);
    QVERIFY(rect.isValid());
    if (busy)
        form->setPointer(Surface::Hourglass);

    if (action == QLatin1String("clear"))
        click("PushButton1");
    else if (action == QLatin1String("delete"))
        QTest::keyClick(view, Qt::Key_Delete);
    else if (action == QLatin1String("shift+delete"))
        QTest::keyClick(view, Qt::Key_Delete, Qt::ShiftModifier);
    else if (action == QLatin1String("backspace"))
        QTest::keyClick(view, Qt::Key_Backspace);
    else {
        // A double-click arrives after the press and release of its first click.
        QPoint at = rect.center();
        if (action == QLatin1String("double-click below"))
            at.ry() = view->visualRect(form->keywords().index(2)).bottom() + 2 * rect.height();
        QVERIFY(view->viewport()->rect().contains(at));
        QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, at);
        QTest::mouseDClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, at);
    }

    QCOMPARE(keywordsOf(form->keywords()), left);
    QVERIFY(prompts.calls.isEmpty());
    QCOMPARE(form->pointer(), busy ? int(Surface::Hourglass) : form->pointer());
}

void TestKeywordCommands::loadFiles() {
    writeBytes(path("c.txt"), "city\r\n");
    writeBytes(path("a.txt"), "apple\nant\n");
    writeBytes(path("b.txt"), "bee\rbat");
    fill({"first"});
    // The dialog's order, not the alphabet's; a file gone missing is reported alone.
    prompts.openAnswers.enqueue({path("c.txt"), path("gone.txt"), path("a.txt"), path("b.txt")});
    int pointerDuringMessage = -1;
    prompts.onMessage = [&](const FakePrompts::Call&) { pointerDuringMessage = form->pointer(); };
    click("PushButton3");
    QCOMPARE(keywordsOf(form->keywords()), (QStringList{"first", "city", "apple", "ant", "bee", "bat"}));
    QCOMPARE(prompts.messages(), QStringList{"File not found"});
    QCOMPARE(prompts.callsOf(QStringLiteral("message"))[0].title, Globals::applicationTitle());
    QCOMPARE(prompts.callsOf(QStringLiteral("message"))[0].icon, Prompts::Icon::None);
    QCOMPARE(pointerDuringMessage, int(Surface::Hourglass));
    QCOMPARE(form->pointer(), int(Surface::Default));
    const auto open = prompts.callsOf(QStringLiteral("open"));
    QCOMPARE(open.size(), 1);
    QCOMPARE(open[0].request.title, QStringLiteral("Load List(s) - Hold Ctrl to select multiple list files"));
    QCOMPARE(open[0].request.filter, TextFilter);
    QVERIFY(open[0].request.multiple);
}

void TestKeywordCommands::loadCancelled() {
    fill({"kept"});
    form->setPointer(Surface::Hand);
    click("PushButton3");
    QCOMPARE(keywordsOf(form->keywords()), QStringList{"kept"});
    QCOMPARE(form->pointer(), int(Surface::Hand));
    QCOMPARE(prompts.calls.size(), 1);
}

void TestKeywordCommands::saveList_data() {
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QString>("existing"); // "" for none
    QTest::addColumn<QString>("answer");   // to the overwrite question
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("messages");
    const QStringList entries{"apple", "", "dog"};
    const QByteArray written("apple\r\n\r\ndog\r\n");
    const QString question = QStringLiteral("Are you sure you wish to overwrite <path> ?");
    QTest::newRow("new file") << entries << ""
                              << "" << written << QStringList{"Done."};
    QTest::newRow("empty list") << QStringList{} << ""
                                << "" << QByteArray() << QStringList{"Done."};
    QTest::newRow("overwrite, yes") << entries << "old contents, longer than the new\r\n"
                                    << "yes" << written << QStringList{question, "Done."};
    QTest::newRow("overwrite, no") << entries << "old\r\n"
                                   << "no" << QByteArray("old\r\n") << QStringList{question};
    QTest::newRow("cancelled") << entries << "old\r\n"
                               << "cancel" << QByteArray("old\r\n") << QStringList{};
}

void TestKeywordCommands::saveList() {
    QFETCH(QStringList, entries);
    QFETCH(QString, existing);
    QFETCH(QString, answer);
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, messages);
    const QString target = path("saved.txt");
    QFile::remove(target);
    if (!existing.isEmpty())
        writeBytes(target, existing.toUtf8());
    fill(entries);
    if (answer != QLatin1String("cancel"))
        prompts.saveAnswers.enqueue(target);
    if (answer == QLatin1String("no"))
        prompts.answers.enqueue(Prompts::Answer::No);
    QList<int> pointers;
    prompts.onMessage = [&](const FakePrompts::Call&) { pointers << form->pointer(); };
    click("PushButton7");

    QCOMPARE(readBytes(target), bytes);
    for (QString& message : messages)
        message.replace(QStringLiteral("<path>"), target);
    QCOMPARE(prompts.messages(), messages);
    for (const auto& call : prompts.callsOf(QStringLiteral("message"))) {
        QCOMPARE(call.title, Globals::applicationTitle());
        QCOMPARE(call.icon, Prompts::Icon::None);
        QCOMPARE(call.buttons,
                 call.text == QLatin1String("Done.") ? Prompts::Buttons::Ok : Prompts::Buttons::YesNo);
    }
    // The hourglass stays while "Done." is shown.
    if (messages.contains(QStringLiteral("Done.")))
        QCOMPARE(pointers.last(), int(Surface::Hourglass));
    QCOMPARE(form->pointer(), int(Surface::Default));
    const auto save = prompts.callsOf(QStringLiteral("save"));
    QCOMPARE(save.size(), 1);
    QCOMPARE(save[0].request.title, QStringLiteral("Save"));
    QCOMPARE(save[0].request.filter, TextFilter);
    QCOMPARE(save[0].request.defaultSuffix, QStringLiteral("txt"));
}

// A save that fails is reported with the error box and is not followed by "Done."; the file it
// would have replaced keeps its contents.
void TestKeywordCommands::saveFails_data() {
    QTest::addColumn<bool>("sizeLimit");
    QTest::addColumn<QString>("reason"); // the system's own words, not those of the cancelled save
    QTest::newRow("folder missing") << false << "No such file or directory";
    QTest::newRow("write fails half-way") << true << "File too large";
}

void TestKeywordCommands::saveFails() {
    QFETCH(bool, sizeLimit);
    QFETCH(QString, reason);
    const QString target = sizeLimit ? path("big.txt") : path("missing/list.txt");
    if (sizeLimit)
        writeBytes(target, "old\r\n");
    std::vector<QString> many(100000, QStringLiteral("keyword"));
    form->keywords().appendMany(std::move(many));
    prompts.saveAnswers.enqueue(target);

    std::signal(SIGXFSZ, SIG_IGN);
    rlimit before{};
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &before), 0);
    if (sizeLimit) {
        rlimit small = before;
        small.rlim_cur = 32 * 1024;
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
    }
    click("PushButton7");
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &before), 0);

    const QStringList messages = prompts.messages();
    const QString question =
        QStringLiteral("Are you sure you wish to overwrite ") + target + QStringLiteral(" ?");
    QCOMPARE(messages.size(), sizeLimit ? 2 : 1);
    QCOMPARE(messages.first() == question, sizeLimit);
    const auto report = prompts.callsOf(QStringLiteral("message")).last();
    QCOMPARE(report.title, QStringLiteral("Application Error"));
    QCOMPARE(report.icon, Prompts::Icon::Exclamation);
    QVERIFY2(report.text.startsWith(reason + QStringLiteral("\r\n")), qPrintable(report.text));
    QVERIFY2(report.text.contains(
                 QStringLiteral("\r\nin Snapquarry2021/08/31.Form1.PushButton7_Click at line 108")),
             qPrintable(report.text));
    QCOMPARE(readBytes(target), sizeLimit ? QByteArray("old\r\n") : QByteArray("<missing>"));
    QCOMPARE(form->pointer(), int(Surface::Default));
}

void TestKeywordCommands::folderPicker_data() {
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("stored"); // LastFolder afterwards
    QTest::newRow("root") << "/"
                          << "/"
                          << "/";
    QTest::newRow("folder") << "<dir>/pics"
                            << "<dir>/pics/"
                            << "<dir>/pics";
    QTest::newRow("folder with separator") << "<dir>/pics/"
                                           << "<dir>/pics/"
                                           << "<dir>/pics";
    QTest::newRow("cancelled") << ""
                               << "/old/"
                               << "<last>";
    QTest::newRow("not a folder") << "<dir>/file.txt"
                                  << "/old/"
                                  << "<last>";
    QTest::newRow("missing folder") << "<dir>/gone"
                                    << "/old/"
                                    << "<last>";
}

void TestKeywordCommands::folderPicker() {
    QFETCH(QString, answer);
    QFETCH(QString, field);
    QFETCH(QString, stored);
    QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("pics")));
    writeBytes(path("file.txt"), "x");
    const QString last = dir.path() + QStringLiteral("/earlier");
    SettingsStore::write(SettingKey::LastFolder, last);
    auto expand = [&](QString text) {
        return text.replace(QStringLiteral("<dir>"), dir.path()).replace(QStringLiteral("<last>"), last);
    };
    if (!answer.isEmpty())
        prompts.folderAnswers.enqueue(expand(answer));
    click("PushButton12");

    auto* text1 = form->findChild<QLineEdit*>(QStringLiteral("Text1"));
    QVERIFY(text1);
    QCOMPARE(text1->text(), expand(field));
    QCOMPARE(SettingsStore::read(SettingKey::SaveFolder), expand(field));
    QCOMPARE(SettingsStore::read(SettingKey::LastFolder), expand(stored));
    QCOMPARE(prompts.calls.size(), 1);
    QCOMPARE(prompts.calls[0].kind, QStringLiteral("folder"));
    QCOMPARE(prompts.calls[0].text, QStringLiteral("Please select folder:"));
    QCOMPARE(prompts.calls[0].startFolder, last);
}

// Before the first choice (LastFolder empty) the chooser opens at the folder in the field.
void TestKeywordCommands::folderPickerFirstUse() {
    SettingsStore::write(SettingKey::LastFolder, QString());
    auto* text1 = form->findChild<QLineEdit*>(QStringLiteral("Text1"));
    QVERIFY(text1);
    text1->setText(dir.path() + QStringLiteral("/"));
    click("PushButton12");
    const auto calls = prompts.callsOf(QStringLiteral("folder"));
    QCOMPARE(calls.size(), 1);
    QCOMPARE(calls[0].startFolder, dir.path() + QStringLiteral("/"));
}

// "All Files (*.*)" lets the dialogs show every file, names without an extension included.
void TestKeywordCommands::allFilesMatchEveryName() {
    QCOMPARE(QtPrompts::qtFilter(TextFilter), QStringLiteral("Text Files (*.txt);;All Files (*)"));
}

QTEST_MAIN(TestKeywordCommands)
#include "tst_keyword_commands.moc"
