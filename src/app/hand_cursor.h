#pragma once

#include <QCursor>
#include <QPoint>
#include <QString>

class QWidget;

// The optional hand cursor that every window shows over its push buttons: the file "HAND-M.CUR"
// in the program's folder. Without it the windows show the platform's default pointer instead.
namespace Main {

// The path of the hand cursor file in `appFolder` (whether or not it exists).
QString HandCursorPath(const QString& appFolder);

// The hot spot stored in a Windows cursor file; (0, 0) for anything that is not a readable cursor.
QPoint CursorHotSpot(const QString& path);

// The cursor in the file at `path`; throws AppError("Invalid picture") when it cannot be read.
QCursor LoadHandCursor(const QString& path);

} // namespace Main

// The pointer a window shows, by the program's pointer values (Surface::Default 0, Hourglass 11,
// Hand 99), with the hand cursor the window loaded for it.
class HandPointer {
public:
    // Loads the cursor file at `path`; throws AppError("Invalid picture") when it cannot be read,
    // and the hand then shows as the default pointer.
    void load(const QString& path);
    bool loaded() const { return loaded_; }

    // Shows `value` on `window` and remembers it: the hourglass for 11, the hand for 99 (the
    // platform's default pointer without a loaded cursor), the default pointer for anything else.
    void apply(QWidget* window, int value);
    int value() const { return value_; }

private:
    QCursor cursor_;
    bool loaded_ = false;
    int value_ = 0;
};
