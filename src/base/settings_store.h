#pragma once

#include <QString>
#include <QStringList>

#include <functional>

// The per-user store of everything the program remembers between runs: short text values under
// organisation "Kestrelon", group "Glimmerfetch". Every key the program uses is listed, with its
// default, in one table (settings_store.cpp); readers ask with the key and never repeat a default.
//
// Writes reach the file at once. The file holds the user's service key, so it is kept readable by
// its owner only.
namespace SettingsStore {

// The stored text, or the key's default from the table when the key is absent.
// Reading never creates an entry. An unknown key reads as "" when absent.
QString read(const QString& key);

// The stored text, or `fallback` when the key is absent.
QString read(const QString& key, const QString& fallback);

// True when the key has an entry (empty text included).
bool contains(const QString& key);

// Stores exactly `value` (an empty text is stored, not deleted) and flushes it to disk. The file
// is never written, created or changed through a symbolic link: a settings file that is a link is
// left alone. A write that fails, or is refused for that reason, is told once per session through
// the failure reporter, with the path and the reason; the program goes on.
void write(const QString& key, const QString& value);

// Who tells the user that the settings could not be saved (the program shows a message box;
// without one the text goes to the log). Setting it starts a new session of messages.
void setFailureReporter(std::function<void(const QString&)> report);

// The default of a key from the table ("" for an unknown key).
QString defaultFor(const QString& key);

// Every key of the table, in the order start-up restores them.
QStringList keys();

// The path of the file behind the store on this platform.
QString filePath();

} // namespace SettingsStore
