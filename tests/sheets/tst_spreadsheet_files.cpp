// Reading workbook files of every supported kind, and writing the keyword workbook.

#include "base/error_report.h"
#include "sheets/cell_text.h"
#include "sheets/workbook_reader.h"
#include "sheets/workbook_writer.h"
#include "spreadsheet_fixtures.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using Fixtures::Cell;

class TestSpreadsheetFiles : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void generalNumbers_data();
    void generalNumbers();
    void dateFormats_data();
    void dateFormats();
    void xlsxCells_data();
    void xlsxCells();
    void xlsxActiveSheetAndUsedRange();
    void odsCells_data();
    void odsCells();
    void odsActiveTableAndRepeats();
    void xlsCells();
    void csvCells_data();
    void csvCells();
    void unreadableFiles_data();
    void unreadableFiles();
    void writtenLayout_data();
    void writtenLayout();
    void writeReplacesWholeOrNothing();
    void libreOfficeReadsExport();

private:
    QTemporaryDir dir;
    QString path(const QString& name) const { return dir.filePath(name); }
    Workbook xlsx;
    Workbook ods;
};

void TestSpreadsheetFiles::initTestCase() {
    QVERIFY(dir.isValid());

    // A workbook as a spreadsheet application saves it: typed cells with their formats.
    const QString file = path(QStringLiteral("typed.xlsx"));
    lxw_workbook* wb = workbook_new(QFile::encodeName(file).constData());
    QVERIFY(wb);
    lxw_worksheet* other = workbook_add_worksheet(wb, "Other");
    worksheet_write_string(other, 0, 0, "not this one", nullptr);
    lxw_worksheet* ws = workbook_add_worksheet(wb, "Typed");
    lxw_format* usDate = workbook_add_format(wb);
    format_set_num_format_index(usDate, 14);
    lxw_format* isoDate = workbook_add_format(wb);
    format_set_num_format(isoDate, "yyyy-mm-dd");
    lxw_format* longDate = workbook_add_format(wb);
    format_set_num_format(longDate, "d mmmm yyyy");
    lxw_format* dayTime = workbook_add_format(wb);
    format_set_num_format(dayTime, "dd/mm/yyyy hh:mm");
    lxw_format* clock = workbook_add_format(wb);
    format_set_num_format_index(clock, 18);
    lxw_format* bold = workbook_add_format(wb);
    format_set_bold(bold);
    lxw_datetime day = {2021, 8, 31, 0, 0, 0};
    lxw_datetime afternoon = {2021, 8, 31, 14, 5, 0};
    lxw_datetime evening = {0, 0, 0, 18, 30, 0};
    worksheet_write_string(ws, 0, 0, "red", nullptr);
    worksheet_write_number(ws, 0, 1, 3, nullptr);
    worksheet_write_number(ws, 0, 2, 0.5, nullptr);
    worksheet_write_number(ws, 0, 3, 1234567, nullptr);
    worksheet_write_number(ws, 0, 4, -2.25, nullptr);
    worksheet_write_boolean(ws, 0, 5, 1, nullptr);
    worksheet_write_boolean(ws, 0, 6, 0, nullptr);
    worksheet_write_datetime(ws, 0, 7, &day, usDate);
    worksheet_write_datetime(ws, 0, 8, &day, isoDate);
    worksheet_write_datetime(ws, 0, 9, &day, longDate);
    worksheet_write_datetime(ws, 0, 10, &afternoon, dayTime);
    worksheet_write_datetime(ws, 0, 11, &evening, clock);
    worksheet_write_formula_num(ws, 0, 12, "=1+2", nullptr, 3);
    lxw_rich_string_tuple first = {bold, const_cast<char*>("big ")};
    lxw_rich_string_tuple second = {nullptr, const_cast<char*>("apple")};
    lxw_rich_string_tuple* rich[] = {&first, &second, nullptr};
    worksheet_write_rich_string(ws, 0, 13, rich, nullptr);
    worksheet_write_number(ws, 0, 14, 1e20, nullptr);
    worksheet_write_string(ws, 0, 15, "tab\there, line\nbreak", nullptr);
    worksheet_write_string(ws, 0, 16, "caf\xc3\xa9 \xe7\x8c\xab", nullptr);
    worksheet_write_string(ws, 39, 25, "far corner", nullptr);
    worksheet_activate(ws);
    QCOMPARE(workbook_close(wb), LXW_NO_ERROR);
    xlsx = WorkbookReader::read(file);

    // An OpenDocument file as the free office suites write it: display texts in text:p, empty
    // runs of cells and rows repeated up to the sheet's end.
    const QString tables = QStringLiteral(
        "<table:table table:name=\"First\"><table:table-row><table:table-cell office:value-type=\"string\">"
        "<text:p>not this one</text:p></table:table-cell></table:table-row></table:table>"
        "<table:table table:name=\"Second\">"
        "<table:table-column table:number-columns-repeated=\"4\"/>"
        "<table:table-header-rows><table:table-row>"
        "<table:table-cell office:value-type=\"string\"><text:p>a<text:s "
        "text:c=\"3\"/>b</text:p></table:table-cell>"
        "<table:table-cell office:value-type=\"float\" "
        "office:value=\"3\"><text:p>3.00</text:p></table:table-cell>"
        "<table:table-cell office:value-type=\"float\" office:value=\"0.5\"/>"
        "<table:table-cell office:value-type=\"boolean\" office:boolean-value=\"true\"/>"
        "<table:table-cell office:value-type=\"date\" office:date-value=\"2021-08-31\"/>"
        "<table:table-cell office:value-type=\"date\" "
        "office:date-value=\"2021-08-31\"><text:p>31/08/21</text:p>"
        "</table:table-cell>"
        "<table:table-cell office:value-type=\"time\" office:time-value=\"PT14H05M00S\"/>"
        "</table:table-row></table:table-header-rows>"
        "<table:table-row-group><table:table-row>"
        "<table:table-cell><text:p>one</text:p><text:p>two "
        "<text:span>spans</text:span></text:p></table:table-cell>"
        "<table:table-cell><office:annotation><dc:creator>me</dc:creator><text:p>a "
        "note</text:p></office:annotation>"
        "<text:p>noted</text:p></table:table-cell>"
        "<table:table-cell table:number-columns-repeated=\"3\"><text:p>x</text:p></table:table-cell>"
        "<table:covered-table-cell/><table:table-cell><text:p>after covered</text:p></table:table-cell>"
        "</table:table-row></table:table-row-group>"
        "<table:table-row "
        "table:number-rows-repeated=\"2\"><table:table-cell><text:p>twice</text:p></table:table-cell>"
        "</table:table-row>"
        "<table:table-row table:number-rows-repeated=\"1048570\"><table:table-cell "
        "table:number-columns-repeated=\"16384\"/></table:table-row>"
        "</table:table>");
    QVERIFY(Fixtures::writeOdsXml(path(QStringLiteral("typed.ods")), tables, QStringLiteral("Second")));
    ods = WorkbookReader::read(path(QStringLiteral("typed.ods")));
}

