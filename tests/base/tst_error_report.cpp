#include "base/conversions.h"
#include "base/error_report.h"
#include "base/globals.h"
#include "base/waiting.h"
#include "build_config.h"
#include "fake_prompts.h"

#include <QElapsedTimer>
#include <QTest>

#include <QTimer>
#include <new>

class TestErrorReport : public QObject {
    Q_OBJECT
private slots:
    void reportText();
    void trapReportsAndGoesOn();
    void trapStopsWhenProgramEnds();
    void isNumeric_data();
    void isNumeric();
    void toInt16_data();
    void toInt16();
    void toBool_data();
    void toBool();
    void applicationTitle_data();
    void applicationTitle();
    void pauseEndsWithTheProgram();
};

void TestErrorReport::reportText() {
    const QString text =
        errorReportText(QStringLiteral("File not found"), QStringLiteral("Form1.PushButton2_Click"), 104);
    QCOMPARE(text, QStringLiteral(
                       "File not found\r\nin Snapquarry2021/08/31.Form1.PushButton2_Click at line 104\r\r"
                       "Please email screenshot of this message to ") +
                       QString::fromLatin1(BuildConfig::SupportEmail));
    QVERIFY(QString::fromLatin1(BuildConfig::SupportEmail).endsWith(QLatin1String(".example")));
}

void TestErrorReport::trapReportsAndGoesOn() {
    FakePrompts prompts;
    ErrorTrap trap(prompts, QStringLiteral("Form1.Form_Load"));
    QStringList ran;
    QVERIFY(trap(100, [&] { ran << "100"; }));
    QVERIFY(!trap(102, [&] { throw AppError(QStringLiteral("Type mismatch")); }));
    QVERIFY(!trap(104, [&] { throw std::runtime_error("Overflow"); }));
    QVERIFY(trap(106, [&] { ran << "106"; }));
    // Memory that runs out is said plainly, never as "std::bad_alloc".
    QVERIFY(!trap(108, [&] { throw std::bad_alloc(); }));
    QCOMPARE(ran, QStringList({"100", "106"}));
    QCOMPARE(prompts.calls.size(), 3);
    QVERIFY(prompts.calls.at(2).text.startsWith(
        QStringLiteral("There is not enough memory to finish this step.\r\nin "
                       "Snapquarry2021/08/31.Form1.Form_Load at line 108")));
    const FakePrompts::Call& first = prompts.calls.at(0);
    QCOMPARE(first.title, QStringLiteral("Application Error"));
    QCOMPARE(first.buttons, Prompts::Buttons::Ok);
    QCOMPARE(first.icon, Prompts::Icon::Exclamation);
    QVERIFY(first.text.startsWith(
        QStringLiteral("Type mismatch\r\nin Snapquarry2021/08/31.Form1.Form_Load at line 102\r\r")));
    QVERIFY(prompts.calls.at(1).text.startsWith(QStringLiteral("Overflow\r\n")));
    QVERIFY(prompts.calls.at(1).text.contains(QStringLiteral(" at line 104\r\r")));
}

void TestErrorReport::trapStopsWhenProgramEnds() {
    FakePrompts prompts;
    ErrorTrap trap(prompts, QStringLiteral("Form1.PushButton2_Click"));
    bool later = false;
    QVERIFY(!trap(100, [&] { throw ProgramEnding(); }));
    QVERIFY(trap.ended());
    QVERIFY(!trap(102, [&] { later = true; }));
    QVERIFY(!later);
    QVERIFY(prompts.calls.isEmpty());
}

void TestErrorReport::isNumeric_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("numeric");
    QTest::addColumn<double>("value");
    QTest::newRow("whole") << "120" << true << 120.0;
    QTest::newRow("fraction") << "2.5" << true << 2.5;
    QTest::newRow("negative") << "-3" << true << -3.0;
    QTest::newRow("blanks around") << " 7 " << true << 7.0;
    QTest::newRow("leading point") << ".5" << true << 0.5;
    QTest::newRow("exponent") << "1e2" << true << 100.0;
    QTest::newRow("empty") << "" << false << 0.0;
    QTest::newRow("letters") << "abc" << false << 0.0;
    QTest::newRow("digits then letters") << "12a" << false << 0.0;
    QTest::newRow("infinity") << "inf" << false << 0.0;
    QTest::newRow("not a number") << "nan" << false << 0.0;
    QTest::newRow("two points") << "1.2.3" << false << 0.0;
}

