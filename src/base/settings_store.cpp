#include "base/settings_store.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <functional>
#include <iterator>
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
    SettingKey key;
    const char* name;
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

// Every key of the program, in the order start-up restores them (the order of SettingKey), with
// its name in the file and its default.
const Entry Table[] = {
    {SettingKey::SaveFolder, "Text1", defaultFolder},
    {SettingKey::PicturesPerKeyword, "Text2", [] { return text("5"); }},
    {SettingKey::StartPosition, "Text3", [] { return text("1"); }},
    {SettingKey::FileSizeLimit, "Text4", [] { return text("1"); }},
    {SettingKey::WidthLimit, "Text5", [] { return text("500"); }},
    {SettingKey::HeightLimit, "Text6", [] { return text("500"); }},
    {SettingKey::FileSizeComparison, "Combo1", [] { return text("0"); }},
    {SettingKey::FileSizeUnit, "Combo2", [] { return text("2"); }},
    {SettingKey::HeightComparison, "Combo3", [] { return text("0"); }},
    {SettingKey::WidthComparison, "Combo4", [] { return text("0"); }},
    {SettingKey::FileSizeFilter, "Option1", [] { return text("1"); }},
    {SettingKey::HeightFilter, "Option2", [] { return text("3"); }},
    {SettingKey::WidthFilter, "Option3", [] { return text("5"); }},
    {SettingKey::FirstTime, "FirstTime", [] { return text("False"); }},
    {SettingKey::LastFolder, "LastFolderDot", [] { return QString(); }},
    {SettingKey::ApiKey, "SID", [] { return QString(); }},
    {SettingKey::Source, "Source", [] { return text("contextualweb"); }},
    {SettingKey::PexelsKey, "PexelsKey", [] { return QString(); }},
    {SettingKey::PixabayKey, "PixabayKey", [] { return QString(); }},
    {SettingKey::Credits, "Credits", [] { return text("True"); }},
    {SettingKey::Parallel, "Parallel", [] { return text("1"); }},
    {SettingKey::Pace, "Pace", [] { return text("designed"); }},
    {SettingKey::ShowPictures, "ShowPictures", [] { return text("True"); }},
    {SettingKey::Licence, "Licence", [] { return text("any"); }},
    {SettingKey::EmbedCredits, "EmbedCredits", [] { return text("False"); }},
};

constexpr std::size_t KeyCount = static_cast<std::size_t>(SettingKey::EmbedCredits) + 1;
static_assert(std::size(Table) == KeyCount, "every SettingKey has one row in the table");

const Entry& entry(SettingKey key) {
    const Entry& e = Table[static_cast<std::size_t>(key)];
    Q_ASSERT(e.key == key);
    return e;
}

QString groupKey(SettingKey key) {
    return QString::fromLatin1(Group) + QLatin1Char('/') + QString::fromLatin1(entry(key).name);
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

QString defaultFor(SettingKey key) {
    return entry(key).defaultValue();
}

QString storedName(SettingKey key) {
    return QString::fromLatin1(entry(key).name);
}

QList<SettingKey> keys() {
    QList<SettingKey> result;
    for (const Entry& e : Table)
        result << e.key;
    return result;
}

QString filePath() {
    return settings()->fileName();
}

bool contains(SettingKey key) {
    return settings()->contains(groupKey(key));
}

QString read(SettingKey key, const QString& fallback) {
    const QVariant v = settings()->value(groupKey(key));
    return v.isValid() ? v.toString() : fallback;
}

QString read(SettingKey key) {
    const QVariant v = settings()->value(groupKey(key));
    return v.isValid() ? v.toString() : defaultFor(key);
}

void write(SettingKey key, const QString& value) {
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
