#include "fetch/run_options.h"

#include "base/conversions.h"
#include "base/error_report.h"
#include "base/settings_store.h"

#include <algorithm>

namespace Download {

RunOptions RunOptions::fromSettings() {
    RunOptions options;
    options.source = Stored::source();
    options.pace = PaceChoices[Stored::paceChoice()].factor;
    options.parallel = Stored::parallel();
    options.credits = Stored::credits();
    options.licence = Stored::licence();
    options.embedCredits = Stored::embedCredits();
    return options;
}

namespace Stored {

Sources::Source source() {
    return Sources::fromStoredName(SettingsStore::read(SettingKey::Source));
}

QString key(Sources::Source source) {
    return Sources::needsKey(source) ? SettingsStore::read(Sources::keySetting(source)) : QString();
}

bool credits() {
    try {
        return Conversions::ToBool(SettingsStore::read(SettingKey::Credits));
    } catch (const AppError&) {
        return true;
    }
}

bool embedCredits() {
    try {
        return Conversions::ToBool(SettingsStore::read(SettingKey::EmbedCredits));
    } catch (const AppError&) {
        return false;
    }
}

Sources::LicenceChoice licence() {
    return Sources::licenceFromStoredName(SettingsStore::read(SettingKey::Licence));
}

int parallel() {
    bool ok = false;
    const int count = SettingsStore::read(SettingKey::Parallel).trimmed().toInt(&ok);
    return ok ? AtOnce(count) : 1;
}

int paceChoice() {
    const QString stored = SettingsStore::read(SettingKey::Pace);
    for (int i = 0; i < int(std::size(PaceChoices)); ++i)
        if (stored == QLatin1String(PaceChoices[i].stored))
            return i;
    return 0;
}

} // namespace Stored

int AtOnce(int count) {
    return std::clamp(count, 1, MostAtOnce);
}

int CountFrom(const QString& text) {
    if (!Conversions::IsNumeric(text))
        return 5;
    return Conversions::ToInt16(Conversions::ToDouble(text));
}

int CapCount(int count) {
    if (count > 50)
        count = 50;
    if (count < 1)
        count = 5;
    return count;
}

int StartFrom(const QString& text) {
    if (!Conversions::IsNumeric(text))
        return 1;
    return Conversions::ToInt16(Conversions::ToDouble(text));
}

int CapStart(int start) {
    if (start > 150)
        start = 150;
    if (start < 1)
        start = 1;
    return start;
}

} // namespace Download
