#include "app/startup.h"

#include "base/conversions.h"
#include "base/settings_store.h"

namespace Main {

bool FirstTime() {
    if (Conversions::ToBool(SettingsStore::read(SettingKey::FirstTime)))
        return false;
    SettingsStore::write(SettingKey::FirstTime, QStringLiteral("True"));
    return true;
}

} // namespace Main
