#include "base/waiting.h"

#include "base/error_report.h"

#include <QEventLoop>
#include <QTimer>

#include <cmath>

namespace {
bool programEnding = false;
bool stopRequested = false;
} // namespace

namespace Lifetime {

Notifier& notifier() {
    static Notifier instance;
    return instance;
}

bool ending() {
    return programEnding;
}

void end() {
    if (programEnding)
        return;
    programEnding = true;
    emit notifier().ending();
}

void check() {
    if (programEnding)
        throw ProgramEnding();
}

} // namespace Lifetime

namespace RunStop {

void request() {
    if (stopRequested)
        return;
    stopRequested = true;
    // Every wait listens to the program's notifier; a stop wakes them the same way.
    emit Lifetime::notifier().stopping();
}

void clear() {
    stopRequested = false;
}

bool requested() {
    return stopRequested;
}

} // namespace RunStop

namespace Main {

void PauseSeconds(double seconds) {
    Lifetime::check();
    if (!(seconds > 0) || stopRequested)
        return;
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(&Lifetime::notifier(), &Lifetime::Notifier::ending, &loop, &QEventLoop::quit);
    QObject::connect(&Lifetime::notifier(), &Lifetime::Notifier::stopping, &loop, &QEventLoop::quit);
    deadline.start(static_cast<int>(std::ceil(seconds * 1000.0)));
    loop.exec();
    Lifetime::check();
}

} // namespace Main