void TestSpreadsheetFiles::generalNumbers_data() {
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("shown");
    QTest::newRow("whole") << 3.0 << "3";
    QTest::newRow("half") << 0.5 << "0.5";
    QTest::newRow("million") << 1234567.0 << "1234567";
    QTest::newRow("negative") << -2.25 << "-2.25";
    QTest::newRow("binary fraction noise") << 0.1 + 0.2 << "0.3";
    QTest::newRow("huge") << 1e20 << "1E+20";
    QTest::newRow("tiny") << 1.5e-12 << "1.5E-12";
    QTest::newRow("zero") << 0.0 << "0";
    QTest::newRow("negative zero") << -0.0 << "0";
}

void TestSpreadsheetFiles::generalNumbers() {
    QFETCH(double, value);
    QFETCH(QString, shown);
    QCOMPARE(CellText::generalNumber(value), shown);
}

void TestSpreadsheetFiles::dateFormats_data() {
    QTest::addColumn<double>("serial");
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("shown");
    const double day = 44439; // 31 August 2021
    QTest::newRow("built-in 14") << day << *CellText::builtInDateFormat(14) << "8/31/2021";
    QTest::newRow("built-in 15") << day << *CellText::builtInDateFormat(15) << "31-Aug-21";
    QTest::newRow("built-in 22") << day + 0.25 << *CellText::builtInDateFormat(22) << "8/31/2021 6:00";
    QTest::newRow("12-hour clock") << 0.75 << *CellText::builtInDateFormat(18) << "6:00 PM";
    QTest::newRow("elapsed hours") << 1.5 << *CellText::builtInDateFormat(46) << "36:00:00";
    QTest::newRow("minutes not months") << day + (10.0 * 60 + 7) / 1440 << "hh:mm"
                                        << "10:07";
    QTest::newRow("day and month names") << day << "dddd d mmmm"
                                         << "Tuesday 31 August";
    QTest::newRow("quoted and escaped") << day << "\"on \"d\\/m"
                                        << "on 31/8";
    QTest::newRow("locale tag") << day << "[$-409]d-mmm"
                                << "31-Aug";
    QTest::newRow("seconds round") << day + 59.6 / 86400 << "h:mm:ss"
                                   << "0:01:00";
    QTest::newRow("no code: ISO") << day << ""
                                  << "2021-08-31";
    QTest::newRow("East Asian id: ISO")
        << day + 0.5 << *CellText::builtInDateFormat(31) << "2021-08-31 12:00:00";
    QTest::newRow("time only: ISO") << 0.5 << ""
                                    << "12:00:00";
    QTest::newRow("first day after 1900-02-28") << 61.0 << "yyyy-mm-dd"
                                                << "1900-03-01";
    QTest::newRow("no valid date") << -3.0 << "yyyy-mm-dd"
                                   << "-3";
}

