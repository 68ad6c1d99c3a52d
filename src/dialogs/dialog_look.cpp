#include "dialogs/dialog_look.h"

#include <QWidget>

namespace DialogLook {

int px(int twips) {
    return (twips + 7) / 15;
}

QRect twips(int left, int top, int width, int height) {
    return QRect(px(left), px(top), px(width), px(height));
}

QFont arial(double points) {
    QFont font(QStringLiteral("Arial"));
    font.setPointSizeF(points);
    font.setBold(true);
    return font;
}

void makeFixedWindow(QWidget* window, int widthTwips, int heightTwips) {
    window->setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint |
                           Qt::MSWindowsFixedSizeDialogHint);
    window->setFixedSize(px(widthTwips), px(heightTwips));
    window->setFont(arial(9));
    window->setMouseTracking(true);
}

} // namespace DialogLook
