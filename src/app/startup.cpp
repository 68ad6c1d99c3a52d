#include "app/startup.h"

#include "base/conversions.h"
#include "base/settings_store.h"
#include "fetch/sources/source.h"

namespace Main {

bool FirstTime() {
    if (Conversions::ToBool(SettingsStore::read(SettingKey::FirstTime)))
        return false;
    SettingsStore::write(SettingKey::FirstTime, QStringLiteral("True"));
    return true;
}

void ChooseFirstSource() {
    if (SettingsStore::contains(SettingKey::Source) || !SettingsStore::read(SettingKey::ApiKey).isEmpty())
        return;
    SettingsStore::write(SettingKey::Source, Sources::storedName(Sources::Source::Openverse));
}

} // namespace Main