void TestSpreadsheetFiles::dateFormats() {
    QFETCH(double, serial);
    QFETCH(QString, code);
    QFETCH(QString, shown);
    QCOMPARE(CellText::dateText(serial, code), shown);
}

void TestSpreadsheetFiles::xlsxCells_data() {
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("shown");
    QTest::newRow("string") << 1 << 1 << "red";
    QTest::newRow("whole number") << 1 << 2 << "3";
    QTest::newRow("fraction") << 1 << 3 << "0.5";
    QTest::newRow("large") << 1 << 4 << "1234567";
    QTest::newRow("negative") << 1 << 5 << "-2.25";
    QTest::newRow("true") << 1 << 6 << "TRUE";
    QTest::newRow("false") << 1 << 7 << "FALSE";
    QTest::newRow("built-in date") << 1 << 8 << "8/31/2021";
    QTest::newRow("custom ISO date") << 1 << 9 << "2021-08-31";
    QTest::newRow("custom long date") << 1 << 10 << "31 August 2021";
    QTest::newRow("date and time") << 1 << 11 << "31/08/2021 14:05";
    QTest::newRow("built-in time") << 1 << 12 << "6:30 PM";
    QTest::newRow("formula result") << 1 << 13 << "3";
    QTest::newRow("rich text joined") << 1 << 14 << "big apple";
    QTest::newRow("scientific") << 1 << 15 << "1E+20";
    QTest::newRow("tab and line break") << 1 << 16 << "tab\there, line\nbreak";
    QTest::newRow("non-Latin text") << 1 << 17 << QString::fromUtf8("caf\xc3\xa9 \xe7\x8c\xab");
    QTest::newRow("empty cell") << 2 << 1 << "";
    QTest::newRow("outside the used range") << 41 << 27 << "";
}

void TestSpreadsheetFiles::xlsxCells() {
    QFETCH(int, row);
    QFETCH(int, column);
    QFETCH(QString, shown);
    QCOMPARE(xlsx.activeSheet.text(row, column), shown);
}

