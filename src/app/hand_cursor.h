#pragma once

#include <QCursor>
#include <QPoint>
#include <QString>

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
