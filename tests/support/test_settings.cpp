#include "test_settings.h"

#include "base/settings_store.h"

#include <QFile>
#include <QSettings>
#include <QTest>

namespace TestSettings {

void clear() {
    const QString home = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (home.isEmpty() || !SettingsStore::filePath().startsWith(home))
        qFatal("tests must run with their own XDG_CONFIG_HOME (ctest sets it)");
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Kestrelon"),
                       QStringLiteral("Glimmerfetch"));
    settings.clear();
    settings.sync();
    QFile::remove(SettingsStore::filePath());
}

QString fileText() {
    QFile file(SettingsStore::filePath());
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.readAll());
}

void seed(SettingKey key, const QString& value) {
    SettingsStore::write(key, value);
}

} // namespace TestSettings

ScopedEnvironment::ScopedEnvironment(const char* name, const QString& value)
    : name_(name)
    , saved_(qgetenv(name))
    , had_(qEnvironmentVariableIsSet(name)) {
    if (value.isNull())
        qunsetenv(name);
    else
        qputenv(name, QFile::encodeName(value));
}

ScopedEnvironment::~ScopedEnvironment() {
    if (had_)
        qputenv(name_.constData(), saved_);
    else
        qunsetenv(name_.constData());
}
