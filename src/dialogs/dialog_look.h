#pragma once

#include <QFont>
#include <QRect>

class QWidget;

// What the two option dialogs share in their look: designed in twips, fixed size, Arial.
namespace DialogLook {

// 15 twips make one pixel at 100 % scale.
int px(int twips);
QRect twips(int left, int top, int width, int height);

// Arial bold at `points` (the Liberation fonts stand in for Arial where it is missing).
QFont arial(double points);

// A fixed-size window with a single border, a title bar and a close box but no minimise or maximise
// box, in Arial bold 9 pt.
void makeFixedWindow(QWidget* window, int widthTwips, int heightTwips);

} // namespace DialogLook
