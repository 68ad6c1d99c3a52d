#include "fetch/download_target.h"

#include "fetch/limits.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace DownloadTarget {

namespace {

// A path with a NUL in it would be cut short by every system call: such a path names nothing.
bool hasNul(const QString& path) {
    return path.contains(QChar(0));
}

QString systemReason(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

// The longest start of `part` whose UTF-8 form has at most `bytes` bytes, cut between characters.
QString cutToBytes(const QString& part, qsizetype bytes) {
    qsizetype used = 0;
    qsizetype end = 0;
    while (end < part.size()) {
        const bool pair =
            part.at(end).isHighSurrogate() && end + 1 < part.size() && part.at(end + 1).isLowSurrogate();
        const qsizetype length = pair ? 2 : 1;
        const qsizetype size = part.mid(end, length).toUtf8().size();
        if (used + size > bytes)
            break;
        used += size;
        end += length;
    }
    return part.left(end);
}

} // namespace

int moveNoReplace(const QString& from, const QString& to) {
    const QByteArray source = QFile::encodeName(from);
    const QByteArray target = QFile::encodeName(to);
    if (::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        return errno;
    if (::link(source.constData(), target.constData()) != 0)
        return errno;
    ::unlink(source.constData());
    return 0;
}

namespace {

bool standsIn(const QString& candidate, const QString& folder) {
    const QString parent = QFileInfo(QFileInfo(candidate).path()).canonicalFilePath();
    return !parent.isEmpty() && parent == QFileInfo(folder).canonicalFilePath();
}

} // namespace

QString folderPrefix(const QString& folderText) {
    if (folderText.isEmpty() || folderText.endsWith(QLatin1Char('/')))
        return folderText;
    return folderText + QLatin1Char('/');
}

QString folderProblem(const QString& folder) {
    if (folder.isEmpty() || hasNul(folder))
        return systemReason(ENOENT);
    const QByteArray name = QFile::encodeName(folder);
    if (!QFileInfo(folder).isDir())
        return systemReason(QFileInfo::exists(folder) ? ENOTDIR : ENOENT);
    if (::access(name.constData(), W_OK | X_OK) != 0)
        return systemReason(errno);
    return QString();
}

QString namePart(const QString& keyword) {
    QString part = keyword;
    for (QChar& c : part) {
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c.unicode() < 0x20 || c.unicode() == 0x7F)
            c = QLatin1Char('_');
    }
    // A name that starts with a dot is hidden: the pictures of "../x" or ".cat" would not be seen.
    // "." and ".." stay as they are: they name no file of their own (usableNamePart).
    if (part.startsWith(QLatin1Char('.')) && usableNamePart(part))
        part[0] = QLatin1Char('_');
    return part;
}

bool usableNamePart(const QString& part) {
    return !part.isEmpty() && part != QLatin1String(".") && part != QLatin1String("..");
}

QString path(const QString& folder, const QString& part, int number, const QString& extension) {
    const QString suffix = QLatin1Char(' ') + QString::number(number) + QLatin1Char('.') + extension;
    return folder + cutToBytes(part, Limits::FileNameBytes - suffix.toUtf8().size()) + suffix;
}

QString freePath(const QString& folder, const QString& part, int kept, const QString& extension) {
    int number = kept + 1;
    QString candidate = path(folder, part, number, extension);
    while (QFileInfo::exists(candidate) || QFileInfo(candidate).isSymLink())
        candidate = path(folder, part, ++number, extension);
    return candidate;
}

QString createPartial(const QString& folder, QString* error, int* descriptor) {
    for (int tries = 0; tries < 100; ++tries) {
        const QString name = QStringLiteral(".glimmerfetch-%1-%2.part")
                                 .arg(QCoreApplication::applicationPid())
                                 .arg(QRandomGenerator::global()->generate64(), 16, 16, QLatin1Char('0'));
        const QString candidate = QDir(folder).filePath(name);
        if (hasNul(candidate))
            break;
        const int fd = ::open(QFile::encodeName(candidate).constData(),
                              O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0) {
            if (descriptor)
                *descriptor = fd;
            else
                ::close(fd);
            return candidate;
        }
        if (errno != EEXIST) {
            if (error)
                *error = systemReason(errno);
            return QString();
        }
    }
    if (error)
        *error = systemReason(EEXIST);
    return QString();
}

QString openedPath(const QString& path, int descriptor) {
    static const bool offered = QFileInfo(QStringLiteral("/proc/self/fd")).isDir();
    return descriptor >= 0 && offered ? QStringLiteral("/dev/fd/%1").arg(descriptor) : path;
}

bool isSameFile(const QString& path, int descriptor) {
    struct stat named {};
    struct stat opened {};
    return descriptor >= 0 && !hasNul(path) && ::lstat(QFile::encodeName(path).constData(), &named) == 0 &&
           ::fstat(descriptor, &opened) == 0 && S_ISREG(named.st_mode) && named.st_dev == opened.st_dev &&
           named.st_ino == opened.st_ino;
}

void removePartial(const QString& path, int descriptor) {
    if (descriptor < 0) {
        if (!path.isEmpty())
            QFile::remove(path);
        return;
    }
    // A link put in the file's place goes with it (removing a link leaves what it points to alone);
    // another file that took its name is not the run's to remove.
    struct stat named {};
    const QByteArray name = QFile::encodeName(path);
    if (!path.isEmpty() && !hasNul(path) && ::lstat(name.constData(), &named) == 0 &&
        (S_ISLNK(named.st_mode) || isSameFile(path, descriptor)))
        ::unlink(name.constData());
    ::close(descriptor);
}

QString keep(const QString& download, const QString& folder, const QString& part, int kept,
             const QString& extension, int descriptor) {
    if (!usableNamePart(part) || part.contains(QLatin1Char('/')) || hasNul(part) || hasNul(folder))
        return QString();
    int number = kept + 1;
    for (int tries = 0; tries < 100000; ++tries, ++number) {
        const QString candidate = path(folder, part, number, extension);
        if (!standsIn(candidate, folder))
            return QString();
        if (descriptor >= 0 && !isSameFile(download, descriptor))
            return QString();
        const int error = moveNoReplace(download, candidate);
        if (error == 0 && descriptor >= 0 && !isSameFile(candidate, descriptor)) {
            // Swapped between the look and the move: what was moved is not the download.
            ::unlink(QFile::encodeName(candidate).constData());
            return QString();
        }
        if (error == 0)
            return candidate;
        if (error != EEXIST)
            return QString(); // the folder refuses the name: no later number will do better
    }
    return QString();
}

} // namespace DownloadTarget
