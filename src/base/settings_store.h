#pragma once

#include <QList>
#include <QString>

#include <functional>

// The per-user store of everything the program remembers between runs: short text values under
// organisation "Kestrelon", group "Glimmerfetch". Every key the program uses is listed, with its
// default, in one table (settings_store.cpp); readers ask with the key and never repeat a default.
//
// Writes reach the file at once. The file holds the user's service key, so it is kept readable by
// its owner only.

// Every value the program keeps. The table gives each its name in the file (kept from the first
// version, so files written by any version read the same) and its default.
enum class SettingKey {
    SaveFolder,         // "Text1": the folder pictures are saved into
    PicturesPerKeyword, // "Text2": how many pictures a keyword should get
    StartPosition,      // "Text3": where in the service's results to start
    FileSizeLimit,      // "Text4": the file-size threshold
    WidthLimit,         // "Text5": the width threshold, in pixels
    HeightLimit,        // "Text6": the height threshold, in pixels
    FileSizeComparison, // "Combo1": file-size comparison, 0 greater / 1 less
    FileSizeUnit,       // "Combo2": file-size unit, 0 MB / 1 KB / 2 Bytes
    HeightComparison,   // "Combo3": height comparison, 0 greater / 1 less
    WidthComparison,    // "Combo4": width comparison, 0 greater / 1 less
    FileSizeFilter,     // "Option1": "1" all file sizes, "2" by size
    HeightFilter,       // "Option2": "3" all heights, "4" by height
    WidthFilter,        // "Option3": "5" all widths, "6" by width
    FirstTime,          // "FirstTime": "True" once the program has started
    LastFolder,         // "LastFolderDot": the folder last chosen with the picker
    ApiKey,             // "SID": the user's key for the original image search service
    Source,             // "Source": the image source of a run (Sources::storedName)
    PexelsKey,          // "PexelsKey": the user's Pexels key
    PixabayKey,         // "PixabayKey": the user's Pixabay key
    Credits,            // "Credits": "True" keeps credits.csv in the folder, "False" does not
    Parallel,           // "Parallel": downloads at once, 1 to 8
    Pace,               // "Pace": pauses between downloads, "designed", "short" or "none"
    ShowPictures,       // "ShowPictures": "True" opens the Pictures window when a run keeps a picture
    Licence,            // "Licence": the pictures a run keeps, "any", "commercial", "modify", "nocredit"
    EmbedCredits,       // "EmbedCredits": "True" writes the credits into each kept picture
};

namespace SettingsStore {

// The stored text, or the key's default from the table when the key is absent.
// Reading never creates an entry.
QString read(SettingKey key);

// The stored text, or `fallback` when the key is absent.
QString read(SettingKey key, const QString& fallback);

// True when the key has an entry (empty text included).
bool contains(SettingKey key);

// Stores exactly `value` (an empty text is stored, not deleted) and flushes it to disk. The file
// is never written, created or changed through a symbolic link: a settings file that is a link is
// left alone. A write that fails, or is refused for that reason, is told once per session through
// the failure reporter, with the path and the reason; the program goes on.
void write(SettingKey key, const QString& value);

// Who tells the user that the settings could not be saved (the program shows a message box;
// without one the text goes to the log). Setting it starts a new session of messages.
void setFailureReporter(std::function<void(const QString&)> report);

// The default of a key from the table.
QString defaultFor(SettingKey key);

// The name the key is stored under in the file ("Text1", "SID", ...).
QString storedName(SettingKey key);

// Every key of the table, in the order start-up restores them.
QList<SettingKey> keys();

// The path of the file behind the store on this platform.
QString filePath();

} // namespace SettingsStore
