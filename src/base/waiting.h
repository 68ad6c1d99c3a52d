#pragma once

#include <QObject>

// The program's end, as every wait sees it. Closing the main window (which SIGTERM, SIGINT and
// SIGHUP do too, see ending_signals.h) calls Lifetime::end(): every wait in progress returns at
// once by throwing ProgramEnding, running processes are killed by their owners (they listen to the
// notifier), and the handlers unwind through their traps.
namespace Lifetime {

class Notifier : public QObject {
    Q_OBJECT
signals:
    void ending();
};

Notifier& notifier();
bool ending();
void end();

// Throws ProgramEnding when the program is ending.
void check();

} // namespace Lifetime

namespace Main {

// Returns once `seconds` have passed, processing window events all the while. Zero or less returns
// at once without processing events. Throws ProgramEnding when the program ends meanwhile.
void PauseSeconds(double seconds);

} // namespace Main
