#include "fetch/folder_pictures.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

// How much of a file's start tells files of one size apart before they are hashed whole.
constexpr qint64 HeadBytes = 4096;

// A short digest of the file's start: files of one size that start differently differ.
QByteArray readHead(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return QCryptographicHash::hash(file.read(HeadBytes), QCryptographicHash::Md5);
}

QByteArray wholeHash(const QString& path) {
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    return file.open(QIODevice::ReadOnly) && hash.addData(&file) ? hash.result() : QByteArray();
}

} // namespace

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
    ++hashed_;
    return *hashes_.insert(path, wholeHash(path));
}

QByteArray FolderPictures::headOf(const QString& path) {
    const auto known = heads_.constFind(path);
    if (known != heads_.cend())
        return *known;
    return *heads_.insert(path, readHead(path));
}

bool FolderPictures::holdsCopyOf(const QString& download) {
    if (!listed_)
        list();
    const qint64 size = QFileInfo(download).size();
    const QString self = QFileInfo(download).absoluteFilePath();
    const QByteArray head = readHead(download);
    QByteArray own;
    for (auto it = bySize_.constFind(size); it != bySize_.cend() && it.key() == size; ++it) {
        if (*it == self || headOf(*it) != head)
            continue;
        if (own.isEmpty())
            own = wholeHash(download);
        if (!own.isEmpty() && hashOf(*it) == own)
            return true;
    }
    return false;
}

void FolderPictures::add(const QString& kept) {
    if (listed_)
        bySize_.insert(QFileInfo(kept).size(), QFileInfo(kept).absoluteFilePath());
}
