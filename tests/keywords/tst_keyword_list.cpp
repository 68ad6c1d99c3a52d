#include "base/surface.h"
#include "fake_prompts.h"
#include "keywords/keyword_list.h"
#include "keywords/list_commands.h"
#include "test_files.h"

#include <QAbstractItemModelTester>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTest>

#include <algorithm>
#include <functional>
#include <vector>

namespace {

void fill(KeywordList& list, const QStringList& entries) {
    for (const QString& entry : entries)
        list.add(entry);
}

// A surface that remembers every progress value and can act while the routine reports progress
// (as another command would while the window's events are processed).
class WatchedSurface : public SurfaceState {
public:
    void setProgressValue(int value) override {
        SurfaceState::setProgressValue(value);
        values << value;
        if (onProgress)
            onProgress(value);
    }
    QList<int> values;
    std::function<void(int)> onProgress;
};

} // namespace

class TestKeywordList : public QObject {
    Q_OBJECT
private slots:
    void matchesPlainSequence_data();
    void matchesPlainSequence();
    void removeItems_data();
    void removeItems();
    void removalRunsAreSingleUpdates_data();
    void removalRunsAreSingleUpdates();
    void removalSurvivesChangesUnderIt_data();
    void removalSurvivesChangesUnderIt();
};

// Random sequences of every operation against a plain vector: the gap kept open between runs
// must never show through positions, counts, the model's rows or items().
void TestKeywordList::matchesPlainSequence_data() {
    QTest::addColumn<quint32>("seed");
    for (quint32 seed : {1u, 7u, 42u, 2024u, 99991u})
        QTest::newRow(qPrintable(QStringLiteral("seed %1").arg(seed))) << seed;
}

void TestKeywordList::matchesPlainSequence() {
    QFETCH(quint32, seed);
    QRandomGenerator random(seed);
    KeywordList list;
    QAbstractItemModelTester tester(&list, QAbstractItemModelTester::FailureReportingMode::QtTest);
    std::vector<QString> expected;
    int next = 0;
    for (int step = 0; step < 1500; ++step) {
        const int count = static_cast<int>(expected.size());
        switch (random.bounded(10)) {
        case 0:
        case 1: {
            const QString text = QString::number(next++);
            list.add(text);
            expected.push_back(text);
            break;
        }
        case 2: {
            std::vector<QString> batch;
            for (int k = random.bounded(5); k >= 0; --k)
                batch.push_back(QString::number(next++));
            expected.insert(expected.end(), batch.begin(), batch.end());
            list.appendMany(std::move(batch));
            break;
        }
        case 3:
            if (random.bounded(20) == 0) {
                list.clear();
                expected.clear();
            } else {
                // Scattered positions in one pass; repeats and positions past the end are ignored.
                std::vector<int> positions;
                for (int p = 1; p <= count + 2; p += 1 + random.bounded(4)) {
                    positions.push_back(p);
                    if (random.bounded(5) == 0)
                        positions.push_back(p);
                }
                list.removeMany(positions);
                std::vector<QString> left;
                for (int p = 1; p <= count; ++p)
                    if (!std::binary_search(positions.begin(), positions.end(), p))
                        left.push_back(expected[static_cast<size_t>(p - 1)]);
                expected = left;
            }
            break;
        case 4: {
            // Out-of-range positions are ignored.
            const int position = random.bounded(count + 3) - 1;
            list.remove(position);
            if (position >= 1 && position <= count)
                expected.erase(expected.begin() + (position - 1));
            break;
        }
        case 5:
            QCOMPARE(list.items(), expected);
            break;
        default: {
            if (count == 0)
                break;
            const int first = 1 + random.bounded(count);
            const int last = std::min(count, first + random.bounded(4));
            list.removeRun(first, last);
            expected.erase(expected.begin() + (first - 1), expected.begin() + last);
            break;
        }
        }
        QCOMPARE(list.Count(), static_cast<int>(expected.size()));
        QCOMPARE(list.rowCount(), list.Count());
        for (int i = 1; i <= list.Count(); ++i)
            QCOMPARE(list.item(i), expected[static_cast<size_t>(i - 1)]);
    }
    list.compact();
    QCOMPARE(list.items(), expected);
}

void TestKeywordList::removeItems_data() {
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("containing");
    QTest::addColumn<QStringList>("left");
    const QStringList five{"apple", "dog", "Cat", "city", ""};
    QTest::newRow("containing c") << five << "c" << true << QStringList{"apple", "dog", "Cat", ""};
    QTest::newRow("not containing a") << five << "a" << false << QStringList{"apple", "Cat"};
    QTest::newRow("containing nothing listed") << five << "z" << true << five;
    QTest::newRow("not containing nothing listed") << five << "z" << false << QStringList{};
    QTest::newRow("longer than every entry") << five << "applesauce" << true << five;
    QTest::newRow("whole entry") << five << "dog" << true << QStringList{"apple", "Cat", "city", ""};
    QTest::newRow("space") << QStringList{"new york", "paris", " "} << " " << true << QStringList{"paris"};
    QTest::newRow("no wildcards") << QStringList{"a*b", "axb", "a.b"} << "a*" << true
                                  << QStringList{"axb", "a.b"};
    QTest::newRow("duplicates all go")
        << QStringList{"dog", "cat", "dog", "dog"} << "dog" << true << QStringList{"cat"};
    QTest::newRow("accents are exact")
        << QStringList{"café", "cafe", "CAFÉ"} << "é" << true << QStringList{"cafe", "CAFÉ"};
    QTest::newRow("empty list") << QStringList{} << "c" << true << QStringList{};
}

