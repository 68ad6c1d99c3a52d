#include "shell/startup.h"

#include "shell/conversions.h"
#include "shell/settings_store.h"

namespace Main {

bool FirstTime() {
    if (Conversions::ToBool(SettingsStore::read(QStringLiteral("FirstTime"))))
        return false;
    SettingsStore::write(QStringLiteral("FirstTime"), QStringLiteral("True"));
    return true;
}

} // namespace Main
