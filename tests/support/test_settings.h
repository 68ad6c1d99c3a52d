#pragma once

#include "base/settings_store.h"

#include <QByteArray>
#include <QString>

// Each test program has its own settings folder (XDG_CONFIG_HOME, set by CTest). These helpers
// start a test from an empty store and look at the file behind it.
namespace TestSettings {

// Removes every stored value: the next start is a first start.
void clear();

// The raw text of the settings file ("" when there is none).
QString fileText();

// Stores values as a previous run would have.
void seed(SettingKey key, const QString& value);

} // namespace TestSettings

// Sets an environment variable (HOME, XDG_CONFIG_HOME, ...) for one scope and restores it after; a
// null value unsets it.
class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, const QString& value);
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    QByteArray name_;
    QByteArray saved_;
    bool had_;
};
