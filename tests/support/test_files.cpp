#include "test_files.h"

#include "keywords/keyword_list.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTest>

#include <unistd.h>

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

SmallDisk::SmallDisk(const QString& folder, int kilobytes)
    : folder_(folder) {
    if (::geteuid() != 0) {
        why_ = QStringLiteral("a small disk needs mounting, which needs root");
        return;
    }
    QDir().mkpath(folder_);
    QProcess mount;
    mount.start(QStringLiteral("mount"),
                {"-t", "tmpfs", "-o", QStringLiteral("size=%1k").arg(kilobytes), "tmpfs", folder_});
    mounted_ = mount.waitForFinished() && mount.exitStatus() == QProcess::NormalExit && mount.exitCode() == 0;
    if (!mounted_)
        why_ = QStringLiteral("a tmpfs could not be mounted: ") +
               QString::fromLocal8Bit(mount.readAllStandardError());
}

SmallDisk::~SmallDisk() {
    if (mounted_)
        QProcess::execute(QStringLiteral("umount"), {QStringLiteral("-l"), folder_});
}

void SmallDisk::fill() {
    QFile filler(folder_ + QStringLiteral("/.filler"));
    QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
    const QByteArray block(512, 'f');
    while (filler.write(block) == block.size()) {
    }
}
