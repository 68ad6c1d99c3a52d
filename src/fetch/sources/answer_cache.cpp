#include "fetch/sources/answer_cache.h"

#include "base/file_routines.h"
#include "fetch/limits.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QStandardPaths>

#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The cache folder, opened without following a link: every file is then reached through it, so a
// link put in the folder's place cannot lead a write or a removal elsewhere.
class Folder {
public:
    explicit Folder(const QString& path)
        : fd_(::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)) {
        struct stat status {};
        // Only a folder of the user's own: another's could be emptied or filled under the program.
        if (fd_ >= 0 && (::fstat(fd_, &status) != 0 || status.st_uid != ::geteuid())) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~Folder() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;

    bool isOpen() const { return fd_ >= 0; }
    int fd() const { return fd_; }

private:
    int fd_;
};

// Whether a kept answer, last written at `modified`, is past its keeping time `now`. A time in the
// future (a clock that was wrong, a file from elsewhere) would keep an answer for ever: it is stale.
bool isStale(const timespec& modified, qint64 keepSeconds, std::time_t now) {
    return modified.tv_sec > now || now - modified.tv_sec >= keepSeconds;
}

} // namespace

AnswerCache::AnswerCache(const QString& name, qint64 keepSeconds)
    : folder_(QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
              QStringLiteral("/Kestrelon/Glimmerfetch/") + name)
    , keepSeconds_(keepSeconds) {}

QString AnswerCache::fileName(const QString& shownAddress) {
    return QString::fromLatin1(
               QCryptographicHash::hash(shownAddress.toUtf8(), QCryptographicHash::Sha256).toHex()) +
           QStringLiteral(".json");
}

std::optional<QByteArray> AnswerCache::find(const QString& shownAddress) const {
    const Folder folder(folder_);
    if (!folder.isOpen())
        return std::nullopt;
    removeOld(folder.fd());
    const int fd = ::openat(folder.fd(), QFile::encodeName(fileName(shownAddress)).constData(),
                            O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    QFile file;
    struct stat status {};
    if (fd < 0 || !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle) ||
        ::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) ||
        isStale(status.st_mtim, keepSeconds_, std::time(nullptr)))
        return std::nullopt;
    return file.read(Limits::SearchAnswerBytes);
}

void AnswerCache::keep(const QString& shownAddress, const QByteArray& answer) const {
    if (answer.size() > Limits::SearchAnswerBytes || !QDir().mkpath(folder_))
        return;
    const Folder folder(folder_);
    if (!folder.isOpen())
        return;
    ::fchmod(folder.fd(), 0700);
    // Written to a new file and renamed over the old name: a reader sees one answer or the other, and
    // a link at the name is replaced, never written through.
    const QByteArray temporary = QStringLiteral(".%1.tmp")
                                     .arg(QRandomGenerator::global()->generate64(), 16, 16, QLatin1Char('0'))
                                     .toLatin1();
    const int fd = ::openat(folder.fd(), temporary.constData(),
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    QFile file;
    if (fd < 0 || !file.open(fd, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle))
        return;
    // An answer that does not reach the disk whole is not kept.
    const bool written = file.write(answer) == answer.size() && file.flush() && ::fsync(fd) == 0;
    file.close();
    if (!written || ::renameat(folder.fd(), temporary.constData(), folder.fd(),
                               QFile::encodeName(fileName(shownAddress)).constData()) != 0)
        ::unlinkat(folder.fd(), temporary.constData(), 0);
}

void AnswerCache::removeOld(int folderFd) const {
    const int listing = ::dup(folderFd);
    DIR* entries = listing >= 0 ? ::fdopendir(listing) : nullptr;
    if (!entries) {
        if (listing >= 0)
            ::close(listing);
        return;
    }
    ::rewinddir(entries);
    const std::time_t now = std::time(nullptr);
    while (const dirent* entry = ::readdir(entries)) {
        const QByteArray name(entry->d_name);
        struct stat status {};
        if (!name.endsWith(".json") ||
            ::fstatat(folderFd, entry->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(status.st_mode))
            continue;
        if (isStale(status.st_mtim, keepSeconds_, now))
            ::unlinkat(folderFd, entry->d_name, 0);
    }
    ::closedir(entries);
}