void TestErrorReport::isNumeric() {
    QFETCH(QString, text);
    QFETCH(bool, numeric);
    QFETCH(double, value);
    QCOMPARE(Conversions::IsNumeric(text), numeric);
    if (numeric)
        QCOMPARE(Conversions::ToDouble(text), value);
    else
        QVERIFY_THROWS_EXCEPTION(AppError, Conversions::ToDouble(text));
}

void TestErrorReport::toInt16_data() {
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("expected");
    QTest::addColumn<bool>("overflow");
    QTest::newRow("half to even down") << 2.5 << 2 << false;
    QTest::newRow("half to even up") << 3.5 << 4 << false;
    QTest::newRow("negative half") << -2.5 << -2 << false;
    QTest::newRow("top") << 32767.0 << 32767 << false;
    QTest::newRow("bottom") << -32768.0 << -32768 << false;
    QTest::newRow("just above rounds over") << 32767.5 << 0 << true;
    QTest::newRow("far above") << 1e9 << 0 << true;
}

void TestErrorReport::toInt16() {
    QFETCH(double, value);
    QFETCH(int, expected);
    QFETCH(bool, overflow);
    if (overflow)
        QVERIFY_THROWS_EXCEPTION(AppError, Conversions::ToInt16(value));
    else
        QCOMPARE(Conversions::ToInt16(value), expected);
}

void TestErrorReport::toBool_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("expected"); // 1 true, 0 false, -1 error
    QTest::newRow("True") << "True" << 1;
    QTest::newRow("true") << "true" << 1;
    QTest::newRow("False") << "False" << 0;
    QTest::newRow("zero") << "0" << 0;
    QTest::newRow("minus one") << "-1" << 1;
    QTest::newRow("word") << "yes" << -1;
    QTest::newRow("empty") << "" << -1;
}

void TestErrorReport::toBool() {
    QFETCH(QString, text);
    QFETCH(int, expected);
    if (expected < 0)
        QVERIFY_THROWS_EXCEPTION(AppError, Conversions::ToBool(text));
    else
        QCOMPARE(Conversions::ToBool(text), expected == 1);
}

void TestErrorReport::applicationTitle_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("title");
    QTest::newRow("the product") << "Glimmerfetch"
                                 << "Glimmerfetch";
    QTest::newRow("exactly 40") << QString(40, QLatin1Char('x')) << QString(40, QLatin1Char('x'));
    QTest::newRow("long name loses words") << "Glimmerfetch the picture downloader by keyword for everyone"
                                           << "Glimmerfetch the picture downloader by";
    QTest::newRow("one long word is cut") << QString(45, QLatin1Char('y')) << QString(40, QLatin1Char('y'));
}

void TestErrorReport::applicationTitle() {
    QFETCH(QString, name);
    QFETCH(QString, title);
    QCOMPARE(Globals::applicationTitleFrom(name), title);
    QVERIFY(Globals::applicationTitleFrom(name).size() <= 40);
}

void TestErrorReport::pauseEndsWithTheProgram() {
    // Last: the program's end is final for this process.
    QElapsedTimer clock;
    clock.start();
    Main::PauseSeconds(0.05);
    QVERIFY(clock.elapsed() >= 50);
    QTimer::singleShot(50, [] { Lifetime::end(); });
    clock.restart();
    QVERIFY_THROWS_EXCEPTION(ProgramEnding, Main::PauseSeconds(30));
    QVERIFY(clock.elapsed() < 10000);
    QVERIFY_THROWS_EXCEPTION(ProgramEnding, Main::PauseSeconds(1));
}

QTEST_GUILESS_MAIN(TestErrorReport)
#include "tst_error_report.moc"
