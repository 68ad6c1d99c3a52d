#include "app/desktop_trash.h"

#include "base/file_routines.h"
#include "fetch/download_target.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace DesktopTrash {

namespace {

QString reason(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

bool sameDrive(const QString& a, const QString& b) {
    struct stat sa {
    }, sb{};
    return ::stat(QFile::encodeName(a).constData(), &sa) == 0 &&
           ::stat(QFile::encodeName(b).constData(), &sb) == 0 && sa.st_dev == sb.st_dev;
}

// "cat 1.jpg", then "cat 1.2.jpg", "cat 1.3.jpg", ...
QString candidate(const QFileInfo& file, int n) {
    if (n == 1)
        return file.fileName();
    const QString suffix = file.suffix();
    const QString stem = suffix.isEmpty() ? file.fileName() : file.completeBaseName();
    return stem + QLatin1Char('.') + QString::number(n) +
           (suffix.isEmpty() ? QString() : QLatin1Char('.') + suffix);
}

// The note of a trashed file: its original path percent-encoded, and the local time of deletion.
QByteArray note(const QString& original) {
    return "[Trash Info]\nPath=" + QFile::encodeName(original).toPercentEncoding("/") + "\nDeletionDate=" +
           QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")).toLatin1() + '\n';
}

std::optional<Item> toHomeTrash(const QFileInfo& file, const QString& files, const QString& infos,
                                QString* error) {
    const QString original = file.absoluteFilePath();
    for (int n = 1; n <= 10000; ++n) {
        const QString name = candidate(file, n);
        Item item{original, files + QLatin1Char('/') + name, infos + QLatin1Char('/') + name + ".trashinfo"};
        // The note is made first and exclusively: it reserves the name in the trash.
        const QByteArray infoName = QFile::encodeName(item.info);
        const int fd =
            ::open(infoName.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            *error = reason(errno);
            return std::nullopt;
        }
        const QByteArray text = note(original);
        const bool written = ::write(fd, text.constData(), static_cast<size_t>(text.size())) == text.size();
        ::close(fd);
        const int moved = written ? DownloadTarget::moveNoReplace(original, item.inTrash) : EIO;
        if (moved == 0)
            return item;
        ::unlink(infoName.constData());
        if (moved != EEXIST) {
            *error = reason(moved);
            return std::nullopt;
        }
    }
    *error = reason(EEXIST);
    return std::nullopt;
}

} // namespace

QString homeTrash() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/Trash");
}

std::optional<Item> moveToTrash(const QString& path, QString* error) {
    const QFileInfo file(path);
    if (!file.exists() && !file.isSymLink()) {
        *error = reason(ENOENT);
        return std::nullopt;
    }
    const QString files = homeTrash() + QStringLiteral("/files");
    const QString infos = homeTrash() + QStringLiteral("/info");
    if (!Main::MakePrivateFolders(files) || !Main::MakePrivateFolders(infos)) {
        *error = QStringLiteral("the trash folder %1 cannot be made").arg(homeTrash());
        return std::nullopt;
    }
    if (sameDrive(file.absolutePath(), files))
        return toHomeTrash(file, files, infos, error);
    // On another drive the system's trash of that drive takes it, without copying.
    QString inTrash;
    if (!QFile::moveToTrash(file.absoluteFilePath(), &inTrash)) {
        *error = QStringLiteral("it is on a drive without a trash");
        return std::nullopt;
    }
    const QFileInfo moved(inTrash);
    return Item{file.absoluteFilePath(), moved.absoluteFilePath(),
                moved.absolutePath() + QStringLiteral("/../info/") + moved.fileName() + ".trashinfo"};
}

bool restore(const Item& item, QString* error) {
    const int moved = DownloadTarget::moveNoReplace(item.inTrash, item.original);
    if (moved != 0) {
        *error =
            moved == EEXIST ? QStringLiteral("a file of that name is in the folder again") : reason(moved);
        return false;
    }
    QFile::remove(item.info);
    return true;
}

} // namespace DesktopTrash
