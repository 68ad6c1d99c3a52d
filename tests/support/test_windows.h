#pragma once

#include "app/form1.h"

#include <QProxyStyle>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <memory>

class FakePrompts;

// The main window as a returning user starts it: the first-run help already seen and, unless the
// options say otherwise, no visit to the home page.
std::unique_ptr<Form1> startSeenForm1(FakePrompts& prompts, Form1::Options options = {});

// The control of `window` with that object name; the test program stops when there is none.
template <class T> T* child(QWidget* window, const char* name) {
    T* c = window->findChild<T*>(QString::fromLatin1(name));
    if (!c)
        qFatal("no control %s", name);
    return c;
}

// A style that remembers every text a progress bar draws as its label. Set it on the bar
// (bar->setStyle(&recorder)) and keep it alive longer than the bar.
class ProgressLabelRecorder : public QProxyStyle {
public:
    mutable QStringList drawn;
    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override;
};
