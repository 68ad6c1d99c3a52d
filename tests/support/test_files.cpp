#include "test_files.h"

#include "keywords/keyword_list.h"

#include <QFile>
#include <QTest>

QStringList keywordsOf(const KeywordList& list) {
    QStringList result;
    for (int i = 1; i <= list.Count(); ++i)
        result << list.item(i);
    return result;
}

void writeBytes(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

QByteArray readBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}
