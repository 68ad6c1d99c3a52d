#include "fetch/download_target.h"

#include "shell/file_routines.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

namespace DownloadTarget {

QString path(const QString& folder, const QString& keyword, int number, const QString& extension) {
    return folder + keyword + QLatin1Char(' ') + QString::number(number) + QLatin1Char('.') + extension;
}

QString freePath(const QString& folder, const QString& keyword, int kept, const QString& extension) {
    int number = kept + 1;
    QString candidate = path(folder, keyword, number, extension);
    while (QFileInfo::exists(candidate) || QFileInfo(candidate).isSymLink())
        candidate = path(folder, keyword, ++number, extension);
    return candidate;
}

QString temporaryPath(const QString& target) {
    const QString folder = QFileInfo(target).absolutePath();
    for (;;) {
        const QString name = QStringLiteral(".glimmerfetch-%1-%2.part")
                                 .arg(QCoreApplication::applicationPid())
                                 .arg(QRandomGenerator::global()->generate64(), 16, 16, QLatin1Char('0'));
        const QString candidate = QDir(folder).filePath(name);
        if (!QFileInfo::exists(candidate) && !QFileInfo(candidate).isSymLink())
            return candidate;
    }
}

QString keep(const QString& download, const QString& folder, const QString& keyword, int kept,
             const QString& extension) {
    // QFile::rename never replaces an existing file, so a name taken meanwhile only moves the
    // picture on to the next number.
    int number = kept + 1;
    for (int tries = 0; tries < 100000; ++tries, ++number) {
        const QString candidate = path(folder, keyword, number, extension);
        if (QFileInfo::exists(candidate) || QFileInfo(candidate).isSymLink())
            continue;
        if (QFile::rename(download, candidate))
            return candidate;
        if (!QFileInfo::exists(download))
            return QString();
        if (!QFileInfo::exists(candidate))
            return QString(); // the folder refuses the name: no later number will do better
    }
    return QString();
}

bool usableExtension(const QString& extension) {
    return !extension.isEmpty() && !extension.contains(QLatin1Char('/')) &&
           !extension.contains(QLatin1Char('\\')) && !extension.contains(QChar(0));
}

} // namespace DownloadTarget
