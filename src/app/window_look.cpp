#include "app/window_look.h"

#include "app/hand_cursor.h"
#include "base/error_report.h"
#include "base/file_routines.h"
#include "base/globals.h"

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStyle>
#include <QWidget>

namespace Main {

namespace {
void paintButtonFace(QWidget* w, const QColor& face) {
    QPalette p = w->palette();
    p.setColor(QPalette::Window, face);
    w->setPalette(p);
    w->setAutoFillBackground(true);
}
} // namespace

void ApplyButtonFaceColours(QWidget* window) {
    const QColor face = QApplication::palette().color(QPalette::Button);
    paintButtonFace(window, face);
    for (QWidget* child : window->findChildren<QWidget*>()) {
        if (qobject_cast<QRadioButton*>(child) || qobject_cast<QCheckBox*>(child) ||
            qobject_cast<QGroupBox*>(child) || qobject_cast<QLabel*>(child))
            paintButtonFace(child, face);
    }
}

void CentreOnScreen(QWidget* window) {
    QScreen* screen = window->screen() ? window->screen() : QApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    window->move(area.center() -
                 QPoint(window->frameGeometry().width() / 2, window->frameGeometry().height() / 2));
}

} // namespace Main

namespace Look {

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

QPushButton* pushButton(QWidget* parent, const char* name, const QString& caption, QRect geometry,
                        double points, QObject* watcher) {
    auto* b = place(new QPushButton(caption, parent), name, geometry, watcher);
    b->setFont(arial(points));
    return b;
}

} // namespace Look

namespace Main {

void LoadCommonLook(ErrorTrap& trap, QWidget* window, HandPointer& hand, const QString& appFolder,
                    bool buttonFaceColours, const std::function<void()>& alsoAtTitle) {
    if (buttonFaceColours)
        trap(100, [&] { ApplyButtonFaceColours(window); });
    trap(102, [&] {
        window->setWindowIcon(QIcon(QStringLiteral(":/glimmerfetch/icon.svg")));
        window->setWindowTitle(Globals::DisplayName);
        if (alsoAtTitle)
            alsoAtTitle();
    });
    bool handFile = false;
    trap(104, [&] { handFile = FileExists(HandCursorPath(appFolder)); });
    if (handFile)
        trap(106, [&] { hand.load(HandCursorPath(appFolder)); });
}

} // namespace Main