void TestSpreadsheetFiles::xlsxActiveSheetAndUsedRange() {
    QCOMPARE(xlsx.sheetNames, (std::vector<QString>{QStringLiteral("Other"), QStringLiteral("Typed")}));
    QCOMPARE(xlsx.active, 1);
    QCOMPARE(xlsx.activeSheet.name, QStringLiteral("Typed"));
    QCOMPARE(xlsx.activeSheet.lastRow(), 40);
    QCOMPARE(xlsx.activeSheet.lastColumn(), 26);
}

void TestSpreadsheetFiles::odsCells_data() {
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("shown");
    QTest::newRow("compressed spaces") << 1 << 1 << "a   b";
    QTest::newRow("displayed number text") << 1 << 2 << "3.00";
    QTest::newRow("number without text") << 1 << 3 << "0.5";
    QTest::newRow("boolean without text") << 1 << 4 << "TRUE";
    QTest::newRow("date without text") << 1 << 5 << "2021-08-31";
    QTest::newRow("date as displayed") << 1 << 6 << "31/08/21";
    QTest::newRow("time without text") << 1 << 7 << "14:05:00";
    QTest::newRow("paragraphs and spans") << 2 << 1 << "one\ntwo spans";
    QTest::newRow("comment left out") << 2 << 2 << "noted";
    QTest::newRow("repeated cell, first") << 2 << 3 << "x";
    QTest::newRow("repeated cell, last") << 2 << 5 << "x";
    QTest::newRow("covered cell counts") << 2 << 6 << "";
    QTest::newRow("after covered cell") << 2 << 7 << "after covered";
    QTest::newRow("repeated row, first") << 3 << 1 << "twice";
    QTest::newRow("repeated row, second") << 4 << 1 << "twice";
}

void TestSpreadsheetFiles::odsCells() {
    QFETCH(int, row);
    QFETCH(int, column);
    QFETCH(QString, shown);
    QCOMPARE(ods.activeSheet.text(row, column), shown);
}

void TestSpreadsheetFiles::odsActiveTableAndRepeats() {
    QCOMPARE(ods.sheetNames, (std::vector<QString>{QStringLiteral("First"), QStringLiteral("Second")}));
    QCOMPARE(ods.active, 1);
    // The empty rows and cells repeated to the sheet's end are not part of the used range.
    QCOMPARE(ods.activeSheet.lastRow(), 4);
    QCOMPARE(ods.activeSheet.lastColumn(), 7);
}

void TestSpreadsheetFiles::xlsCells() {
    const QString file = path(QStringLiteral("cells.xls"));
    QVERIFY(Fixtures::writeXls(file, {{1, 1, "red"}, {2, 2, QString::fromUtf8("caf\xc3\xa9 \xe7\x8c\xab")}},
                               {{3, 1, 3.0}, {3, 2, 0.5}, {5, 3, 1234567.0}}));
    const Workbook book = WorkbookReader::read(file);
    QCOMPARE(book.sheetNames, std::vector<QString>{QStringLiteral("Words")});
    QCOMPARE(book.activeSheet.text(1, 1), QStringLiteral("red"));
    QCOMPARE(book.activeSheet.text(2, 2), QString::fromUtf8("caf\xc3\xa9 \xe7\x8c\xab"));
    QCOMPARE(book.activeSheet.text(3, 1), QStringLiteral("3"));
    QCOMPARE(book.activeSheet.text(3, 2), QStringLiteral("0.5"));
    QCOMPARE(book.activeSheet.text(5, 3), QStringLiteral("1234567"));
    QCOMPARE(book.activeSheet.lastRow(), 5);
    QCOMPARE(book.activeSheet.lastColumn(), 3);
}

