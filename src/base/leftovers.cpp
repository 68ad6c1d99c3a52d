#include "base/leftovers.h"

#include <QFile>
#include <QRegularExpression>

#include <cerrno>
#include <climits>
#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Main {

namespace {

qint64 pidFrom(const QRegularExpression& pattern, const QString& name) {
    const QRegularExpressionMatch match = pattern.match(name);
    if (!match.hasMatch())
        return 0;
    bool ok = false;
    const qint64 pid = match.captured(1).toLongLong(&ok);
    return ok && pid > 0 && pid <= INT_MAX ? pid : 0;
}

// An open directory, closed when it goes.
struct Directory {
    DIR* dir = nullptr;
    explicit Directory(int fd) {
        if (fd >= 0 && !(dir = ::fdopendir(fd)))
            ::close(fd);
    }
    ~Directory() {
        if (dir)
            ::closedir(dir);
    }
    Directory(const Directory&) = delete;
    Directory& operator=(const Directory&) = delete;
    int fd() const { return ::dirfd(dir); }
};

bool ownedByMe(const struct stat& st) {
    return st.st_uid == ::geteuid();
}

// Removes the private folder `name` inside `parent`: its files first, then the folder itself.
void removePrivateFolder(int parent, const char* name, const struct stat& seen) {
    Directory folder(::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!folder.dir)
        return;
    struct stat opened {};
    // The folder that was opened must be the one that was looked at.
    if (::fstat(folder.fd(), &opened) != 0 || opened.st_dev != seen.st_dev || opened.st_ino != seen.st_ino)
        return;
    while (const dirent* entry = ::readdir(folder.dir)) {
        const char* inner = entry->d_name;
        if (qstrcmp(inner, ".") == 0 || qstrcmp(inner, "..") == 0)
            continue;
        struct stat st {};
        if (::fstatat(folder.fd(), inner, &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISDIR(st.st_mode))
            ::unlinkat(folder.fd(), inner, 0);
    }
    ::unlinkat(parent, name, AT_REMOVEDIR);
}

enum class Kind { PartialDownload, PrivateFolder };

void removeFrom(const QString& path, Kind kind) {
    if (path.isEmpty())
        return;
    Directory folder(::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder.dir)
        return;
    while (const dirent* entry = ::readdir(folder.dir)) {
        const QString name = QFile::decodeName(entry->d_name);
        const qint64 pid = kind == Kind::PartialDownload ? PartialDownloadPid(name) : PrivateFolderPid(name);
        if (pid == 0 || ProcessRuns(pid))
            continue;
        struct stat st {};
        if (::fstatat(folder.fd(), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !ownedByMe(st))
            continue;
        if (kind == Kind::PartialDownload && S_ISREG(st.st_mode))
            ::unlinkat(folder.fd(), entry->d_name, 0);
        else if (kind == Kind::PrivateFolder && S_ISDIR(st.st_mode))
            removePrivateFolder(folder.fd(), entry->d_name, st);
    }
}

} // namespace

qint64 PartialDownloadPid(const QString& name) {
    static const QRegularExpression pattern(QRegularExpression::anchoredPattern(
        QStringLiteral("\\.glimmerfetch-([1-9][0-9]{0,9})-[0-9a-f]{16}\\.part")));
    return pidFrom(pattern, name);
}

qint64 PrivateFolderPid(const QString& name) {
    static const QRegularExpression pattern(
        QRegularExpression::anchoredPattern(QStringLiteral("glimmerfetch-([1-9][0-9]{0,9})-[A-Za-z0-9]{6}")));
    return pidFrom(pattern, name);
}

bool ProcessRuns(qint64 pid) {
    if (pid <= 0 || pid > INT_MAX)
        return true; // not a process id that can be asked about: count it as running
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

void RemoveLeftovers(const QString& saveFolder, const QString& tempFolder) {
    removeFrom(saveFolder, Kind::PartialDownload);
    removeFrom(tempFolder, Kind::PrivateFolder);
}

} // namespace Main
