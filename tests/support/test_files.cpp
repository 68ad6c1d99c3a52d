#include "test_files.h"

#include "keywords/keyword_list.h"

#include <QDir>
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

bool makeHome(const QString& home, const QStringList& folders, const QStringList& files,
              const QString& userDirs) {
    QDir dir(home);
    for (const QString& f : folders)
        if (!dir.mkpath(f))
            return false;
    for (const QString& f : files) {
        QFile file(dir.filePath(f));
        if (!file.open(QIODevice::WriteOnly))
            return false;
    }
    if (!dir.mkpath(".config"))
        return false;
    if (userDirs.isEmpty())
        return true;
    QFile file(dir.filePath(".config/user-dirs.dirs"));
    return file.open(QIODevice::WriteOnly) && file.write(userDirs.toUtf8()) == userDirs.toUtf8().size();
}
