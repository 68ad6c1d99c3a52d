#include "fetch/sources/answer_cache.h"

#include "base/file_routines.h"
#include "fetch/limits.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

AnswerCache::AnswerCache(const QString& name, qint64 keepSeconds)
    : folder_(QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
              QStringLiteral("/Kestrelon/Glimmerfetch/") + name)
    , keepSeconds_(keepSeconds) {}

QString AnswerCache::pathFor(const QString& shownAddress) const {
    return folder_ + QLatin1Char('/') +
           QString::fromLatin1(
               QCryptographicHash::hash(shownAddress.toUtf8(), QCryptographicHash::Sha256).toHex()) +
           QStringLiteral(".json");
}

std::optional<QByteArray> AnswerCache::find(const QString& shownAddress) const {
    removeOld();
    const QFileInfo info(pathFor(shownAddress));
    if (!info.isFile() || info.isSymLink() ||
        info.lastModified().secsTo(QDateTime::currentDateTimeUtc()) >= keepSeconds_)
        return std::nullopt;
    QFile file(info.filePath());
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.read(Limits::SearchAnswerBytes);
}

void AnswerCache::keep(const QString& shownAddress, const QByteArray& answer) const {
    if (answer.size() > Limits::SearchAnswerBytes || !QDir().mkpath(folder_))
        return;
    QFile::setPermissions(folder_, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    // Written to a new file and renamed over the old one: a reader sees one answer or the other.
    QSaveFile file(pathFor(shownAddress));
    if (!file.open(QIODevice::WriteOnly))
        return;
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    file.write(answer);
    Main::CommitSaveFile(file); // an answer that does not reach the disk whole is not kept
}

void AnswerCache::removeOld() const {
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const QFileInfoList entries = QDir(folder_).entryInfoList({QStringLiteral("*.json")}, QDir::Files);
    for (const QFileInfo& info : entries)
        if (info.lastModified().secsTo(now) >= keepSeconds_)
            QFile::remove(info.filePath());
}