void TestSpreadsheetFiles::csvCells_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<int>("lastRow");
    const QByteArray quoted = "a,\"b, with comma\",\"say \"\"hi\"\"\"\r\n\"two\r\nlines\",3.0\r\n";
    QTest::newRow("plain") << quoted << 1 << 1 << "a" << 2;
    QTest::newRow("quoted comma") << quoted << 1 << 2 << "b, with comma" << 2;
    QTest::newRow("doubled quotes") << quoted << 1 << 3 << "say \"hi\"" << 2;
    QTest::newRow("line break in quotes") << quoted << 2 << 1 << "two\r\nlines" << 2;
    QTest::newRow("number as written") << quoted << 2 << 2 << "3.0" << 2;
    QTest::newRow("byte order mark") << QByteArray("\xEF\xBB\xBFred,apple\n") << 1 << 1 << "red" << 1;
    QTest::newRow("semicolons") << QByteArray("red;apple;1,5\n") << 1 << 3 << "1,5" << 1;
    QTest::newRow("tabs") << QByteArray("red\tapple\n") << 1 << 2 << "apple" << 1;
    QTest::newRow("empty line keeps numbering") << QByteArray("a\n\nb\n") << 3 << 1 << "b" << 3;
    QTest::newRow("Windows code page")
        << QByteArray("caf\xe9\r\n") << 1 << 1 << QString::fromUtf8("caf\xc3\xa9") << 1;
    QTest::newRow("UTF-16") << QByteArray("\xFF\xFEh\0i\0\t\0x\0", 10) << 1 << 2 << "x" << 1;
}

void TestSpreadsheetFiles::csvCells() {
    QFETCH(QByteArray, bytes);
    QFETCH(int, row);
    QFETCH(int, column);
    QFETCH(QString, shown);
    QFETCH(int, lastRow);
    QFile file(path(QStringLiteral("cells.csv")));
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
    file.close();
    const Workbook book = WorkbookReader::read(file.fileName());
    QCOMPARE(book.activeSheet.text(row, column), shown);
    QCOMPARE(book.activeSheet.lastRow(), lastRow);
}

void TestSpreadsheetFiles::unreadableFiles_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("bytes");
    QFile typed(path(QStringLiteral("typed.xlsx")));
    QVERIFY(typed.open(QIODevice::ReadOnly));
    const QByteArray whole = typed.readAll();
    QTest::newRow("text named .xlsx") << "text.xlsx" << QByteArray("just some text\n");
    QTest::newRow("cut-off .xlsx") << "cut.xlsx" << whole.left(whole.size() / 2);
    QByteArray flipped = whole;
    for (qsizetype i = 200; i < flipped.size() - 400; i += 7)
        flipped[i] = static_cast<char>(flipped[i] ^ 0x5A);
    QTest::newRow("damaged .xlsx") << "damaged.xlsx" << flipped;
    QTest::newRow("binary workbook header only")
        << "broken.xls" << (QByteArray::fromHex("D0CF11E0A1B11AE1") + QByteArray(600, '\x01'));
    QTest::newRow("unknown kind") << "picture.xls" << QByteArray("\x89PNG\r\n\x1a\n", 8);
    QTest::newRow("empty file") << "empty.xlsx" << QByteArray();
}

void TestSpreadsheetFiles::unreadableFiles() {
    QFETCH(QString, name);
    QFETCH(QByteArray, bytes);
    QFile file(path(name));
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
    file.close();
    QVERIFY_THROWS_EXCEPTION(AppError, WorkbookReader::read(file.fileName()));
    QVERIFY_THROWS_EXCEPTION(AppError, WorkbookReader::read(path(QStringLiteral("missing.xlsx"))));
}

void TestSpreadsheetFiles::writtenLayout_data() {
    QTest::addColumn<QStringList>("keywords");
    QTest::addColumn<QStringList>("columnA");
    QTest::newRow("header, gap kept")
        << QStringList{"apple", "", "dog"} << QStringList{"Keyword/s", "apple", "", "dog"};
    QTest::newRow("first empty: no header") << QStringList{"", "apple"} << QStringList{"", "", "apple"};
    QTest::newRow("texts stay texts") << QStringList{"=1+1", "007", "1/2", " spaced ", "TRUE"}
                                      << QStringList{"Keyword/s", "=1+1", "007", "1/2", " spaced ", "TRUE"};
    QTest::newRow("characters XML cannot carry")
        << QStringList{QStringLiteral("bell\x07 and _x0041_"), QString::fromUtf8("\xe7\x8c\xab")}
        << QStringList{"Keyword/s", QStringLiteral("bell\x07 and _x0041_"),
                       QString::fromUtf8("\xe7\x8c\xab")};
}

