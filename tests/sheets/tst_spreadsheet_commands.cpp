// "Load List From Excel File" and "Save List To Excel File": the import of a highlighted block,
// the export, the main window's buttons and the block-highlighting window.

#include "app/cell_block_window.h"
#include "app/form1.h"
#include "base/error_report.h"
#include "base/surface.h"
#include "fake_prompts.h"
#include "keywords/keyword_list.h"
#include "sheets/spreadsheet_list.h"
#include "sheets/workbook_reader.h"
#include "spreadsheet_fixtures.h"
#include "test_settings.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

using Fixtures::Cell;

Q_DECLARE_METATYPE(CellRange)
Q_DECLARE_METATYPE(QList<Cell>)

namespace {

const QString ImportTag = QStringLiteral("in Snapquarry2021/08/31.List.ExcelToListview ");

// A and B as the example sheet has them; D4 stretches the used range over row 3.
QList<Cell> exampleSheet() {
    return {{1, 1, "red"}, {1, 2, "apple"}, {2, 2, "dog"}, {4, 4, "far"}};
}

// Columns A and B filled down to row 10.
QList<Cell> tenRows() {
    QList<Cell> cells;
    for (int r = 1; r <= 10; ++r) {
        cells.append({r, 1, QStringLiteral("a%1").arg(r)});
        if (r % 2 == 0)
            cells.append({r, 2, QStringLiteral("b%1").arg(r)});
    }
    return cells;
}

QStringList entries(const KeywordList& list) {
    return QStringList(list.items().begin(), list.items().end());
}

// Remembers the pointer the window showed while the block was being chosen.
class WatchingPrompts : public FakePrompts {
public:
    const Surface* surface = nullptr;
    QList<int> pointersAtBlock;
    std::optional<CellRange> chooseCellBlock(const Sheet& sheet, const QString& prompt) override {
        if (surface)
            pointersAtBlock << surface->pointer();
        return FakePrompts::chooseCellBlock(sheet, prompt);
    }
};

} // namespace

class TestSpreadsheetCommands : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void importBlock_data();
    void importBlock();
    void importCancelled();
    void importUnreadable_data();
    void importUnreadable();
    void exportLayout_data();
    void exportLayout();
    void exportEmptyListSaysNothing();
    void exportAsksBeforeReplacing_data();
    void exportAsksBeforeReplacing();
    void exportFailureIsReported();
    void mainWindowButtons();
    void blockWindow();

private:
    QTemporaryDir dir;
    QString path(const QString& name) const { return dir.filePath(name); }
};

void TestSpreadsheetCommands::initTestCase() {
    QVERIFY(dir.isValid());
    TestSettings::clear();
}

void TestSpreadsheetCommands::importBlock_data() {
    QTest::addColumn<QString>("format");
    QTest::addColumn<QList<Cell>>("cells");
    QTest::addColumn<CellRange>("block");
    QTest::addColumn<QStringList>("added");
    for (const QString& format :
         {QStringLiteral("xlsx"), QStringLiteral("ods"), QStringLiteral("xls"), QStringLiteral("csv")}) {
        const QByteArray f = format.toLatin1();
        QTest::newRow(f + ": A1:B3") << format << exampleSheet() << CellRange{1, 1, 3, 2}
                                     << QStringList{" red apple", " dog", ""};
        QTest::newRow(f + ": whole columns A:C")
            << format << tenRows() << CellRange{1, 1, SheetLimits::Rows, 3}
            << QStringList{" a1",    " a2 b2", " a3",    " a4 b4", " a5",
                           " a6 b6", " a7",    " a8 b8", " a9",    " a10 b10"};
        QTest::newRow(f + ": whole row 2")
            << format << exampleSheet() << CellRange{2, 1, 2, SheetLimits::Columns} << QStringList{" dog"};
        QTest::newRow(f + ": below the used range")
            << format << exampleSheet() << CellRange{5, 1, 8, 2} << QStringList{};
        QTest::newRow(f + ": right of the used range")
            << format << exampleSheet() << CellRange{1, 5, 3, 6} << QStringList{};
        QTest::newRow(f + ": one cell")
            << format << exampleSheet() << CellRange{1, 2, 1, 2} << QStringList{" apple"};
    }
}

void TestSpreadsheetCommands::importBlock() {
    QFETCH(QString, format);
    QFETCH(QList<Cell>, cells);
    QFETCH(CellRange, block);
    QFETCH(QStringList, added);
    const QString file = path(QStringLiteral("block.") + format);
    QFile::remove(file);
    QVERIFY(Fixtures::writeWorkbook(format, file, cells));

    KeywordList list;
    list.add(QStringLiteral("kept"));
    FakePrompts prompts;
    prompts.blockAnswers.enqueue(block);
    SurfaceState surface;
    List::ExcelToListview(list, file, prompts, surface);

    QCOMPARE(entries(list), QStringList{"kept"} + added);
    QCOMPARE(prompts.messages(), QStringList());
    QCOMPARE(prompts.callsOf(QStringLiteral("block")).size(), 1);
    QCOMPARE(prompts.callsOf(QStringLiteral("block")).first().text,
             QStringLiteral("Highlight a block of cells with mouse"));
    QCOMPARE(surface.pointer(), int(Surface::Default));
}

