// Hostile keyword files, generated here: each one is refused (or read within bounds) with one
// clear message, the program goes on and the list keeps what it had.

#include "base/error_report.h"
#include "base/surface.h"
#include "fake_prompts.h"
#include "hostile_files.h"
#include "keywords/event_pump.h"
#include "keywords/input_limits.h"
#include "keywords/keyword_list.h"
#include "keywords/text_list_file.h"
#include "sheets/spreadsheet_list.h"
#include "sheets/workbook_reader.h"
#include "test_files.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

Q_DECLARE_METATYPE(CellRange)

namespace {

const CellRange WholeSheet{1, 1, SheetLimits::Rows, SheetLimits::Columns};
const CellRange WholeColumnsAB{1, 1, SheetLimits::Rows, 2};

// What ExcelToListview left: the list and the texts of the boxes shown.
struct Import {
    QStringList entries;
    QStringList messages;
};

Import importBlock(const QString& file, const CellRange& block) {
    KeywordList list;
    list.add(QStringLiteral("kept"));
    FakePrompts prompts;
    prompts.blockAnswers.enqueue(block);
    SurfaceState surface;
    List::ExcelToListview(list, file, prompts, surface);
    return Import{keywordsOf(list), prompts.messages()};
}

} // namespace

class TestHostileFiles : public QObject {
    Q_OBJECT
private slots:
    void workbookRefused_data();
    void workbookRefused();
    void sparseSheets_data();
    void sparseSheets();
    void controlCharactersDropped_data();
    void controlCharactersDropped();
    void textListLimits_data();
    void textListLimits();
    void listEntryLimit();

private:
    QTemporaryDir dir;
    QString path(const QString& name) const { return dir.filePath(name); }
};

void TestHostileFiles::workbookRefused_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<CellRange>("block");
    QTest::addColumn<QString>("says");
    QTest::addColumn<bool>("namesFile"); // limits name the file; other damage is told as before

    QVERIFY(dir.isValid());
    const QString deepXlsx = path("deep.xlsx");
    QVERIFY(Hostile::writeDeepXlsx(deepXlsx, 60000));
    QTest::newRow("xlsx text 60,000 elements deep")
        << deepXlsx << WholeSheet << "elements nested deeper than 64 levels" << true;

    const QString deepOds = path("deep.ods");
    QVERIFY(Hostile::writeDeepOds(deepOds, 200000));
    QTest::newRow("ods cell 200,000 spans deep")
        << deepOds << WholeSheet << "elements nested deeper than 64 levels" << true;

    const QByteArray row = "<row><c t=\"inlineStr\"><is><t>bomb</t></is></c></row>";
    const QString bomb = path("bomb.xlsx");
    QVERIFY(Hostile::writeInflatingXlsx(bomb, row, 1000, 3ull << 30));
    QTest::newRow("xlsx sheet said to inflate to 3 GiB")
        << bomb << WholeSheet << "would inflate to more than 512 MB" << true;

    const QString ratio = path("ratio.xlsx");
    QVERIFY(Hostile::writeInflatingXlsx(ratio, row, 1000, 20ull << 20));
    QTest::newRow("xlsx sheet said to inflate 20 MB from a few kB")
        << ratio << WholeSheet << "would inflate to more than 100 times its packed size" << true;

    const QString liar = path("liar.xlsx");
    QVERIFY(Hostile::writeInflatingXlsx(liar, QByteArray(1 << 20, ' '), 20, 1 << 20));
    // The reading stops at the stated size, where the checksum no longer matches.
    QTest::newRow("xlsx sheet inflating beyond its stated size")
        << liar << WholeSheet << "sheet1.xml cannot be read" << false;

    const QString lowRow = path("low-row.xlsx");
    QVERIFY(Hostile::writeXlsxRows(
        lowRow, "<row r=\"1048577\"><c r=\"A1048577\" t=\"inlineStr\"><is><t>x</t></is></c></row>"));
    QTest::newRow("xlsx row 1,048,577") << lowRow << WholeSheet << "beyond the sheet's 1048576 rows" << true;

    const QString farColumn = path("far-column.xlsx");
    QVERIFY(Hostile::writeXlsxRows(farColumn,
                                   "<row r=\"1\"><c r=\"XFE1\" t=\"inlineStr\"><is><t>x</t></is></c></row>"));
    QTest::newRow("xlsx column XFE") << farColumn << WholeSheet << "16384 columns" << true;

    // Entities are never expanded: a document type declaration (the only way to declare them) is
    // refused.
    const QString laughs = path("laughs.xlsx");
    auto members = Hostile::xlsxFrame();
    QByteArray sheet = "<?xml version=\"1.0\"?>\n<!DOCTYPE worksheet [<!ENTITY a \"aaaaaaaaaa\">";
    for (char e = 'b'; e <= 'j'; ++e)
        sheet += QByteArray("<!ENTITY ") + e + " \"" +
                 QByteArray("&").append(char(e - 1)).append(';').repeated(10) + "\">";
    sheet +=
        "]><worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><sheetData><row "
        "r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>&j;</t></is></c></row></sheetData></worksheet>";
    members.append({QStringLiteral("xl/worksheets/sheet1.xml"), sheet});
    QVERIFY(Fixtures::writeZip(laughs, members));
    QTest::newRow("xlsx with entities declared")
        << laughs << WholeSheet << "a document type declaration" << true;

    const QString everywhere = path("everywhere.ods");
    QVERIFY(Hostile::writeRepeatedOds(everywhere));
    QTest::newRow("ods with every cell filled, whole sheet chosen")
        << everywhere << WholeSheet << "its keywords would pass 100,000,000 characters" << true;

    // One-character cells, which the character limit lets through by the million.
    const QString cells = path("cells.xlsx");
    QVERIFY(Hostile::writeManyCellsXlsx(cells, 4001, 1000));
    QTest::newRow("xlsx with 4,001,000 one-character cells")
        << cells << WholeSheet << "its sheet holds more than 4,000,000 cells" << true;

    const QString longCsv = path("long.csv");
    writeBytes(longCsv, "a,b\r\n" + QByteArray(InputLimits::MaxLineBytes + 1, 'x') + "\r\nc\r\n");
    QTest::newRow("csv line over 1 MB") << longCsv << WholeSheet << "it has a line longer than 1 MB" << true;
}