void TestKeywordList::removeItems() {
    QFETCH(QStringList, entries);
    QFETCH(QString, text);
    QFETCH(bool, containing);
    QFETCH(QStringList, left);
    KeywordList list;
    fill(list, entries);
    WatchedSurface surface;
    surface.setProgressValue(37);
    surface.values.clear();
    FakePrompts prompts;
    if (containing)
        List::RemoveItemsWith(list, text, surface, prompts);
    else
        List::RemoveItemsWithout(list, text, surface, prompts);
    QCOMPARE(keywordsOf(list), left);
    QVERIFY(prompts.calls.isEmpty());
    // The bar follows the scan up to 100 and is 0 at the end; an empty list only sets 0.
    QCOMPARE(surface.progressValue(), 0);
    QCOMPARE(surface.values.size() > 1, !entries.isEmpty());
    if (!entries.isEmpty())
        QCOMPARE(surface.values.at(surface.values.size() - 2), 100);
}

// Every run of neighbouring positions leaves in one model update; beyond 5000 runs the whole
// removal is one update.
void TestKeywordList::removalRunsAreSingleUpdates_data() {
    QTest::addColumn<int>("period"); // entries i with i % period >= period / 2 are removed
    QTest::addColumn<int>("entries");
    QTest::addColumn<int>("runUpdates");
    QTest::addColumn<int>("resets");
    QTest::newRow("5000 runs of two") << 4 << 20000 << 5000 << 0;
    QTest::newRow("one long run") << 40000 << 40000 << 1 << 0;
    QTest::newRow("15000 runs of one") << 2 << 30000 << 0 << 1;
}

void TestKeywordList::removalRunsAreSingleUpdates() {
    QFETCH(int, period);
    QFETCH(int, entries);
    QFETCH(int, runUpdates);
    QFETCH(int, resets);
    KeywordList list;
    std::vector<QString> keywords;
    for (int i = 0; i < entries; ++i)
        keywords.push_back(QStringLiteral("%1 %2").arg(i % period < period / 2 ? "keep" : "drop").arg(i));
    list.appendMany(std::move(keywords));
    QSignalSpy removed(&list, &QAbstractItemModel::rowsRemoved);
    QSignalSpy reset(&list, &QAbstractItemModel::modelReset);
    SurfaceState surface;
    FakePrompts prompts;
    List::RemoveItemsWith(list, QStringLiteral("drop"), surface, prompts);
    QCOMPARE(removed.count(), runUpdates);
    QCOMPARE(reset.count(), resets);
    QCOMPARE(list.Count(), entries / 2);
    int expected = 0;
    for (int i = 1; i <= list.Count(); ++i, ++expected) {
        while (expected % period >= period / 2)
            ++expected;
        QCOMPARE(list.item(i), QStringLiteral("keep %1").arg(expected));
    }
}

// Another command may change the list while the removal processes the window's events. Removed
// entries must never be the wrong ones: the routine starts over on the changed list.
void TestKeywordList::removalSurvivesChangesUnderIt_data() {
    QTest::addColumn<QString>("change");
    QTest::addColumn<QStringList>("left");
    QTest::newRow("first entry removed") << "remove first" << QStringList{"b1", "b2", "b3"};
    QTest::newRow("list cleared") << "clear" << QStringList{};
    // Appending moves no position; the entries appended after the scan began are not looked at.
    QTest::newRow("entries appended") << "append" << QStringList{"b0", "b1", "b2", "b3", "a9", "b9"};
}

void TestKeywordList::removalSurvivesChangesUnderIt() {
    QFETCH(QString, change);
    QFETCH(QStringList, left);
    KeywordList list;
    fill(list, {"b0", "a1", "b1", "a2", "b2", "a3", "b3", "a4"});
    WatchedSurface surface;
    bool done = false;
    surface.onProgress = [&](int value) {
        if (done || value < 50)
            return;
        done = true;
        if (change == QLatin1String("remove first"))
            list.remove(1);
        else if (change == QLatin1String("clear"))
            list.clear();
        else {
            list.add(QStringLiteral("a9"));
            list.add(QStringLiteral("b9"));
        }
    };
    FakePrompts prompts;
    List::RemoveItemsWith(list, QStringLiteral("a"), surface, prompts);
    QVERIFY(done);
    QCOMPARE(keywordsOf(list), left);
    QCOMPARE(surface.progressValue(), 0);
    QVERIFY(prompts.calls.isEmpty());
}

QTEST_GUILESS_MAIN(TestKeywordList)
#include "tst_keyword_list.moc"
