#include "base/settings_store.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char* const Organisation = "Kestrelon";
const char* const Application = "Glimmerfetch";
const char* const Group = "Glimmerfetch";

struct Entry {
    const char* key;
    QString (*defaultValue)();
};

// A fresh profile saves into the desktop folder (the user's own name for it, from the XDG user
// folders) when there is one, else into the pictures folder, else into the home folder.
QString defaultFolder() {
    QString folder = QDir::homePath();
    for (const auto location : {QStandardPaths::DesktopLocation, QStandardPaths::PicturesLocation}) {
        const QString path = QStandardPaths::writableLocation(location);
        if (!path.isEmpty() && QFileInfo(path).isDir()) {
            folder = path;
            break;
        }
    }
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    return folder;
}

QString text(const char* s) {
    return QString::fromLatin1(s);
}

// Every key of the program, in the order start-up restores them, with its default.
const Entry Table[] = {
    {"Text1", defaultFolder},                    // save folder
    {"Text2", [] { return text("5"); }},         // pictures per keyword
    {"Text3", [] { return text("1"); }},         // start position of the results
    {"Text4", [] { return text("1"); }},         // file-size threshold
    {"Text5", [] { return text("500"); }},       // width threshold
    {"Text6", [] { return text("500"); }},       // height threshold
    {"Combo1", [] { return text("0"); }},        // file-size comparison: greater / less
    {"Combo2", [] { return text("2"); }},        // file-size unit: MB / KB / Bytes
    {"Combo3", [] { return text("0"); }},        // height comparison: greater / less
    {"Combo4", [] { return text("0"); }},        // width comparison: greater / less
    {"Option1", [] { return text("1"); }},       // file size: "1" all, "2" by size
    {"Option2", [] { return text("3"); }},       // height: "3" all, "4" by height
    {"Option3", [] { return text("5"); }},       // width: "5" all, "6" by width
    {"FirstTime", [] { return text("False"); }}, // "True" once the program has started
    {"LastFolderDot", [] { return QString(); }}, // folder last chosen with the picker
    {"SID", [] { return QString(); }},           // the user's key for the image search service
};

QString groupKey(const QString& key) {
    return QString::fromLatin1(Group) + QLatin1Char('/') + key;
}

std::unique_ptr<QSettings> settings() {
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                       QString::fromLatin1(Organisation), QString::fromLatin1(Application));
}

std::function<void(const QString&)>& reporter() {
    static std::function<void(const QString&)> report = [](const QString& text) {
        qWarning("%s", qPrintable(text));
    };
    return report;
}

bool reported = false;

// One message per session, however many writes fail.
void reportOnce(const QString& text) {
    if (reported)
        return;
    reported = true;
    reporter()(text);
}

QString systemReason(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

// Makes sure the file can be written without following a symbolic link: creates it empty and
// private before anything is written to it (so the key never sits in a file that others can read),
// and mends the mode of a file made by something else. "" when the file is ready; otherwise why
// it must not or cannot be written.
QString preparePrivateFile(const QString& path) {
    const QByteArray name = QFile::encodeName(path);
    struct stat st {};
    if (::lstat(name.constData(), &st) == 0) {
        if (S_ISLNK(st.st_mode))
            return QStringLiteral("it is a symbolic link, and the settings are not written through one");
        if (!S_ISREG(st.st_mode))
            return QStringLiteral("it is not a regular file");
    } else if (errno == ENOENT) {
        const QString folder = QFileInfo(path).absolutePath();
        if (!QDir().mkpath(folder))
            return QStringLiteral("the folder %1 cannot be created").arg(folder);
        const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0 && errno != EEXIST)
            return systemReason(errno);
        if (fd >= 0)
            ::close(fd);
    } else {
        return systemReason(errno);
    }
    const int fd = ::open(name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno == ELOOP
                   ? QStringLiteral("it is a symbolic link, and the settings are not written through one")
                   : systemReason(errno);
    if (::fstat(fd, &st) == 0 && (st.st_mode & 077))
        ::fchmod(fd, 0600);
    ::close(fd);
    return QString();
}

// Why QSettings could not write the file: the system's word for it where one can be had.
QString writeFailure(const QString& path, QSettings::Status status) {
    if (status == QSettings::FormatError)
        return QStringLiteral("the file is not in the settings format");
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_WRONLY | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return systemReason(errno);
    ::close(fd);
    const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath());
    if (::access(folder.constData(), W_OK) != 0)
        return systemReason(errno);
    return QStringLiteral("the file could not be written");
}

QString failureText(const QString& path, const QString& reason) {
    return QStringLiteral("The settings could not be saved to %1: %2.")
        .arg(QDir::toNativeSeparators(path), reason);
}

} // namespace

namespace SettingsStore {

QString defaultFor(const QString& key) {
    for (const Entry& e : Table)
        if (key == QLatin1String(e.key))
            return e.defaultValue();
    return QString();
}

QStringList keys() {
    QStringList result;
    for (const Entry& e : Table)
        result << QString::fromLatin1(e.key);
    return result;
}

QString filePath() {
    return settings()->fileName();
}

bool contains(const QString& key) {
    return settings()->contains(groupKey(key));
}

QString read(const QString& key, const QString& fallback) {
    const QVariant v = settings()->value(groupKey(key));
    return v.isValid() ? v.toString() : fallback;
}

QString read(const QString& key) {
    const QVariant v = settings()->value(groupKey(key));
    return v.isValid() ? v.toString() : defaultFor(key);
}

void write(const QString& key, const QString& value) {
    const std::unique_ptr<QSettings> s = settings();
    const QString path = s->fileName();
    const QString refused = preparePrivateFile(path);
    if (!refused.isEmpty()) {
        reportOnce(failureText(path, refused));
        return;
    }
    s->setValue(groupKey(key), value);
    s->sync();
    if (s->status() != QSettings::NoError) {
        reportOnce(failureText(path, writeFailure(path, s->status())));
        return;
    }
    preparePrivateFile(path);
}

void setFailureReporter(std::function<void(const QString&)> report) {
    if (report)
        reporter() = std::move(report);
    else
        reporter() = [](const QString& text) { qWarning("%s", qPrintable(text)); };
    reported = false;
}

} // namespace SettingsStore
