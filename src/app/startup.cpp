#include "app/startup.h"

#include "base/conversions.h"
#include "base/settings_store.h"

namespace Main {

bool FirstTime() {
    if (Conversions::ToBool(SettingsStore::read(QStringLiteral("FirstTime"))))
        return false;
    SettingsStore::write(QStringLiteral("FirstTime"), QStringLiteral("True"));
    return true;
}

} // namespace Main
