#pragma once

#include <QString>

#include <optional>

// The desktop's trash (the freedesktop one): a file moved there keeps a note of where it came from
// and when, so the file manager can show it and put it back, and so can the Pictures window.
namespace DesktopTrash {

// A file in the trash: where it was, where it is now, and its note.
struct Item {
    QString original;
    QString inTrash;
    QString info;
};

// $XDG_DATA_HOME/Trash (usually ~/.local/share/Trash).
QString homeTrash();

// Moves the file to the trash: the home trash when the file is on the same drive (its folders are
// made first, private to the user), else the trash the system keeps on the file's drive. Nothing, and
// the reason in *error, when it could not be moved.
std::optional<Item> moveToTrash(const QString& path, QString* error);

// Puts the file back under its own name, which must be free; the note goes. False, with the reason
// in *error, when the name is taken or the file is no longer in the trash.
bool restore(const Item& item, QString* error);

} // namespace DesktopTrash
