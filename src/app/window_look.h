#pragma once

#include <QFont>
#include <QRect>
#include <QString>
#include <QWidget>

#include <functional>

class ErrorTrap;
class HandPointer;
class QObject;
class QPushButton;

// The three windows were designed in twips, in Arial.
namespace Look {

// 15 twips make one pixel at 100 % scale.
int px(int twips);
QRect twips(int left, int top, int width, int height);

// Arial bold at `points` (the Liberation fonts stand in for Arial where it is missing).
QFont arial(double points);

// A fixed-size window with a single border, a title bar and a close box but no minimise or maximise
// box, in Arial bold 9 pt.
void makeFixedWindow(QWidget* window, int widthTwips, int heightTwips);

// Gives a control its object name and designed geometry; with a watcher, the watcher's event filter
// sees the mouse moving over it (the windows' hover rule).
template <class W> W* place(W* control, const char* name, QRect geometry, QObject* watcher = nullptr) {
    control->setObjectName(QString::fromLatin1(name));
    control->setGeometry(geometry);
    if (watcher) {
        control->setMouseTracking(true);
        control->installEventFilter(watcher);
    }
    return control;
}

// A push button of the windows' design: its caption in Arial bold at `points`, placed and watched.
QPushButton* pushButton(QWidget* parent, const char* name, const QString& caption, QRect geometry,
                        double points, QObject* watcher);

} // namespace Look

namespace Main {

// Gives the window, and each option button, check box, frame and label on it, the system's
// button-face colour as background; other controls keep theirs.
void ApplyButtonFaceColours(QWidget* window);

// Centres a top-level window on the screen it is on (or the primary screen).
void CentreOnScreen(QWidget* window);

// The statements every window's load step begins with: 100 gives it the button-face colours (only
// with `buttonFaceColours`; the main window keeps its white and has no statement 100), 102 its icon
// and the program's name as title (and runs `alsoAtTitle`), 104 looks for the hand cursor file in
// `appFolder`, and 106 loads it into `hand` when it is there.
void LoadCommonLook(ErrorTrap& trap, QWidget* window, HandPointer& hand, const QString& appFolder,
                    bool buttonFaceColours, const std::function<void()>& alsoAtTitle = {});

} // namespace Main
