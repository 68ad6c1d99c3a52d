#include "fetch/folder_pictures.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

qint64 milliseconds(const struct stat& status) {
    return qint64(status.st_mtim.tv_sec) * 1000 + status.st_mtim.tv_nsec / 1000000;
}

// The list of originals, opened without following a link and without waiting on a pipe; -1 when
// it is not a regular file.
int openOriginals(const QString& folder, int flags) {
    const QByteArray path =
        QFile::encodeName(QDir(folder).filePath(QLatin1String(FolderPictures::OriginalsFileName)));
    const int fd = ::open(path.constData(), flags | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0644);
    struct stat status {};
    if (fd >= 0 && (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode))) {
        ::close(fd);
        errno = EINVAL;
        return -1;
    }
    return fd;
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
    readOriginals();
}

void FolderPictures::readOriginals() {
    const int fd = openOriginals(folder_, O_RDONLY);
    if (fd < 0)
        return;
    struct stat status {};
    ::fstat(fd, &status);
    const qint64 start = qMax<qint64>(0, status.st_size - OriginalsReadBytes);
    QByteArray text(status.st_size - start, Qt::Uninitialized);
    const ssize_t got = ::pread(fd, text.data(), size_t(text.size()), start);
    ::close(fd);
    text.truncate(qMax<ssize_t>(0, got));
    if (start > 0)
        text.remove(0, text.indexOf('\n') + 1); // the first line may be cut

    struct Entry {
        Original original;
        qint64 storedSize = -1;
        qint64 storedTime = -1;
    };
    QHash<QString, Entry> byName; // the last entry of a name counts
    qsizetype at = 0;
    while (at < text.size()) {
        qsizetype end = text.indexOf('\n', at);
        if (end < 0)
            end = text.size();
        const QByteArray line = text.mid(at, end - at);
        at = end + 1;
        QList<QByteArray> parts;
        qsizetype from = 0;
        for (int i = 0; i < 4; ++i) {
            const qsizetype space = line.indexOf(' ', from);
            if (space < 0)
                break;
            parts << line.mid(from, space - from);
            from = space + 1;
        }
        if (parts.size() < 4 || from >= line.size() || parts[0].size() != 64)
            continue;
        Entry entry;
        bool sizeOk = false, storedOk = false, timeOk = false;
        entry.original.sha256 = QByteArray::fromHex(parts[0]);
        entry.original.size = parts[1].toLongLong(&sizeOk);
        entry.storedSize = parts[2].toLongLong(&storedOk);
        entry.storedTime = parts[3].toLongLong(&timeOk);
        const QByteArray name = line.mid(from);
        if (sizeOk && storedOk && timeOk && entry.original.known() && !name.contains('/'))
            byName.insert(QFile::decodeName(name), entry); // only names in the folder itself
    }
    // An entry counts while its picture is the one it was written for: a regular file (never a link)
    // of the size and time it had then.
    const QDir folder(folder_);
    for (auto it = byName.cbegin(); it != byName.cend(); ++it) {
        struct stat picture {};
        if (::lstat(QFile::encodeName(folder.filePath(it.key())).constData(), &picture) == 0 &&
            S_ISREG(picture.st_mode) && picture.st_size == it->storedSize &&
            milliseconds(picture) == it->storedTime)
            originals_.insert(it->original.size, it->original.sha256);
    }
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
    for (auto it = originals_.constFind(size); it != originals_.cend() && it.key() == size; ++it) {
        if (own.isEmpty())
            own = wholeHash(download);
        if (!own.isEmpty() && *it == own)
            return true;
    }
    return false;
}

void FolderPictures::add(const QString& kept, const Original& asArrived) {
    if (!listed_)
        return;
    bySize_.insert(QFileInfo(kept).size(), QFileInfo(kept).absoluteFilePath());
    if (asArrived.known())
        originals_.insert(asArrived.size, asArrived.sha256);
}

FolderPictures::Original FolderPictures::originalOf(const QByteArray& bytes) {
    return {bytes.size(), QCryptographicHash::hash(bytes, QCryptographicHash::Sha256)};
}

QString FolderPictures::rememberOriginal(const QString& picture, const Original& asArrived) {
    const QFileInfo info(picture);
    const QByteArray name = QFile::encodeName(info.fileName());
    struct stat status {};
    if (!asArrived.known() || name.isEmpty() || name.contains('\n') || name.contains('\r'))
        return QStringLiteral("no such picture");
    if (::lstat(QFile::encodeName(picture).constData(), &status) != 0 || !S_ISREG(status.st_mode))
        return QStringLiteral("not a regular file");
    const int fd = openOriginals(info.path(), O_WRONLY | O_APPEND | O_CREAT);
    if (fd < 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    QByteArray line = asArrived.sha256.toHex() + ' ' + QByteArray::number(asArrived.size) + ' ' +
                      QByteArray::number(qint64(status.st_size)) + ' ' +
                      QByteArray::number(milliseconds(status)) + ' ' + name + '\n';
    struct stat list {};
    char last = '\n';
    if (::fstat(fd, &list) == 0 && list.st_size > 0 && ::pread(fd, &last, 1, list.st_size - 1) == 1 &&
        last != '\n')
        line.prepend('\n'); // an entry left unfinished (a full disk): ours starts anew
    const ssize_t written = ::write(fd, line.constData(), size_t(line.size()));
    const int error = errno;
    ::close(fd);
    return written == line.size() ? QString()
                                  : QString::fromLocal8Bit(std::strerror(written < 0 ? error : ENOSPC));
}