void TestSpreadsheetCommands::importCancelled() {
    const QString file = path(QStringLiteral("cancel.xlsx"));
    QVERIFY(Fixtures::writeXlsx(file, exampleSheet()));
    KeywordList list;
    FakePrompts prompts; // no block answer: the window is cancelled
    SurfaceState surface;
    List::ExcelToListview(list, file, prompts, surface);
    QCOMPARE(list.Count(), 0);
    QCOMPARE(prompts.callsOf(QStringLiteral("block")).size(), 1);
    QCOMPARE(prompts.messages(), QStringList());
    QCOMPARE(surface.pointer(), int(Surface::Default));
}

void TestSpreadsheetCommands::importUnreadable_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("corrupt workbook") << "corrupt.xlsx" << QByteArray("PK\x03\x04 this is no archive", 24);
    QTest::newRow("not a workbook") << "notes.xls" << QByteArray("plain words");
    QTest::newRow("missing") << "" << QByteArray();
}

void TestSpreadsheetCommands::importUnreadable() {
    QFETCH(QString, name);
    QFETCH(QByteArray, bytes);
    QString file = path(QStringLiteral("does-not-exist.xlsx"));
    if (!name.isEmpty()) {
        file = path(name);
        QFile out(file);
        QVERIFY(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        out.write(bytes);
    }
    KeywordList list;
    list.add(QStringLiteral("kept"));
    FakePrompts prompts;
    prompts.blockAnswers.enqueue(CellRange{1, 1, 3, 2});
    SurfaceState surface;
    List::ExcelToListview(list, file, prompts, surface);

    QCOMPARE(entries(list), QStringList{"kept"});
    QCOMPARE(prompts.callsOf(QStringLiteral("block")).size(), 0);
    const auto boxes = prompts.callsOf(QStringLiteral("message"));
    QCOMPARE(boxes.size(), 1);
    QCOMPARE(boxes.first().title, QStringLiteral("Application Error"));
    QCOMPARE(boxes.first().icon, Prompts::Icon::Exclamation);
    QVERIFY2(boxes.first().text.contains(QStringLiteral("\r\n") + ImportTag + QStringLiteral("at line ")),
             qPrintable(boxes.first().text));
    QCOMPARE(surface.pointer(), int(Surface::Default));
}

void TestSpreadsheetCommands::exportLayout_data() {
    QTest::addColumn<QStringList>("keywords");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("saved");
    QTest::addColumn<QStringList>("columnA");
    QTest::newRow("header and a gap") << QStringList{"apple", "", "dog"} << "list.xlsx"
                                      << "list.xlsx" << QStringList{"Keyword/s", "apple", "", "dog"};
    QTest::newRow("first keyword empty") << QStringList{"", "apple", "dog"} << "nohead.xlsx"
                                         << "nohead.xlsx" << QStringList{"", "", "apple", "dog"};
    QTest::newRow("extension added") << QStringList{"cat"} << "bare"
                                     << "bare.xlsx" << QStringList{"Keyword/s", "cat"};
    QTest::newRow("other extension kept in name") << QStringList{"cat"} << "list.xls"
                                                  << "list.xls.xlsx" << QStringList{"Keyword/s", "cat"};
}

void TestSpreadsheetCommands::exportLayout() {
    QFETCH(QStringList, keywords);
    QFETCH(QString, answer);
    QFETCH(QString, saved);
    QFETCH(QStringList, columnA);
    QTemporaryDir here;
    KeywordList list;
    list.setHeaderData(0, Qt::Horizontal, QStringLiteral("Keyword/s"));
    for (const QString& k : keywords)
        list.add(k);
    FakePrompts prompts;
    prompts.saveAnswers.enqueue(here.filePath(answer));
    ErrorTrap trap(prompts, QStringLiteral("Form1.PushButton14_Click"));
    SpreadsheetCommands::SaveListToExcelFile(list, prompts, trap);

    const auto saves = prompts.callsOf(QStringLiteral("save"));
    QCOMPARE(saves.size(), 1);
    QCOMPARE(saves.first().request.title, QStringLiteral("Save"));
    QCOMPARE(saves.first().request.filter, QStringLiteral("Excel Files (*.xlsx)|*.xlsx|"));
    QCOMPARE(prompts.messages(), QStringList());
    const QString file = here.filePath(saved);
    const Workbook book = WorkbookReader::read(file);
    QStringList read;
    for (int r = 1; r <= book.activeSheet.lastRow(); ++r)
        read << book.activeSheet.text(r, 1);
    QCOMPARE(read, columnA);
    // Then it is handed to the desktop's spreadsheet application.
    const auto opened = prompts.callsOf(QStringLiteral("url"));
    QCOMPARE(opened.size(), 1);
    QCOMPARE(QUrl(opened.first().text).toLocalFile(), file);
}

void TestSpreadsheetCommands::exportEmptyListSaysNothing() {
    KeywordList list;
    FakePrompts prompts;
    ErrorTrap trap(prompts, QStringLiteral("Form1.PushButton14_Click"));
    SpreadsheetCommands::SaveListToExcelFile(list, prompts, trap);
    QCOMPARE(prompts.calls.size(), 0);

    // A cancelled save dialog writes and opens nothing either.
    list.add(QStringLiteral("apple"));
    SpreadsheetCommands::SaveListToExcelFile(list, prompts, trap);
    QCOMPARE(prompts.calls.size(), 1);
    QCOMPARE(prompts.calls.first().kind, QStringLiteral("save"));
}

void TestSpreadsheetCommands::exportAsksBeforeReplacing_data() {
    QTest::addColumn<Prompts::Answer>("answer");
    QTest::addColumn<QString>("secondKeyword");
    QTest::newRow("yes replaces") << Prompts::Answer::Yes << "new";
    QTest::newRow("no keeps the old file") << Prompts::Answer::No << "old";
}

void TestSpreadsheetCommands::exportAsksBeforeReplacing() {
    QFETCH(Prompts::Answer, answer);
    QFETCH(QString, secondKeyword);
    QTemporaryDir here;
    const QString file = here.filePath(QStringLiteral("keep.xlsx"));
    QVERIFY(Fixtures::writeXlsx(file, {{1, 1, "Keyword/s"}, {2, 1, "old"}}));
    KeywordList list;
    list.add(QStringLiteral("new"));
    FakePrompts prompts;
    prompts.saveAnswers.enqueue(file);
    prompts.answers.enqueue(answer);
    ErrorTrap trap(prompts, QStringLiteral("Form1.PushButton14_Click"));
    SpreadsheetCommands::SaveListToExcelFile(list, prompts, trap);

    const auto boxes = prompts.callsOf(QStringLiteral("message"));
    QCOMPARE(boxes.size(), 1);
    QCOMPARE(boxes.first().text,
             QStringLiteral("Are you sure you wish to overwrite ") + file + QStringLiteral(" ?"));
    QCOMPARE(boxes.first().buttons, Prompts::Buttons::YesNo);
    QCOMPARE(WorkbookReader::read(file).activeSheet.text(2, 1), secondKeyword);
    QCOMPARE(prompts.callsOf(QStringLiteral("url")).size(), answer == Prompts::Answer::Yes ? 1 : 0);
}

void TestSpreadsheetCommands::exportFailureIsReported() {
    KeywordList list;
    list.add(QStringLiteral("apple"));
    FakePrompts prompts;
    prompts.saveAnswers.enqueue(path(QStringLiteral("no/such/folder/list.xlsx")));
    ErrorTrap trap(prompts, QStringLiteral("Form1.PushButton14_Click"));
    SpreadsheetCommands::SaveListToExcelFile(list, prompts, trap);
    const auto boxes = prompts.callsOf(QStringLiteral("message"));
    QCOMPARE(boxes.size(), 1);
    QCOMPARE(boxes.first().title, QStringLiteral("Application Error"));
    QVERIFY(boxes.first().text.contains(
        QStringLiteral("in Snapquarry2021/08/31.Form1.PushButton14_Click at line ")));
    QCOMPARE(prompts.callsOf(QStringLiteral("url")).size(), 0); // nothing to open
}

void TestSpreadsheetCommands::mainWindowButtons() {
    const QString file = path(QStringLiteral("window.ods"));
    QVERIFY(Fixtures::writeOds(file, exampleSheet()));
    WatchingPrompts prompts;
    Form1 form(prompts);
    prompts.surface = &form;
    prompts.reset();

    prompts.openAnswers.enqueue({file});
    prompts.blockAnswers.enqueue(CellRange{1, 1, 3, 2});
    QTest::mouseClick(form.findChild<QPushButton*>(QStringLiteral("PushButton13")), Qt::LeftButton);
    const auto opens = prompts.callsOf(QStringLiteral("open"));
    QCOMPARE(opens.size(), 1);
    QCOMPARE(opens.first().request.title, QStringLiteral("Add File"));
    QVERIFY(opens.first().request.filter.startsWith(QStringLiteral("Excel Files (*.xl*)|*.xl*|")));
    QVERIFY(opens.first().request.filter.contains(QStringLiteral("*.ods;*.csv")));
    QVERIFY(!opens.first().request.multiple);
    QCOMPARE(prompts.pointersAtBlock, QList<int>{Surface::Hourglass});
    QCOMPARE(form.pointer(), int(Surface::Default));
    QCOMPARE(entries(form.keywords()), (QStringList{" red apple", " dog", ""}));

    // A cancelled file dialog asks nothing more.
    prompts.reset();
    QTest::mouseClick(form.findChild<QPushButton*>(QStringLiteral("PushButton13")), Qt::LeftButton);
    QCOMPARE(prompts.calls.size(), 1);

    // The export writes the list under the list view's caption; no hourglass.
    prompts.reset();
    const QString saved = path(QStringLiteral("window-export.xlsx"));
    prompts.saveAnswers.enqueue(saved);
    QTest::mouseClick(form.findChild<QPushButton*>(QStringLiteral("PushButton14")), Qt::LeftButton);
    const Sheet sheet = WorkbookReader::read(saved).activeSheet;
    QCOMPARE(sheet.text(1, 1), QStringLiteral("Keyword/s"));
    QCOMPARE(sheet.text(2, 1), QStringLiteral(" red apple"));
    QCOMPARE(sheet.lastRow(), 3); // the empty third keyword leaves row 4 empty
    QCOMPARE(form.pointer(), int(Surface::Default));
}

void TestSpreadsheetCommands::blockWindow() {
    Sheet sheet;
    sheet.name = QStringLiteral("Big");
    for (int r = 1; r <= 100000; ++r)
        sheet.setText(r, 1, QStringLiteral("row %1").arg(r));
    sheet.setText(3, 3, QStringLiteral("C3"));
    CellBlockWindow window(sheet, QStringLiteral("Highlight a block of cells with mouse"));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTableView* grid = window.grid();
    QCOMPARE(window.findChild<QLabel*>(QStringLiteral("Prompt"))->text(),
             QStringLiteral("Highlight a block of cells with mouse"));
    QCOMPARE(grid->model()->headerData(0, Qt::Horizontal).toString(), QStringLiteral("A"));
    QCOMPARE(grid->model()->headerData(27, Qt::Horizontal).toString(), QStringLiteral("AB"));
    QCOMPARE(grid->model()->headerData(99999, Qt::Vertical).toInt(), 100000);
    QCOMPARE(grid->model()->index(2, 2).data().toString(), QStringLiteral("C3"));
    QVERIFY(grid->model()->rowCount() > 100000);

    QPushButton* ok = window.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
    QVERIFY(!ok->isEnabled());
    QVERIFY(!window.chosenBlock());

    // Dragging from B2 to C3.
    const QRect b2 = grid->visualRect(grid->model()->index(1, 1));
    const QRect c3 = grid->visualRect(grid->model()->index(2, 2));
    QTest::mousePress(grid->viewport(), Qt::LeftButton, {}, b2.center());
    QMouseEvent move(QEvent::MouseMove, c3.center(), grid->viewport()->mapToGlobal(c3.center()), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(grid->viewport(), &move);
    QTest::mouseRelease(grid->viewport(), Qt::LeftButton, {}, c3.center());
    QVERIFY(ok->isEnabled());
    QCOMPARE(*window.chosenBlock(), (CellRange{2, 2, 3, 3}));
    QCOMPARE(window.findChild<QLabel*>(QStringLiteral("Address"))->text(), QStringLiteral("$B$2:$C$3"));

    // A column header chooses the whole column, to the sheet's last row.
    QHeaderView* columns = grid->horizontalHeader();
    const int x = columns->sectionViewportPosition(1) + columns->sectionSize(1) / 2;
    QTest::mouseClick(columns->viewport(), Qt::LeftButton, {}, QPoint(x, columns->height() / 2));
    QCOMPARE(*window.chosenBlock(), (CellRange{1, 2, SheetLimits::Rows, 2}));

    // A row header chooses the whole row.
    QHeaderView* rows = grid->verticalHeader();
    const int y = rows->sectionViewportPosition(2) + rows->sectionSize(2) / 2;
    QTest::mouseClick(rows->viewport(), Qt::LeftButton, {}, QPoint(rows->width() / 2, y));
    QCOMPARE(*window.chosenBlock(), (CellRange{3, 1, 3, SheetLimits::Columns}));

    QTest::mouseClick(ok, Qt::LeftButton);
    QCOMPARE(window.result(), int(QDialog::Accepted));
}

QTEST_MAIN(TestSpreadsheetCommands)
#include "tst_spreadsheet_commands.moc"
