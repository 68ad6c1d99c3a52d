#include "shell/settings_store.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

#include <memory>

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

QString text(const char* s) { return QString::fromLatin1(s); }

// Every key of the program, in the order start-up restores them, with its default.
const Entry Table[] = {
    {"Text1", defaultFolder},                   // save folder
    {"Text2", [] { return text("5"); }},        // pictures per keyword
    {"Text3", [] { return text("1"); }},        // start position of the results
    {"Text4", [] { return text("1"); }},        // file-size threshold
    {"Text5", [] { return text("500"); }},      // width threshold
    {"Text6", [] { return text("500"); }},      // height threshold
    {"Combo1", [] { return text("0"); }},       // file-size comparison: greater / less
    {"Combo2", [] { return text("2"); }},       // file-size unit: MB / KB / Bytes
    {"Combo3", [] { return text("0"); }},       // height comparison: greater / less
    {"Combo4", [] { return text("0"); }},       // width comparison: greater / less
    {"Option1", [] { return text("1"); }},      // file size: "1" all, "2" by size
    {"Option2", [] { return text("3"); }},      // height: "3" all, "4" by height
    {"Option3", [] { return text("5"); }},      // width: "5" all, "6" by width
    {"FirstTime", [] { return text("False"); }}, // "True" once the program has started
    {"LastFolderDot", [] { return QString(); }}, // folder last chosen with the picker
    {"SID", [] { return QString(); }},          // the user's key for the image search service
};

QString groupKey(const QString& key) { return QString::fromLatin1(Group) + QLatin1Char('/') + key; }

std::unique_ptr<QSettings> settings() {
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                       QString::fromLatin1(Organisation), QString::fromLatin1(Application));
}

// Creates the file empty and private before anything is written to it, so the key never sits in a
// file that others can read; mends the mode of a file made by something else.
void makePrivate(const QString& path) {
    const QFileDevice::Permissions ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    const QFileDevice::Permissions anyOther = QFileDevice::ReadGroup | QFileDevice::WriteGroup |
                                              QFileDevice::ExeGroup | QFileDevice::ReadOther |
                                              QFileDevice::WriteOther | QFileDevice::ExeOther;
    QFileInfo info(path);
    if (!info.exists()) {
        QDir().mkpath(info.absolutePath());
        QFile file(path);
        if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            file.close();
    }
    if (QFile::permissions(path) & anyOther)
        QFile::setPermissions(path, ownerOnly);
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

QString filePath() { return settings()->fileName(); }

bool contains(const QString& key) { return settings()->contains(groupKey(key)); }

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
    makePrivate(s->fileName());
    s->setValue(groupKey(key), value);
    s->sync();
    makePrivate(s->fileName());
}

} // namespace SettingsStore