void TestHostileFiles::workbookRefused() {
    QFETCH(QString, file);
    QFETCH(CellRange, block);
    QFETCH(QString, says);
    QFETCH(bool, namesFile);
    const Import result = importBlock(file, block);
    QCOMPARE(result.entries, QStringList{"kept"});
    QCOMPARE(result.messages.size(), 1);
    QVERIFY2(result.messages.first().contains(says), qPrintable(result.messages.first()));
    if (namesFile)
        QVERIFY2(result.messages.first().contains(QDir::toNativeSeparators(file)),
                 qPrintable(result.messages.first()));
    QVERIFY(!result.messages.first().contains(QLatin1String("bad_alloc")));
}

void TestHostileFiles::sparseSheets_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<CellRange>("block");
    QTest::addColumn<int>("count");
    QTest::addColumn<QStringList>("firstAndLast");

    const QString farColumn = path("xfd-rows.xlsx");
    QVERIFY(Hostile::writeFarColumnXlsx(farColumn, 20000));
    QTest::newRow("20,000 rows with a cell in XFD, whole sheet")
        << farColumn << WholeSheet << 20000 << QStringList{" w1", " w20000"};

    // Rows and cells backwards, a cell given twice: each is put in place, the later text wins.
    const QString backwards = path("backwards.xlsx");
    QVERIFY(Hostile::writeXlsxRows(
        backwards,
        "<row r=\"3\"><c r=\"C3\" t=\"inlineStr\"><is><t>c3</t></is></c><c r=\"A3\" t=\"inlineStr\">"
        "<is><t>a3</t></is></c></row><row r=\"2\"><c r=\"B2\" t=\"inlineStr\"><is><t>b2</t></is></c>"
        "</row><row r=\"1\"><c r=\"C1\" t=\"inlineStr\"><is><t>c1</t></is></c><c r=\"A1\" "
        "t=\"inlineStr\"><is><t>old</t></is></c><c r=\"A1\" t=\"inlineStr\"><is><t>a1</t></is></c>"
        "</row>"));
    QTest::newRow("rows and cells backwards, A1:C3")
        << backwards << CellRange{1, 1, 3, 3} << 3 << QStringList{" a1 c1", " a3 c3"};
    const QString manyBackwards = path("many-backwards.xlsx");
    QVERIFY(Hostile::writeBackwardsXlsx(manyBackwards, 100000));
    QTest::newRow("100,000 rows backwards, whole sheet")
        << manyBackwards << WholeSheet << 100000 << QStringList{" w1", " w100000"};

    const QString lastCell = path("last-cell.xlsx");
    QVERIFY(Hostile::writeLastCellXlsx(lastCell));
    QTest::newRow("A1 and XFD1048576, whole sheet")
        << lastCell << WholeSheet << 2 << QStringList{" first", " last"};
    // A block that does not reach the sheet's end keeps one entry per row, empty ones included.
    QTest::newRow("A1 and XFD1048576, rows 1 to 5 of column A")
        << lastCell << CellRange{1, 1, 5, 1} << 5 << QStringList{" first", ""};

    const QString everywhere = path("everywhere-block.ods");
    QVERIFY(Hostile::writeRepeatedOds(everywhere));
    QTest::newRow("every cell filled, A1:B3")
        << everywhere << CellRange{1, 1, 3, 2} << 3 << QStringList{" x x", " x x"};
    QTest::newRow("every cell filled, whole columns A:B")
        << everywhere << WholeColumnsAB << SheetLimits::Rows << QStringList{" x x", " x x"};
}