void TestSpreadsheetFiles::writtenLayout() {
    QFETCH(QStringList, keywords);
    QFETCH(QStringList, columnA);
    const QString file = path(QStringLiteral("written.xlsx"));
    WorkbookWriter::writeKeywords(std::vector<QString>(keywords.begin(), keywords.end()),
                                  QStringLiteral("Keyword/s"), file);
    const Workbook book = WorkbookReader::read(file);
    QStringList read;
    for (int r = 1; r <= columnA.size(); ++r)
        read << book.activeSheet.text(r, 1);
    QCOMPARE(read, columnA);
    QCOMPARE(book.activeSheet.lastRow(), static_cast<int>(columnA.size()));
    QCOMPARE(book.activeSheet.lastColumn(), 1);
}

void TestSpreadsheetFiles::writeReplacesWholeOrNothing() {
    QTemporaryDir here;
    const QString file = here.filePath(QStringLiteral("keep.xlsx"));
    WorkbookWriter::writeKeywords({QStringLiteral("old")}, QStringLiteral("Keyword/s"), file);
    QVERIFY(QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));

    // A keyword longer than a cell can hold fails the whole write; the old file stays.
    QVERIFY_THROWS_EXCEPTION(
        AppError, WorkbookWriter::writeKeywords({QStringLiteral("new"), QString(40000, QLatin1Char('x'))},
                                                QStringLiteral("Keyword/s"), file));
    QCOMPARE(WorkbookReader::read(file).activeSheet.text(2, 1), QStringLiteral("old"));

    WorkbookWriter::writeKeywords({QStringLiteral("new")}, QStringLiteral("Keyword/s"), file);
    QCOMPARE(WorkbookReader::read(file).activeSheet.text(2, 1), QStringLiteral("new"));
    QCOMPARE(QFile::permissions(file) & 0x0777, QFile::ReadUser | QFile::WriteUser | QFile::ReadGroup);
    QCOMPARE(QDir(here.path()).entryList(QDir::Files | QDir::Hidden),
             QStringList{QStringLiteral("keep.xlsx")});

    QVERIFY_THROWS_EXCEPTION(AppError,
                             WorkbookWriter::writeKeywords({QStringLiteral("x")}, QStringLiteral("Keyword/s"),
                                                           here.filePath(QStringLiteral("no/such/a.xlsx"))));
}

void TestSpreadsheetFiles::libreOfficeReadsExport() {
    const QString office = QStandardPaths::findExecutable(QStringLiteral("libreoffice"));
    if (office.isEmpty())
        QSKIP("libreoffice is not installed");
    QTemporaryDir here;
    const QString file = here.filePath(QStringLiteral("export.xlsx"));
    WorkbookWriter::writeKeywords({QStringLiteral("apple"), QString(), QStringLiteral("dog")},
                                  QStringLiteral("Keyword/s"), file);
    QProcess convert;
    convert.setProgram(office);
    convert.setArguments(
        {QStringLiteral("-env:UserInstallation=file://") + here.filePath(QStringLiteral("profile")),
         QStringLiteral("--headless"), QStringLiteral("--convert-to"), QStringLiteral("csv"),
         QStringLiteral("--outdir"), here.path(), file});
    convert.start();
    QVERIFY(convert.waitForFinished(120000));
    QFile csv(here.filePath(QStringLiteral("export.csv")));
    QVERIFY(csv.open(QIODevice::ReadOnly));
    const QStringList lines =
        QString::fromUtf8(csv.readAll()).split(QRegularExpression(QStringLiteral("\r?\n")));
    QCOMPARE(lines.mid(0, 4), (QStringList{"Keyword/s", "apple", "", "dog"}));
}

QTEST_GUILESS_MAIN(TestSpreadsheetFiles)
#include "tst_spreadsheet_files.moc"
