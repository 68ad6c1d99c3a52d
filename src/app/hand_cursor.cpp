#include "app/hand_cursor.h"

#include "base/error_report.h"
#include "base/surface.h"

#include <QFile>
#include <QPixmap>
#include <QWidget>

namespace Main {

QString HandCursorPath(const QString& appFolder) {
    return appFolder + QStringLiteral("/HAND-M.CUR");
}

// The hot spot of a Windows cursor file sits in its first directory entry (bytes 10 to 13).
QPoint CursorHotSpot(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QPoint(0, 0);
    const QByteArray head = file.read(14);
    if (head.size() < 14 || head.at(2) != 2) // type 2: cursor
        return QPoint(0, 0);
    auto word = [&](int at) {
        return static_cast<unsigned char>(head.at(at)) | (static_cast<unsigned char>(head.at(at + 1)) << 8);
    };
    return QPoint(word(10), word(12));
}

QCursor LoadHandCursor(const QString& path) {
    QPixmap image;
    if (!image.load(path, "CUR") && !image.load(path, "ICO") && !image.load(path))
        throw AppError(QStringLiteral("Invalid picture"));
    const QPoint hot = CursorHotSpot(path);
    return QCursor(image, hot.x(), hot.y());
}

} // namespace Main

void HandPointer::load(const QString& path) {
    cursor_ = Main::LoadHandCursor(path);
    loaded_ = true;
}

void HandPointer::apply(QWidget* window, int value) {
    value_ = value;
    if (value == Surface::Hourglass)
        window->setCursor(Qt::WaitCursor);
    else if (value == Surface::Hand && loaded_)
        window->setCursor(cursor_);
    else
        window->unsetCursor();
}