void TestHostileFiles::sparseSheets() {
    QFETCH(QString, file);
    QFETCH(CellRange, block);
    QFETCH(int, count);
    QFETCH(QStringList, firstAndLast);
    const Import result = importBlock(file, block);
    QCOMPARE(result.messages, QStringList());
    QCOMPARE(result.entries.size(), count + 1);
    QCOMPARE(result.entries.at(1), firstAndLast.first());
    QCOMPARE(result.entries.last(), firstAndLast.last());
}

void TestHostileFiles::controlCharactersDropped_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<QStringList>("entries");

    const QString text = path("controls.txt");
    writeBytes(text, QByteArray("a\0b\x01"
                                "c\td\x7f\r\nplain\r\n",
                                17));
    QTest::newRow("text list") << text << QStringList{"abc\td", "plain"};

    const QString csv = path("controls.csv");
    writeBytes(csv, QByteArray("a\0b,c\x1b"
                               "d\r\n",
                               10));
    QTest::newRow("csv") << csv << QStringList{" ab cd"};

    const QString xlsx = path("controls.xlsx");
    QVERIFY(Hostile::writeXlsxRows(xlsx,
                                   "<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>a_x0000_b_x0001_c_x0009_d"
                                   "</t></is></c></row>"));
    QTest::newRow("xlsx escapes") << xlsx << QStringList{" abc\td"};

    const QString ods = path("controls.ods");
    QVERIFY(Fixtures::writeOdsXml(
        ods, "<table:table table:name=\"W\"><table:table-row><table:table-cell><text:p>"
             "a<text:line-break/>b<text:tab/>c</text:p></table:table-cell></table:table-row>"
             "</table:table>"));
    QTest::newRow("ods line break") << ods << QStringList{" ab\tc"};

    const QString xls = path("controls.xls");
    QVERIFY(Fixtures::writeXls(xls, {{1, 1,
                                      QString::fromUtf8("a\x01"
                                                        "b\x02")}}));
    QTest::newRow("xls") << xls << QStringList{" ab"};
}

void TestHostileFiles::controlCharactersDropped() {
    QFETCH(QString, file);
    QFETCH(QStringList, entries);
    KeywordList list;
    FakePrompts prompts;
    if (file.endsWith(QLatin1String(".txt"))) {
        List::EventPump pump;
        List::LoadTextList(list, file, prompts, pump);
    } else {
        prompts.blockAnswers.enqueue(CellRange{1, 1, 1, 2});
        SurfaceState surface;
        List::ExcelToListview(list, file, prompts, surface);
    }
    QCOMPARE(prompts.messages(), QStringList());
    QCOMPARE(keywordsOf(list), entries);
}

void TestHostileFiles::textListLimits_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("says");
    const QByteArray longLine(InputLimits::MaxLineBytes + 1, 'x');
    QTest::newRow("line over 1 MB at the end") << "one\r\ntwo\r\n" + longLine << "a line longer than 1 MB";
    QTest::newRow("line over 1 MB after a second of lines")
        << QByteArray("word\r\n").repeated(300000) + longLine + "\r\nafter\r\n"
        << "a line longer than 1 MB";
    QTest::newRow("one endless line of NULs")
        << QByteArray(3 * InputLimits::MaxLineBytes, '\0') << "a line longer than 1 MB";
}

void TestHostileFiles::textListLimits() {
    QFETCH(QByteArray, bytes);
    QFETCH(QString, says);
    const QString file = path("limit.txt");
    writeBytes(file, bytes);
    KeywordList list;
    list.add(QStringLiteral("kept"));
    FakePrompts prompts;
    List::EventPump pump;
    QString message;
    try {
        List::LoadTextList(list, file, prompts, pump);
    } catch (const AppError& e) {
        message = e.description();
    }
    QVERIFY2(message.contains(says) && message.contains(QDir::toNativeSeparators(file)), qPrintable(message));
    QCOMPARE(keywordsOf(list), QStringList{"kept"});
}

void TestHostileFiles::listEntryLimit() {
    // A list two entries short of the limit takes two lines of a five-line file, then stops.
    KeywordList list;
    list.appendMany(std::vector<QString>(InputLimits::MaxListEntries - 2));
    const QString file = path("five.txt");
    writeBytes(file, "1\r\n2\r\n3\r\n4\r\n5\r\n");
    FakePrompts prompts;
    List::EventPump pump;
    QString message;
    try {
        List::LoadTextList(list, file, prompts, pump);
    } catch (const AppError& e) {
        message = e.description();
    }
    QVERIFY2(message.contains(QStringLiteral("would pass 10,000,000 entries")) &&
                 message.contains(QDir::toNativeSeparators(file)),
             qPrintable(message));
    QCOMPARE(list.Count(), InputLimits::MaxListEntries);
    QCOMPARE(list.item(list.Count()), QStringLiteral("2"));
    list.clear();
}

QTEST_MAIN(TestHostileFiles)
#include "tst_hostile_files.moc"
