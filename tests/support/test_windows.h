#pragma once

#include "shell/form1.h"

#include <QString>
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
