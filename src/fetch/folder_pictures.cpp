#include "fetch/folder_pictures.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>

FolderPictures::FolderPictures(QString folder)
    : folder_(std::move(folder)) {}

void FolderPictures::list() {
    listed_ = true;
    // Hidden files are the run's own partial downloads and other programs' files: not pictures.
    const QFileInfoList entries = QDir(folder_).entryInfoList(QDir::Files | QDir::NoSymLinks, QDir::NoSort);
    for (const QFileInfo& entry : entries)
        bySize_.insert(entry.size(), entry.absoluteFilePath());
}

QByteArray FolderPictures::hashOf(const QString& path) {
    const auto known = hashes_.constFind(path);
    if (known != hashes_.cend())
        return *known;
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    const QByteArray digest =
        file.open(QIODevice::ReadOnly) && hash.addData(&file) ? hash.result() : QByteArray();
    ++hashed_;
    hashes_.insert(path, digest);
    return digest;
}

bool FolderPictures::holdsCopyOf(const QString& download) {
    if (!listed_)
        list();
    const qint64 size = QFileInfo(download).size();
    const QString self = QFileInfo(download).absoluteFilePath();
    QByteArray own;
    for (auto it = bySize_.constFind(size); it != bySize_.cend() && it.key() == size; ++it) {
        if (*it == self)
            continue;
        if (own.isEmpty()) {
            QFile file(download);
            QCryptographicHash hash(QCryptographicHash::Sha256);
            if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file))
                return false;
            own = hash.result();
        }
        if (hashOf(*it) == own)
            return true;
    }
    return false;
}

void FolderPictures::add(const QString& kept) {
    if (listed_)
        bySize_.insert(QFileInfo(kept).size(), QFileInfo(kept).absoluteFilePath());
}
