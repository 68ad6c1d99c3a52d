#pragma once

class QWidget;

namespace Main {

// Gives the window, and each option button, check box, frame and label on it, the system's
// button-face colour as background; other controls keep theirs.
void ApplyButtonFaceColours(QWidget* window);

// Centres a top-level window on the screen it is on (or the primary screen).
void CentreOnScreen(QWidget* window);

} // namespace Main
